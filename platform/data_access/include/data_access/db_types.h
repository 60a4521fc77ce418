#pragma once

#include <QFlags>
#include <QString>

namespace data_access {

// The kinds of field the data-access layer tells apart, from the column's declared type.
enum DbFieldType {
    ftUnknown,  // no declared type the layer knows: the value's own type counts
    ftAutoInc,  // declared AUTOINCREMENT: numbered by the database, never written
    ftInteger,  // INTEGER and the other integer types
    ftBoolean,  // BIT (Yes/No): never Null, True is stored as -1
    ftString,   // text: VARCHAR(n), TEXT, STRING and the like
    ftFloat,    // REAL, FLOAT, DOUBLE
    ftDateTime, // DATETIME, DATE, TIME
    ftBlob,     // BLOB
};

// A column of a table or a query result, in column order.
struct DbFieldDef {
    QString Name;
    DbFieldType DataType = ftUnknown;
};

enum DbLocateOption {
    loCaseInsensitive = 0x1, // text keys match whatever their letter case
};
Q_DECLARE_FLAGS(DbLocateOptions, DbLocateOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(DbLocateOptions)

// How a connection shares its file. The engine always opens a file shared: other programs may read
// and write it while it is open, which is what both settings ask for.
enum DbConnectMode {
    cmUnknown,       // the engine's default
    cmShareDenyNone, // explicitly shared
};

} // namespace data_access
