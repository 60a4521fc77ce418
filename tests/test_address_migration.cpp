// The address directory on real files: the SOATO table of the updater-side address database, and the
// merge of the three modules' address databases into the installation's main address database.

#include "db/connection_strings.h"
#include "db/database_files.h"
#include "support/database_files.h"
#include "support/stale_companions.h"
#include "support/steps_fixture.h"

#include <QDateTime>
#include <QTest>

#include <memory>

using data_access::DbConnection;
using registry::Registry;
using seams::BoxIcon;

namespace {

// The address tables in the order the merge goes through them.
const QStringList addressTables = {
    QStringLiteral("region"),         QStringLiteral("raion"),          QStringLiteral("nasel_punkt"),
    QStringLiteral("street"),         QStringLiteral("grajdanstvo"),    QStringLiteral("doc_type"),
    QStringLiteral("organ_passport"), QStringLiteral("nas_punkt_nazv"), QStringLiteral("medicine"),
    QStringLiteral("soato_adress"),   QStringLiteral("birthdayPlace"),  QStringLiteral("RegionMed")};

const QString soatoFailure = QStringLiteral("Ошибка копирования базы адресов регионов!");
const QString copyFailure = QStringLiteral("Ошибка копирования файла базы адресов!");
const QString connectFailure = QStringLiteral("Ошибка соединения с основной базой адресов");
const QString vusDone = QStringLiteral("Перенос базы адресов ВУСа - успешно");
const QString adDone = QStringLiteral("Перенос базы адресов АД - успешно");
const QString dopDone = QStringLiteral("Перенос базы адресов ДОПов - успешно");

const QString soatoRows = QStringLiteral("SELECT soato_id, soato_name FROM soato_adress ORDER BY soato_id");
const QString regionRows =
    QStringLiteral("SELECT region_id, region_name, region_code FROM region ORDER BY region_id");

// One address table as the served program keeps it: a counter key, a name and a code; soato_adress
// keys its rows by the SOATO code itself. `extra` adds column definitions.
QString addressTable(const QString& table, const QString& extra = QString()) {
    if (table == u"soato_adress")
        return QStringLiteral(
                   "CREATE TABLE soato_adress (soato_id INTEGER CONSTRAINT PrimaryKey PRIMARY KEY, "
                   "soato_name STRING") +
               extra + u')';
    return QStringLiteral("CREATE TABLE %1 (%1_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, %1_name "
                          "VARCHAR(255), %1_code INTEGER%2)")
        .arg(table, extra);
}

// Rows of name and code, "('Минская', 1), ..."
QString insertInto(const QString& table, const QString& rows) {
    return QStringLiteral("INSERT INTO %1 (%1_name, %1_code) VALUES %2").arg(table, rows);
}

QString insertSoato(const QString& rows) {
    return QStringLiteral("INSERT INTO soato_adress (soato_id, soato_name) VALUES ") + rows;
}

// A database without password at `path`, its tables and rows made through the data-access layer.
void makeBase(const QString& path, const QStringList& statements) {
    QDir().mkpath(QFileInfo(path).path());
    makeDatabase(path, QString());
    execSql(path, QString(), statements);
}

// An address database holding `tables` (by default every address table) and then `rows`.
void makeAdress(const QString& path, const QStringList& rows, const QStringList& tables = addressTables) {
    QStringList statements;
    for (const QString& table : tables)
        statements.append(addressTable(table));
    makeBase(path, statements + rows);
}

// The rows of `sql` in the database at `path`, or the error that reading them raised.
QString rowsIn(const QString& path, const QString& sql) {
    try {
        return rowsOf(path, QString(), sql);
    } catch (const std::exception& error) {
        return QStringLiteral("error: ") + QString::fromUtf8(error.what());
    }
}

QStringList tablesIn(const QString& path) {
    try {
        DbConnection connection;
        connection.setConnectionString(db::connectionString(path, QString()));
        QStringList names;
        connection.GetTableNames(names);
        return names;
    } catch (const std::exception& error) {
        return {QStringLiteral("error: ") + QString::fromUtf8(error.what())};
    }
}

// The registry seen through the window, with every value it reads, in order.
class RecordingRegistry final : public Registry {
public:
    explicit RecordingRegistry(Registry& inner)
        : m_inner(inner) {}
    void writeString(const QString& section, const QString& name, const QString& text) override {
        m_inner.writeString(section, name, text);
    }
    native::Lookup lookup(const QString& section, const QString& name) const override {
        reads.append(section + u'\\' + name);
        return m_inner.lookup(section, name);
    }

