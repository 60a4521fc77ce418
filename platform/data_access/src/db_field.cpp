#include "data_access/db_field.h"

#include "base/error.h"
#include "db_dataset_state.h"
#include "db_values.h"

#include <limits>

using base::Error;

namespace data_access {

const QString& DbField::FieldName() const {
    return m_dataSet->d->columns[size_t(m_column)].name;
}

DbFieldType DbField::DataType() const {
    return m_dataSet->d->columns[size_t(m_column)].type;
}

const QVariant& DbField::stored() const {
    m_dataSet->requireActive();
    return m_dataSet->d->value(m_column);
}

bool DbField::IsNull() const {
    return DataType() != ftBoolean && data_access::isNull(stored());
}

QVariant DbField::AsVariant() const {
    return data_access::variantOf(stored(), DataType());
}

QString DbField::AsString() const {
    return data_access::stringOf(stored(), DataType());
}

int DbField::AsInteger() const {
    const qint64 value = AsLargeInt();
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        throw Error(QStringLiteral("The value of field '%1' is out of the integer range.")
                        .arg(FieldName())
                        .toStdString());
    return int(value);
}

qint64 DbField::AsLargeInt() const {
    const QVariant& value = stored();
    if (DataType() == ftBoolean && !data_access::isNull(value))
        return data_access::booleanOf(value, FieldName()) ? -1 : 0;
    return data_access::integerOf(value, FieldName());
}

bool DbField::AsBoolean() const {
    return data_access::booleanOf(stored(), FieldName());
}

void DbField::setAsVariant(const QVariant& value) {
    m_dataSet->requireActive();
    DbDataSet::State& state = *m_dataSet->d;
    if (state.mode == DbDataSet::State::Mode::Browse)
        throw Error("Dataset not in edit or insert mode.");
    if (DataType() == ftAutoInc)
        throw Error(QStringLiteral("Field '%1' cannot be modified.").arg(FieldName()).toStdString());
    state.buffer[size_t(m_column)] = data_access::storedValueFor(value, DataType(), FieldName());
    state.written[size_t(m_column)] = true;
}

void DbField::setAsString(const QString& value) {
    setAsVariant(QVariant(value));
}

void DbField::setAsInteger(qint64 value) {
    setAsVariant(QVariant(qlonglong(value)));
}

void DbField::setAsBoolean(bool value) {
    setAsVariant(QVariant(value));
}

} // namespace data_access
