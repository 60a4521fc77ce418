#pragma once

#include "platform/error.h"

#include <QList>
#include <QString>

// One message of the database engine about a rejected operation.
struct DbProviderError {
    QString Description;
};

// The data-access failure: the database refused an operation (opening a file, a connection string,
// a statement, a row). It carries the provider's messages, which the connection's `Errors` list
// holds as well; every other error of the data-access layer is a plain `Error`.
class DataAccessError : public Error {
public:
    // The message is the descriptions, one per line.
    explicit DataAccessError(QList<DbProviderError> errors);
    // A refusal that comes with no provider message (the list stays empty).
    static DataAccessError withoutProviderErrors(const QString& message);

    const QList<DbProviderError>& errors() const { return m_errors; }

private:
    DataAccessError(const QString& message, QList<DbProviderError> errors);
    QList<DbProviderError> m_errors;
};

inline DataAccessError dataAccessError(const QString& description) {
    return DataAccessError({DbProviderError{description}});
}

// Runs `work`: a plain Error it raises (a statement the translation refuses, say) becomes the
// provider's refusal with the same text, as the provider itself would have refused it.
template <typename Work> decltype(auto) refusedByTheProvider(Work&& work) {
    try {
        return work();
    } catch (const DataAccessError&) {
        throw;
    } catch (const Error& error) {
        throw dataAccessError(QString::fromUtf8(error.what()));
    }
}
