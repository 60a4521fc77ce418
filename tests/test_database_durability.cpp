// A database stays whole through what an office machine does to it: copies over files that an earlier
// run left companions beside, a source that a killed writer left half written, a full disk, a size
// limit, another program reading the file while rows are posted.

#include "data_access/data_access_error.h"
#include "data_access/db_table.h"
#include "data_access/file_copy.h"
#include "db/connection_strings.h"
#include "db/database_files.h"
#include "support/database_files.h"
#include "support/stale_companions.h"
#include "support/steps_fixture.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#ifndef _WIN32
#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using data_access::copyDatabaseFile;
using data_access::DataAccessError;
using data_access::DbConnection;
using data_access::DbTable;

namespace {

const QString password = db::mainDatabasePassword;

QString carNames(const QString& path) {
    DbConnection connection;
    connection.setConnectionString(db::connectionString(path, password));
    return rowsOf(connection, QStringLiteral("SELECT count(*), min(car_name), max(car_id) FROM car")) + u'/' +
           rowsOf(connection, QStringLiteral("PRAGMA integrity_check"));
}

#ifndef _WIN32
// A small tmpfs on a temporary folder for one test (mounting needs root), unmounted at its end.
struct Tmpfs {
    QTemporaryDir mountPoint;
    QByteArray where = QFile::encodeName(mountPoint.path());
    bool mounted = false;

    explicit Tmpfs(const char* options) {
        mounted = mount("tmpfs", where.constData(), "tmpfs", 0, options) == 0;
    }
    ~Tmpfs() {
        if (mounted)
            umount2(where.constData(), MNT_DETACH);
    }
    QString filePath(const QString& name) const { return mountPoint.filePath(name); }
};
#endif

} // namespace

class TestDatabaseDurability : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString path(const QString& name) const { return m_dir.filePath(name); }