    mutable QStringList reads;

private:
    Registry& m_inner;
};

} // namespace

class TestAddressMigration : public QObject {
    Q_OBJECT

    QString m_startFolder = QDir::currentPath();
    std::unique_ptr<RecordingRegistry> m_registry; // outlives the window that reads it
    std::unique_ptr<StepsFixture> f;

    QString m_updater;      // the window's updater folder
    QString m_installation; // vus_bistral's ProgrammPath
    QStringList m_modules;  // VUSBase, SchoolBase, VUS_dop
    QString m_spare;
    QString m_main;

    db::DatabaseSteps& w() { return *f->steps; }

    // A window whose updater folder is `folder` inside the fixture's one ("" for that folder).
    void makeWindow(const QString& folder = QString()) {
        f.reset();
        f = std::make_unique<StepsFixture>(QString(), [this, folder](SeamsFixture::Seams& seams) {
            m_registry = std::make_unique<RecordingRegistry>(*seams.registry);
            seams.registry = m_registry.get();
            seams.updaterFolder += folder;
        });
        m_updater = f->seams.updaterFolder;
        QDir().mkpath(m_updater + QStringLiteral("res"));
        // A path without a folder ("false\...") resolves here, where nothing is.
        QDir::setCurrent(f->root);
    }

    // Each shown dialog in short: a provider error box, the plain message dialog with its text, the
    // standard error box.
    QStringList shown() const {
        QStringList out;
        for (const RecordingDialogs::Shown& s : f->dialogs.shown) {
            if (s.kind == RecordingDialogs::Shown::Kind::MessageBox && s.caption == u"Ошибка!" &&
                s.icon == BoxIcon::Warning && !s.text.isEmpty())
                out.append(QStringLiteral("provider error"));
            else if (s.kind == RecordingDialogs::Shown::Kind::Message)
                out.append(QStringLiteral("message: ") + s.text);
            else if (s.kind == RecordingDialogs::Shown::Kind::Error)
                out.append(QStringLiteral("error"));
            else
                out.append(QStringLiteral("other: ") + s.caption + u' ' + s.text);
        }
        return out;
    }

    // The program joins the parts of the path with the system's separator.
    QString soatoSource() const {
        return m_updater + QStringLiteral("res") + filesystem::separator() + QStringLiteral("soato.accdb");
    }

    void makeSoato(const QStringList& rows) {
        QStringList statements{
            QStringLiteral("CREATE TABLE soato (soato_id INTEGER, soato_name VARCHAR(255))")};
        if (!rows.isEmpty())
            statements.append(QStringLiteral("INSERT INTO soato (soato_id, soato_name) VALUES ") +
                              rows.join(QStringLiteral(", ")));
        makeBase(soatoSource(), statements);
    }

    // ProgrammPath of the four sections; a null text leaves the value out (the section stays).
    void writeRegistry(const QStringList& folders) {
        const char* sections[] = {"vus_bistral", "VUSBase", "SchoolBase", "VUS_dop"};
        QString body;
        for (int i = 0; i < 4; ++i) {
            body +=
                QStringLiteral("[HKEY_CURRENT_USER\\Software\\%1]\n").arg(QString::fromLatin1(sections[i]));
            if (!folders[i].isNull())
                body += QStringLiteral("\"ProgrammPath\"=\"%1\"\n")
                            .arg(KitFolders::escapedForRegistry(folders[i]));
            body += QStringLiteral("\"ProgrammVersion\"=\"3.6\"\n\n");
        }
        writeBytes(f->registryPath, regeditFile(body));
    }

