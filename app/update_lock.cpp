#include "app/update_lock.h"

#include <QCryptographicHash>
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
    auto lock = std::make_unique<QLockFile>(updateLockPath(extractionFolder));
    // A lock is stale only when its process has gone, however long an extraction takes.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0))
        return nullptr;
    return lock;
}
