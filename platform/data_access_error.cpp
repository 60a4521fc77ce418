#include "platform/data_access_error.h"

#include <QStringList>

namespace {

QString joined(const QList<DbProviderError>& errors) {
    QStringList lines;
    for (const DbProviderError& error : errors)
        lines.append(error.Description);
    return lines.join(u'\n');
}

} // namespace

DataAccessError::DataAccessError(QList<DbProviderError> errors)
    : DataAccessError(joined(errors), errors) {}

DataAccessError::DataAccessError(const QString& message, QList<DbProviderError> errors)
    : Error(message.toStdString())
    , m_errors(std::move(errors)) {}

DataAccessError DataAccessError::withoutProviderErrors(const QString& message) {
    return DataAccessError(message, {});
}
