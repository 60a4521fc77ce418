// Row transfer between the two connections on encrypted databases: CopyTable's merge,
// CopyADToMainBase's appending copy and flag, copyPlan with its progress dots and
// CopySchoolMainBase's row-by-row overwrite, each with its log lines and failures.

#include "db/connection_strings.h"
#include "db/database_files.h"
#include "support/database_files.h"
#include "support/steps_fixture.h"

#include <QTest>

using data_access::DataAccessError;
using data_access::DbConnection;
using data_access::DbQuery;
using data_access::DbTable;

namespace {

const QString failedStreet = QStringLiteral("Ошибка обновления таблицы = street");

// "street" as an address database holds it; `extra` adds column definitions.
QString streetTable(const QString& extra = QString()) {
    return QStringLiteral("CREATE TABLE street (street_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, "
                          "street_name VARCHAR(255), raion_id INTEGER, street_type VARCHAR(50)") +
           extra + u')';
}

QString insertStreets(const QString& rows) {
    return QStringLiteral("INSERT INTO street (street_id, street_name, raion_id, street_type) VALUES ") +
           rows;
}

const QString streetRows = QStringLiteral("SELECT street_id, street_name, raion_id, street_type FROM street");

const QString planTable =
    QStringLiteral("CREATE TABLE obob_uch_plan (obob_uch_plan_id COUNTER CONSTRAINT "
                   "PrimaryKey PRIMARY KEY, category_tc_id INTEGER, obob_hours INTEGER)");

QString schoolTable(const QString& extra = QString()) {
    return QStringLiteral("CREATE TABLE school (school_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, "
                          "school_name VARCHAR(100), school_city VARCHAR(100)") +
           extra + u')';
}

} // namespace

class TestRowTransfer : public QObject {
    Q_OBJECT

    std::unique_ptr<StepsFixture> f;
    QString m_first;  // on ADOConnection1
    QString m_second; // on ADOConnection2

    db::DatabaseSteps& w() { return *f->steps; }
    void exec1(const QString& sql) { execSql(w().ADOConnection1, sql); }
    void exec2(const QString& sql) { execSql(w().ADOConnection2, sql); }
    QString rows1(const QString& sql) { return rowsOf(w().ADOConnection1, sql); }
    QString rows2(const QString& sql) { return rowsOf(w().ADOConnection2, sql); }

    void verifyTablesClosed() {
        QVERIFY(!w().ADOTable1.Active());
        QVERIFY(!w().ADOTable2.Active());
    }

    // The rows of `sql` in the file itself, read by the stock tool.
    QString rowsInFile(const QString& path, const QString& sql) {
        return runTool(QStringLiteral("sqlcipher"), path, keyLine(db::mainDatabasePassword) + sql + u'\n');
    }

    // Source rows posted through the layer: the obob_uch_plan rows of `categories`, in order.
    void postPlanRows(DbConnection& connection, const QList<int>& categories) {
        DbTable table(connection);
        table.setTableName(QStringLiteral("obob_uch_plan"));
        table.Open();
        for (qsizetype i = 0; i < categories.size(); ++i) {
            table.Insert();
            table.FieldByName(QStringLiteral("category_tc_id")).setAsInteger(categories[i]);
            table.FieldByName(QStringLiteral("obob_hours")).setAsInteger(i);
            table.Post();
        }
        table.Close();
    }

private Q_SLOTS:
    void init() {
        f = std::make_unique<StepsFixture>();
        m_first = f->dir.filePath(QStringLiteral("first.accdb"));
        m_second = f->dir.filePath(QStringLiteral("second.accdb"));
        makeDatabase(m_first, db::mainDatabasePassword);
        makeDatabase(m_second, db::mainDatabasePassword);
        QVERIFY(w().connectToBaseUser(m_first, db::mainDatabasePassword));
        QVERIFY(w().connectToBase2(m_second, db::mainDatabasePassword));
    }
    void cleanup() { f.reset(); }

    // --- CopyTable: ADOConnection2 into ADOConnection1

