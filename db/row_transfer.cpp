// Row transfer between the two connections: the merge of missing rows (CopyTable), the appending
// copy with its flag (CopyADToMainBase), the study plans of missing categories (copyPlan) and the
// row-by-row overwrite (CopySchoolMainBase).

#include "data_access/db_field.h"
#include "db/database_steps.h"
#include "db/tables.h"
#include "seams/activity_log.h"

#include <QHash>
#include <QLocale>

#include <exception>
#include <optional>
#include <vector>

using data_access::DbDataSet;
using data_access::DbField;
using data_access::DbFieldDef;
using data_access::DbTable;
using data_access::ftAutoInc;
using data_access::ftFloat;
using data_access::ftInteger;
using seams::ActivityLog;

namespace {

QString failureLine(const QString& table_name) {
    return QStringLiteral("Ошибка обновления таблицы = ") + table_name;
}

QString successLine(const QString& table_name) {
    return QStringLiteral("Обновление таблицы ") + table_name + QStringLiteral(" = успешно");
}

// Gives each table its name and opens it, the first one first.
void openTables(DbTable& first, const QString& firstName, DbTable& second, const QString& secondName) {
    first.setTableName(firstName);
    first.Open();
    second.setTableName(secondName);
    second.Open();
}

// Closes both tables, the second even when closing the first fails.
void closeTables(DbTable& first, DbTable& second) {
    try {
        first.Close();
    } catch (...) {
        second.Close();
        throw;
    }
    second.Close();
}

// After a failure, which the log already reports: both tables end closed whatever closing says.
void closeTablesAfterFailure(DbTable& first, DbTable& second) noexcept {
    try {
        first.Close();
    } catch (...) {
    }
    try {
        second.Close();
    } catch (...) {
    }
}

// The fields a copy writes: every one but the autoincrement ones, which the target numbers itself.
QStringList copiedFields(const DbDataSet& source) {
    QStringList names;
    for (const DbFieldDef& def : source.FieldDefs())
        if (def.DataType != ftAutoInc)
            names.append(def.Name);
    return names;
}

std::vector<DbField> fieldsOf(DbDataSet& dataSet, const QStringList& names) {
    std::vector<DbField> fields;
    fields.reserve(size_t(names.size()));
    for (const QString& name : names)
        fields.push_back(dataSet.FieldByName(name));
    return fields;
}

// Writes each copied field of the current source row into the field of the same name of the
// target's row being inserted or edited, Null included. The target's fields are looked up at the
// first row, so a field the target lacks fails there.
class RowCopy {
public:
    RowCopy(DbDataSet& source, DbDataSet& target)
        : m_names(copiedFields(source))
        , m_source(fieldsOf(source, m_names))
        , m_targetSet(target) {}

    void operator()() {
        if (m_target.empty() && !m_names.isEmpty())
            m_target = fieldsOf(m_targetSet, m_names);
        for (size_t i = 0; i < m_target.size(); ++i)
            m_target[i].setAsVariant(m_source[i].AsVariant());
    }

private:
    QStringList m_names;
    std::vector<DbField> m_source;
    DbDataSet& m_targetSet;
    std::vector<DbField> m_target;
};

// The text by which CopyTable judges a value (an empty one is not copied, the first one is the merge
// key): integers as the decimal digits of their 64-bit value, floating-point numbers in the shortest
// form that reads back as the same number.
QString carriedText(const DbField& field) {
    switch (field.DataType()) {
    case ftInteger:
        return QString::number(field.AsLargeInt());
    case ftFloat: {
        bool number = false;
        const double value = field.AsVariant().toDouble(&number);
        if (number)
            return QString::number(value, 'g', QLocale::FloatingPointShortest);
        return field.AsString();
    }
    default:
        return field.AsString();
    }
}

// The name under which `names` holds `table_name`, letter case ignored; empty when it holds none.
QString storedName(const QStringList& names, const QString& table_name) {
    for (const QString& name : names)
        if (name.compare(table_name, Qt::CaseInsensitive) == 0)
            return name;
    return QString();
}

// The progress dots of copyPlan. The scans of the source, one per missing category, count their
// rows together; a dot is due after the 201st, 401st, ... row. The dots are counted from the number
// of rows the scans read, and written onto the log's last line when a category is done or the copy
// ends.
class ProgressDots {
public:
    explicit ProgressDots(ActivityLog& log)
        : m_log(log) {}

    qint64 scanned() const { return m_scanned; }

