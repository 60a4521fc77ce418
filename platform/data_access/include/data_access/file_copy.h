#pragma once

#include <QString>

namespace data_access {

// Copies the database file `source` (opened with `password`) to `target` as a consistent database:
// what a killed writer of the source left in a journal is rolled back first and the bytes are read
// while no other program may write the file; the companions of an earlier file at `target`
// (-journal, -wal, -shm) are removed before the copy takes its place, so that nothing of the earlier
// file is ever applied to the new one. A source the engine cannot open (no database, another
// password) is copied as it is, for the connect that follows to report. False when it could not
// copy, or with `replace` off when `target` exists.
bool copyDatabaseFile(const QString& source, const QString& password, const QString& target, bool replace);

} // namespace data_access
