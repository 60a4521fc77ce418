#pragma once

#include "data_access/db_types.h"

#include <QString>
#include <QVariant>

namespace data_access {

class DbDataSet;

// One column of the current row of a query or table. Reads give the current row's value (a row being
// inserted or edited included); writes go to the row being inserted or edited.
class DbField {
public:
    const QString& FieldName() const;
    DbFieldType DataType() const;

    bool IsNull() const;        // never for a Yes/No field, which reads No where a file holds Null
    QVariant AsVariant() const; // Null: an invalid QVariant; a Yes/No field gives a bool
    QString AsString() const;   // Null: empty
    int AsInteger() const;      // Null: 0
    qint64 AsLargeInt() const;  // Null: 0
    bool AsBoolean() const;     // Null: false; any number but 0 is true

    // Writing a Null variant leaves the column empty (a Yes/No field: No). Raise Error for a value
    // the field's type cannot take, a read-only field, or a data set not inserting or editing.
    void setAsVariant(const QVariant& value);
    void setAsString(const QString& value);
    void setAsInteger(qint64 value);
    void setAsBoolean(bool value);

private:
    friend class DbDataSet;
    DbField(DbDataSet& dataSet, int column)
        : m_dataSet(&dataSet)
        , m_column(column) {}

    const QVariant& stored() const;

    DbDataSet* m_dataSet;
    int m_column;
};

} // namespace data_access
