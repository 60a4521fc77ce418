#include "data_access/db_table.h"

#include "data_access/db_connection.h"
#include "db_dataset_state.h"
#include "db_engine.h"
#include "db_values.h"
#include "sql/sql_tokenizer.h"

#include <map>

using base::Error;
using sql::quotedName;

namespace data_access {

// The statements of an open table, prepared once: a row costs a bind and a step.
struct DbTable::Statements {
    struct Write {
        SqliteStatement statement;
        QString replay; // stores the row again, under the row id it was given
    };
    bool hasRowIds = true;
    bool hasTriggers = false;
    int rowIdColumn = -1;            // the column that is the row id
    std::map<QString, Write> writes; // by kind and written columns
    SqliteStatement reread;
};

namespace {

struct TableColumn {
    QString name;
    bool hasDefault = false;
    int primaryKey = 0; // position in the primary key from 1, 0 when not in it
    bool integerType = false;
};

std::vector<TableColumn> tableColumns(SqliteDatabase& db, const QString& table) {
    // The pragma answers from the schema as last read: a read first takes in what another program
    // changed meanwhile.
    db.execute(QStringLiteral("SELECT count(*) FROM sqlite_master"));
    std::vector<TableColumn> columns;
    SqliteStatement info = db.prepare(QStringLiteral("PRAGMA table_info(%1)").arg(quotedName(table)));
    while (info.next())
        columns.push_back({info.value(1).toString(), !data_access::isNull(info.value(4)),
                           int(info.value(5).toLongLong()),
                           info.value(2).toString().trimmed().compare(u"INTEGER", Qt::CaseInsensitive) == 0});
    return columns;
}

// The order in which a table opens: its primary key's, as the provider reads a table. A key that
// is the row id, or no key, gives the row ids' order.
QString keyOrder(const std::vector<TableColumn>& columns, bool hasRowIds) {
    std::map<int, QString> key;
    bool rowIdKey = false;
    for (const TableColumn& column : columns)
        if (column.primaryKey > 0)
            key[column.primaryKey] = quotedName(column.name);
    if (key.size() == 1)
        for (const TableColumn& column : columns)
            if (column.primaryKey == 1 && column.integerType)
                rowIdKey = true;
    QStringList order;
    if (!rowIdKey)
        for (const auto& [position, name] : key)
            order.append(name);
    if (hasRowIds)
        order.append(QStringLiteral("_rowid_"));
    return order.isEmpty() ? QString() : QStringLiteral(" ORDER BY ") + order.join(QStringLiteral(", "));
}

} // namespace

DbTable::DbTable(DbConnection& connection)
    : DbDataSet(connection) {}

DbTable::~DbTable() = default;

const QString& DbTable::TableName() const {
    return m_tableName;
}

void DbTable::setTableName(const QString& name) {
    if (Active())
        throw Error("Cannot perform this operation on an open dataset.");
    m_tableName = name;
}

void DbTable::cursorClosed() {
    m_statements.reset();
}

void DbTable::openCursor() {
    if (m_tableName.trimmed().isEmpty())
        throw Error("The table has no table name.");
    SqliteDatabase& db = connection().database();
    auto statements = std::make_unique<Statements>();
    const QString table = quotedName(m_tableName);
    const std::vector<TableColumn> info = tableColumns(db, m_tableName);
    SqliteStatement select;
    try {
        select = db.prepare(QStringLiteral("SELECT _rowid_, * FROM %1%2").arg(table, keyOrder(info, true)));
    } catch (const DataAccessError&) {
        // A table WITHOUT ROWID, or no table at all: the second try tells.
        select = db.prepare(QStringLiteral("SELECT * FROM %1%2").arg(table, keyOrder(info, false)));
        statements->hasRowIds = false;
    }
    const int first = statements->hasRowIds ? 1 : 0;
    State& s = state();
    std::vector<DbColumn> columns = columnsOf(select, first);
    for (DbColumn& column : columns)
        for (const TableColumn& described : info)
            if (described.name.compare(column.origin, Qt::CaseInsensitive) == 0)
                column.hasDefault = described.hasDefault;
    s.setColumns(std::move(columns));
    const size_t width = s.columns.size();
    if (statements->hasRowIds) {
        int keys = 0;
        for (const TableColumn& described : info)
            keys += described.primaryKey > 0 ? 1 : 0;
        for (const TableColumn& described : info)
            if (keys == 1 && described.primaryKey == 1 && described.integerType)
                for (int i = 0; i < int(width); ++i)
                    if (s.columns[size_t(i)].origin.compare(described.name, Qt::CaseInsensitive) == 0)
                        statements->rowIdColumn = i;
    }
    {
        SqliteStatement triggers = db.prepare(
            QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'trigger' AND tbl_name = ?1 "
                           "COLLATE NOCASE"));
        triggers.bind(1, m_tableName);
        statements->hasTriggers = triggers.next() && triggers.value(0).toLongLong() > 0;
    }
    while (select.next()) {
        DbRow row;
        row.rowId = statements->hasRowIds ? select.value(0).toLongLong() : 0;
        row.values.reserve(width);
        for (int i = 0; i < int(width); ++i)
            row.values.push_back(select.value(first + i));
        s.appendRead(std::move(row));
    }
    if (statements->hasRowIds)
        statements->reread = db.prepare(QStringLiteral("SELECT * FROM %1 WHERE _rowid_ = ?1").arg(table));
    m_statements = std::move(statements);
}

