// The two database connections of the main window: their settings and the connect operations.

#include "app/main.h"
#include "data_access/data_access_error.h"
#include "db/connection_strings.h"
#include "filesystem/paths.h"
#include "seams/dialogs.h"

using data_access::cmShareDenyNone;
using data_access::DataAccessError;
using data_access::DbConnection;
using data_access::DbProviderError;

void TfmMain::setUpDataAccess() {
    ADOConnection1.setProvider(db::provider);
    ADOConnection1.setLoginPrompt(false);
    ADOConnection1.setKeepConnection(false);
    ADOConnection1.setMode(cmShareDenyNone);

    ADOConnection2.setProvider(db::provider);
    ADOConnection2.setLoginPrompt(false);
}

bool TfmMain::connectTo(DbConnection& connection, const QString& base_name, const QString& pswd,
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

void TfmMain::reportProviderErrors(DbConnection& connection) {
    const QList<DbProviderError> errors = connection.Errors();
    for (const DbProviderError& error : errors)
        m_seams.dialogs->providerError(error.Description);
}

bool TfmMain::connectToBaseUser(const QString& base_name, const QString& pswd) {
    return connectTo(ADOConnection1, base_name, pswd, false);
}

bool TfmMain::connectToBase2(const QString& base_name, const QString& pswd) {
    return connectTo(ADOConnection2, base_name, pswd, true);
}

void TfmMain::FormClose() {
    // The second closes even when the first reports a failure.
    try {
        ADOConnection1.setConnected(false);
    } catch (...) {
        ADOConnection2.setConnected(false);
        throw;
    }
    ADOConnection2.setConnected(false);
}
