#include "platform/access_sql.h"

#include "platform/error.h"
#include "platform/sql_tokenizer.h"

#include <QSet>

namespace access_sql {
namespace {

using Kind = SqlToken::Kind;
using Tokens = QList<SqlToken>;

constexpr qsizetype none = -1;

// The first significant token at or after `i`, or tokens.size().
qsizetype nextSignificant(const Tokens& tokens, qsizetype i) {
    while (i < tokens.size() && !tokens[i].isSignificant())
        ++i;
    return i;
}

qsizetype previousSignificant(const Tokens& tokens, qsizetype i) {
    --i;
    while (i >= 0 && !tokens[i].isSignificant())
        --i;
    return i;
}

// The ")" that closes the "(" at `open`, or none when the text leaves it open.
qsizetype closingParenthesis(const Tokens& tokens, qsizetype open) {
    int depth = 0;
    for (qsizetype i = open; i < tokens.size(); ++i) {
        if (tokens[i].isSymbol(u"("))
            ++depth;
        else if (tokens[i].isSymbol(u")") && --depth == 0)
            return i;
    }
    return none;
}

Tokens slice(const Tokens& tokens, qsizetype from, qsizetype to) {
    return tokens.mid(from, to - from);
}

// The parts of tokens[from, to) between the commas outside parentheses.
QList<Tokens> splitAtCommas(const Tokens& tokens, qsizetype from, qsizetype to) {
    QList<Tokens> parts;
    int depth = 0;
    qsizetype start = from;
    for (qsizetype i = from; i < to; ++i) {
        if (tokens[i].isSymbol(u"("))
            ++depth;
        else if (tokens[i].isSymbol(u")"))
            --depth;
        else if (depth == 0 && tokens[i].isSymbol(u",")) {
            parts.append(slice(tokens, start, i));
            start = i + 1;
        }
    }
    parts.append(slice(tokens, start, to));
    return parts;
}

QString trimmedText(const Tokens& tokens) {
    return joinTokens(tokens).trimmed();
}

SqlToken word(const QString& text) {
    return {Kind::Word, text};
}
SqlToken space() {
    return {Kind::Space, QStringLiteral(" ")};
}

// true and false are no literals in SQLite 3.15; Access stores True as -1.
void translateBooleans(Tokens& tokens) {
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        SqlToken& token = tokens[i];
        if (!token.isWord(u"true") && !token.isWord(u"false"))
            continue;
        const qsizetype before = previousSignificant(tokens, i);
        const qsizetype after = nextSignificant(tokens, i + 1);
        if (before >= 0 && tokens[before].isSymbol(u"."))
            continue; // a qualified name
        if (after < tokens.size() && (tokens[after].isSymbol(u"(") || tokens[after].isSymbol(u".")))
            continue; // a function or a table
        token = {Kind::Number, token.isWord(u"true") ? QStringLiteral("-1") : QStringLiteral("0")};
    }
}

bool isComparison(const SqlToken& token) {
    static const QSet<QString> operators = {QStringLiteral("="),  QStringLiteral("=="), QStringLiteral("<>"),
                                            QStringLiteral("!="), QStringLiteral("<"),  QStringLiteral("<="),
                                            QStringLiteral(">"),  QStringLiteral(">=")};
    return token.kind == Kind::Symbol && operators.contains(token.text);
}

// The last token of the operand that starts at `i`, as far as a postfix COLLATE binds: a literal, a
// possibly qualified name, a function call or a parenthesised expression. None for other forms
// (CASE, EXISTS, NOT ...), which are then left as they are.
qsizetype operandEnd(const Tokens& tokens, qsizetype i) {
    i = nextSignificant(tokens, i);
    while (i < tokens.size() &&
           (tokens[i].isSymbol(u"-") || tokens[i].isSymbol(u"+") || tokens[i].isSymbol(u"~")))
        i = nextSignificant(tokens, i + 1);
    if (i >= tokens.size())
        return none;
    const SqlToken& token = tokens[i];
    if (token.kind == Kind::String || token.kind == Kind::Number || token.kind == Kind::Parameter)
        return i;
    if (token.isSymbol(u"("))
        return closingParenthesis(tokens, i);
    if (!token.isIdentifier())
        return none;
    for (const char16_t* keyword : {u"CASE", u"NOT", u"EXISTS", u"SELECT", u"ALL", u"ANY", u"SOME"})
        if (token.isWord(keyword))
            return none;
    qsizetype end = i;
    for (;;) {
        const qsizetype dot = nextSignificant(tokens, end + 1);
        if (dot >= tokens.size() || !tokens[dot].isSymbol(u"."))
            break;
        const qsizetype part = nextSignificant(tokens, dot + 1);
        if (part >= tokens.size() || !tokens[part].isIdentifier())
            break;
        end = part;
    }
    const qsizetype call = nextSignificant(tokens, end + 1);
    if (call < tokens.size() && tokens[call].isSymbol(u"("))
        return closingParenthesis(tokens, call);
    return end;
}

// Every comparison gets the collation on its right operand, which takes it for the comparison
// (SQLite lets an explicit collation decide). The assignments of an UPDATE's SET are no comparisons.
void addCollations(Tokens& tokens) {
    const qsizetype first = nextSignificant(tokens, 0);
    const bool isUpdate = first < tokens.size() && tokens[first].isWord(u"UPDATE");
    QSet<qsizetype> collateAfter;
    int depth = 0;
    bool inSet = false;
    bool expectAssignment = false;
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        const SqlToken& token = tokens[i];
        if (token.isSymbol(u"(")) {
            ++depth;
        } else if (token.isSymbol(u")")) {
            --depth;
        } else if (isUpdate && depth == 0 && token.isWord(u"SET")) {
            inSet = expectAssignment = true;
        } else if (inSet && depth == 0 &&
                   (token.isWord(u"WHERE") || token.isWord(u"ORDER") || token.isWord(u"LIMIT"))) {
            inSet = expectAssignment = false;
        } else if (inSet && depth == 0 && token.isSymbol(u",")) {
            expectAssignment = true;
        } else if (isComparison(token)) {
            if (inSet && depth == 0 && expectAssignment && token.text == u"=") {
                expectAssignment = false;
                continue;
            }
            const qsizetype end = operandEnd(tokens, i + 1);
            if (end == none)
                continue;
            const qsizetype after = nextSignificant(tokens, end + 1);
            if (after < tokens.size() && tokens[after].isWord(u"COLLATE"))
                continue;
            collateAfter.insert(end);
        }
    }
    if (collateAfter.isEmpty())
        return;
    Tokens out;
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        out.append(tokens[i]);
        if (collateAfter.contains(i))
            out << space() << word(QStringLiteral("COLLATE")) << space()
                << word(QString::fromLatin1(collation));
    }
    tokens = out;
}

