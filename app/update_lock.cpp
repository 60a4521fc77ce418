#include "app/update_lock.h"

#include "platform/abandoned_lock.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>

QString updateLockPath(const QString& extractionFolder) {
    QString lockFolder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (lockFolder.isEmpty() || !QFileInfo(lockFolder).isDir())
        lockFolder = QDir::tempPath();
    const QByteArray key = QDir::cleanPath(QFileInfo(extractionFolder).absoluteFilePath()).toUtf8();
    const QByteArray digest = QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(20);
    return QDir(lockFolder).filePath(QStringLiteral("update_3_7-%1.lock").arg(QString::fromLatin1(digest)));
}

std::unique_ptr<QLockFile> lockUpdateOf(const QString& extractionFolder) {
    const QString path = updateLockPath(extractionFolder);
    auto lock = std::make_unique<QLockFile>(path);
    // A lock is stale only when its process has gone, however long an extraction takes.
    lock->setStaleLockTime(0);
    // An empty lock file names no process: a live updater fills it in at once, a killed one leaves
    // it so, and then it goes once it is old enough to be sure.
    if (!lockPastAbandoned(*lock, QDeadlineTimer(2 * abandonedLockGrace), LiveOwner::Refused))
        return nullptr;
    return lock;
}
