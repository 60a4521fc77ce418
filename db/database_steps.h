#pragma once

#include "data_access/db_connection.h"
#include "data_access/db_query.h"
#include "data_access/db_table.h"
#include "seams/dialogs.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace seams {
class ActivityLog;
}
namespace registry {
class Registry;
}
namespace seams {
class WindowControls;
}

namespace db {

// The database steps of the update and the data-access components they work through. The window
// forwards each of its database operations here; what a step reports goes to the activity log and
// the dialogs, and the update button is the one control a step sets.
class DatabaseSteps {
public:
    struct Context {
        seams::ActivityLog& log;
        seams::Dialogs& dialogs;
        registry::Registry* registry = nullptr;
        QString updaterFolder; // the running executable's folder, with a trailing separator
        seams::WindowControls& controls;
    };
    explicit DatabaseSteps(const Context& context);

    // --- Database connections (db/connections.cpp)
    // Open ADOConnection1 / ADOConnection2 on a database file with its password: false when the
    // file is missing or the database refuses (each provider error shown in its own box).
    bool connectToBaseUser(const QString& base_name, const QString& pswd);
    bool connectToBase2(const QString& base_name, const QString& pswd);
    void FormClose(); // the window closes: both connections are closed

    // --- Statements of the database steps (db/statements.cpp)
    // Every statement the steps hand to a query is appended here as it is sent, while this is set.
    QStringList* statementLog = nullptr;
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

    // The data-access components the steps work through (settings in db/connections.cpp). Every
    // table component reads a static snapshot.
    data_access::DbConnection ADOConnection1;
    data_access::DbConnection ADOConnection2;
    data_access::DbQuery ADOQuery1{ADOConnection1};
    data_access::DbQuery ADOQuery2{ADOConnection2};
    data_access::DbTable ADOTable1{ADOConnection1};
    data_access::DbTable ADOTable11{ADOConnection1};
    data_access::DbTable ADOTable2{ADOConnection2};

private:
    // db/connections.cpp: the components' settings, and the course both connect operations share.
    void setUpDataAccess();
    // One provider error box for each entry of the connection's error list.
    void reportProviderErrors(data_access::DbConnection& connection);
    bool connectTo(data_access::DbConnection& connection, const QString& base_name, const QString& pswd,
                   bool closeFirst);
    // The twelve address tables through CopyTable: false when a failure escaped one of them.
    bool CopyAdressTables();

    // What a column step writes and runs; an empty line, the default, is one it does not write.
    struct ColumnStep {
        struct Statement {
            QString sql{};
            bool opens = false; // a row-returning statement whose rows are not used
        };
        QString opening{};
        QString probeColumn{};
        QString probeTable{};
        QString presence{};
        QString absence{};
        QList<Statement> statements{};
        QString success{};
        QString error{}; // written with AppendToLog
        bool showsMessageBox = true;
        QString closing{};
    };
    bool runColumnStep(const ColumnStep& step);

    void AddToLog(const QString& text);
    void AppendToLog(const QString& text);

    seams::ActivityLog& m_log;
    seams::Dialogs& m_dialogs;
    registry::Registry* const m_registry;
    const QString m_updaterFolder;
    seams::WindowControls& m_controls;
};

} // namespace db
