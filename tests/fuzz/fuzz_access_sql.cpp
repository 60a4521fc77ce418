// The Access SQL translator: any text either translates or is refused with an Error, never a crash;
// a statement it accepts translates the same every time, and none of Access's own operators is left
// in what reaches SQLite, where they mean something else.

#include "base/error.h"
#include "sql/access_sql.h"
#include "sql/sql_tokenizer.h"

#include <cstdlib>

using base::Error;
using sql::SqlQuoting;
using sql::SqlToken;
using sql::tokenizeSql;

namespace {

bool same(const sql::Translation& a, const sql::Translation& b) {
    return a.kind == b.kind && a.sql == b.sql && a.table == b.table && a.definitions == b.definitions &&
           a.column == b.column && a.newDefinition == b.newDefinition;
}

bool accessOperatorLeft(const sql::Translation& translation) {
    QStringList texts = translation.definitions;
    texts.append(translation.sql);
    for (const QString& text : texts)
        for (const SqlToken& token : tokenizeSql(text, SqlQuoting::Sqlite))
            if (token.isSymbol(u"&") || token.isSymbol(u"\\") || token.isSymbol(u"#") || token.isWord(u"MOD"))
                return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString statement = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    sql::Translation first;
    try {
        first = sql::translate(statement);
    } catch (const Error&) {
        return 0;
    }
    if (!same(first, sql::translate(statement)) || accessOperatorLeft(first))
        std::abort();
    return 0;
}
