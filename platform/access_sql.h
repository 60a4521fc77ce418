#pragma once

#include <QString>
#include <QStringList>

// Access SQL, as the migration steps write it, turned into what SQLite 3.15 runs with the same effect.
// The translation works on tokens (sql_tokenizer.h), never on the raw text.
//
// - AUTOINCREMENT and COUNTER columns become INTEGER PRIMARY KEY AUTOINCREMENT.
// - STRING is TEXT; VARCHAR(n) gets a CHECK on its length; BIT is NOT NULL DEFAULT 0.
// - true and false are -1 and 0; "text" is a quoted text, as in Access.
// - Comparisons of text ignore letter case (Cyrillic included) through the collation ACCESS_NOCASE,
//   added to the statements that run, never to a stored schema. LIKE ignores it through the
//   connection's own like().
// - ALTER TABLE ... ADD COLUMN a x, b y is one single-column ALTER per column, run all or nothing;
//   ALTER TABLE ... ALTER COLUMN c x has no SQLite form and is carried out as a table rebuild.
// - A closing ";" is dropped; anything after it is an error, as in Access.
namespace access_sql {

inline constexpr const char* collation = "ACCESS_NOCASE";

struct Translation {
    enum class Kind { Statement, AddColumns, AlterColumn };
    Kind kind = Kind::Statement;
    QString sql;             // Statement: the SQLite statement
    QString table;           // AddColumns, AlterColumn: the table's name
    QStringList definitions; // AddColumns: each column's SQLite definition
    QString column;          // AlterColumn: the column's name
    QString newDefinition;   // AlterColumn: the new type and any constraints, as written in Access SQL
};

// Raises Error for a statement the translation cannot read (an unclosed quote, text after ";").
Translation translate(const QString& accessSql);

// What a column's values must be after ALTER COLUMN for the change to keep them.
enum class ValueRule {
    Any,     // text, dates and columns without a declared type take every value
    Integer, // whole numbers or Null
    Real,    // numbers or Null
    Boolean, // Yes/No: numbers, Null becoming No
};

// A column definition of a stored CREATE TABLE with the type (and what the translation added for it)
// replaced by `accessDefinition`; keys, defaults and other constraints of the column stay.
struct Retyped {
    QString definition; // SQLite text
    ValueRule rule = ValueRule::Any;
    int maxLength = -1; // VARCHAR(n)
};
// Raises Error when the new type cannot be given by ALTER COLUMN (AUTOINCREMENT, COUNTER).
Retyped retypeColumn(const QString& storedDefinition, const QString& accessDefinition);

// A stored CREATE TABLE statement in its parts.
struct StoredTable {
    QString head;            // "CREATE TABLE name"
    QStringList definitions; // columns and table constraints, in order
    QString tail;            // what follows the closing parenthesis (WITHOUT ROWID)
};
// Raises Error for a text that is no CREATE TABLE with a definition list.
StoredTable parseStoredTable(const QString& createSql);
// The column a definition defines; empty for a table constraint.
QString definedColumn(const QString& storedDefinition);

} // namespace access_sql