private Q_SLOTS:
    // Whatever an earlier run left beside the target, the copy holds exactly the source's rows; a
    // source that a killed writer left with a hot journal is copied as it was before that write.
    void copyIsTheSourceDatabase_data() {
        QTest::addColumn<QString>("companion"); // beside the target
        QTest::addColumn<bool>("targetExists");
        QTest::addColumn<bool>("hotSource");
        QTest::newRow("stale log over a file") << "-wal" << true << false;
        QTest::newRow("stale log, no file") << "-wal" << false << false;
        QTest::newRow("stale journal over a file") << "-journal" << true << false;
        QTest::newRow("stale journal, no file") << "-journal" << false << false;
        QTest::newRow("source half written") << QString() << true << true;
    }
    void copyIsTheSourceDatabase() {
        QFETCH(QString, companion);
        QFETCH(bool, targetExists);
        QFETCH(bool, hotSource);
        QTemporaryDir dir;
        const QString source = dir.filePath(QStringLiteral("source.accdb"));
        const QString target = dir.filePath(QStringLiteral("target.accdb"));
        makeDatabase(source, password, carTable(2, QStringLiteral("новый")));
        if (targetExists)
            makeDatabase(target, password, carTable(5, QStringLiteral("прежний")));
        if (!companion.isEmpty())
            leaveStaleCompanion(dir.path(), target, companion, password);
        QString expected = carNames(source);
        if (hotSource) {
            // The source as a writer killed in the middle of a change leaves it: pages of the change
            // in the file, the old pages in the journal.
            const QString whole = dir.filePath(QStringLiteral("whole.accdb"));
            makeDatabase(whole, password, carTable(300, QStringLiteral("новый")));
            RawDatabase writer(whole, password);
            QVERIFY(writer.run(QStringLiteral("PRAGMA cache_size = 2")));
            QVERIFY(writer.run(QStringLiteral("BEGIN")));
            QVERIFY(writer.run(QStringLiteral("UPDATE car SET car_name = 'половина'")));
            QFile::remove(source);
            QVERIFY(QFile::copy(whole, source));
            QVERIFY(QFile::copy(whole + QStringLiteral("-journal"), source + QStringLiteral("-journal")));
            QVERIFY(writer.run(QStringLiteral("ROLLBACK")));
            QVERIFY(readBytes(source) != readBytes(whole));
            expected = carNames(whole);
        }
        QVERIFY(expected.endsWith(u"/ok"));
        QVERIFY(!expected.contains(u"половина"));
        QVERIFY(copyDatabaseFile(source, password, target, true));
        QCOMPARE(companionsOf(target), QStringList());
        QCOMPARE(carNames(target), expected);
        QCOMPARE(companionsOf(source), QStringList());

        // Never over a file when told so; the file stays as it is.
        const QByteArray copied = readBytes(target);
        QVERIFY(!copyDatabaseFile(path(QStringLiteral("nothing.accdb")), password, target, false));
        QVERIFY(!copyDatabaseFile(source, password, target, false));
        QCOMPARE(readBytes(target), copied);
    }

    // A source that another tool keeps in write-ahead logging, its last rows still in the log: the
    // copy holds them, and no log is needed beside it.
    void copyTakesTheSourcesLog() {
        QTemporaryDir dir;
        const QString source = dir.filePath(QStringLiteral("source.accdb"));
        const QString target = dir.filePath(QStringLiteral("target.accdb"));
        makeDatabase(source, password, carTable(2, QStringLiteral("новый")));
        RawDatabase writer(source, password);
        QVERIFY(writer.run(QStringLiteral("PRAGMA journal_mode = WAL")));
        QVERIFY(writer.run(QStringLiteral("PRAGMA wal_autocheckpoint = 0")));
        QVERIFY(writer.run(QStringLiteral("INSERT INTO car (car_name) VALUES ('из журнала')")));
        QVERIFY(QFileInfo(source + QStringLiteral("-wal")).size() > 0);
        QVERIFY(copyDatabaseFile(source, password, target, true));
        QCOMPARE(companionsOf(target), QStringList());
        QCOMPARE(carNames(target).section(u'|', 0, 0), QStringLiteral("3"));
        QCOMPARE(rowsOf(target, password, QStringLiteral("SELECT car_name FROM car WHERE car_id = 3")),
                 QStringLiteral("из журнала"));
    }

    // A file the engine cannot open is copied as it is, for the connect that follows to report; one
    // that another program holds locked is not copied at all rather than copied half written.
    void copyOfAFileTheEngineRefuses() {
        QTemporaryDir dir;
        const QString noise = dir.filePath(QStringLiteral("noise.accdb"));
        writeBytes(noise, QByteArray(4096, '\x5a'));
        QVERIFY(copyDatabaseFile(noise, password, dir.filePath(QStringLiteral("a.accdb")), true));
        QCOMPARE(readBytes(dir.filePath(QStringLiteral("a.accdb"))), QByteArray(4096, '\x5a'));

        const QString held = dir.filePath(QStringLiteral("held.accdb"));
        makeDatabase(held, password, carTable(3, QStringLiteral("занят")));
        RawDatabase holder(held, password);
        QVERIFY(holder.run(QStringLiteral("BEGIN EXCLUSIVE")));
        QVERIFY(holder.run(QStringLiteral("DELETE FROM car")));
        QVERIFY(!copyDatabaseFile(held, password, dir.filePath(QStringLiteral("b.accdb")), true));
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("b.accdb"))));
        QVERIFY(holder.run(QStringLiteral("ROLLBACK")));
    }

