#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include <memory>

// A file replaced as a whole: the data goes to a temporary file in the target's folder, is flushed
// to disk and renamed over the target, so that the target is always either old or new and an
// existing link at the target is replaced, never followed. A replaced file keeps the mode, owner and
// group of the file it replaces where the process may set them.
class AtomicFile {
public:
    // Temporary files of this kind carry this marker, so that a later run can remove those that a
    // killed run left behind.
    static QString temporaryMarker();

    // The temporary file lies in `temporaryFolder`, by default the target's folder. Another folder
    // lets a file be written before its target folder exists; both must be on one file system.
    explicit AtomicFile(QString target, QString temporaryFolder = QString());
    ~AtomicFile(); // removes the temporary file unless committed
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    const QString& target() const { return m_target; }

    // Raise Error with the target's name when the disk refuses.
    void open();
    void write(const char* data, qint64 size);
    void flush(); // data and metadata on disk
    // The mode of a new file (an existing target's mode is kept unless `forceMode`).
    void setMode(QFileDevice::Permissions mode, bool forceMode);
    void commit(); // flushes when not yet flushed, then renames over the target

private:
    struct Impl;
    QString temporaryFolder() const;

    QString m_target;
    QString m_temporaryFolder;
    std::unique_ptr<Impl> m;
};

// Replaces `path` with `bytes`; a new file gets `newFileMode`.
void writeFileAtomically(const QString& path, const QByteArray& bytes,
                         QFileDevice::Permissions newFileMode = QFileDevice::ReadOwner | QFileDevice::WriteOwner);
