#pragma once

#include "data_access/db_dataset.h"

#include <QString>

#include <QVariant>
#include <memory>

#include <vector>

namespace data_access {

class SqliteDatabase;

// One table of a connection. Opening reads all its rows as a fixed snapshot (a static cursor), in the
// order of the primary key; rows posted through the table join the snapshot and are found by Locate.
class DbTable : public DbDataSet {
public:
    explicit DbTable(DbConnection& connection);
    ~DbTable() override;

    const QString& TableName() const;
    void setTableName(const QString& name); // Error while the table is open

    // Starts a new row that becomes current and is written field by field.
    void Insert();
    // Makes the current row writable; on a table without rows it starts a new one.
    void Edit();
    // Stores the new or changed row. A row the database refuses raises DataAccessError and stays
    // being inserted or edited; rows posted before it stay in the database.
    void Post();

protected:
    void openCursor() override;
    void postPending() override { Post(); }
    void cursorClosed() override;

private:
    struct Statements;
    // Writes the row being inserted or edited and takes it into the snapshot; gives the statement
    // and values that store it again.
    void store(SqliteDatabase& db, const std::vector<int>& columns, const QString& key, QString& replaySql,
               std::vector<QVariant>& replayValues);

    QString m_tableName;
    std::unique_ptr<Statements> m_statements;
};

} // namespace data_access
