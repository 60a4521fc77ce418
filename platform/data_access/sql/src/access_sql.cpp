#include "sql/access_sql.h"

#include "base/error.h"
#include "sql/sql_tokenizer.h"

#include <QDate>
#include <QDateTime>
#include <QRegularExpression>
#include <QSet>
#include <QTime>

#include <functional>
#include <optional>

using base::Error;

namespace sql {

namespace {

using Kind = SqlToken::Kind;
using Tokens = QList<SqlToken>;

constexpr qsizetype none = -1;
// Nesting the translation takes (it recurses into parentheses); Access's own limit is lower.
constexpr int maxDepth = 64;

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

[[noreturn]] void refuse(const QString& text) {
    throw Error(text.toStdString());
}

bool isOneOf(const SqlToken& token, std::initializer_list<const char16_t*> words) {
    for (const char16_t* w : words)
        if (token.isWord(w))
            return true;
    return false;
}

// --- Literals

// True, False, Yes and No are no literals in SQLite 3.15; Access stores True as -1.
std::optional<QString> booleanLiteral(const SqlToken& token) {
    if (token.isWord(u"true") || token.isWord(u"yes"))
        return QStringLiteral("-1");
    if (token.isWord(u"false") || token.isWord(u"no"))
        return QStringLiteral("0");
    return std::nullopt;
}

// An Access date literal (#3/10/2022#, #2022-03-10 08:30#, #8:30 PM#) as the text the data-access
// layer stores for a date: "yyyy-MM-dd", or "yyyy-MM-dd HH:mm:ss" when it has a time; a time alone
// is on Access's day zero, 30.12.1899.
QString dateLiteral(const QString& literal) {
    const QString inner = literal.mid(1, literal.size() - 2).trimmed();
    static const QRegularExpression pattern(
        QStringLiteral("^(?:(?:(\\d{1,2})/(\\d{1,2})/(\\d{2}|\\d{4})|(\\d{4})[-/](\\d{1,2})[-/](\\d{1,2}))"
                       "(?:\\s+|$))?(?:(\\d{1,2}):(\\d{2})(?::(\\d{2}))?\\s*(AM|PM)?)?$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(inner);
    const auto invalid = [&] { refuse(QStringLiteral("Дата %1 не распознана").arg(literal)); };
    if (inner.isEmpty() || !match.hasMatch())
        invalid();
    QDate date(1899, 12, 30);
    if (match.hasCaptured(1)) {
        int year = match.captured(3).toInt();
        if (match.captured(3).size() == 2)
            year += year < 30 ? 2000 : 1900;
        date = QDate(year, match.captured(1).toInt(), match.captured(2).toInt());
    } else if (match.hasCaptured(4)) {
        date = QDate(match.captured(4).toInt(), match.captured(5).toInt(), match.captured(6).toInt());
    }
    if (!date.isValid())
        invalid();
    if (!match.hasCaptured(7))
        return quotedText(date.toString(QStringLiteral("yyyy-MM-dd")));
    int hour = match.captured(7).toInt();
    if (match.hasCaptured(10)) {
        if (hour < 1 || hour > 12)
            invalid();
        hour = hour % 12 + (match.captured(10).compare(u"PM", Qt::CaseInsensitive) == 0 ? 12 : 0);
    }
    const QTime time(hour, match.captured(8).toInt(), match.captured(9).toInt());
    if (!time.isValid())
        invalid();
    return quotedText(QDateTime(date, time).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}

// The literals of a column's constraints (DEFAULT Yes, DEFAULT #1/1/2000#).
void translateLiterals(Tokens& tokens) {
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        SqlToken& token = tokens[i];
        if (token.kind == Kind::Date) {
            token = {Kind::String, dateLiteral(token.text)};
            continue;
        }
        const std::optional<QString> boolean = booleanLiteral(token);
        if (!boolean)
            continue;
        const qsizetype before = previousSignificant(tokens, i);
        const qsizetype after = nextSignificant(tokens, i + 1);
        if (before >= 0 && tokens[before].isSymbol(u"."))
            continue; // a qualified name
        if (after < tokens.size() && (tokens[after].isSymbol(u"(") || tokens[after].isSymbol(u".")))
            continue; // a function or a table
        token = {Kind::Number, *boolean};
    }
}

// --- Expressions of SELECT, INSERT, UPDATE and DELETE

// Words that never start an operand, even before "(".
bool isKeyword(const SqlToken& token) {
    static const QSet<QString> keywords = [] {
        QSet<QString> set;
        for (const char* w :
             {"SELECT",  "FROM",      "WHERE",  "AND",     "OR",        "NOT",      "IN",      "IS",
              "LIKE",    "BETWEEN",   "AS",     "ON",      "JOIN",      "INNER",    "OUTER",   "FULL",
              "CROSS",   "NATURAL",   "USING",  "GROUP",   "BY",        "ORDER",    "HAVING",  "ASC",
              "DESC",    "DISTINCT",  "ALL",    "UNION",   "INTERSECT", "EXCEPT",   "INSERT",  "INTO",
              "VALUES",  "UPDATE",    "SET",    "DELETE",  "EXISTS",    "CASE",     "WHEN",    "THEN",
              "ELSE",    "END",       "ESCAPE", "COLLATE", "CAST",      "LIMIT",    "OFFSET",  "DEFAULT",
              "WITH",    "RECURSIVE", "GLOB",   "REGEXP",  "MATCH",     "ISNULL",   "NOTNULL", "INDEXED",
              "ANY",     "SOME",      "NULLS",  "REPLACE", "ABORT",     "ROLLBACK", "FAIL",    "IGNORE",
              "CONFLICT"})
            set.insert(QString::fromLatin1(w));
        return set;
    }();
    return token.kind == Kind::Word && keywords.contains(token.text.toUpper());
}

// LEFT and RIGHT are joins, unless a call follows; REPLACE is a verb, unless a call follows.
bool isKeywordAt(const Tokens& tokens, qsizetype i) {
    const SqlToken& token = tokens[i];
    const qsizetype next = nextSignificant(tokens, i + 1);
    const bool call = next < tokens.size() && tokens[next].isSymbol(u"(");
    if (isOneOf(token, {u"LEFT", u"RIGHT"}))
        return !call;
    if (!isKeyword(token))
        return false;
    return !(token.isWord(u"REPLACE") && call);
}

// SQLite's own functions that Access does not have: they mean nothing else and pass as they are.
bool isSqliteOnlyFunction(const QString& lowerName) {
    static const QSet<QString> names = [] {
        QSet<QString> set;
        for (const char* n : {"typeof",         "length",       "coalesce",
                              "ifnull",         "nullif",       "substr",
                              "lower",          "upper",        "printf",
                              "quote",          "group_concat", "total",
                              "zeroblob",       "randomblob",   "unicode",
                              "char",           "glob",         "likely",
                              "unlikely",       "likelihood",   "julianday",
                              "datetime",       "strftime",     "random",
                              "sqlite_version", "changes",      "last_insert_rowid",
                              "total_changes"})
            set.insert(QString::fromLatin1(n));
        return set;
    }();
    return names.contains(lowerName);
}

QString translateDml(const Tokens& tokens);

// Access's arithmetic and concatenation, by its precedence (from the tightest): unary - and +;
// * and /; \; Mod; + and -; &. Every result is parenthesised or a call, so SQLite's own precedence
// never matters. Other tokens (comparisons, AND, OR, keywords) pass and end an operand.
class ExpressionRewriter {
public:
    ExpressionRewriter(const Tokens& tokens, qsizetype from, qsizetype to)
        : m_tokens(tokens)
        , m_pos(from)
        , m_end(to) {}

    QString run() {
        QString out;
        while (m_pos < m_end) {
            const SqlToken& token = m_tokens[m_pos];
            if (!token.isSignificant()) {
                out += u' ';
                ++m_pos;
            } else if (startsOperand(m_pos)) {
                out += concatenation();
            } else {
                if (isBinaryOperator(m_pos))
                    refuse(QStringLiteral("Оператор %1 здесь не поддерживается").arg(token.text));
                out += token.text;
                ++m_pos;
            }
        }
        return out;
    }

private:
    const Tokens& m_tokens;
    qsizetype m_pos;
    qsizetype m_end;

    qsizetype peek() const {
        qsizetype i = m_pos;
        while (i < m_end && !m_tokens[i].isSignificant())
            ++i;
        return i;
    }
    bool peekSymbol(QStringView symbol) const {
        const qsizetype i = peek();
        return i < m_end && m_tokens[i].isSymbol(symbol);
    }
    bool peekWord(QStringView word) const {
        const qsizetype i = peek();
        return i < m_end && m_tokens[i].isWord(word);
    }
    void skip() { m_pos = peek() + 1; }

    bool isBinaryOperator(qsizetype i) const {
        const SqlToken& t = m_tokens[i];
        return t.isSymbol(u"&") || t.isSymbol(u"/") || t.isSymbol(u"\\") || t.isSymbol(u"^") ||
               t.isWord(u"MOD");
    }

    bool startsOperand(qsizetype i) const {
        const SqlToken& t = m_tokens[i];
        switch (t.kind) {
        case Kind::Number:
        case Kind::String:
        case Kind::Date:
        case Kind::Parameter:
        case Kind::Name:
            return true;
        case Kind::Word:
            return t.isWord(u"NULL") || !isKeywordAt(m_tokens, i);
        case Kind::Symbol:
            return t.isSymbol(u"(") || t.isSymbol(u"-") || t.isSymbol(u"+");
        default:
            return false;
        }
    }

    QString concatenation() {
        QString left = addition();
        while (peekSymbol(u"&")) {
            skip();
            left = QStringLiteral("access_concat(%1, %2)").arg(left, addition());
        }
        return left;
    }
    QString addition() {
        QString left = modulo();
        for (;;) {
            if (peekSymbol(u"+")) {
                skip();
                left = QStringLiteral("access_plus(%1, %2)").arg(left, modulo());
            } else if (peekSymbol(u"-")) {
                skip();
                left = QStringLiteral("(%1 - %2)").arg(left, modulo());
            } else {
                return left;
            }
        }
    }
    QString modulo() {
        QString left = integerDivision();
        while (peekWord(u"MOD")) {
            skip();
            left = QStringLiteral("access_mod(%1, %2)").arg(left, integerDivision());
        }
        return left;
    }
    QString integerDivision() {
        QString left = multiplication();
        while (peekSymbol(u"\\")) {
            skip();
            left = QStringLiteral("access_intdiv(%1, %2)").arg(left, multiplication());
        }
        return left;
    }
    QString multiplication() {
        QString left = unary();
        for (;;) {
            if (peekSymbol(u"*")) {
                skip();
                left = QStringLiteral("(%1 * %2)").arg(left, unary());
            } else if (peekSymbol(u"/")) {
                skip();
                left = QStringLiteral("access_divide(%1, %2)").arg(left, unary());
            } else if (peekSymbol(u"^")) {
                refuse(QStringLiteral("Оператор ^ не поддерживается"));
            } else {
                return left;
            }
        }
    }
    QString unary() {
        int negations = 0;
        for (int signs = 0; peekSymbol(u"-") || peekSymbol(u"+"); ++signs) {
            if (signs == maxDepth)
                refuse(QStringLiteral("Выражение слишком сложно"));
            negations += peekSymbol(u"-") ? 1 : 0;
            skip();
        }
        QString operand = primary();
        for (int i = 0; i < negations; ++i)
            operand = QStringLiteral("(-%1)").arg(operand);
        return operand;
    }

    QString primary() {
        const qsizetype i = peek();
        if (i >= m_end)
            refuse(QStringLiteral("Выражение не закончено"));
        const SqlToken& token = m_tokens[i];
        m_pos = i + 1;
        switch (token.kind) {
        case Kind::Number:
        case Kind::String:
        case Kind::Parameter:
            return token.text;
        case Kind::Date:
            return dateLiteral(token.text);
        case Kind::Symbol:
            if (token.isSymbol(u"("))
                return parenthesised(i);
            break;
        case Kind::Word:
        case Kind::Name:
            return name(i);
        default:
            break;
        }
        refuse(QStringLiteral("Выражение «%1» не поддерживается").arg(token.text));
    }

    qsizetype closing(qsizetype open) const {
        const qsizetype close = closingParenthesis(m_tokens, open);
        if (close == none || close >= m_end)
            throw Error("Syntax error: a parenthesis is not closed.");
        return close;
    }

    QString parenthesised(qsizetype open) {
        const qsizetype close = closing(open);
        m_pos = close + 1;
        const qsizetype first = nextSignificant(m_tokens, open + 1);
        if (first < close && isOneOf(m_tokens[first], {u"SELECT", u"WITH", u"VALUES"}))
            return u'(' + translateDml(slice(m_tokens, open + 1, close)) + u')';
        return u'(' + ExpressionRewriter(m_tokens, open + 1, close).run() + u')';
    }

    QString name(qsizetype i) {
        const SqlToken& token = m_tokens[i];
        if (token.kind == Kind::Word) {
            if (token.isWord(u"NULL"))
                return token.text;
            if (const std::optional<QString> boolean = booleanLiteral(token);
                boolean && !peekSymbol(u".") && !peekSymbol(u"("))
                return *boolean;
            const qsizetype before = previousSignificant(m_tokens, i);
            const bool tableName = before >= 0 && m_tokens[before].isWord(u"INTO");
            if (!tableName && peekSymbol(u"("))
                return call(token);
        }
        QString out = token.text;
        while (peekSymbol(u".")) {
            skip();
            const qsizetype part = peek();
            if (part >= m_end || !(m_tokens[part].isIdentifier() || m_tokens[part].isSymbol(u"*")))
                refuse(QStringLiteral("Имя %1. не закончено").arg(out));
            out += u'.' + m_tokens[part].text;
            m_pos = part + 1;
            if (m_tokens[part].isSymbol(u"*"))
                break;
        }
        if (peekSymbol(u"!"))
            refuse(QStringLiteral("Оператор ! не поддерживается"));
        return out;
    }

    QString call(const SqlToken& nameToken) {
        const qsizetype open = peek();
        const qsizetype close = closing(open);
        m_pos = close + 1;
        QStringList args;
        if (nextSignificant(m_tokens, open + 1) < close)
            for (const Tokens& arg : splitAtCommas(m_tokens, open + 1, close)) {
                const qsizetype first = nextSignificant(arg, 0);
                if (first >= arg.size())
                    refuse(QStringLiteral("Пустой аргумент функции %1").arg(nameToken.text));
                args.append(ExpressionRewriter(arg, 0, arg.size()).run().trimmed());
            }
        const QString name = nameToken.text.toLower();
        const qsizetype n = args.size();
        const auto expect = [&](qsizetype least, qsizetype most) {
            if (n < least || n > most)
                refuse(QStringLiteral("Функция %1 с %2 аргументами не поддерживается")
                           .arg(nameToken.text)
                           .arg(n));
        };
        if (name == u"iif") {
            expect(3, 3);
            return QStringLiteral("(CASE WHEN %1 THEN %2 ELSE %3 END)").arg(args[0], args[1], args[2]);
        }
        if (name == u"nz") {
            expect(1, 2);
            // Nz without a default gives an empty text in a query.
            return QStringLiteral("coalesce(%1, %2)").arg(args[0], n == 2 ? args[1] : QStringLiteral("''"));
        }
        if (name == u"len") {
            expect(1, 1);
            return QStringLiteral("length(%1)").arg(args[0]);
        }
        if (name == u"left" || name == u"right") {
            expect(2, 2);
            return QStringLiteral("access_%1(%2)").arg(name, args.join(QStringLiteral(", ")));
        }
        if (name == u"mid") {
            expect(2, 3);
            return QStringLiteral("access_mid(%1)").arg(args.join(QStringLiteral(", ")));
        }
        if (name == u"ucase" || name == u"lcase") {
            expect(1, 1);
            return QStringLiteral("access_%1(%2)").arg(name, args[0]);
        }
        if (name == u"trim" || name == u"ltrim" || name == u"rtrim") {
            expect(1, 1);
            return QStringLiteral("%1(%2)").arg(name, args[0]); // spaces only, as in Access
        }
        if (name == u"now") {
            expect(0, 0);
            return QStringLiteral("datetime('now', 'localtime')");
        }
        if (name == u"date" && n == 0)
            return QStringLiteral("date('now', 'localtime')");
        if (name == u"min" || name == u"max") {
            expect(1, 1);
            return QStringLiteral("%1(%2 COLLATE %3)").arg(name, args[0], QString::fromLatin1(collation));
        }
        if (name == u"abs" || name == u"count" || name == u"sum" || name == u"avg") {
            expect(1, 1);
            return QStringLiteral("%1(%2)").arg(name, args[0]);
        }
        if (isSqliteOnlyFunction(name) || name == u"date")
            return QStringLiteral("%1(%2)").arg(nameToken.text, args.join(QStringLiteral(", ")));
        refuse(QStringLiteral("Функция %1 не поддерживается").arg(nameToken.text));
    }
};

// The depth-0 tokens of tokens[from, to) that are `word`.
QList<qsizetype> wordsAtTop(const Tokens& tokens, qsizetype from, qsizetype to,
                            std::initializer_list<const char16_t*> words) {
    QList<qsizetype> found;
    int depth = 0;
    for (qsizetype i = from; i < to; ++i) {
        if (tokens[i].isSymbol(u"("))
            ++depth;
        else if (tokens[i].isSymbol(u")"))
            --depth;
        else if (depth == 0 && isOneOf(tokens[i], words))
            found.append(i);
    }
    return found;
}

bool isAggregateCall(const Tokens& tokens, qsizetype i) {
    if (!isOneOf(tokens[i], {u"COUNT", u"SUM", u"AVG", u"MIN", u"MAX", u"FIRST", u"LAST", u"STDEV", u"VAR"}))
        return false;
    const qsizetype next = nextSignificant(tokens, i + 1);
    return next < tokens.size() && tokens[next].isSymbol(u"(");
}

// The LIMIT of TOP n. With ORDER BY, Access's TOP keeps the rows that tie with the n-th: the limit
// counts the rows not after the n-th in the order (n when there are fewer rows).
QString topLimit(const Tokens& tokens, qsizetype fromWord, qsizetype end, qsizetype n) {
    const QList<qsizetype> order =
        fromWord < end ? wordsAtTop(tokens, fromWord, end, {u"ORDER"}) : QList<qsizetype>{};
    const qsizetype by = order.isEmpty() ? end : nextSignificant(tokens, order.first() + 1);
    if (order.isEmpty() || by >= end || !tokens[by].isWord(u"BY"))
        return QString::number(n);
    const QString rest = trimmedText(slice(tokens, fromWord, order.first()));
    const QString orderBy = trimmedText(slice(tokens, order.first(), end));
    QStringList keys;
    QList<bool> descending;
    for (Tokens key : splitAtCommas(tokens, by + 1, end)) {
        const qsizetype last = previousSignificant(key, key.size());
        const qsizetype first = nextSignificant(key, 0);
        if (last < 0)
            refuse(QStringLiteral("Пустой ключ ORDER BY"));
        descending.append(key[last].isWord(u"DESC"));
        if (isOneOf(key[last], {u"ASC", u"DESC"}))
            key = slice(key, 0, last);
        if (first == previousSignificant(key, key.size()) && key[first].kind == Kind::Number)
            refuse(QStringLiteral("TOP с ORDER BY по номеру столбца не поддерживается"));
        keys.append(trimmedText(key));
    }
    QStringList columns;
    for (qsizetype i = 0; i < keys.size(); ++i)
        columns.append(QStringLiteral("%1 AS access_top_%2").arg(keys[i]).arg(i));
    // From the last key to the first: before the n-th row's key, or equal and not after it by the rest.
    QString notAfter;
    for (qsizetype i = keys.size() - 1; i >= 0; --i) {
        const QString x = QStringLiteral("access_top_q.access_top_%1").arg(i);
        const QString y = QStringLiteral("access_top_n.access_top_%1").arg(i);
        const QString before = descending[i]
                                   ? QStringLiteral("((%1 IS NOT NULL AND %2 IS NULL) OR %1 > %2)").arg(x, y)
                                   : QStringLiteral("((%1 IS NULL AND %2 IS NOT NULL) OR %1 < %2)").arg(x, y);
        const QString equal = QStringLiteral("(%1 IS %2 OR %1 = %2)").arg(x, y);
        notAfter = notAfter.isEmpty() ? QStringLiteral("(%1 OR %2)").arg(before, equal)
                                      : QStringLiteral("(%1 OR (%2 AND %3))").arg(before, equal, notAfter);
    }
    const QString selected = columns.join(QStringLiteral(", "));
    return QStringLiteral("(SELECT coalesce(nullif(count(*), 0), %1) FROM (SELECT %2 %3) AS access_top_q, "
                          "(SELECT %2 %3 %4 LIMIT 1 OFFSET %5) AS access_top_n WHERE %6)")
        .arg(n)
        .arg(selected, rest, orderBy)
        .arg(n - 1)
        .arg(notAfter);
}

// One SELECT of the statement, tokens[select, end): TOP n becomes LIMIT n; DISTINCT becomes a GROUP
// BY of the selected expressions, which takes the collation where DISTINCT cannot.
void restructureSelect(Tokens& tokens, qsizetype select, qsizetype end, bool compound) {
    const QList<qsizetype> from = wordsAtTop(tokens, select + 1, end, {u"FROM"});
    const qsizetype fromWord = from.isEmpty() ? end : from.first();
    if (!wordsAtTop(tokens, select + 1, fromWord, {u"INTO"}).isEmpty())
        refuse(QStringLiteral("SELECT … INTO не поддерживается"));

    qsizetype distinct = none;
    qsizetype topFrom = none;
    qsizetype topTo = none;
    qsizetype limit = 0;
    qsizetype i = nextSignificant(tokens, select + 1);
    for (int round = 0; round < 2 && i < end; ++round) {
        if (tokens[i].isWord(u"DISTINCT") && distinct == none) {
            distinct = i;
            i = nextSignificant(tokens, i + 1);
        } else if (tokens[i].isWord(u"ALL")) {
            i = nextSignificant(tokens, i + 1);
        } else if (tokens[i].isWord(u"TOP") && topFrom == none) {
            const qsizetype count = nextSignificant(tokens, i + 1);
            bool ok = false;
            if (count < end && tokens[count].kind == Kind::Number)
                limit = tokens[count].text.toLongLong(&ok);
            if (!ok || limit < 1)
                refuse(QStringLiteral("TOP без целого числа строк не поддерживается"));
            const qsizetype after = nextSignificant(tokens, count + 1);
            if (after < end && tokens[after].isWord(u"PERCENT"))
                refuse(QStringLiteral("TOP … PERCENT не поддерживается"));
            if (compound)
                refuse(QStringLiteral("TOP в запросе с UNION не поддерживается"));
            topFrom = i;
            topTo = count + 1;
            i = after;
        }
    }
    const qsizetype listStart = i;

    Tokens groupBy;
    if (distinct != none && !from.isEmpty() &&
        wordsAtTop(tokens, fromWord, end, {u"GROUP", u"HAVING"}).isEmpty()) {
        bool aggregate = false;
        for (qsizetype k = listStart; k < fromWord; ++k)
            aggregate = aggregate || isAggregateCall(tokens, k);
        if (!aggregate) {
            QStringList keys;
            for (Tokens item : splitAtCommas(tokens, listStart, fromWord)) {
                const qsizetype last = previousSignificant(item, item.size());
                if (last >= 0 && item[last].isSymbol(u"*"))
                    refuse(QStringLiteral("SELECT DISTINCT * не поддерживается: перечислите столбцы"));
                const qsizetype as = previousSignificant(item, last);
                if (as >= 0 && item[as].isWord(u"AS"))
                    item = slice(item, 0, as);
                keys.append(trimmedText(item));
            }
            groupBy = tokenizeSql(QStringLiteral(" GROUP BY ") + keys.join(QStringLiteral(", ")) + u' ',
                                  SqlQuoting::Access);
        }
    }
    if (!groupBy.isEmpty()) {
        const QList<qsizetype> order = wordsAtTop(tokens, fromWord, end, {u"ORDER"});
        const qsizetype at = order.isEmpty() ? end : order.first();
        tokens = slice(tokens, 0, at) + groupBy + slice(tokens, at, tokens.size());
        end += groupBy.size();
    }
    if (limit > 0) {
        const QString tail = QStringLiteral(" LIMIT %1 ").arg(topLimit(tokens, fromWord, end, limit));
        tokens =
            slice(tokens, 0, end) + tokenizeSql(tail, SqlQuoting::Access) + slice(tokens, end, tokens.size());
    }
    if (!groupBy.isEmpty())
        tokens[distinct] = space();
    if (topFrom != none)
        tokens.remove(topFrom, topTo - topFrom);
}

// Access constructs with no SQLite counterpart, refused wherever they stand.
void refuseUnsupported(const Tokens& tokens) {
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        const SqlToken& token = tokens[i];
        if (isOneOf(token, {u"TRANSFORM", u"PIVOT", u"PARAMETERS", u"DISTINCTROW", u"OWNERACCESS",
                            u"PROCEDURE", u"XOR", u"EQV", u"IMP"}))
            refuse(QStringLiteral("%1 не поддерживается").arg(token.text.toUpper()));
        if (token.isWord(u"UNION")) {
            // UNION drops duplicate rows, which Access finds without regard to letter case.
            const qsizetype next = nextSignificant(tokens, i + 1);
            if (next >= tokens.size() || !tokens[next].isWord(u"ALL"))
                refuse(QStringLiteral("UNION без ALL не поддерживается"));
        }
        if (token.isSymbol(u"!") || token.isSymbol(u"^"))
            refuse(QStringLiteral("Оператор %1 не поддерживается").arg(token.text));
        if (token.isWord(u"IN")) {
            const qsizetype next = nextSignificant(tokens, i + 1);
            if (next < tokens.size() && tokens[next].kind == Kind::String)
                refuse(QStringLiteral("IN с внешней базой данных не поддерживается"));
        }
    }
}

// A SELECT, INSERT, UPDATE or DELETE statement (or a subquery) in SQLite's terms, collations aside.
QString translateDml(const Tokens& statement) {
    Tokens tokens = statement;
    const qsizetype first = nextSignificant(tokens, 0);
    if (first < tokens.size() && tokens[first].isWord(u"DELETE")) {
        const qsizetype next = nextSignificant(tokens, first + 1);
        if (next < tokens.size() && tokens[next].isSymbol(u"*"))
            tokens[next] = space(); // DELETE * FROM
        else if (next < tokens.size() && !tokens[next].isWord(u"FROM"))
            refuse(QStringLiteral("DELETE с таблицей перед FROM не поддерживается"));
    }
    const QList<qsizetype> selects = wordsAtTop(tokens, 0, tokens.size(), {u"SELECT"});
    const QList<qsizetype> compounds =
        wordsAtTop(tokens, 0, tokens.size(), {u"UNION", u"INTERSECT", u"EXCEPT"});
    for (qsizetype k = selects.size() - 1; k >= 0; --k) {
        qsizetype end = tokens.size();
        for (qsizetype c : compounds)
            if (c > selects[k]) {
                end = c;
                break;
            }
        if (compounds.isEmpty()) {
            // LIMIT belongs after ORDER BY, which ends the statement.
            end = tokens.size();
        }
        restructureSelect(tokens, selects[k], end, !compounds.isEmpty());
    }
    return ExpressionRewriter(tokens, 0, tokens.size()).run();
}

// --- Collations of the statements that run

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
void collateComparisons(const Tokens& tokens, QSet<qsizetype>& collateAfter) {
    const qsizetype first = nextSignificant(tokens, 0);
    const bool isUpdate = first < tokens.size() && tokens[first].isWord(u"UPDATE");
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
}

// The left operand of IN and BETWEEN, and the keys of ORDER BY and GROUP BY, get the collation.
void collateKeys(const Tokens& tokens, QSet<qsizetype>& collateAfter) {
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        const SqlToken& token = tokens[i];
        if (token.isWord(u"IN") || token.isWord(u"BETWEEN")) {
            qsizetype operand = previousSignificant(tokens, i);
            if (operand >= 0 && tokens[operand].isWord(u"NOT"))
                operand = previousSignificant(tokens, operand);
            if (operand < 0 || isKeyword(tokens[operand]) ||
                (tokens[operand].kind == Kind::Symbol && !tokens[operand].isSymbol(u")")))
                continue;
            const qsizetype before = previousSignificant(tokens, operand);
            if (before >= 0 && tokens[before].isWord(u"COLLATE"))
                continue;
            collateAfter.insert(operand);
            continue;
        }
        if (!token.isWord(u"ORDER") && !token.isWord(u"GROUP"))
            continue;
        const qsizetype by = nextSignificant(tokens, i + 1);
        if (by >= tokens.size() || !tokens[by].isWord(u"BY"))
            continue;
        // The keys run to the end of the clause: a clause word or ")" at the same depth.
        qsizetype end = by + 1;
        int depth = 0;
        for (; end < tokens.size(); ++end) {
            const SqlToken& t = tokens[end];
            if (t.isSymbol(u"("))
                ++depth;
            else if (t.isSymbol(u")") && --depth < 0)
                break;
            else if (depth == 0 &&
                     isOneOf(t, {u"HAVING", u"ORDER", u"LIMIT", u"UNION", u"INTERSECT", u"EXCEPT"}))
                break;
        }
        depth = 0;
        qsizetype keyStart = by + 1;
        for (qsizetype k = by + 1; k <= end; ++k) {
            if (k < end && tokens[k].isSymbol(u"(")) {
                ++depth;
                continue;
            }
            if (k < end && tokens[k].isSymbol(u")")) {
                --depth;
                continue;
            }
            if (k < end && !(depth == 0 && tokens[k].isSymbol(u",")))
                continue;
            qsizetype last = previousSignificant(tokens, k);
            if (last >= keyStart && isOneOf(tokens[last], {u"ASC", u"DESC"}))
                last = previousSignificant(tokens, last);
            const qsizetype firstOfKey = nextSignificant(tokens, keyStart);
            bool hasCollate = false;
            for (qsizetype t = keyStart; t < k; ++t)
                hasCollate = hasCollate || tokens[t].isWord(u"COLLATE");
            const bool ordinal = firstOfKey == last && tokens[last].kind == Kind::Number;
            if (last >= keyStart && !hasCollate && !ordinal)
                collateAfter.insert(last);
            keyStart = k + 1;
        }
    }
}

QString withCollations(const QString& sql) {
    const Tokens tokens = tokenizeSql(sql, SqlQuoting::Access);
    QSet<qsizetype> collateAfter;
    collateComparisons(tokens, collateAfter);
    collateKeys(tokens, collateAfter);
    QString out;
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        out += tokens[i].text;
        if (collateAfter.contains(i))
            out += QStringLiteral(" COLLATE ") + QString::fromLatin1(collation);
    }
    return out;
}

// --- Definitions of tables and columns

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

struct TranslatedColumn {
    QString definition;
    QString name; // the name it defines
    bool text = false;
};

enum class ColumnUse { Create, Add, Alter };

// One column definition of CREATE TABLE, ADD COLUMN or ALTER COLUMN in SQLite's terms; `table` names
// the counter of COUNTER(seed, increment).
TranslatedColumn translateColumn(const Tokens& definition, const QString& table, ColumnUse use) {
    if (nextSignificant(definition, 0) >= definition.size())
        throw Error("Syntax error in field definition.");
    ColumnParts parts = cutColumn(definition);
    translateLiterals(parts.constraints);
    const ColumnType type = sql::columnType(parts.words, parts.size, parts.nameText);
    QString declared = type.declared;
    QString added;
    if (type.counter) {
        if (use == ColumnUse::Add)
            refuse(QStringLiteral("ADD COLUMN с типом %1 не поддерживается").arg(parts.words.join(u' ')));
        if (use == ColumnUse::Alter)
            refuse(QStringLiteral("ALTER COLUMN с типом %1 не поддерживается").arg(parts.words.join(u' ')));
        if (type.seed == 1 && type.increment == 1) {
            parts.constraints = withAutoIncrement(parts.constraints);
        } else {
            // SQLite numbers a rowid key by one from the highest: another seed or step needs a key
            // of its own, numbered by its DEFAULT.
            declared = QStringLiteral("INT");
            added += QStringLiteral(" NOT NULL DEFAULT (access_counter(%1, %2, %3, %4))")
                         .arg(quotedText(table),
                              quotedText(identifierOf(parts.head[nextSignificant(parts.head, 0)])))
                         .arg(type.seed)
                         .arg(type.increment);
            if (!containsWords(parts.constraints, {QStringLiteral("PRIMARY"), QStringLiteral("KEY")}))
                added += QStringLiteral(" PRIMARY KEY");
        }
    }
    if (!type.check.isEmpty())
        added +=
            QStringLiteral(" CONSTRAINT %1 CHECK (%2)")
                .arg(quotedName(QString::fromLatin1(checkNamePrefix) + trimmedText(parts.type)), type.check);
    if (type.yesNo) {
        if (!containsWords(parts.constraints, {QStringLiteral("NOT"), QStringLiteral("NULL")}))
            added += QStringLiteral(" NOT NULL");
        if (!containsWords(parts.constraints, {QStringLiteral("DEFAULT")}))
            added += QStringLiteral(" DEFAULT 0");
    }
    if (type.text && !containsWords(parts.constraints, {QStringLiteral("COLLATE")}) &&
        (containsWords(parts.constraints, {QStringLiteral("UNIQUE")}) ||
         containsWords(parts.constraints, {QStringLiteral("PRIMARY"), QStringLiteral("KEY")})))
        added += QStringLiteral(" COLLATE ") + QString::fromLatin1(collation); // Access's keys ignore case
    TranslatedColumn column;
    column.definition = joinTokens(parts.head) + declared + added + joinTokens(parts.constraints);
    column.name = parts.head.isEmpty() ? QString() : identifierOf(parts.head[nextSignificant(parts.head, 0)]);
    column.text = type.text;
    return column;
}

// The columns of a key list "(a, b DESC)" between `open` and its ")", each given the collation when
// `needsCollation` says so.
Tokens collatedKeyList(const Tokens& tokens, qsizetype open,
                       const std::function<bool(const QString&)>& needsCollation) {
    const qsizetype close = closingParenthesis(tokens, open);
    if (close == none)
        return tokens;
    Tokens out = slice(tokens, 0, open + 1);
    bool firstKey = true;
    for (const Tokens& key : splitAtCommas(tokens, open + 1, close)) {
        if (!firstKey)
            out.append({Kind::Symbol, QStringLiteral(",")});
        firstKey = false;
        qsizetype last = previousSignificant(key, key.size());
        if (last >= 0 && isOneOf(key[last], {u"ASC", u"DESC"}))
            last = previousSignificant(key, last);
        const qsizetype first = nextSignificant(key, 0);
        if (last < 0 || containsWords(key, {QStringLiteral("COLLATE")}) || first != last ||
            !key[first].isIdentifier() || !needsCollation(identifierOf(key[first]))) {
            out += key;
            continue;
        }
        out += slice(key, 0, last + 1);
        out << space() << word(QStringLiteral("COLLATE")) << space() << word(QString::fromLatin1(collation));
        out += slice(key, last + 1, key.size());
    }
    out += slice(tokens, close, tokens.size());
    return out;
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
    if (close == none)
        refuse(QStringLiteral("CREATE TABLE без списка столбцов не поддерживается"));
    const QString table = name < tokens.size() ? identifierOf(tokens[name]) : QString();
    QStringList definitions;
    QSet<QString> textColumns;
    QList<Tokens> constraints;
    for (const Tokens& definition : splitAtCommas(tokens, open + 1, close)) {
        if (isTableConstraint(definition)) {
            definitions.append(QString()); // filled below, when the columns' types are known
            constraints.append(definition);
            continue;
        }
        const TranslatedColumn column = translateColumn(definition, table, ColumnUse::Create);
        if (column.text)
            textColumns.insert(column.name.toCaseFolded());
        definitions.append(column.definition);
    }
    qsizetype next = 0;
    for (QString& definition : definitions) {
        if (!definition.isEmpty())
            continue;
        Tokens constraint = constraints[next++];
        translateLiterals(constraint);
        // UNIQUE and PRIMARY KEY on text ignore letter case, as Access's keys do.
        qsizetype keyWord = nextSignificant(constraint, 0);
        if (keyWord < constraint.size() && constraint[keyWord].isWord(u"CONSTRAINT"))
            keyWord = nextSignificant(constraint, nextSignificant(constraint, keyWord + 1) + 1);
        if (keyWord < constraint.size() && isOneOf(constraint[keyWord], {u"UNIQUE", u"PRIMARY"})) {
            qsizetype keys = keyWord + 1;
            while (keys < constraint.size() && !constraint[keys].isSymbol(u"("))
                ++keys;
            if (keys < constraint.size())
                constraint = collatedKeyList(constraint, keys, [&](const QString& column) {
                    return textColumns.contains(column.toCaseFolded());
                });
        }
        definition = joinTokens(constraint);
    }
    return joinTokens(slice(tokens, 0, open + 1)) + definitions.join(u',') +
           joinTokens(slice(tokens, close, tokens.size()));
}

// CREATE [UNIQUE] INDEX name ON table (columns): a unique index ignores letter case.
QString translateCreateIndex(const Tokens& tokens, bool unique) {
    const QList<qsizetype> with = wordsAtTop(tokens, 0, tokens.size(), {u"WITH"});
    if (!with.isEmpty())
        refuse(QStringLiteral("CREATE INDEX … WITH не поддерживается"));
    if (!unique)
        return joinTokens(tokens);
    qsizetype open = 0;
    while (open < tokens.size() && !tokens[open].isSymbol(u"("))
        ++open;
    if (open >= tokens.size())
        return joinTokens(tokens);
    return joinTokens(collatedKeyList(tokens, open, [](const QString&) { return true; }));
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
    int depth = 0;
    for (const SqlToken& token : tokens) {
        if (token.isSymbol(u";"))
            throw Error("Characters found after end of SQL statement.");
        depth += token.isSymbol(u"(") ? 1 : token.isSymbol(u")") ? -1 : 0;
        if (depth > maxDepth)
            refuse(QStringLiteral("Выражение слишком сложно: скобки вложены глубже %1 раз").arg(maxDepth));
    }
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
            if (isTableConstraint(definition))
                refuse(QStringLiteral("ALTER TABLE … ADD CONSTRAINT не поддерживается"));
            if (nextSignificant(definition, 0) >= definition.size())
                throw Error("Syntax error in ALTER TABLE statement.");
            translation.definitions.append(
                translateColumn(definition, translation.table, ColumnUse::Add).definition.trimmed());
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

// Access's operators mean something else in SQLite, or nothing: one that is left in a statement
// (a CHECK or DEFAULT expression, a trigger) is refused rather than run as SQLite reads it.
Translation checked(Translation translation) {
    QStringList texts = translation.definitions;
    texts.append(translation.sql);
    for (const QString& text : texts)
        for (const SqlToken& token : tokenizeSql(text, SqlQuoting::Sqlite))
            if (isOneOf(token, {u"MOD"}) || token.isSymbol(u"&") || token.isSymbol(u"\\") ||
                token.isSymbol(u"/") || token.isSymbol(u"#") || token.isSymbol(u"^") || token.isSymbol(u"!"))
                refuse(QStringLiteral("Оператор %1 здесь не поддерживается").arg(token.text));
    return translation;
}

Translation translateStatement(const QString& accessSql) {
    Tokens tokens = prepared(accessSql);
    const QList<qsizetype> words = significantIndices(tokens, 4);
    const SqlToken& first = tokens[words[0]];
    const auto at = [&](int k) -> const SqlToken& {
        static const SqlToken nothing{Kind::Space, QString()};
        return k < words.size() ? tokens[words[k]] : nothing;
    };
    if (first.isWord(u"CREATE")) {
        if (at(1).isWord(u"TABLE"))
            return plain(translateCreateTable(tokens, words[1]));
        if (at(1).isWord(u"INDEX"))
            return plain(translateCreateIndex(tokens, false));
        if (at(1).isWord(u"UNIQUE") && at(2).isWord(u"INDEX"))
            return plain(translateCreateIndex(tokens, true));
        if (at(1).isWord(u"TEMPORARY") || at(1).isWord(u"TEMP"))
            refuse(QStringLiteral("CREATE TEMPORARY TABLE не поддерживается"));
        if (isOneOf(at(1), {u"VIEW", u"PROCEDURE", u"PROC", u"USER", u"GROUP", u"DATABASE"}))
            refuse(QStringLiteral("CREATE %1 не поддерживается").arg(at(1).text.toUpper()));
        Tokens other = tokens; // triggers: SQLite's own
        translateLiterals(other);
        return plain(joinTokens(other));
    }
    if (first.isWord(u"ALTER")) {
        if (words.size() == 4 && at(1).isWord(u"TABLE") && at(2).isIdentifier() &&
            (at(3).isWord(u"ADD") || at(3).isWord(u"ALTER")))
            return translateAlterTable(tokens, words);
        if (at(1).isWord(u"TABLE") && at(3).isWord(u"DROP"))
            refuse(QStringLiteral("ALTER TABLE … DROP не поддерживается"));
        refuse(QStringLiteral("Такой ALTER не поддерживается"));
    }
    if (first.isWord(u"DROP")) {
        // Access names the table of the index: DROP INDEX i ON t.
        if (at(1).isWord(u"INDEX") && at(3).isWord(u"ON"))
            return plain(joinTokens(slice(tokens, 0, words[3])));
        if (isOneOf(at(1), {u"TABLE", u"INDEX"}))
            return plain(joinTokens(tokens));
        refuse(QStringLiteral("DROP %1 не поддерживается").arg(at(1).text.toUpper()));
    }
    if (first.isWord(u"PRAGMA"))
        return plain(joinTokens(tokens));
    if (isOneOf(first, {u"SELECT", u"INSERT", u"UPDATE", u"DELETE", u"WITH", u"VALUES", u"REPLACE"})) {
        refuseUnsupported(tokens);
        return plain(withCollations(translateDml(tokens)));
    }
    refuse(QStringLiteral("Инструкция %1 не поддерживается").arg(first.text.toUpper()));
}

} // namespace

Translation translate(const QString& accessSql) {
    return checked(translateStatement(accessSql));
}

Retyped retypeColumn(const QString& storedDefinition, const QString& accessDefinition) {
    const Tokens stored = tokenizeSql(storedDefinition, SqlQuoting::Sqlite);
    ColumnParts old = cutColumn(stored);
    Tokens kept = old.constraints;
    // What the translation added for the old type goes with it.
    for (qsizetype i = 0; i < kept.size(); ++i) {
        qsizetype nameToken = nextSignificant(kept, i + 1);
        if (!kept[i].isWord(u"CONSTRAINT") || nameToken >= kept.size() ||
            !identifierOf(kept[nameToken]).startsWith(QString::fromLatin1(checkNamePrefix)))
            continue;
        const qsizetype check = nextSignificant(kept, nameToken + 1);
        const qsizetype open = nextSignificant(kept, check + 1);
        if (check >= kept.size() || !kept[check].isWord(u"CHECK") || open >= kept.size())
            continue;
        const qsizetype close = closingParenthesis(kept, open);
        if (close == none)
            continue;
        kept.remove(i, close + 1 - i);
        break;
    }
    qsizetype end = 0;
    if (old.words == QStringList{QStringLiteral("VARCHAR")} && old.size.size() == 1 &&
        startsWith(kept, 0,
                   {QStringLiteral("CHECK"), QStringLiteral("("), QStringLiteral("length"),
                    QStringLiteral("("), old.nameText, QStringLiteral(")"), QStringLiteral("<="), old.size[0],
                    QStringLiteral(")")},
                   &end))
        kept.remove(0, end);
    if (old.words == QStringList{QStringLiteral("BIT")} &&
        startsWith(
            kept, 0,
            {QStringLiteral("NOT"), QStringLiteral("NULL"), QStringLiteral("DEFAULT"), QStringLiteral("0")},
            &end))
        kept.remove(0, end);
    kept.removeIf([](const SqlToken& token) { return token.isWord(u"AUTOINCREMENT"); });

    const Tokens requested = tokenizeSql(accessDefinition, SqlQuoting::Access);
    const ColumnParts fresh =
        cutColumn(Tokens{SqlToken{Kind::Word, QStringLiteral("c")}, space()} + requested);
    const ColumnType type = sql::columnType(fresh.words, fresh.size, old.nameText);
    Tokens definition = old.head;
    definition += requested;
    definition += space();
    definition += kept;

    Retyped result;
    result.definition =
        checked(plain(translateColumn(definition, QString(), ColumnUse::Alter).definition.trimmed())).sql;
    result.rule = type.rule;
    result.maxLength = type.maxLength;
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

} // namespace sql
