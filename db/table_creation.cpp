// Steps that add a whole table unless it is there: the driving schedule and the payment documents.

#include "db/database_steps.h"
#include "db/tables.h"
#include "seams/activity_log.h"
#include "sql/sql_tokenizer.h"

using sql::quotedText;

bool db::DatabaseSteps::CreateTableGrafikVojdenija() {
    AppendToLog(QStringLiteral("Проверка существования таблицы \"График вождения\"... "));
    if (probe(QStringLiteral("SmenaNum"), QStringLiteral("GrafikVojdenija"))) {
        AddToLog(QStringLiteral("статус - ок "));
        return true;
    }
    AddToLog(QStringLiteral("статус - таблица отсутствует"));
    try {
        AddToLog(QStringLiteral("Создаем таблицу График вождения... "));
        execSql(ADOQuery1,
                QStringLiteral(" CREATE TABLE GrafikVojdenija ([id] AUTOINCREMENT PRIMARY KEY, [student_id]  "
                               "integer,  [zan_date]  DATETIME,  [SmenaNum] INTEGER,  [instruktor_id] "
                               "INTEGER,  [vypolneno] BIT, [teach_obj_id] INTEGER);"));
        AddToLog(QStringLiteral("статус - ок "));
        return true;
    } catch (const std::exception&) {
        // "cоздания" begins with a Latin c, as the program has always written it.
        AddToLog(QStringLiteral("Внимание! Ошибка cоздания таблицы \"График вождения\"!"));
        return false;
    }
}

bool db::DatabaseSteps::CreateTableSpravka() {
    AppendToLog(QStringLiteral("Проверка существования таблицы справка... "));
    if (probe(QStringLiteral("spravka_type"), QStringLiteral("spravka"))) {
        AddToLog(QStringLiteral("статус - ок "));
        return true;
    }
    AddToLog(QStringLiteral("статус - таблица отсутствует"));
    try {
        AddToLog(QStringLiteral("Создаем таблицу справки... "));
        execSql(ADOQuery1,
                QStringLiteral(" CREATE TABLE spravka (spravka_id AUTOINCREMENT PRIMARY KEY,  spravka_type "
                               "VARCHAR(255), spravka_text VARCHAR(255), spravka_sokr VARCHAR(255));"));
        for (const QString& type : db::spravka::seedTypes)
            execSql(ADOQuery1, QStringLiteral("INSERT INTO spravka (spravka_type,spravka_text)   VALUES (") +
                                   quotedText(type) + u',' + quotedText(db::spravka::seedText) + u')');
        AddToLog(QStringLiteral("статус - ок "));
        return true;
    } catch (const std::exception&) {
        AddToLog(QStringLiteral("Внимание! Ошибка обновления базы данных!"));
        AddToLog(QStringLiteral("Невозможно создать таблицу!"));
        return false;
    }
}
