#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QSysInfo>

// Lock files as killed processes leave them.

// What a QLockFile writes into its file, for a process of this host that has ended.
inline QByteArray lockOfAnEndedProcess() {
    QProcess process;
    process.start(QStringLiteral("true"), QStringList());
    process.waitForStarted();
    const qint64 pid = process.processId();
    process.waitForFinished();
    return QByteArray::number(pid) + "\nupdate_3_7\n" + QSysInfo::machineHostName().toUtf8() + '\n';
}

// A lock file with `content` (empty: killed before writing itself in), dated `secondsAgo` back.
inline bool leaveLockFile(const QString& path, const QByteArray& content, int secondsAgo) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() &&
           file.setFileTime(QDateTime::currentDateTime().addSecs(-secondsAgo),
                            QFileDevice::FileModificationTime);
}

// The lock at `lockPath` as killed removals leave it, followed by `companions` levels of QLockFile's
// ".rmlock" companion files; every file names an ended process but the deepest, which is empty. With
// `gap` the companions between the lock and the deepest one are gone. All are dated `secondsAgo` back.
// Gives the paths written, or none when one could not be written.
inline QStringList leaveLockChain(const QString& lockPath, int companions, int secondsAgo, bool gap = false) {
    QStringList chain;
    QString path = lockPath;
    for (int level = 0; level <= companions; ++level, path += QStringLiteral(".rmlock")) {
        if (gap && level > 0 && level < companions)
            continue;
        if (!leaveLockFile(path, level == companions ? QByteArray() : lockOfAnEndedProcess(), secondsAgo))
            return {};
        chain.append(path);
    }
    return chain;
}
