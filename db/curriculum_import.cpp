// The import of the retraining course "ВУС-845 (переподготовка с B на D)" from the curriculum
// database that comes with the update: the subjects the target database (on ADOConnection1) lacks,
// then the course's plan rows when the target has none for the course yet.

#include "db/database_files.h"
#include "db/database_steps.h"
#include "db/tables.h"
#include "seams/activity_log.h"
#include "sql/sql_tokenizer.h"

#include <QList>
#include <QStringList>
#include <QVariantList>

using data_access::DbDataSet;
using data_access::DbLocateOptions;
using data_access::DbTable;
using data_access::loCaseInsensitive;
using sql::quotedText;

namespace {

const QString copyFailed = QStringLiteral("Ошибка копирования!");

// Name, cycle and abbreviation of the current row, read as texts (Null reads as empty).
QStringList subjectKeyOf(DbDataSet& row) {
    return {row.FieldByName(db::teach_obj::teach_obj_name).AsString(),
            row.FieldByName(db::teach_obj::teach_obj_cycle).AsString(),
            row.FieldByName(db::teach_obj::teach_obj_sokr).AsString()};
}

// Locate on the subject key, where an empty key text also finds a Null one: the texts are read
// with Null as empty, and a subject without an abbreviation in both databases is one subject.
bool locateSubject(DbDataSet& subjects, const QStringList& key, DbLocateOptions options) {
    QList<qsizetype> empty;
    for (qsizetype i = 0; i < key.size(); ++i)
        if (key[i].isEmpty())
            empty.append(i);
    for (int nulls = 0; nulls < (1 << empty.size()); ++nulls) {
        QVariantList values;
        for (const QString& text : key)
            values.append(text);
        for (qsizetype j = 0; j < empty.size(); ++j)
            if (nulls & (1 << j))
                values[empty[j]] = QVariant();
        if (subjects.Locate(db::teach_obj::subjectKey, values, options))
            return true;
    }
    return false;
}

} // namespace

void db::DatabaseSteps::Update_vus_845() {
    AddToLog(QStringLiteral("Копирование учебного плана по вус-845!"));
    if (!connectToBase2(
            db::locations::pathIn(m_updaterFolder, {db::locations::resFolder, db::locations::curriculumBase}),
            db::curriculumDatabasePassword))
        return;
    const QString course = db::categories::vus845BtoD;
    try {
        // Subjects. The search runs over the target's subjects as selected here: the ones inserted
        // below are not searched.
        openSql(ADOQuery2, QStringLiteral(" Select *  from teach_obj"));
        openSql(ADOQuery1, QStringLiteral(" Select *  from teach_obj"));
        ADOTable1.setTableName(db::teach_obj::name);
        ADOTable1.Open();
        for (ADOQuery2.First(); !ADOQuery2.Eof(); ADOQuery2.Next()) {
            const QStringList key = subjectKeyOf(ADOQuery2);
            const QString crypt = ADOQuery2.FieldByName(db::teach_obj::teach_crypt).AsString();
            const bool drive = ADOQuery2.FieldByName(db::teach_obj::teach_drive).AsBoolean();
            if (locateSubject(ADOQuery1, key, loCaseInsensitive))
                continue;
            ADOTable1.Insert();
            ADOTable1.FieldByName(db::teach_obj::teach_obj_name).setAsString(key[0]);
            ADOTable1.FieldByName(db::teach_obj::teach_obj_cycle).setAsString(key[1]);
            ADOTable1.FieldByName(db::teach_obj::teach_obj_sokr).setAsString(key[2]);
            ADOTable1.FieldByName(db::teach_obj::teach_crypt).setAsString(crypt);
            ADOTable1.FieldByName(db::teach_obj::teach_drive).setAsBoolean(drive);
            ADOTable1.Post();
        }
        ADOTable1.Close();

        // The course's category in the target. Without it the plan rows would belong to no
        // category: nothing of the plan is imported.
        openSql(ADOQuery1, QStringLiteral(" Select *  from category_tc where (category_tc_name =") +
                               quotedText(course) + QStringLiteral(")"));
        if (ADOQuery1.RecordCount() == 0) {
            AddToLog(copyFailed);
            return;
        }
        const int category = ADOQuery1.FieldByName(db::category_tc::category_tc_id).AsInteger();

        openSql(ADOQuery1, QStringLiteral(" Select *  from edu_plan where (category_tc_id =") +
                               QString::number(category) + QStringLiteral(")"));
        if (ADOQuery1.RecordCount() == 0) {
            openSql(
                ADOQuery2,
                QStringLiteral(" Select *  from edu_plan, category_tc, teach_obj where (category_tc_name =") +
                    quotedText(course) + QStringLiteral(")") +
                    QStringLiteral(" and (edu_plan.teach_obj_id = teach_obj.teach_obj_id)") +
                    QStringLiteral(" and (edu_plan.category_tc_id = category_tc.category_tc_id);"));
            ADOTable1.setTableName(db::edu_plan::name);
            ADOTable1.Open();
            ADOTable11.setTableName(db::teach_obj::name);
            ADOTable11.Open();
            for (ADOQuery2.First(); !ADOQuery2.Eof(); ADOQuery2.Next()) {
                // Letter case counts here: a subject the first search took in other letter case
                // is not found, and its plan row is skipped.
                if (!locateSubject(ADOTable11, subjectKeyOf(ADOQuery2), {}))
                    continue;
                const int subject = ADOTable11.FieldByName(db::teach_obj::teach_obj_id).AsInteger();
                ADOTable1.Insert();
                ADOTable1.FieldByName(db::edu_plan::category_tc_id).setAsInteger(category);
                ADOTable1.FieldByName(db::edu_plan::teach_obj_id).setAsInteger(subject);
                for (const QString& hours :
                     {db::edu_plan::edu_plan_theory, db::edu_plan::edu_plan_lpz,
                      db::edu_plan::edu_plan_practice, db::edu_plan::edu_plan_prom_attest})
                    ADOTable1.FieldByName(hours).setAsInteger(ADOQuery2.FieldByName(hours).AsInteger());
                ADOTable1.Post();
            }
        }
        ADOConnection1.Close();
        AddToLog(QStringLiteral("успешно!"));
    } catch (const std::exception&) {
        // The rows posted so far stay, and the connections stay as they are. The tables let go of
        // a row the database refused, so that the next run can give them their tables again.
        for (DbTable* table : {&ADOTable1, &ADOTable11}) {
            try {
                table->Close();
            } catch (const std::exception&) {
                // already reported by the line below
            }
        }
        AddToLog(copyFailed);
    }
}