bool isConstraintWord(const SqlToken& token) {
    for (const char16_t* keyword : {u"CONSTRAINT", u"PRIMARY", u"NOT", u"NULL", u"UNIQUE", u"CHECK",
                                    u"DEFAULT", u"COLLATE", u"REFERENCES", u"GENERATED", u"AS"})
        if (token.isWord(keyword))
            return true;
    return false;
}

bool isTableConstraint(const Tokens& definition) {
    const qsizetype first = nextSignificant(definition, 0);
    if (first >= definition.size())
        return false;
    for (const char16_t* keyword : {u"CONSTRAINT", u"PRIMARY", u"UNIQUE", u"CHECK", u"FOREIGN"})
        if (definition[first].isWord(keyword))
            return true;
    return false;
}

// A column definition cut into its name, its type and the constraints that follow.
struct ColumnParts {
    Tokens head;        // the name and what precedes it
    QString nameText;   // the name as written
    Tokens type;        // the type, with its size in parentheses
    QStringList words;  // the type's words in upper case
    QStringList size;   // what the parentheses hold, split at commas
    Tokens constraints; // the rest
};

ColumnParts cutColumn(const Tokens& definition) {
    ColumnParts parts;
    const qsizetype name = nextSignificant(definition, 0);
    if (name >= definition.size()) {
        parts.head = definition;
        return parts;
    }
    parts.nameText = definition[name].text;
    const qsizetype typeStart = nextSignificant(definition, name + 1);
    qsizetype typeEnd = none;
    qsizetype i = typeStart;
    while (i < definition.size() && definition[i].kind == Kind::Word && !isConstraintWord(definition[i])) {
        parts.words.append(definition[i].text.toUpper());
        typeEnd = i;
        i = nextSignificant(definition, i + 1);
    }
    if (typeEnd != none && i < definition.size() && definition[i].isSymbol(u"(")) {
        const qsizetype close = closingParenthesis(definition, i);
        if (close != none) {
            for (const Tokens& argument : splitAtCommas(definition, i + 1, close))
                parts.size.append(trimmedText(argument));
            typeEnd = close;
        }
    }
    if (typeEnd == none) {
        parts.head = slice(definition, 0, name + 1);
        parts.constraints = slice(definition, name + 1, definition.size());
        return parts;
    }
    parts.head = slice(definition, 0, typeStart);
    parts.type = slice(definition, typeStart, typeEnd + 1);
    parts.constraints = slice(definition, typeEnd + 1, definition.size());
    return parts;
}

