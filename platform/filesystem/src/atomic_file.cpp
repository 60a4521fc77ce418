#include "filesystem/atomic_file.h"

#include "base/error.h"
#include "base/system_error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <set>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using base::errnoText;
using base::Error;
#ifdef _WIN32
using base::systemErrorText;
#endif

namespace filesystem {

namespace {

[[noreturn]] void fail(const QString& target, const QString& what) {
    throw Error(QStringLiteral("Не удается записать файл %1: %2")
                    .arg(QDir::toNativeSeparators(target), what)
                    .toStdString());
}

QString folderOf(const QString& path) {
    return QFileInfo(path).absolutePath();
}

// ".<name>.~upd37~<six characters>"
QString leftoverExpression(const QString& name) {
    return QStringLiteral("^\\.") + name + QRegularExpression::escape(AtomicFile::temporaryMarker()) +
           QStringLiteral("[A-Za-z0-9_-]{6,}$");
}

bool removeMatching(const QString& folder, const QRegularExpression& pattern) {
    bool removed = false;
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names)
        if (pattern.match(name).hasMatch())
            removed |= QFile::remove(QDir(folder).filePath(name));
    return removed;
}

} // namespace

QString AtomicFile::temporaryMarker() {
    return QStringLiteral(".~upd37~");
}

QString AtomicFile::temporaryFolder() const {
    return m_temporaryFolder.isEmpty() ? folderOf(m_target) : m_temporaryFolder;
}

bool AtomicFile::removeLeftoversOf(const QString& target) {
    const QFileInfo info(target);
    return removeMatching(info.absolutePath(), QRegularExpression(leftoverExpression(
                                                   QRegularExpression::escape(info.fileName()))));
}

void writeFileAtomically(const QString& path, const QByteArray& bytes, QFileDevice::Permissions newFileMode) {
    AtomicFile file(path);
    file.open();
    file.write(bytes.constData(), bytes.size());
    file.setMode(newFileMode, false);
    file.commit();
}

#ifndef _WIN32

namespace {

QString systemError(int code) {
    return QString::fromStdString(errnoText(code));
}

mode_t modeBits(QFileDevice::Permissions mode) {
    mode_t bits = 0;
    const std::pair<QFileDevice::Permission, mode_t> map[] = {
        {QFileDevice::ReadOwner, S_IRUSR},  {QFileDevice::WriteOwner, S_IWUSR},
        {QFileDevice::ExeOwner, S_IXUSR},   {QFileDevice::ReadGroup, S_IRGRP},
        {QFileDevice::WriteGroup, S_IWGRP}, {QFileDevice::ExeGroup, S_IXGRP},
        {QFileDevice::ReadOther, S_IROTH},  {QFileDevice::WriteOther, S_IWOTH},
        {QFileDevice::ExeOther, S_IXOTH},
    };
    for (const auto& [flag, bit] : map)
        if (mode.testFlag(flag))
            bits |= bit;
    return bits;
}

} // namespace

struct AtomicFile::Impl {
    int fd = -1;
    QByteArray temp;
    bool flushed = false;
    bool committed = false;
    bool modeApplied = false;
    mode_t mode = 0600;
    bool replaceMode = false;
};

AtomicFile::AtomicFile(QString target, QString temporaryFolder)
    : m_target(std::move(target))
    , m_temporaryFolder(std::move(temporaryFolder))
    , m(std::make_unique<Impl>()) {}

AtomicFile::~AtomicFile() {
    if (m->fd >= 0)
        ::close(m->fd);
    if (!m->committed && !m->temp.isEmpty())
        ::unlink(m->temp.constData());
}

void AtomicFile::open() {
    const QFileInfo info(m_target);
    m->temp =
        QFile::encodeName(temporaryFolder() + u'/' + u'.' + info.fileName() + temporaryMarker()) + "XXXXXX";
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

void AtomicFile::setMode(QFileDevice::Permissions mode, bool replaceMode) {
    m->mode = modeBits(mode);
    m->replaceMode = replaceMode;
    // Before open, the mode waits for the commit.
    if (m->fd >= 0)
        applyMode();
}

void AtomicFile::applyMode() {
    const QByteArray target = QFile::encodeName(m_target);
    struct stat old {};
    const bool replacesFile = ::lstat(target.constData(), &old) == 0 && S_ISREG(old.st_mode);
    const mode_t mode = replacesFile && !m->replaceMode ? (old.st_mode & 07777) : m->mode;
    // Only root may give a file away; anyone else keeps what it writes, and that is no error.
    if (replacesFile) {
        [[maybe_unused]] const int ignored = ::fchown(m->fd, old.st_uid, old.st_gid);
    } else if (::geteuid() == 0) {
        struct stat folder {};
        if (::stat(QFile::encodeName(folderOf(m_target)).constData(), &folder) == 0) {
            [[maybe_unused]] const int ignored = ::fchown(m->fd, folder.st_uid, folder.st_gid);
        }
    }
    if (::fchmod(m->fd, mode) != 0)
        fail(m_target, systemError(errno));
    m->modeApplied = true;
}

void AtomicFile::setModificationTime(qint64 secondsSinceEpoch) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(secondsSinceEpoch), 0}};
    if (::futimens(m->fd, times) != 0)
        fail(m_target, systemError(errno));
}

