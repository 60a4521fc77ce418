// The two composite database updates: the school database brought up to date in place, and an AD
// database updated on working copies whose vehicles, teachers and instructors go into the new main
// database.

#include "app/main.h"
#include "data_access/file_copy.h"
#include "db/connection_strings.h"
#include "db/database_files.h"
#include "db/tables.h"
#include "registry/registry.h"
#include "seams/dialogs.h"
#include "ui_main.h"

#include <QFileInfo>

using data_access::copyDatabaseFile;
using seams::OpenFileRequest;

void TfmMain::UpdateBase() {
    QString path = m_seams.registry->readString(QStringLiteral("SchoolBase"), QStringLiteral("path"),
                                                QStringLiteral("false"));
    if (path == QStringLiteral("false")) {
        try {
            OpenDialog1.initialFolder = m_seams.updaterFolder;
            OpenDialog1.filter = QStringLiteral("Файл базы данных |*.accdb");
            m_seams.dialogs->showMessage(
                QStringLiteral("Файл базы данных не найден. Укажите его вручную... "));
            const std::optional<QString> chosen = m_seams.dialogs->openFile(OpenDialog1);
            if (!chosen) {
                m_seams.dialogs->showMessage(QStringLiteral("Обновление прервано! "));
                return;
            }
            path = *chosen;
        } catch (const std::exception&) {
            m_seams.dialogs->showMessage(QStringLiteral(
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
    ui->Button3->setText(QStringLiteral("2. Обновление успешно..."));
    ui->Button3->setEnabled(false);
}

void TfmMain::UpdateBase_AD() {
    AddToLog(QStringLiteral("Выбор базы данных \"Сорвентия\"..."));
    OpenFileRequest dialog;
    dialog.fileMustExist = true;
    dialog.filter = QStringLiteral("Файлы баз данных|*.accdb");
    dialog.initialFolder = m_seams.updaterFolder + db::files::inFolder;

    if (const std::optional<QString> chosen = m_seams.dialogs->openFile(dialog)) {
        const QString adCopy =
            db::files::pathIn(m_seams.updaterFolder, {db::files::outFolder, QFileInfo(*chosen).fileName()});
        const QString mainCopy =
            db::files::pathIn(m_seams.updaterFolder, {db::files::outFolder, db::files::mainBase});
        // A copy that fails is not reported: the connect below finds no file.
        copyDatabaseFile(*chosen, db::mainDatabasePassword, adCopy, true);
        copyDatabaseFile(
            db::files::pathIn(m_seams.updaterFolder, {db::files::resFolder, db::files::mainBase}),
            db::mainDatabasePassword, mainCopy, true);
        if (connectToBaseUser(adCopy, db::mainDatabasePassword) &&
            connectToBase2(mainCopy, db::mainDatabasePassword)) {
            const auto closeBoth = [this] {
                ADOConnection1.setConnected(false);
                ADOConnection2.setConnected(false);
            };
            try {
                const std::pair<bool (TfmMain::*)(), const char*> steps[] = {
                    {&TfmMain::CreateTableSpravka, "Возникла ошибка при создании таблицы \"Справка\""},
                    {&TfmMain::CreateTableGrafikVojdenija,
                     "Возникла ошибка при создании таблицы \"График вождения\""},
                    {&TfmMain::AddColumnGrafikHours,
                     "Возникла ошибка при обновлении таблицы \"GrafikHours\""},
                    {&TfmMain::AddColumnGruppa, "Возникла ошибка при обновлении таблицы \"Группа\""},
                    {&TfmMain::AddColumnStudent, "Возникла ошибка при обновлении таблицы \"Студент\""},
                    {&TfmMain::AddColumnTeach_obj, "Возникла ошибка при обновлении таблицы \"Предметы\""},
                };
                for (const auto& [runStep, failure] : steps)
                    if (!(this->*runStep)())
                        m_seams.dialogs->messageBox(QString::fromUtf8(failure), QStringLiteral("Ошибка"));
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
    ui->Button3->setEnabled(false);
    ADOConnection1.setConnected(false);
}
