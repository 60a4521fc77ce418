// Database files that fail under the data-access layer: one locked by another program, one cut off
// in the middle. The connect operations report the provider's description in the "Ошибка!" box and
// return false; nothing crashes and nothing else changes.

#include "data_access/data_access_error.h"
#include "db/connection_strings.h"
#include "db/database_files.h"
#include "support/database_files.h"
#include "support/steps_fixture.h"

#include <QDir>
#include <QTest>

#include <sqlite3.h>

using data_access::DbConnection;
using seams::BoxIcon;

namespace {

using Kind = RecordingDialogs::Shown::Kind;

constexpr int rowCount = 300;

// Enough rows for a file of several pages.
QStringList carTable() {
    QStringList statements{QStringLiteral("BEGIN"),
                           QStringLiteral("CREATE TABLE car (car_id INTEGER PRIMARY KEY, car_name TEXT)")};
    for (int i = 0; i < rowCount; ++i)
        statements.append(
            QStringLiteral("INSERT INTO car (car_name) VALUES ('%1 %2')").arg(QString(100, u'К')).arg(i));
    statements.append(QStringLiteral("COMMIT"));
    return statements;
}

QString lastCar(DbConnection& connection) {
    return rowsOf(connection, QStringLiteral("SELECT car_name FROM car ORDER BY car_id DESC LIMIT 1"));
}

int carCount(DbConnection& connection) {
    return rowsOf(connection, QStringLiteral("SELECT count(*) FROM car")).toInt();
}

// Another program holding a database file: its own connection inside an exclusive transaction that
// has added a row.
class Holder {
public:
    Holder(const QString& path, const QString& password) {
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr) !=
            SQLITE_OK)
            return;
        if (!password.isEmpty())
            run(QStringLiteral("PRAGMA key = '%1'").arg(password));
        m_holding = run(QStringLiteral("BEGIN EXCLUSIVE")) &&
                    run(QStringLiteral("INSERT INTO car (car_name) VALUES ('holder')"));
    }
    ~Holder() { release(); }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;

    bool holding() const { return m_holding; }
    // Commits its row and lets go of the file; true when the commit went through.
    bool release() {
        const bool committed = m_holding && run(QStringLiteral("COMMIT"));
        m_holding = false;
        sqlite3_close(m_db);
        m_db = nullptr;
        return committed;
    }

private:
    bool run(const QString& statement) {
        return sqlite3_exec(m_db, statement.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    sqlite3* m_db = nullptr;
    bool m_holding = false;
};

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden);
}

} // namespace

class TestDatabaseFaults : public QObject {
    Q_OBJECT

    // The one box of a refused connect: the provider's description, as the connection lists it.
    static QString providerBox(StepsFixture& f, DbConnection& connection) {
        if (f.dialogs.shown.size() != 1 || connection.Errors().size() != 1)
            return QStringLiteral("%1 boxes, %2 provider errors")
                .arg(f.dialogs.shown.size())
                .arg(connection.Errors().size());
        const RecordingDialogs::Shown& box = f.dialogs.shown[0];
        if (box.kind != Kind::MessageBox || box.caption != QStringLiteral("Ошибка!") ||
            box.icon != BoxIcon::Warning)
            return QStringLiteral("not the provider error box: ") + box.caption;
        if (box.text != connection.Errors()[0].Description)
            return QStringLiteral("not the provider's description: ") + box.text;
        return box.text;
    }

private Q_SLOTS:
    // Locked by another program: the connect waits its while, then reports the lock and leaves the
    // holder's work alone; once the lock is released the file opens, the holder's row in it.
    void lockedFile_data() {
        QTest::addColumn<QString>("pswd");
        QTest::addColumn<int>("connection");
        QTest::newRow("plain, connectToBaseUser") << QString() << 1;
        QTest::newRow("encrypted, connectToBase2") << db::mainDatabasePassword << 2;
    }
    void lockedFile() {
        QFETCH(QString, pswd);
        QFETCH(int, connection);
        StepsFixture f;
        db::DatabaseSteps& w = *f.steps;
        const QString path = f.dir.filePath(QStringLiteral("school.accdb"));
        makeDatabase(path, pswd, carTable());
        const auto connect = [&] {
            return connection == 1 ? w.connectToBaseUser(path, pswd) : w.connectToBase2(path, pswd);
        };
        DbConnection& c = connection == 1 ? w.ADOConnection1 : w.ADOConnection2;

        Holder holder(path, pswd);
        QVERIFY(holder.holding());
        QVERIFY(!connect());
        QCOMPARE(providerBox(f, c),
                 QStringLiteral("Не удается использовать '%1'; файл уже используется.").arg(path));
        QVERIFY(!c.Connected());
        QVERIFY(f.log().isEmpty());

        QVERIFY(holder.release());
        f.dialogs.shown.clear();
        QVERIFY(connect());
        QCOMPARE(carCount(c), rowCount + 1);
        QCOMPARE(lastCar(c), QStringLiteral("holder"));
        QVERIFY(f.dialogs.shown.isEmpty());
        c.Close();
        QCOMPARE(filesIn(f.dir.path()), QStringList{QStringLiteral("school.accdb")});
    }

