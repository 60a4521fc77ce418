#pragma once

#include <QList>
#include <QString>
#include <QStringView>

namespace sql {

// SQL text cut into tokens, so that translations work on words and symbols and never touch what is
// inside quoted text, quoted names or comments.
struct SqlToken {
    enum class Kind {
        Space,
        Comment,
        Word,   // a bare word: keyword or name
        Name,   // a quoted name: [name], `name` (and "name" in SQLite's own texts)
        String, // a quoted text
        Date,   // an Access date literal: #3/10/2022#
        Number,
        Parameter, // ?
        Symbol,    // operators and punctuation; <=, >=, <>, !=, ==, || as one token
    };
    Kind kind;
    QString text; // as written, quotes included

    bool isWord(QStringView word) const {
        return kind == Kind::Word && text.compare(word, Qt::CaseInsensitive) == 0;
    }
    bool isSymbol(QStringView symbol) const { return kind == Kind::Symbol && text == symbol; }
    bool isSignificant() const { return kind != Kind::Space && kind != Kind::Comment; }
    bool isIdentifier() const { return kind == Kind::Word || kind == Kind::Name; }
};

enum class SqlQuoting {
    Access, // "text" is a text and #...# a date, as in Access
    Sqlite, // "name" is a name, as in the schema texts SQLite stores
};

// Raises Error for a quoted text, quoted name or comment that is not closed.
QList<SqlToken> tokenizeSql(const QString& sql, SqlQuoting quoting);

// The name a Word or Name token stands for, without quotes.
QString identifierOf(const SqlToken& token);
// A name quoted for SQLite, safe whatever it holds.
QString quotedName(const QString& name);
// A text quoted as an SQL string literal: in single quotes, every single quote inside doubled (the
// same in the Access dialect and in SQLite).
QString quotedText(const QString& text);
// The tokens' texts put together again.
QString joinTokens(const QList<SqlToken>& tokens);

} // namespace sql
