#pragma once

#include "data_access/data_access_error.h"
#include "data_access/db_types.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

namespace data_access {

class DbDataSet;
class SqliteDatabase;

// A connection to one database file, named by an OLE DB connection string
// (db_connection_string.h). The queries and tables made on it open it when they need it.
class DbConnection {
public:
    DbConnection();
    ~DbConnection();
    DbConnection(const DbConnection&) = delete;
    DbConnection& operator=(const DbConnection&) = delete;

    const QString& ConnectionString() const;
    // Assigning the string the connection has does nothing; a different one is kept for the next
    // open, and refused with a DataAccessError while the connection is open.
    void setConnectionString(const QString& text);
    // The provider used when the string names none.
    const QString& Provider() const;
    void setProvider(const QString& provider);
    // The engine never asks the operator anything on open: the password comes from the string.
    bool LoginPrompt() const;
    void setLoginPrompt(bool prompt);
    // Off: the connection closes itself when the last of its queries and tables has closed (or a
    // statement ran with none of them open); the next use opens it again with the same string.
    bool KeepConnection() const;
    void setKeepConnection(bool keep);
    DbConnectMode Mode() const;
    void setMode(DbConnectMode mode);

    // Opening an open connection does nothing; closing closes its queries and tables first.
    void Open();
    void Close();
    bool Connected() const;
    void setConnected(bool connected);

    // The provider's messages of the last data-access failure on this connection.
    const QList<DbProviderError>& Errors() const;

    // The names of the database's tables and views, without SQLite's own (sqlite_...), sorted.
    void GetTableNames(QStringList& list);

private:
    friend class DbDataSet;
    friend class DbQuery;
    friend class DbTable;

    // The open database, opening it first; rows posted anywhere in the process are committed.
    SqliteDatabase& database();
    // The same, keeping this connection's batch of posted rows open.
    SqliteDatabase& databaseForPost();
    void attach(DbDataSet* dataSet);
    void detach(DbDataSet* dataSet);
    // Ends a use: without KeepConnection an idle connection closes.
    void releaseIfIdle();
    // Commits the rows posted through this connection's tables that are not committed yet.
    void commitPostedRows();
    void record(const DataAccessError& failure);

    // Runs `operation`, keeping the provider's messages of a data-access failure in Errors.
    template <typename Operation> decltype(auto) guarded(Operation&& operation) {
        try {
            return operation();
        } catch (const DataAccessError& failure) {
            record(failure);
            throw;
        }
    }

    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace data_access
