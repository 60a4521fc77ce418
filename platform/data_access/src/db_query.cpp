#include "data_access/db_query.h"

#include "data_access/db_connection.h"
#include "db_dataset_state.h"
#include "db_engine.h"
#include "db_schema_changes.h"
#include "sql/access_sql.h"

namespace data_access {

namespace {

// The statement refused by the translation is refused by the provider, as any other.
sql::Translation translated(const QString& sql) {
    return refusedByTheProvider([&] { return sql::translate(sql); });
}

[[noreturn]] void noResultSet() {
    throw providerError(ProviderFailure::NoResultSet);
}

} // namespace

void DbSqlText::changing() {
    m_query.Close();
}

void DbSqlText::Clear() {
    changing();
    m_lines.clear();
}

void DbSqlText::Add(const QString& line) {
    changing();
    m_lines.append(line);
}

void DbSqlText::setText(const QString& text) {
    changing();
    m_lines = QStringList{text};
}

QString DbSqlText::Text() const {
    return m_lines.join(u'\n');
}

DbQuery::DbQuery(DbConnection& connection)
    : DbDataSet(connection)
    , SQL(*this) {}

void DbQuery::openCursor() {
    const sql::Translation translation = translated(SQL.Text());
    if (translation.kind != sql::Translation::Kind::Statement)
        noResultSet();
    SqliteDatabase& db = connection().database();
    SqliteStatement statement = db.prepare(translation.sql);
    if (statement.columnCount() == 0)
        noResultSet();
    State& s = state();
    s.setColumns(columnsOf(statement, 0));
    const size_t width = s.columns.size();
    while (statement.next()) {
        DbRow row;
        row.values.reserve(width);
        for (int i = 0; i < int(width); ++i)
            row.values.push_back(statement.value(i));
        s.appendRead(std::move(row));
    }
}

void DbQuery::ExecSQL() {
    closeWithoutRelease();
    DbConnection& owner = connection();
    // A statement that failed ends the use as one that ran: an idle connection closes either way.
    try {
        owner.guarded([&] {
            const sql::Translation translation = translated(SQL.Text());
            SqliteDatabase& db = owner.database();
            switch (translation.kind) {
            case sql::Translation::Kind::Statement:
                db.execute(translation.sql);
                break;
            case sql::Translation::Kind::AddColumns:
                data_access::addColumns(db, translation.table, translation.definitions);
                break;
            case sql::Translation::Kind::AlterColumn:
                data_access::alterColumn(db, translation.table, translation.column,
                                         translation.newDefinition);
                break;
            }
        });
    } catch (...) {
        try {
            owner.releaseIfIdle();
        } catch (const std::exception&) {
            // The statement's failure is the one to report.
        }
        throw;
    }
    owner.releaseIfIdle();
}

} // namespace data_access
