#include "filesystem/folder_handle.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef _WIN32
#include "native/folder_handle_windows.h"
#else
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace filesystem {

namespace {

// One name inside a folder: nothing that leads elsewhere, and nothing that the system would cut.
bool isPlainName(const QString& name) {
    return !name.isEmpty() && name != u"." && name != u".." && !name.contains(u'/') && !name.contains(u'\0')
#ifdef _WIN32
           && !name.contains(u'\\')
#endif
        ;
}

} // namespace

#ifdef _WIN32

namespace {

std::u16string native(const QString& name) {
    return name.toStdU16String();
}

} // namespace

FolderHandle FolderHandle::open(const QString& path) {
    return FolderHandle(native::folder::open(native(QDir::toNativeSeparators(path))));
}

FolderHandle::FolderHandle(FolderHandle&& other) noexcept
    : m_handle(other.m_handle) {
    other.m_handle = nullptr;
}

FolderHandle& FolderHandle::operator=(FolderHandle&& other) noexcept {
    if (this != &other) {
        native::folder::close(m_handle);
        m_handle = other.m_handle;
        other.m_handle = nullptr;
    }
    return *this;
}

FolderHandle::~FolderHandle() {
    native::folder::close(m_handle);
}

bool FolderHandle::isOpen() const {
    return m_handle != nullptr;
}

FolderHandle FolderHandle::child(const QString& name) const {
    if (!isOpen() || !isPlainName(name))
        return {};
    return FolderHandle(native::folder::child(m_handle, native(name)));
}

QList<FolderHandle::Entry> FolderHandle::entries() const {
    QList<Entry> result;
    for (const native::folder::Entry& entry : native::folder::entries(m_handle)) {
        const Kind kind = entry.kind == native::folder::Kind::Folder ? Kind::Folder
                          : entry.kind == native::folder::Kind::Link ? Kind::Link
                                                                     : Kind::Other;
        result.append({QString::fromStdU16String(entry.name), kind});
    }
    return result;
}

bool FolderHandle::isLinkToFolder(const QString& name) const {
    return isOpen() && isPlainName(name) && native::folder::isLinkToFolder(m_handle, native(name));
}

bool FolderHandle::removeFile(const QString& name) const {
    return isOpen() && isPlainName(name) && native::folder::removeFile(m_handle, native(name));
}

bool FolderHandle::removeFileUnlessReadOnly(const QString& name) const {
    // The system refuses a read-only file by itself.
    return removeFile(name);
}

bool FolderHandle::removeFolder(const QString& name) const {
    return isOpen() && isPlainName(name) && native::folder::removeFolder(m_handle, native(name));
}

bool FolderHandle::rename(const QString& from, const QString& to) const {
    // The rename refuses an existing target by itself.
    return isOpen() && isPlainName(from) && isPlainName(to) &&
           native::folder::rename(m_handle, native(from), native(to));
}

bool FolderHandle::renameCheckingFirst(const QString& from, const QString& to) const {
    if (!isOpen() || !isPlainName(from) || !isPlainName(to) || native::folder::exists(m_handle, native(to)))
        return false;
    return rename(from, to);
}

#else

namespace {

// UTF-8, with every byte that is no part of it kept as U+DC00 + byte, so that a name that is not
// valid UTF-8 comes back to the same bytes.
QString nameOf(const QByteArray& bytes) {
    QString name;
    name.reserve(bytes.size());
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype size = bytes.size();
    for (qsizetype i = 0; i < size;) {
        const unsigned char lead = data[i];
        int length = lead < 0x80             ? 1
                     : (lead & 0xE0) == 0xC0 ? 2
                     : (lead & 0xF0) == 0xE0 ? 3
                     : (lead & 0xF8) == 0xF0 ? 4
                                             : 0;
        char32_t code = length == 1   ? lead
                        : length == 2 ? lead & 0x1F
                        : length == 3 ? lead & 0x0F
                                      : lead & 0x07;
        bool valid = length > 0 && i + length <= size;
        for (int k = 1; valid && k < length; ++k) {
            valid = (data[i + k] & 0xC0) == 0x80;
            code = (code << 6) | (data[i + k] & 0x3F);
        }
        // No overlong form, no surrogate, nothing beyond U+10FFFF.
        static constexpr char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        valid = valid && code >= least[length] && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
        if (!valid) {
            name += QChar(char16_t(0xDC00 + lead));
            ++i;
            continue;
        }
        name += QString::fromUcs4(&code, 1);
        i += length;
    }
    return name;
}

QByteArray bytesOf(const QString& name) {
    QByteArray bytes;
    bytes.reserve(name.size());
    const qsizetype size = name.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = name.at(i).unicode();
        const bool pairedLow = i > 0 && QChar::isHighSurrogate(name.at(i - 1).unicode());
        if (c >= 0xDC80 && c <= 0xDCFF && !pairedLow) {
            bytes += char(c - 0xDC00);
            continue;
        }
        const qsizetype length =
            QChar::isHighSurrogate(c) && i + 1 < size && name.at(i + 1).isLowSurrogate() ? 2 : 1;
        bytes += name.mid(i, length).toUtf8();
        i += length - 1;
    }
    return bytes;
}

int openFolder(int at, const QByteArray& name, int extraFlags) {
    const auto openWith = [&](int access) {
        return ::openat(at, name.constData(), access | O_DIRECTORY | O_CLOEXEC | extraFlags);
    };
    int fd = openWith(O_RDONLY);
    // A folder that may be passed through but not listed still leads to its entries.
    if (fd < 0 && errno == EACCES)
        fd = openWith(O_PATH);
    if (fd < 0)
        return -1;
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISDIR(status.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

FolderHandle FolderHandle::open(const QString& path) {
    if (path.isEmpty() || path.contains(u'\0'))
        return {};
    return FolderHandle(openFolder(AT_FDCWD, QFile::encodeName(path), 0));
}

FolderHandle::FolderHandle(FolderHandle&& other) noexcept
    : m_fd(other.m_fd) {
    other.m_fd = -1;
}

FolderHandle& FolderHandle::operator=(FolderHandle&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

FolderHandle::~FolderHandle() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool FolderHandle::isOpen() const {
    return m_fd >= 0;
}

FolderHandle FolderHandle::child(const QString& name) const {
    if (!isOpen() || !isPlainName(name))
        return {};
    return FolderHandle(openFolder(m_fd, bytesOf(name), O_NOFOLLOW));
}

void forEachEntry(int folder, const std::function<void(const QByteArray& name, unsigned char type)>& visit) {
    const int listFd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0)
        return;
    DIR* dir = ::fdopendir(listFd);
    if (!dir) {
        ::close(listFd);
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            visit(name, entry->d_type);
    }
    ::closedir(dir);
}

QList<FolderHandle::Entry> FolderHandle::entries() const {
    QList<Entry> result;
    if (!isOpen())
        return result;
    forEachEntry(m_fd, [&](const QByteArray& name, unsigned char type) {
        if (type == DT_UNKNOWN) {
            struct stat status;
            if (::fstatat(m_fd, name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0)
                type = S_ISDIR(status.st_mode) ? DT_DIR : S_ISLNK(status.st_mode) ? DT_LNK : DT_REG;
        }
        const Kind kind = type == DT_DIR ? Kind::Folder : type == DT_LNK ? Kind::Link : Kind::Other;
        result.append({nameOf(name), kind});
    });
    return result;
}

bool FolderHandle::removeFile(const QString& name) const {
    return isOpen() && isPlainName(name) && ::unlinkat(m_fd, bytesOf(name).constData(), 0) == 0;
}

bool FolderHandle::isLinkToFolder(const QString& name) const {
    if (!isOpen() || !isPlainName(name))
        return false;
    const QByteArray entry = bytesOf(name);
    struct stat link, target;
    return ::fstatat(m_fd, entry.constData(), &link, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(link.st_mode) &&
           ::fstatat(m_fd, entry.constData(), &target, 0) == 0 && S_ISDIR(target.st_mode);
}

bool FolderHandle::removeFileUnlessReadOnly(const QString& name) const {
    if (!isOpen() || !isPlainName(name))
        return false;
    const QByteArray entry = bytesOf(name);
    struct stat status;
    if (::fstatat(m_fd, entry.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISLNK(status.st_mode) &&
        !(status.st_mode & S_IWUSR))
        return false;
    return ::unlinkat(m_fd, entry.constData(), 0) == 0;
}

bool FolderHandle::removeFolder(const QString& name) const {
    return isOpen() && isPlainName(name) && ::unlinkat(m_fd, bytesOf(name).constData(), AT_REMOVEDIR) == 0;
}

bool FolderHandle::rename(const QString& from, const QString& to) const {
    if (!isOpen() || !isPlainName(from) || !isPlainName(to))
        return false;
    // A plain rename would replace an existing empty folder or any file.
    if (::renameat2(m_fd, bytesOf(from).constData(), m_fd, bytesOf(to).constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno == EINVAL || errno == ENOSYS)
        return renameCheckingFirst(from, to);
    return false;
}

bool FolderHandle::renameCheckingFirst(const QString& from, const QString& to) const {
    if (!isOpen() || !isPlainName(from) || !isPlainName(to))
        return false;
    const QByteArray target = bytesOf(to);
    struct stat status;
    if (::fstatat(m_fd, target.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT)
        return false;
    return ::renameat(m_fd, bytesOf(from).constData(), m_fd, target.constData()) == 0;
}

#endif

} // namespace filesystem
