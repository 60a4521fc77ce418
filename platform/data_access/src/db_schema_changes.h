#pragma once

// The two schema changes of Access SQL that SQLite has no single statement for. Internal to the
// data-access layer; both are all or nothing.

#include <QString>
#include <QStringList>

namespace data_access {

class SqliteDatabase;

// ALTER TABLE t ADD COLUMN a x, b y, ...: one ADD COLUMN per definition inside a savepoint.
void addColumns(SqliteDatabase& db, const QString& table, const QStringList& definitions);

// ALTER TABLE t ALTER COLUMN c <type>: the table is rebuilt with the new type (SQLite's documented
// procedure), keeping its rows, other columns, keys, indexes, triggers and autoincrement counter.
// Refused when a value does not fit the new type.
void alterColumn(SqliteDatabase& db, const QString& table, const QString& column,
                 const QString& accessDefinition);

} // namespace data_access
