// Corrections of the vehicle category rows: the licence categories of the specialties, and the
// retraining courses of specialty 845.

#include "db/database_steps.h"
#include "db/tables.h"
#include "seams/activity_log.h"
#include "sql/sql_tokenizer.h"

using sql::quotedText;

namespace {

const QString categoryFailure = QStringLiteral("Ошибка обновления категорий ТС для ВУС...");

} // namespace

void db::DatabaseSteps::FillCategory_tc() {
    try {
        AddToLog(QStringLiteral("Вставим категории ТС для специальностей ВУС..."));
        execSql(ADOQuery1,
                QStringLiteral(
                    " UPDATE category_tc SET category_tc_gibdd = 'Категория «C»' WHERE (category_tc_name = "
                    "'ВУС-124') OR (category_tc_name = 'ВУС-280') OR (category_tc_name = 'ВУС-283') OR "
                    "(category_tc_name = 'ВУС-837') OR (category_tc_name = 'ВУС-837 э/м') OR "
                    "(category_tc_name = 'ВУС-838') OR (category_tc_name = 'ВУС-859') OR (category_tc_name "
                    "= 'ВУС-982');"));
        // Here the letter between the first guillemets is the Cyrillic С.
        execSql(ADOQuery1,
                QStringLiteral(" UPDATE category_tc SET category_tc_gibdd = 'Переподготовка с категории "
                               "«С» на категорию «D»' WHERE (category_tc_name = 'ВУС-845');"));
        execSql(ADOQuery1,
                QStringLiteral(" UPDATE category_tc SET category_tc_gibdd = 'Категория «CE»' WHERE "
                               "(category_tc_name = 'ВУС-846');"));
        AddToLog(QStringLiteral("Успешно..."));
    } catch (const std::exception&) {
        AddToLog(categoryFailure);
    }
}

void db::DatabaseSteps::FillNewCategory_tc() {
    try {
        AddToLog(QStringLiteral("Обновим категории ТС для специальностей ВУС..."));
        execSql(ADOQuery1,
                QStringLiteral(" UPDATE category_tc SET category_tc_name = 'ВУС-845 (переподготовка с C на "
                               "D)' WHERE (category_tc_name = 'ВУС-845');"));
        openSql(ADOQuery1, QStringLiteral(" select *  from category_tc  WHERE (category_tc_name = 'ВУС-845 "
                                          "(переподготовка с B на D)');"));
        if (ADOQuery1.RecordCount() == 0)
            execSql(
                ADOQuery1,
                QStringLiteral("INSERT INTO category_tc (category_tc_name,category_tc_description, "
                               "category_tc_gibdd)   VALUES (") +
                    quotedText(db::categories::vus845BtoD) + QStringLiteral(", ") +
                    quotedText(QStringLiteral("Профессиональная подготовка военных водителей транспортных "
                                              "средств - переподготовка с категории «B» на категорию «D»")) +
                    QStringLiteral(", ") +
                    quotedText(QStringLiteral("Переподготовка с категории «B» на категорию «D»")) + u')');
        AddToLog(QStringLiteral("Успешно..."));
    } catch (const std::exception&) {
        AddToLog(categoryFailure);
    }
}
