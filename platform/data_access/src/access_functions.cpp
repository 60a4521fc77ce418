#include "access_functions.h"

#include <QList>
#include <QString>

#include <sqlite3.h>

#include <cmath>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace data_access {

namespace {

const char* const typeMismatch = "Несоответствие типов данных в выражении";
const char* const divisionByZero = "Деление на ноль";
const char* const invalidNull = "Недопустимое использование Null";
const char* const invalidArgument = "Недопустимый аргумент функции";

bool anyNull(int argc, sqlite3_value** argv) {
    for (int i = 0; i < argc; ++i)
        if (sqlite3_value_type(argv[i]) == SQLITE_NULL)
            return true;
    return false;
}

QString textOf(sqlite3_value* value) {
    switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
        return QString::number(sqlite3_value_int64(value));
    case SQLITE_FLOAT:
        // Access shows a Double with 15 significant digits.
        return QString::number(sqlite3_value_double(value), 'g', 15);
    case SQLITE_NULL:
        return QString();
    default:
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_value_text(value)),
                                 sqlite3_value_bytes(value));
    }
}

void resultText(sqlite3_context* context, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    sqlite3_result_text64(context, bytes.constData(), sqlite3_uint64(bytes.size()), SQLITE_TRANSIENT,
                          SQLITE_UTF8);
}

using Number = std::variant<qint64, double>;

// A value as Access takes it in arithmetic: numbers, and texts that read as numbers.
std::optional<Number> numberOf(sqlite3_value* value) {
    switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
        return Number(qint64(sqlite3_value_int64(value)));
    case SQLITE_FLOAT:
        return Number(sqlite3_value_double(value));
    case SQLITE_TEXT: {
        const QString text = textOf(value).trimmed();
        bool ok = false;
        const qint64 n = text.toLongLong(&ok);
        if (ok)
            return Number(n);
        const double d = text.toDouble(&ok);
        if (ok && std::isfinite(d))
            return Number(d);
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

double asDouble(const Number& n) {
    return std::holds_alternative<qint64>(n) ? double(std::get<qint64>(n)) : std::get<double>(n);
}

// \ and Mod round their operands to whole numbers first, halves to even, as Access does.
std::optional<qint64> wholeOf(const Number& n) {
    if (std::holds_alternative<qint64>(n))
        return std::get<qint64>(n);
    const double rounded = std::nearbyint(std::get<double>(n));
    if (!std::isfinite(rounded) || std::fabs(rounded) >= 9.2e18)
        return std::nullopt;
    return qint64(rounded);
}

bool twoNumbers(sqlite3_context* context, sqlite3_value** argv, Number& a, Number& b) {
    const std::optional<Number> x = numberOf(argv[0]);
    const std::optional<Number> y = numberOf(argv[1]);
    if (!x || !y) {
        sqlite3_result_error(context, typeMismatch, -1);
        return false;
    }
    a = *x;
    b = *y;
    return true;
}

// a / b: always floating, an error for a zero divisor.
void divide(sqlite3_context* context, int argc, sqlite3_value** argv) {
    if (anyNull(argc, argv))
        return sqlite3_result_null(context);
    Number a, b;
    if (!twoNumbers(context, argv, a, b))
        return;
    if (asDouble(b) == 0)
        return sqlite3_result_error(context, divisionByZero, -1);
    sqlite3_result_double(context, asDouble(a) / asDouble(b));
}

// a \ b and a Mod b.
template <bool remainder> void wholeDivide(sqlite3_context* context, int argc, sqlite3_value** argv) {
    if (anyNull(argc, argv))
        return sqlite3_result_null(context);
    Number a, b;
    if (!twoNumbers(context, argv, a, b))
        return;
    const std::optional<qint64> x = wholeOf(a);
    const std::optional<qint64> y = wholeOf(b);
    if (!x || !y)
        return sqlite3_result_error(context, "Переполнение", -1);
    if (*y == 0)
        return sqlite3_result_error(context, divisionByZero, -1);
    if (*y == -1) // the one quotient that overflows
        return sqlite3_result_int64(context, remainder ? 0 : -*x);
    sqlite3_result_int64(context, remainder ? *x % *y : *x / *y);
}

// a + b: two texts are joined, as in Access; otherwise numbers are added.
void plus(sqlite3_context* context, int argc, sqlite3_value** argv) {
    if (anyNull(argc, argv))
        return sqlite3_result_null(context);
    if (sqlite3_value_type(argv[0]) == SQLITE_TEXT && sqlite3_value_type(argv[1]) == SQLITE_TEXT)
        return resultText(context, textOf(argv[0]) + textOf(argv[1]));
    Number a, b;
    if (!twoNumbers(context, argv, a, b))
        return;
    qint64 sum = 0;
    if (std::holds_alternative<qint64>(a) && std::holds_alternative<qint64>(b) &&
        !__builtin_add_overflow(std::get<qint64>(a), std::get<qint64>(b), &sum))
        return sqlite3_result_int64(context, sum);
    sqlite3_result_double(context, asDouble(a) + asDouble(b));
}

// a & b: Null joins as an empty text; only two Nulls give Null.
void concatenate(sqlite3_context* context, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL && sqlite3_value_type(argv[1]) == SQLITE_NULL)
        return sqlite3_result_null(context);
    resultText(context, textOf(argv[0]) + textOf(argv[1]));
}

// A count argument of Left, Right and Mid; false after reporting the error.
bool countOf(sqlite3_context* context, sqlite3_value* value, qint64& count, qint64 least) {
    if (sqlite3_value_type(value) == SQLITE_NULL) {
        sqlite3_result_error(context, invalidNull, -1);
        return false;
    }
    const std::optional<Number> n = numberOf(value);
    const std::optional<qint64> whole = n ? wholeOf(*n) : std::nullopt;
    if (!whole || *whole < least) {
        sqlite3_result_error(context, invalidArgument, -1);
        return false;
    }
    count = *whole;
    return true;
}

template <bool fromRight> void leftOrRight(sqlite3_context* context, int, sqlite3_value** argv) {
    qint64 count = 0;
    if (!countOf(context, argv[1], count, 0))
        return;
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL)
        return sqlite3_result_null(context);
    const QString text = textOf(argv[0]);
    const qsizetype n = qsizetype(std::min<qint64>(count, text.size()));
    resultText(context, fromRight ? text.right(n) : text.left(n));
}

