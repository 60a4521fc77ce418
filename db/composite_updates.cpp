// The two composite database updates: the school database brought up to date in place, and an AD
// database updated on working copies whose vehicles, teachers and instructors go into the new main
// database.

#include "data_access/file_copy.h"
#include "db/connection_strings.h"
#include "db/database_files.h"
#include "db/database_steps.h"
#include "db/tables.h"
#include "registry/registry.h"
#include "seams/activity_log.h"
#include "seams/dialogs.h"
#include "seams/window_controls.h"

#include <QFileInfo>

using data_access::copyDatabaseFile;
using seams::OpenFileRequest;

void db::DatabaseSteps::UpdateBase() {
    QString path =
        m_registry->readString(QStringLiteral("SchoolBase"), QStringLiteral("path"), QStringLiteral("false"));
    if (path == QStringLiteral("false")) {
        try {
            OpenDialog1.initialFolder = m_updaterFolder;
            OpenDialog1.filter = QStringLiteral("Файл базы данных |*.accdb");
            m_dialogs.showMessage(QStringLiteral("Файл базы данных не найден. Укажите его вручную... "));
            const std::optional<QString> chosen = m_dialogs.openFile(OpenDialog1);
            if (!chosen) {
                m_dialogs.showMessage(QStringLiteral("Обновление прервано! "));
                return;
            }
            path = *chosen;
        } catch (const std::exception&) {
            m_dialogs.showMessage(QStringLiteral(
                "Не удалось найти файл базы данных! Пожалуйста, откройте программу \"Сорвентия\", "
                "удостоверьтесь что "
                "программа работает корректно и закройте ее.  После этого попробуйте снова установить "
                "обновление!"));
        }
    }
    // Not opened here: the first probe opens it.
    ADOConnection1.setConnectionString(db::connectionString(path, db::mainDatabasePassword));

    for (const QString& column : {db::diploma::diploma_theory_num, db::diploma::diploma_pract_num}) {
        AppendToLog(QStringLiteral("Работа с базой данных..."));
        if (!probe(column, db::diploma::name))
            execSql(ADOQuery1, QStringLiteral(" ALTER TABLE diploma ADD COLUMN ") + column +
                                   QStringLiteral("  INTEGER"));
    }
    if (!probe(db::student::gibdd_id, db::student::name))
        execSql(ADOQuery1, QStringLiteral(" ALTER TABLE student ADD COLUMN gibdd_id  INTEGER"));
    if (!probe(QStringLiteral("*"), db::gibdd::name))
        execSql(ADOQuery1,
                QStringLiteral(" CREATE TABLE gibdd (gibdd_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY,  "
                               "student_id INTEGER, prichina_zameny_id INTEGER, prepod_id INTEGER, "
                               "Instruktor_id INTEGER, theory_num INTEGER, square_num INTEGER, city_num "
                               "INTEGER );"));
    m_controls.setUpdateButtonText(QStringLiteral("2. Обновление успешно..."));
    m_controls.setUpdateButtonEnabled(false);
}

void db::DatabaseSteps::UpdateBase_AD() {
    AddToLog(QStringLiteral("Выбор базы данных \"Сорвентия\"..."));
    OpenFileRequest dialog;
    dialog.fileMustExist = true;
    dialog.filter = QStringLiteral("Файлы баз данных|*.accdb");
    dialog.initialFolder = m_updaterFolder + db::locations::inFolder;

    if (const std::optional<QString> chosen = m_dialogs.openFile(dialog)) {
        const QString adCopy =
            db::locations::pathIn(m_updaterFolder, {db::locations::outFolder, QFileInfo(*chosen).fileName()});
        const QString mainCopy =
            db::locations::pathIn(m_updaterFolder, {db::locations::outFolder, db::locations::mainBase});
        // A copy that fails is not reported: the connect below finds no file.
        copyDatabaseFile(*chosen, db::mainDatabasePassword, adCopy, true);
        copyDatabaseFile(
            db::locations::pathIn(m_updaterFolder, {db::locations::resFolder, db::locations::mainBase}),
            db::mainDatabasePassword, mainCopy, true);
        if (connectToBaseUser(adCopy, db::mainDatabasePassword) &&
            connectToBase2(mainCopy, db::mainDatabasePassword)) {
            const auto closeBoth = [this] {
                ADOConnection1.setConnected(false);
                ADOConnection2.setConnected(false);
            };
            try {
                const std::pair<bool (DatabaseSteps::*)(), const char*> steps[] = {
                    {&db::DatabaseSteps::CreateTableSpravka,
                     "Возникла ошибка при создании таблицы \"Справка\""},
                    {&db::DatabaseSteps::CreateTableGrafikVojdenija,
                     "Возникла ошибка при создании таблицы \"График вождения\""},
                    {&db::DatabaseSteps::AddColumnGrafikHours,
                     "Возникла ошибка при обновлении таблицы \"GrafikHours\""},
                    {&db::DatabaseSteps::AddColumnGruppa,
                     "Возникла ошибка при обновлении таблицы \"Группа\""},
                    {&db::DatabaseSteps::AddColumnStudent,
                     "Возникла ошибка при обновлении таблицы \"Студент\""},
                    {&db::DatabaseSteps::AddColumnTeach_obj,
                     "Возникла ошибка при обновлении таблицы \"Предметы\""},
                };
                for (const auto& [runStep, failure] : steps)
                    if (!(this->*runStep)())
                        m_dialogs.messageBox(QString::fromUtf8(failure), QStringLiteral("Ошибка"));
                for (const QString& table : db::ad::tables)
                    CopyADToMainBase(table, db::ad::flagSuffix);
            } catch (...) {
                closeBoth();
                throw;
            }
            closeBoth();
        }
    }
    AddToLog(QStringLiteral("База данных обновлена ..."));
    m_controls.setUpdateButtonEnabled(false);
    ADOConnection1.setConnected(false);
}