    // The installation with its OtherBase folder, three module folders, the registry naming them and
    // the spare copy holding one region and one SOATO code.
    void makeKit(bool trailingSeparators = true) {
        m_installation = f->root + QStringLiteral("Kit/ВУС бистрал/");
        m_modules = {f->root + QStringLiteral("Modules/ВУС/"), f->root + QStringLiteral("Modules/АД/"),
                     f->root + QStringLiteral("Modules/ДОП/")};
        QDir().mkpath(m_installation + QStringLiteral("OtherBase"));
        for (const QString& module : m_modules)
            QDir().mkpath(module);
        QStringList folders{m_installation};
        folders += m_modules;
        if (!trailingSeparators)
            for (QString& folder : folders)
                folder.chop(1);
        writeRegistry(folders);
        m_spare = m_updater + QStringLiteral("res/adress.accdb");
        m_main = m_installation + QStringLiteral("OtherBase/adress.accdb");
        makeAdress(m_spare, {insertInto(QStringLiteral("region"), QStringLiteral("('Минская', 1)")),
                             insertSoato(QStringLiteral("(1, 'Минск')"))});
    }

    QString module(int i) const { return m_modules[i] + QStringLiteral("adress.accdb"); }

    // The three module databases, one region each.
    void makeModules() {
        makeAdress(module(0), {insertInto(QStringLiteral("region"), QStringLiteral("('Брестская', 2)"))});
        makeAdress(module(1), {insertInto(QStringLiteral("region"), QStringLiteral("('Гомельская', 3)"))});
        makeAdress(module(2), {insertInto(QStringLiteral("region"), QStringLiteral("('Витебская', 4)"))});
    }

    void verifyConnectionsUntouched() {
        QVERIFY(!w().ADOConnection1.Connected());
        QVERIFY(!w().ADOConnection2.Connected());
        QVERIFY(w().ADOConnection1.ConnectionString().isEmpty());
        QVERIFY(w().ADOConnection2.ConnectionString().isEmpty());
    }

    static QStringList programmPathReads() {
        QStringList reads;
        for (const char* section : {"vus_bistral", "VUSBase", "SchoolBase", "VUS_dop", "vus_bistral"})
            reads.append(QString::fromLatin1(section) + QStringLiteral("\\ProgrammPath"));
        return reads;
    }

private Q_SLOTS:
    void init() { makeWindow(); }
    void cleanup() {
        QDir::setCurrent(m_startFolder);
        f.reset();
        m_registry.reset();
    }

    // --- Update_base_adress

    void updateBaseAdressFillsTheSoatoTable_data() {
        QTest::addColumn<QString>("updater"); // inside the fixture's updater folder
        QTest::addColumn<QString>("adress");  // where the address database it fills lies, likewise
        QTest::addColumn<QStringList>("source");
        QTest::addColumn<QString>("expected");
        const QStringList codes{QStringLiteral("(300, '1e3')"), QStringLiteral("(1, 'Минск')"),
                                QStringLiteral("(7, '0012')"), QStringLiteral("(4, 'Брест')")};
        const QString copied = QStringLiteral("1|Минск;4|Брест;7|0012;300|1e3");
        QTest::newRow("no archive folder") << "Upd/"
                                           << "Upd/" << codes << copied;
        QTest::newRow("Архив") << "Upd/Архив/"
                               << "Upd/" << codes << copied;
        QTest::newRow("архив") << "Upd/архив/"
                               << "Upd/" << codes << copied;
        QTest::newRow("АРХИВ") << "Upd/АРХИВ/"
                               << "Upd/" << codes << copied;
        QTest::newRow("аРХив") << "Upd/аРХив/"
                               << "Upd/" << codes << copied;
        QTest::newRow("beginning a longer folder name") << "Upd/Архивы 2022/"
                                                        << "Updы 2022/" << codes << copied;
        QTest::newRow("every occurrence") << "Upd/Архив/старый/архив/"
                                          << "Upd/старый/" << codes << copied;
        QTest::newRow("inside a name, no separator before") << "Upd/ЗаАрхив/"
                                                            << "Upd/ЗаАрхив/" << codes << copied;
        QTest::newRow("empty soato table") << "Upd/Архив/"
                                           << "Upd/" << QStringList() << QString();
    }
    void updateBaseAdressFillsTheSoatoTable() {
        QFETCH(QString, updater);
        QFETCH(QString, adress);
        QFETCH(QStringList, source);
        QFETCH(QString, expected);
        makeWindow(updater);
        makeSoato(source);
        const QString target = f->updaterFolder + adress + QStringLiteral("adress.accdb");
        makeAdress(target, {}, {QStringLiteral("region")});
        // One in the updater folder itself, which must stay as it is where the name is removed.
        const QString untouched = m_updater + QStringLiteral("adress.accdb");
        if (untouched != target)
            makeAdress(untouched, {}, {QStringLiteral("region")});

        f->handle([this] { w().Update_base_adress(); });

        QCOMPARE(shown(), QStringList());
        QVERIFY(f->log().isEmpty());
        QCOMPARE(rowsIn(target, soatoRows), expected);
        // The names stay text: "0012" and "1e3" are not numbers to the file either.
        if (!source.isEmpty())
            QCOMPARE(runTool(QStringLiteral("sqlite3"), target,
                             QStringLiteral("SELECT DISTINCT typeof(soato_name) FROM soato_adress;\n")),
                     QStringLiteral("text"));
        if (untouched != target)
            QCOMPARE(tablesIn(untouched), QStringList{QStringLiteral("region")});
        QVERIFY(!w().ADOConnection1.Connected());
        QVERIFY(!w().ADOConnection2.Connected());
        QCOMPARE(w().ADOConnection1.ConnectionString(), db::connectionStringWithoutPassword(target));
        QCOMPARE(w().ADOConnection2.ConnectionString(), db::connectionStringWithoutPassword(soatoSource()));
    }

