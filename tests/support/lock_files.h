#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QProcess>
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
