#include "app/main.h"
#include "app/update_archive.h"
#include "filesystem/paths.h"
#include "seams/dialogs.h"
#include "ui_main.h"

#include <QDir>

#include <algorithm>

using archive::ExtractionRolledBack;
using archive::ZipArchive;
using seams::WindowQueue;

bool TfmMain::CopyRes(const QString& programm_path) {
    const QString updaterFolder = m_seams.updaterFolder;
    AppendToLog(QString());
    AddToLog(QStringLiteral("Начинаю распаковку файлов в папку: ") + programm_path);
    const QString archive = updaterFolder + QDir::toNativeSeparators(updateArchiveFragment());
    if (!filesystem::fileExists(archive)) {
        AddToLog(QStringLiteral("Ошибка распаковки: не найден файл архива"));
        return false;
    }

    // The window stays usable while the archive is unpacked, but the command cannot start again
    // inside itself.
    ui->Button3->setEnabled(false);
    const WindowQueue::Scope eventLoop(*this);
    try {
        Archiver.setFileName(archive);
        Archiver.setPassword(updateArchivePassword());
        Archiver.OpenArchive();
        Archiver.setBaseDir(programm_path);
        Archiver.ExtractFiles(QStringLiteral("*.*"), ZipArchive::anyFileAttributes);
        Archiver.CloseArchive();
        AddToLog(QStringLiteral("Копирование файлов завершено"));
        AddToLog(QString());
    } catch (const std::exception& error) {
        ui->Button3->setEnabled(true);
        m_seams.dialogs->messageBox(QStringLiteral("Ошибка обновления!"), QStringLiteral("Неудачно!"));
        AppendToLog(QString());
        AddToLog(QStringLiteral("Ошибка: ") + QString::fromUtf8(error.what()));
        if (dynamic_cast<const ExtractionRolledBack*>(&error))
            AddToLog(QStringLiteral("Изменения отменены: файлы программы остались прежними."));
        return false;
    }
    ui->Button1->setEnabled(true);
    ui->Button3->setEnabled(false);
    return true;
}

void TfmMain::ArchiverExtractFile(const QString& FileName) {
    AddToLog(FileName);
}

void TfmMain::ArchiverFileProgress(const QString&, double) {
    letQueueRun();
}

void TfmMain::ArchiverOverallProgress(double Progress) {
    // Truncated toward zero, and never outside the bar's range (NaN counts as 0).
    const double position = Progress >= 0 ? std::min(Progress, 100.0) : 0.0;
    ui->ProgressBar1->setValue(int(position));
    letQueueRun();
}