    // The scans have read `scanned` rows in all. A dot due while the log holds no line fails.
    void reach(qint64 scanned) {
        const qint64 due = dotsAfter(scanned) - dotsAfter(m_scanned);
        m_scanned = scanned;
        if (due <= 0)
            return;
        m_log.LastLogLine(); // raises while the log is empty
        m_pending += due;
    }

    void write() {
        if (m_pending == 0)
            return;
        m_log.ReplaceLastLogLine(m_log.LastLogLine() + QString(qsizetype(m_pending), u'.'));
        m_pending = 0;
    }

private:
    static qint64 dotsAfter(qint64 scanned) { return scanned > 0 ? (scanned - 1) / 200 : 0; }

    ActivityLog& m_log;
    qint64 m_scanned = 0;
    qint64 m_pending = 0;
};

// The source plan read once, its rows grouped by category, in place of a scan per category.
struct PlanRows {
    QStringList fields;                         // the copied fields
    std::vector<std::vector<QVariant>> values;  // per source row, the copied fields' values
    QHash<qint64, std::vector<int>> byCategory; // source rows in their order
    int count = 0;                              // rows of the source
    // A row whose category cannot be read as an integer stops every scan there.
    int failingRow = -1;
    std::exception_ptr failure;

    void read(DbTable& source) {
        fields = copiedFields(source);
        count = source.RecordCount();
        values.reserve(size_t(count));
        const DbField categoryField = source.FieldByName(db::obob_uch_plan::category_tc_id);
        const std::vector<DbField> sourceFields = fieldsOf(source, fields);
        int row = 0;
        for (source.First(); !source.Eof(); source.Next(), ++row) {
            qint64 category = 0;
            try {
                category = categoryField.AsInteger();
            } catch (...) {
                failingRow = row;
                failure = std::current_exception();
                return;
            }
            std::vector<QVariant>& rowValues = values.emplace_back();
            rowValues.reserve(sourceFields.size());
            for (const DbField& field : sourceFields)
                rowValues.push_back(field.AsVariant());
            byCategory[category].push_back(row);
        }
    }
};

} // namespace

void db::DatabaseSteps::CopyTable(const QString& table_name) {
    QStringList names1;
    QStringList names2;
    ADOConnection1.GetTableNames(names1);
    ADOConnection2.GetTableNames(names2);
    const QString target = storedName(names1, table_name);
    const QString source = storedName(names2, table_name);
    if (target.isEmpty() || source.isEmpty())
        return;
    try {
        openTables(ADOTable1, target, ADOTable2, source);
        // The source's fields are looked up once; a target field when it is first written, so that
        // one the target lacks fails where the row that needs it is inserted.
        struct Column {
            QString name;
            DbField source;
            std::optional<DbField> target;
        };
        std::vector<Column> columns;
        for (const DbFieldDef& def : ADOTable2.FieldDefs())
            if (def.DataType != ftAutoInc)
                columns.push_back({def.Name, ADOTable2.FieldByName(def.Name), {}});
        // The working lists of a row: the fields collected (positions in `columns`) and their
        // values. The texts decide what is copied: the first is the merge key, and a field whose
        // text is empty (only an empty text or no bytes have one) is not written. The value goes
        // as it is, so that no digit of a date, a number or bytes is lost on the way through text.
        std::vector<size_t> names;
        std::vector<QVariant> values;
        const auto emptyText = [](const QVariant& value) {
            return (value.typeId() == QMetaType::QString && value.toString().isEmpty()) ||
                   (value.typeId() == QMetaType::QByteArray && value.toByteArray().isEmpty());
        };
        for (ADOTable2.First(); !ADOTable2.Eof(); ADOTable2.Next()) {
            names.clear();
            values.clear();
            for (size_t i = 0; i < columns.size(); ++i) {
                if (columns[i].source.IsNull())
                    continue;
                if (columns[i].source.DataType() == ftInteger)
                    columns[i].source.AsLargeInt(); // its text is this number's: a value that is none fails
                names.push_back(i);
                values.push_back(columns[i].source.AsVariant());
            }
            if (names.empty() || emptyText(values.front()))
                continue;
            // Rows posted by this run are in the table's snapshot, so they are found too.
            if (ADOTable1.Locate(columns[names.front()].name, carriedText(columns[names.front()].source)))
                continue;
            ADOTable1.Insert();
            for (size_t i = 0; i < names.size(); ++i) {
                if (emptyText(values[i]))
                    continue; // keeps what the insertion gave it
                Column& column = columns[names[i]];
                if (!column.target)
                    column.target = ADOTable1.FieldByName(column.name);
                column.target->setAsVariant(values[i]);
            }
            ADOTable1.Post();
        }
        closeTables(ADOTable1, ADOTable2);
    } catch (...) {
        AddToLog(failureLine(table_name));
        closeTablesAfterFailure(ADOTable1, ADOTable2);
    }
}