    // The table exists: the creation fails, the failure reaches the window's error handling and the
    // rows stay. Once the table is gone the same window fills it again.
    void updateBaseAdressSecondRun() {
        makeSoato({QStringLiteral("(1, 'Минск')"), QStringLiteral("(2, 'Брест')")});
        const QString target = m_updater + QStringLiteral("adress.accdb");
        makeAdress(target, {}, {QStringLiteral("region")});
        f->handle([this] { w().Update_base_adress(); });
        QCOMPARE(shown(), QStringList());

        execSql(w().ADOConnection2,
                QStringLiteral("INSERT INTO soato (soato_id, soato_name) VALUES (3, 'Гродно')"));
        f->handle([this] { w().Update_base_adress(); });
        QCOMPARE(shown(), QStringList{QStringLiteral("error")});
        QVERIFY(f->log().isEmpty());
        // The failed statement ended ADOConnection1's use: with nothing open on it, it closed.
        QVERIFY(!w().ADOConnection1.Connected());
        QVERIFY(w().ADOConnection2.Connected());
        QCOMPARE(rowsIn(target, soatoRows), QStringLiteral("1|Минск;2|Брест"));

        runTool(QStringLiteral("sqlite3"), target, QStringLiteral("DROP TABLE soato_adress;\n"));
        f->handle([this] { w().Update_base_adress(); });
        QCOMPARE(shown(), QStringList{QStringLiteral("error")});
        QCOMPARE(rowsIn(target, soatoRows), QStringLiteral("1|Минск;2|Брест;3|Гродно"));
        QVERIFY(!w().ADOConnection1.Connected());
        QVERIFY(!w().ADOConnection2.Connected());
    }

    void updateBaseAdressFailures_data() {
        QTest::addColumn<bool>("soatoFile");
        QTest::addColumn<bool>("soatoTable");
        QTest::addColumn<bool>("adressFile");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<bool>("created");
        QTest::addColumn<bool>("firstOpen");
        QTest::addColumn<bool>("secondOpen");
        const QString provider = QStringLiteral("provider error");
        const QString message = QStringLiteral("message: ") + soatoFailure;
        const QString error = QStringLiteral("error");
        // The selection is read after the table is made: the rows are missing, the table is there.
        QTest::newRow("no SOATO database")
            << false << false << true << QStringList{provider, message, error} << true << true << false;
        QTest::newRow("no soato table")
            << true << false << true << QStringList{message, error} << true << true << true;
        // The creation opens the missing file again, and fails.
        QTest::newRow("no address database")
            << true << true << false << QStringList{provider, error} << false << false << true;
    }
    void updateBaseAdressFailures() {
        QFETCH(bool, soatoFile);
        QFETCH(bool, soatoTable);
        QFETCH(bool, adressFile);
        QFETCH(QStringList, expected);
        QFETCH(bool, created);
        QFETCH(bool, firstOpen);
        QFETCH(bool, secondOpen);
        if (soatoTable)
            makeSoato({QStringLiteral("(1, 'Минск')")});
        else if (soatoFile)
            makeBase(soatoSource(), {QStringLiteral("CREATE TABLE region (region_id INTEGER)")});
        const QString target = m_updater + QStringLiteral("adress.accdb");
        if (adressFile)
            makeAdress(target, {}, {QStringLiteral("region")});

        f->handle([this] { w().Update_base_adress(); });

        QCOMPARE(shown(), expected);
        QVERIFY(f->log().isEmpty());
        QCOMPARE(w().ADOConnection1.Connected(), firstOpen);
        QCOMPARE(w().ADOConnection2.Connected(), secondOpen);
        if (adressFile) {
            QCOMPARE(tablesIn(target).contains(QStringLiteral("soato_adress")), created);
            if (created)
                QCOMPARE(rowsIn(target, soatoRows), QString());
        } else {
            QVERIFY(!QFileInfo::exists(target));
        }
    }

