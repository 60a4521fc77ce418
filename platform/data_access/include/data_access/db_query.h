#pragma once

#include "data_access/db_dataset.h"

#include <QString>
#include <QStringList>

namespace data_access {

class DbQuery;

// The SQL text of a query, in Access SQL. Changing it closes an open query first.
class DbSqlText {
public:
    void Clear();
    void Add(const QString& line);
    void setText(const QString& text);
    QString Text() const;

private:
    friend class DbQuery;
    explicit DbSqlText(DbQuery& query)
        : m_query(query) {}
    void changing();

    DbQuery& m_query;
    QStringList m_lines;
};

// A statement on a connection: Open runs one that returns rows and keeps them; ExecSQL runs one that
// changes the database.
class DbQuery : public DbDataSet {
public:
    explicit DbQuery(DbConnection& connection);

    DbSqlText SQL;

    // Runs the statement; afterwards the query is not open. Any refusal raises DataAccessError.
    void ExecSQL();

protected:
    void openCursor() override;
};

} // namespace data_access
