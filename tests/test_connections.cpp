// The database steps' connections: their settings, connectToBaseUser, connectToBase2 and the
// closing of both (FormClose, which the window runs as it closes).

#include "db/connection_strings.h"
#include "db/database_files.h"
#include "support/database_files.h"
#include "support/steps_fixture.h"

#include <QTest>

using data_access::cmShareDenyNone;
using data_access::cmUnknown;
using data_access::DbConnection;
using seams::BoxIcon;

namespace {

using Kind = RecordingDialogs::Shown::Kind;

QString carsOf(DbConnection& connection) {
    return rowsOf(connection, QStringLiteral("SELECT car_name FROM car"));
}

} // namespace

class TestConnections : public QObject {
    Q_OBJECT

    std::unique_ptr<StepsFixture> f;
    QString m_school; // encrypted with the main password
    QString m_other;  // the same, another file
    QString m_adress; // no password

private Q_SLOTS:
    void init() {
        f = std::make_unique<StepsFixture>();
        m_school = f->dir.filePath(QStringLiteral("school.accdb"));
        m_other = f->dir.filePath(QStringLiteral("other.accdb"));
        m_adress = f->dir.filePath(QStringLiteral("adress.accdb"));
        const auto cars = [](const QString& name) {
            return QStringList{QStringLiteral("CREATE TABLE car (car_name TEXT)"),
                               QStringLiteral("INSERT INTO car VALUES ('%1')").arg(name)};
        };
        makeDatabase(m_school, db::mainDatabasePassword, cars(QStringLiteral("school")));
        makeDatabase(m_other, db::mainDatabasePassword, cars(QStringLiteral("other")));
        makeDatabase(m_adress, QString(), cars(QStringLiteral("adress")));
    }
    void cleanup() { f.reset(); }

    void componentSettings() {
        db::DatabaseSteps& w = *f->steps;
        for (DbConnection* connection : {&w.ADOConnection1, &w.ADOConnection2}) {
            QCOMPARE(connection->Provider(), QStringLiteral("Microsoft.ACE.OLEDB.12.0"));
            QVERIFY(!connection->LoginPrompt());
            QVERIFY(!connection->Connected());
        }
        QVERIFY(!w.ADOConnection1.KeepConnection());
        QCOMPARE(w.ADOConnection1.Mode(), cmShareDenyNone);
        QVERIFY(w.ADOConnection2.KeepConnection());
        QCOMPARE(w.ADOConnection2.Mode(), cmUnknown);
        QCOMPARE(w.ADOQuery1.Connection(), &w.ADOConnection1);
        QCOMPARE(w.ADOTable1.Connection(), &w.ADOConnection1);
        QCOMPARE(w.ADOTable11.Connection(), &w.ADOConnection1);
        QCOMPARE(w.ADOQuery2.Connection(), &w.ADOConnection2);
        QCOMPARE(w.ADOTable2.Connection(), &w.ADOConnection2);
    }

