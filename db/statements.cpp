// The one way the database steps hand a statement to a query and probe for a column; values are
// quoted with quotedText.

#include "db/database_steps.h"
#include "seams/activity_log.h"

using data_access::DbQuery;

void db::DatabaseSteps::openSql(DbQuery& query, const QString& sql) {
    if (statementLog)
        statementLog->append(sql);
    query.SQL.Clear();
    query.SQL.Add(sql);
    query.Open();
}

void db::DatabaseSteps::execSql(DbQuery& query, const QString& sql) {
    if (statementLog)
        statementLog->append(sql);
    query.SQL.Clear();
    query.SQL.Add(sql);
    query.ExecSQL();
}

bool db::DatabaseSteps::probe(const QString& column, const QString& table) {
    try {
        openSql(ADOQuery1, QStringLiteral("Select ") + column + QStringLiteral(" from ") + table);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}