// Whether the significant tokens starting at `i` are `words` (case ignored); `end` gets the index
// after them.
bool startsWith(const Tokens& tokens, qsizetype i, const QStringList& words, qsizetype* end = nullptr) {
    for (const QString& expected : words) {
        i = nextSignificant(tokens, i);
        if (i >= tokens.size() || tokens[i].text.compare(expected, Qt::CaseInsensitive) != 0)
            return false;
        ++i;
    }
    if (end)
        *end = i;
    return true;
}

bool containsWords(const Tokens& tokens, const QStringList& words) {
    for (qsizetype i = 0; i < tokens.size(); ++i)
        if (tokens[i].isSignificant() && startsWith(tokens, i, words))
            return true;
    return false;
}

bool isCounter(const ColumnParts& parts) {
    return parts.words.size() == 1 && parts.size.isEmpty() &&
           (parts.words[0] == u"COUNTER" || parts.words[0] == u"AUTOINCREMENT");
}

bool isVarchar(const ColumnParts& parts, int* length = nullptr) {
    if (parts.words.size() != 1 || parts.words[0] != u"VARCHAR" || parts.size.size() != 1)
        return false;
    bool ok = false;
    const int n = parts.size[0].toInt(&ok);
    if (length)
        *length = n;
    return ok && n > 0;
}

bool isBit(const ColumnParts& parts) {
    return parts.words.size() == 1 && parts.words[0] == u"BIT";
}

// The primary key of a COUNTER column, with AUTOINCREMENT where SQLite wants it.
Tokens withAutoIncrement(Tokens constraints) {
    for (qsizetype i = 0; i < constraints.size(); ++i) {
        qsizetype end = 0;
        if (!constraints[i].isSignificant() ||
            !startsWith(constraints, i, {QStringLiteral("PRIMARY"), QStringLiteral("KEY")}, &end))
            continue;
        qsizetype next = nextSignificant(constraints, end);
        if (next < constraints.size() &&
            (constraints[next].isWord(u"ASC") || constraints[next].isWord(u"DESC")))
            end = next + 1;
        qsizetype conflictEnd = 0;
        if (startsWith(constraints, end, {QStringLiteral("ON"), QStringLiteral("CONFLICT")}, &conflictEnd))
            end = nextSignificant(constraints, conflictEnd) + 1;
        next = nextSignificant(constraints, end);
        if (next < constraints.size() && constraints[next].isWord(u"AUTOINCREMENT"))
            return constraints;
        constraints.insert(end, word(QStringLiteral("AUTOINCREMENT")));
        constraints.insert(end, space());
        return constraints;
    }
    const qsizetype last = previousSignificant(constraints, constraints.size());
    constraints.insert(last + 1, word(QStringLiteral("PRIMARY KEY AUTOINCREMENT")));
    constraints.insert(last + 1, space());
    return constraints;
}

// One column definition of CREATE TABLE, ADD COLUMN or ALTER COLUMN in SQLite's terms.
QString translateColumn(Tokens definition) {
    translateBooleans(definition);
    ColumnParts parts = cutColumn(definition);
    QString type = joinTokens(parts.type);
    QString added;
    if (isCounter(parts)) {
        type = QStringLiteral("INTEGER");
        parts.constraints = withAutoIncrement(parts.constraints);
    } else if (!parts.words.isEmpty() && parts.words[0] == u"STRING") {
        type = QStringLiteral("TEXT") + joinTokens(parts.type).mid(parts.type[0].text.size());
    } else if (int length = 0; isVarchar(parts, &length)) {
        added = QStringLiteral(" CHECK (length(%1) <= %2)").arg(parts.nameText).arg(length);
    } else if (isBit(parts)) {
        if (!containsWords(parts.constraints, {QStringLiteral("NOT"), QStringLiteral("NULL")}))
            added += QStringLiteral(" NOT NULL");
        if (!containsWords(parts.constraints, {QStringLiteral("DEFAULT")}))
            added += QStringLiteral(" DEFAULT 0");
    }
    return joinTokens(parts.head) + type + added + joinTokens(parts.constraints);
}

