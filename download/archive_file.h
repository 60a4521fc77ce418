#pragma once

#include <QString>

#include <memory>

// The documents archive as it arrives: a hidden temporary file that becomes "res/ver_1_3.zip" of a
// folder only when the whole archive is here. It lies in "res" when that folder exists, otherwise
// in the folder itself until the commit makes "res", so that its rename stays on one file system.
// The temporary files that killed downloads left in either place go when the next one starts;
// those of a download still under way are held by it and stay.
class ArchiveFile {
public:
    static constexpr const char* archiveName = "ver_1_3.zip";

    // Each raises Error, worded for the operator, when the system refuses.
    explicit ArchiveFile(const QString& folder);
    ~ArchiveFile(); // removes the temporary file unless committed
    ArchiveFile(const ArchiveFile&) = delete;
    ArchiveFile& operator=(const ArchiveFile&) = delete;

    void write(const char* data, qint64 size);
    // Makes "res" when it is missing and puts the data, flushed to disk, in place of the archive.
    void commit();

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};
