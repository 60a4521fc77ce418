#pragma once

// The open state of a query or table. Internal to the data-access layer.

#include "data_access/db_dataset.h"
#include "db_locate_index.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QVariant>

#include <map>
#include <memory>
#include <vector>

namespace data_access {

class SqliteStatement;

struct DbColumn {
    QString name;   // as the result names it
    QString table;  // the table the column comes from, if any
    QString origin; // the column's own name in that table
    DbFieldType type = ftUnknown;
    int maxLength = -1;      // VARCHAR(n)
    bool hasDefault = false; // a table's column with a DEFAULT
};

struct DbRow {
    qint64 rowId = 0;
    std::vector<QVariant> values;
};

struct DbDataSet::State {
    enum class Mode { Browse, Insert, Edit };

    bool active = false;
    std::vector<DbColumn> columns;
    QList<DbFieldDef> fieldDefs;
    QHash<QString, int> fieldsByName; // case-folded
    std::vector<DbRow> rows;
    int current = -1;
    bool eof = true;
    bool bof = true;
    Mode mode = Mode::Browse;
    std::vector<QVariant> buffer; // the row being inserted or edited
    std::vector<bool> written;
    std::map<QString, std::unique_ptr<LocateIndex>> indexes; // by key fields and options

    void setColumns(std::vector<DbColumn> newColumns);
    void clear();
    const QVariant& value(int column) const;
    // After a row was stored at `row` (appended, or changed from `before`).
    void rowAdded(int row);
    void rowChanged(int row, const std::vector<QVariant>& before);
    // Appends a row read at open. A text equal to the one above it in its column shares that copy:
    // a join repeats the same names on many rows.
    void appendRead(DbRow&& row);
};

// The columns of a prepared statement from `first` on, with their types from the tables' schema.
std::vector<DbColumn> columnsOf(const SqliteStatement& statement, int first);

} // namespace data_access
