#pragma once

// The index that lets Locate find a row of a snapshot in constant time. Internal to the
// data-access layer.

#include "data_access/db_types.h"

#include <QHash>
#include <QString>
#include <QVariant>

#include <vector>

namespace data_access {

class LocateIndex {
public:
    LocateIndex(std::vector<int> columns, std::vector<DbFieldType> types, bool caseInsensitive);

    void add(int row, const std::vector<QVariant>& values);    // a row after all indexed ones
    void insert(int row, const std::vector<QVariant>& values); // a row anywhere
    void remove(int row, const std::vector<QVariant>& values);
    // The first row whose key columns match `keys` (one value per column), or -1.
    int find(const QVariantList& keys) const;

private:
    QString keyOf(const std::vector<QVariant>& values) const;

    std::vector<int> m_columns;
    std::vector<DbFieldType> m_types;
    bool m_caseInsensitive;
    QHash<QString, std::vector<int>> m_rows; // ascending
};

} // namespace data_access
