#include "download/archive_file.h"

#include "base/error.h"
#include "filesystem/atomic_file.h"

#include <QDir>
#include <QFileInfo>

using base::Error;
using filesystem::AtomicFile;

#ifndef _WIN32

#include "base/system_error.h"
#include "filesystem/folder_handle.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

using base::errnoText;
using filesystem::forEachEntry;

namespace {

[[noreturn]] void fail(const QString& what, int code) {
    throw Error(QStringLiteral("%1: %2").arg(what, QString::fromStdString(errnoText(code))).toStdString());
}

QByteArray temporaryPrefix() {
    return '.' + QByteArray(ArchiveFile::archiveName) + AtomicFile::temporaryMarker().toLatin1();
}

bool isTemporaryName(const QByteArray& name) {
    const QByteArray prefix = temporaryPrefix();
    if (!name.startsWith(prefix) || name.size() < prefix.size() + 6)
        return false;
    for (qsizetype i = prefix.size(); i < name.size(); ++i) {
        const char c = name[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
              c == '-'))
            return false;
    }
    return true;
}

// A download holds its temporary file locked while it lives; one that no process holds is a
// killed download's.
void removeLeftovers(int folder) {
    std::vector<QByteArray> names;
    forEachEntry(folder, [&](const QByteArray& name, unsigned char) {
        if (isTemporaryName(name))
            names.push_back(name);
    });
    for (const QByteArray& name : names) {
        const int fd = ::openat(folder, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat status {};
        if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(folder, name.constData(), 0);
        ::close(fd);
    }
}

int openFolder(int at, const char* name) {
    return ::openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

void closeFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

struct ArchiveFile::Impl {
    QString target; // for the messages
    int folder = -1;
    int res = -1;
    int temporaryFolder = -1; // `folder` or `res`, not owned
    int fd = -1;
    QByteArray temporaryName;
    bool committed = false;

    ~Impl() {
        closeFd(fd);
        if (!committed && !temporaryName.isEmpty())
            ::unlinkat(temporaryFolder, temporaryName.constData(), 0);
        closeFd(res);
        closeFd(folder);
    }

    QString writeError() const {
        return QStringLiteral("Не удалось записать архив %1").arg(QDir::toNativeSeparators(target));
    }

    // A new locked temporary file in `at`; its name goes to `name`.
    int create(int at, QByteArray& name) const {
        for (int attempt = 0; attempt < 100; ++attempt) {
            name = temporaryPrefix();
            for (int i = 0; i < 8; ++i)
                name += "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                    [QRandomGenerator::global()->bounded(62)];
            const int created =
                ::openat(at, name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (created >= 0) {
                ::flock(created, LOCK_EX);
                return created;
            }
            if (errno != EEXIST)
                break;
        }
        const int code = errno;
        name.clear();
        fail(writeError(), code);
    }

    // A replaced archive keeps its mode and, where the process may set it, its owner.
    void takeOver(int file) const {
        struct stat old {};
        const bool replaces =
            ::fstatat(res, archiveName, &old, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(old.st_mode);
        if (replaces) {
            [[maybe_unused]] const int ignored = ::fchown(file, old.st_uid, old.st_gid);
        }
        if (::fchmod(file, replaces ? (old.st_mode & 07777) : 0644) != 0)
            fail(writeError(), errno);
    }

    // The folders lie on two file systems: the data is copied into "res" and renamed there.
    void copyIntoRes() {
        QByteArray name;
        const int copy = create(res, name);
        const auto drop = [&](int code) {
            ::close(copy);
            ::unlinkat(res, name.constData(), 0);
            fail(writeError(), code);
        };
        if (::lseek(fd, 0, SEEK_SET) != 0)
            drop(errno);
        std::vector<char> buffer(1 << 20);
        for (;;) {
            const ssize_t got = ::read(fd, buffer.data(), buffer.size());
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                drop(errno);
            if (got == 0)
                break;
            for (ssize_t done = 0; done < got;) {
                const ssize_t put = ::write(copy, buffer.data() + done, size_t(got - done));
                if (put < 0 && errno == EINTR)
                    continue;
                if (put < 0)
                    drop(errno);
                done += put;
            }
        }
        takeOver(copy);
        if (::fsync(copy) != 0)
            drop(errno);
        if (::renameat(res, name.constData(), res, archiveName) != 0)
            drop(errno);
        ::close(copy);
    }
};

ArchiveFile::ArchiveFile(const QString& folder)
    : m(std::make_unique<Impl>()) {
    m->target = folder + QStringLiteral("/res/") + QLatin1String(archiveName);
    m->folder = openFolder(AT_FDCWD, QFile::encodeName(folder).constData());
    if (m->folder < 0)
        fail(QStringLiteral("Не удалось открыть папку %1").arg(QDir::toNativeSeparators(folder)), errno);
    // "res" may lead elsewhere, as the operator set it up.
    m->res = openFolder(m->folder, "res");
    removeLeftovers(m->folder);
    if (m->res >= 0)
        removeLeftovers(m->res);
    m->temporaryFolder = m->res >= 0 ? m->res : m->folder;
    m->fd = m->create(m->temporaryFolder, m->temporaryName);
}

ArchiveFile::~ArchiveFile() = default;

void ArchiveFile::write(const char* data, qint64 size) {
    while (size > 0) {
        const ssize_t n = ::write(m->fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail(m->writeError(), errno);
        data += n;
        size -= n;
    }
}

void ArchiveFile::commit() {
    if (::fsync(m->fd) != 0)
        fail(m->writeError(), errno);
    if (m->res < 0) {
        if (::mkdirat(m->folder, "res", 0777) != 0 && errno != EEXIST)
            fail(QStringLiteral("Не удалось создать папку %1")
                     .arg(QDir::toNativeSeparators(QFileInfo(m->target).path())),
                 errno);
        m->res = openFolder(m->folder, "res");
        if (m->res < 0)
            fail(m->writeError(), errno);
    }
    m->takeOver(m->fd);
    if (::renameat(m->temporaryFolder, m->temporaryName.constData(), m->res, archiveName) == 0) {
        m->committed = true;
    } else {
        if (errno != EXDEV)
            fail(m->writeError(), errno);
        m->copyIntoRes(); // the temporary file goes with the destructor
    }
    ::fsync(m->res);
}

#else

struct ArchiveFile::Impl {
    QString folder;
    std::unique_ptr<AtomicFile> file;
};

ArchiveFile::ArchiveFile(const QString& folder)
    : m(std::make_unique<Impl>()) {
    m->folder = folder;
    const QString res = folder + QStringLiteral("/res");
    const QString target = res + u'/' + QLatin1String(archiveName);
    // A file still open in another download cannot be deleted and stays.
    AtomicFile::removeLeftoversOf(folder + u'/' + QLatin1String(archiveName));
    AtomicFile::removeLeftoversOf(target);
    m->file = std::make_unique<AtomicFile>(target, QFileInfo(res).isDir() ? res : folder);
    m->file->open();
}

ArchiveFile::~ArchiveFile() = default;

void ArchiveFile::write(const char* data, qint64 size) {
    m->file->write(data, size);
}

void ArchiveFile::commit() {
    if (!QFileInfo(m->folder + QStringLiteral("/res")).isDir())
        QDir(m->folder).mkdir(QStringLiteral("res"));
    m->file->commit();
}

#endif
