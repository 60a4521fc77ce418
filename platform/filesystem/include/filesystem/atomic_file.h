#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include <memory>
#include <vector>

namespace filesystem {

// A file replaced as a whole: the data goes to a temporary file in the target's folder, is flushed
// to disk and renamed over the target, so that the target is always either old or new and an
// existing link at the target is replaced, never followed. A replaced file keeps the owner and group
// of the file it replaces where the process may set them; a file that root creates gets the owner
// of its folder.
class AtomicFile {
public:
    // Temporary files of this kind carry this marker in their names, so that a later run can remove
    // those that a killed run left behind.
    static QString temporaryMarker();
    // Removes only the leftovers of `target`, for a writer that excludes every other writer of it.
    static bool removeLeftoversOf(const QString& target);

    // The temporary file lies in `temporaryFolder`, by default the target's folder; another folder
    // lets the data be written before the target's folder exists. Both must be on one file system.
    explicit AtomicFile(QString target, QString temporaryFolder = QString());
    ~AtomicFile(); // removes the temporary file unless committed
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    const QString& target() const { return m_target; }

    // Each raises Error naming the target when the system refuses.
    void open();
    void write(const char* data, qint64 size);
    // The mode of the new file: `mode` when `replaceMode`, or when the target is no file yet;
    // otherwise the replaced file's own mode. Applied at once when open, otherwise at the commit.
    void setMode(QFileDevice::Permissions mode, bool replaceMode);
    void setModificationTime(qint64 secondsSinceEpoch);
    void flush(); // data and metadata on disk
    // Renames over the target; with `durable`, flushes first when not yet flushed and flushes the
    // folder after the rename.
    void commit(bool durable = true);

    // Brings the data of several files to disk at once (one file-system flush where the system has
    // one), for a batch of commits.
    static void flushTogether(const std::vector<AtomicFile*>& files);
    static void flushFolder(const QString& folder);

private:
    struct Impl;
#ifndef _WIN32
    void applyMode();
#endif
    QString temporaryFolder() const;
    QString m_target;
    QString m_temporaryFolder;
    std::unique_ptr<Impl> m;
};

// Replaces `path` with `bytes`; a new file gets `newFileMode`.
void writeFileAtomically(const QString& path, const QByteArray& bytes,
                         QFileDevice::Permissions newFileMode = QFileDevice::ReadOwner |
                                                                QFileDevice::WriteOwner);

} // namespace filesystem