void DbTable::Insert() {
    requireActive();
    checkBrowseMode();
    State& s = state();
    s.mode = State::Mode::Insert;
    s.buffer.assign(s.columns.size(), QVariant());
    s.written.assign(s.columns.size(), false);
}

void DbTable::Edit() {
    requireActive();
    State& s = state();
    if (s.mode != State::Mode::Browse)
        return;
    if (s.rows.empty()) {
        Insert();
        return;
    }
    s.buffer = s.rows[size_t(s.current)].values;
    s.written.assign(s.columns.size(), false);
    s.mode = State::Mode::Edit;
}

void DbTable::Post() {
    requireActive();
    State& s = state();
    if (s.mode == State::Mode::Browse)
        throw Error("Dataset not in edit or insert mode.");
    const bool inserting = s.mode == State::Mode::Insert;

    std::vector<int> columns;
    QString key = inserting ? QStringLiteral("I") : QStringLiteral("U");
    for (int i = 0; i < int(s.columns.size()); ++i) {
        // A new row's unwritten columns take their defaults; a Yes/No column without one is No,
        // whatever tool made the table, as a Yes/No field is never Null.
        if (!s.written[size_t(i)]) {
            if (!inserting || s.columns[size_t(i)].type != ftBoolean || s.columns[size_t(i)].hasDefault)
                continue;
            s.buffer[size_t(i)] = QVariant(qlonglong(0));
        }
        columns.push_back(i);
        key += QString::number(i) + u',';
    }
    if (!inserting && columns.empty()) {
        s.mode = State::Mode::Browse;
        return;
    }
    if (!inserting && !m_statements->hasRowIds)
        throw Error(QStringLiteral("The rows of table '%1' cannot be changed: it has no row ids.")
                        .arg(m_tableName)
                        .toStdString());

    DbConnection& owner = connection();
    owner.guarded([&] {
        SqliteDatabase& db = owner.databaseForPost();
        std::vector<QVariant> replay;
        QString replaySql;
        try {
            store(db, columns, key, replaySql, replay);
        } catch (...) {
            db.commitPostBatch(); // the rows posted before this one stay
            throw;
        }
        db.rowPosted(replaySql, std::move(replay));
    });
}

