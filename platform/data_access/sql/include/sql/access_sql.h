#pragma once

#include "sql/access_types.h"

#include <QString>
#include <QStringList>

namespace sql {

// Access SQL turned into what SQLite 3.15 runs with the same effect, or refused with an Error that
// names the construct. The translation works on tokens (sql_tokenizer.h), never on the raw text.
//
// - Column types follow one table (access_types.h): the declared SQLite type gives Access's storage,
//   a named CHECK its limits; Yes/No is NOT NULL DEFAULT 0; COUNTER is INTEGER PRIMARY KEY
//   AUTOINCREMENT, with a seed and an increment through access_counter().
// - & + / \ Mod, IIf, Nz, Len, Left, Right, Mid, UCase, LCase, Trim, Now and Date become SQLite
//   expressions or the functions of access_functions.h; True, False, Yes and No are -1 and 0; #date#
//   literals are texts as the data-access layer stores dates; TOP n is LIMIT n.
// - Texts compare without regard to letter case (Cyrillic included) through the collation
//   ACCESS_NOCASE: in comparisons, IN, BETWEEN, ORDER BY, GROUP BY and DISTINCT of the statements that
//   run, and in the stored schema only where a key needs it (UNIQUE, PRIMARY KEY on text). LIKE
//   ignores it through the connection's own like().
// - Functions and constructs of Access that have no translation are refused; SQLite's own functions
//   that Access does not have (typeof, length, ...) pass.
// - ALTER TABLE ... ADD COLUMN a x, b y is one single-column ALTER per column, run all or nothing;
//   ALTER TABLE ... ALTER COLUMN c x has no SQLite form and is carried out as a table rebuild.
// - A closing ";" is dropped; anything after it is an error, as in Access.

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

// A column definition of a stored CREATE TABLE with the type (and what the translation added for it)
// replaced by `accessDefinition`; keys, defaults and other constraints of the column stay.
struct Retyped {
    QString definition; // SQLite text
    ValueRule rule = ValueRule::Any;
    int maxLength = -1; // TEXT(n) and its kin
};
// Raises Error when the new type cannot be given by ALTER COLUMN (COUNTER) or is no Access type.
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

} // namespace sql
