// Queries and tables of the data-access layer on an encrypted file: walking, field reads and writes,
// Locate, field definitions, Insert/Edit/Post.

#include "data_access/data_access_error.h"
#include "data_access/db_table.h"
#include "support/database_files.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>

#ifndef _WIN32
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#endif

using base::Error;
using data_access::DataAccessError;
using data_access::DbConnection;
using data_access::DbDataSet;
using data_access::DbField;
using data_access::DbFieldType;
using data_access::DbLocateOptions;
using data_access::DbQuery;
using data_access::DbTable;
using data_access::ftAutoInc;
using data_access::ftBoolean;
using data_access::ftFloat;
using data_access::ftInteger;
using data_access::ftString;
using data_access::loCaseInsensitive;

namespace {

const QString password = QStringLiteral("Pq7GhTz3LmRwa");

const QStringList schoolTables = {
    QStringLiteral(
        "CREATE TABLE teach_obj (teach_obj_id INTEGER PRIMARY KEY AUTOINCREMENT, teach_obj_name "
        "VARCHAR(255), teach_obj_cycle VARCHAR(255), teach_obj_sokr VARCHAR(20), teach_drive BIT NOT NULL "
        "DEFAULT 0, hours INTEGER, rate REAL)"),
    QStringLiteral(
        "INSERT INTO teach_obj (teach_obj_name, teach_obj_cycle, teach_obj_sokr, teach_drive, hours, rate) "
        "VALUES ('Вождение', 'Спец', 'ВОЖД', -1, 5, 1.5)"),
    QStringLiteral("INSERT INTO teach_obj (teach_obj_name, teach_obj_cycle, teach_obj_sokr, hours) "
                   "VALUES ('ПДД', 'Общий', 'ПДД', NULL)"),
    QStringLiteral("INSERT INTO teach_obj (teach_obj_name, teach_obj_cycle, teach_obj_sokr, hours) "
                   "VALUES ('пдд', 'Общий', 'ПДД', 12)"),
    QStringLiteral(
        "CREATE TABLE soato_adress (soato_id INTEGER CONSTRAINT PrimaryKey PRIMARY KEY, soato_name TEXT)"),
    QStringLiteral(
        "CREATE TABLE edu_plan (category_tc_id INTEGER, teach_obj_id INTEGER, edu_plan_theory INTEGER)"),
    QStringLiteral("INSERT INTO edu_plan VALUES (7, 3, 40)"),
    QStringLiteral("CREATE TABLE notes (a TEXT NOT NULL, b)")};

} // namespace

class TestDbDataSet : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_path;
    std::unique_ptr<DbConnection> m_connection;

    DbConnection& connection() { return *m_connection; }

