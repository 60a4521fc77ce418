#pragma once

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace archive {

// An extraction into a folder as one transaction: the installation ends all old or all new.
//
// Every new file is first written into a staging folder inside the extraction folder (so on the same
// file system, under short names). The commit then writes a journal there and flushes it, creates
// the missing folders and keeps each target's old file under a second name in the staging folder
// before the new one takes its place in one rename; after the last it marks the journal committed and removes
// the old files and the staging folder. Any error rolls back: the old files return, the created files and
// folders go. A run killed at any moment is finished or undone by `recover`, which the next run calls first.
//
// Everything below the extraction folder is reached through opened folders, never by path text:
// each folder is opened from its parent without following a link, so a folder that is a link, or
// that is swapped for one meanwhile, cannot lead a single byte outside. On Windows every folder on
// the way is held open without delete sharing until the commit ends, and reparse points are refused.
class ExtractionTransaction {
public:
    // Names inside the extraction folder that begin with this belong to the updater (its staging
    // folder, its lock); no item of an archive may take one.
    static QString reservedPrefix();
    static QString stagingFolderName();

    struct Item {
        QString relativePath; // "/"-separated, no empty, "." or ".." segments
        bool folder = false;
        unsigned mode = 0644;          // permission bits of the new file
        bool keepReplacedMode = false; // a replaced file keeps its own permission bits
        std::int64_t mtime = -1;       // seconds since the epoch; -1 leaves the time of writing
    };

    // Takes the new data of one file, in pieces.
    class Writer {
    public:
        virtual void write(const char* data, std::size_t size) = 0;

    protected:
        ~Writer() = default;
    };

    // Opens `folder`, creating it when it is missing; raises Error. `durable`: flush the data and
    // the journal to disk at the points that make a power loss safe.
    ExtractionTransaction(const QString& folder, bool durable);
    // Rolls back whatever was not committed.
    ~ExtractionTransaction();
    ExtractionTransaction(const ExtractionTransaction&) = delete;
    ExtractionTransaction& operator=(const ExtractionTransaction&) = delete;

    // Finishes the cleanup of a committed transaction that a killed run left in `folder`, or rolls an
    // uncommitted one back. Raises Error when it cannot; nothing to do for a missing folder.
    static void recover(const QString& folder);

    // Before anything is written: refuses (raising Error) the items when a folder on their way is a
    // link or a file. Then makes the staging folder.
    void begin(std::vector<Item> items);
    // Writes item `k`'s file into the staging folder through `fill`; safe to call from several
    // threads for different items.
    void stage(std::size_t k, const std::function<void(Writer&)>& fill);
    // Puts every staged item in place; raises Error, after which the caller rolls back.
    void commit();
    // Undoes everything; true when the installation is as before (otherwise the next `recover`
    // finishes the undoing).
    bool rollback();
    // The path of the extraction folder followed by `relativePath`, as the operator reads it.
    QString shown(const QString& relativePath) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

} // namespace archive
