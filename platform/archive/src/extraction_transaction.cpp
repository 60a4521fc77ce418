#include "archive/extraction_transaction.h"

#include "filesystem/folder_handle.h"

#include "archive/archive_errors.h"
#include "base/error.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <list>
#include <utility>

#include <cerrno>

#ifdef _WIN32
#include "native/folder_handle_windows.h"

#include <io.h>
#include <windows.h>
#else
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using base::Error;
#ifndef _WIN32
using filesystem::forEachEntry;
#endif

namespace archive {

namespace {

constexpr char journalName[] = "journal";
constexpr char committedName[] = "committed";
constexpr char journalHeader[] = "update_3_7 journal 1";

[[noreturn]] void fault(ExtractionFault kind, const QString& subject, int code = 0) {
    throw Error(extractionFaultText(kind, subject, code).toStdString());
}

QString parentOf(const QString& path) {
    const qsizetype cut = path.lastIndexOf(u'/');
    return cut < 0 ? QString() : path.left(cut);
}

QByteArray stagedName(std::size_t k) {
    return 'n' + QByteArray::number(quint64(k));
}

QByteArray asideName(std::size_t k) {
    return 'o' + QByteArray::number(quint64(k));
}

// One step of the commit, as the journal records it.
struct Step {
    bool folder = false; // a folder to create; otherwise a file to put in place
    std::size_t k = 0;   // the item whose staged file it is
    bool replaces = false;
    QString path;
    bool readOnly = false; // the replaced file had the read-only attribute (Windows)
};

QByteArray journalOf(const std::vector<Step>& steps) {
    QByteArray text = QByteArray(journalHeader) + '\n';
    for (const Step& step : steps) {
        if (step.folder)
            text += "D\t" + step.path.toUtf8() + '\n';
        else
            text += "F\t" + QByteArray::number(quint64(step.k)) + '\t' +
                    (step.readOnly   ? "r"
                     : step.replaces ? "o"
                                     : "n") +
                    '\t' + step.path.toUtf8() + '\n';
    }
    return text + "E\n";
}

// The steps of a journal, or none with `complete` false when it was cut short.
std::vector<Step> stepsOf(const QByteArray& journal, bool& complete) {
    std::vector<Step> steps;
    complete = false;
    const QList<QByteArray> lines = journal.split('\n');
    if (lines.isEmpty() || lines.first() != journalHeader)
        return {};
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines[i].split('\t');
        if (fields.size() == 1 && fields[0] == "E") {
            complete = true;
            return steps;
        }
        Step step;
        if (fields.size() == 2 && fields[0] == "D") {
            step.folder = true;
            step.path = QString::fromUtf8(fields[1]);
        } else if (fields.size() == 4 && fields[0] == "F") {
            bool ok = false;
            step.k = std::size_t(fields[1].toULongLong(&ok));
            step.replaces = fields[2] == "o" || fields[2] == "r";
            step.readOnly = fields[2] == "r";
            step.path = QString::fromUtf8(fields[3]);
            if (!ok)
                return {};
        } else {
            return {};
        }
        steps.push_back(step);
    }
    return {};
}

} // namespace

QString ExtractionTransaction::reservedPrefix() {
    return QStringLiteral(".update_3_7.");
}

QString ExtractionTransaction::stagingFolderName() {
    return reservedPrefix() + QStringLiteral("staging");
}

#ifndef _WIN32

