// The one way the database steps hand a statement to a query, probe for a column and quote a value.

#include "db/statements.h"

#include "app/main.h"

QString db::quoted(const QString& value) {
    QString text = value;
    text.replace(u'\'', QStringLiteral("''"));
    return u'\'' + text + u'\'';
}

void TfmMain::openSql(DbQuery& query, const QString& sql) {
    query.SQL.Clear();
    query.SQL.Add(sql);
    query.Open();
}

void TfmMain::execSql(DbQuery& query, const QString& sql) {
    query.SQL.Clear();
    query.SQL.Add(sql);
    query.ExecSQL();
}

bool TfmMain::probe(const QString& column, const QString& table) {
    try {
        openSql(ADOQuery1, QStringLiteral("Select ") + column + QStringLiteral(" from ") + table);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}