    // The SOATO connection is not closed first: open on the source it goes on, open elsewhere its new
    // string is refused and the operation ends there. The first connection is closed first.
    void updateBaseAdressWithOpenConnections_data() {
        QTest::addColumn<int>("connection");
        QTest::addColumn<bool>("onSource");
        QTest::addColumn<bool>("fails");
        QTest::newRow("second open on the SOATO database") << 2 << true << false;
        QTest::newRow("second open on another database") << 2 << false << true;
        QTest::newRow("first open on another database") << 1 << false << false;
    }
    void updateBaseAdressWithOpenConnections() {
        QFETCH(int, connection);
        QFETCH(bool, onSource);
        QFETCH(bool, fails);
        makeSoato({QStringLiteral("(1, 'Минск')")});
        const QString target = m_updater + QStringLiteral("adress.accdb");
        makeAdress(target, {}, {QStringLiteral("region")});
        const QString other = f->root + QStringLiteral("other.accdb");
        makeAdress(other, {}, {QStringLiteral("region")});
        DbConnection& open = connection == 1 ? w().ADOConnection1 : w().ADOConnection2;
        open.setConnectionString(onSource ? db::connectionStringWithoutPassword(soatoSource())
                                          : db::connectionString(other, QString()));
        open.Open();

        f->handle([this] { w().Update_base_adress(); });

        if (fails) {
            QCOMPARE(shown(), QStringList{QStringLiteral("error")});
            QCOMPARE(tablesIn(target), QStringList{QStringLiteral("region")});
            QVERIFY(w().ADOConnection2.Connected());
            QCOMPARE(w().ADOConnection2.ConnectionString(), db::connectionString(other, QString()));
            QVERIFY(!w().ADOConnection1.Connected());
        } else {
            QCOMPARE(shown(), QStringList());
            QCOMPARE(rowsIn(target, soatoRows), QStringLiteral("1|Минск"));
            QVERIFY(!w().ADOConnection1.Connected());
            QVERIFY(!w().ADOConnection2.Connected());
        }
        QCOMPARE(tablesIn(other), QStringList{QStringLiteral("region")});
    }

    // --- TransferAdress

