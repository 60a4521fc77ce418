#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

namespace filesystem {

// An open folder whose entries are listed, removed and renamed by name. A child folder is opened
// without following a link, so whatever is reached through a handle lies inside the folder it was
// opened from, even when a folder is swapped for a link meanwhile.
class FolderHandle {
public:
    enum class Kind { Folder, Link, Other };
    struct Entry {
        QString name;
        Kind kind;
    };

    // The folder at `path`, links on the way followed: the caller names it. Not open when it is
    // missing or no folder.
    static FolderHandle open(const QString& path);

    FolderHandle() = default;
    FolderHandle(FolderHandle&& other) noexcept;
    FolderHandle& operator=(FolderHandle&& other) noexcept;
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;
    ~FolderHandle();

    bool isOpen() const;

    // The subfolder `name`; not open when it is missing, no folder or a link (a junction on Windows).
    FolderHandle child(const QString& name) const;

    // Every entry but "." and "..", hidden ones included, in the order the file system gives them;
    // none when the folder cannot be listed. Names are exact: where the system's names are bytes,
    // a byte that is no part of UTF-8 is kept as the character U+DC00 + byte, and every operation
    // here takes such a name back to its bytes.
    QList<Entry> entries() const;
    // Whether the entry `name` is a link (a junction on Windows) that leads to a folder.
    bool isLinkToFolder(const QString& name) const;

    // Each reports whether it succeeded.
    bool removeFile(const QString& name) const; // a file or a link itself, never a folder
    // The same, but a read-only file stays, as Windows keeps it; where files have no such
    // attribute, one that its owner may not write counts as read-only.
    bool removeFileUnlessReadOnly(const QString& name) const;
    bool removeFolder(const QString& name) const; // an empty folder
    // Renames within this folder; refuses when `to` exists, whatever it is.
    bool rename(const QString& from, const QString& to) const;
    // The same for file systems that cannot refuse by themselves: checks just before renaming.
    bool renameCheckingFirst(const QString& from, const QString& to) const;

private:
#ifdef _WIN32
    explicit FolderHandle(void* handle)
        : m_handle(handle) {}
    void* m_handle = nullptr; // a HANDLE; null when not open
#else
    explicit FolderHandle(int fd)
        : m_fd(fd) {}
    int m_fd = -1;
#endif
};

#ifndef _WIN32
// Calls `visit` with the name (never "." or "..") and the d_type of every entry of the open folder
// `folder`. The listing reads through a description of its own, so it always starts at the beginning
// and leaves `folder` as it was; a folder that cannot be listed has no entries.
void forEachEntry(int folder, const std::function<void(const QByteArray& name, unsigned char type)>& visit);
#endif

} // namespace filesystem