    // Locked while the connection is open: the statement fails with the provider's message, the
    // window reports it and stays usable, and the statement goes through once the lock is released.
    void lockTakenWhileOpen() {
        StepsFixture f;
        db::DatabaseSteps& w = *f.steps;
        const QString path = f.dir.filePath(QStringLiteral("school.accdb"));
        makeDatabase(path, db::mainDatabasePassword, carTable());
        QVERIFY(w.connectToBaseUser(path, db::mainDatabasePassword));
        w.ADOQuery1.SQL.Add(QStringLiteral("UPDATE car SET car_name = 'renamed' WHERE car_id = 1"));

        Holder holder(path, db::mainDatabasePassword);
        QVERIFY(holder.holding());
        f.handle([&] { w.ADOQuery1.ExecSQL(); });
        QCOMPARE(f.dialogs.shown.size(), 1);
        QCOMPARE(f.dialogs.shown[0].kind, Kind::Error);
        const QString locked =
            QStringLiteral("Не удается использовать '%1'; файл уже используется.").arg(path);
        QCOMPARE(f.dialogs.shown[0].text, locked);
        QCOMPARE(w.ADOConnection1.Errors().size(), 1);
        QCOMPARE(w.ADOConnection1.Errors()[0].Description, locked);

        QVERIFY(holder.release());
        f.handle([&] { w.ADOQuery1.ExecSQL(); });
        QCOMPARE(f.dialogs.shown.size(), 1);
        QCOMPARE(rowsOf(w.ADOConnection1, QStringLiteral("SELECT car_name FROM car WHERE car_id = 1")),
                 QStringLiteral("renamed"));
        QCOMPARE(carCount(w.ADOConnection1), rowCount + 1);
        QCOMPARE(lastCar(w.ADOConnection1), QStringLiteral("holder"));
    }

    // Cut off in the middle (a copy broken off, a full disk): the connect reports a damaged file or
    // no database, the file keeps its every byte, nothing is made beside it, and the connection
    // opens a sound file afterwards.
    void truncatedFile_data() {
        QTest::addColumn<QString>("pswd");
        QTest::addColumn<int>("extra"); // bytes past a 4096-byte boundary
        QTest::addColumn<QString>("message");
        const QString damaged =
            QStringLiteral("База данных '%1' нуждается в восстановлении или не является файлом базы данных.");
        QTest::newRow("plain, at a page boundary") << QString() << 0 << damaged;
        QTest::newRow("plain, inside a page") << QString() << 1000 << damaged;
        QTest::newRow("encrypted, at a page boundary") << db::mainDatabasePassword << 0 << damaged;
        QTest::newRow("encrypted, inside a page")
            << db::mainDatabasePassword << 1000 << QStringLiteral("Нераспознанный формат базы данных '%1'.");
    }
    void truncatedFile() {
        QFETCH(QString, pswd);
        QFETCH(int, extra);
        QFETCH(QString, message);
        StepsFixture f;
        db::DatabaseSteps& w = *f.steps;
        const QString path = f.dir.filePath(QStringLiteral("school.accdb"));
        const QString sound = f.dir.filePath(QStringLiteral("sound.accdb"));
        makeDatabase(path, pswd, carTable());
        makeDatabase(sound, pswd, carTable());
        QFile file(path);
        const qint64 half = file.size() / 2 / 4096 * 4096;
        QVERIFY(half >= 4096);
        QVERIFY(file.resize(half + extra));
        const QByteArray bytes = readBytes(path);
        const QStringList files = filesIn(f.dir.path());

        QVERIFY(!w.connectToBaseUser(path, pswd));
        const QString box = providerBox(f, w.ADOConnection1);
        QVERIFY2(box.startsWith(message.arg(path)), qPrintable(box));
        QVERIFY(!w.ADOConnection1.Connected());
        QCOMPARE(readBytes(path), bytes);
        QCOMPARE(filesIn(f.dir.path()), files);
        QVERIFY(f.log().isEmpty());

        f.dialogs.shown.clear();
        QVERIFY(w.connectToBaseUser(sound, pswd));
        QCOMPARE(carCount(w.ADOConnection1), rowCount);
        QVERIFY(f.dialogs.shown.isEmpty());
    }
};

QTEST_MAIN(TestDatabaseFaults)
#include "test_database_faults.moc"