namespace {

class Fd {
public:
    explicit Fd(int fd = -1)
        : m_fd(fd) {}
    Fd(Fd&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    ~Fd() { reset(); }
    int get() const { return m_fd; }
    void reset(int fd = -1) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

QByteArray encoded(const QString& name) {
    return QFile::encodeName(name);
}

QString nameOf(const QString& path) {
    return path.mid(path.lastIndexOf(u'/') + 1);
}

// A folder below `parent`, never through a link; -1 with errno set otherwise.
int openChildFolder(int parent, const QByteArray& name) {
    int fd = ::openat(parent, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    // A folder that may be passed through but not listed still leads to its entries.
    if (fd < 0 && errno == EACCES)
        fd = ::openat(parent, name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISDIR(status.st_mode)) {
        ::close(fd);
        errno = ELOOP;
        return -1;
    }
    return fd;
}

// The folders below the extraction folder, opened from it one level at a time and kept open a few
// at a time, so that the descriptors stay few whatever the archive.
class Folders {
public:
    static constexpr std::size_t kept = 16;

    explicit Folders(int root)
        : m_root(root) {}

    // The folder at `path` ("" for the extraction folder); -1 with errno set when it cannot be opened.
    int get(const QString& path) {
        if (path.isEmpty())
            return m_root;
        for (auto it = m_open.begin(); it != m_open.end(); ++it) {
            if (it->first == path) {
                m_open.splice(m_open.begin(), m_open, it);
                return m_open.front().second.get();
            }
        }
        const int parent = get(parentOf(path));
        if (parent < 0)
            return -1;
        Fd fd(openChildFolder(parent, encoded(nameOf(path))));
        if (fd.get() < 0)
            return -1;
        m_open.emplace_front(path, std::move(fd));
        if (m_open.size() > kept)
            m_open.pop_back();
        return m_open.front().second.get();
    }

    // Forgets folders that were removed or may have been.
    void forget() { m_open.clear(); }

private:
    int m_root;
    std::list<std::pair<QString, Fd>> m_open;
};

bool exists(int folder, const QByteArray& name) {
    struct stat status {};
    return ::fstatat(folder, name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0;
}

// The names in an open folder.
QList<QByteArray> namesIn(int folder) {
    QList<QByteArray> names;
    forEachEntry(folder, [&](const QByteArray& name, unsigned char) { names.append(name); });
    return names;
}

void flushFolder(int fd) {
    // A folder opened only for passing through cannot be flushed; its changes reach the disk with
    // the file system's next flush.
    ::fsync(fd);
}

// Removes the staging folder: first what it holds, the journal and then the commit mark last, so
// that a kill in between never leaves a journal without its mark after a commit. True when it went.
bool removeStaging(int root, Fd& staging) {
    const QString name = ExtractionTransaction::stagingFolderName();
    bool removed = true;
    for (const QByteArray& entry : namesIn(staging.get()))
        if (entry != journalName && entry != committedName &&
            ::unlinkat(staging.get(), entry.constData(), 0) != 0)
            removed = false;
    if (!removed)
        return false;
    for (const char* last : {journalName, committedName})
        if (::unlinkat(staging.get(), last, 0) != 0 && errno != ENOENT)
            return false;
    staging.reset();
    return ::unlinkat(root, encoded(name).constData(), AT_REMOVEDIR) == 0 || errno == ENOENT;
}

// Undoes the steps as far as they went, the last first: an old file set aside comes back, a new
// file that replaced nothing goes, a created folder goes when it is empty. The state of each step
// shows on disk (its staged file still there, its old file aside), so undoing twice does no harm.
// Returns the errno of the first step that could not be undone, or 0.
int undo(Folders& folders, int staging, const std::vector<Step>& steps, bool durable) {
    int failure = 0;
    QSet<QString> touched;
    for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
        const Step& step = *it;
        const QString parent = parentOf(step.path);
        const QByteArray name = encoded(nameOf(step.path));
        if (step.folder) {
            const int at = folders.get(parent);
            if (at >= 0 && ::unlinkat(at, name.constData(), AT_REMOVEDIR) != 0 && errno != ENOENT &&
                errno != ENOTEMPTY && failure == 0)
                failure = errno;
            folders.forget();
            touched.insert(parent);
            continue;
        }
        const bool placed = !exists(staging, stagedName(step.k));
        const bool aside = step.replaces && exists(staging, asideName(step.k));
        if (!aside && (step.replaces || !placed))
            continue;
        const int at = folders.get(parent);
        if (at < 0) {
            if (failure == 0)
                failure = errno;
            continue;
        }
        const int done = aside ? ::renameat(staging, asideName(step.k).constData(), at, name.constData())
                               : ::unlinkat(at, name.constData(), 0);
        if (done != 0 && !(errno == ENOENT && !aside) && failure == 0)
            failure = errno;
        touched.insert(parent);
    }
    if (durable) {
        for (const QString& folder : touched)
            if (const int fd = folders.get(folder); fd >= 0)
                flushFolder(fd);
    }
    return failure;
}

QByteArray readAll(int folder, const char* name) {
    Fd fd(::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    QByteArray bytes;
    if (fd.get() < 0)
        return bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        bytes.append(buffer, n);
    }
    return bytes;
}

void writeAll(int fd, const QByteArray& bytes, const QString& shown) {
    const char* data = bytes.constData();
    std::size_t left = std::size_t(bytes.size());
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fault(ExtractionFault::CannotWriteFile, shown, errno);
        }
        data += n;
        left -= std::size_t(n);
    }
}

class FileWriter final : public ExtractionTransaction::Writer {
public:
    FileWriter(int fd, const QString& shown)
        : m_fd(fd)
        , m_shown(shown) {}
    void write(const char* data, std::size_t size) override {
        const char* p = data;
        std::size_t left = size;
        while (left > 0) {
            const ssize_t n = ::write(m_fd, p, left);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                fault(ExtractionFault::CannotWriteFile, m_shown, errno);
            }
            p += n;
            left -= std::size_t(n);
        }
    }

private:
    int m_fd;
    const QString& m_shown;
};

int openRoot(const QString& folder) {
    return ::open(encoded(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

} // namespace

struct ExtractionTransaction::Impl {
    QString folder; // as the caller gave it
    bool durable = true;
    Fd root;
    Fd staging;
    std::vector<Item> items;
    std::vector<char> staged;
    std::vector<Step> steps;
    bool begun = false;
    bool committed = false;
    uid_t owner = 0; // of the extraction folder, for a folder that cannot be asked
    gid_t group = 0;

    QString shown(const QString& relativePath) const {
        QString base = QDir::toNativeSeparators(folder);
        if (!base.endsWith(QDir::separator()))
            base += QDir::separator();
        return base + QDir::toNativeSeparators(relativePath);
    }
    void plan(Folders& folders);
    void run(Folders& folders);
    bool keepAside(int at, const QByteArray& name, std::size_t k) const;
};

ExtractionTransaction::ExtractionTransaction(const QString& folder, bool durable)
    : m(std::make_unique<Impl>()) {
    m->folder = folder;
    m->durable = durable;
    // The extraction folder itself is the caller's to name: links on its way are followed.
    if (!QFileInfo(folder).isDir())
        QDir().mkpath(folder);
    m->root.reset(openRoot(folder));
    if (m->root.get() < 0)
        fault(ExtractionFault::CannotOpenFolder, QDir::toNativeSeparators(folder), errno);
    struct stat status {};
    if (::fstat(m->root.get(), &status) == 0) {
        m->owner = status.st_uid;
        m->group = status.st_gid;
    }
}

void ExtractionTransaction::recover(const QString& folder) {
    const Fd root(openRoot(folder));
    if (root.get() < 0)
        return;
    const QByteArray name = encoded(stagingFolderName());
    struct stat status {};
    if (::fstatat(root.get(), name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    const QString shownFolder = QDir::toNativeSeparators(folder);
    if (!S_ISDIR(status.st_mode)) {
        // Nothing of ours: a link or a file under our name is removed, never followed.
        if (::unlinkat(root.get(), name.constData(), 0) != 0)
            fault(ExtractionFault::CannotRecover, shownFolder, errno);
        return;
    }
    Fd staging(openChildFolder(root.get(), name));
    if (staging.get() < 0)
        fault(ExtractionFault::CannotRecover, shownFolder, errno);
    if (!exists(staging.get(), committedName)) {
        bool complete = false;
        const std::vector<Step> steps = stepsOf(readAll(staging.get(), journalName), complete);
        // The renames start only once the journal is whole on disk: without it nothing was changed.
        if (complete) {
            Folders folders(root.get());
            if (const int failure = undo(folders, staging.get(), steps, true))
                fault(ExtractionFault::CannotRecover, shownFolder, failure);
        }
    }
    if (!removeStaging(root.get(), staging))
        fault(ExtractionFault::CannotRecover, shownFolder, errno);
}

void ExtractionTransaction::begin(std::vector<Item> items) {
    m->items = std::move(items);
    m->staged.assign(m->items.size(), 0);
    Folders folders(m->root.get());
    // Every folder on the way, once: a link or a file there refuses the whole archive now.
    QHash<QString, bool> seen; // folder path -> it exists
    for (const Item& item : m->items) {
        const QString way = item.folder ? item.relativePath : parentOf(item.relativePath);
        if (way.isEmpty())
            continue;
        const QStringList segments = way.split(u'/');
        QString path;
        for (const QString& segment : segments) {
            const QString parent = path;
            path = path.isEmpty() ? segment : path + u'/' + segment;
            const auto known = seen.constFind(path);
            if (known != seen.constEnd()) {
                if (!*known)
                    break;
                continue;
            }
            const int at = folders.get(parent);
            if (at < 0)
                fault(ExtractionFault::CannotOpenFolder, m->shown(parent), errno);
            struct stat status {};
            if (::fstatat(at, encoded(segment).constData(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno != ENOENT)
                    fault(ExtractionFault::CannotOpenFolder, m->shown(path), errno);
                seen.insert(path, false);
                break;
            }
            if (S_ISLNK(status.st_mode))
                fault(ExtractionFault::FolderIsLink, m->shown(path));
            if (!S_ISDIR(status.st_mode))
                fault(ExtractionFault::FileInFolderPlace, m->shown(path));
            seen.insert(path, true);
        }
    }

    const QByteArray name = encoded(stagingFolderName());
    if (::mkdirat(m->root.get(), name.constData(), 0700) != 0) {
        if (errno != EEXIST)
            fault(ExtractionFault::CannotCreateFolder, m->shown(stagingFolderName()), errno);
        recover(m->folder);
        if (::mkdirat(m->root.get(), name.constData(), 0700) != 0)
            fault(ExtractionFault::CannotCreateFolder, m->shown(stagingFolderName()), errno);
    }
    m->begun = true;
    m->staging.reset(openChildFolder(m->root.get(), name));
    if (m->staging.get() < 0)
        fault(ExtractionFault::CannotOpenFolder, m->shown(stagingFolderName()), errno);
}

void ExtractionTransaction::stage(std::size_t k, const std::function<void(Writer&)>& fill) {
    const Item& item = m->items[k];
    const QString shownName = m->shown(item.relativePath);
    Fd fd(
        ::openat(m->staging.get(), stagedName(k).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (fd.get() < 0)
        fault(ExtractionFault::CannotWriteFile, shownName, errno);
    FileWriter writer(fd.get(), shownName);
    fill(writer);
    if (::fchmod(fd.get(), mode_t(item.mode & 07777)) != 0)
        fault(ExtractionFault::CannotWriteFile, shownName, errno);
    if (item.mtime >= 0) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(item.mtime), 0}};
        if (::futimens(fd.get(), times) != 0)
            fault(ExtractionFault::CannotWriteFile, shownName, errno);
    }
#ifndef __linux__
    if (m->durable && ::fsync(fd.get()) != 0)
        fault(ExtractionFault::CannotWriteFile, shownName, errno);
#endif
    if (::close(fd.release()) != 0)
        fault(ExtractionFault::CannotWriteFile, shownName, errno);
    m->staged[k] = 1;
}

// Decides each step from what the folder holds now, and gives the new files the owner and the
// permission bits of the files they replace.
void ExtractionTransaction::Impl::plan(Folders& folders) {
    QHash<QString, std::size_t> files; // path -> its step
    QSet<QString> created;
    QSet<QString> present;
    const bool asRoot = ::geteuid() == 0;

    const auto needFolder = [&](const QString& way) {
        if (way.isEmpty())
            return;
        QString path;
        for (const QString& segment : way.split(u'/')) {
            const QString parent = path;
            path = path.isEmpty() ? segment : path + u'/' + segment;
            if (created.contains(path) || present.contains(path))
                continue;
            if (files.contains(path))
                fault(ExtractionFault::NameTwice, shown(path));
            struct stat status {};
            const int at = created.contains(parent) ? -1 : folders.get(parent);
            if (at >= 0 && ::fstatat(at, encoded(segment).constData(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
                if (S_ISLNK(status.st_mode))
                    fault(ExtractionFault::FolderIsLink, shown(path));
                if (!S_ISDIR(status.st_mode))
                    fault(ExtractionFault::FileInFolderPlace, shown(path));
                present.insert(path);
                continue;
            }
            if (at < 0 && !created.contains(parent))
                fault(ExtractionFault::CannotOpenFolder, shown(parent), errno);
            if (at >= 0 && errno != ENOENT)
                fault(ExtractionFault::CannotOpenFolder, shown(path), errno);
            created.insert(path);
            Step step;
            step.folder = true;
            step.path = path;
            steps.push_back(step);
        }
    };

    for (std::size_t k = 0; k < items.size(); ++k) {
        const Item& item = items[k];
        if (item.folder) {
            needFolder(item.relativePath);
            continue;
        }
        if (!staged[k])
            continue;
        const QString parent = parentOf(item.relativePath);
        needFolder(parent);
        if (created.contains(item.relativePath) || present.contains(item.relativePath))
            fault(ExtractionFault::NameTwice, shown(item.relativePath));
        const QByteArray newName = stagedName(k);
        const auto earlier = files.constFind(item.relativePath);
        Step* step = nullptr;
        if (earlier != files.constEnd()) {
            // The same name again: the later item wins, as if written over the earlier one.
            step = &steps[*earlier];
            ::unlinkat(staging.get(), stagedName(step->k).constData(), 0);
            step->k = k;
        } else {
            files.insert(item.relativePath, steps.size());
            steps.push_back(Step{false, k, false, item.relativePath});
            step = &steps.back();
        }
        struct stat old {};
        const int at = created.contains(parent) ? -1 : folders.get(parent);
        const bool found = at >= 0 && ::fstatat(at, encoded(nameOf(item.relativePath)).constData(), &old,
                                                AT_SYMLINK_NOFOLLOW) == 0;
        if (at >= 0 && !found && errno != ENOENT)
            fault(ExtractionFault::CannotReplaceFile, shown(item.relativePath), errno);
        if (found && S_ISDIR(old.st_mode))
            fault(ExtractionFault::FolderInFilePlace, shown(item.relativePath));
        step->replaces = found;
        // Only root may give a file away; anyone else keeps what it writes, and that is no error.
        if (found && S_ISREG(old.st_mode)) {
            [[maybe_unused]] const int owned =
                ::fchownat(staging.get(), newName.constData(), old.st_uid, old.st_gid, AT_SYMLINK_NOFOLLOW);
            if (item.keepReplacedMode)
                ::fchmodat(staging.get(), newName.constData(), old.st_mode & 07777, 0);
        } else if (asRoot) {
            // What root creates belongs to the owner of its folder; a new folder gets the owner of
            // the existing one it is made in, and so do the files in it.
            QString existing = parent;
            while (created.contains(existing))
                existing = parentOf(existing);
            const int ownerFolder = folders.get(existing);
            struct stat made {};
            const bool known = ownerFolder >= 0 && ::fstat(ownerFolder, &made) == 0;
            [[maybe_unused]] const int owned =
                ::fchownat(staging.get(), newName.constData(), known ? made.st_uid : owner,
                           known ? made.st_gid : group, AT_SYMLINK_NOFOLLOW);
        }
        if (found && S_ISREG(old.st_mode) && !item.keepReplacedMode)
            ::fchmodat(staging.get(), newName.constData(), mode_t(item.mode & 07777), 0); // after chown
    }
}

// Keeps the old file of step `k` in the staging folder. A second name for it leaves the file in place
// until the new one replaces it in one rename, so that a kill between the two steps finds the old
// file where it was; a file system without hard links gets the old file moved aside instead.
bool ExtractionTransaction::Impl::keepAside(int at, const QByteArray& name, std::size_t k) const {
    const QByteArray aside = asideName(k);
    if (::linkat(at, name.constData(), staging.get(), aside.constData(), 0) == 0)
        return true;
    if (errno != EPERM && errno != EXDEV && errno != EMLINK && errno != ENOTSUP)
        return false;
    return ::renameat(at, name.constData(), staging.get(), aside.constData()) == 0;
}

void ExtractionTransaction::Impl::run(Folders& folders) {
    const bool asRoot = ::geteuid() == 0;
    QSet<QString> touched;
    for (const Step& step : steps) {
        const QString parent = parentOf(step.path);
        const QByteArray name = encoded(nameOf(step.path));
        const int at = folders.get(parent);
        if (at < 0)
            fault(errno == ELOOP || errno == ENOTDIR ? ExtractionFault::FolderIsLink
                                                     : ExtractionFault::CannotOpenFolder,
                  shown(parent), errno == ELOOP || errno == ENOTDIR ? 0 : errno);
        touched.insert(parent);
        if (step.folder) {
            if (::mkdirat(at, name.constData(), 0777) != 0)
                fault(ExtractionFault::CannotCreateFolder, shown(step.path), errno);
            struct stat made {};
            if (asRoot && ::fstat(at, &made) == 0) {
                [[maybe_unused]] const int owned =
                    ::fchownat(at, name.constData(), made.st_uid, made.st_gid, AT_SYMLINK_NOFOLLOW);
            }
            continue;
        }
        if (step.replaces && !keepAside(at, name, step.k))
            fault(ExtractionFault::CannotReplaceFile, shown(step.path), errno);
        int placed = ::renameat2(staging.get(), stagedName(step.k).constData(), at, name.constData(),
                                 step.replaces ? 0 : RENAME_NOREPLACE);
        if (placed != 0 && (errno == EINVAL || errno == ENOSYS) && !step.replaces) {
            // A file system that cannot refuse by itself: look just before.
            placed = exists(at, name)
                         ? (errno = EEXIST, -1)
                         : ::renameat(staging.get(), stagedName(step.k).constData(), at, name.constData());
        }
        if (placed != 0)
            fault(ExtractionFault::CannotReplaceFile, shown(step.path), errno);
    }
    if (durable) {
        for (const QString& path : touched)
            if (const int fd = folders.get(path); fd >= 0)
                flushFolder(fd);
    }
}

void ExtractionTransaction::commit() {
    Folders folders(m->root.get());
    m->plan(folders);
#ifdef __linux__
    // One flush of the file system brings every staged file to disk.
    if (m->durable && ::syncfs(m->staging.get()) != 0)
        fault(ExtractionFault::CannotWriteFile, m->shown(stagingFolderName()), errno);
#endif
    {
        const QString shownJournal = m->shown(stagingFolderName() + u'/' + QString::fromLatin1(journalName));
        Fd journal(::openat(m->staging.get(), journalName, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (journal.get() < 0)
            fault(ExtractionFault::CannotWriteFile, shownJournal, errno);
        writeAll(journal.get(), journalOf(m->steps), shownJournal);
        if (m->durable && ::fsync(journal.get()) != 0)
            fault(ExtractionFault::CannotWriteFile, shownJournal, errno);
        if (::close(journal.release()) != 0)
            fault(ExtractionFault::CannotWriteFile, shownJournal, errno);
        if (m->durable)
            flushFolder(m->staging.get());
    }
    m->run(folders);
    {
        Fd mark(::openat(m->staging.get(), committedName, O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
        if (mark.get() < 0)
            fault(ExtractionFault::CannotWriteFile, m->shown(stagingFolderName()), errno);
        if (m->durable)
            flushFolder(m->staging.get());
    }
    m->committed = true;
    // The update is in place; what a failure here leaves, the next run removes.
    removeStaging(m->root.get(), m->staging);
}

bool ExtractionTransaction::rollback() {
    if (!m->begun || m->committed)
        return true;
    Folders folders(m->root.get());
    const bool undone = undo(folders, m->staging.get(), m->steps, m->durable) == 0;
    m->steps.clear();
    if (undone && removeStaging(m->root.get(), m->staging))
        m->begun = false;
    return undone;
}

#else

// Windows: the same transaction through paths below the extraction folder, made safe by holding
// every folder on the way open without delete sharing from the check until the commit ends: none of
// them can be renamed, removed or swapped for a junction meanwhile, so each path leads where it was
// checked to lead. Ownership is not carried over.

namespace {

std::wstring wide(const QString& path) {
    return QDir::toNativeSeparators(path).toStdWString();
}

bool isReparsePoint(const QString& path) {
    const DWORD attributes = GetFileAttributesW(wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

int lastErrno() {
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
        return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EBUSY;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        return EEXIST;
    default:
        return EIO;
    }
}

// The path of a held folder with every link on its way resolved, or `fallback`.
QString ownPath(native::folder::Handle folder, const QString& fallback) {
    std::vector<wchar_t> buffer(32768);
    const DWORD length = GetFinalPathNameByHandleW(HANDLE(folder), buffer.data(), DWORD(buffer.size()),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= buffer.size())
        return fallback;
    QString path = QString::fromWCharArray(buffer.data(), int(length));
    if (path.startsWith(QLatin1String("\\\\?\\UNC\\")))
        path = QLatin1String("\\\\") + path.mid(8);
    else if (path.startsWith(QLatin1String("\\\\?\\")))
        path = path.mid(4);
    return QDir::fromNativeSeparators(path);
}

// The folders held open, by their path below the extraction folder ("" for the extraction folder).
// One handle for each folder on the way, never one for each file.
class HeldFolders {
public:
    enum class Found { Folder, Missing, Link, Other };

    HeldFolders() = default;
    HeldFolders(const HeldFolders&) = delete;
    HeldFolders& operator=(const HeldFolders&) = delete;
    ~HeldFolders() {
        releaseBelow();
        native::folder::close(m_root);
    }

    void holdRoot(native::folder::Handle root) { m_root = root; }
    bool holds(const QString& path) const { return path.isEmpty() || m_held.contains(path); }

    // Opens the folder at `path` from its held parent and holds it; a reparse point is never entered.
    Found hold(const QString& path) {
        if (holds(path))
            return Found::Folder;
        const qsizetype cut = path.lastIndexOf(u'/');
        const QString parentPath = cut < 0 ? QString() : path.left(cut);
        const native::folder::Handle parent = parentPath.isEmpty() ? m_root : m_held.value(parentPath);
        if (!parent)
            return Found::Missing;
        const std::u16string name = path.mid(cut + 1).toStdU16String();
        if (const native::folder::Handle folder = native::folder::child(parent, name)) {
            m_held.insert(path, folder);
            return Found::Folder;
        }
        if (!native::folder::exists(parent, name))
            return Found::Missing;
        return native::folder::isLinkToFolder(parent, name) ? Found::Link : Found::Other;
    }
    // Lets go of a folder, so that it can be removed.
    void release(const QString& path) { native::folder::close(m_held.take(path)); }
    void releaseBelow() {
        for (const native::folder::Handle folder : std::as_const(m_held))
            native::folder::close(folder);
        m_held.clear();
    }

private:
    native::folder::Handle m_root = nullptr;
    QHash<QString, native::folder::Handle> m_held;
};

} // namespace

struct ExtractionTransaction::Impl {
    QString folder;
    QString base;      // the extraction folder's own path, with a trailing "/"
    QString shownBase; // as the caller gave it, with a trailing "/"
    HeldFolders held;
    bool durable = true;
    std::vector<Item> items;
    std::vector<char> staged;
    std::vector<Step> steps;
    bool begun = false;
    bool committed = false;

    QString at(const QString& relativePath) const { return base + relativePath; }
    QString staging(const QByteArray& name) const {
        return base + stagingFolderName() + u'/' + QString::fromLatin1(name);
    }
    QString shown(const QString& relativePath) const {
        return QDir::toNativeSeparators(shownBase + relativePath);
    }
};

namespace {

bool removeStaging(const QString& base) {
    QDir staging(base + ExtractionTransaction::stagingFolderName());
    // A staged or kept-aside file may be read-only, which would refuse its removal.
    const auto remove = [&](const QString& name) {
        const std::wstring path = wide(staging.filePath(name));
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        return DeleteFileW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
    };
    for (const QString& name : staging.entryList(QDir::Files | QDir::Hidden | QDir::System))
        if (name != QLatin1String(journalName) && name != QLatin1String(committedName) && !remove(name))
            return false;
    QFile::remove(staging.filePath(QString::fromLatin1(journalName)));
    QFile::remove(staging.filePath(QString::fromLatin1(committedName)));
    return RemoveDirectoryW(wide(staging.path()).c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

// Clears the read-only attribute, which would refuse a file's replacement or removal.
void makeWritable(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY))
        return;
    const DWORD rest = attributes & ~DWORD(FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW(path.c_str(), rest != 0 ? rest : FILE_ATTRIBUTE_NORMAL);
}

void makeReadOnly(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesW(path.c_str(),
                           (attributes & ~DWORD(FILE_ATTRIBUTE_NORMAL)) | FILE_ATTRIBUTE_READONLY);
}

// Undoes the steps as far as they went, the last first. The state of each step shows on disk: its
// staged file still there (not placed yet), its old file kept aside, the target present or not, so
// undoing twice does no harm. Returns the errno of the first step that could not be undone, or 0.
int undo(const QString& base, const std::vector<Step>& steps, HeldFolders* held = nullptr) {
    int failure = 0;
    const auto failed = [&] {
        if (failure == 0)
            failure = lastErrno();
    };
    const QString staging = base + ExtractionTransaction::stagingFolderName() + u'/';
    for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
        const std::wstring target = wide(base + it->path);
        if (it->folder) {
            if (held)
                held->release(it->path);
            RemoveDirectoryW(target.c_str());
            continue;
        }
        const std::wstring aside = wide(staging + QString::fromLatin1(asideName(it->k)));
        const bool placed = !QFileInfo::exists(staging + QString::fromLatin1(stagedName(it->k)));
        if (!it->replaces) {
            if (placed) {
                makeWritable(target);
                if (!DeleteFileW(target.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
                    failed();
            }
            continue;
        }
        if (GetFileAttributesW(aside.c_str()) != INVALID_FILE_ATTRIBUTES) {
            const bool targetThere = GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES;
            if (!placed && targetThere) {
                // Killed before the new file came: the target is still the old file, the kept one
                // only its second name.
                makeWritable(aside);
                if (!DeleteFileW(aside.c_str()))
                    failed();
            } else {
                makeWritable(target);
                if (!MoveFileExW(aside.c_str(), target.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
                    failed();
                    continue;
                }
            }
        }
        if (it->readOnly)
            makeReadOnly(target);
    }
    return failure;
}

} // namespace

ExtractionTransaction::ExtractionTransaction(const QString& folder, bool durable)
    : m(std::make_unique<Impl>()) {
    m->folder = folder;
    m->durable = durable;
    m->shownBase = QDir::fromNativeSeparators(folder);
    if (!m->shownBase.endsWith(u'/'))
        m->shownBase += u'/';
    if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder))
        fault(ExtractionFault::CannotOpenFolder, QDir::toNativeSeparators(folder), lastErrno());
    // The extraction folder itself is the caller's to name: links on its way are followed, once.
    const native::folder::Handle root =
        native::folder::open(QDir::toNativeSeparators(folder).toStdU16String());
    if (!root)
        fault(ExtractionFault::CannotOpenFolder, QDir::toNativeSeparators(folder), lastErrno());
    m->held.holdRoot(root);
    m->base = ownPath(root, m->shownBase);
    if (!m->base.endsWith(u'/'))
        m->base += u'/';
}

void ExtractionTransaction::recover(const QString& folder) {
    QString base = QDir::fromNativeSeparators(folder);
    if (!base.endsWith(u'/'))
        base += u'/';
    const QString staging = base + stagingFolderName();
    if (!QFileInfo::exists(staging))
        return;
    if (isReparsePoint(staging) || !QFileInfo(staging).isDir()) {
        if (!RemoveDirectoryW(wide(staging).c_str()) && !DeleteFileW(wide(staging).c_str()))
            fault(ExtractionFault::CannotRecover, QDir::toNativeSeparators(folder), lastErrno());
        return;
    }
    if (!QFileInfo::exists(staging + u'/' + QString::fromLatin1(committedName))) {
        QFile journal(staging + u'/' + QString::fromLatin1(journalName));
        bool complete = false;
        const std::vector<Step> steps =
            stepsOf(journal.open(QIODevice::ReadOnly) ? journal.readAll() : QByteArray(), complete);
        journal.close();
        if (complete)
            if (const int failure = undo(base, steps))
                fault(ExtractionFault::CannotRecover, QDir::toNativeSeparators(folder), failure);
    }
    if (!removeStaging(base))
        fault(ExtractionFault::CannotRecover, QDir::toNativeSeparators(folder), lastErrno());
}

void ExtractionTransaction::begin(std::vector<Item> items) {
    m->items = std::move(items);
    m->staged.assign(m->items.size(), 0);
    // What a killed run left goes first: its folders are not to be held while they are removed.
    recover(m->folder);
    // Every existing folder on the way is checked and then held; a link or a file there refuses the
    // whole archive now.
    QSet<QString> missing;
    for (const Item& item : m->items) {
        const QString way = item.folder ? item.relativePath : parentOf(item.relativePath);
        QString path;
        for (const QString& segment : way.split(u'/', Qt::SkipEmptyParts)) {
            path = path.isEmpty() ? segment : path + u'/' + segment;
            if (missing.contains(path))
                break;
            switch (m->held.hold(path)) {
            case HeldFolders::Found::Folder:
                continue;
            case HeldFolders::Found::Missing:
                missing.insert(path);
                break;
            case HeldFolders::Found::Link:
                fault(ExtractionFault::FolderIsLink, m->shown(path));
            case HeldFolders::Found::Other:
                fault(ExtractionFault::FileInFolderPlace, m->shown(path));
            }
            break;
        }
    }
    const QString staging = m->at(stagingFolderName());
    if (!CreateDirectoryW(wide(staging).c_str(), nullptr))
        fault(ExtractionFault::CannotCreateFolder, m->shown(stagingFolderName()), lastErrno());
    m->begun = true;
    if (m->held.hold(stagingFolderName()) != HeldFolders::Found::Folder)
        fault(ExtractionFault::CannotCreateFolder, m->shown(stagingFolderName()), lastErrno());
    SetFileAttributesW(wide(staging).c_str(), FILE_ATTRIBUTE_HIDDEN);
}

void ExtractionTransaction::stage(std::size_t k, const std::function<void(Writer&)>& fill) {
    const Item& item = m->items[k];
    const QString shownName = m->shown(item.relativePath);
    struct QFileWriter final : Writer {
        QFile file;
        QString shown;
        void write(const char* data, std::size_t size) override {
            if (file.write(data, qint64(size)) != qint64(size))
                fault(ExtractionFault::CannotWriteFile, shown, ENOSPC);
        }
    } writer;
    writer.shown = shownName;
    writer.file.setFileName(m->staging(stagedName(k)));
    if (!writer.file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        fault(ExtractionFault::CannotWriteFile, shownName, EACCES);
    fill(writer);
    if (item.mtime >= 0)
        writer.file.setFileTime(QDateTime::fromSecsSinceEpoch(item.mtime), QFileDevice::FileModificationTime);
    writer.file.flush();
    if (m->durable)
        FlushFileBuffers(HANDLE(_get_osfhandle(writer.file.handle())));
    writer.file.close();
    if (!(item.mode & 0200))
        SetFileAttributesW(wide(writer.file.fileName()).c_str(), FILE_ATTRIBUTE_READONLY);
    m->staged[k] = 1;
}

void ExtractionTransaction::commit() {
    QHash<QString, std::size_t> files;
    QSet<QString> created;
    const auto needFolder = [&](const QString& way) {
        QString path;
        for (const QString& segment : way.split(u'/', Qt::SkipEmptyParts)) {
            path = path.isEmpty() ? segment : path + u'/' + segment;
            if (created.contains(path) || m->held.holds(path))
                continue;
            if (files.contains(path))
                fault(ExtractionFault::NameTwice, m->shown(path));
            // A folder that appeared since the check is checked and held now.
            if (!created.contains(parentOf(path))) {
                switch (m->held.hold(path)) {
                case HeldFolders::Found::Folder:
                    continue;
                case HeldFolders::Found::Missing:
                    break;
                case HeldFolders::Found::Link:
                    fault(ExtractionFault::FolderIsLink, m->shown(path));
                case HeldFolders::Found::Other:
                    fault(ExtractionFault::FileInFolderPlace, m->shown(path));
                }
            }
            created.insert(path);
            m->steps.push_back(Step{true, 0, false, path});
        }
    };
    for (std::size_t k = 0; k < m->items.size(); ++k) {
        const Item& item = m->items[k];
        if (item.folder) {
            needFolder(item.relativePath);
            continue;
        }
        needFolder(parentOf(item.relativePath));
        if (created.contains(item.relativePath))
            fault(ExtractionFault::NameTwice, m->shown(item.relativePath));
        const auto earlier = files.constFind(item.relativePath);
        if (earlier != files.constEnd()) {
            QFile::remove(m->staging(stagedName(m->steps[*earlier].k)));
            m->steps[*earlier].k = k;
            continue;
        }
        const QFileInfo info(m->at(item.relativePath));
        if (info.isDir() && !info.isSymLink())
            fault(ExtractionFault::FolderInFilePlace, m->shown(item.relativePath));
        files.insert(item.relativePath, m->steps.size());
        Step step{false, k, info.exists() || info.isSymLink(), item.relativePath};
        const DWORD old = GetFileAttributesW(wide(m->at(item.relativePath)).c_str());
        step.readOnly = step.replaces && old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY);
        // A new file that replaces one keeps its read-only attribute, as elsewhere it keeps the mode.
        if (step.replaces && item.keepReplacedMode) {
            const std::wstring staged = wide(m->staging(stagedName(k)));
            if (step.readOnly)
                makeReadOnly(staged);
            else
                makeWritable(staged);
        }
        m->steps.push_back(step);
    }
    {
        QFile journal(m->staging(journalName));
        if (!journal.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
            journal.write(journalOf(m->steps)) < 0 || !journal.flush())
            fault(ExtractionFault::CannotWriteFile, journal.fileName(), lastErrno());
        if (m->durable)
            FlushFileBuffers(HANDLE(_get_osfhandle(journal.handle())));
    }
    const DWORD through = m->durable ? MOVEFILE_WRITE_THROUGH : 0;
    for (const Step& step : m->steps) {
        const std::wstring target = wide(m->at(step.path));
        if (step.folder) {
            if (!CreateDirectoryW(target.c_str(), nullptr))
                fault(ExtractionFault::CannotCreateFolder, m->shown(step.path), lastErrno());
            if (m->held.hold(step.path) != HeldFolders::Found::Folder)
                fault(ExtractionFault::CannotCreateFolder, m->shown(step.path), lastErrno());
            continue;
        }
        const std::wstring staged = wide(m->staging(stagedName(step.k)));
        if (!step.replaces) {
            if (!MoveFileExW(staged.c_str(), target.c_str(), through))
                fault(ExtractionFault::CannotReplaceFile, m->shown(step.path), lastErrno());
            continue;
        }
        // The old file keeps a second name in the staging folder, and the new one takes its name in
        // one rename: at no moment is the target missing.
        const std::wstring aside = wide(m->staging(asideName(step.k)));
        {
            // A file in use refuses its replacement: find out before it gets a second name, which
            // could not be removed again while the file stays open.
            const HANDLE probe = CreateFileW(
                target.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
            if (probe == INVALID_HANDLE_VALUE)
                fault(ExtractionFault::CannotReplaceFile, m->shown(step.path), lastErrno());
            CloseHandle(probe);
        }
        // Read-only would refuse the replacing rename; the journal has the attribute for a rollback.
        makeWritable(target);
        const bool linked = CreateHardLinkW(aside.c_str(), target.c_str(), nullptr);
        if (!linked) {
            // No hard links here (FAT32, some network shares): the old file moves aside first, and
            // a kill before the next rename leaves the target missing until `recover` puts it back.
            if (!MoveFileExW(target.c_str(), aside.c_str(), through))
                fault(ExtractionFault::CannotReplaceFile, m->shown(step.path), lastErrno());
        }
        if (!MoveFileExW(staged.c_str(), target.c_str(), (linked ? MOVEFILE_REPLACE_EXISTING : 0) | through))
            fault(ExtractionFault::CannotReplaceFile, m->shown(step.path), lastErrno());
    }
    QFile mark(m->staging(committedName));
    if (!mark.open(QIODevice::WriteOnly))
        fault(ExtractionFault::CannotWriteFile, mark.fileName(), lastErrno());
    mark.close();
    m->committed = true;
    m->held.releaseBelow();
    removeStaging(m->base);
}

bool ExtractionTransaction::rollback() {
    if (!m->begun || m->committed)
        return true;
    const bool undone = undo(m->base, m->steps, &m->held) == 0;
    m->steps.clear();
    m->held.releaseBelow();
    if (undone && removeStaging(m->base))
        m->begun = false;
    return undone;
}

#endif

ExtractionTransaction::~ExtractionTransaction() {
    if (m->begun && !m->committed)
        rollback();
}

QString ExtractionTransaction::shown(const QString& relativePath) const {
    return m->shown(relativePath);
}

} // namespace archive
