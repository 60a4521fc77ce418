#include "db_locate_index.h"

#include "db_values.h"

#include <algorithm>

namespace data_access {

namespace {

void appendPart(QString& key, const QString& part) {
    key += QString::number(part.size());
    key += u':';
    key += part;
}

} // namespace

LocateIndex::LocateIndex(std::vector<int> columns, std::vector<DbFieldType> types, bool caseInsensitive)
    : m_columns(std::move(columns))
    , m_types(std::move(types))
    , m_caseInsensitive(caseInsensitive) {}

QString LocateIndex::keyOf(const std::vector<QVariant>& values) const {
    QString key;
    for (size_t i = 0; i < m_columns.size(); ++i)
        appendPart(key, data_access::locateKey(values[size_t(m_columns[i])], m_types[i], m_caseInsensitive));
    return key;
}

void LocateIndex::add(int row, const std::vector<QVariant>& values) {
    m_rows[keyOf(values)].push_back(row);
}

void LocateIndex::insert(int row, const std::vector<QVariant>& values) {
    std::vector<int>& rows = m_rows[keyOf(values)];
    rows.insert(std::lower_bound(rows.begin(), rows.end(), row), row);
}

void LocateIndex::remove(int row, const std::vector<QVariant>& values) {
    const auto found = m_rows.find(keyOf(values));
    if (found == m_rows.end())
        return;
    std::vector<int>& rows = found.value();
    const auto at = std::lower_bound(rows.begin(), rows.end(), row);
    if (at != rows.end() && *at == row)
        rows.erase(at);
    if (rows.empty())
        m_rows.erase(found);
}

int LocateIndex::find(const QVariantList& keys) const {
    QString key;
    for (size_t i = 0; i < m_columns.size(); ++i)
        appendPart(key, data_access::locateKey(keys[qsizetype(i)], m_types[i], m_caseInsensitive));
    const auto found = m_rows.constFind(key);
    return found == m_rows.constEnd() ? -1 : found.value().front();
}

} // namespace data_access
