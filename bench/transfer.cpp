// Row transfer benchmark on encrypted files, through the database steps' own operations:
// - CopyTable merging a street table of 100,000 source rows into a target of 100,000 rows of which
//   half share the key, against one set-based statement (INSERT ... SELECT ... WHERE NOT EXISTS on
//   attached databases, with an index on the key) through the sqlite3 API;
// - copyPlan importing the plan rows of every missing category, its cost against the number of
//   source rows and of categories, beside what one scan of the source per category costs.
//
//   bench_transfer [street rows] [plan rows] [categories]     (default 100000 50000 50)

#include "db/connection_strings.h"
#include "db/database_files.h"
#include "db/tables.h"
#include "support/database_files.h"
#include "support/steps_fixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <cstdio>

using data_access::DbConnection;

namespace {

const QString& password = db::mainDatabasePassword;

double seconds(const QElapsedTimer& timer) {
    return double(timer.nsecsElapsed()) / 1e9;
}

// An encrypted database through the sqlite3 API itself: it fills the fixtures (their tables are made
// in Access SQL through the layer) and runs the set-based statement.
class Sqlite {
public:
    explicit Sqlite(const QString& path) {
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr) !=
            SQLITE_OK)
            qFatal("cannot open %s", qPrintable(path));
        exec(QStringLiteral("PRAGMA key = '%1'").arg(password));
        exec(QStringLiteral("SELECT count(*) FROM sqlite_master"));
    }
    ~Sqlite() { sqlite3_close(m_db); }
    Sqlite(const Sqlite&) = delete;
    Sqlite& operator=(const Sqlite&) = delete;

    void exec(const QString& sql) {
        char* error = nullptr;
        if (sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &error) != SQLITE_OK)
            qFatal("%s: %s", qPrintable(sql), error);
    }
    qint64 count(const QString& sql) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &statement, nullptr);
        const qint64 n = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int64(statement, 0) : -1;
        sqlite3_finalize(statement);
        return n;
    }
    // Runs `insert` once per row in one transaction; `bind` sets the parameters of row i.
    template <typename Bind> void fill(const QString& insert, int rows, Bind bind) {
        exec(QStringLiteral("BEGIN"));
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(m_db, insert.toUtf8().constData(), -1, &statement, nullptr) != SQLITE_OK)
            qFatal("%s: %s", qPrintable(insert), sqlite3_errmsg(m_db));
        for (int i = 0; i < rows; ++i) {
            bind(statement, i);
            if (sqlite3_step(statement) != SQLITE_DONE)
                qFatal("%s: %s", qPrintable(insert), sqlite3_errmsg(m_db));
            sqlite3_reset(statement);
        }
        sqlite3_finalize(statement);
        exec(QStringLiteral("COMMIT"));
    }

private:
    sqlite3* m_db = nullptr;
};