void AtomicFile::flush() {
    if (::fsync(m->fd) != 0)
        fail(m_target, systemError(errno));
    m->flushed = true;
}

void AtomicFile::commit(bool durable) {
    if (!m->modeApplied)
        applyMode();
    if (durable && !m->flushed)
        flush();
    const int fd = m->fd;
    m->fd = -1;
    if (::close(fd) != 0)
        fail(m_target, systemError(errno));
    if (::rename(m->temp.constData(), QFile::encodeName(m_target).constData()) != 0)
        fail(m_target, systemError(errno));
    m->committed = true;
    if (durable)
        flushFolder(folderOf(m_target));
}

void AtomicFile::flushFolder(const QString& folder) {
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

#else

struct AtomicFile::Impl {
    QFile file;
    bool flushed = false;
    bool committed = false;
    bool readOnly = false;
};

AtomicFile::AtomicFile(QString target, QString temporaryFolder)
    : m_target(std::move(target))
    , m_temporaryFolder(std::move(temporaryFolder))
    , m(std::make_unique<Impl>()) {}

AtomicFile::~AtomicFile() {
    if (m->file.isOpen())
        m->file.close();
    if (!m->committed && !m->file.fileName().isEmpty())
        m->file.remove();
}

void AtomicFile::open() {
    const QFileInfo info(m_target);
    for (int attempt = 0;; ++attempt) {
        m->file.setFileName(
            temporaryFolder() + u'/' + u'.' + info.fileName() + temporaryMarker() +
            QStringLiteral("%1%2").arg(GetCurrentProcessId(), 6, 10, QLatin1Char('0')).arg(attempt));
        if (m->file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return;
        if (attempt > 100)
            fail(m_target, m->file.errorString());
    }
}

void AtomicFile::write(const char* data, qint64 size) {
    if (m->file.write(data, size) != size)
        fail(m_target, m->file.errorString());
}

void AtomicFile::setMode(QFileDevice::Permissions mode, bool replaceMode) {
    m->readOnly = replaceMode && !mode.testFlag(QFileDevice::WriteOwner);
}

void AtomicFile::setModificationTime(qint64 secondsSinceEpoch) {
    m->file.flush();
    m->file.setFileTime(QDateTime::fromSecsSinceEpoch(secondsSinceEpoch), QFileDevice::FileModificationTime);
}

void AtomicFile::flush() {
    if (!m->file.flush() || !FlushFileBuffers(HANDLE(_get_osfhandle(m->file.handle()))))
        fail(m_target, m->file.errorString());
    m->flushed = true;
}

void AtomicFile::commit(bool durable) {
    if (durable && !m->flushed)
        flush();
    m->file.close();
    const std::wstring target = QDir::toNativeSeparators(m_target).toStdWString();
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(target.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
    const std::wstring temp = QDir::toNativeSeparators(m->file.fileName()).toStdWString();
    if (!MoveFileExW(temp.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | (durable ? MOVEFILE_WRITE_THROUGH : 0)))
        fail(m_target, QString::fromStdString(systemErrorText(GetLastError())));
    m->committed = true;
    if (m->readOnly)
        SetFileAttributesW(target.c_str(), GetFileAttributesW(target.c_str()) | FILE_ATTRIBUTE_READONLY);
}

void AtomicFile::flushFolder(const QString&) {}

#endif

void AtomicFile::flushTogether(const std::vector<AtomicFile*>& files) {
#ifdef __linux__
    // One flush of each file system instead of one per file.
    std::set<dev_t> done;
    for (AtomicFile* file : files) {
        struct stat st {};
        if (::fstat(file->m->fd, &st) != 0)
            fail(file->m_target, systemError(errno));
        if (done.insert(st.st_dev).second && ::syncfs(file->m->fd) != 0)
            fail(file->m_target, systemError(errno));
        file->m->flushed = true;
    }
#else
    for (AtomicFile* file : files)
        file->flush();
#endif
}

} // namespace filesystem