void mid(sqlite3_context* context, int argc, sqlite3_value** argv) {
    qint64 start = 0;
    qint64 length = -1;
    if (!countOf(context, argv[1], start, 1) || (argc == 3 && !countOf(context, argv[2], length, 0)))
        return;
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL)
        return sqlite3_result_null(context);
    const QString text = textOf(argv[0]);
    if (start > text.size())
        return resultText(context, QString());
    resultText(context, text.mid(qsizetype(start - 1),
                                 length < 0 ? -1 : qsizetype(std::min<qint64>(length, text.size()))));
}

template <bool upper> void changeCase(sqlite3_context* context, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL)
        return sqlite3_result_null(context);
    const QString text = textOf(argv[0]);
    resultText(context, upper ? text.toUpper() : text.toLower());
}

// access_counter(table, column, seed, increment): the next number of a COUNTER(seed, increment)
// column, the seed first.
void nextCounter(sqlite3_context* context, int, sqlite3_value** argv) {
    sqlite3* db = sqlite3_context_db_handle(context);
    const auto quoted = [](const QString& name) {
        return u'"' + QString(name).replace(u'"', QStringLiteral("\"\"")) + u'"';
    };
    const qint64 seed = sqlite3_value_int64(argv[2]);
    const qint64 increment = sqlite3_value_int64(argv[3]);
    const QByteArray sql = QStringLiteral("SELECT %1(%2) FROM %3")
                               .arg(increment > 0 ? QStringLiteral("max") : QStringLiteral("min"),
                                    quoted(textOf(argv[1])), quoted(textOf(argv[0])))
                               .toUtf8();
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &statement, nullptr) != SQLITE_OK) {
        sqlite3_result_error(context, sqlite3_errmsg(db), -1);
        return;
    }
    const int rc = sqlite3_step(statement);
    if (rc != SQLITE_ROW) {
        sqlite3_result_error(context, sqlite3_errmsg(db), -1);
    } else if (sqlite3_column_type(statement, 0) == SQLITE_NULL) {
        sqlite3_result_int64(context, seed);
    } else {
        const qint64 last = sqlite3_column_int64(statement, 0);
        qint64 next = 0;
        if (__builtin_add_overflow(last, increment, &next))
            sqlite3_result_error(context, "Переполнение счётчика", -1);
        else
            sqlite3_result_int64(context, next);
    }
    sqlite3_finalize(statement);
}

// --- LIKE as Access runs it: % and _, [abc], [a-z] and [!abc] (also [^abc]), letter case ignored.

std::u32string folded(const QString& text) {
    std::u32string out;
    for (char32_t c : text.toUcs4())
        out.push_back(QChar::toCaseFolded(c));
    return out;
}