    // The data-access tests write the connection string themselves (support/connection_text.h):
    // it must stay the text the program builds.
    void connectionTextIsTheProgramsOwn_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("password");
        QTest::newRow("password") << "/kit/base/MainBase.accdb"
                                  << "Pq7GhTz3LmRwa";
        QTest::newRow("empty password") << "C:\\Кит\\SchoolBase.accdb"
                                        << "";
    }
    void connectionTextIsTheProgramsOwn() {
        QFETCH(QString, path);
        QFETCH(QString, password);
        QCOMPARE(connectionText(path, password), db::connectionString(path, password));
        QCOMPARE(connectionTextWithoutPassword(path), db::connectionStringWithoutPassword(path));
    }

    void connectToBaseUser() {
        db::DatabaseSteps& w = *f->steps;
        QVERIFY(w.connectToBaseUser(m_school, db::mainDatabasePassword));
        QVERIFY(w.ADOConnection1.Connected()); // stays open after the explicit open
        QCOMPARE(
            w.ADOConnection1.ConnectionString(),
            QStringLiteral("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=") + m_school +
                QStringLiteral(";Persist Security Info=False;Jet OLEDB:Database Password=Wm4tRz8QbLx2NcVe;"));
        // The very same string: true, and the connection stays open.
        QVERIFY(w.connectToBaseUser(m_school, db::mainDatabasePassword));
        QVERIFY(w.ADOConnection1.Connected());
        // Another file, or another password, on the open connection: refused, the old one stays.
        QVERIFY(!w.connectToBaseUser(m_other, db::mainDatabasePassword));
        QVERIFY(!w.connectToBaseUser(m_school, db::curriculumDatabasePassword));
        QVERIFY(w.ADOConnection1.Connected());
        QVERIFY(f->dialogs.shown.isEmpty()); // the refusal carries no provider message
        w.ADOQuery1.SQL.Add(QStringLiteral("SELECT car_name FROM car"));
        w.ADOQuery1.Open();
        QCOMPARE(w.ADOQuery1.FieldByName(QStringLiteral("car_name")).AsString(), QStringLiteral("school"));
        QVERIFY(f->log().isEmpty());
    }

    void missingFileIsFalseSilently() {
        db::DatabaseSteps& w = *f->steps;
        QVERIFY(
            !w.connectToBaseUser(f->dir.filePath(QStringLiteral("none.accdb")), db::mainDatabasePassword));
        QVERIFY(!w.ADOConnection1.Connected());
        QVERIFY(w.ADOConnection1.ConnectionString().isEmpty());
        QVERIFY(w.connectToBase2(m_school, db::mainDatabasePassword));
        QVERIFY(!w.connectToBase2(f->dir.filePath(QStringLiteral("none.accdb")), db::mainDatabasePassword));
        QVERIFY(!w.connectToBase2(f->dir.path(), db::mainDatabasePassword)); // a folder is no file
        QVERIFY(w.ADOConnection2.Connected());                               // not even closed
        QCOMPARE(carsOf(w.ADOConnection2), QStringLiteral("school"));
        QVERIFY(f->dialogs.shown.isEmpty());
        QVERIFY(!QFileInfo::exists(f->dir.filePath(QStringLiteral("none.accdb"))));
    }

    void refusedOpenShowsEachProviderError_data() {
        QTest::addColumn<int>("connection");
        QTest::addColumn<QString>("pswd");
        QTest::newRow("first, wrong password") << 1 << db::curriculumDatabasePassword;
        QTest::newRow("first, no password") << 1 << QString();
        QTest::newRow("second, wrong password") << 2 << db::curriculumDatabasePassword;
    }
    void refusedOpenShowsEachProviderError() {
        QFETCH(int, connection);
        QFETCH(QString, pswd);
        db::DatabaseSteps& w = *f->steps;
        const bool connected =
            connection == 1 ? w.connectToBaseUser(m_school, pswd) : w.connectToBase2(m_school, pswd);
        QVERIFY(!connected);
        DbConnection& c = connection == 1 ? w.ADOConnection1 : w.ADOConnection2;
        QVERIFY(!c.Connected());
        QCOMPARE(c.Errors().size(), 1);
        QCOMPARE(f->dialogs.shown.size(), 1);
        QCOMPARE(f->dialogs.shown[0].kind, Kind::MessageBox);
        QCOMPARE(f->dialogs.shown[0].caption, QStringLiteral("Ошибка!"));
        QCOMPARE(f->dialogs.shown[0].icon, BoxIcon::Warning);
        QCOMPARE(f->dialogs.shown[0].text, c.Errors()[0].Description);
        QVERIFY(f->dialogs.shown[0].text.startsWith(QStringLiteral("Недопустимый пароль базы данных")));
        QVERIFY(f->log().isEmpty());
    }

    void emptyPasswordOpensAPlainDatabase() {
        db::DatabaseSteps& w = *f->steps;
        QVERIFY(w.connectToBaseUser(m_adress, QString()));
        QVERIFY(
            w.ADOConnection1.ConnectionString().endsWith(QStringLiteral("Jet OLEDB:Database Password=;")));
        QCOMPARE(carsOf(w.ADOConnection1), QStringLiteral("adress"));
    }

    void connectToBase2ClosesFirst() {
        db::DatabaseSteps& w = *f->steps;
        QVERIFY(w.connectToBase2(m_school, db::mainDatabasePassword));
        w.ADOTable2.setTableName(QStringLiteral("car"));
        w.ADOTable2.Open();
        QVERIFY(w.connectToBase2(m_adress, QString()));
        QVERIFY(w.ADOConnection2.Connected());
        QVERIFY(!w.ADOTable2.Active()); // closed with its connection
        QCOMPARE(carsOf(w.ADOConnection2), QStringLiteral("adress"));
        // A refused open after the close leaves it closed.
        QVERIFY(!w.connectToBase2(m_school, QString()));
        QVERIFY(!w.ADOConnection2.Connected());
        QCOMPARE(f->dialogs.shown.size(), 1);
    }

    void formCloseClosesBoth() {
        db::DatabaseSteps& w = *f->steps;
        QVERIFY(w.connectToBaseUser(m_school, db::mainDatabasePassword));
        QVERIFY(w.connectToBase2(m_other, db::mainDatabasePassword));
        w.ADOTable1.setTableName(QStringLiteral("car"));
        w.ADOTable1.Open();
        w.ADOTable1.Insert();
        w.ADOTable1.FieldByName(QStringLiteral("car_name")).setAsString(QStringLiteral("posted"));
        w.ADOTable1.Post();
        f->handle([&] { w.FormClose(); });
        QVERIFY(!w.ADOConnection1.Connected());
        QVERIFY(!w.ADOConnection2.Connected());
        QVERIFY(!w.ADOTable1.Active());
        QCOMPARE(runTool(QStringLiteral("sqlcipher"), m_school,
                         keyLine(db::mainDatabasePassword) +
                             QStringLiteral("SELECT group_concat(car_name) FROM car;\n")),
                 QStringLiteral("school,posted"));
        // FormClose on closed connections does nothing.
        w.FormClose();
        for (const RecordingDialogs::Shown& shown : f->dialogs.shown)
            QVERIFY2(shown.kind != Kind::Error, qPrintable(shown.text));
    }
};

QTEST_MAIN(TestConnections)
#include "test_connections.moc"
