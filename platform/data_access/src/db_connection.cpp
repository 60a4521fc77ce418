#include "data_access/db_connection.h"

#include "data_access/db_dataset.h"
#include "db_connection_string.h"
#include "db_engine.h"

namespace data_access {

namespace {

const QString supportedProvider = QStringLiteral("Microsoft.ACE.OLEDB.12.0");

} // namespace

struct DbConnection::Impl {
    QString connectionString;
    QString provider;
    bool loginPrompt = true;
    bool keepConnection = true;
    DbConnectMode mode = cmUnknown;
    QList<DbProviderError> errors;
    QList<DbDataSet*> dataSets;
    std::unique_ptr<SqliteDatabase> database;
};

DbConnection::DbConnection()
    : d(std::make_unique<Impl>()) {}

DbConnection::~DbConnection() {
    try {
        Close();
    } catch (const std::exception&) {
        // Nothing can be reported any more.
    }
    for (DbDataSet* dataSet : d->dataSets)
        dataSet->m_connection = nullptr;
}

const QString& DbConnection::ConnectionString() const {
    return d->connectionString;
}

void DbConnection::setConnectionString(const QString& text) {
    if (text == d->connectionString)
        return;
    if (Connected()) {
        d->errors.clear();
        throw DataAccessError::withoutProviderErrors(providerText(ProviderFailure::ObjectOpen));
    }
    d->connectionString = text;
}

const QString& DbConnection::Provider() const {
    return d->provider;
}
void DbConnection::setProvider(const QString& provider) {
    d->provider = provider;
}
bool DbConnection::LoginPrompt() const {
    return d->loginPrompt;
}
void DbConnection::setLoginPrompt(bool prompt) {
    d->loginPrompt = prompt;
}
bool DbConnection::KeepConnection() const {
    return d->keepConnection;
}
void DbConnection::setKeepConnection(bool keep) {
    d->keepConnection = keep;
}
DbConnectMode DbConnection::Mode() const {
    return d->mode;
}
void DbConnection::setMode(DbConnectMode mode) {
    d->mode = mode;
}

void DbConnection::Open() {
    if (d->database)
        return;
    guarded([&] {
        SqliteDatabase::settlePostBatch();
        const DbConnectionString parts = DbConnectionString::parse(d->connectionString);
        const QString provider = parts.provider.isEmpty() ? d->provider : parts.provider;
        if (provider.compare(supportedProvider, Qt::CaseInsensitive) != 0)
            throw providerError(ProviderFailure::ProviderMissing);
        if (parts.dataSource.isEmpty())
            throw providerError(ProviderFailure::NoDataSource);
        d->database = SqliteDatabase::open(parts.dataSource, parts.password);
    });
}

void DbConnection::Close() {
    if (!d->database)
        return;
    for (DbDataSet* dataSet : d->dataSets)
        dataSet->closeWithoutRelease();
    std::unique_ptr<SqliteDatabase> database = std::move(d->database);
    guarded([&] {
        database->raiseDeferredFailure();
        database->commitPostBatch();
    });
}

bool DbConnection::Connected() const {
    return d->database != nullptr;
}

void DbConnection::setConnected(bool connected) {
    if (connected)
        Open();
    else
        Close();
}

const QList<DbProviderError>& DbConnection::Errors() const {
    return d->errors;
}

void DbConnection::GetTableNames(QStringList& list) {
    guarded([&] {
        list.clear();
        SqliteStatement names = database().prepare(QStringLiteral(
            "SELECT name FROM sqlite_master WHERE type IN ('table', 'view') AND lower(substr(name, 1, 7)) <> "
            "'sqlite_' ORDER BY name COLLATE NOCASE"));
        while (names.next())
            list.append(names.value(0).toString());
    });
    releaseIfIdle();
}

SqliteDatabase& DbConnection::database() {
    Open();
    return guarded([&]() -> SqliteDatabase& {
        SqliteDatabase::settlePostBatch();
        d->database->raiseDeferredFailure();
        return *d->database;
    });
}

SqliteDatabase& DbConnection::databaseForPost() {
    Open();
    return guarded([&]() -> SqliteDatabase& {
        d->database->raiseDeferredFailure();
        return *d->database;
    });
}

void DbConnection::attach(DbDataSet* dataSet) {
    d->dataSets.append(dataSet);
}

void DbConnection::detach(DbDataSet* dataSet) {
    d->dataSets.removeOne(dataSet);
}

void DbConnection::releaseIfIdle() {
    if (d->keepConnection || !d->database)
        return;
    for (const DbDataSet* dataSet : d->dataSets)
        if (dataSet->Active())
            return;
    Close();
}

void DbConnection::commitPostedRows() {
    if (d->database)
        guarded([&] { d->database->commitPostBatch(); });
}

void DbConnection::record(const DataAccessError& failure) {
    d->errors = failure.errors();
}

} // namespace data_access
