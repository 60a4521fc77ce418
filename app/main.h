#pragma once

#include "app/seams.h"
#include "archive/zip_archive.h"
#include "db/database_steps.h"
#include "download/documents_download.h"
#include "files/file_maintenance.h"
#include "seams/activity_log.h"
#include "seams/dialogs.h"
#include "seams/window_controls.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QMainWindow>
#include <QScopedPointer>

#include <functional>
#include <memory>

class TDM;
class TfmAbout;
namespace seams {
class Dialogs;
}
class QTimer;
namespace registry {
class Registry;
}
namespace Ui {
class TfmMain;
}

// The progress message that the window handles the next time its event queue runs:
// WParam 0 starts (LParam: the new maximum), 1 advances (LParam: the new position).
constexpr QEvent::Type WM_MYPROGRESS = QEvent::Type(1124);

class MyProgressEvent : public QEvent {
public:
    MyProgressEvent(int wParam, qint32 lParam)
        : QEvent(WM_MYPROGRESS)
        , WParam(wParam)
        , LParam(lParam) {}
    const int WParam;
    const qint32 LParam;
};

// How the last run of the update command ended, for the unattended mode's exit status.
enum class UpdateOutcome { NotRun, Succeeded, CheckFailed, ExtractionFailed, RegistryFailed, AlreadyRunning };

