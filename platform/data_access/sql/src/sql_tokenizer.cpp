#include "sql/sql_tokenizer.h"

#include "base/error.h"

using base::Error;

namespace sql {

namespace {

bool isWordStart(QChar c) {
    return c.isLetter() || c == u'_' || c.unicode() > 0x7F;
}
bool isWordPart(QChar c) {
    return c.isLetterOrNumber() || c == u'_' || c == u'$' || c.unicode() > 0x7F;
}

// The end (one past the closing quote) of text quoted by `quote`, where a doubled quote stands for
// one; -1 when the quote is not closed.
qsizetype quotedEnd(const QString& sql, qsizetype start, QChar quote) {
    qsizetype i = start + 1;
    while (i < sql.size()) {
        if (sql[i] == quote) {
            if (i + 1 < sql.size() && sql[i + 1] == quote) {
                i += 2;
                continue;
            }
            return i + 1;
        }
        ++i;
    }
    return -1;
}

qsizetype numberEnd(const QString& sql, qsizetype i) {
    const auto digits = [&] {
        while (i < sql.size() && sql[i].isDigit())
            ++i;
    };
    if (sql[i] == u'0' && i + 1 < sql.size() && (sql[i + 1] == u'x' || sql[i + 1] == u'X')) {
        i += 2;
        while (i < sql.size() && (sql[i].isDigit() || QStringLiteral("abcdefABCDEF").contains(sql[i])))
            ++i;
        return i;
    }
    digits();
    if (i < sql.size() && sql[i] == u'.') {
        ++i;
        digits();
    }
    if (i < sql.size() && (sql[i] == u'e' || sql[i] == u'E')) {
        qsizetype j = i + 1;
        if (j < sql.size() && (sql[j] == u'+' || sql[j] == u'-'))
            ++j;
        if (j < sql.size() && sql[j].isDigit()) {
            i = j;
            digits();
        }
    }
    return i;
}

} // namespace

QList<SqlToken> tokenizeSql(const QString& sql, SqlQuoting quoting) {
    QList<SqlToken> tokens;
    qsizetype i = 0;
    const auto add = [&](SqlToken::Kind kind, qsizetype end) {
        tokens.append({kind, sql.mid(i, end - i)});
        i = end;
    };
    const auto unclosed = [](const char* what) {
        throw Error(std::string("Syntax error in the SQL statement: ") + what + " is not closed.");
    };
    while (i < sql.size()) {
        const QChar c = sql[i];
        const QChar next = i + 1 < sql.size() ? sql[i + 1] : QChar();
        if (c.isSpace()) {
            qsizetype end = i;
            while (end < sql.size() && sql[end].isSpace())
                ++end;
            add(SqlToken::Kind::Space, end);
        } else if (c == u'-' && next == u'-') {
            const qsizetype lineEnd = sql.indexOf(u'\n', i);
            add(SqlToken::Kind::Comment, lineEnd < 0 ? sql.size() : lineEnd);
        } else if (c == u'/' && next == u'*') {
            const qsizetype close = sql.indexOf(QStringLiteral("*/"), i + 2);
            if (close < 0)
                unclosed("a comment");
            add(SqlToken::Kind::Comment, close + 2);
        } else if (c == u'\'') {
            const qsizetype end = quotedEnd(sql, i, c);
            if (end < 0)
                unclosed("a quoted text");
            add(SqlToken::Kind::String, end);
        } else if (c == u'"') {
            const qsizetype end = quotedEnd(sql, i, c);
            if (end < 0)
                unclosed(quoting == SqlQuoting::Access ? "a quoted text" : "a quoted name");
            add(quoting == SqlQuoting::Access ? SqlToken::Kind::String : SqlToken::Kind::Name, end);
        } else if (c == u'#' && quoting == SqlQuoting::Access) {
            const qsizetype close = sql.indexOf(u'#', i + 1);
            if (close < 0)
                unclosed("a date literal");
            add(SqlToken::Kind::Date, close + 1);
        } else if (c == u'`') {
            const qsizetype end = quotedEnd(sql, i, c);
            if (end < 0)
                unclosed("a quoted name");
            add(SqlToken::Kind::Name, end);
        } else if (c == u'[') {
            const qsizetype close = sql.indexOf(u']', i + 1);
            if (close < 0)
                unclosed("a name in brackets");
            add(SqlToken::Kind::Name, close + 1);
        } else if (c.isDigit() || (c == u'.' && next.isDigit())) {
            add(SqlToken::Kind::Number, numberEnd(sql, i));
        } else if (isWordStart(c)) {
            qsizetype end = i + 1;
            while (end < sql.size() && isWordPart(sql[end]))
                ++end;
            add(SqlToken::Kind::Word, end);
        } else if (c == u'?') {
            qsizetype end = i + 1;
            while (end < sql.size() && sql[end].isDigit())
                ++end;
            add(SqlToken::Kind::Parameter, end);
        } else {
            static const QString pairs[] = {QStringLiteral("<="), QStringLiteral(">="), QStringLiteral("<>"),
                                            QStringLiteral("!="), QStringLiteral("=="), QStringLiteral("||"),
                                            QStringLiteral("<<"), QStringLiteral(">>")};
            qsizetype end = i + 1;
            for (const QString& pair : pairs)
                if (QStringView(sql).mid(i, 2) == pair)
                    end = i + 2;
            add(SqlToken::Kind::Symbol, end);
        }
    }
    return tokens;
}

QString identifierOf(const SqlToken& token) {
    if (token.kind != SqlToken::Kind::Name)
        return token.text;
    const QString inner = token.text.mid(1, token.text.size() - 2);
    const QChar open = token.text.front();
    if (open == u'[')
        return inner;
    QString doubled(2, open);
    return QString(inner).replace(doubled, QString(open));
}

QString quotedName(const QString& name) {
    return u'"' + QString(name).replace(QStringLiteral("\""), QStringLiteral("\"\"")) + u'"';
}

QString quotedText(const QString& text) {
    return u'\'' + QString(text).replace(QStringLiteral("'"), QStringLiteral("''")) + u'\'';
}

QString joinTokens(const QList<SqlToken>& tokens) {
    QString out;
    for (const SqlToken& token : tokens)
        out += token.text;
    return out;
}

} // namespace sql
