#include "db_values.h"

#include "base/error.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>

#include <cmath>
#include <optional>

using base::Error;

namespace data_access {

namespace {

bool isNumber(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

bool isFloating(const QVariant& value) {
    return value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float;
}

bool isText(const QVariant& value) {
    return value.typeId() == QMetaType::QString || value.typeId() == QMetaType::QByteArray;
}

std::optional<qint64> parseInteger(const QString& text) {
    bool ok = false;
    const QString trimmed = text.trimmed();
    const qint64 n = trimmed.toLongLong(&ok);
    if (ok)
        return n;
    const double d = trimmed.toDouble(&ok);
    if (ok && std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 9.2e18)
        return qint64(d);
    return std::nullopt;
}

std::optional<double> parseDouble(const QString& text) {
    bool ok = false;
    const double d = text.trimmed().toDouble(&ok);
    return ok ? std::optional<double>(d) : std::nullopt;
}

std::optional<bool> parseBoolean(const QString& text) {
    const QString t = text.trimmed();
    if (t.compare(u"true", Qt::CaseInsensitive) == 0 || t.compare(u"yes", Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(u"false", Qt::CaseInsensitive) == 0 || t.compare(u"no", Qt::CaseInsensitive) == 0)
        return false;
    if (const std::optional<double> d = parseDouble(t))
        return *d != 0;
    return std::nullopt;
}

QString textOf(const QVariant& value) {
    if (value.typeId() == QMetaType::QByteArray)
        return QString::fromUtf8(value.toByteArray());
    if (isFloating(value)) // the shortest text that reads back as the same number
        return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    if (value.typeId() == QMetaType::QDateTime)
        return value.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (value.typeId() == QMetaType::QDate)
        return value.toDate().toString(QStringLiteral("yyyy-MM-dd"));
    return value.toString();
}

[[noreturn]] void invalid(const QVariant& value, const char* kind, const QString& fieldName) {
    throw Error(QStringLiteral("'%1' is not a valid %2 value for field '%3'.")
                    .arg(textOf(value), QString::fromLatin1(kind), fieldName)
                    .toStdString());
}

} // namespace

DbFieldType fieldTypeOf(const QString& declaredType, bool autoIncrement, int* maxLength) {
    *maxLength = -1;
    if (autoIncrement)
        return ftAutoInc;
    const QString type = declaredType.trimmed().toUpper();
    if (type.isEmpty())
        return ftUnknown;
    if (type.startsWith(u"BIT") || type.startsWith(u"BOOL"))
        return ftBoolean;
    if (type.contains(u"INT"))
        return ftInteger;
    if (type.contains(u"CHAR") || type.contains(u"CLOB") || type.contains(u"TEXT") ||
        type.startsWith(u"STRING")) {
        if (type.startsWith(u"VARCHAR")) {
            const qsizetype open = type.indexOf(u'(');
            const qsizetype close = type.indexOf(u')');
            bool ok = false;
            const int n =
                open > 0 && close > open ? type.mid(open + 1, close - open - 1).trimmed().toInt(&ok) : 0;
            if (ok && n > 0)
                *maxLength = n;
        }
        return ftString;
    }
    if (type.contains(u"REAL") || type.contains(u"FLOA") || type.contains(u"DOUB"))
        return ftFloat;
    if (type.contains(u"DATE") || type.contains(u"TIME"))
        return ftDateTime;
    if (type.contains(u"BLOB"))
        return ftBlob;
    return ftUnknown;
}

bool isNull(const QVariant& value) {
    return !value.isValid() || value.isNull();
}

QVariant variantOf(const QVariant& stored, DbFieldType type) {
    if (isNull(stored)) // a Yes/No field is never Null: a file of another tool may hold one
        return type == ftBoolean ? QVariant(false) : QVariant();
    if (type == ftBoolean) {
        if (isNumber(stored))
            return QVariant(stored.toDouble() != 0);
        if (const std::optional<bool> b = parseBoolean(textOf(stored)))
            return QVariant(*b);
    }
    return stored;
}

QString stringOf(const QVariant& stored, DbFieldType type) {
    if (isNull(stored) && type != ftBoolean)
        return QString();
    const QVariant value = variantOf(stored, type);
    return textOf(value);
}

qint64 integerOf(const QVariant& stored, const QString& fieldName) {
    if (isNull(stored))
        return 0;
    if (isFloating(stored))
        return qRound64(stored.toDouble());
    if (isNumber(stored))
        return stored.toLongLong();
    if (stored.typeId() == QMetaType::Bool)
        return stored.toBool() ? -1 : 0;
    if (const std::optional<qint64> n = parseInteger(textOf(stored)))
        return *n;
    invalid(stored, "integer", fieldName);
}

bool booleanOf(const QVariant& stored, const QString& fieldName) {
    if (isNull(stored))
        return false;
    if (stored.typeId() == QMetaType::Bool)
        return stored.toBool();
    if (isNumber(stored))
        return stored.toDouble() != 0;
    if (const std::optional<bool> b = parseBoolean(textOf(stored)))
        return *b;
    invalid(stored, "boolean", fieldName);
}

QVariant storedValueFor(const QVariant& value, DbFieldType type, const QString& fieldName) {
    if (isNull(value))
        return type == ftBoolean ? QVariant(qlonglong(0)) : QVariant(); // a Yes/No field is never Null
    const bool emptyText = isText(value) && textOf(value).isEmpty();
    switch (type) {
    case ftBoolean:
        return QVariant(qlonglong(emptyText ? false : booleanOf(value, fieldName)) * -1);
    case ftInteger:
    case ftAutoInc:
        if (emptyText)
            return QVariant();
        return QVariant(qlonglong(integerOf(value, fieldName)));
    case ftFloat:
        if (emptyText)
            return QVariant();
        if (isNumber(value))
            return QVariant(value.toDouble());
        if (const std::optional<double> d = parseDouble(textOf(value)))
            return QVariant(*d);
        invalid(value, "floating-point", fieldName);
    case ftString:
        return QVariant(textOf(value));
    case ftDateTime:
        if (emptyText)
            return QVariant();
        if (value.typeId() == QMetaType::QDateTime || value.typeId() == QMetaType::QDate)
            return QVariant(textOf(value));
        [[fallthrough]];
    default:
        if (value.typeId() == QMetaType::Bool)
            return QVariant(qlonglong(value.toBool() ? -1 : 0));
        if (isFloating(value))
            return QVariant(value.toDouble());
        if (isNumber(value))
            return QVariant(value.toLongLong());
        if (value.typeId() == QMetaType::QByteArray)
            return value;
        return QVariant(textOf(value));
    }
}

QString locateKey(const QVariant& value, DbFieldType type, bool caseInsensitive) {
    if (isNull(value))
        return QStringLiteral("N");
    switch (type) {
    case ftInteger:
    case ftAutoInc:
        if (isNumber(value) && (!isFloating(value) || value.toDouble() == std::floor(value.toDouble())))
            return u'I' + QString::number(isFloating(value) ? qint64(value.toDouble()) : value.toLongLong());
        if (value.typeId() == QMetaType::Bool)
            return u'I' + QString::number(value.toBool() ? -1 : 0);
        if (isText(value))
            if (const std::optional<qint64> n = parseInteger(textOf(value)))
                return u'I' + QString::number(*n);
        break;
    case ftBoolean:
        if (value.typeId() == QMetaType::Bool || isNumber(value))
            return value.toDouble() != 0 ? QStringLiteral("B1") : QStringLiteral("B0");
        if (const std::optional<bool> b = parseBoolean(textOf(value)))
            return *b ? QStringLiteral("B1") : QStringLiteral("B0");
        break;
    case ftFloat:
        if (isNumber(value))
            return u'F' + QString::number(value.toDouble(), 'g', 17);
        if (const std::optional<double> d = parseDouble(textOf(value)))
            return u'F' + QString::number(*d, 'g', 17);
        break;
    default:
        break;
    }
    const QString text = textOf(value);
    return u'S' + (caseInsensitive ? text.toCaseFolded() : text);
}

} // namespace data_access