QString translateCreateTable(const Tokens& tokens, qsizetype tableWord) {
    qsizetype name = nextSignificant(tokens, tableWord + 1);
    qsizetype end = 0;
    if (startsWith(tokens, name, {QStringLiteral("IF"), QStringLiteral("NOT"), QStringLiteral("EXISTS")},
                   &end))
        name = nextSignificant(tokens, end);
    const qsizetype open = nextSignificant(tokens, name + 1);
    const qsizetype close =
        open < tokens.size() && tokens[open].isSymbol(u"(") ? closingParenthesis(tokens, open) : none;
    if (close == none) {
        Tokens other = tokens;
        translateBooleans(other);
        return joinTokens(other);
    }
    QStringList definitions;
    for (Tokens definition : splitAtCommas(tokens, open + 1, close)) {
        if (isTableConstraint(definition)) {
            translateBooleans(definition);
            definitions.append(joinTokens(definition));
        } else {
            definitions.append(translateColumn(definition));
        }
    }
    return joinTokens(slice(tokens, 0, open + 1)) + definitions.join(u',') +
           joinTokens(slice(tokens, close, tokens.size()));
}

// The statement's tokens without comments, its closing ";" and Access's quoted texts.
Tokens prepared(const QString& accessSql) {
    Tokens tokens;
    for (SqlToken token : tokenizeSql(accessSql, SqlQuoting::Access)) {
        if (token.kind == Kind::Comment)
            token = space();
        else if (token.kind == Kind::String && token.text.startsWith(u'"'))
            token.text = quotedText(identifierOf({Kind::Name, token.text}));
        tokens.append(token);
    }
    const qsizetype last = previousSignificant(tokens, tokens.size());
    if (last >= 0 && tokens[last].isSymbol(u";"))
        tokens.remove(last, tokens.size() - last);
    for (const SqlToken& token : tokens)
        if (token.isSymbol(u";"))
            throw Error("Characters found after end of SQL statement.");
    if (nextSignificant(tokens, 0) >= tokens.size())
        throw Error(
            "Invalid SQL statement; expected 'DELETE', 'INSERT', 'PROCEDURE', 'SELECT', or 'UPDATE'.");
    return tokens;
}

// The significant tokens' indices, for reading a statement's first words.
QList<qsizetype> significantIndices(const Tokens& tokens, int count) {
    QList<qsizetype> indices;
    for (qsizetype i = nextSignificant(tokens, 0); i < tokens.size() && indices.size() < count;
         i = nextSignificant(tokens, i + 1))
        indices.append(i);
    return indices;
}

Translation plain(QString sql) {
    Translation translation;
    translation.sql = std::move(sql);
    return translation;
}

Translation translateAlterTable(const Tokens& tokens, const QList<qsizetype>& words) {
    // ALTER TABLE name ADD|ALTER ...
    const SqlToken& name = tokens[words[2]];
    const qsizetype action = words[3];
    qsizetype from = action + 1;
    const qsizetype columnWord = nextSignificant(tokens, from);
    if (columnWord < tokens.size() && tokens[columnWord].isWord(u"COLUMN"))
        from = columnWord + 1;
    Translation translation;
    translation.table = identifierOf(name);
    if (tokens[action].isWord(u"ADD")) {
        translation.kind = Translation::Kind::AddColumns;
        for (Tokens definition : splitAtCommas(tokens, from, tokens.size())) {
            const qsizetype first = nextSignificant(definition, 0);
            if (first < definition.size() && definition[first].isWord(u"COLUMN"))
                definition.remove(0, first + 1);
            if (isTableConstraint(definition) || nextSignificant(definition, 0) >= definition.size()) {
                Tokens other = tokens;
                translateBooleans(other);
                return plain(joinTokens(other));
            }
            translation.definitions.append(translateColumn(definition).trimmed());
        }
        return translation;
    }
    translation.kind = Translation::Kind::AlterColumn;
    const qsizetype column = nextSignificant(tokens, from);
    if (column >= tokens.size() || !tokens[column].isIdentifier() ||
        nextSignificant(tokens, column + 1) >= tokens.size())
        throw Error("Syntax error in ALTER TABLE statement.");
    translation.column = identifierOf(tokens[column]);
    translation.newDefinition = trimmedText(slice(tokens, column + 1, tokens.size()));
    return translation;
}

} // namespace

