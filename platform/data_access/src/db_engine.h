#pragma once

// The engine under the data-access layer: one SQLCipher database handle and its statements.
// Internal to the layer; the components (db_connection.h, db_query.h, db_table.h) are its face.

#include "data_access/data_access_error.h"

#include <QElapsedTimer>
#include <QString>
#include <QVariant>

#include <memory>
#include <optional>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace data_access {
class SqliteDatabase;

// A prepared statement; finalized with the object.
class SqliteStatement {
public:
    SqliteStatement() = default;
    SqliteStatement(SqliteDatabase& database, sqlite3_stmt* statement);
    ~SqliteStatement();
    SqliteStatement(SqliteStatement&& other) noexcept;
    SqliteStatement& operator=(SqliteStatement&& other) noexcept;

    explicit operator bool() const { return m_statement != nullptr; }
    sqlite3_stmt* handle() const { return m_statement; }

    // Index from 1. Values come as the stored-value conversion gives them: an integer, a double,
    // bytes, Null, or text (anything else is bound as its text).
    void bind(int index, const QVariant& value);
    // Steps once: true on a row, false when done. A refusal resets the statement and raises
    // DataAccessError.
    bool next();
    void reset();
    int columnCount() const;
    QVariant value(int column) const;

private:
    SqliteDatabase* m_database = nullptr;
    sqlite3_stmt* m_statement = nullptr;
};

class SqliteDatabase {
public:
    // Opens an existing database file; never creates one. A file whose header is SQLite's is opened
    // as a plain database whatever the password; any other file needs its password (the SQLCipher
    // key). Raises DataAccessError naming the cause: missing file, no database, wrong password,
    // locked, damaged.
    static std::unique_ptr<SqliteDatabase> open(const QString& path, const QString& password);
    ~SqliteDatabase();
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;

    sqlite3* handle() const { return m_db; }

    SqliteStatement prepare(const QString& sql);
    void execute(const QString& sql); // one statement, rows ignored
    qint64 lastInsertRowId() const;
    int changes() const;
    // The engine's last failure in the provider's words, naming the file.
    DataAccessError failure() const;
    [[noreturn]] void fail() const;

    // Rows posted one at a time share one transaction, so that a row costs no commit of its own. The
    // transaction is committed after a bounded number of rows or time, before any other statement
    // of the process (settlePostBatch), when control returns to the event loop, and on close. Each
    // posted row is kept (its statement and values) until the commit: when the commit fails, the
    // rows are stored again in smaller steps, down to single rows, so that a row whose Post
    // returned is lost only when the file cannot take it; then the failure is raised. A commit that
    // fails on the way back to the event loop is raised by the next operation on the database.
    void joinPostBatch();
    // `sql` with `values` bound stores the row again, under the row id it was given.
    void rowPosted(const QString& sql, std::vector<QVariant> values);
    void commitPostBatch();
    static void settlePostBatch();
    void raiseDeferredFailure();

private:
    struct PostedWrite {
        QString sql;
        std::vector<QVariant> values;
    };

    SqliteDatabase(sqlite3* db, QString path);
    bool isLockFailure() const;
    bool storeRange(const std::vector<PostedWrite>& batch, size_t first, size_t last,
                    std::optional<DataAccessError>& why, bool& locked);
    void storeAgain(const std::vector<PostedWrite>& batch, size_t first, size_t last,
                    std::optional<DataAccessError>& lost);

    sqlite3* m_db = nullptr;
    QString m_path;
    std::vector<PostedWrite> m_batch;
    QElapsedTimer m_batchAge;
    std::optional<DataAccessError> m_deferredFailure;
};

} // namespace data_access
