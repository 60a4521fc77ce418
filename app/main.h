#pragma once

#include "app/seams.h"
#include "archive/zip_archive.h"
#include "data_access/db_connection.h"
#include "data_access/db_query.h"
#include "data_access/db_table.h"
#include "seams/dialogs.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QMainWindow>
#include <QScopedPointer>

#include <functional>

class TDM;
class TfmAbout;
namespace seams {
class Dialogs;
}
class QTimer;
class HttpClient;
namespace registry {
class Registry;
}
enum class WorkMode;
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
// program is a method of this window; each group of them is defined in the folder of its subsystem.
class TfmMain : public QMainWindow {
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
    void AddToLog(const QString& text);    // the new line becomes the selected one
    void AppendToLog(const QString& text); // the selection stays
    // The text of the log's last line, and its replacement (the selection stays). Both raise Error
    // while the log holds no line.
    QString LastLogLine() const;
    void ReplaceLastLogLine(const QString& text);

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

    // --- File maintenance: obsolete files (files/obsolete_files.cpp)
    void RemoveFiles(const QString& _path);             // `_path` ends with a separator
    bool RemoveEmptyFolders(const QString& rootFolder); // true when `rootFolder` was removed
    void Button5Click();

    // --- File maintenance: photo folders (files/photo_folders.cpp)
    static QString DirNameForPhoto(const QString& s2);
    void RenameDirForPhoto(const QString& dir_name);
    void Button4Click();

    // --- Documents archive download (hidden command; download/download.cpp)
    void Button2Click();
    bool InternetConnected();
    void IdHTTP1WorkBegin(QObject* ASender, WorkMode AWorkMode, qint64 AWorkCountMax);
    void IdHTTP1Work(QObject* ASender, WorkMode AWorkMode, qint64 AWorkCount);

    // --- Database connections (db/connections.cpp)
    // Open ADOConnection1 / ADOConnection2 on a database file with its password: false when the
    // file is missing or the database refuses (each provider error shown in its own box).
    bool connectToBaseUser(const QString& base_name, const QString& pswd);
    bool connectToBase2(const QString& base_name, const QString& pswd);
    void FormClose(); // the window closes: both connections are closed

    // --- Statements of the database steps (db/statements.cpp)
    // The query's SQL text is cleared, then set to `sql`, which runs; errors pass to the caller.
    void openSql(data_access::DbQuery& query, const QString& sql);
    void execSql(data_access::DbQuery& query, const QString& sql);
    // The probe: "Select " + column + " from " + table opened on ADOQuery1. It fails, and so tells
    // that the table lacks the column, on any error; the error itself is neither shown nor logged.
    bool probe(const QString& column, const QString& table);

    // --- Column and table probing steps (db/probing_steps.cpp)
    // False only when the column was missing and adding it failed.
    bool AddColumn(const QString& table_name, const QString& col_name, const QString& col_type);
    // True only when this call created the table (false also when it was there already).
    bool CreateNewTable(const QString& table_name, const QString& col_name,
                        const QString& col_name_for_select);
    // False only when the change was needed and failed.
    bool AddColumnGrafikHours();
    bool AddColumnGruppa();
    bool AddColumnStudent();
    bool AddColumnTeach_obj();
    void modify_stroenie(); // no probe; a failure passes to the caller

    // --- Table creation steps (db/table_creation.cpp): true when the table exists afterwards
    bool CreateTableGrafikVojdenija();
    bool CreateTableSpravka();

    // --- Vehicle category fixes (db/category_fixes.cpp): outcome in the log only
    void FillCategory_tc();
    void FillNewCategory_tc();

    // --- Curriculum import (db/curriculum_import.cpp)
    // Imports the retraining course "ВУС-845 (переподготовка с B на D)" from <updater>res\vus_845.accdb
    // into the database on ADOConnection1: the missing subjects, then the plan unless it is there.
    // Reports in the log; a failure is logged and goes no further.
    void Update_vus_845();
    // --- Row transfer between databases (db/row_transfer.cpp)
    // Each opens and closes ADOTable1 and ADOTable2 itself and reports in the log only: a failure
    // is logged as "Ошибка обновления таблицы = <table>", the rows posted before it stay.
    // Autoincrement fields are never written; the others are matched by name.
    //
    // ADOConnection2 -> ADOConnection1: the source rows whose first value (the first field with a
    // value) no target row holds in that field. A failure while reading the table names reaches
    // the caller; a table either connection lacks ends it silently.
    void CopyTable(const QString& table_name);
    // ADOConnection1 -> ADOConnection2: every row appended, then table_name + s_ad_vus set true.
    void CopyADToMainBase(const QString& table_name, const QString& s_ad_vus);
    // ADOConnection2 -> ADOConnection1: the obob_uch_plan rows of every category the target lacks,
    // with a progress dot on the log's last line per 200 source rows the per-category scans read.
    void copyPlan();
    // ADOConnection1 -> ADOConnection2: source row i written over target row i, both in the tables'
    // order; source rows beyond the target's are added, target rows beyond the source's stay.
    void CopySchoolMainBase(const QString& table_name);

    // --- Address database migration (db/address_migration.cpp)
    // The SOATO table of <updater>adress.accdb from res\soato.accdb; reports in boxes only.
    void Update_base_adress();
    // Merges the modules' address databases into <installation>OtherBase\adress.accdb.
    void TransferAdress();

    // --- Composite database updates (db/composite_updates.cpp)
    void UpdateBase();
    void UpdateBase_AD();
    // The window's file dialog: its user sets the filter and the start folder.
    seams::OpenFileRequest OpenDialog1;

    // The data-access components the database steps work through (settings in db/connections.cpp).
    // Every table component reads a static snapshot.
    data_access::DbConnection ADOConnection1;
    data_access::DbConnection ADOConnection2;
    data_access::DbQuery ADOQuery1{ADOConnection1};
    data_access::DbQuery ADOQuery2{ADOConnection2};
    data_access::DbTable ADOTable1{ADOConnection1};
    data_access::DbTable ADOTable11{ADOConnection1};
    data_access::DbTable ADOTable2{ADOConnection2};

Q_SIGNALS:
    void logLineAdded(const QString& line);
    void logLastLineReplaced(const QString& line);

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // While an operation lets the event queue run, a close waits until the operation returns.
    class EventLoopScope {
    public:
        explicit EventLoopScope(TfmMain& window);
        ~EventLoopScope();

    private:
        TfmMain& m_window;
    };

    void connectHandlers();
    // db/connections.cpp: the components' settings, and the course both connect operations share.
    void setUpDataAccess();
    // One provider error box for each entry of the connection's error list.
    void reportProviderErrors(data_access::DbConnection& connection);
    // The twelve address tables through CopyTable: false when a failure escaped one of them.
    bool CopyAdressTables();

    // What a column step writes and runs; an empty line is one it does not write.
    struct ColumnStep {
        struct Statement {
            QString sql;
            bool opens = false; // a row-returning statement whose rows are not used
        };
        QString opening;
        QString probeColumn;
        QString probeTable;
        QString presence;
        QString absence;
        QList<Statement> statements;
        QString success;
        QString error; // written with AppendToLog
        bool showsMessageBox = true;
        QString closing;
    };
    bool runColumnStep(const ColumnStep& step);
    bool connectTo(data_access::DbConnection& connection, const QString& base_name, const QString& pswd,
                   bool closeFirst);

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

    // The HTTP client of the documents download; its cookies last as long as the window.
    HttpClient* createIdHTTP1();
    HttpClient* const IdHTTP1 = createIdHTTP1();
};
