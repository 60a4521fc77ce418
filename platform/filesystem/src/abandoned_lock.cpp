#include "filesystem/abandoned_lock.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QThread>

#include <algorithm>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace filesystem {

namespace {

// QLockFile removes a dead owner's lock under a lock of its own, "<file>.rmlock", and a dead owner of
// that one under "<file>.rmlock.rmlock", and so on; a kill at each level can leave one more file.
// Longer chains than this take more kills at the exact same moments than an update ever sees.
constexpr int companionDepth = 8;

// The lock file and its companions, the deepest last. A companion may outlive the one below it (its
// owner removed that one and was killed), so each is looked for.
QStringList lockChain(const QString& lockPath) {
    QStringList chain;
    QString path = lockPath;
    for (int depth = 0; depth <= companionDepth; ++depth, path += QStringLiteral(".rmlock"))
        chain.append(path);
    return chain;
}

bool isEmptyFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && info.size() == 0;
}

// The lock file and its companions that are abandoned, the deepest first: an empty companion holds
// up the removal of every lock above it. True when any was removed.
bool removeAbandonedLocks(const QString& lockPath) {
    const QStringList chain = lockChain(lockPath);
    bool removed = false;
    for (auto it = chain.crbegin(); it != chain.crend(); ++it)
        removed = removeAbandonedLock(*it) || removed;
    return removed;
}

// True when the lock file or one of its companions is empty: abandoned, or being made this moment.
bool hasEmptyLock(const QString& lockPath) {
    const QStringList chain = lockChain(lockPath);
    return std::any_of(chain.cbegin(), chain.cend(), isEmptyFile);
}

} // namespace

bool lockPastAbandoned(QLockFile& lock, QDeadlineTimer deadline, LiveOwner liveOwner) {
    const QString path = lock.fileName();
    while (!lock.tryLock(0)) {
        if (lock.error() != QLockFile::LockFailedError || deadline.hasExpired())
            return false;
        if (liveOwner == LiveOwner::Refused && !hasEmptyLock(path))
            return false;
        if (!removeAbandonedLocks(path))
            QThread::msleep(50);
    }
    removeAbandonedLocks(path + QStringLiteral(".rmlock"));
    return true;
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

} // namespace filesystem
