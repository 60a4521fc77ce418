// The data-access layer's connections on real files: connection strings, opening and its failures,
// KeepConnection, table names, and files shared with the stock sqlite3 and sqlcipher tools.

#include "data_access/data_access_error.h"
#include "data_access/db_table.h"
#include "support/database_files.h"
#include "support/registry_fixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

using data_access::DataAccessError;
using data_access::DbConnection;
using data_access::DbQuery;
using data_access::DbTable;
using data_access::ftAutoInc;

namespace {

const QString password = QStringLiteral("Wm4tRz8QbLx2NcVe");
const QString table =
    QStringLiteral("CREATE TABLE car (car_id INTEGER PRIMARY KEY AUTOINCREMENT, car_name TEXT)");

// The failure an open raises, with the connection's Errors checked against it.
QString openFailure(DbConnection& connection) {
    try {
        connection.Open();
    } catch (const DataAccessError& failure) {
        if (connection.Connected() || connection.Errors().size() != 1 ||
            connection.Errors()[0].Description != QString::fromUtf8(failure.what()))
            return QStringLiteral("inconsistent failure: ") + QString::fromUtf8(failure.what());
        return QString::fromUtf8(failure.what());
    }
    return QStringLiteral("opened");
}

} // namespace

class TestDbConnection : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_encrypted;
    QString m_plain;

