#include "platform/atomic_file.h"

#include "platform/error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

[[noreturn]] void fail(const QString& target, const QString& what) {
    throw Error(QStringLiteral("Cannot write %1: %2").arg(QDir::toNativeSeparators(target), what).toStdString());
}

QString systemError(int code) { return QString::fromLocal8Bit(std::strerror(code)); }

} // namespace

QString AtomicFile::temporaryMarker() { return QStringLiteral(".~upd37~"); }

QString AtomicFile::temporaryFolder() const {
    return m_temporaryFolder.isEmpty() ? QFileInfo(m_target).absolutePath() : m_temporaryFolder;
}

#ifndef _WIN32

struct AtomicFile::Impl {
    int fd = -1;
    QByteArray temp;
    bool flushed = false;
    bool committed = false;
    mode_t newMode = 0600;
    bool forceMode = false;
};

AtomicFile::AtomicFile(QString target, QString temporaryFolder)
    : m_target(std::move(target)), m_temporaryFolder(std::move(temporaryFolder)), m(std::make_unique<Impl>()) {}

AtomicFile::~AtomicFile() {
    if (m->fd >= 0)
        ::close(m->fd);
    if (!m->committed && !m->temp.isEmpty())
        ::unlink(m->temp.constData());
}

void AtomicFile::open() {
    const QFileInfo info(m_target);
    m->temp = QFile::encodeName(temporaryFolder() + u'/' + u'.' + info.fileName() + temporaryMarker()) + "XXXXXX";
    m->fd = ::mkostemp(m->temp.data(), O_CLOEXEC);
    if (m->fd < 0) {
        const int code = errno;
        m->temp.clear();
        fail(m_target, systemError(code));
    }
}

void AtomicFile::write(const char* data, qint64 size) {
    while (size > 0) {
        const ssize_t n = ::write(m->fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(m_target, systemError(errno));
        }
        data += n;
        size -= n;
    }
}

void AtomicFile::flush() {
    if (::fsync(m->fd) != 0)
        fail(m_target, systemError(errno));
    m->flushed = true;
}

void AtomicFile::setMode(QFileDevice::Permissions mode, bool forceMode) {
    mode_t bits = 0;
    const std::pair<QFileDevice::Permission, mode_t> map[] = {
        {QFileDevice::ReadOwner, S_IRUSR}, {QFileDevice::WriteOwner, S_IWUSR}, {QFileDevice::ExeOwner, S_IXUSR},
        {QFileDevice::ReadGroup, S_IRGRP}, {QFileDevice::WriteGroup, S_IWGRP}, {QFileDevice::ExeGroup, S_IXGRP},
        {QFileDevice::ReadOther, S_IROTH}, {QFileDevice::WriteOther, S_IWOTH}, {QFileDevice::ExeOther, S_IXOTH},
    };
    for (const auto& [flag, bit] : map)
        if (mode.testFlag(flag))
            bits |= bit;
    m->newMode = bits;
    m->forceMode = forceMode;
}

void AtomicFile::commit() {
    const QByteArray target = QFile::encodeName(m_target);
    struct stat old {};
    const bool replacesFile = ::lstat(target.constData(), &old) == 0 && S_ISREG(old.st_mode);
    const mode_t mode = replacesFile && !m->forceMode ? (old.st_mode & 07777) : m->newMode;
    if (replacesFile && ::fchown(m->fd, old.st_uid, old.st_gid) != 0) {
        // Only root may give a file away; anyone else keeps ownership of what it writes.
    }
    if (::fchmod(m->fd, mode) != 0)
        fail(m_target, systemError(errno));
    if (!m->flushed)
        flush();
    if (::close(m->fd) != 0) {
        m->fd = -1;
        fail(m_target, systemError(errno));
    }
    m->fd = -1;
    if (::rename(m->temp.constData(), target.constData()) != 0)
        fail(m_target, systemError(errno));
    m->committed = true;
    // The rename itself must reach the disk too.
    const int dir = ::open(QFile::encodeName(QFileInfo(m_target).absolutePath()).constData(), O_RDONLY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

#else

struct AtomicFile::Impl {
    QFile file;
    bool flushed = false;
    bool committed = false;
    QFileDevice::Permissions newMode;
    bool forceMode = false;
};

AtomicFile::AtomicFile(QString target, QString temporaryFolder)
    : m_target(std::move(target)), m_temporaryFolder(std::move(temporaryFolder)), m(std::make_unique<Impl>()) {}

AtomicFile::~AtomicFile() {
    if (m->file.isOpen())
        m->file.close();
    if (!m->committed && !m->file.fileName().isEmpty())
        m->file.remove();
}

void AtomicFile::open() {
    const QFileInfo info(m_target);
    for (int attempt = 0;; ++attempt) {
        m->file.setFileName(temporaryFolder() + u'/' + u'.' + info.fileName() + temporaryMarker() +
                            QString::number(GetCurrentProcessId()) + u'-' + QString::number(attempt));
        if (m->file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return;
        if (attempt > 100 || m->file.error() != QFileDevice::OpenError)
            fail(m_target, m->file.errorString());
    }
}

void AtomicFile::write(const char* data, qint64 size) {
    if (m->file.write(data, size) != size)
        fail(m_target, m->file.errorString());
}

void AtomicFile::flush() {
    if (!m->file.flush() || !FlushFileBuffers(HANDLE(_get_osfhandle(m->file.handle()))))
        fail(m_target, m->file.errorString());
    m->flushed = true;
}

void AtomicFile::setMode(QFileDevice::Permissions mode, bool forceMode) {
    m->newMode = mode;
    m->forceMode = forceMode;
}

void AtomicFile::commit() {
    if (!m->flushed)
        flush();
    m->file.close();
    const std::wstring target = QDir::toNativeSeparators(m_target).toStdWString();
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(target.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
    const std::wstring temp = QDir::toNativeSeparators(m->file.fileName()).toStdWString();
    if (!MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        fail(m_target, QStringLiteral("error %1").arg(GetLastError()));
    m->committed = true;
    if (m->forceMode && !m->newMode.testFlag(QFileDevice::WriteOwner))
        SetFileAttributesW(target.c_str(), GetFileAttributesW(target.c_str()) | FILE_ATTRIBUTE_READONLY);
}

#endif

void writeFileAtomically(const QString& path, const QByteArray& bytes, QFileDevice::Permissions newFileMode) {
    AtomicFile file(path);
    file.open();
    file.write(bytes.constData(), bytes.size());
    file.setMode(newFileMode, false);
    file.commit();
}
