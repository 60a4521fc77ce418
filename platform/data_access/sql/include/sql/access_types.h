#pragma once

#include <QString>
#include <QStringList>

namespace sql {

// The column types of Access SQL and what each becomes in SQLite, so that a column stores and
// refuses what the Access column would.

// What a column's values must be after ALTER COLUMN for the change to keep them.
enum class ValueRule {
    Any,     // text, dates and columns without a declared type take every value
    Integer, // whole numbers or Null
    Real,    // numbers or Null
    Boolean, // Yes/No: numbers, Null becoming No
};

struct ColumnType {
    QString declared;   // the SQLite type; its name tells the data-access layer the field's kind
    QString check;      // a CHECK expression on `column` that keeps the values in the type; may be empty
    bool yesNo = false; // never Null: NOT NULL DEFAULT 0
    bool counter = false;
    qint64 seed = 1; // COUNTER(seed, increment)
    qint64 increment = 1;
    bool text = false; // compared without regard to letter case in keys
    ValueRule rule = ValueRule::Any;
    int maxLength = -1; // TEXT(n) and its kin
};

// `words`: the type's words in upper case (one, or two for DOUBLE PRECISION and the like);
// `size`: what its parentheses hold, split at commas; `column`: the column's name as written, for
// the CHECK. No words: SQLite's column without a type, taken as it is. Raises Error, worded for the
// operator, for a type Access does not have or a size it refuses.
ColumnType columnType(const QStringList& words, const QStringList& size, const QString& column);

// The name of the CHECK constraint that columnType() asks for, so that a later ALTER COLUMN can
// replace it.
inline constexpr const char* checkNamePrefix = "access ";

} // namespace sql