void DbTable::store(SqliteDatabase& db, const std::vector<int>& columns, const QString& key,
                    QString& replaySql, std::vector<QVariant>& replayValues) {
    State& s = state();
    const bool inserting = s.mode == State::Mode::Insert;
    for (int i : columns) {
        const DbColumn& column = s.columns[size_t(i)];
        const QVariant& value = s.buffer[size_t(i)];
        if (column.maxLength > 0 && !data_access::isNull(value) && value.toString().size() > column.maxLength)
            throw providerError(ProviderFailure::FieldTooSmall, column.name,
                                QString::number(column.maxLength));
    }
    Statements::Write& entry = m_statements->writes[key];
    SqliteStatement& write = entry.statement;
    if (!write) {
        QStringList names;
        QStringList assignments;
        for (int i : columns) {
            const QString name =
                quotedName(s.columns[size_t(i)].origin.isEmpty() ? s.columns[size_t(i)].name
                                                                 : s.columns[size_t(i)].origin);
            names.append(name);
            assignments.append(name + QStringLiteral(" = ?"));
        }
        const QString table = quotedName(m_tableName);
        const auto insertOf = [&](const QStringList& into) {
            if (into.isEmpty())
                return QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(table);
            return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                .arg(table, into.join(QStringLiteral(", ")),
                     QStringList(into.size(), QStringLiteral("?")).join(QStringLiteral(", ")));
        };
        QString sql;
        if (!inserting) {
            sql = QStringLiteral("UPDATE %1 SET %2 WHERE _rowid_ = ?")
                      .arg(table, assignments.join(QStringLiteral(", ")));
            entry.replay = sql;
        } else {
            sql = insertOf(names);
            // The row id last: it wins over a key column that is the row id, which holds the same.
            entry.replay =
                m_statements->hasRowIds ? insertOf(names + QStringList{QStringLiteral("_rowid_")}) : sql;
        }
        write = db.prepare(sql);
    }
    int parameter = 1;
    for (int i : columns)
        write.bind(parameter++, s.buffer[size_t(i)]);
    if (!inserting)
        write.bind(parameter, qlonglong(s.rows[size_t(s.current)].rowId));

    db.joinPostBatch();
    write.next();
    write.reset();

    DbRow row;
    row.rowId = inserting ? db.lastInsertRowId() : s.rows[size_t(s.current)].rowId;
    replaySql = entry.replay;
    replayValues.reserve(columns.size() + 1);
    for (int i : columns)
        replayValues.push_back(s.buffer[size_t(i)]);
    if (m_statements->hasRowIds)
        replayValues.push_back(QVariant(qlonglong(row.rowId)));
    row.values = s.buffer;
    // The stored row is known without reading it back when every written value is of its column's
    // own kind and a new row's unwritten column is only the row id.
    bool known = !m_statements->hasTriggers;
    for (int i : columns)
        switch (s.columns[size_t(i)].type) {
        case ftInteger:
        case ftFloat:
        case ftString:
        case ftBoolean:
        case ftBlob:
            break;
        default:
            known = false;
        }
    if (known && inserting) {
        size_t next = 0;
        for (int i = 0; i < int(s.columns.size()) && known; ++i) {
            if (next < columns.size() && columns[next] == i)
                ++next;
            else if (i == m_statements->rowIdColumn)
                row.values[size_t(i)] = QVariant(qlonglong(row.rowId));
            else
                known = false;
        }
    }
    if (!known && m_statements->reread) {
        SqliteStatement& reread = m_statements->reread;
        reread.bind(1, qlonglong(row.rowId));
        if (reread.next())
            for (int i = 0; i < int(row.values.size()) && i < reread.columnCount(); ++i)
                row.values[size_t(i)] = reread.value(i);
        reread.reset();
    }
    s.mode = State::Mode::Browse;
    s.buffer.clear();
    s.written.clear();
    if (inserting) {
        s.rows.push_back(std::move(row));
        s.current = int(s.rows.size()) - 1;
        s.rowAdded(s.current);
    } else {
        std::vector<QVariant> before = std::move(s.rows[size_t(s.current)].values);
        s.rows[size_t(s.current)] = std::move(row);
        s.rowChanged(s.current, before);
    }
    s.eof = s.bof = false;
}

} // namespace data_access