private Q_SLOTS:
    void init() {
        m_path = m_dir.filePath(QStringLiteral("school.accdb"));
        makeDatabase(m_path, password, schoolTables);
        m_connection = std::make_unique<DbConnection>();
        m_connection->setConnectionString(connectionText(m_path, password));
    }
    void cleanup() { m_connection.reset(); }

    void queryWalk() {
        DbQuery query(connection());
        query.SQL.Add(QStringLiteral(" Select *  from teach_obj"));
        QVERIFY(query.Eof());
        query.setActive(true);
        QVERIFY(query.Active());
        QCOMPARE(query.RecordCount(), 3);
        QVERIFY(query.Bof());
        QCOMPARE(query.FieldByName(QStringLiteral("teach_obj_id")).AsInteger(),
                 1); // current on the first row
        QStringList names;
        for (query.First(); !query.Eof(); query.Next())
            names.append(query.FieldByName(QStringLiteral("TEACH_OBJ_NAME")).AsString());
        QCOMPARE(names,
                 (QStringList{QStringLiteral("Вождение"), QStringLiteral("ПДД"), QStringLiteral("пдд")}));
        query.Next(); // past the end stays there
        QVERIFY(query.Eof());
        query.setActive(false);
        QVERIFY_THROWS_EXCEPTION(Error, query.RecordCount());
    }

    void emptyResult() {
        DbQuery query(connection());
        query.SQL.Add(QStringLiteral(" Select *  from edu_plan where (category_tc_id =0)"));
        query.Open();
        QVERIFY(query.Eof());
        QCOMPARE(query.RecordCount(), 0);
        const DbField field = query.FieldByName(QStringLiteral("edu_plan_theory"));
        QCOMPARE(field.AsInteger(), 0);
        QVERIFY(!field.AsVariant().isValid());
        QCOMPARE(field.AsString(), QString());
        QVERIFY(!field.AsBoolean());
    }

    void fieldReads_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QVariant>("variant");
        QTest::addColumn<QString>("string");
        QTest::addColumn<qlonglong>("integer");
        QTest::addColumn<bool>("boolean");
        QTest::newRow("integer") << 0 << "hours" << QVariant(qlonglong(5)) << "5" << 5LL << true;
        QTest::newRow("null integer") << 1 << "hours" << QVariant() << "" << 0LL << false;
        QTest::newRow("text") << 0 << "teach_obj_sokr" << QVariant(QStringLiteral("ВОЖД")) << "ВОЖД" << -1LL
                              << false;
        QTest::newRow("Yes") << 0 << "teach_drive" << QVariant(true) << "True" << -1LL << true;
        QTest::newRow("No") << 1 << "teach_drive" << QVariant(false) << "False" << 0LL << false;
        QTest::newRow("real") << 0 << "rate" << QVariant(1.5) << "1.5" << 2LL << true;
    }
    void fieldReads() {
        QFETCH(int, row);
        QFETCH(QString, field);
        QFETCH(QVariant, variant);
        QFETCH(QString, string);
        QFETCH(qlonglong, integer);
        QFETCH(bool, boolean);
        DbQuery query(connection());
        query.SQL.Add(QStringLiteral("SELECT * FROM teach_obj ORDER BY teach_obj_id"));
        query.Open();
        for (int i = 0; i < row; ++i)
            query.Next();
        const DbField value = query.FieldByName(field);
        QCOMPARE(value.AsVariant(), variant);
        QCOMPARE(value.IsNull(), !variant.isValid());
        QCOMPARE(value.AsString(), string);
        if (integer == -1 && value.DataType() == ftString) {
            QVERIFY_THROWS_EXCEPTION(Error, value.AsInteger()); // "ВОЖД" is no number
            QVERIFY_THROWS_EXCEPTION(Error, value.AsBoolean());
            return;
        }
        QCOMPARE(value.AsLargeInt(), integer);
        QCOMPARE(value.AsBoolean(), boolean);
    }

    void missingFieldIsNoDataAccessFailure() {
        DbQuery query(connection());
        query.SQL.Add(QStringLiteral("SELECT * FROM teach_obj"));
        query.Open();
        try {
            query.FieldByName(QStringLiteral("nothing"));
            QFAIL("no error");
        } catch (const DataAccessError&) {
            QFAIL("a data-access failure");
        } catch (const Error& error) {
            QCOMPARE(QString::fromUtf8(error.what()), QStringLiteral("Field 'nothing' not found."));
        }
    }

    void joinColumnsByPlainAndTableName() {
        DbQuery query(connection());
        query.SQL.Add(QStringLiteral(" Select *  from edu_plan, teach_obj where (teach_obj_name ='ПДД') and "
                                     "(edu_plan.teach_obj_id = teach_obj.teach_obj_id);"));
        query.Open();
        QCOMPARE(query.RecordCount(), 1);
        QCOMPARE(query.FieldByName(QStringLiteral("teach_obj_id")).AsInteger(), 3); // edu_plan's, the first
        QCOMPARE(query.FieldByName(QStringLiteral("edu_plan.teach_obj_id")).AsInteger(), 3);
        QCOMPARE(query.FieldByName(QStringLiteral("teach_obj.teach_obj_id")).AsInteger(), 3);
        QCOMPARE(query.FieldByName(QStringLiteral("teach_obj_name")).AsString(), QStringLiteral("пдд"));
        QCOMPARE(query.FieldByName(QStringLiteral("edu_plan_theory")).AsInteger(), 40);
        QCOMPARE(query.FieldDefs().size(), 10);
    }

    void sqlTextChangesCloseTheQuery() {
        DbQuery query(connection());
        query.SQL.Add(QStringLiteral("SELECT * FROM teach_obj"));
        query.Open();
        query.SQL.setText(QStringLiteral("SELECT * FROM edu_plan"));
        QVERIFY(!query.Active());
        query.Open();
        QCOMPARE(query.RecordCount(), 1);
        query.SQL.Clear();
        QVERIFY(!query.Active());
        query.SQL.Add(QStringLiteral(" UPDATE edu_plan SET edu_plan_theory = 41 ;"));
        query.ExecSQL();
        QVERIFY(!query.Active());
        query.SQL.Clear();
        query.SQL.Add(QStringLiteral("SELECT edu_plan_theory FROM edu_plan"));
        query.Open();
        QCOMPARE(query.FieldByName(QStringLiteral("edu_plan_theory")).AsInteger(), 41);
        // ExecSQL of an open query closes it.
        query.ExecSQL();
        QVERIFY(!query.Active());
    }

    void openRefusals_data() {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing table") << "Select * from gibdd"
                                       << "no such table: gibdd";
        QTest::newRow("missing column") << "Select SmenaNum from teach_obj"
                                        << "no such column: SmenaNum";
        QTest::newRow("no rows to return") << " UPDATE edu_plan SET edu_plan_theory = 1 ;"
                                           << "Текст команды не возвращает набор записей.";
        QTest::newRow("syntax") << "Select from"
                                << "near \"from\": syntax error";
        QTest::newRow("unclosed text") << "Select 'abc from teach_obj"
                                       << "a quoted text is not closed";
    }
    void openRefusals() {
        QFETCH(QString, sql);
        QFETCH(QString, message);
        DbQuery query(connection());
        query.SQL.Add(sql);
        try {
            query.Open();
            QFAIL("opened");
        } catch (const DataAccessError& failure) {
            QVERIFY2(QString::fromUtf8(failure.what()).contains(message), failure.what());
            QCOMPARE(connection().Errors().size(), 1);
            QVERIFY(connection().Errors()[0].Description.contains(message));
        }
        QVERIFY(!query.Active());
        QCOMPARE(rowsOf(connection(), QStringLiteral("SELECT edu_plan_theory FROM edu_plan")),
                 QStringLiteral("40"));
    }

    void locate_data() {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QVariant>("values");
        QTest::addColumn<bool>("caseInsensitive");
        QTest::addColumn<int>("found"); // teach_obj_id, 0: none
        const auto list = [](std::initializer_list<QVariant> values) {
            return QVariant(QVariantList(values));
        };
        QTest::newRow("text, exact") << "teach_obj_name" << QVariant(QStringLiteral("пдд")) << false << 3;
        QTest::newRow("text, the first of a name")
            << "teach_obj_cycle" << QVariant(QStringLiteral("Общий")) << false << 2;
        QTest::newRow("text, letter case counts")
            << "teach_obj_name" << QVariant(QStringLiteral("вождение")) << false << 0;
        QTest::newRow("text, letter case ignored")
            << "teach_obj_name" << QVariant(QStringLiteral("вОЖДЕНИЕ")) << true << 1;
        QTest::newRow("text, no partial key")
            << "teach_obj_name" << QVariant(QStringLiteral("Вожд")) << true << 0;
        QTest::newRow("integer as text") << "hours" << QVariant(QStringLiteral("12")) << false << 3;
        QTest::newRow("integer as integer") << "teach_obj_id" << QVariant(2) << false << 2;
        QTest::newRow("integer, no such") << "hours" << QVariant(QStringLiteral("abc")) << false << 0;
        QTest::newRow("Null") << "hours" << QVariant() << false << 2;
        QTest::newRow("boolean") << "teach_drive" << QVariant(true) << false << 1;
        QTest::newRow("three keys") << "teach_obj_name;teach_obj_cycle;teach_obj_sokr"
                                    << list({QStringLiteral("пдд"), QStringLiteral("Общий"),
                                             QStringLiteral("ПДД")})
                                    << false << 3;
        QTest::newRow("three keys, letter case ignored")
            << "teach_obj_name; teach_obj_cycle ;teach_obj_sokr"
            << list({QStringLiteral("пдд"), QStringLiteral("общий"), QStringLiteral("пдд")}) << true << 2;
        QTest::newRow("three keys, one differs")
            << "teach_obj_name;teach_obj_cycle;teach_obj_sokr"
            << list({QStringLiteral("ПДД"), QStringLiteral("Спец"), QStringLiteral("ПДД")}) << true << 0;
        QTest::newRow("a list of one value") << "teach_obj_id" << list({QStringLiteral("1")}) << false << 1;
    }
    void locate() {
        QFETCH(QString, keys);
        QFETCH(QVariant, values);
        QFETCH(bool, caseInsensitive);
        QFETCH(int, found);
        for (const bool onTable : {false, true}) {
            DbQuery query(connection());
            DbTable table(connection());
            DbDataSet& data = onTable ? static_cast<DbDataSet&>(table) : query;
            query.SQL.Add(QStringLiteral(" Select *  from teach_obj"));
            table.setTableName(QStringLiteral("teach_obj"));
            data.Open();
            data.Next();
            const DbLocateOptions options =
                caseInsensitive ? DbLocateOptions(loCaseInsensitive) : DbLocateOptions();
            QCOMPARE(data.Locate(keys, values, options), found != 0);
            QCOMPARE(data.FieldByName(QStringLiteral("teach_obj_id")).AsInteger(),
                     found ? found : 2); // stays
            QVERIFY(!data.Eof());
            // Asked again, the same answer from the index.
            QCOMPARE(data.Locate(keys, values, options), found != 0);
        }
    }

    void locateNeedsOneValuePerKey() {
        DbQuery query(connection());
        query.SQL.Add(QStringLiteral("SELECT * FROM teach_obj"));
        query.Open();
        QVERIFY_THROWS_EXCEPTION(
            Error, query.Locate(QStringLiteral("teach_obj_name;teach_obj_cycle"), QStringLiteral("ПДД")));
        QVERIFY_THROWS_EXCEPTION(Error, query.Locate(QStringLiteral("nothing"), 1));
    }

    void fieldDefs() {
        DbTable table(connection());
        table.setTableName(QStringLiteral("teach_obj"));
        table.Open();
        QCOMPARE(table.FieldDefs().size(), 7);
        const QList<QPair<QString, DbFieldType>> expected = {{QStringLiteral("teach_obj_id"), ftAutoInc},
                                                             {QStringLiteral("teach_obj_name"), ftString},
                                                             {QStringLiteral("teach_obj_cycle"), ftString},
                                                             {QStringLiteral("teach_obj_sokr"), ftString},
                                                             {QStringLiteral("teach_drive"), ftBoolean},
                                                             {QStringLiteral("hours"), ftInteger},
                                                             {QStringLiteral("rate"), ftFloat}};
        for (qsizetype i = 0; i < expected.size(); ++i) {
            QCOMPARE(table.FieldDefs()[i].Name, expected[i].first);
            QCOMPARE(table.FieldDefs()[i].DataType, expected[i].second);
        }
        table.Close();
        // An INTEGER PRIMARY KEY without AUTOINCREMENT is an integer whose values are copied.
        table.setTableName(QStringLiteral("soato_adress"));
        table.Open();
        QCOMPARE(table.FieldDefs()[0].DataType, ftInteger);
        QCOMPARE(table.FieldDefs()[1].DataType, ftString);
        table.Insert();
        table.FieldByName(QStringLiteral("soato_id")).setAsInteger(1401000000);
        table.FieldByName(QStringLiteral("soato_name")).setAsString(QStringLiteral("Брестская"));
        table.Post();
        QCOMPARE(table.FieldByName(QStringLiteral("soato_id")).AsInteger(), 1401000000);
        QVERIFY_THROWS_EXCEPTION(Error, table.setTableName(QStringLiteral("teach_obj")));
    }

    void tableIsASnapshot() {
        DbTable table(connection());
        table.setTableName(QStringLiteral("TEACH_OBJ"));
        table.Open();
        execSql(connection(), QStringLiteral("INSERT INTO teach_obj (teach_obj_name) VALUES ('Новый')"));
        QCOMPARE(table.RecordCount(), 3);
        QVERIFY(!table.Locate(QStringLiteral("teach_obj_name"), QStringLiteral("Новый")));
        table.Close();
        table.Open();
        QCOMPARE(table.RecordCount(), 4);
    }

    void insertIntoAnEmptyTable() {
        DbTable table(connection());
        table.setTableName(QStringLiteral("teach_obj"));
        execSql(connection(), QStringLiteral("DELETE FROM teach_obj"));
        table.Open();
        QVERIFY(table.Eof());
        table.Insert();
        table.FieldByName(QStringLiteral("teach_obj_name")).setAsString(QStringLiteral("Вождение ТС"));
        table.FieldByName(QStringLiteral("hours")).setAsString(QStringLiteral("8")); // converted by the field
        QCOMPARE(table.FieldByName(QStringLiteral("teach_obj_name")).AsString(),
                 QStringLiteral("Вождение ТС"));
        table.Post();
        QCOMPARE(table.RecordCount(), 1);
        QVERIFY(!table.Eof());
        // The posted row as the database keeps it: its number and its defaults.
        QCOMPARE(table.FieldByName(QStringLiteral("teach_obj_id")).AsInteger(), 4);
        QCOMPARE(table.FieldByName(QStringLiteral("teach_drive")).AsVariant(), QVariant(false));
        QCOMPARE(table.FieldByName(QStringLiteral("hours")).AsVariant(), QVariant(qlonglong(8)));
        QVERIFY(
            table.Locate(QStringLiteral("teach_obj_name"), QStringLiteral("вождение тс"), loCaseInsensitive));
        QCOMPARE(
            rowsOf(connection(),
                   QStringLiteral("SELECT teach_obj_id, teach_obj_name, teach_drive, hours FROM teach_obj")),
            QStringLiteral("4|Вождение ТС|False|8"));
    }

    void locateSeesRowsPostedThroughTheTable() {
        DbTable table(connection());
        table.setTableName(QStringLiteral("teach_obj"));
        table.Open();
        QVERIFY(
            !table.Locate(QStringLiteral("teach_obj_name;hours"), QVariantList{QStringLiteral("Новый"), 3}));
        table.Insert();
        table.FieldByName(QStringLiteral("teach_obj_name")).setAsVariant(QStringLiteral("Новый"));
        table.FieldByName(QStringLiteral("hours")).setAsInteger(3);
        table.Post();
        table.First();
        QVERIFY(table.Locate(QStringLiteral("teach_obj_name;hours"),
                             QVariantList{QStringLiteral("Новый"), QStringLiteral("3")}));
        QCOMPARE(table.FieldByName(QStringLiteral("teach_obj_id")).AsInteger(), 4);
        // An edited row is found by its new key only.
        table.Edit();
        table.FieldByName(QStringLiteral("hours")).setAsInteger(30);
        table.Post();
        QVERIFY(
            !table.Locate(QStringLiteral("teach_obj_name;hours"), QVariantList{QStringLiteral("Новый"), 3}));
        QVERIFY(
            table.Locate(QStringLiteral("teach_obj_name;hours"), QVariantList{QStringLiteral("Новый"), 30}));
    }

    void editAFilledTable() {
        DbTable table(connection());
        table.setTableName(QStringLiteral("teach_obj"));
        table.Open();
        table.Next();
        table.Edit();
        table.FieldByName(QStringLiteral("teach_obj_sokr")).setAsString(QStringLiteral("ПДД-1"));
        table.FieldByName(QStringLiteral("teach_drive")).setAsBoolean(true);
        table.FieldByName(QStringLiteral("rate")).setAsVariant(QVariant()); // Null: empty
        table.Post();
        QCOMPARE(table.RecordCount(), 3);
        QCOMPARE(
            rowsOf(connection(), QStringLiteral("SELECT teach_obj_sokr, teach_drive, rate FROM teach_obj")),
            QStringLiteral("ВОЖД|True|1.5;ПДД-1|True|NULL;ПДД|False|NULL"));
        // Editing with nothing written changes nothing.
        table.Edit();
        table.Post();
        QCOMPARE(table.FieldByName(QStringLiteral("teach_obj_sokr")).AsString(), QStringLiteral("ПДД-1"));
    }

    void editAnEmptyTableStartsARow() {
        DbTable table(connection());
        table.setTableName(QStringLiteral("edu_plan"));
        execSql(connection(), QStringLiteral("DELETE FROM edu_plan"));
        table.Open();
        for (const int hours : {10, 20, 30}) {
            table.Edit();
            table.FieldByName(QStringLiteral("edu_plan_theory")).setAsInteger(hours);
            table.Post();
        }
        QCOMPARE(table.RecordCount(), 1);
        QCOMPARE(rowsOf(connection(), QStringLiteral("SELECT * FROM edu_plan")),
                 QStringLiteral("NULL|NULL|30"));
    }

    void nullWrites() {
        DbTable table(connection());
        table.setTableName(QStringLiteral("teach_obj"));
        table.Open();
        table.Insert();
        for (const QString& name :
             {QStringLiteral("teach_obj_name"), QStringLiteral("hours"), QStringLiteral("teach_drive")})
            table.FieldByName(name).setAsVariant(QVariant());
        table.FieldByName(QStringLiteral("teach_obj_cycle")).setAsString(QString());
        table.Post();
        QCOMPARE(rowsOf(connection(),
                        QStringLiteral(
                            "SELECT teach_obj_name, hours, teach_drive, teach_obj_cycle = '' FROM teach_obj "
                            "WHERE teach_obj_id = 4")),
                 QStringLiteral("NULL|NULL|False|1"));
    }

    void refusedRowsKeepTheRowsBefore() {
        DbTable table(connection());
        table.setTableName(QStringLiteral("teach_obj"));
        table.Open();
        table.Insert();
        table.FieldByName(QStringLiteral("teach_obj_name")).setAsString(QStringLiteral("Первый"));
        table.Post();
        table.Insert();
        table.FieldByName(QStringLiteral("teach_obj_sokr")).setAsString(QString(21, u'я'));
        try {
            table.Post();
            QFAIL("posted");
        } catch (const DataAccessError& failure) {
            QVERIFY2(QString::fromUtf8(failure.what()).contains(QStringLiteral("'teach_obj_sokr'")),
                     failure.what());
            QCOMPARE(connection().Errors().size(), 1);
        }
        // Another program sees the row posted before the refusal, at once.
        QCOMPARE(runTool(QStringLiteral("sqlcipher"), m_path,
                         keyLine(password) +
                             QStringLiteral("SELECT group_concat(teach_obj_name) FROM teach_obj;\n")),
                 QStringLiteral("Вождение,ПДД,пдд,Первый"));
        // The refused row can be mended and posted.
        table.FieldByName(QStringLiteral("teach_obj_sokr")).setAsString(QStringLiteral("я"));
        table.Post();
        QCOMPARE(table.RecordCount(), 5);

        DbTable notes(connection());
        notes.setTableName(QStringLiteral("notes"));
        notes.Open();
        notes.Insert();
        notes.FieldByName(QStringLiteral("b")).setAsInteger(1);
        QVERIFY_THROWS_EXCEPTION(DataAccessError, notes.Post());
        QCOMPARE(connection().Errors()[0].Description,
                 QStringLiteral("Поле 'notes.a' не может содержать значение Null, так как для него требуется "
                                "значение."));
    }

    void postedRowsAreSavedWhenControlReturns() {
        DbTable table(connection());
        table.setTableName(QStringLiteral("edu_plan"));
        table.Open();
        for (int i = 0; i < 5; ++i) {
            table.Insert();
            table.FieldByName(QStringLiteral("edu_plan_theory")).setAsInteger(i);
            table.Post();
        }
        // The table stays open, as after a failed step; the rows are saved all the same.
        QCoreApplication::processEvents();
        QCOMPARE(runTool(QStringLiteral("sqlcipher"), m_path,
                         keyLine(password) + QStringLiteral("SELECT count(*) FROM edu_plan;\n")),
                 QStringLiteral("6"));
    }

    void killedWhilePostingLeavesAConsistentFile() {
#ifdef _WIN32
        QSKIP("needs fork()");
#else
        m_connection.reset();
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            // The child posts rows and dies in the middle, without closing anything.
            DbConnection connection;
            connection.setConnectionString(connectionText(m_path, password));
            DbTable table(connection);
            table.setTableName(QStringLiteral("edu_plan"));
            table.Open();
            for (int i = 1; i <= 3000; ++i) {
                table.Insert();
                table.FieldByName(QStringLiteral("edu_plan_theory")).setAsInteger(i);
                table.Post();
                if (i == 2500)
                    usleep(300 * 1000); // the next Post commits the batch, which is this old
            }
            raise(SIGKILL);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFSIGNALED(status));
        m_connection = std::make_unique<DbConnection>();
        m_connection->setConnectionString(connectionText(m_path, password));
        // No log is left beside the file; the killed writer's journal is undone by the next open.
        QVERIFY(!QFileInfo::exists(m_path + QStringLiteral("-wal")));
        QVERIFY(!QFileInfo::exists(m_path + QStringLiteral("-shm")));
        QCOMPARE(rowsOf(connection(), QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
        // Rows come whole and in order; those of the batches committed before the kill are there.
        const int rows = rowsOf(connection(), QStringLiteral("SELECT count(*) FROM edu_plan")).toInt();
        QVERIFY2(rows >= 2502 && rows <= 3001, qPrintable(QString::number(rows)));
        QCOMPARE(rowsOf(connection(),
                        QStringLiteral("SELECT max(edu_plan_theory) FROM edu_plan WHERE category_tc_id "
                                       "IS NULL")),
                 QString::number(rows - 1));
        // A journal the killed writer left is gone with the next write.
        execSql(connection(), QStringLiteral("DELETE FROM edu_plan WHERE edu_plan_theory = 1"));
        m_connection->Close();
        QVERIFY(!QFileInfo::exists(m_path + QStringLiteral("-journal")));
#endif
    }

    void closeDropsAnUnpostedRow() {
        DbTable table(connection());
        table.setTableName(QStringLiteral("edu_plan"));
        table.Open();
        table.Insert();
        table.FieldByName(QStringLiteral("edu_plan_theory")).setAsInteger(99);
        table.Close();
        QCOMPARE(rowsOf(connection(), QStringLiteral("SELECT count(*) FROM edu_plan")), QStringLiteral("1"));
    }

    void writesNeedInsertOrEdit() {
        DbTable table(connection());
        table.setTableName(QStringLiteral("teach_obj"));
        table.Open();
        QVERIFY_THROWS_EXCEPTION(Error, table.FieldByName(QStringLiteral("hours")).setAsInteger(1));
        QVERIFY_THROWS_EXCEPTION(Error, table.Post());
        table.Insert();
        QVERIFY_THROWS_EXCEPTION(Error, table.FieldByName(QStringLiteral("teach_obj_id")).setAsInteger(9));
        QVERIFY_THROWS_EXCEPTION(
            Error, table.FieldByName(QStringLiteral("hours")).setAsString(QStringLiteral("abc")));
        DbQuery query(connection());
        query.SQL.Add(QStringLiteral("SELECT * FROM teach_obj"));
        query.Open();
        QVERIFY_THROWS_EXCEPTION(Error, query.FieldByName(QStringLiteral("hours")).setAsInteger(1));
        DbTable missing(connection());
        missing.setTableName(QStringLiteral("gibdd"));
        QVERIFY_THROWS_EXCEPTION(DataAccessError, missing.Open());
        QVERIFY(connection().Errors()[0].Description.contains(QStringLiteral("no such table: gibdd")));
    }
};

QTEST_MAIN(TestDbDataSet)
#include "test_db_dataset.moc"