    void transferMergesTheModules_data() {
        QTest::addColumn<bool>("trailingSeparators");
        QTest::newRow("registry folders ending in a separator") << true;
        QTest::newRow("registry folders without one") << false;
    }
    void transferMergesTheModules() {
        QFETCH(bool, trailingSeparators);
        makeKit(trailingSeparators);
        const QByteArray spare = readBytes(m_spare);
        // A row counts as present by its first value: Минская and Брестская come once; the SOATO codes
        // are the keys themselves and are copied as they are.
        makeAdress(module(0),
                   {insertInto(QStringLiteral("region"), QStringLiteral("('Минская', 9), ('Брестская', 2)")),
                    insertSoato(QStringLiteral("(70, 'Брест'), (5, 'Гродно')"))});
        makeAdress(module(1), {insertInto(QStringLiteral("region"),
                                          QStringLiteral("('Брестская', 5), ('Гомельская', 3)")),
                               insertInto(QStringLiteral("street"), QStringLiteral("('Ленина', 7)"))});
        makeAdress(module(2),
                   {insertInto(QStringLiteral("region"), QStringLiteral("('Витебская', 4)")),
                    insertSoato(QStringLiteral("(70, 'Брест-2'), (900, 'Витебск')")),
                    insertInto(QStringLiteral("RegionMed"), QStringLiteral("('Поликлиника', 1)"))});
        m_registry->reads.clear();
        // What an earlier main address database left beside its name is not applied to the copy.
        leaveStaleCompanion(f->root, m_main, QStringLiteral("-wal"), QString());
        // The modules are only read: they keep their every byte and their modification times.
        QList<QByteArray> moduleBytes;
        QList<QDateTime> moduleTimes;
        for (int i = 0; i < 3; ++i) {
            moduleBytes.append(readBytes(module(i)));
            moduleTimes.append(QFileInfo(module(i)).lastModified());
        }

        w().TransferAdress();

        for (int i = 0; i < 3; ++i) {
            QCOMPARE(readBytes(module(i)), moduleBytes[i]);
            QCOMPARE(QFileInfo(module(i)).lastModified(), moduleTimes[i]);
        }
        QCOMPARE(m_registry->reads, programmPathReads());
        QCOMPARE(f->log(), (QStringList{vusDone, adDone, dopDone}));
        QCOMPARE(f->activity.selectedRow, 2);
        QCOMPARE(shown(), QStringList());
        QCOMPARE(rowsIn(m_main, regionRows),
                 QStringLiteral("1|Минская|1;2|Брестская|2;3|Гомельская|3;4|Витебская|4"));
        QCOMPARE(rowsIn(m_main, soatoRows), QStringLiteral("1|Минск;5|Гродно;70|Брест;900|Витебск"));
        QCOMPARE(rowsIn(m_main, QStringLiteral("SELECT street_name, street_code FROM street")),
                 QStringLiteral("Ленина|7"));
        QCOMPARE(rowsIn(m_main, QStringLiteral("SELECT RegionMed_name FROM RegionMed")),
                 QStringLiteral("Поликлиника"));
        QCOMPARE(readBytes(m_spare), spare);
        for (const QString& database : {m_main, module(0), module(1), module(2)})
            QCOMPARE(companionsOf(database), QStringList());
        // The first connection closed on its own, keeping its string; the second stays on the last module.
        QVERIFY(!w().ADOConnection1.Connected());
        QCOMPARE(w().ADOConnection1.ConnectionString(), db::connectionString(m_main, QString()));
        QVERIFY(w().ADOConnection2.Connected());
        QCOMPARE(w().ADOConnection2.ConnectionString(), db::connectionString(module(2), QString()));

        // Now the main database exists: new module rows stay where they are.
        execSql(w().ADOConnection2,
                insertInto(QStringLiteral("region"), QStringLiteral("('Могилёвская', 6)")));
        m_registry->reads.clear();
        w().TransferAdress();
        QCOMPARE(m_registry->reads, programmPathReads());
        QCOMPARE(f->log().size(), 3);
        QCOMPARE(shown(), QStringList());
        QCOMPARE(rowsIn(m_main, regionRows),
                 QStringLiteral("1|Минская|1;2|Брестская|2;3|Гомельская|3;4|Витебская|4"));
    }

    // Every table of the first module has a column the main database lacks: each fails on its own,
    // in the order of the tables, and the module still counts as transferred.
    void transferGoesThroughTheTablesInOrder() {
        makeKit();
        QStringList statements;
        for (const QString& table : addressTables) {
            statements.append(addressTable(table, QStringLiteral(", note VARCHAR(50)")));
            statements.append(table == u"soato_adress"
                                  ? QStringLiteral("INSERT INTO soato_adress (soato_id, soato_name, note) "
                                                   "VALUES (8, 'Новое', 'примечание')")
                                  : QStringLiteral("INSERT INTO %1 (%1_name, %1_code, note) VALUES ('Новое', "
                                                   "1, 'примечание')")
                                        .arg(table));
        }
        makeBase(module(0), statements);
        makeAdress(module(1), {});
        makeAdress(module(2), {});

        w().TransferAdress();

        QStringList expected;
        for (const QString& table : addressTables)
            expected.append(QStringLiteral("Ошибка обновления таблицы = ") + table);
        expected << vusDone << adDone << dopDone;
        QCOMPARE(f->log(), expected);
        QCOMPARE(shown(), QStringList());
        QCOMPARE(rowsIn(m_main, regionRows), QStringLiteral("1|Минская|1"));
        QCOMPARE(rowsIn(m_main, soatoRows), QStringLiteral("1|Минск"));
    }