// The main window: the commands, the activity log and the progress bar. Every operation of the
// program is a method of this window; those of the database, the file maintenance and the download
// forward to the class of their folder, which reaches the window through the seams it implements.
class TfmMain : public QMainWindow,
                public seams::ActivityLog,
                public seams::WindowControls,
                public seams::WindowQueue {
    Q_OBJECT
public:
    TfmMain(const TDM& dm, const Seams& seams, QWidget* parent = nullptr);
    ~TfmMain() override;

    Ui::TfmMain& form() { return *ui; }
    // The About window becomes a tool window of this one: in front of it, without a task-bar
    // button of its own, still modeless. It must be destroyed before this window.
    void setAboutWindow(TfmAbout* about);

    // Runs a handler under the window's general error handling: an error that escapes it is shown
    // in the standard error box, the window stays usable and nothing is logged.
    void handle(const std::function<void()>& handler);

    // --- Start-up and the window's own commands
    void FormCreate();
    void FormShow();
    void Button1Click();
    void N6Click();
    void N3Click();
    void N2Click();

    // --- Activity log
    void AddToLog(const QString& text) override;    // the new line becomes the selected one
    void AppendToLog(const QString& text) override; // the selection stays
    // The text of the log's last line, and its replacement (the selection stays). Both raise Error
    // while the log holds no line.
    QString LastLogLine() const override;
    void ReplaceLastLogLine(const QString& text) override;

    // --- The controls the operations set
    void setUpdateButtonText(const QString& text) override;
    void setUpdateButtonEnabled(bool enabled) override;
    void setDownloadButtonEnabled(bool enabled) override;

    // --- The event queue as long operations use it
    void beginLettingQueueRun() override;
    void endLettingQueueRun() override;
    void runQueue() override;
    void postProgress(int wParam, qint32 lParam) override;
    void showPostedProgress() override;
    void beginTransfer(std::function<void()> onCloseRequest) override;
    void endTransfer() override;

    // --- Progress message
    void MyProgress(int wParam, qint32 lParam);

    // --- Installation registry (app/installation_registry.cpp)
    void UpdateReestr();

    // --- Update command (app/update_command.cpp)
    void Button3Click(QObject* Sender);
    // The installation folder without the companion program's folder names.
    static QString extractionFolderOf(const QString& installationFolder);
    UpdateOutcome lastUpdateOutcome() const { return m_updateOutcome; }

    // --- Archive extraction (app/archive_extraction.cpp)
    // False when the extraction did not complete (no archive, or an extraction error already
    // reported): the update command ends there.
    bool CopyRes(const QString& programm_path);
    void ArchiverExtractFile(const QString& FileName);
    void ArchiverFileProgress(const QString& FileName, double Progress);
    void ArchiverOverallProgress(double Progress);
    archive::ZipArchive Archiver;

    // --- File maintenance (files/)
    void RemoveFiles(const QString& _path) { m_files.RemoveFiles(_path); } // `_path` ends with a separator
    bool RemoveEmptyFolders(const QString& rootFolder) { return m_files.RemoveEmptyFolders(rootFolder); }
    void Button5Click() { m_files.removeObsoleteFiles(); }
    static QString DirNameForPhoto(const QString& s2) { return files::FileMaintenance::DirNameForPhoto(s2); }
    void RenameDirForPhoto(const QString& dir_name) { m_files.RenameDirForPhoto(dir_name); }
    void Button4Click() { m_files.renamePhotoFolders(); }

    // --- Documents archive download (hidden command; download/)
    void Button2Click() { m_download.downloadDocuments(); }
    bool InternetConnected() { return m_download.InternetConnected(); }
    void IdHTTP1WorkBegin(QObject* ASender, WorkMode AWorkMode, qint64 AWorkCountMax) {
        m_download.IdHTTP1WorkBegin(ASender, AWorkMode, AWorkCountMax);
    }
    void IdHTTP1Work(QObject* ASender, WorkMode AWorkMode, qint64 AWorkCount) {
        m_download.IdHTTP1Work(ASender, AWorkMode, AWorkCount);
    }

    // --- Database steps (db/; see db::DatabaseSteps)
    db::DatabaseSteps& database() { return m_database; }
    bool connectToBaseUser(const QString& base_name, const QString& pswd) {
        return m_database.connectToBaseUser(base_name, pswd);
    }
    bool connectToBase2(const QString& base_name, const QString& pswd) {
        return m_database.connectToBase2(base_name, pswd);
    }
    void FormClose() { m_database.FormClose(); } // the window closes: both connections are closed
    bool AddColumn(const QString& table_name, const QString& col_name, const QString& col_type) {
        return m_database.AddColumn(table_name, col_name, col_type);
    }
    bool CreateNewTable(const QString& table_name, const QString& col_name,
                        const QString& col_name_for_select) {
        return m_database.CreateNewTable(table_name, col_name, col_name_for_select);
    }
    bool AddColumnGrafikHours() { return m_database.AddColumnGrafikHours(); }
    bool AddColumnGruppa() { return m_database.AddColumnGruppa(); }
    bool AddColumnStudent() { return m_database.AddColumnStudent(); }
    bool AddColumnTeach_obj() { return m_database.AddColumnTeach_obj(); }
    void modify_stroenie() { m_database.modify_stroenie(); }
    bool CreateTableGrafikVojdenija() { return m_database.CreateTableGrafikVojdenija(); }
    bool CreateTableSpravka() { return m_database.CreateTableSpravka(); }
    void FillCategory_tc() { m_database.FillCategory_tc(); }
    void FillNewCategory_tc() { m_database.FillNewCategory_tc(); }
    void Update_vus_845() { m_database.Update_vus_845(); }
    void CopyTable(const QString& table_name) { m_database.CopyTable(table_name); }
    void CopyADToMainBase(const QString& table_name, const QString& s_ad_vus) {
        m_database.CopyADToMainBase(table_name, s_ad_vus);
    }
    void copyPlan() { m_database.copyPlan(); }
    void CopySchoolMainBase(const QString& table_name) { m_database.CopySchoolMainBase(table_name); }
    void Update_base_adress() { m_database.Update_base_adress(); }
    void TransferAdress() { m_database.TransferAdress(); }
    void UpdateBase() { m_database.UpdateBase(); }
    void UpdateBase_AD() { m_database.UpdateBase_AD(); }

Q_SIGNALS:
    void logLineAdded(const QString& line);
    void logLastLineReplaced(const QString& line);

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void connectHandlers();

    // A shown log lays out, scrolls and repaints once a frame, however many lines an operation adds
    // and however often it lets the queue run meanwhile.
    void holdLogUntilFrame();
    void showLogFrame();
    bool eventFilter(QObject* watched, QEvent* event) override;
    // From an extraction's progress: the queue runs, at most once a frame.
    void letQueueRun();

    const QScopedPointer<Ui::TfmMain> ui;
    const TDM& m_dm;
    Seams m_seams;
    TfmAbout* m_about = nullptr;
    bool m_shown = false;
    int m_operationsRunningEventLoop = 0;
    bool m_closeRequested = false;
    UpdateOutcome m_updateOutcome = UpdateOutcome::NotRun;
    QTimer* const m_logFrame;
    QElapsedTimer m_logFrameShown;
    QElapsedTimer m_queueRun;
    int m_logScrollRow = -1; // the line the next frame scrolls to: AddToLog's last, if any
    std::unique_ptr<QObject> m_transferInputBlock;

    db::DatabaseSteps m_database;
    files::FileMaintenance m_files;
    download::DocumentsDownload m_download;
};
