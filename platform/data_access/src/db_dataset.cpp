#include "data_access/db_dataset.h"

#include "base/error.h"
#include "data_access/db_connection.h"
#include "db_dataset_state.h"
#include "db_engine.h"
#include "db_values.h"

#include <sqlite3.h>

using base::Error;

namespace data_access {

namespace {

QString text(const char* utf8) {
    return utf8 ? QString::fromUtf8(utf8) : QString();
}

} // namespace

// --- State

void DbDataSet::State::setColumns(std::vector<DbColumn> newColumns) {
    columns = std::move(newColumns);
    fieldDefs.clear();
    fieldsByName.clear();
    for (int i = 0; i < int(columns.size()); ++i) {
        const DbColumn& column = columns[size_t(i)];
        fieldDefs.append({column.name, column.type});
    }
    // The first column of a name wins; "table.column" names every column of a table.
    for (int i = int(columns.size()) - 1; i >= 0; --i) {
        const DbColumn& column = columns[size_t(i)];
        fieldsByName.insert(column.name.toCaseFolded(), i);
        if (!column.table.isEmpty())
            fieldsByName.insert((column.table + u'.' + column.origin).toCaseFolded(), i);
    }
}

void DbDataSet::State::clear() {
    active = false;
    columns.clear();
    fieldDefs.clear();
    fieldsByName.clear();
    rows.clear();
    rows.shrink_to_fit();
    current = -1;
    eof = bof = true;
    mode = Mode::Browse;
    buffer.clear();
    written.clear();
    indexes.clear();
}

const QVariant& DbDataSet::State::value(int column) const {
    static const QVariant null;
    if (mode != Mode::Browse)
        return buffer[size_t(column)];
    if (current < 0 || current >= int(rows.size()))
        return null;
    return rows[size_t(current)].values[size_t(column)];
}

void DbDataSet::State::rowAdded(int row) {
    for (auto& [key, index] : indexes)
        index->add(row, rows[size_t(row)].values);
}

void DbDataSet::State::rowChanged(int row, const std::vector<QVariant>& before) {
    for (auto& [key, index] : indexes) {
        index->remove(row, before);
        index->insert(row, rows[size_t(row)].values);
    }
}

void DbDataSet::State::appendRead(DbRow&& row) {
    if (!rows.empty()) {
        const std::vector<QVariant>& above = rows.back().values;
        for (size_t i = 0; i < row.values.size() && i < above.size(); ++i)
            if (row.values[i].typeId() == QMetaType::QString && above[i].typeId() == QMetaType::QString &&
                row.values[i] == above[i])
                row.values[i] = above[i];
    }
    rows.push_back(std::move(row));
}

std::vector<DbColumn> columnsOf(const SqliteStatement& statement, int first) {
    sqlite3_stmt* handle = statement.handle();
    sqlite3* db = sqlite3_db_handle(handle);
    std::vector<DbColumn> columns;
    for (int i = first; i < statement.columnCount(); ++i) {
        DbColumn column;
        column.name = text(sqlite3_column_name(handle, i));
        const char* table = sqlite3_column_table_name(handle, i);
        const char* origin = sqlite3_column_origin_name(handle, i);
        int autoIncrement = 0;
        if (table && origin) {
            column.table = text(table);
            column.origin = text(origin);
            const char* declared = nullptr;
            const char* collation = nullptr;
            int notNull = 0;
            int primaryKey = 0;
            sqlite3_table_column_metadata(db, sqlite3_column_database_name(handle, i), table, origin,
                                          &declared, &collation, &notNull, &primaryKey, &autoIncrement);
        }
        column.type = data_access::fieldTypeOf(text(sqlite3_column_decltype(handle, i)), autoIncrement != 0,
                                               &column.maxLength);
        columns.push_back(column);
    }
    return columns;
}

// --- DbDataSet

DbDataSet::DbDataSet(DbConnection& connection)
    : m_connection(&connection)
    , d(std::make_unique<State>()) {
    m_connection->attach(this);
}

DbDataSet::~DbDataSet() {
    if (!m_connection)
        return;
    if (d->active) {
        closeWithoutRelease();
        try {
            m_connection->commitPostedRows();
        } catch (const std::exception&) {
            // A destructor cannot report; the connection's Errors keep the failure.
        }
    }
    m_connection->detach(this);
}

DbConnection& DbDataSet::connection() const {
    if (!m_connection)
        throw Error("The data set has no connection.");
    return *m_connection;
}

void DbDataSet::Open() {
    if (d->active)
        return;
    DbConnection& owner = connection();
    try {
        owner.guarded([&] { openCursor(); });
    } catch (...) {
        d->clear();
        cursorClosed();
        owner.releaseIfIdle();
        throw;
    }
    d->active = true;
    d->current = d->rows.empty() ? -1 : 0;
    d->bof = true;
    d->eof = d->rows.empty();
}

void DbDataSet::Close() {
    if (!d->active)
        return;
    closeWithoutRelease();
    DbConnection& owner = connection();
    try {
        owner.commitPostedRows();
    } catch (...) {
        owner.releaseIfIdle();
        throw;
    }
    owner.releaseIfIdle();
}

void DbDataSet::closeWithoutRelease() {
    if (!d->active)
        return;
    d->clear();
    cursorClosed();
}

bool DbDataSet::Active() const {
    return d->active;
}

void DbDataSet::setActive(bool active) {
    if (active)
        Open();
    else
        Close();
}

void DbDataSet::requireActive() const {
    if (!d->active)
        throw Error("Cannot perform this operation on a closed dataset.");
}

void DbDataSet::checkBrowseMode() {
    if (d->mode != State::Mode::Browse)
        postPending();
}

void DbDataSet::First() {
    requireActive();
    checkBrowseMode();
    d->current = d->rows.empty() ? -1 : 0;
    d->bof = true;
    d->eof = d->rows.empty();
}

void DbDataSet::Next() {
    requireActive();
    checkBrowseMode();
    if (d->eof)
        return;
    if (d->current + 1 < int(d->rows.size())) {
        ++d->current;
        d->bof = false;
    } else {
        d->eof = true;
    }
}

bool DbDataSet::Eof() const {
    return !d->active || d->eof;
}

bool DbDataSet::Bof() const {
    return !d->active || d->bof;
}

int DbDataSet::RecordCount() const {
    requireActive();
    return int(d->rows.size());
}

const QList<DbFieldDef>& DbDataSet::FieldDefs() const {
    return d->fieldDefs;
}

DbField DbDataSet::FieldByName(const QString& name) {
    requireActive();
    const auto found = d->fieldsByName.constFind(name.trimmed().toCaseFolded());
    if (found == d->fieldsByName.constEnd())
        throw Error(QStringLiteral("Field '%1' not found.").arg(name).toStdString());
    return DbField(*this, found.value());
}

bool DbDataSet::Locate(const QString& keyFields, const QVariant& keyValues, DbLocateOptions options) {
    requireActive();
    checkBrowseMode();
    std::vector<int> columns;
    std::vector<DbFieldType> types;
    QString indexName;
    for (const QString& name : keyFields.split(u';')) {
        const int column = FieldByName(name).m_column;
        columns.push_back(column);
        types.push_back(d->columns[size_t(column)].type);
        indexName += QString::number(column) + u',';
    }
    const bool caseInsensitive = options.testFlag(loCaseInsensitive);
    indexName += caseInsensitive ? u'i' : u'c';

    QVariantList values;
    if (keyValues.typeId() == QMetaType::QVariantList)
        values = keyValues.toList();
    else if (keyValues.typeId() == QMetaType::QStringList)
        for (const QString& value : keyValues.toStringList())
            values.append(value);
    else
        values.append(keyValues);
    if (values.size() != qsizetype(columns.size()))
        throw Error(QStringLiteral("Locate: %1 key fields need as many values, not %2.")
                        .arg(columns.size())
                        .arg(values.size())
                        .toStdString());

    std::unique_ptr<LocateIndex>& index = d->indexes[indexName];
    if (!index) {
        index = std::make_unique<LocateIndex>(columns, types, caseInsensitive);
        for (int row = 0; row < int(d->rows.size()); ++row)
            index->add(row, d->rows[size_t(row)].values);
    }
    const int row = index->find(values);
    if (row < 0)
        return false;
    d->current = row;
    d->eof = d->bof = false;
    return true;
}

} // namespace data_access