void db::DatabaseSteps::CopyADToMainBase(const QString& table_name, const QString& s_ad_vus) {
    try {
        openTables(ADOTable1, table_name, ADOTable2, table_name);
        RowCopy copyRow(ADOTable1, ADOTable2);
        for (ADOTable1.First(); !ADOTable1.Eof(); ADOTable1.Next()) {
            ADOTable2.Insert();
            copyRow();
            ADOTable2.Post();
        }
        execSql(ADOQuery2, QStringLiteral(" UPDATE ") + table_name + QStringLiteral(" SET ") + table_name +
                               s_ad_vus + QStringLiteral(" = true ") + QStringLiteral(" WHERE (") +
                               table_name + QStringLiteral("_ad = false) ;"));
        AddToLog(successLine(table_name));
        closeTables(ADOTable1, ADOTable2);
    } catch (...) {
        AddToLog(failureLine(table_name));
        closeTablesAfterFailure(ADOTable1, ADOTable2);
    }
}

void db::DatabaseSteps::copyPlan() {
    const QString& table = db::obob_uch_plan::name;
    ProgressDots dots(m_log);
    try {
        openTables(ADOTable1, table, ADOTable2, table);
        openSql(ADOQuery2, QStringLiteral("select distinct category_tc_id from obob_uch_plan order by "
                                          "category_tc_id;"));
        PlanRows plan;
        bool planRead = false;
        std::vector<DbField> targetFields; // looked up at the first copied row
        for (ADOQuery2.First(); !ADOQuery2.Eof(); ADOQuery2.Next()) {
            const int category = ADOQuery2.FieldByName(db::obob_uch_plan::category_tc_id).AsInteger();
            if (ADOTable1.Locate(db::obob_uch_plan::category_tc_id, category))
                continue;
            if (!planRead) {
                plan.read(ADOTable2);
                planRead = true;
            }
            // What a scan of the whole source for this category does, with the dots of the rows
            // it reads before each copied row.
            const qint64 start = dots.scanned();
            const auto rows = plan.byCategory.constFind(category);
            if (rows != plan.byCategory.constEnd()) {
                for (const int row : rows.value()) {
                    dots.reach(start + row);
                    ADOTable1.Insert();
                    if (targetFields.empty())
                        targetFields = fieldsOf(ADOTable1, plan.fields);
                    for (size_t i = 0; i < targetFields.size(); ++i)
                        targetFields[i].setAsVariant(plan.values[size_t(row)][i]);
                    ADOTable1.Post();
                }
            }
            if (plan.failure) {
                dots.reach(start + plan.failingRow);
                std::rethrow_exception(plan.failure);
            }
            dots.reach(start + plan.count);
            dots.write();
        }
        AddToLog(successLine(table));
        closeTables(ADOTable1, ADOTable2);
    } catch (...) {
        try {
            dots.write();
        } catch (...) {
            // Only due while the log has a line; nothing more to tell if writing fails.
        }
        AddToLog(failureLine(table));
        closeTablesAfterFailure(ADOTable1, ADOTable2);
    }
}

void db::DatabaseSteps::CopySchoolMainBase(const QString& table_name) {
    try {
        openTables(ADOTable1, table_name, ADOTable2, table_name);
        RowCopy copyRow(ADOTable1, ADOTable2);
        // The target's cursor walks with the source's, both tables read in the order of their primary
        // keys: row i over row i, then new rows.
        ADOTable2.First();
        for (ADOTable1.First(); !ADOTable1.Eof(); ADOTable1.Next()) {
            if (ADOTable2.Eof())
                ADOTable2.Insert();
            else
                ADOTable2.Edit();
            copyRow();
            ADOTable2.Post();
            ADOTable2.Next();
        }
        AddToLog(successLine(table_name));
        closeTables(ADOTable1, ADOTable2);
    } catch (...) {
        AddToLog(failureLine(table_name));
        closeTablesAfterFailure(ADOTable1, ADOTable2);
    }
}