Translation translate(const QString& accessSql) {
    Tokens tokens = prepared(accessSql);
    const QList<qsizetype> words = significantIndices(tokens, 4);
    const SqlToken& first = tokens[words[0]];
    if (first.isWord(u"CREATE")) {
        for (qsizetype i : words.mid(1, 2))
            if (tokens[i].isWord(u"TABLE"))
                return plain(translateCreateTable(tokens, i));
        translateBooleans(tokens); // views, indexes and triggers are stored: no collation in them
        return plain(joinTokens(tokens));
    }
    if (first.isWord(u"ALTER") && words.size() == 4 && tokens[words[1]].isWord(u"TABLE") &&
        tokens[words[2]].isIdentifier() &&
        (tokens[words[3]].isWord(u"ADD") || tokens[words[3]].isWord(u"ALTER")))
        return translateAlterTable(tokens, words);
    if (first.isWord(u"PRAGMA"))
        return plain(joinTokens(tokens));
    translateBooleans(tokens);
    for (const char16_t* verb : {u"SELECT", u"INSERT", u"UPDATE", u"DELETE", u"REPLACE", u"WITH", u"VALUES"})
        if (first.isWord(verb)) {
            addCollations(tokens);
            break;
        }
    return plain(joinTokens(tokens));
}

Retyped retypeColumn(const QString& storedDefinition, const QString& accessDefinition) {
    const Tokens stored = tokenizeSql(storedDefinition, SqlQuoting::Sqlite);
    ColumnParts old = cutColumn(stored);
    Tokens kept = old.constraints;
    // What the translation added for the old type goes with it.
    qsizetype end = 0;
    if (int length = 0; isVarchar(old, &length) &&
                        startsWith(kept, 0,
                                   {QStringLiteral("CHECK"), QStringLiteral("("), QStringLiteral("length"),
                                    QStringLiteral("("), old.nameText, QStringLiteral(")"),
                                    QStringLiteral("<="), QString::number(length), QStringLiteral(")")},
                                   &end))
        kept.remove(0, end);
    if (isBit(old) && startsWith(kept, 0,
                                 {QStringLiteral("NOT"), QStringLiteral("NULL"), QStringLiteral("DEFAULT"),
                                  QStringLiteral("0")},
                                 &end))
        kept.remove(0, end);
    kept.removeIf([](const SqlToken& token) { return token.isWord(u"AUTOINCREMENT"); });

    Tokens requested = tokenizeSql(accessDefinition, SqlQuoting::Access);
    Tokens definition = old.head;
    const ColumnParts fresh =
        cutColumn(Tokens{SqlToken{Kind::Word, QStringLiteral("c")}, space()} + requested);
    if (isCounter(fresh))
        throw Error("ALTER COLUMN cannot make a column AUTOINCREMENT.");
    definition += requested;
    definition += space();
    definition += kept;

    Retyped result;
    result.definition = translateColumn(definition).trimmed();
    const QString base = fresh.words.isEmpty() ? QString() : fresh.words[0];
    if (isBit(fresh))
        result.rule = ValueRule::Boolean;
    else if (base.contains(u"INT"))
        result.rule = ValueRule::Integer;
    else if (base.contains(u"REAL") || base.contains(u"FLOA") || base.contains(u"DOUB"))
        result.rule = ValueRule::Real;
    if (int length = 0; isVarchar(fresh, &length))
        result.maxLength = length;
    return result;
}

StoredTable parseStoredTable(const QString& createSql) {
    const Tokens tokens = tokenizeSql(createSql, SqlQuoting::Sqlite);
    qsizetype open = 0;
    while (open < tokens.size() && !tokens[open].isSymbol(u"("))
        ++open;
    const qsizetype close = open < tokens.size() ? closingParenthesis(tokens, open) : none;
    if (close == none)
        throw Error("The table's definition cannot be read.");
    StoredTable table;
    table.head = trimmedText(slice(tokens, 0, open));
    for (const Tokens& definition : splitAtCommas(tokens, open + 1, close))
        table.definitions.append(trimmedText(definition));
    table.tail = joinTokens(slice(tokens, close + 1, tokens.size()));
    return table;
}

QString definedColumn(const QString& storedDefinition) {
    const Tokens tokens = tokenizeSql(storedDefinition, SqlQuoting::Sqlite);
    if (isTableConstraint(tokens))
        return QString();
    const qsizetype first = nextSignificant(tokens, 0);
    return first < tokens.size() ? identifierOf(tokens[first]) : QString();
}

} // namespace access_sql
