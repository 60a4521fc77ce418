#include "app/main.h"
#include "db/database_files.h"
#include "filesystem/paths.h"
#include "registry/registry.h"
#include "seams/dialogs.h"

#include "app/update_lock.h"
#include "archive/extraction_transaction.h"

#include <memory>

using archive::ExtractionTransaction;
using registry::Registry;

QString TfmMain::extractionFolderOf(const QString& installationFolder) {
    return filesystem::removeFolderName(
        filesystem::removeFolderName(installationFolder, QStringLiteral("ВУС бистрал\\")),
        QStringLiteral("Бистрал\\"));
}

void TfmMain::Button3Click(QObject*) {
    m_updateOutcome = UpdateOutcome::NotRun;
    Registry& registry = *m_seams.registry;
    const QString section = QStringLiteral("vus_bistral");
    const QString installation =
        registry.readString(section, QStringLiteral("ProgrammPath"), QStringLiteral("false"));
    const QString mainBasePath = registry.readString(section, QStringLiteral("MainBasePath"), QString());
    const QString version = registry.readString(section, QStringLiteral("ProgrammVersion"), QString());

    const QString databasePath =
        mainBasePath.isEmpty() ? db::locations::pathIn(installation, {db::locations::companionBaseFolder,
                                                                      db::locations::mainBase})
                               : mainBasePath;
    const auto stop = [this](const QString& text, const QString& caption) {
        m_seams.dialogs->messageBox(text, caption);
        m_updateOutcome = UpdateOutcome::CheckFailed;
    };
    if (!filesystem::fileExists(databasePath))
        return stop(QStringLiteral("Не найдена база данных бистрала!"), QStringLiteral("Ошибка"));
    if (!filesystem::fileExists(installation + QStringLiteral("bistral.exe")))
        return stop(QStringLiteral("Программа не найдена! Повторите попытку!"), QStringLiteral("Ошибка"));
    if (version.isEmpty())
        return stop(
            QStringLiteral("Не определена версия программы. Во избежание ошибок обновление\r\nобновление "
                           "проведено не будет! Пожалуйста, запустите, а затем закройте ВУС-бистрал!"),
            QStringLiteral("Внимание"));
    if (installation == QStringLiteral("false"))
        return stop(
            QStringLiteral("Не найден каталог установки программы. Запустите ВУС-бистрал и модули!  Затем "
                           "снова попытайтесь установить обновление."),
            QStringLiteral("Внимание!"));

    const QString extractionFolder = extractionFolderOf(installation);

    // A lock that cannot be taken for another reason than a live updater is an error of its own.
    const std::unique_ptr<UpdateLock> lock = UpdateLock::take(extractionFolder);
    if (!lock) {
        m_seams.dialogs->messageBox(
            QStringLiteral("Обновление в эту папку уже устанавливает другая копия программы "
                           "обновления. Дождитесь её завершения."),
            QStringLiteral("Внимание"));
        m_updateOutcome = UpdateOutcome::AlreadyRunning;
        return;
    }
    // Before anything else in the folder: a killed run's update is finished or undone.
    ExtractionTransaction::recover(extractionFolder);

    if (!CopyRes(extractionFolder)) {
        m_updateOutcome = UpdateOutcome::ExtractionFailed;
        return;
    }

    try {
        AppendToLog(QString());
        AppendToLog(QStringLiteral("Обновляем записи реестра..."));
        AppendToLog(QString());
        UpdateReestr();
    } catch (const std::exception&) {
        AppendToLog(QStringLiteral("Ошибка доступа к реестру..."));
        m_updateOutcome = UpdateOutcome::RegistryFailed;
        return;
    }
    AddToLog(QStringLiteral("Процедура обновления успешно завершена..."));
    m_updateOutcome = UpdateOutcome::Succeeded;
}
