#pragma once

// How field values travel between the components and the engine. Internal to the data-access layer.
// Values are kept as SQLite stores them: qlonglong, double, QString, QByteArray, or an invalid
// QVariant for Null; True is -1.

#include "data_access/db_types.h"

#include <QString>
#include <QVariant>

namespace data_access {

// The field type of a declared column type; `maxLength` gets n of VARCHAR(n), else -1.
DbFieldType fieldTypeOf(const QString& declaredType, bool autoIncrement, int* maxLength);

bool isNull(const QVariant& value);

QVariant variantOf(const QVariant& stored, DbFieldType type);
QString stringOf(const QVariant& stored, DbFieldType type);
qint64 integerOf(const QVariant& stored, const QString& fieldName);
bool booleanOf(const QVariant& stored, const QString& fieldName);

// What a field of `type` stores for a written value; raises Error for a value the type cannot take.
QVariant storedValueFor(const QVariant& value, DbFieldType type, const QString& fieldName);

// A text that is equal for two values exactly when Locate takes them as equal in a field of `type`.
QString locateKey(const QVariant& value, DbFieldType type, bool caseInsensitive);

} // namespace data_access
