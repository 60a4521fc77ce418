#pragma once

#include "base/error.h"

#include <QList>
#include <QString>

#include <optional>

namespace data_access {

// What the provider reports, each with its text as the Russian Access provider words it. The file or
// field the text names goes in `subject`; a cause the system gives (an OS error text) in `detail`.
enum class ProviderFailure {
    FileMissing,    // subject: file
    FileUnreadable, // subject: file, detail: the system's reason
    NotADatabase,   // subject: file
    WrongPassword,  // subject: file
    Locked,         // subject: file
    Damaged,        // subject: file
    ReadOnly,       // subject: file
    DiskFull,       // subject: file
    IoError,        // subject: file, detail: the system's reason
    CannotOpen,     // subject: file, detail: the system's reason
    ProviderMissing,
    NoDataSource,
    BadConnectionString,
    ObjectOpen,
    NoResultSet,
    InvalidStatement,
    FieldTooSmall, // subject: field, detail: its length
    Duplicate,
    NullNotAllowed, // subject: table.field
};

// One message of the database engine about a rejected operation.
struct DbProviderError {
    QString Description;
};

// The data-access failure: the database refused an operation (opening a file, a connection string,
// a statement, a row). It carries the provider's messages, which the connection's `Errors` list
// holds as well; every other error of the data-access layer is a plain `Error`.
class DataAccessError : public base::Error {
public:
    // The message is the descriptions, one per line.
    explicit DataAccessError(QList<DbProviderError> errors);
    // A refusal that comes with no provider message (the list stays empty).
    static DataAccessError withoutProviderErrors(const QString& message);

    const QList<DbProviderError>& errors() const { return m_errors; }
    // What the provider reported, when the failure is one of its table.
    std::optional<ProviderFailure> kind() const { return m_kind; }
    DataAccessError& withKind(ProviderFailure kind) {
        m_kind = kind;
        return *this;
    }

private:
    DataAccessError(const QString& message, QList<DbProviderError> errors);
    QList<DbProviderError> m_errors;
    std::optional<ProviderFailure> m_kind;
};

inline DataAccessError dataAccessError(const QString& description) {
    return DataAccessError({DbProviderError{description}});
}

QString providerText(ProviderFailure failure, const QString& subject = QString(),
                     const QString& detail = QString());

inline DataAccessError providerError(ProviderFailure failure, const QString& subject = QString(),
                                     const QString& detail = QString()) {
    return dataAccessError(providerText(failure, subject, detail)).withKind(failure);
}

// Runs `work`: a plain Error it raises (a statement the translation refuses, say) becomes the
// provider's refusal with the same text, as the provider itself would have refused it.
template <typename Work> decltype(auto) refusedByTheProvider(Work&& work) {
    try {
        return work();
    } catch (const DataAccessError&) {
        throw;
    } catch (const base::Error& error) {
        throw dataAccessError(QString::fromUtf8(error.what()));
    }
}

} // namespace data_access