    // A failure that escapes a table copy (here the main database gone after the first table)
    // ends that module's transfer without its line; the remaining tables are not copied.
    void transferStopsAModuleAtAnEscapingFailure() {
        makeKit();
        makeModules();
        makeBase(module(0), {addressTable(QStringLiteral("region"), QStringLiteral(", note VARCHAR(50)")),
                             QStringLiteral("INSERT INTO region (region_name, region_code, note) VALUES "
                                            "('Брестская', 2, 'примечание')"),
                             addressTable(QStringLiteral("raion")),
                             insertInto(QStringLiteral("raion"), QStringLiteral("('Пинский', 3)"))});
        const QString moved = f->root + QStringLiteral("moved.accdb");
        f->activity.onLineAdded = [&](const QString&) {
            if (QFileInfo::exists(m_main))
                QVERIFY(QFile::rename(m_main, moved));
        };

        w().TransferAdress();

        QCOMPARE(f->log(), QStringList{QStringLiteral("Ошибка обновления таблицы = region")});
        QCOMPARE(shown(), QStringList());
        QCOMPARE(rowsIn(moved, QStringLiteral("SELECT raion_name FROM raion")), QString());
        QCOMPARE(rowsIn(moved, regionRows), QStringLiteral("1|Минская|1"));
    }

    void transferWithTheMainDatabasePresent() {
        makeKit();
        makeModules();
        makeAdress(m_main, {insertInto(QStringLiteral("region"), QStringLiteral("('Гродненская', 5)"))});
        const QByteArray main = readBytes(m_main);
        m_registry->reads.clear();

        w().TransferAdress();

        QCOMPARE(m_registry->reads, programmPathReads());
        QVERIFY(f->log().isEmpty());
        QCOMPARE(shown(), QStringList());
        QCOMPARE(readBytes(m_main), main);
        verifyConnectionsUntouched();
    }

    void transferEndsEarly_data() {
        QTest::addColumn<QString>("course");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<QStringList>("boxes");
        QTest::newRow("no ProgrammPath under vus_bistral")
            << "no installation folder" << QStringList{copyFailure} << QStringList();
        QTest::newRow("spare copy present, no OtherBase folder")
            << "no OtherBase" << QStringList{copyFailure} << QStringList();
        QTest::newRow("OtherBase folder present, no spare copy")
            << "no spare" << QStringList{copyFailure} << QStringList();
        // The copy does not replace what holds the name; the connect finds no database file.
        QTest::newRow("a folder named adress.accdb in OtherBase")
            << "folder in the way" << QStringList{connectFailure} << QStringList();
        QTest::newRow("a spare copy that is no database") << "damaged spare" << QStringList{connectFailure}
                                                          << QStringList{QStringLiteral("provider error")};
    }
    void transferEndsEarly() {
        QFETCH(QString, course);
        QFETCH(QStringList, log);
        QFETCH(QStringList, boxes);
        makeKit();
        makeModules();
        if (course == u"no installation folder") {
            QStringList folders{QString()};
            folders += m_modules;
            writeRegistry(folders);
        } else if (course == u"no OtherBase") {
            QVERIFY(QDir(m_installation + QStringLiteral("OtherBase")).removeRecursively());
        } else if (course == u"no spare") {
            QVERIFY(QFile::remove(m_spare));
        } else if (course == u"folder in the way") {
            QVERIFY(QDir().mkpath(m_main));
            writeBytes(m_main + QStringLiteral("/keep.txt"), "kept");
        } else if (course == u"damaged spare") {
            writeBytes(m_spare, QByteArray(4096, 'x'));
        }

        w().TransferAdress();

        QCOMPARE(f->log(), log);
        QCOMPARE(shown(), boxes);
        QVERIFY(!w().ADOConnection2.Connected());
        QVERIFY(w().ADOConnection2.ConnectionString().isEmpty());
        QCOMPARE(rowsIn(module(0), regionRows), QStringLiteral("1|Брестская|2"));
        if (course == u"no installation folder") {
            QVERIFY(!QFileInfo::exists(f->root + QStringLiteral("false")));
            QVERIFY(!QFileInfo::exists(m_main));
        } else if (course == u"no OtherBase") {
            QVERIFY(!QFileInfo::exists(m_installation + QStringLiteral("OtherBase")));
        } else if (course == u"no spare") {
            QVERIFY(!QFileInfo::exists(m_main));
        } else if (course == u"folder in the way") {
            QVERIFY(QFileInfo(m_main).isDir());
            QCOMPARE(readBytes(m_main + QStringLiteral("/keep.txt")), QByteArray("kept"));
        } else if (course == u"damaged spare") {
            QCOMPARE(readBytes(m_main), QByteArray(4096, 'x'));
        }
    }