    void copyTableMerges_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("expected");
        QTest::newRow("new rows numbered by the target")
            << "(1, 'Ленина', 1, 'ул.')"
            << "(10, 'Мира', 2, 'пр.'), (11, 'Садовая', 3, 'ул.')"
            << "1|Ленина|1|ул.;2|Мира|2|пр.;3|Садовая|3|ул.";
        QTest::newRow("present by the first value, later fields differing") << "(1, 'Ленина', 1, 'ул.')"
                                                                            << "(5, 'Ленина', 9, 'пр.')"
                                                                            << "1|Ленина|1|ул.";
        QTest::newRow("first value compared in its letter case") << "(1, 'Ленина', 1, 'ул.')"
                                                                 << "(5, 'ЛЕНИНА', 1, 'ул.')"
                                                                 << "1|Ленина|1|ул.;2|ЛЕНИНА|1|ул.";
        QTest::newRow("a row posted by the run is found by a later one")
            << "(1, 'Ленина', 1, 'ул.')"
            << "(5, 'Мира', 1, 'а'), (6, 'Мира', 2, 'б')"
            << "1|Ленина|1|ул.;2|Мира|1|а";
        QTest::newRow("all fields null: not copied") << "(1, 'Ленина', 1, 'ул.')"
                                                     << "(5, NULL, NULL, NULL)"
                                                     << "1|Ленина|1|ул.";
        QTest::newRow("empty first value: not copied") << "(1, 'Ленина', 1, 'ул.')"
                                                       << "(5, '', 7, 'пер.')"
                                                       << "1|Ленина|1|ул.";
        QTest::newRow("null first value: the next field with a value is the key")
            << "(1, 'Ленина', 1, 'ул.')"
            << "(5, NULL, 1, 'пер.'), (6, NULL, 7, 'пер.')"
            << "1|Ленина|1|ул.;2|NULL|7|пер.";
        QTest::newRow("empty later value keeps what the insertion gave it") << "(1, 'Ленина', 1, 'ул.')"
                                                                            << "(5, 'Мира', 2, '')"
                                                                            << "1|Ленина|1|ул.;2|Мира|2|NULL";
        QTest::newRow("empty target") << QString() << "(7, 'Мира', 2, 'пр.')"
                                      << "1|Мира|2|пр.";
    }
    void copyTableMerges() {
        QFETCH(QString, target);
        QFETCH(QString, source);
        QFETCH(QString, expected);
        exec1(streetTable());
        exec2(streetTable());
        if (!target.isEmpty())
            exec1(insertStreets(target));
        exec2(insertStreets(source));
        const QString sourceBefore = rows2(streetRows);

        w().CopyTable(QStringLiteral("street"));
        QCOMPARE(rows1(streetRows), expected);
        verifyTablesClosed();
        // A second run adds nothing.
        w().CopyTable(QStringLiteral("street"));
        QCOMPARE(rows1(streetRows), expected);
        QCOMPARE(rows2(streetRows), sourceBefore);
        QVERIFY(f->log().isEmpty()); // success writes no line
        QCOMPARE(rowsInFile(m_first, QStringLiteral("SELECT count(*) FROM street;")),
                 QString::number(expected.count(u';') + 1));
    }

    void copyTableNeedsTheTableOnBothConnections_data() {
        QTest::addColumn<bool>("onFirst");
        QTest::addColumn<bool>("onSecond");
        QTest::newRow("only on the first") << true << false;
        QTest::newRow("only on the second") << false << true;
    }
    void copyTableNeedsTheTableOnBothConnections() {
        QFETCH(bool, onFirst);
        QFETCH(bool, onSecond);
        exec1(QStringLiteral("CREATE TABLE other (other_id INTEGER)"));
        exec2(QStringLiteral("CREATE TABLE other (other_id INTEGER)"));
        if (onFirst)
            exec1(streetTable());
        if (onSecond) {
            exec2(streetTable());
            exec2(insertStreets(QStringLiteral("(1, 'Мира', 2, 'пр.')")));
        }
        w().CopyTable(QStringLiteral("street"));
        if (onFirst)
            QCOMPARE(rows1(streetRows), QString());
        QVERIFY(f->log().isEmpty());
        verifyTablesClosed();
        QVERIFY(w().ADOTable1.TableName().isEmpty()); // no table was given a name
    }

    void copyTableIgnoresTheLetterCaseOfTheTableName_data() {
        QTest::addColumn<QString>("table_name");
        QTest::newRow("as stored") << "street";
        QTest::newRow("capitals") << "STREET";
        QTest::newRow("mixed") << "sTrEeT";
    }
    void copyTableIgnoresTheLetterCaseOfTheTableName() {
        QFETCH(QString, table_name);
        exec1(streetTable());
        exec2(streetTable());
        exec2(insertStreets(QStringLiteral("(1, 'Мира', 2, 'пр.')")));
        w().CopyTable(table_name);
        QCOMPARE(rows1(streetRows), QStringLiteral("1|Мира|2|пр."));
        QVERIFY(f->log().isEmpty());
    }

    // Values travel as text and come back as they were: 64-bit integers, floating-point numbers,
    // dates, Yes/No values and bytes.
    void copyTableRestoresEveryType() {
        const QString table = QStringLiteral(
            "CREATE TABLE typed (typed_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, typed_name VARCHAR(50), "
            "big INTEGER, ratio DOUBLE, born DATETIME, flag BIT, picture BLOB)");
        exec1(table);
        exec2(table);
        struct Row {
            QString name;
            qint64 big;
            double ratio;
            QString born;
            bool flag;
            QByteArray picture;
        };
        const QList<Row> rows = {
            {QStringLiteral("первый"), 5000000000LL, 0.1, QStringLiteral("2022-03-10 14:30:00"), true,
             QByteArray("\x00\xff\x80\x7f", 4)},
            {QStringLiteral("второй"), -9223372036854775807LL, 1.0 / 3.0,
             QStringLiteral("1999-12-31 00:00:00"), false, QByteArray("\xd0\x00", 2)},
            {QStringLiteral("третий"), 0, 1e-300, QStringLiteral("2000-01-01 23:59:59"), true,
             QByteArray("x")},
        };
        {
            DbTable source(w().ADOConnection2);
            source.setTableName(QStringLiteral("typed"));
            source.Open();
            for (const Row& row : rows) {
                source.Insert();
                source.FieldByName(QStringLiteral("typed_name")).setAsString(row.name);
                source.FieldByName(QStringLiteral("big")).setAsInteger(row.big);
                source.FieldByName(QStringLiteral("ratio")).setAsVariant(row.ratio);
                source.FieldByName(QStringLiteral("born")).setAsString(row.born);
                source.FieldByName(QStringLiteral("flag")).setAsBoolean(row.flag);
                source.FieldByName(QStringLiteral("picture")).setAsVariant(row.picture);
                source.Post();
            }
            source.Close();
        }
        w().CopyTable(QStringLiteral("typed"));
        QVERIFY(f->log().isEmpty());

        DbQuery copied(w().ADOConnection1);
        copied.SQL.Add(QStringLiteral("SELECT * FROM typed ORDER BY typed_id"));
        copied.Open();
        QCOMPARE(copied.RecordCount(), int(rows.size()));
        for (const Row& row : rows) {
            QCOMPARE(copied.FieldByName(QStringLiteral("typed_name")).AsString(), row.name);
            QCOMPARE(copied.FieldByName(QStringLiteral("big")).AsLargeInt(), row.big);
            QCOMPARE(copied.FieldByName(QStringLiteral("ratio")).AsVariant().toDouble(), row.ratio);
            QCOMPARE(copied.FieldByName(QStringLiteral("born")).AsString(), row.born);
            QCOMPARE(copied.FieldByName(QStringLiteral("flag")).AsBoolean(), row.flag);
            QCOMPARE(copied.FieldByName(QStringLiteral("picture")).AsVariant().toByteArray(), row.picture);
            copied.Next();
        }
        copied.Close();
        // A second run finds every row by its name.
        w().CopyTable(QStringLiteral("typed"));
        QCOMPARE(rows1(QStringLiteral("SELECT count(*) FROM typed")), QStringLiteral("3"));
    }

    // The key passed as text finds an integer key: a second run posts no duplicate primary key.
    void copyTableWithAnIntegerKey() {
        const QString table = QStringLiteral("CREATE TABLE soato_adress (soato_id INTEGER CONSTRAINT "
                                             "PrimaryKey PRIMARY KEY, soato_name STRING)");
        exec1(table);
        exec2(table);
        exec1(QStringLiteral("INSERT INTO soato_adress VALUES (100000000, 'Брестская область')"));
        exec2(QStringLiteral("INSERT INTO soato_adress VALUES (100000000, 'Брест')"));
        exec2(QStringLiteral("INSERT INTO soato_adress VALUES (4294967297, 'Минск')"));
        for (int run = 0; run < 2; ++run) {
            w().CopyTable(QStringLiteral("soato_adress"));
            QCOMPARE(rows1(QStringLiteral("SELECT * FROM soato_adress ORDER BY soato_id")),
                     QStringLiteral("100000000|Брестская область;4294967297|Минск"));
        }
        QVERIFY(f->log().isEmpty());
    }

    // The copy stops at the first row it would insert with a value in the field the target lacks;
    // the rows posted before stay.
    void copyTableStopsAtAFieldTheTargetLacks() {
        exec1(streetTable());
        exec2(streetTable(QStringLiteral(", street_index VARCHAR(10)")));
        exec2(QStringLiteral("INSERT INTO street (street_name, street_index) VALUES ('Мира', NULL)"));
        exec2(QStringLiteral("INSERT INTO street (street_name, street_index) VALUES ('Садовая', '220000')"));
        exec2(QStringLiteral("INSERT INTO street (street_name, street_index) VALUES ('Лесная', NULL)"));
        w().CopyTable(QStringLiteral("street"));
        QCOMPARE(f->log(), QStringList{failedStreet});
        verifyTablesClosed();
        QCOMPARE(rowsInFile(m_first, QStringLiteral("SELECT group_concat(street_name) FROM street;")),
                 QStringLiteral("Мира"));
        QVERIFY(!w().ADOConnection1.Connected()); // closed by itself with its table
    }

    // Reading the table names is outside the copy's guard: its failure reaches the caller.
    void copyTableFailureReadingTableNamesReachesTheCaller() {
        w().ADOConnection1.Close();
        w().ADOConnection1.setConnectionString(
            db::connectionString(f->dir.filePath(QStringLiteral("none.accdb")), db::mainDatabasePassword));
        QVERIFY_THROWS_EXCEPTION(DataAccessError, w().CopyTable(QStringLiteral("street")));
        QVERIFY(f->log().isEmpty());
        verifyTablesClosed();
    }

    // --- CopyADToMainBase: ADOConnection1 appended to ADOConnection2

    void copyADToMainBaseAppendsAndFlags_data() {
        QTest::addColumn<QString>("s_ad_vus");
        QTest::addColumn<QString>("afterFirst");  // car_name|car_ad|car_ad2 by car_id
        QTest::addColumn<QString>("afterSecond"); // the rows added by the second run
        // The flag column is car + s_ad_vus; the condition always names car_ad.
        QTest::newRow("_ad") << "_ad"
                             << "ГАЗ|True|False;ЗИЛ|True|True;КамАЗ|True|False;NULL|True|False"
                             << "Урал|True|False;КамАЗ|True|False;NULL|True|False";
        QTest::newRow("_ad2") << "_ad2"
                              << "ГАЗ|False|True;ЗИЛ|True|True;КамАЗ|False|True;NULL|False|True"
                              << "Урал|False|True;КамАЗ|False|True;NULL|False|True";
    }
    void copyADToMainBaseAppendsAndFlags() {
        QFETCH(QString, s_ad_vus);
        QFETCH(QString, afterFirst);
        QFETCH(QString, afterSecond);
        const QString table = QStringLiteral("CREATE TABLE car (car_id COUNTER CONSTRAINT PrimaryKey PRIMARY "
                                             "KEY, car_name VARCHAR(50), car_ad BIT, car_ad2 BIT)");
        exec1(table);
        exec2(table);
        exec1(QStringLiteral("INSERT INTO car (car_id, car_name) VALUES (7, 'КамАЗ')"));
        exec1(QStringLiteral("INSERT INTO car (car_id, car_name) VALUES (8, NULL)"));
        exec2(QStringLiteral("INSERT INTO car (car_name) VALUES ('ГАЗ')"));
        exec2(QStringLiteral("INSERT INTO car (car_name, car_ad, car_ad2) VALUES ('ЗИЛ', true, true)"));
        const QString cars = QStringLiteral("SELECT car_name, car_ad, car_ad2 FROM car ORDER BY car_id");

        w().CopyADToMainBase(QStringLiteral("car"), s_ad_vus);
        QCOMPARE(rows2(cars), afterFirst);
        // The target numbers the new rows after its own.
        QCOMPARE(rows2(QStringLiteral("SELECT car_id FROM car ORDER BY car_id")), QStringLiteral("1;2;3;4"));
        QCOMPARE(f->log(), QStringList{QStringLiteral("Обновление таблицы car = успешно")});
        verifyTablesClosed();

        // The second run appends every row again, and its statement flags the row added meanwhile.
        exec2(QStringLiteral("INSERT INTO car (car_name) VALUES ('Урал')"));
        w().CopyADToMainBase(QStringLiteral("car"), s_ad_vus);
        QCOMPARE(rows2(cars), afterFirst + u';' + afterSecond);
        QCOMPARE(f->log(), QStringList(2, QStringLiteral("Обновление таблицы car = успешно")));
        QCOMPARE(rowsInFile(m_second, QStringLiteral("SELECT count(*) FROM car;")), QStringLiteral("7"));
    }

    void copyADToMainBaseFailures_data() {
        QTest::addColumn<QString>("sourceTable");
        QTest::addColumn<QString>("targetTable");
        QTest::addColumn<QString>("expected"); // the target's rows afterwards
        QTest::newRow("target lacks a field: stops at the first row")
            << "CREATE TABLE car (car_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, car_name VARCHAR(50), "
               "car_ad BIT)"
            << "CREATE TABLE car (car_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, car_ad BIT)"
            << "1|False";
        QTest::newRow("no flag column: the statement fails, the rows stay")
            << "CREATE TABLE car (car_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, car_name VARCHAR(50))"
            << "CREATE TABLE car (car_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, car_name VARCHAR(50))"
            << "1|старый;2|КамАЗ;3|УАЗ";
        QTest::newRow("target lacks the table")
            << "CREATE TABLE car (car_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, car_name VARCHAR(50))"
            << QString() << QString();
    }
    void copyADToMainBaseFailures() {
        QFETCH(QString, sourceTable);
        QFETCH(QString, targetTable);
        QFETCH(QString, expected);
        exec1(sourceTable);
        exec1(QStringLiteral("INSERT INTO car (car_name) VALUES ('КамАЗ')"));
        exec1(QStringLiteral("INSERT INTO car (car_name) VALUES ('УАЗ')"));
        if (!targetTable.isEmpty()) {
            exec2(targetTable);
            exec2(targetTable.contains(QStringLiteral("car_name"))
                      ? QStringLiteral("INSERT INTO car (car_name) VALUES ('старый')")
                      : QStringLiteral("INSERT INTO car (car_ad) VALUES (false)"));
        }
        w().CopyADToMainBase(QStringLiteral("car"), QStringLiteral("_ad"));
        QCOMPARE(f->log(), QStringList{QStringLiteral("Ошибка обновления таблицы = car")});
        verifyTablesClosed();
        if (!targetTable.isEmpty()) {
            QCOMPARE(rows2(QStringLiteral("SELECT * FROM car ORDER BY car_id")), expected);
            QCOMPARE(rowsInFile(m_second, QStringLiteral("SELECT count(*) FROM car;")),
                     QString::number(expected.count(u';') + 1));
        }
    }

    // --- copyPlan: ADOConnection2 into ADOConnection1

    void copyPlanImportsTheMissingCategories() {
        exec1(planTable);
        exec2(planTable);
        exec1(QStringLiteral("INSERT INTO obob_uch_plan (category_tc_id, obob_hours) VALUES (2, 99)"));
        for (const char* row : {"(3, 1)", "(1, 2)", "(3, 3)", "(2, 4)", "(1, 5)", "(NULL, 6)"})
            exec2(QStringLiteral("INSERT INTO obob_uch_plan (category_tc_id, obob_hours) VALUES ") +
                  QString::fromLatin1(row));
        f->activity.AddToLog(QStringLiteral("Начало"));
        w().copyPlan();
        // A Null category reads as 0; the rows of each missing category in the source's order.
        QCOMPARE(rows1(QStringLiteral("SELECT * FROM obob_uch_plan ORDER BY obob_uch_plan_id")),
                 QStringLiteral("1|2|99;2|NULL|6;3|1|2;4|1|5;5|3|1;6|3|3"));
        QCOMPARE(f->log(), (QStringList{QStringLiteral("Начало"),
                                        QStringLiteral("Обновление таблицы obob_uch_plan = успешно")}));
        verifyTablesClosed();
        QVERIFY(w().ADOQuery2.Active()); // the selection stays open
        QCOMPARE(w().ADOQuery2.RecordCount(), 4);

        // Again: the categories are present, but a Null category reads as 0, which no target row holds,
        // so its rows come once more.
        w().copyPlan();
        QCOMPARE(rows1(QStringLiteral("SELECT count(*), count(category_tc_id) FROM obob_uch_plan")),
                 QStringLiteral("7|5"));
    }

    // One dot per 200 rows scanned, counted over all missing categories together: the source is
    // scanned once per missing category.
    void copyPlanProgressDots_data() {
        QTest::addColumn<int>("sourceRows");
        QTest::addColumn<int>("categories"); // source row i has category i % categories + 1
        QTest::addColumn<int>("present");    // the target has categories 1 to present
        QTest::addColumn<int>("dots");
        QTest::newRow("200 scanned") << 200 << 1 << 0 << 0;
        QTest::newRow("201 scanned") << 201 << 1 << 0 << 1;
        QTest::newRow("450 scanned") << 450 << 1 << 0 << 2;
        QTest::newRow("450 scanned over three categories") << 150 << 3 << 0 << 2;
        QTest::newRow("400 scanned for two of three") << 200 << 3 << 1 << 1;
        QTest::newRow("401 scanned over the missing of 401") << 401 << 2 << 1 << 2;
        QTest::newRow("all present: no row read") << 450 << 3 << 3 << 0;
    }
    void copyPlanProgressDots() {
        QFETCH(int, sourceRows);
        QFETCH(int, categories);
        QFETCH(int, present);
        QFETCH(int, dots);
        exec1(planTable);
        exec2(planTable);
        QList<int> source;
        for (int i = 0; i < sourceRows; ++i)
            source.append(i % categories + 1);
        postPlanRows(w().ADOConnection2, source);
        QList<int> target;
        for (int category = 1; category <= present; ++category)
            target.append(category);
        postPlanRows(w().ADOConnection1, target);

        f->activity.AddToLog(QStringLiteral("Начало"));
        f->activity.AppendToLog(QStringLiteral("Последняя строка"));
        QStringList replaced;
        QList<int> selected;
        f->activity.onLastLineReplaced = [&](const QString& line) {
            replaced.append(line);
            selected.append(f->activity.selectedRow);
        };
        w().copyPlan();

        const QString dotted = QStringLiteral("Последняя строка") + QString(dots, u'.');
        QCOMPARE(f->log(), (QStringList{QStringLiteral("Начало"), dotted,
                                        QStringLiteral("Обновление таблицы obob_uch_plan = успешно")}));
        if (dots > 0)
            QCOMPARE(replaced.last(), dotted);
        for (const int row : selected)
            QCOMPARE(row, 0); // the selection stays on "Начало"
        const int copied =
            int(std::count_if(source.begin(), source.end(), [&](int c) { return c > present; }));
        QCOMPARE(rows1(QStringLiteral("SELECT count(*) FROM obob_uch_plan")),
                 QString::number(present + copied));
        verifyTablesClosed();
    }

    // A dot due while the log holds no line fails the copy there: the rows posted before stay.
    void copyPlanDotWithAnEmptyLogFails() {
        exec1(planTable);
        exec2(planTable);
        QList<int> source;
        for (int i = 0; i < 300; ++i)
            source.append(i % 2 + 1); // 1, 2, 1, 2, ...
        postPlanRows(w().ADOConnection2, source);
        QVERIFY(f->log().isEmpty());
        w().copyPlan();
        QCOMPARE(f->log(), QStringList{QStringLiteral("Ошибка обновления таблицы = obob_uch_plan")});
        verifyTablesClosed();
        // Category 1's scan copies rows 0, 2, ..., 200 and fails at the dot after the 201st row.
        QCOMPARE(
            rowsInFile(m_first, QStringLiteral("SELECT count(*), min(category_tc_id), max(category_tc_id), "
                                               "max(obob_hours) FROM obob_uch_plan;")),
            QStringLiteral("101|1|1|200"));
    }

    // The scan of the first missing category stops at the row whose category reads as no integer:
    // the rows of that category before it are copied, the later ones and other categories not.
    void copyPlanStopsAtACategoryThatIsNoInteger() {
        exec1(planTable);
        exec2(planTable);
        for (const char* row : {"(1, 0)", "(2, 1)", "(1, 2)", "(5000000000, 3)", "(1, 4)"})
            exec2(QStringLiteral("INSERT INTO obob_uch_plan (category_tc_id, obob_hours) VALUES ") +
                  QString::fromLatin1(row));
        f->activity.AddToLog(QStringLiteral("Начало"));
        w().copyPlan();
        QCOMPARE(f->log(), (QStringList{QStringLiteral("Начало"),
                                        QStringLiteral("Ошибка обновления таблицы = obob_uch_plan")}));
        QCOMPARE(rows1(QStringLiteral("SELECT category_tc_id, obob_hours FROM obob_uch_plan")),
                 QStringLiteral("1|0;1|2"));
        verifyTablesClosed();
    }

    void copyPlanStopsAtAFieldTheTargetLacks() {
        exec1(QStringLiteral("CREATE TABLE obob_uch_plan (obob_uch_plan_id COUNTER CONSTRAINT PrimaryKey "
                             "PRIMARY KEY, category_tc_id INTEGER)"));
        exec2(planTable);
        postPlanRows(w().ADOConnection2, {1, 2});
        f->activity.AddToLog(QStringLiteral("Начало"));
        w().copyPlan();
        QCOMPARE(f->log(), (QStringList{QStringLiteral("Начало"),
                                        QStringLiteral("Ошибка обновления таблицы = obob_uch_plan")}));
        QCOMPARE(rows1(QStringLiteral("SELECT count(*) FROM obob_uch_plan")), QStringLiteral("0"));
        verifyTablesClosed();
    }

    // --- CopySchoolMainBase: ADOConnection1 over ADOConnection2

    void copySchoolMainBaseWritesRowOverRow_data() {
        QTest::addColumn<QStringList>("source"); // "id, name, city"
        QTest::addColumn<QStringList>("target"); // "id, name, city, note"
        QTest::addColumn<QString>("expected");   // id|name|city|note, by id
        const QStringList three = {"9, 'Альфа', 'Минск'", "3, 'Бета', NULL", "12, 'Гамма', 'Брест'"};
        QTest::newRow("target longer")
            << QStringList{"9, 'Альфа', 'Минск'", "3, 'Бета', NULL"}
            << QStringList{"5, 'а', 'х', 'н5'", "2, 'б', 'у', 'н2'", "8, 'в', 'з', 'н8'"}
            << "2|Бета|NULL|н2;5|Альфа|Минск|н5;8|в|з|н8";
        QTest::newRow("equal") << three
                               << QStringList{"5, 'а', 'х', 'н5'", "2, 'б', 'у', 'н2'", "8, 'в', 'з', 'н8'"}
                               << "2|Бета|NULL|н2;5|Альфа|Минск|н5;8|Гамма|Брест|н8";
        QTest::newRow("target shorter") << three << QStringList{"5, 'а', 'х', 'н5'"}
                                        << "5|Бета|NULL|н5;6|Альфа|Минск|NULL;7|Гамма|Брест|NULL";
        QTest::newRow("empty target")
            << three << QStringList() << "1|Бета|NULL|NULL;2|Альфа|Минск|NULL;3|Гамма|Брест|NULL";
        QTest::newRow("empty source") << QStringList() << QStringList{"5, 'а', 'х', 'н5'"} << "5|а|х|н5";
    }
    void copySchoolMainBaseWritesRowOverRow() {
        QFETCH(QStringList, source);
        QFETCH(QStringList, target);
        QFETCH(QString, expected);
        exec1(schoolTable());
        exec2(schoolTable(QStringLiteral(", school_note VARCHAR(50)")));
        for (const QString& row : source)
            exec1(QStringLiteral("INSERT INTO school (school_id, school_name, school_city) VALUES (") + row +
                  u')');
        for (const QString& row : target)
            exec2(QStringLiteral("INSERT INTO school VALUES (") + row + u')');
        w().CopySchoolMainBase(QStringLiteral("school"));
        QCOMPARE(rows2(QStringLiteral("SELECT * FROM school ORDER BY school_id")), expected);
        QCOMPARE(f->log(), QStringList{QStringLiteral("Обновление таблицы school = успешно")});
        verifyTablesClosed();
    }

    // Rows are paired by their primary key, whatever order the files hold them in.
    void copySchoolMainBasePairsByKey() {
        const QString table =
            QStringLiteral("CREATE TABLE kod (kod_name TEXT PRIMARY KEY, kod_val INTEGER);\n");
        runTool(QStringLiteral("sqlcipher"), m_first,
                keyLine(db::mainDatabasePassword) + table +
                    QStringLiteral("INSERT INTO kod VALUES ('B', 2), ('A', 1);\n"));
        runTool(QStringLiteral("sqlcipher"), m_second,
                keyLine(db::mainDatabasePassword) + table +
                    QStringLiteral("INSERT INTO kod VALUES ('A', 10), ('B', 20);\n"));
        w().CopySchoolMainBase(QStringLiteral("kod"));
        QCOMPARE(f->log(), QStringList{QStringLiteral("Обновление таблицы kod = успешно")});
        QCOMPARE(rowsInFile(m_second, QStringLiteral("SELECT kod_name, kod_val FROM kod ORDER BY kod_name;")),
                 QStringLiteral("A|1\nB|2"));
    }

    // Files made by the stock tool: Null stays Null, an unwritten field takes its default, a Yes/No
    // field is No where the tool left Null (so the flag statement finds the copied rows), and dates,
    // doubles, decimals, 64-bit integers and bytes arrive to the last bit, by both copies.
    void valuesOfStockToolFilesArriveExactly() {
        const QString key = keyLine(db::mainDatabasePassword);
        const QString car = QStringLiteral(
            "CREATE TABLE car (car_id INTEGER PRIMARY KEY AUTOINCREMENT, car_name TEXT, car_km INTEGER "
            "DEFAULT 0, car_ad BIT, car_date DATETIME, car_price DECIMAL(10,2), car_big INTEGER, car_pic "
            "BLOB);\n");
        const QString rows = QStringLiteral(
            "INSERT INTO car (car_name, car_km, car_ad, car_date, car_price, car_big, car_pic) VALUES "
            "('КамАЗ', NULL, NULL, 2459277.930902777, 1234567.89, 9007199254740993, x'00ff80'), "
            "('ГАЗ', 7, 1, '2021-03-04 10:20:30', 0.30000000000000004, -9223372036854775808, NULL);\n");
        const QString exact = QStringLiteral(
            "SELECT car_name, quote(car_km), car_ad <> 0, typeof(car_date), car_date = 2459277.930902777 OR "
            "car_date = '2021-03-04 10:20:30', car_price = 1234567.89 OR car_price = 0.30000000000000004, "
            "quote(car_big), quote(car_pic) FROM car ORDER BY car_id;");
        const QString expected = QStringLiteral("КамАЗ|NULL|1|real|1|1|9007199254740993|X'00FF80'\n"
                                                "ГАЗ|7|1|text|1|1|-9223372036854775808|NULL");
        runTool(QStringLiteral("sqlcipher"), m_first, key + car + rows);
        runTool(QStringLiteral("sqlcipher"), m_second, key + car);
        w().CopyADToMainBase(QStringLiteral("car"), QStringLiteral("_ad"));
        QCOMPARE(f->log(), QStringList{QStringLiteral("Обновление таблицы car = успешно")});
        QCOMPARE(rowsInFile(m_second, exact), expected);

        // CopyTable leaves a Null out (the default comes), carries every other value as it is.
        runTool(QStringLiteral("sqlcipher"), m_second, key + QStringLiteral("DELETE FROM car;\n") + rows);
        runTool(QStringLiteral("sqlcipher"), m_first, key + QStringLiteral("DELETE FROM car;\n"));
        w().CopyTable(QStringLiteral("car"));
        QCOMPARE(rowsInFile(m_first, exact), QStringLiteral("КамАЗ|0|0|real|1|1|9007199254740993|X'00FF80'\n"
                                                            "ГАЗ|7|1|text|1|1|-9223372036854775808|NULL"));

        // A new row: a field written Null is Null, one not written takes its default, Yes/No is No.
        DbTable table(w().ADOConnection2);
        table.setTableName(QStringLiteral("car"));
        table.Open();
        table.Insert();
        table.FieldByName(QStringLiteral("car_name")).setAsString(QStringLiteral("ЗИЛ"));
        table.FieldByName(QStringLiteral("car_big")).setAsVariant(QVariant());
        table.Post();
        table.Insert();
        table.FieldByName(QStringLiteral("car_name")).setAsString(QStringLiteral("МАЗ"));
        table.FieldByName(QStringLiteral("car_km")).setAsVariant(QVariant());
        table.Post();
        table.Close();
        QCOMPARE(rowsInFile(m_second,
                            QStringLiteral(
                                "SELECT car_name, quote(car_km), quote(car_ad), "
                                "quote(car_big) FROM car WHERE car_name IN ('ЗИЛ', 'МАЗ') ORDER BY car_id;")),
                 QStringLiteral("ЗИЛ|0|0|NULL\nМАЗ|NULL|0|NULL"));
    }

    void copySchoolMainBaseStopsAtAFieldTheTargetLacks() {
        exec1(schoolTable());
        exec2(QStringLiteral("CREATE TABLE school (school_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, "
                             "school_name VARCHAR(100))"));
        exec1(QStringLiteral("INSERT INTO school (school_name, school_city) VALUES ('Альфа', 'Минск')"));
        exec1(QStringLiteral("INSERT INTO school (school_name, school_city) VALUES ('Бета', 'Брест')"));
        exec2(QStringLiteral("INSERT INTO school (school_name) VALUES ('а')"));
        w().CopySchoolMainBase(QStringLiteral("school"));
        QCOMPARE(f->log(), QStringList{QStringLiteral("Ошибка обновления таблицы = school")});
        QCOMPARE(rows2(QStringLiteral("SELECT * FROM school")), QStringLiteral("1|а"));
        verifyTablesClosed();
    }
};

QTEST_MAIN(TestRowTransfer)
#include "test_row_transfer.moc"
