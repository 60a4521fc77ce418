#include "app/update_lock.h"

#include "archive/archive_errors.h"
#include "archive/extraction_transaction.h"
#include "base/error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using archive::ExtractionFault;
using archive::extractionFaultText;
using archive::ExtractionTransaction;
using base::Error;

namespace {

[[noreturn]] void cannotLock(const QString& folder, int code) {
    throw Error(extractionFaultText(ExtractionFault::CannotLock, QDir::toNativeSeparators(folder), code)
                    .toStdString());
}

} // namespace

QString UpdateLock::fileName() {
    return ExtractionTransaction::reservedPrefix() + QStringLiteral("lock");
}

#ifndef _WIN32

std::unique_ptr<UpdateLock> UpdateLock::take(const QString& extractionFolder) {
    if (!QFileInfo(extractionFolder).isDir())
        QDir().mkpath(extractionFolder);
    std::unique_ptr<UpdateLock> lock(new UpdateLock);
    lock->m_folder =
        ::open(QFile::encodeName(extractionFolder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lock->m_folder < 0)
        cannotLock(extractionFolder, errno);
    const QByteArray name = QFile::encodeName(fileName());
    // The file an updater that is just leaving unlinks may be the one opened here: then the lock
    // taken on it holds nothing, and the file now under the name is tried again.
    for (int attempt = 0; attempt < 100; ++attempt) {
        // Read access suffices for the lock, so an updater of another user can take it too.
        const int fd =
            ::openat(lock->m_folder, name.constData(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0)
            cannotLock(extractionFolder, errno);
        // Readable by every user whatever the umask; only its owner can change that, and needs not.
        [[maybe_unused]] const int readable = ::fchmod(fd, 0644);
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int code = errno;
            ::close(fd);
            if (code == EWOULDBLOCK)
                return nullptr;
            cannotLock(extractionFolder, code);
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(fd, &held) == 0 &&
            ::fstatat(lock->m_folder, name.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            lock->m_file = fd;
            return lock;
        }
        ::close(fd);
    }
    cannotLock(extractionFolder, EBUSY);
}

UpdateLock::~UpdateLock() {
    if (m_file >= 0) {
        // Removed while still held, so that no other updater takes a lock on a file that goes.
        ::unlinkat(m_folder, QFile::encodeName(fileName()).constData(), 0);
        ::close(m_file);
    }
    if (m_folder >= 0)
        ::close(m_folder);
}

#else

std::unique_ptr<UpdateLock> UpdateLock::take(const QString& extractionFolder) {
    if (!QFileInfo(extractionFolder).isDir())
        QDir().mkpath(extractionFolder);
    const QString path = QDir::toNativeSeparators(QDir(extractionFolder).filePath(fileName()));
    // Deleted when the last handle closes, also when the process dies.
    HANDLE file = CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        // Windows refuses to open a folder as a file with "access denied": name the real reason.
        if (QFileInfo(path).isDir())
            cannotLock(extractionFolder, EISDIR);
        cannotLock(extractionFolder, code == ERROR_ACCESS_DENIED ? EACCES : EIO);
    }
    OVERLAPPED everything{};
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &everything)) {
        const DWORD code = GetLastError();
        CloseHandle(file);
        if (code == ERROR_LOCK_VIOLATION)
            return nullptr;
        cannotLock(extractionFolder, EIO);
    }
    std::unique_ptr<UpdateLock> lock(new UpdateLock);
    lock->m_handle = file;
    return lock;
}

UpdateLock::~UpdateLock() {
    if (m_handle)
        CloseHandle(HANDLE(m_handle));
}

#endif
