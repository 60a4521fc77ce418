#include "db_connection_string.h"

#include "data_access/data_access_error.h"

namespace data_access {

namespace {

[[noreturn]] void malformed() {
    throw providerError(ProviderFailure::BadConnectionString);
}

} // namespace

DbConnectionString DbConnectionString::parse(const QString& text) {
    DbConnectionString result;
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype equals = text.indexOf(u'=', i);
        const qsizetype semicolon = text.indexOf(u';', i);
        if (equals < 0 || (semicolon >= 0 && semicolon < equals)) {
            // Only blanks may stand between semicolons.
            const qsizetype end = semicolon < 0 ? text.size() : semicolon;
            if (!QStringView(text).mid(i, end - i).trimmed().isEmpty())
                malformed();
            i = end + 1;
            continue;
        }
        const QString key = text.mid(i, equals - i).trimmed();
        if (key.isEmpty())
            malformed();
        qsizetype v = equals + 1;
        while (v < text.size() && text[v] == u' ')
            ++v;
        QString value;
        if (v < text.size() && (text[v] == u'"' || text[v] == u'\'')) {
            const QChar quote = text[v];
            const qsizetype close = text.indexOf(quote, v + 1);
            if (close < 0)
                malformed();
            value = text.mid(v + 1, close - v - 1);
            i = close + 1;
            while (i < text.size() && text[i] == u' ')
                ++i;
            if (i < text.size() && text[i] != u';')
                malformed();
            ++i;
        } else {
            const qsizetype end = semicolon < 0 ? text.size() : semicolon;
            value = text.mid(v, end - v).trimmed();
            i = end + 1;
        }
        if (key.compare(u"Provider", Qt::CaseInsensitive) == 0)
            result.provider = value;
        else if (key.compare(u"Data Source", Qt::CaseInsensitive) == 0)
            result.dataSource = value;
        else if (key.compare(u"Jet OLEDB:Database Password", Qt::CaseInsensitive) == 0)
            result.password = value;
    }
    return result;
}

} // namespace data_access
