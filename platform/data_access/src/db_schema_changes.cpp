#include "db_schema_changes.h"

#include "db_engine.h"
#include "sql/access_sql.h"
#include "sql/sql_tokenizer.h"

#include <optional>

using sql::quotedName;
using sql::SqlQuoting;
using sql::SqlToken;
using sql::tokenizeSql;

namespace data_access {

namespace {

// Runs `change` inside a savepoint, undone as a whole when it fails.
template <typename Change> void allOrNothing(SqliteDatabase& db, const QString& name, Change&& change) {
    db.execute(QStringLiteral("SAVEPOINT ") + name);
    try {
        change();
    } catch (...) {
        db.execute(QStringLiteral("ROLLBACK TO ") + name);
        db.execute(QStringLiteral("RELEASE ") + name);
        throw;
    }
    db.execute(QStringLiteral("RELEASE ") + name);
}

qint64 count(SqliteDatabase& db, const QString& sql) {
    SqliteStatement statement = db.prepare(sql);
    return statement.next() ? statement.value(0).toLongLong() : 0;
}

bool tableExists(SqliteDatabase& db, const QString& name) {
    SqliteStatement statement = db.prepare(
        QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1 COLLATE NOCASE"));
    statement.bind(1, name);
    return statement.next();
}

bool hasAutoIncrement(const QString& createSql) {
    for (const SqlToken& token : tokenizeSql(createSql, SqlQuoting::Sqlite))
        if (token.isWord(u"AUTOINCREMENT"))
            return true;
    return false;
}

} // namespace

void addColumns(SqliteDatabase& db, const QString& table, const QStringList& definitions) {
    allOrNothing(db, QStringLiteral("add_columns"), [&] {
        for (const QString& definition : definitions)
            db.execute(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2").arg(quotedName(table), definition));
    });
}

void alterColumn(SqliteDatabase& db, const QString& table, const QString& column,
                 const QString& accessDefinition) {
    SqliteStatement lookup = db.prepare(QStringLiteral(
        "SELECT name, sql FROM sqlite_master WHERE type = 'table' AND name = ?1 COLLATE NOCASE"));
    lookup.bind(1, table);
    if (!lookup.next())
        throw dataAccessError(QStringLiteral("no such table: %1").arg(table));
    const QString storedName = lookup.value(0).toString();
    const QString createSql = lookup.value(1).toString();
    lookup = SqliteStatement();

    sql::StoredTable stored;
    sql::Retyped retyped;
    QStringList columns;
    QString storedColumn;
    refusedByTheProvider([&] {
        stored = sql::parseStoredTable(createSql);
        for (QString& definition : stored.definitions) {
            const QString name = sql::definedColumn(definition);
            if (name.isEmpty())
                continue;
            columns.append(name);
            if (name.compare(column, Qt::CaseInsensitive) == 0) {
                storedColumn = name;
                retyped = sql::retypeColumn(definition, accessDefinition);
                definition = retyped.definition;
            }
        }
    });
    if (storedColumn.isEmpty())
        throw dataAccessError(QStringLiteral("no such column: %1").arg(column));

    const QString target = quotedName(storedColumn);
    if (retyped.maxLength > 0) {
        const qint64 longer = count(db, QStringLiteral("SELECT count(*) FROM %1 WHERE length(%2) > %3")
                                            .arg(quotedName(storedName), target)
                                            .arg(retyped.maxLength));
        if (longer > 0)
            throw dataAccessError(QStringLiteral("Column '%1' cannot become %2: %3 of its values are longer.")
                                      .arg(storedColumn, accessDefinition)
                                      .arg(longer));
    }

    QString rebuilt = storedName + QStringLiteral("_rebuilt");
    while (tableExists(db, rebuilt))
        rebuilt += u'_';

    QStringList indexesAndTriggers;
    {
        SqliteStatement others =
            db.prepare(QStringLiteral("SELECT sql FROM sqlite_master WHERE tbl_name = ?1 AND type IN "
                                      "('index', 'trigger') AND sql IS NOT NULL"));
        others.bind(1, storedName);
        while (others.next())
            indexesAndTriggers.append(others.value(0).toString());
    }
    std::optional<qint64> sequence;
    if (tableExists(db, QStringLiteral("sqlite_sequence"))) {
        SqliteStatement seq = db.prepare(QStringLiteral("SELECT seq FROM sqlite_sequence WHERE name = ?1"));
        seq.bind(1, storedName);
        if (seq.next())
            sequence = seq.value(0).toLongLong();
    }

    const QString createRebuilt =
        QStringLiteral("CREATE TABLE %1 (%2)%3")
            .arg(quotedName(rebuilt), stored.definitions.join(QStringLiteral(", ")), stored.tail);
    QStringList names;
    QStringList values;
    for (const QString& name : columns) {
        names.append(quotedName(name));
        if (name == storedColumn && retyped.rule == sql::ValueRule::Boolean)
            values.append(QStringLiteral("CASE WHEN %1 IS NULL THEN 0 WHEN typeof(%1) IN ('integer', 'real') "
                                         "THEN -(%1 <> 0) ELSE %1 END")
                              .arg(target));
        else
            values.append(quotedName(name));
    }

    // The rebuild drops and renames the table: references to it must not act meanwhile (SQLite
    // takes the switch outside a transaction only). Once the table stands again, no reference that
    // held may be broken.
    const auto brokenReferences = [&db] {
        qint64 broken = 0;
        for (SqliteStatement check = db.prepare(QStringLiteral("PRAGMA foreign_key_check")); check.next();)
            ++broken;
        return broken;
    };
    const bool references = count(db, QStringLiteral("PRAGMA foreign_keys")) != 0;
    const qint64 brokenBefore = references ? brokenReferences() : 0;
    struct ReferencesBack {
        SqliteDatabase& db;
        bool on;
        ~ReferencesBack() {
            try {
                if (on)
                    db.execute(QStringLiteral("PRAGMA foreign_keys = ON"));
            } catch (const DataAccessError&) {
                // Only inside a transaction, where the switch was never made.
            }
        }
    } referencesBack{db, references};
    if (references)
        db.execute(QStringLiteral("PRAGMA foreign_keys = OFF"));

    allOrNothing(db, QStringLiteral("alter_column"), [&] {
        db.execute(createRebuilt);
        db.execute(QStringLiteral("INSERT INTO %1 (%2) SELECT %3 FROM %4")
                       .arg(quotedName(rebuilt), names.join(QStringLiteral(", ")),
                            values.join(QStringLiteral(", ")), quotedName(storedName)));
        QString allowed;
        switch (retyped.rule) {
        case sql::ValueRule::Integer:
            allowed = QStringLiteral("'integer', 'null'");
            break;
        case sql::ValueRule::Real:
            allowed = QStringLiteral("'integer', 'real', 'null'");
            break;
        case sql::ValueRule::Boolean:
            allowed = QStringLiteral("'integer'");
            break;
        case sql::ValueRule::Any:
            break;
        }
        if (!allowed.isEmpty()) {
            const qint64 misfits =
                count(db, QStringLiteral("SELECT count(*) FROM %1 WHERE typeof(%2) NOT IN (%3)")
                              .arg(quotedName(rebuilt), target, allowed));
            if (misfits > 0)
                throw dataAccessError(
                    QStringLiteral("Column '%1' cannot become %2: %3 of its values do not convert.")
                        .arg(storedColumn, accessDefinition)
                        .arg(misfits));
        }
        db.execute(QStringLiteral("DROP TABLE %1").arg(quotedName(storedName)));
        db.execute(
            QStringLiteral("ALTER TABLE %1 RENAME TO %2").arg(quotedName(rebuilt), quotedName(storedName)));
        for (const QString& sql : indexesAndTriggers)
            db.execute(sql);
        if (sequence && hasAutoIncrement(createRebuilt)) {
            SqliteStatement update =
                db.prepare(QStringLiteral("UPDATE sqlite_sequence SET seq = max(seq, ?2) WHERE name = ?1"));
            update.bind(1, storedName);
            update.bind(2, *sequence);
            update.next();
            if (db.changes() == 0) {
                SqliteStatement insert =
                    db.prepare(QStringLiteral("INSERT INTO sqlite_sequence (name, seq) VALUES (?1, ?2)"));
                insert.bind(1, storedName);
                insert.bind(2, *sequence);
                insert.next();
            }
        }
        if (references && brokenReferences() > brokenBefore)
            throw dataAccessError(QStringLiteral("FOREIGN KEY constraint failed"));
    });
}

} // namespace data_access
