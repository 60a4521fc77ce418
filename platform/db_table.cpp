#include "platform/db_table.h"

#include "platform/db_connection.h"
#include "platform/db_dataset_state.h"
#include "platform/db_engine.h"
#include "platform/db_values.h"
#include "platform/sql_tokenizer.h"

#include <map>

// The statements of an open table, prepared once: a row costs a bind and a step.
struct DbTable::Statements {
    bool hasRowIds = true;
    std::map<QString, SqliteStatement> writes; // by kind and written columns
    SqliteStatement reread;
};

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
    SqliteStatement select;
    try {
        select = db.prepare(QStringLiteral("SELECT _rowid_, * FROM %1 ORDER BY _rowid_").arg(table));
    } catch (const DataAccessError&) {
        // A table WITHOUT ROWID, or no table at all: the second try tells.
        select = db.prepare(QStringLiteral("SELECT * FROM %1").arg(table));
        statements->hasRowIds = false;
    }
    const int first = statements->hasRowIds ? 1 : 0;
    State& s = state();
    s.setColumns(columnsOf(select, first));
    const size_t width = s.columns.size();
    while (select.next()) {
        DbRow row;
        row.rowId = statements->hasRowIds ? select.value(0).toLongLong() : 0;
        row.values.reserve(width);
        for (int i = 0; i < int(width); ++i)
            row.values.push_back(select.value(first + i));
        s.rows.push_back(std::move(row));
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
        if (!s.written[size_t(i)] || (inserting && db_values::isNull(s.buffer[size_t(i)])))
            continue; // a new row's empty columns take their defaults
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
        try {
            store(db, columns, key);
        } catch (...) {
            db.commitPostBatch(); // the rows posted before this one stay
            throw;
        }
        db.rowPosted();
    });
}

void DbTable::store(SqliteDatabase& db, const std::vector<int>& columns, const QString& key) {
    State& s = state();
    const bool inserting = s.mode == State::Mode::Insert;
    for (int i : columns) {
        const DbColumn& column = s.columns[size_t(i)];
        const QVariant& value = s.buffer[size_t(i)];
        if (column.maxLength > 0 && !db_values::isNull(value) && value.toString().size() > column.maxLength)
            throw dataAccessError(
                QStringLiteral("The field '%1' is too small to accept the amount of data you "
                               "attempted to add: it holds at most %2 characters.")
                    .arg(column.name)
                    .arg(column.maxLength));
    }
    SqliteStatement& write = m_statements->writes[key];
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
        QString sql;
        if (!inserting)
            sql = QStringLiteral("UPDATE %1 SET %2 WHERE _rowid_ = ?")
                      .arg(table, assignments.join(QStringLiteral(", ")));
        else if (columns.empty())
            sql = QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(table);
        else
            sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                      .arg(table, names.join(QStringLiteral(", ")),
                           QStringList(qsizetype(columns.size()), QStringLiteral("?"))
                               .join(QStringLiteral(", ")));
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
    row.values = s.buffer;
    if (m_statements->reread) {
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