    // Modules that cannot be opened are passed over without a line of their own; tables a module
    // lacks are passed over in silence.
    void transferPassesOverModules_data() {
        QTest::addColumn<int>("module");
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QString>("regions");
        QTest::newRow("VUS database missing") << 0 << "missing" << QStringList{adDone, dopDone}
                                              << QStringList() << "1|Минская|1;2|Гомельская|3;3|Витебская|4";
        QTest::newRow("AD database missing") << 1 << "missing" << QStringList{vusDone, dopDone}
                                             << QStringList() << "1|Минская|1;2|Брестская|2;3|Витебская|4";
        QTest::newRow("DOP database missing") << 2 << "missing" << QStringList{vusDone, adDone}
                                              << QStringList() << "1|Минская|1;2|Брестская|2;3|Гомельская|3";
        QTest::newRow("every module database missing")
            << -1 << "missing" << QStringList() << QStringList() << "1|Минская|1";
        QTest::newRow("no ProgrammPath under VUSBase")
            << 0 << "no registry value" << QStringList{adDone, dopDone} << QStringList()
            << "1|Минская|1;2|Гомельская|3;3|Витебская|4";
        QTest::newRow("VUS database no database")
            << 0 << "no database" << QStringList{adDone, dopDone}
            << QStringList{QStringLiteral("provider error")} << "1|Минская|1;2|Гомельская|3;3|Витебская|4";
        QTest::newRow("AD database with two of the tables")
            << 1 << "two tables" << QStringList{vusDone, adDone, dopDone} << QStringList()
            << "1|Минская|1;2|Брестская|2;3|Гомельская|3;4|Витебская|4";
        QTest::newRow("AD database without tables")
            << 1 << "no tables" << QStringList{vusDone, adDone, dopDone} << QStringList()
            << "1|Минская|1;2|Брестская|2;3|Витебская|4";
    }
    void transferPassesOverModules() {
        QFETCH(int, module);
        QFETCH(QString, damage);
        QFETCH(QStringList, log);
        QFETCH(QStringList, boxes);
        QFETCH(QString, regions);
        makeKit();
        makeModules();
        const QList<int> damaged = module < 0 ? QList<int>{0, 1, 2} : QList<int>{module};
        for (int i : damaged) {
            if (damage == u"missing") {
                QVERIFY(QFile::remove(this->module(i)));
            } else if (damage == u"no registry value") {
                QStringList folders{m_installation};
                folders += m_modules;
                folders[i + 1] = QString();
                writeRegistry(folders);
            } else if (damage == u"no database") {
                writeBytes(this->module(i), QByteArray(4096, 'x'));
            } else if (damage == u"two tables") {
                makeAdress(this->module(i),
                           {insertInto(QStringLiteral("region"), QStringLiteral("('Гомельская', 3)")),
                            insertInto(QStringLiteral("street"), QStringLiteral("('Ленина', 7)"))},
                           {QStringLiteral("street"), QStringLiteral("region")});
            } else if (damage == u"no tables") {
                makeBase(this->module(i), {});
            }
        }

        w().TransferAdress();

        QCOMPARE(f->log(), log);
        QCOMPARE(shown(), boxes);
        QCOMPARE(rowsIn(m_main, regionRows), regions);
        if (damage == u"two tables")
            QCOMPARE(rowsIn(m_main, QStringLiteral("SELECT street_name FROM street")),
                     QStringLiteral("Ленина"));
    }
};

QTEST_MAIN(TestAddressMigration)
#include "test_address_migration.moc"
