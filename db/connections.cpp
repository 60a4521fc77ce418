// The two database connections of the steps: their settings and the connect operations.

#include "data_access/data_access_error.h"
#include "db/connection_strings.h"
#include "db/database_steps.h"
#include "filesystem/paths.h"
#include "seams/activity_log.h"
#include "seams/dialogs.h"

using data_access::cmShareDenyNone;
using data_access::DataAccessError;
using data_access::DbConnection;
using data_access::DbProviderError;

db::DatabaseSteps::DatabaseSteps(const Context& context)
    : m_log(context.log)
    , m_dialogs(context.dialogs)
    , m_registry(context.registry)
    , m_updaterFolder(context.updaterFolder)
    , m_controls(context.controls) {
    setUpDataAccess();
}

void db::DatabaseSteps::AddToLog(const QString& text) {
    m_log.AddToLog(text);
}

void db::DatabaseSteps::AppendToLog(const QString& text) {
    m_log.AppendToLog(text);
}

void db::DatabaseSteps::setUpDataAccess() {
    ADOConnection1.setProvider(db::provider);
    ADOConnection1.setLoginPrompt(false);
    ADOConnection1.setKeepConnection(false);
    ADOConnection1.setMode(cmShareDenyNone);

    ADOConnection2.setProvider(db::provider);
    ADOConnection2.setLoginPrompt(false);
}

bool db::DatabaseSteps::connectTo(DbConnection& connection, const QString& base_name, const QString& pswd,
                                  bool closeFirst) {
    if (!filesystem::fileExists(base_name))
        return false;
    try {
        if (closeFirst)
            connection.setConnected(false);
        connection.setConnectionString(db::connectionString(base_name, pswd));
        connection.setLoginPrompt(false);
        connection.Open();
        return true;
    } catch (const DataAccessError&) {
        reportProviderErrors(connection);
        return false;
    }
}

void db::DatabaseSteps::reportProviderErrors(DbConnection& connection) {
    const QList<DbProviderError> errors = connection.Errors();
    for (const DbProviderError& error : errors)
        m_dialogs.providerError(error.Description);
}

bool db::DatabaseSteps::connectToBaseUser(const QString& base_name, const QString& pswd) {
    return connectTo(ADOConnection1, base_name, pswd, false);
}

bool db::DatabaseSteps::connectToBase2(const QString& base_name, const QString& pswd) {
    return connectTo(ADOConnection2, base_name, pswd, true);
}

void db::DatabaseSteps::FormClose() {
    // The second closes even when the first reports a failure.
    try {
        ADOConnection1.setConnected(false);
    } catch (...) {
        ADOConnection2.setConnected(false);
        throw;
    }
    ADOConnection2.setConnected(false);
}