private Q_SLOTS:
    void init() {
        m_encrypted = m_dir.filePath(QStringLiteral("encrypted.accdb"));
        m_plain = m_dir.filePath(QStringLiteral("plain.accdb"));
        makeDatabase(m_encrypted, password,
                     {table, QStringLiteral("INSERT INTO car (car_name) VALUES ('КамАЗ')")});
        makeDatabase(m_plain, QString(),
                     {table, QStringLiteral("INSERT INTO car (car_name) VALUES ('ЗИЛ')")});
    }

    void connectionStrings_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("connectionString"); // %1: the path
        QTest::addColumn<QString>("outcome");

        const QString passwordForm = connectionText(QStringLiteral("%1"), password);
        QTest::newRow("password form, encrypted") << "encrypted" << passwordForm << "КамАЗ";
        QTest::newRow("inline password form, encrypted")
            << "encrypted"
            << QStringLiteral(
                   "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=%1;Persist Security Info=False;Jet "
                   "OLEDB:Database Password=Wm4tRz8QbLx2NcVe;")
            << "КамАЗ";
        QTest::newRow("keys in other letter case and spaces")
            << "encrypted"
            << QStringLiteral(
                   " provider = microsoft.ace.oledb.12.0 ; data source = %1 ; jet oledb:database password = "
                   "Wm4tRz8QbLx2NcVe")
            << "КамАЗ";
        QTest::newRow("password form, plain") << "plain" << passwordForm << "ЗИЛ";
        QTest::newRow("empty password, plain")
            << "plain" << connectionText(QStringLiteral("%1"), QString()) << "ЗИЛ";
        QTest::newRow("no password part, plain")
            << "plain" << connectionTextWithoutPassword(QStringLiteral("%1")) << "ЗИЛ";
        QTest::newRow("wrong password, encrypted")
            << "encrypted" << connectionText(QStringLiteral("%1"), QStringLiteral("Pq7GhTz3LmRwa"))
            << "Недопустимый пароль базы данных";
        QTest::newRow("empty password, encrypted")
            << "encrypted" << connectionText(QStringLiteral("%1"), QString())
            << "Недопустимый пароль базы данных";
        QTest::newRow("no password part, encrypted")
            << "encrypted" << connectionTextWithoutPassword(QStringLiteral("%1"))
            << "Недопустимый пароль базы данных";
        QTest::newRow("another provider")
            << "plain" << QStringLiteral("Provider=Microsoft.Jet.OLEDB.3.51;Data Source=%1;")
            << "Не удается найти поставщик. Возможно, он установлен неправильно.";
        QTest::newRow("no key=value list")
            << "plain" << QStringLiteral("Provider;Data Source=%1")
            << "Формат строки инициализации не соответствует спецификации OLE DB.";
    }
    void connectionStrings() {
        QFETCH(QString, file);
        QFETCH(QString, connectionString);
        QFETCH(QString, outcome);
        DbConnection connection;
        connection.setProvider(QStringLiteral("Microsoft.ACE.OLEDB.12.0"));
        connection.setConnectionString(connectionString.arg(file == u"plain" ? m_plain : m_encrypted));
        QVERIFY(!connection.Connected());
        try {
            QCOMPARE(rowsOf(connection, QStringLiteral("SELECT car_name FROM car")), outcome);
            QVERIFY(connection.Connected());
        } catch (const DataAccessError& failure) {
            QVERIFY2(QString::fromUtf8(failure.what()).startsWith(outcome), failure.what());
            QCOMPARE(connection.Errors().size(), 1);
            QVERIFY(!connection.Connected());
        }
    }

    void pathWithSemicolonInQuotes() {
        const QString path = m_dir.filePath(QStringLiteral("a;b.accdb"));
        QVERIFY(QFile::copy(m_plain, path));
        DbConnection connection;
        connection.setConnectionString(
            QStringLiteral(
                "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=\"%1\";Persist Security Info=False;")
                .arg(path));
        QCOMPARE(rowsOf(connection, QStringLiteral("SELECT car_name FROM car")), QStringLiteral("ЗИЛ"));
    }

    void openFailures_data() {
        QTest::addColumn<QByteArray>("content"); // the file's bytes; "missing" and "folder" are no file
        QTest::addColumn<QString>("pswd");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing file") << QByteArray("missing") << password << "Не удается найти файл '%1'.";
        QTest::newRow("a folder") << QByteArray("folder") << password << "Не удается найти файл '%1'.";
        QTest::newRow("empty file") << QByteArray() << password << "Нераспознанный формат базы данных '%1'.";
        QTest::newRow("text file") << QByteArray("no database here\n") << QString()
                                   << "Нераспознанный формат базы данных '%1'.";
        QTest::newRow("pages of noise with a password")
            << QByteArray(4096, '\x5a') << password << "Недопустимый пароль базы данных '%1'.";
        QTest::newRow("pages of noise without a password")
            << QByteArray(4096, '\x5a') << QString() << "Недопустимый пароль базы данных '%1'.";
        QTest::newRow("damaged plain file")
            << QByteArray("SQLite format 3\0", 16) + QByteArray(4080, '\xff') << QString()
            << "База данных '%1' нуждается в восстановлении или не является файлом базы данных.";
    }
    void openFailures() {
        QFETCH(QByteArray, content);
        QFETCH(QString, pswd);
        QFETCH(QString, message);
        const QString path = m_dir.filePath(QStringLiteral("case.accdb"));
        QFile::remove(path);
        QDir(path).removeRecursively();
        if (content == "folder")
            QVERIFY(QDir().mkpath(path));
        else if (content != "missing")
            writeBytes(path, content);

        DbConnection connection;
        connection.setConnectionString(connectionText(path, pswd));
        const QString failure = openFailure(connection);
        QVERIFY2(failure.startsWith(message.arg(path)), qPrintable(failure));
        // Opening never makes or changes a file.
        if (content == "missing")
            QVERIFY(!QFileInfo::exists(path));
        else if (content != "folder")
            QCOMPARE(readBytes(path), content);
        QVERIFY(!QFileInfo::exists(path + QStringLiteral("-wal")));
        QVERIFY(!QFileInfo::exists(path + QStringLiteral("-journal")));
    }

    void lockedFile() {
        sqlite3* other = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(m_plain).constData(), &other), SQLITE_OK);
        QCOMPARE(sqlite3_exec(other, "BEGIN EXCLUSIVE; INSERT INTO car (car_name) VALUES ('x')", nullptr,
                              nullptr, nullptr),
                 SQLITE_OK);
        DbConnection connection;
        connection.setConnectionString(connectionText(m_plain, QString()));
        const QString failure = openFailure(connection);
        sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        QCOMPARE(failure,
                 QStringLiteral("Не удается использовать '%1'; файл уже используется.").arg(m_plain));
        QCOMPARE(openFailure(connection), QStringLiteral("opened"));
    }

    void connectionStringOnOpenConnection() {
        DbConnection connection;
        const QString first = connectionText(m_encrypted, password);
        connection.setConnectionString(first);
        connection.Open();
        connection.Open(); // nothing
        connection.setConnectionString(first);
        QVERIFY(connection.Connected());

        // A failure of earlier makes no difference to the refusal's empty list.
        DbQuery query(connection);
        query.SQL.Add(QStringLiteral("Select nothing from car"));
        QVERIFY_THROWS_EXCEPTION(DataAccessError, query.Open());
        QCOMPARE(connection.Errors().size(), 1);
        try {
            connection.setConnectionString(connectionText(m_plain, QString()));
            QFAIL("a new string on an open connection");
        } catch (const DataAccessError& failure) {
            QVERIFY(failure.errors().isEmpty());
            QVERIFY(connection.Errors().isEmpty());
            QCOMPARE(QString::fromUtf8(failure.what()),
                     QStringLiteral("Операция не допускается, если объект открыт."));
        }
        QCOMPARE(connection.ConnectionString(), first);
        QCOMPARE(rowsOf(connection, QStringLiteral("SELECT car_name FROM car")), QStringLiteral("КамАЗ"));

        connection.Close();
        connection.Close(); // nothing
        connection.setConnectionString(connectionText(m_plain, QString()));
        QCOMPARE(rowsOf(connection, QStringLiteral("SELECT car_name FROM car")), QStringLiteral("ЗИЛ"));
    }

    void keepConnectionOff() {
        DbConnection connection;
        connection.setKeepConnection(false);
        connection.setConnectionString(connectionText(m_encrypted, password));
        DbQuery query(connection);
        DbTable carTable(connection);
        carTable.setTableName(QStringLiteral("car"));

        // An explicit open stays until a use ends.
        connection.Open();
        QVERIFY(connection.Connected());
        query.SQL.Add(QStringLiteral("SELECT * FROM car"));
        query.Open();
        carTable.Open();
        query.Close();
        QVERIFY(connection.Connected()); // the table is still open
        carTable.Close();
        QVERIFY(!connection.Connected());

        // A statement opens it and, nothing else being open, it closes again.
        query.SQL.Clear();
        query.SQL.Add(QStringLiteral("INSERT INTO car (car_name) VALUES ('УАЗ')"));
        query.ExecSQL();
        QVERIFY(!connection.Connected());
        // A refused statement ends its use as well: nothing being open, the connection closes, and
        // another file can be given to it; an open table keeps it open.
        connection.Open();
        query.SQL.Clear();
        query.SQL.Add(QStringLiteral("INSERT INTO nothing (car_name) VALUES ('УАЗ')"));
        QVERIFY_THROWS_EXCEPTION(DataAccessError, query.ExecSQL());
        QVERIFY(!connection.Connected());
        carTable.Open();
        QVERIFY_THROWS_EXCEPTION(DataAccessError, query.ExecSQL());
        QVERIFY(connection.Connected());
        carTable.Close();
        QVERIFY(!connection.Connected());
        // A failing open ends its use.
        query.SQL.Clear();
        query.SQL.Add(QStringLiteral("Select nothing from car"));
        QVERIFY_THROWS_EXCEPTION(DataAccessError, query.Open());
        QVERIFY(!connection.Connected());
        // An open query keeps it; a new text closes the query and so the connection.
        query.SQL.Clear();
        query.SQL.Add(QStringLiteral("SELECT car_name FROM car"));
        query.Open();
        QVERIFY(connection.Connected());
        QCOMPARE(query.RecordCount(), 2);
        query.SQL.Clear();
        QVERIFY(!query.Active());
        QVERIFY(!connection.Connected());
        QStringList names;
        connection.GetTableNames(names);
        QCOMPARE(names, QStringList{QStringLiteral("car")});
        QVERIFY(!connection.Connected());
        QCOMPARE(connection.ConnectionString(), connectionText(m_encrypted, password));
    }

    void keepConnectionOn() {
        DbConnection connection;
        connection.setConnectionString(connectionText(m_encrypted, password));
        DbQuery query(connection);
        query.SQL.Add(QStringLiteral("SELECT * FROM car"));
        query.Open();
        query.Close();
        QVERIFY(connection.Connected());
    }

    void closeClosesQueriesAndTables() {
        DbConnection connection;
        connection.setConnectionString(connectionText(m_encrypted, password));
        DbQuery query(connection);
        query.SQL.Add(QStringLiteral("SELECT * FROM car"));
        query.Open();
        DbTable carTable(connection);
        carTable.setTableName(QStringLiteral("car"));
        carTable.Open();
        carTable.Insert();
        carTable.FieldByName(QStringLiteral("car_name")).setAsString(QStringLiteral("not posted"));
        connection.setConnected(false);
        QVERIFY(!query.Active());
        QVERIFY(!carTable.Active());
        QVERIFY(!connection.Connected());
        // The string stays; the next open reopens the same file.
        query.Open();
        QVERIFY(connection.Connected());
        QCOMPARE(query.RecordCount(), 1);
    }

    void tableNamesLeaveOutSqliteTables() {
        makeDatabase(m_plain, QString(),
                     {table, QStringLiteral("INSERT INTO car (car_name) VALUES ('x')"),
                      QStringLiteral("CREATE TABLE Region (id INTEGER)"),
                      QStringLiteral("CREATE INDEX car_name ON car (car_name)"),
                      QStringLiteral("CREATE VIEW big_cars AS SELECT * FROM car"),
                      QStringLiteral("ANALYZE")});
        DbConnection connection;
        connection.setConnectionString(connectionText(m_plain, QString()));
        QStringList names{QStringLiteral("left over")};
        connection.GetTableNames(names);
        QCOMPARE(names,
                 (QStringList{QStringLiteral("big_cars"), QStringLiteral("car"), QStringLiteral("Region")}));
        QCOMPARE(rowsOf(connection,
                        QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name LIKE 'sqlite%'")),
                 QStringLiteral("2"));
    }

    void filesOfTheStockTools_data() {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QString>("pswd");
        QTest::newRow("sqlite3") << "sqlite3" << QString();
        QTest::newRow("sqlcipher") << "sqlcipher" << password;
    }
    void filesOfTheStockTools() {
        QFETCH(QString, tool);
        QFETCH(QString, pswd);
        const QString path = m_dir.filePath(tool + QStringLiteral(".accdb"));
        QFile::remove(path);
        const QString key = pswd.isEmpty() ? QString() : keyLine(pswd);
        runTool(tool, path,
                key + QStringLiteral(
                          "CREATE TABLE teach_obj (teach_obj_id INTEGER PRIMARY KEY AUTOINCREMENT, "
                          "teach_obj_name VARCHAR(255), teach_drive BIT);\n"
                          "INSERT INTO teach_obj (teach_obj_name, teach_drive) VALUES ('Вождение', 1);\n"));

        DbConnection connection;
        connection.setConnectionString(connectionText(path, pswd));
        DbTable subjects(connection);
        subjects.setTableName(QStringLiteral("teach_obj"));
        subjects.Open();
        QCOMPARE(subjects.FieldDefs()[0].DataType, ftAutoInc);
        QVERIFY(subjects.FieldByName(QStringLiteral("teach_drive")).AsBoolean());
        subjects.Insert();
        subjects.FieldByName(QStringLiteral("teach_obj_name")).setAsString(QStringLiteral("ПДД"));
        subjects.Post();
        subjects.Close();
        execSql(
            connection,
            QStringLiteral(" ALTER TABLE teach_obj ADD COLUMN  [teach_crypt] VARCHAR(5),  [check_1] bit;"));
        execSql(
            connection,
            QStringLiteral(" UPDATE teach_obj SET check_1 = true  WHERE (teach_obj_name LIKE 'вождение%');"));
        connection.Close();

        // What the layer made works in the tool: no function or collation of ours is in the schema.
        QCOMPARE(
            runTool(tool, path,
                    key + QStringLiteral(
                              "INSERT INTO teach_obj (teach_obj_name) VALUES ('Устройство');\n"
                              "SELECT teach_obj_id, teach_obj_name, teach_drive, check_1 FROM teach_obj;\n"
                              "PRAGMA integrity_check;\nPRAGMA journal_mode;\n")),
            QStringLiteral("1|Вождение|1|-1\n2|ПДД|0|0\n3|Устройство||0\nok\ndelete"));
        QVERIFY(!QFileInfo::exists(path + QStringLiteral("-wal")));
    }

    void otherProgramsShareTheFile() {
        DbConnection connection;
        connection.setConnectionString(connectionText(m_encrypted, password));
        DbTable cars(connection);
        cars.setTableName(QStringLiteral("car"));
        cars.Open();
        for (const QString& name : {QStringLiteral("ГАЗ"), QStringLiteral("УАЗ")}) {
            cars.Insert();
            cars.FieldByName(QStringLiteral("car_name")).setAsString(name);
            cars.Post();
        }
        // Back in the event loop, the posted rows are there for every reader.
        QCoreApplication::processEvents();
        QCOMPARE(runTool(QStringLiteral("sqlcipher"), m_encrypted,
                         keyLine(password) + QStringLiteral("SELECT group_concat(car_name) FROM car;\n")),
                 QStringLiteral("КамАЗ,ГАЗ,УАЗ"));
        // And another program may write while the connection is open.
        runTool(QStringLiteral("sqlcipher"), m_encrypted,
                keyLine(password) + QStringLiteral("INSERT INTO car (car_name) VALUES ('ЗИЛ');\n"));
        QCOMPARE(rowsOf(connection, QStringLiteral("SELECT count(*) FROM car")), QStringLiteral("4"));
        QVERIFY(connection.Connected());
    }

    // Opening and writing never change a file's journal: a file with the rollback journal stays
    // one file while open and after a write; one that a tool put into write-ahead logging keeps it.
    void journalOfTheFileIsKept() {
        DbConnection connection;
        connection.setConnectionString(connectionText(m_plain, QString()));
        execSql(connection, QStringLiteral("INSERT INTO car (car_name) VALUES ('x')"));
        QVERIFY(connection.Connected());
        QCOMPARE(readBytes(m_plain)[18], '\1');
        for (const char* suffix : {"-journal", "-wal", "-shm"})
            QVERIFY(!QFileInfo::exists(m_plain + QString::fromLatin1(suffix)));
        connection.Close();
        QCOMPARE(readBytes(m_plain)[18], '\1');

        QCOMPARE(runTool(QStringLiteral("sqlite3"), m_plain, QStringLiteral("PRAGMA journal_mode = WAL;\n")),
                 QStringLiteral("wal"));
        execSql(connection, QStringLiteral("DELETE FROM car WHERE car_name = 'x'"));
        connection.Close();
        QCOMPARE(readBytes(m_plain)[18], '\2');
        runTool(QStringLiteral("sqlite3"), m_plain, QStringLiteral("PRAGMA journal_mode = DELETE;\n"));
    }
};

QTEST_MAIN(TestDbConnection)
#include "test_db_connection.moc"
