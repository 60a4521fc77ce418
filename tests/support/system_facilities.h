#pragma once

// What the tests need of the system where POSIX and Windows differ: each helper has both branches,
// so that a test stays free of #ifdef. What Windows does not have at all (named pipes in the file
// system, devices such as /dev/zero, byte names) the helper reports as missing and the test skips.

#include <QByteArray>
#include <QFile>
#include <QString>

#ifdef Q_OS_WIN
#include <direct.h>
#include <io.h>
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace system_facilities {

// POSIX-only by nature: named pipes, devices, mode bits, owners and byte names.
#ifdef Q_OS_WIN
inline constexpr bool posix = false;
#else
inline constexpr bool posix = true;
#endif

// Whether the test runs as the superuser, whom POSIX permissions do not bind.
inline bool runsAsSuperuser() {
#ifdef Q_OS_WIN
    return false;
#else
    return ::geteuid() == 0;
#endif
}

// Makes a named pipe at `path`; false where the file system has none (Windows).
inline bool makeFifo(const QString& path) {
#ifdef Q_OS_WIN
    Q_UNUSED(path);
    return false;
#else
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
#endif
}

// Makes a folder named by its bytes, with `mode` where the system has modes.
inline bool makeFolderOfBytes(const QByteArray& path, int mode = 0755) {
#ifdef Q_OS_WIN
    Q_UNUSED(mode);
    return ::_mkdir(path.constData()) == 0;
#else
    return ::mkdir(path.constData(), mode_t(mode)) == 0;
#endif
}

// The permission bits of `path` itself (a link is not followed); -1 where the system has none.
inline int modeOf(const QString& path) {
#ifdef Q_OS_WIN
    Q_UNUSED(path);
    return -1;
#else
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
#endif
}

// Gives `path` to the user and group `uid`:`gid`; false where files have no such owners.
inline bool giveAway(const QString& path, int uid, int gid) {
#ifdef Q_OS_WIN
    Q_UNUSED(path);
    Q_UNUSED(uid);
    Q_UNUSED(gid);
    return false;
#else
    return ::chown(QFile::encodeName(path).constData(), uid_t(uid), gid_t(gid)) == 0;
#endif
}

// "uid:gid" of `path` itself; empty where files have no such owners.
inline QString ownerOf(const QString& path) {
#ifdef Q_OS_WIN
    Q_UNUSED(path);
    return {};
#else
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return QStringLiteral("%1:%2").arg(st.st_uid).arg(st.st_gid);
#endif
}

// Gives `target` a second name `link` on the same volume.
inline bool makeHardLink(const QString& target, const QString& link) {
#ifdef Q_OS_WIN
    return ::CreateHardLinkW(reinterpret_cast<const wchar_t*>(link.utf16()),
                             reinterpret_cast<const wchar_t*>(target.utf16()), nullptr) != 0;
#else
    return ::link(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) == 0;
#endif
}

// The name of `path` as SQLite's C API takes it: UTF-8 on Windows, the local encoding elsewhere.
inline QByteArray sqliteName(const QString& path) {
#ifdef Q_OS_WIN
    return path.toUtf8();
#else
    return QFile::encodeName(path);
#endif
}

// Takes an exclusive lock on the open `file` without waiting, as a live writer holds its lock file.
inline bool lockExclusively(const QFile& file) {
#ifdef Q_OS_WIN
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(file.handle()));
    OVERLAPPED whole{};
    return ::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD,
                        &whole) != 0;
#else
    return ::flock(file.handle(), LOCK_EX | LOCK_NB) == 0;
#endif
}

} // namespace system_facilities

// Skips the current test (or data row) on Windows, where the case cannot exist.
#define SKIP_UNLESS_POSIX(reason)                                                                            \
    do {                                                                                                     \
        if (!system_facilities::posix)                                                                       \
            QSKIP(reason);                                                                                   \
    } while (false)