struct PatternItem {
    enum Kind { Any, One, Literal, List } kind = Any;
    char32_t c = 0;
    bool negated = false;
    std::vector<std::pair<char32_t, char32_t>> ranges; // List
    bool matches(char32_t t) const {
        if (kind == One)
            return true;
        if (kind == Literal)
            return c == t;
        bool in = false;
        for (const auto& [from, to] : ranges)
            in = in || (t >= from && t <= to);
        return in != negated;
    }
};

PatternItem item(PatternItem::Kind kind, char32_t c = 0) {
    PatternItem made;
    made.kind = kind;
    made.c = c;
    return made;
}

// False for a pattern Access refuses: a list that is not closed.
bool parsePattern(const std::u32string& pattern, std::optional<char32_t> escape,
                  std::vector<PatternItem>& items) {
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char32_t c = pattern[i];
        if (escape && c == *escape && i + 1 < pattern.size()) {
            items.push_back(item(PatternItem::Literal, pattern[++i]));
        } else if (c == U'%') {
            items.push_back(item(PatternItem::Any));
        } else if (c == U'_') {
            items.push_back(item(PatternItem::One));
        } else if (c == U'[') {
            PatternItem list = item(PatternItem::List);
            size_t j = i + 1;
            if (j < pattern.size() && (pattern[j] == U'!' || pattern[j] == U'^')) {
                list.negated = true;
                ++j;
            }
            const size_t first = j;
            for (; j < pattern.size() && (pattern[j] != U']' || j == first); ++j) {
                if (j + 2 < pattern.size() && pattern[j + 1] == U'-' && pattern[j + 2] != U']') {
                    list.ranges.emplace_back(pattern[j], pattern[j + 2]);
                    j += 2;
                } else {
                    list.ranges.emplace_back(pattern[j], pattern[j]);
                }
            }
            if (j >= pattern.size())
                return false;
            items.push_back(std::move(list));
            i = j;
        } else {
            items.push_back(item(PatternItem::Literal, c));
        }
    }
    return true;
}

bool likeMatches(const std::vector<PatternItem>& pattern, const std::u32string& text) {
    size_t p = 0, t = 0, starP = std::u32string::npos, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p].kind != PatternItem::Any && pattern[p].matches(text[t])) {
            ++p;
            ++t;
        } else if (p < pattern.size() && pattern[p].kind == PatternItem::Any) {
            starP = p++;
            starT = t;
        } else if (starP != std::u32string::npos) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p].kind == PatternItem::Any)
        ++p;
    return p == pattern.size();
}

// like(pattern, text [, escape]), as SQLite calls it for "text LIKE pattern".
void like(sqlite3_context* context, int argc, sqlite3_value** argv) {
    if (anyNull(argc, argv))
        return sqlite3_result_null(context);
    std::optional<char32_t> escape;
    if (argc == 3) {
        const std::u32string e = folded(textOf(argv[2]));
        if (e.size() != 1)
            return sqlite3_result_error(context, "ESCAPE expression must be a single character", -1);
        escape = e[0];
    }
    std::vector<PatternItem> items;
    if (!parsePattern(folded(textOf(argv[0])), escape, items))
        return sqlite3_result_error(context, "Недопустимый шаблон в LIKE: список [...] не закрыт", -1);
    sqlite3_result_int(context, likeMatches(items, folded(textOf(argv[1]))) ? 1 : 0);
}

} // namespace

bool registerAccessFunctions(sqlite3* db) {
    struct Function {
        const char* name;
        int arguments;
        void (*call)(sqlite3_context*, int, sqlite3_value**);
        bool deterministic = true;
    };
    const Function functions[] = {
        {"like", 2, like},
        {"like", 3, like},
        {"access_divide", 2, divide},
        {"access_intdiv", 2, wholeDivide<false>},
        {"access_mod", 2, wholeDivide<true>},
        {"access_plus", 2, plus},
        {"access_concat", 2, concatenate},
        {"access_left", 2, leftOrRight<false>},
        {"access_right", 2, leftOrRight<true>},
        {"access_mid", 2, mid},
        {"access_mid", 3, mid},
        {"access_ucase", 1, changeCase<true>},
        {"access_lcase", 1, changeCase<false>},
        {"access_counter", 4, nextCounter, false},
    };
    for (const Function& f : functions)
        if (sqlite3_create_function(db, f.name, f.arguments,
                                    SQLITE_UTF8 | (f.deterministic ? SQLITE_DETERMINISTIC : 0), nullptr,
                                    f.call, nullptr, nullptr) != SQLITE_OK)
            return false;
    return sqlite3_exec(db, "PRAGMA foreign_keys = ON", nullptr, nullptr, nullptr) == SQLITE_OK;
}

} // namespace data_access
