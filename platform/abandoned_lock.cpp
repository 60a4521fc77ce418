#include "platform/abandoned_lock.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

QString companionOf(const QString& lockPath) {
    return lockPath + QStringLiteral(".rmlock");
}

bool isEmptyFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && info.size() == 0;
}

} // namespace

bool removeAbandonedLocks(const QString& lockPath, std::chrono::milliseconds grace) {
    const bool companion = removeAbandonedLock(companionOf(lockPath), grace);
    return removeAbandonedLock(lockPath, grace) || companion;
}

bool hasEmptyLock(const QString& lockPath) {
    return isEmptyFile(lockPath) || isEmptyFile(companionOf(lockPath));
}

#ifndef _WIN32

bool removeAbandonedLock(const QString& lockPath, std::chrono::milliseconds grace) {
    const QByteArray name = QFile::encodeName(lockPath);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // Holding the flock keeps out the owner and anyone else removing the file meanwhile; the file
    // must still be the one opened when it is unlinked.
    bool removed = false;
    struct stat opened {};
    struct stat named {};
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &opened) == 0 && opened.st_size == 0 &&
        ::stat(name.constData(), &named) == 0 && named.st_dev == opened.st_dev &&
        named.st_ino == opened.st_ino) {
        const qint64 ageMs = QDateTime::currentMSecsSinceEpoch() -
                             (qint64(opened.st_mtim.tv_sec) * 1000 + opened.st_mtim.tv_nsec / 1000000);
        if (ageMs >= grace.count())
            removed = ::unlink(name.constData()) == 0;
    }
    ::close(fd);
    return removed;
}

#else

// A live owner keeps its lock file open without sharing deletion, so removing it fails.
bool removeAbandonedLock(const QString& lockPath, std::chrono::milliseconds grace) {
    const QFileInfo info(lockPath);
    if (!info.isFile() || info.size() != 0)
        return false;
    if (info.lastModified().msecsTo(QDateTime::currentDateTime()) < grace.count())
        return false;
    return QFile::remove(lockPath);
}

#endif
