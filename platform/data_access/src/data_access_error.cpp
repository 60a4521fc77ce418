#include "data_access/data_access_error.h"

#include <QStringList>

using base::Error;

namespace data_access {

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

QString providerText(ProviderFailure failure, const QString& subject, const QString& detail) {
    struct Entry {
        ProviderFailure failure;
        const char* text;
    };
    // %1 is the subject, %2 the detail.
    static const Entry table[] = {
        {ProviderFailure::FileMissing, "Не удается найти файл '%1'."},
        {ProviderFailure::FileUnreadable, "Не удается открыть файл '%1': %2."},
        {ProviderFailure::NotADatabase, "Нераспознанный формат базы данных '%1'."},
        {ProviderFailure::WrongPassword, "Недопустимый пароль базы данных '%1'."},
        {ProviderFailure::Locked, "Не удается использовать '%1'; файл уже используется."},
        {ProviderFailure::Damaged,
         "База данных '%1' нуждается в восстановлении или не является файлом базы данных."},
        {ProviderFailure::ReadOnly,
         "Не удается обновить '%1'. База данных или объект доступны только для чтения."},
        {ProviderFailure::DiskFull, "Недостаточно места на диске для базы данных '%1'."},
        {ProviderFailure::IoError, "Ошибка диска или сети при работе с базой данных '%1': %2."},
        {ProviderFailure::CannotOpen, "Не удается открыть файл '%1' или выполнить запись в него: %2."},
        {ProviderFailure::ProviderMissing,
         "Не удается найти поставщик. Возможно, он установлен неправильно."},
        {ProviderFailure::NoDataSource, "В строке подключения не указан файл базы данных."},
        {ProviderFailure::BadConnectionString,
         "Формат строки инициализации не соответствует спецификации OLE DB."},
        {ProviderFailure::ObjectOpen, "Операция не допускается, если объект открыт."},
        {ProviderFailure::NoResultSet, "Текст команды не возвращает набор записей."},
        {ProviderFailure::InvalidStatement,
         "Недопустимая инструкция SQL; предполагается 'DELETE', 'INSERT', 'PROCEDURE', 'SELECT' или "
         "'UPDATE'."},
        {ProviderFailure::FieldTooSmall,
         "Поле '%1' слишком мало для принятия такого объема данных: в нем не более %2 знаков."},
        {ProviderFailure::Duplicate,
         "Изменения не были успешно внесены в таблицу, так как они приведут к появлению повторяющихся "
         "значений в индексе, основном ключе или связи."},
        {ProviderFailure::NullNotAllowed,
         "Поле '%1' не может содержать значение Null, так как для него требуется значение."},
    };
    for (const Entry& entry : table)
        if (entry.failure == failure) {
            const QString text = QString::fromUtf8(entry.text);
            // One pass, so that a name holding "%2" stays as it is.
            if (text.contains(u"%2"))
                return text.arg(subject, detail);
            return text.contains(u"%1") ? text.arg(subject) : text;
        }
    return detail;
}

} // namespace data_access