#ifndef _WIN32
    // Another program reads the file while rows are posted: a short read is waited for and every row
    // arrives; a read held past the wait fails the Post under way with the provider's text, and the
    // rows of the batches committed before are there, the file sound.
    void readerHoldsTheFile_data() {
        QTest::addColumn<int>("holdMs");
        QTest::newRow("shorter than the wait") << 1000;
        QTest::newRow("longer than the wait") << 20000;
    }
    void readerHoldsTheFile() {
        QFETCH(int, holdMs);
        const QString file = path(QStringLiteral("read.accdb"));
        makeDatabase(file, password, carTable(1, QStringLiteral("первый")));
        int ready[2];
        QCOMPARE(pipe(ready), 0);
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            RawDatabase reader(file, password);
            const bool reading =
                reader.run(QStringLiteral("BEGIN")) && reader.run(QStringLiteral("SELECT count(*) FROM car"));
            (void)!write(ready[1], reading ? "r" : "x", 1);
            usleep(useconds_t(holdMs) * 1000);
            _exit(0);
        }
        char answer = 0;
        QCOMPARE(read(ready[0], &answer, 1), ssize_t(1));
        ::close(ready[0]);
        ::close(ready[1]);
        QCOMPARE(answer, 'r');

        DbConnection connection;
        connection.setConnectionString(db::connectionString(file, password));
        DbTable table(connection);
        table.setTableName(QStringLiteral("car"));
        table.Open();
        int posted = 0;
        QString failure;
        try {
            for (int i = 2; i <= 3000; ++i) {
                table.Insert();
                table.FieldByName(QStringLiteral("car_name")).setAsString(QStringLiteral("ряд %1").arg(i));
                table.Post();
                posted = i;
            }
            table.Close();
        } catch (const DataAccessError& error) {
            failure = QString::fromUtf8(error.what());
        }
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        table.Close();
        connection.Close();

        const QString rows = carNames(file);
        if (holdMs < 3000) {
            QCOMPARE(failure, QString());
            QCOMPARE(rows, QStringLiteral("3000|первый 1 %1|3000/ok").arg(QString(60, u'ж')));
        } else {
            QCOMPARE(failure,
                     QStringLiteral("Не удается использовать '%1'; файл уже используется.").arg(file));
            QVERIFY(rows.endsWith(u"/ok"));
            // The rows are a whole first part of those posted.
            const int stored = rows.section(u'|', 0, 0).toInt();
            QCOMPARE(rows.section(u'|', 2), QStringLiteral("%1/ok").arg(stored));
            QVERIFY2(stored >= 1 && stored <= posted, qPrintable(rows));
        }
        QCOMPARE(companionsOf(file), QStringList());
    }

    // A limit on the file's size (run in a child, as the limit and its signal need): every row whose
    // Post returned is in the file, unless the file could take no more; the failure names the file.
    void fileSizeLimit() {
        const QString file = path(QStringLiteral("limit.accdb"));
        makeDatabase(file, password, carTable(1, QStringLiteral("первый")));
        const qint64 limit = QFileInfo(file).size() + 2 * 1024 * 1024;
        int channel[2];
        QCOMPARE(pipe(channel), 0);
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            ::close(channel[0]);
            signal(SIGXFSZ, SIG_IGN);
            const rlimit size{rlim_t(limit), rlim_t(limit)};
            setrlimit(RLIMIT_FSIZE, &size);
            DbConnection connection;
            connection.setConnectionString(db::connectionString(file, password));
            DbTable table(connection);
            table.setTableName(QStringLiteral("car"));
            try {
                table.Open();
                for (int i = 2; i <= 100000; ++i) {
                    table.Insert();
                    table.FieldByName(QStringLiteral("car_name")).setAsString(QString(100, u'ш'));
                    table.Post();
                    const QByteArray line = QByteArray::number(i) + '\n';
                    (void)!write(channel[1], line.constData(), size_t(line.size()));
                }
                table.Close();
            } catch (const DataAccessError& error) {
                const QByteArray line = QByteArray("F") + error.what() + '\n';
                (void)!write(channel[1], line.constData(), size_t(line.size()));
            }
            _exit(0);
        }
        ::close(channel[1]);
        QByteArray output;
        char buffer[4096];
        for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;)
            output.append(buffer, n);
        ::close(channel[0]);
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));

        const QList<QByteArray> lines = output.trimmed().split('\n');
        QVERIFY(lines.last().startsWith('F'));
        const QString failure = QString::fromUtf8(lines.last().mid(1));
        QVERIFY2(failure.contains(file) &&
                     (failure.startsWith(QStringLiteral("Недостаточно места на диске")) ||
                      failure.startsWith(QStringLiteral("Ошибка диска или сети"))),
                 qPrintable(failure));
        const int posted = lines.size() >= 2 ? lines[lines.size() - 2].toInt() : 1;
        DbConnection connection;
        connection.setConnectionString(db::connectionString(file, password));
        QCOMPARE(rowsOf(connection, QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
        const int stored = rowsOf(connection, QStringLiteral("SELECT count(*) FROM car")).toInt();
        QCOMPARE(rowsOf(connection, QStringLiteral("SELECT max(car_id) FROM car")).toInt(), stored);
        // Rows were lost only where the file had reached its limit.
        QVERIFY2(stored == posted || QFileInfo(file).size() + 8 * 4096 > limit,
                 qPrintable(QStringLiteral("%1 of %2 rows, %3 bytes")
                                .arg(stored)
                                .arg(posted)
                                .arg(QFileInfo(file).size())));
        // And those were at most the last batch.
        QVERIFY2(stored > posted - 5000, qPrintable(QStringLiteral("%1 of %2").arg(stored).arg(posted)));
        connection.Close();
        QCOMPARE(companionsOf(file), QStringList());
    }

    // A disk that fills up while CopyTable posts (a small tmpfs; needs root to mount): the failure
    // line is logged, the file is sound and holds the source's rows in order up to where the disk
    // was full, and no further row fits.
    void fullDiskDuringCopyTable() {
        if (geteuid() != 0)
            QSKIP("mounting a small tmpfs needs root");
        const Tmpfs mountPoint("size=512k");
        if (!mountPoint.mounted)
            QSKIP("cannot mount a tmpfs here");

        StepsFixture f;
        db::DatabaseSteps& w = *f.steps;
        const QString target = mountPoint.filePath(QStringLiteral("target.accdb"));
        const QString source = path(QStringLiteral("source.accdb"));
        makeDatabase(target, password, carTable(1, QStringLiteral("ряд")));
        makeDatabase(source, password, carTable(8000, QStringLiteral("ряд")));
        QVERIFY(w.connectToBaseUser(target, password));
        QVERIFY(w.connectToBase2(source, password));
        w.CopyTable(QStringLiteral("car"));
        QCOMPARE(f.log(), QStringList{QStringLiteral("Ошибка обновления таблицы = car")});
        w.ADOConnection1.Close();
        w.ADOConnection2.Close();

        DbConnection connection;
        connection.setConnectionString(db::connectionString(target, password));
        QCOMPARE(rowsOf(connection, QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
        const int stored = rowsOf(connection, QStringLiteral("SELECT count(*) FROM car")).toInt();
        QVERIFY2(stored > 1000, qPrintable(QString::number(stored)));
        // Each row is the source's row of its number: whole, in order, none left out.
        QCOMPARE(
            rowsOf(connection, QStringLiteral("SELECT count(*) FROM car WHERE car_name = 'ряд ' || car_id || "
                                              "' %1'")
                                   .arg(QString(60, u'ж'))),
            QString::number(stored));
        try {
            execSql(connection, QStringLiteral("INSERT INTO car (car_name) SELECT car_name FROM car"));
            QFAIL("the disk took more rows");
        } catch (const DataAccessError& error) {
            QCOMPARE(QString::fromUtf8(error.what()),
                     QStringLiteral("Недостаточно места на диске для базы данных '%1'.").arg(target));
        }
        connection.Close();
        QCOMPARE(companionsOf(target), QStringList());
    }

    // Media that take no writes (a read-only mount; needs root): the file opens and reads, and a
    // write fails with the provider's text naming the file, the file unchanged.
    void readOnlyMedia() {
        if (geteuid() != 0)
            QSKIP("mounting a tmpfs needs root");
        const Tmpfs mountPoint("size=4m");
        if (!mountPoint.mounted)
            QSKIP("cannot mount a tmpfs here");
        const QByteArray& where = mountPoint.where;
        const QString file = mountPoint.filePath(QStringLiteral("ro.accdb"));
        makeDatabase(file, password, carTable(3, QStringLiteral("ряд")));
        QCOMPARE(mount("tmpfs", where.constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=4m"), 0);
        const QByteArray bytes = readBytes(file);

        DbConnection connection;
        connection.setConnectionString(db::connectionString(file, password));
        QCOMPARE(rowsOf(connection, QStringLiteral("SELECT count(*) FROM car")), QStringLiteral("3"));
        try {
            execSql(connection, QStringLiteral("DELETE FROM car"));
            QFAIL("a read-only file took a write");
        } catch (const DataAccessError& error) {
            QCOMPARE(
                QString::fromUtf8(error.what()),
                QStringLiteral("Не удается обновить '%1'. База данных или объект доступны только для чтения.")
                    .arg(file));
        }
        connection.Close();
        QCOMPARE(readBytes(file), bytes);
    }
#endif
};

QTEST_MAIN(TestDatabaseDurability)
#include "test_database_durability.moc"
