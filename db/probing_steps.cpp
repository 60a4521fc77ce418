// Steps that bring a database's structure up to date one column or one table at a time: each probes
// first and changes the database only when the probe fails.

#include "db/database_steps.h"
#include "seams/activity_log.h"
#include "seams/dialogs.h"

namespace {

const QString updateNotCorrect = QStringLiteral("Обновление не корректно!");
const QString attention = QStringLiteral("Внимание");

} // namespace

bool db::DatabaseSteps::AddColumn(const QString& table_name, const QString& col_name,
                                  const QString& col_type) {
    return runColumnStep({
        .opening = QStringLiteral("Таблица ") + table_name + QStringLiteral(", поле ") + col_name +
                   QStringLiteral("... "),
        .probeColumn = col_name,
        .probeTable = table_name,
        .presence = QStringLiteral("обновление поля не требуется..."),
        .statements = {{QStringLiteral(" ALTER TABLE ") + table_name + QStringLiteral(" ADD COLUMN [") +
                        col_name + QStringLiteral("] ") + col_type + u';'}},
        .success = QStringLiteral("успешно..."),
        .error = QStringLiteral("Обновление таблицы ") + table_name + QStringLiteral(" не корректно!"),
        .closing = QStringLiteral("Обновление таблицы ") + table_name + QStringLiteral(" не требуется..."),
    });
}

bool db::DatabaseSteps::CreateNewTable(const QString& table_name, const QString& col_name,
                                       const QString& col_name_for_select) {
    AppendToLog(QStringLiteral("Проверка существования таблицы ") + table_name + QStringLiteral("... "));
    if (probe(col_name_for_select, table_name)) {
        AddToLog(QStringLiteral("Таблица ") + table_name + QStringLiteral(" существует..."));
        return false;
    }
    AddToLog(QStringLiteral("Таблица отсутствует. Добавляем...."));
    try {
        AddToLog(QStringLiteral("Создаем таблицу ") + table_name + QStringLiteral("... "));
        execSql(ADOQuery1, QStringLiteral(" CREATE TABLE ") + table_name + QStringLiteral(" (") + col_name +
                               QStringLiteral(");"));
        AddToLog(QStringLiteral("Таблица создана успешно... "));
        return true;
    } catch (const std::exception&) {
        AddToLog(QStringLiteral("Внимание! Ошибка обновления базы данных!"));
        AddToLog(QStringLiteral("Невозможно создать таблицу!"));
        return false;
    }
}

// The course the column steps share; a line left empty is one the step does not write.
bool db::DatabaseSteps::runColumnStep(const ColumnStep& step) {
    AddToLog(step.opening);
    const bool present = probe(step.probeColumn, step.probeTable);
    const QString& found = present ? step.presence : step.absence;
    if (!found.isEmpty())
        AddToLog(found);
    if (present) {
        if (!step.closing.isEmpty())
            AddToLog(step.closing);
        return true;
    }
    try {
        for (const ColumnStep::Statement& statement : step.statements) {
            if (statement.opens)
                openSql(ADOQuery1, statement.sql);
            else
                execSql(ADOQuery1, statement.sql);
        }
    } catch (const std::exception&) {
        AppendToLog(step.error);
        if (step.showsMessageBox)
            m_dialogs.messageBox(updateNotCorrect, attention);
        return false;
    }
    if (!step.success.isEmpty())
        AddToLog(step.success);
    return true;
}

bool db::DatabaseSteps::AddColumnGrafikHours() {
    return runColumnStep({
        .opening = QStringLiteral("Таблица grafik_hours... "),
        .probeColumn = QStringLiteral("check_8"),
        .probeTable = QStringLiteral("grafik_hours"),
        .presence = QStringLiteral("наличие поля - ок "),
        .absence = QStringLiteral("наличие поля - отказ"),
        .statements = {{QStringLiteral(" ALTER TABLE grafik_hours ADD COLUMN [check_1] bit, [check_2] bit, "
                                       "[check_3] bit, [check_4] "
                                       "bit, [check_5] bit, [check_6] bit, [check_7] bit, [check_8] bit;")},
                       {QStringLiteral(" UPDATE grafik_hours SET check_1 = true ;")}},
        .error = QStringLiteral("Обновление таблицы grafik_hours. Статус - ОШИБКА!"),
        .closing = QStringLiteral("Обновление таблицы grafik_hours не требуется..."),
    });
}

bool db::DatabaseSteps::AddColumnGruppa() {
    return runColumnStep({
        .opening = QStringLiteral("Таблица Группа... "),
        .probeColumn = QStringLiteral("grafik_hours_id"),
        .probeTable = QStringLiteral("gruppa"),
        .presence = QStringLiteral("наличие поля - ок "),
        .statements = {{QStringLiteral(" ALTER TABLE gruppa ADD COLUMN [grafik_hours_id] INTEGER;")},
                       {.sql = QStringLiteral(" select * from gruppa ;"), .opens = true},
                       {QStringLiteral(" UPDATE gruppa SET grafik_hours_id = -1 ;")}},
        .success = QStringLiteral("успешно..."),
        .error = QStringLiteral("Обновление таблицы Группа. Статус - ОШИБКА!"),
        .closing = QStringLiteral("Обновление таблицы Группа не требуется..."),
    });
}

bool db::DatabaseSteps::AddColumnStudent() {
    return runColumnStep({
        .opening = QStringLiteral("Таблица Студент... "),
        .probeColumn = QStringLiteral("student_doc_kod"),
        .probeTable = QStringLiteral("student"),
        .presence = QStringLiteral("Обновление поля не требуется  "),
        .statements = {{QStringLiteral(
            " ALTER TABLE student ADD COLUMN  [student_del_date]  DATETIME,  [student_doc_kod]  "
            "VARCHAR(255),  [student_live_stroenie] VARCHAR(255);")}},
        .success = QStringLiteral("успешно..."),
        .error = QStringLiteral("Обновление таблицы Студент. Статус - ОШИБКА!"),
    });
}

bool db::DatabaseSteps::AddColumnTeach_obj() {
    return runColumnStep({
        .opening = QStringLiteral("Таблица Предметы... "),
        .probeColumn = QStringLiteral("teach_drive"),
        .probeTable = QStringLiteral("teach_obj"),
        .presence = QStringLiteral("наличие поля - ок "),
        .statements =
            {{QStringLiteral(
                 " ALTER TABLE teach_obj ADD COLUMN  [teach_drive]  BIT,  [teach_crypt] VARCHAR(255);")},
             {QStringLiteral(
                 " UPDATE teach_obj SET teach_drive = true  WHERE (teach_obj_name LIKE 'Вождение%');")}},
        .success = QStringLiteral("успешно..."),
        .error = QStringLiteral("Обновление таблицы Предметы. Статус - ОШИБКА!"),
        .showsMessageBox = false,
        .closing = QStringLiteral("Обновление таблицы Предметы не требуется..."),
    });
}

void db::DatabaseSteps::modify_stroenie() {
    execSql(ADOQuery1,
            QStringLiteral(" ALTER TABLE student  ALTER COLUMN student_live_stroenie VARCHAR(100);"));
}