void bindText(sqlite3_stmt* statement, int index, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    sqlite3_bind_text(statement, index, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
}

void createDatabase(const QString& path, const QString& accessSql) {
    makeDatabase(path, password);
    DbConnection connection;
    connection.setConnectionString(db::connectionString(path, password));
    execSql(connection, accessSql);
}

const QString streetTable = QStringLiteral(
    "CREATE TABLE street (street_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, street_name VARCHAR(255), "
    "nasel_punkt_id INTEGER, street_type_id INTEGER, street_index VARCHAR(10))");

// `rows` streets named from `first` on.
void makeStreets(const QString& path, int first, int rows) {
    createDatabase(path, streetTable);
    Sqlite db(path);
    db.fill(QStringLiteral("INSERT INTO street (street_name, nasel_punkt_id, street_type_id, street_index) "
                           "VALUES (?, ?, ?, ?)"),
            rows, [first](sqlite3_stmt* statement, int i) {
                bindText(statement, 1, QStringLiteral("улица Номер %1").arg(first + i));
                sqlite3_bind_int64(statement, 2, (first + i) % 977);
                sqlite3_bind_int64(statement, 3, (first + i) % 7);
                bindText(statement, 4, QString::number(220000 + (first + i) % 1000));
            });
}

const QString planTable = QStringLiteral(
    "CREATE TABLE obob_uch_plan (obob_uch_plan_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, "
    "category_tc_id INTEGER, teach_obj_id INTEGER, obob_hours INTEGER, obob_note VARCHAR(50))");

void makePlan(const QString& path, int rows, int categories) {
    createDatabase(path, planTable);
    Sqlite db(path);
    db.fill(QStringLiteral("INSERT INTO obob_uch_plan (category_tc_id, teach_obj_id, obob_hours, obob_note) "
                           "VALUES (?, ?, ?, ?)"),
            rows, [categories](sqlite3_stmt* statement, int i) {
                sqlite3_bind_int64(statement, 1, i % categories + 1);
                sqlite3_bind_int64(statement, 2, i / categories + 1);
                sqlite3_bind_int64(statement, 3, i % 40);
                bindText(statement, 4, QStringLiteral("часы %1").arg(i));
            });
}

QString copyOf(QTemporaryDir& dir, const QString& path, const QString& name) {
    const QString copy = dir.filePath(name);
    QFile::remove(copy);
    if (!QFile::copy(path, copy))
        qFatal("cannot copy %s", qPrintable(path));
    return copy;
}

struct CopyTableFigures {
    double copyTable = 0;
    double keyDerivation = 0; // one open of an encrypted file
    double index = 0;
    double statement = 0;
};

CopyTableFigures benchCopyTable(QTemporaryDir& dir, int rows) {
    const QString source = dir.filePath(QStringLiteral("street_source.accdb"));
    const QString target = dir.filePath(QStringLiteral("street_target.accdb"));
    makeStreets(source, 0, rows);
    makeStreets(target, rows / 2, rows);
    const qint64 expected = rows + rows / 2;
    CopyTableFigures figures;

    {
        StepsFixture f;
        db::DatabaseSteps& w = *f.steps;
        const QString targetCopy = copyOf(dir, target, QStringLiteral("t1.accdb"));
        if (!w.connectToBaseUser(targetCopy, password) ||
            !w.connectToBase2(copyOf(dir, source, QStringLiteral("s1.accdb")), password))
            qFatal("cannot connect");
        QElapsedTimer timer;
        timer.start();
        w.CopyTable(QStringLiteral("street"));
        figures.copyTable = seconds(timer);
        if (!f.log().isEmpty())
            qFatal("CopyTable failed: %s", qPrintable(f.log().join(u'\n')));
        w.FormClose();
        // ADOConnection1 closes itself after its table names are read (KeepConnection off) and
        // opens again with the table: one key derivation is part of CopyTable's time.
        DbConnection connection;
        connection.setConnectionString(db::connectionString(targetCopy, password));
        timer.restart();
        connection.Open();
        figures.keyDerivation = seconds(timer);
        connection.Close();
        Sqlite check(targetCopy);
        if (check.count(QStringLiteral("SELECT count(*) FROM street")) != expected)
            qFatal("CopyTable left the wrong number of rows");
    }
    {
        const QString targetCopy = copyOf(dir, target, QStringLiteral("t2.accdb"));
        const QString sourceCopy = copyOf(dir, source, QStringLiteral("s2.accdb"));
        Sqlite db(targetCopy);
        // The same journal as the data-access layer's, and both keys derived before the clock runs.
        db.exec(QStringLiteral("PRAGMA journal_mode = WAL"));
        db.exec(QStringLiteral("PRAGMA synchronous = NORMAL"));
        db.exec(QStringLiteral("ATTACH DATABASE '%1' AS src KEY '%2'").arg(sourceCopy, password));
        db.exec(QStringLiteral("SELECT count(*) FROM src.sqlite_master"));
        QElapsedTimer timer;
        timer.start();
        db.exec(QStringLiteral("CREATE INDEX street_name_key ON street (street_name)"));
        figures.index = seconds(timer);
        timer.restart();
        db.exec(QStringLiteral(
            "INSERT INTO street (street_name, nasel_punkt_id, street_type_id, street_index) "
            "SELECT s.street_name, s.nasel_punkt_id, s.street_type_id, s.street_index FROM src.street s "
            "WHERE s.street_name <> '' AND NOT EXISTS "
            "(SELECT 1 FROM main.street t WHERE t.street_name = s.street_name)"));
        figures.statement = seconds(timer);
        if (db.count(QStringLiteral("SELECT count(*) FROM street")) != expected)
            qFatal("the statement left the wrong number of rows");
    }
    return figures;
}

struct PlanFigures {
    double copyPlan = 0;
    qint64 dots = 0;
    double perCategoryScans = 0; // what reading the source once per missing category costs
};

PlanFigures benchCopyPlan(QTemporaryDir& dir, int rows, int categories, bool withScans) {
    const QString source = dir.filePath(QStringLiteral("plan_source.accdb"));
    const QString target = dir.filePath(QStringLiteral("plan_target.accdb"));
    makePlan(source, rows, categories);
    createDatabase(target, planTable);
    PlanFigures figures;

    StepsFixture f;
    db::DatabaseSteps& w = *f.steps;
    if (!w.connectToBaseUser(target, password) || !w.connectToBase2(source, password))
        qFatal("cannot connect");
    f.activity.AddToLog(QStringLiteral("Обновление плана"));
    QElapsedTimer timer;
    timer.start();
    w.copyPlan();
    figures.copyPlan = seconds(timer);
    const QStringList log = f.log();
    if (log.size() != 2 || log[1] != QStringLiteral("Обновление таблицы obob_uch_plan = успешно"))
        qFatal("copyPlan failed: %s", qPrintable(log.join(u'\n')));
    figures.dots = log[0].size() - QStringLiteral("Обновление плана").size();
    const qint64 scanned = qint64(rows) * categories;
    if (figures.dots != (scanned - 1) / 200)
        qFatal("copyPlan wrote %lld dots, not %lld", figures.dots, (scanned - 1) / 200);
    if (rowsOf(w.ADOConnection1, QStringLiteral("SELECT count(*) FROM obob_uch_plan")) !=
        QString::number(rows))
        qFatal("copyPlan copied the wrong number of rows");

    if (withScans) {
        // The reads alone of a scan per category, on the same snapshot: no row written.
        w.ADOTable2.setTableName(QStringLiteral("obob_uch_plan"));
        w.ADOTable2.Open();
        timer.restart();
        qint64 matches = 0;
        for (int category = 1; category <= categories; ++category)
            for (w.ADOTable2.First(); !w.ADOTable2.Eof(); w.ADOTable2.Next())
                matches += w.ADOTable2.FieldByName(QStringLiteral("category_tc_id")).AsInteger() == category;
        figures.perCategoryScans = seconds(timer);
        w.ADOTable2.Close();
        if (matches != rows)
            qFatal("the scans found %lld rows", matches);
    }
    w.FormClose();
    return figures;
}

// TransferAdress on a kit whose spare copy and three module databases hold the twelve address tables
// with a row or none: the cost that is not rows (opens, table names, snapshots, closes).
double benchTransferAdress() {
    StepsFixture f;
    const QString installation = f.root + QStringLiteral("Kit/");
    const QStringList modules = {f.root + QStringLiteral("VUS/"), f.root + QStringLiteral("AD/"),
                                 f.root + QStringLiteral("DOP/")};
    QDir().mkpath(installation + QStringLiteral("OtherBase"));
    QString body;
    const char* sections[] = {"vus_bistral", "VUSBase", "SchoolBase", "VUS_dop"};
    const QStringList folders = QStringList{installation} + modules;
    for (int i = 0; i < 4; ++i)
        body += QStringLiteral("[HKEY_CURRENT_USER\\Software\\%1]\n\"ProgrammPath\"=\"%2\"\n\n")
                    .arg(QString::fromLatin1(sections[i]), KitFolders::escapedForRegistry(folders[i]));
    writeBytes(f.registryPath, regeditFile(body));
    QStringList tables;
    for (const QString& table : db::addressTables)
        tables.append(
            table == u"soato_adress"
                ? QStringLiteral("CREATE TABLE soato_adress (soato_id INTEGER PRIMARY KEY, soato_name TEXT)")
                : QStringLiteral("CREATE TABLE %1 (%1_id INTEGER PRIMARY KEY AUTOINCREMENT, %1_name "
                                 "VARCHAR(255), %1_code INTEGER)")
                      .arg(table));
    const auto make = [&](const QString& path, const QString& region) {
        QDir().mkpath(QFileInfo(path).path());
        makeDatabase(path, QString(), tables);
        execSql(
            path, QString(),
            {QStringLiteral("INSERT INTO region (region_name, region_code) VALUES ('%1', 1)").arg(region)});
    };
    make(f.updaterFolder + QStringLiteral("res/adress.accdb"), QStringLiteral("Минская"));
    for (int i = 0; i < 3; ++i)
        make(modules[i] + QStringLiteral("adress.accdb"), QStringLiteral("Область %1").arg(i));
    QElapsedTimer timer;
    timer.start();
    f.steps->TransferAdress();
    const double elapsed = seconds(timer);
    if (f.log().size() != 3)
        qFatal("TransferAdress logged %s", qPrintable(f.log().join(u'|')));
    f.steps->FormClose();
    return elapsed;
}

int argument(int argc, char* argv[], int index, int fallback) {
    return argc > index ? QString::fromLocal8Bit(argv[index]).toInt() : fallback;
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication application(argc, argv);
    const int streetRows = argument(argc, argv, 1, 100000);
    const int planRows = argument(argc, argv, 2, 50000);
    const int categories = argument(argc, argv, 3, 50);
    QTemporaryDir dir;

    std::printf("Row transfer benchmark: SQLite %s (SQLCipher), encrypted files\n\n", sqlite3_libversion());

    const CopyTableFigures merge = benchCopyTable(dir, streetRows);
    const double setBased = merge.index + merge.statement;
    std::printf("CopyTable: street, %d source rows into %d target rows, %d of them sharing the key\n",
                streetRows, streetRows, streetRows / 2);
    std::printf("  CopyTable (database step)             %8.3f s\n", merge.copyTable);
    std::printf("  of which reopening ADOConnection1      %8.3f s (the key derivation of one open)\n",
                merge.keyDerivation);
    std::printf("  set-based: CREATE INDEX on the key     %8.3f s\n", merge.index);
    std::printf("  set-based: INSERT ... WHERE NOT EXISTS %8.3f s\n", merge.statement);
    std::printf("  ratio CopyTable / statement            %8.2f (index + statement: %.2f; target <= 3)\n\n",
                merge.copyTable / merge.statement, merge.copyTable / setBased);

    std::printf("TransferAdress: twelve tables of near-empty databases, three modules\n");
    std::printf("  TransferAdress (database step)        %8.3f s (target well under 1 s)\n\n",
                benchTransferAdress());

    std::printf("copyPlan: every category missing from the target; dots as one scan per category counts\n");
    std::printf("  %8s %10s %10s %10s %12s %16s\n", "rows", "categories", "seconds", "dots", "us/row",
                "scans (reads)");
    struct Shape {
        int rows;
        int categories;
    };
    const QList<Shape> shapes = {{planRows, categories},     {planRows / 2, categories},
                                 {planRows * 2, categories}, {planRows, categories / 2},
                                 {planRows, categories * 2}, {planRows, 1}};
    for (const Shape& shape : shapes) {
        if (shape.rows < 1 || shape.categories < 1)
            continue;
        const bool withScans = shape.rows == planRows;
        const PlanFigures plan = benchCopyPlan(dir, shape.rows, shape.categories, withScans);
        std::printf("  %8d %10d %10.3f %10lld %12.2f", shape.rows, shape.categories, plan.copyPlan, plan.dots,
                    plan.copyPlan * 1e6 / shape.rows);
        if (withScans)
            std::printf(" %14.3f s", plan.perCategoryScans);
        std::printf("\n");
    }
    return 0;
}
