#include "data_access/file_copy.h"

#include "base/error.h"
#include "db_engine.h"
#include "filesystem/atomic_file.h"
#include "filesystem/folder_handle.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <memory>

using base::Error;
using filesystem::AtomicFile;
using filesystem::FolderHandle;

namespace data_access {

namespace {

// The files beside a database that the engine takes as part of it.
const char16_t* const companionSuffixes[] = {u"-journal", u"-wal", u"-shm"};

// Writes `input` to `target` through a temporary file; `beforeCommit` runs just before the rename
// and may refuse it.
template <typename BeforeCommit>
bool copyThrough(QFile& input, const QString& target, BeforeCommit&& beforeCommit) {
    try {
        AtomicFile output(target);
        output.open();
        char buffer[64 * 1024];
        for (;;) {
            const qint64 n = input.read(buffer, sizeof buffer);
            if (n < 0)
                return false;
            if (n == 0)
                break;
            output.write(buffer, n);
        }
        output.setMode(input.permissions(), false);
        output.flush();
        if (!beforeCommit())
            return false;
        output.commit();
        return true;
    } catch (const Error&) {
        return false;
    }
}

// Removes the companions of a database at `target`; false when one stays.
bool removeCompanions(const QString& target) {
    const QFileInfo info(target);
    const FolderHandle folder = FolderHandle::open(info.absolutePath());
    if (!folder.isOpen())
        return false;
    QSet<QString> present;
    for (const FolderHandle::Entry& entry : folder.entries())
        present.insert(entry.name);
    for (const char16_t* suffix : companionSuffixes) {
        const QString name = info.fileName() + QString::fromUtf16(suffix);
        if (present.contains(name) && !folder.removeFile(name))
            return false;
    }
    return true;
}

bool sameFile(const QString& source, const QString& target) {
    const QFileInfo to(target);
    return to.exists() && QFileInfo(source).canonicalFilePath() == to.canonicalFilePath();
}

} // namespace

bool copyDatabaseFile(const QString& source, const QString& password, const QString& target, bool replace) {
    if (sameFile(source, target))
        return replace && QFileInfo(source).isFile();
    if (!replace && QFileInfo::exists(target))
        return false;
    // Open and read: a hot journal is rolled back, a write-ahead log is moved into the file, and the
    // read transaction keeps other programs from writing the file while its bytes are copied.
    std::unique_ptr<SqliteDatabase> reader;
    try {
        reader = SqliteDatabase::open(source, password);
        reader->execute(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        reader->execute(QStringLiteral("BEGIN"));
        reader->execute(QStringLiteral("SELECT count(*) FROM sqlite_master"));
    } catch (const DataAccessError& failure) {
        // Half written by a program that holds it still: no copy rather than a broken one.
        if (failure.kind() == ProviderFailure::Locked)
            return false;
        reader.reset();
    }
    QFile input(source);
    if (!input.open(QIODevice::ReadOnly))
        return false;
    const bool copied = copyThrough(
        input, target, [&] { return (replace || !QFileInfo::exists(target)) && removeCompanions(target); });
    input.close();
    if (reader) {
        try {
            reader->execute(QStringLiteral("COMMIT"));
        } catch (const DataAccessError&) {
            // A read transaction ends with the connection anyway.
        }
    }
    return copied;
}

} // namespace data_access
