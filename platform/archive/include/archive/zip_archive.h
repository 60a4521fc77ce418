#pragma once

#include "base/error.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

struct zip;

namespace archive {

// An extraction error after which every change of the extraction was undone: the folder holds what
// it held before.
class ExtractionRolledBack : public base::Error {
public:
    using base::Error::Error;
};

// The update archive's reader: a single-file ZIP whose items carry traditional PKWARE encryption.
// It extracts every admitted item below a base folder as one transaction (see ExtractionTransaction):
// re-creating the stored folders, replacing existing (also read-only) files and links, restoring the
// stored attributes, and leaving the folder all old or all new. Items are decrypted and inflated on
// several cores at once; the events come on the calling thread, in archive order.
class ZipArchive {
public:
    struct Events {
        // Before each item is written: its stored name with the platform's separators.
        std::function<void(const QString& fileName)> extractFile;
        // While an item is under way: the fraction of it done, 0 to 1.
        std::function<void(const QString& fileName, double progress)> fileProgress;
        // The share of the whole extraction done, a whole percentage 0 to 100.
        std::function<void(double progress)> overallProgress;
    };

    // The attribute filter that admits every item.
    static constexpr quint32 anyFileAttributes = 10431;

    ZipArchive();
    ~ZipArchive();
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    void setFileName(const QString& fileName) { m_fileName = fileName; }
    void setPassword(const QByteArray& password) { m_password = password; }
    void setBaseDir(const QString& baseDir) { m_baseDir = baseDir; }
    // Off only for measuring what durability costs.
    void setFlushBuffers(bool flush) { m_flushBuffers = flush; }
    void setEvents(Events events) { m_events = std::move(events); }

    // Opens the file read-only, closing an archive still open first. Raises Error for a file that
    // is no readable ZIP archive, and for an archive with an item that would land outside the base
    // folder (absolute, drive letter, ".."), that is a symbolic link or whose name holds a control
    // character: such an archive is refused as a whole.
    void OpenArchive();
    // Extracts the items whose file name matches `mask` ("*.*": all) and whose DOS attributes pass
    // `attributeFilter` below the base folder, which is a folder whether or not its text ends in a
    // separator. Raises Error on the first failure: ExtractionRolledBack once the folder is as it
    // was before, a plain Error when a folder on the items' way is a link (nothing was written) or
    // when the undoing must wait for the next run.
    void ExtractFiles(const QString& mask, quint32 attributeFilter);
    void CloseArchive();

    struct Item {
        quint64 index = 0;
        QString storedName;   // decoded: OEM code page, or UTF-8 when flagged
        QString relativePath; // "/"-separated, without empty and "." segments
        bool folder = false;
        quint64 size = 0;
        qint64 mtime = -1;
        quint32 dosAttributes = 0;
        int unixMode = -1; // permission bits when the item was made on Unix
    };

private:
    QString m_fileName;
    QByteArray m_password;
    QString m_baseDir;
    bool m_flushBuffers = true;
    Events m_events;
    zip* m_zip = nullptr;
    QList<Item> m_items;
};

} // namespace archive
