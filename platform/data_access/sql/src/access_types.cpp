#include "sql/access_types.h"

#include "base/error.h"

#include <limits>

using base::Error;

namespace sql {

namespace {

enum class Family {
    Text,
    Memo,
    Integer,
    Counter,
    Single,
    Double,
    Currency,
    Decimal,
    DateTime,
    YesNo,
    Binary,
    Guid
};

// One row per Access type. `declared` is the SQLite type: it sets the affinity (INT: integer, CHAR
// and TEXT: text, REAL/DOUB: floating, else numeric; BLOB: none) and the field kind the data-access
// layer reads from it.
struct TypeRow {
    QStringList names;
    Family family;
    const char* declared;
    qint64 min = 0; // Integer: the range Access stores
    qint64 max = 0;
    int defaultLength = -1; // Text without a size; -1: no limit
};

const QList<TypeRow>& typeTable() {
    static const QList<TypeRow> table = {
        {{QStringLiteral("TEXT")}, Family::Text, "VARCHAR", 0, 0, -1}, // TEXT without a size is a memo
        {{QStringLiteral("STRING")}, Family::Text, "VARCHAR", 0, 0, -1},
        {{QStringLiteral("VARCHAR"), QStringLiteral("CHAR"), QStringLiteral("CHARACTER"),
          QStringLiteral("ALPHANUMERIC"), QStringLiteral("NVARCHAR"), QStringLiteral("NCHAR")},
         Family::Text,
         "VARCHAR",
         0,
         0,
         255},
        {{QStringLiteral("MEMO"), QStringLiteral("LONGTEXT"), QStringLiteral("LONGCHAR"),
          QStringLiteral("NOTE"), QStringLiteral("NTEXT")},
         Family::Memo,
         "TEXT"},
        {{QStringLiteral("BYTE"), QStringLiteral("TINYINT"), QStringLiteral("INTEGER1")},
         Family::Integer,
         "TINYINT",
         0,
         255},
        {{QStringLiteral("SHORT"), QStringLiteral("SMALLINT"), QStringLiteral("INTEGER2")},
         Family::Integer,
         "SMALLINT",
         -32768,
         32767},
        {{QStringLiteral("LONG"), QStringLiteral("INTEGER4")},
         Family::Integer,
         "INTEGER",
         std::numeric_limits<qint32>::min(),
         std::numeric_limits<qint32>::max()},
        // INTEGER is Long in Access; the steps' tables and transfers have kept 64-bit values in it.
        {{QStringLiteral("INTEGER"), QStringLiteral("INT")},
         Family::Integer,
         "INTEGER",
         std::numeric_limits<qint64>::min(),
         std::numeric_limits<qint64>::max()},
        {{QStringLiteral("BIGINT")},
         Family::Integer,
         "BIGINT",
         std::numeric_limits<qint64>::min(),
         std::numeric_limits<qint64>::max()},
        {{QStringLiteral("COUNTER"), QStringLiteral("AUTOINCREMENT"), QStringLiteral("IDENTITY")},
         Family::Counter,
         "INTEGER"},
        {{QStringLiteral("SINGLE"), QStringLiteral("REAL"), QStringLiteral("FLOAT4"),
          QStringLiteral("IEEESINGLE")},
         Family::Single,
         "REAL"},
        {{QStringLiteral("DOUBLE"), QStringLiteral("FLOAT"), QStringLiteral("FLOAT8"),
          QStringLiteral("IEEEDOUBLE"), QStringLiteral("NUMBER")},
         Family::Double,
         "DOUBLE"},
        {{QStringLiteral("CURRENCY"), QStringLiteral("MONEY")}, Family::Currency, "CURRENCY"},
        {{QStringLiteral("DECIMAL"), QStringLiteral("NUMERIC"), QStringLiteral("DEC")},
         Family::Decimal,
         "DECIMAL"},
        {{QStringLiteral("DATETIME"), QStringLiteral("DATE"), QStringLiteral("TIME"),
          QStringLiteral("TIMESTAMP")},
         Family::DateTime,
         "DATETIME"},
        {{QStringLiteral("YESNO"), QStringLiteral("BIT"), QStringLiteral("LOGICAL"),
          QStringLiteral("LOGICAL1"), QStringLiteral("BOOLEAN")},
         Family::YesNo,
         "BIT"},
        {{QStringLiteral("LONGBINARY"), QStringLiteral("OLEOBJECT"), QStringLiteral("GENERAL"),
          QStringLiteral("IMAGE"), QStringLiteral("BLOB")},
         Family::Binary,
         "BLOB"},
        {{QStringLiteral("BINARY"), QStringLiteral("VARBINARY")}, Family::Binary, "BLOB", 0, 0, 510},
        {{QStringLiteral("GUID"), QStringLiteral("UNIQUEIDENTIFIER")}, Family::Guid, "CHAR(38)"},
    };
    return table;
}

[[noreturn]] void refuse(const QString& text) {
    throw Error(text.toStdString());
}

QString typeText(const QStringList& words, const QStringList& size) {
    QString text = words.join(u' ');
    if (!size.isEmpty())
        text += u'(' + size.join(QStringLiteral(", ")) + u')';
    return text;
}

qint64 sizeNumber(const QString& text, const QString& type) {
    bool ok = false;
    const qint64 n = text.trimmed().toLongLong(&ok);
    if (!ok)
        refuse(QStringLiteral("Размер «%1» в типе столбца %2 не поддерживается").arg(text.trimmed(), type));
    return n;
}

// A CHECK sees the value before the column's affinity converts it: a text that the affinity will
// turn into the number counts as that number. These give the number, or Null for a value Access
// refuses (a text of no number, a fraction for a whole-number column).
QString wholeNumber(const QString& c) {
    return QStringLiteral(
               "(CASE typeof(%1) WHEN 'integer' THEN %1 "
               "WHEN 'real' THEN (CASE WHEN %1 = CAST(%1 AS INTEGER) THEN CAST(%1 AS INTEGER) END) "
               "WHEN 'text' THEN (CASE WHEN CAST(CAST(%1 AS INTEGER) AS TEXT) = %1 THEN CAST(%1 AS INTEGER) "
               "END) "
               "END)")
        .arg(c);
}
QString number(const QString& c) {
    return QStringLiteral("(CASE typeof(%1) WHEN 'integer' THEN %1 WHEN 'real' THEN %1 "
                          "WHEN 'text' THEN (CASE WHEN CAST(CAST(%1 AS REAL) AS TEXT) = %1 "
                          "OR CAST(CAST(%1 AS INTEGER) AS TEXT) = %1 THEN CAST(%1 AS REAL) END) END)")
        .arg(c);
}

} // namespace

ColumnType columnType(const QStringList& words, const QStringList& size, const QString& column) {
    QStringList key = words;
    if (key == QStringList{QStringLiteral("DOUBLE"), QStringLiteral("PRECISION")})
        key = {QStringLiteral("DOUBLE")};
    const QString text = typeText(words, size);
    if (key.isEmpty())
        return ColumnType{}; // SQLite's own column without a type: values keep their own
    const TypeRow* row = nullptr;
    if (key.size() == 1)
        for (const TypeRow& candidate : typeTable())
            if (candidate.names.contains(key[0])) {
                row = &candidate;
                break;
            }
    if (!row)
        refuse(QStringLiteral("Тип столбца %1 не поддерживается").arg(text));

    ColumnType type;
    type.declared = QString::fromLatin1(row->declared);
    const QString null = QStringLiteral("%1 IS NULL OR ").arg(column);
    const auto noSize = [&] {
        if (!size.isEmpty())
            refuse(QStringLiteral("Тип столбца %1 с размером не поддерживается").arg(text));
    };
    switch (row->family) {
    case Family::Text: {
        if (size.size() > 1)
            refuse(QStringLiteral("Тип столбца %1 не поддерживается").arg(text));
        int length = row->defaultLength;
        if (size.size() == 1) {
            const qint64 n = sizeNumber(size[0], text);
            if (n < 1 || n > 255)
                refuse(
                    QStringLiteral("Длина текстового столбца %1 вне пределов 1-255: %2").arg(column).arg(n));
            length = int(n);
        }
        type.text = true;
        if (length < 0) { // a memo
            type.declared = QStringLiteral("TEXT");
            break;
        }
        type.declared = QStringLiteral("VARCHAR(%1)").arg(length);
        type.maxLength = length;
        type.check = QStringLiteral("length(%1) <= %2").arg(column).arg(length);
        break;
    }
    case Family::Memo:
        noSize();
        type.text = true;
        break;
    case Family::Integer:
        noSize();
        type.rule = ValueRule::Integer;
        type.check = row->max == std::numeric_limits<qint64>::max()
                         ? null + QStringLiteral("%1 IS NOT NULL").arg(wholeNumber(column))
                         : null + QStringLiteral("coalesce(%1 BETWEEN %2 AND %3, 0)")
                                      .arg(wholeNumber(column))
                                      .arg(row->min)
                                      .arg(row->max);
        return type;
    case Family::Counter:
        type.counter = true;
        type.rule = ValueRule::Integer;
        if (size.isEmpty())
            break;
        if (size.size() != 2)
            refuse(QStringLiteral("Тип столбца %1 не поддерживается").arg(text));
        type.seed = sizeNumber(size[0], text);
        type.increment = sizeNumber(size[1], text);
        if (type.increment == 0)
            refuse(QStringLiteral("Шаг счётчика 0 в типе %1 не поддерживается").arg(text));
        break;
    case Family::Single:
        noSize();
        type.rule = ValueRule::Real;
        type.check = null + QStringLiteral("coalesce(abs(%1) <= 3.402823466e38, 0)").arg(number(column));
        break;
    case Family::Double:
        noSize();
        type.rule = ValueRule::Real;
        type.check = null + QStringLiteral("%1 IS NOT NULL").arg(number(column));
        break;
    case Family::Currency:
        noSize();
        type.rule = ValueRule::Real;
        type.check =
            null + QStringLiteral("coalesce(abs(%1) <= 922337203685477.5807, 0)").arg(number(column));
        break;
    case Family::Decimal: {
        qint64 precision = 18;
        qint64 scale = 0;
        if (size.size() > 2)
            refuse(QStringLiteral("Тип столбца %1 не поддерживается").arg(text));
        if (!size.isEmpty())
            precision = sizeNumber(size[0], text);
        if (size.size() == 2)
            scale = sizeNumber(size[1], text);
        if (precision < 1 || precision > 28 || scale < 0 || scale > precision)
            refuse(QStringLiteral("Точность и масштаб в типе столбца %1 не поддерживаются").arg(text));
        type.declared = QStringLiteral("DECIMAL(%1,%2)").arg(precision).arg(scale);
        type.rule = ValueRule::Real;
        type.check =
            null + QStringLiteral("coalesce(abs(%1) < 1e%2, 0)").arg(number(column)).arg(precision - scale);
        break;
    }
    case Family::DateTime:
        noSize();
        break;
    case Family::YesNo:
        noSize();
        type.yesNo = true;
        type.rule = ValueRule::Boolean;
        break;
    case Family::Binary:
        if (size.size() > 1 || (row->defaultLength < 0 && !size.isEmpty()))
            refuse(QStringLiteral("Тип столбца %1 не поддерживается").arg(text));
        if (row->defaultLength > 0) {
            const qint64 n = size.isEmpty() ? row->defaultLength : sizeNumber(size[0], text);
            if (n < 1 || n > 510)
                refuse(
                    QStringLiteral("Длина двоичного столбца %1 вне пределов 1-510: %2").arg(column).arg(n));
            type.check = QStringLiteral("length(CAST(%1 AS BLOB)) <= %2").arg(column).arg(n);
        }
        break;
    case Family::Guid:
        noSize();
        type.text = true;
        type.check =
            null + QStringLiteral("(length(%1) = 38 AND substr(%1, 1, 1) = '{' AND substr(%1, 38, 1) = '}')")
                       .arg(column);
        break;
    }
    return type;
}

} // namespace sql
