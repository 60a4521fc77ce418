// The Access SQL the steps send, run through the data-access layer on an encrypted file.

#include "platform/data_access_error.h"
#include "support/database_files.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

const QString password = QStringLiteral("Wm4tRz8QbLx2NcVe");

// "!text": the check must fail with a message holding text.
using Checks = QList<QPair<QString, QString>>;

const QString studentTable = QStringLiteral(
    " CREATE TABLE student (student_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY,  student_name VARCHAR(50),"
    " student_live_stroenie VARCHAR(255), n INTEGER)");

const QString teachObj =
    QStringLiteral("CREATE TABLE teach_obj (teach_obj_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY,"
                   " teach_obj_name VARCHAR(255), teach_drive BIT)");

} // namespace

class TestAccessDialect : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void statements_data() {
        QTest::addColumn<QStringList>("setup");
        QTest::addColumn<QStringList>("statements");
        QTest::addColumn<QString>("error"); // of the last statement; empty: all succeed
        QTest::addColumn<Checks>("checks");

        QTest::newRow("COUNTER CONSTRAINT PrimaryKey PRIMARY KEY numbers the rows")
            << QStringList{QStringLiteral(
                   " CREATE TABLE gibdd (gibdd_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY,  "
                   "student_id INTEGER, Instruktor_id INTEGER );")}
            << QStringList{QStringLiteral("INSERT INTO gibdd (student_id) VALUES (7)"),
                           QStringLiteral("INSERT INTO gibdd (student_id, instruktor_id) VALUES (8, 2)")}
            << QString()
            << Checks{
                   {QStringLiteral("SELECT gibdd_id, student_id, Instruktor_id FROM gibdd ORDER BY gibdd_id"),
                    QStringLiteral("1|7|NULL;2|8|2")}};
        QTest::newRow("the constraint name PrimaryKey in two tables; STRING keeps leading zeros")
            << QStringList{QStringLiteral(
                   " CREATE TABLE gibdd (gibdd_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY,  "
                   "student_id INTEGER );")}
            << QStringList{QStringLiteral(
                               " CREATE TABLE soato_adress (soato_id INTEGER CONSTRAINT PrimaryKey PRIMARY "
                               "KEY,  soato_name STRING );"),
                           QStringLiteral(
                               "INSERT INTO soato_adress (soato_id, soato_name) VALUES (500, '0123')")}
            << QString()
            << Checks{{QStringLiteral("SELECT soato_id, soato_name, typeof(soato_name) FROM soato_adress"),
                       QStringLiteral("500|0123|text")}};
        QTest::newRow("[id] AUTOINCREMENT PRIMARY KEY never gives a number twice; BIT reads false")
            << QStringList{QStringLiteral(" CREATE TABLE GrafikVojdenija ([id] AUTOINCREMENT PRIMARY KEY, "
                                          "[student_id]  integer,  [zan_date]  "
                                          "DATETIME,  [SmenaNum] INTEGER,  [instruktor_id] INTEGER,  "
                                          "[vypolneno] BIT, [teach_obj_id] "
                                          "INTEGER);")}
            << QStringList{QStringLiteral("INSERT INTO GrafikVojdenija (SmenaNum) VALUES (1)"),
                           QStringLiteral("INSERT INTO GrafikVojdenija (SmenaNum) VALUES (2)"),
                           QStringLiteral("DELETE FROM GrafikVojdenija WHERE SmenaNum = 2"),
                           QStringLiteral(
                               "INSERT INTO GrafikVojdenija (SmenaNum, zan_date) VALUES (3, '2022-03-10')")}
            << QString()
            << Checks{{QStringLiteral("SELECT id, SmenaNum, vypolneno, zan_date FROM GrafikVojdenija"),
                       QStringLiteral("1|1|False|NULL;3|3|False|2022-03-10")}};
        QTest::newRow("VARCHAR(n) takes n letters and refuses more")
            << QStringList{QStringLiteral("CREATE TABLE t (a VARCHAR(5))")}
            << QStringList{QStringLiteral("INSERT INTO t VALUES ('Вожде')"),
                           QStringLiteral("INSERT INTO t VALUES ('Вождение')")}
            << QStringLiteral("CHECK constraint failed")
            << Checks{{QStringLiteral("SELECT a FROM t"), QStringLiteral("Вожде")}};
        QTest::newRow("an UPDATE beyond VARCHAR(n) is refused")
            << QStringList{QStringLiteral("CREATE TABLE t (a VARCHAR(3))"),
                           QStringLiteral("INSERT INTO t VALUES ('abc')")}
            << QStringList{QStringLiteral("UPDATE t SET a = 'abcd'")}
            << QStringLiteral("CHECK constraint failed")
            << Checks{{QStringLiteral("SELECT a FROM t"), QStringLiteral("abc")}};
        QTest::newRow("true and false; BIT of new rows matches false")
            << QStringList{QStringLiteral(
                               "CREATE TABLE car (car_id COUNTER, car_name VARCHAR(50), car_ad BIT)"),
                           QStringLiteral("INSERT INTO car (car_name) VALUES ('a')"),
                           QStringLiteral("INSERT INTO car (car_name, car_ad) VALUES ('b', true)"),
                           QStringLiteral("INSERT INTO car (car_name) VALUES ('c')")}
            << QStringList{QStringLiteral(
                   " UPDATE car SET car_ad = true  WHERE (car_ad = false) AND car_name <> 'c';")}
            << QString()
            << Checks{{QStringLiteral("SELECT car_name, car_ad, car_ad + 0 FROM car"),
                       QStringLiteral("a|True|-1;b|True|-1;c|False|0")},
                      {QStringLiteral("SELECT count(*) FROM car WHERE car_ad = TRUE"), QStringLiteral("2")}};
        QTest::newRow("bit columns added to filled rows read false")
            << QStringList{QStringLiteral("CREATE TABLE grafik_hours (id INTEGER)"),
                           QStringLiteral("INSERT INTO grafik_hours VALUES (1)"),
                           QStringLiteral("INSERT INTO grafik_hours VALUES (2)")}
            << QStringList{QStringLiteral(
                               " ALTER TABLE grafik_hours ADD COLUMN [check_1] bit, [check_2] bit, [check_8] "
                               "bit;"),
                           QStringLiteral(" UPDATE grafik_hours SET check_1 = true ;")}
            << QString()
            << Checks{{QStringLiteral("SELECT id, check_1, check_2, check_8 FROM grafik_hours"),
                       QStringLiteral("1|True|False|False;2|True|False|False")},
                      {QStringLiteral("Select check_8 from grafik_hours"), QStringLiteral("False;False")}};
        QTest::newRow("lower-case integer and bit, DATETIME")
            << QStringList{QStringLiteral("CREATE TABLE t (a integer, b bit, c DATETIME)")}
            << QStringList{QStringLiteral("INSERT INTO t (a, b, c) VALUES ('12', 1, '2022-03-10 08:30:00')")}
            << QString()
            << Checks{{QStringLiteral("SELECT a, typeof(a), b, c FROM t"),
                       QStringLiteral("12|integer|True|2022-03-10 08:30:00")}};
        QTest::newRow("ADD COLUMN of three columns in one statement")
            << QStringList{studentTable,
                           QStringLiteral("INSERT INTO student (student_name) VALUES ('Иванов')")}
            << QStringList{QStringLiteral(" ALTER TABLE student ADD COLUMN  [student_del_date]  DATETIME,  "
                                          "[student_doc_kod]  VARCHAR(255),  [student_tel] VARCHAR(20);")}
            << QString()
            << Checks{
                   {QStringLiteral(
                        "SELECT student_name, student_del_date, student_doc_kod, student_tel FROM student"),
                    QStringLiteral("Иванов|NULL|NULL|NULL")}};
        QTest::newRow("ADD COLUMN failing at its second column adds none")
            << QStringList{studentTable,
                           QStringLiteral(" ALTER TABLE student ADD COLUMN [student_doc_kod] VARCHAR(255)")}
            << QStringList{QStringLiteral(" ALTER TABLE student ADD COLUMN  [student_del_date]  DATETIME,  "
                                          "[student_doc_kod]  VARCHAR(255),  [student_tel] VARCHAR(20);")}
            << QStringLiteral("duplicate column name: student_doc_kod")
            << Checks{{QStringLiteral("Select student_del_date from student"),
                       QStringLiteral("!no such column")},
                      {QStringLiteral("Select student_tel from student"), QStringLiteral("!no such column")}};
        QTest::newRow("ADD COLUMN on a missing table")
            << QStringList{}
            << QStringList{QStringLiteral(" ALTER TABLE gruppa ADD COLUMN [grafik_hours_id] INTEGER;")}
            << QStringLiteral("no such table: gruppa") << Checks{};
        QTest::newRow("ALTER COLUMN keeps rows, key, index and counter")
            << QStringList{studentTable,
                           QStringLiteral("CREATE INDEX student_n ON student (n)"),
                           QStringLiteral(
                               "INSERT INTO student (student_live_stroenie, n) VALUES ('корпус 1', 1)"),
                           QStringLiteral("INSERT INTO student (n) VALUES (2)"),
                           QStringLiteral("INSERT INTO student (n) VALUES (3)"),
                           QStringLiteral("DELETE FROM student WHERE n = 3")}
            << QStringList{QStringLiteral(
                               " ALTER TABLE student  ALTER COLUMN student_live_stroenie VARCHAR(100);"),
                           QStringLiteral("INSERT INTO student (n) VALUES (4)")}
            << QString()
            << Checks{{QStringLiteral("SELECT student_id, student_live_stroenie, n FROM student"),
                       QStringLiteral("1|корпус 1|1;2|NULL|2;4|NULL|4")},
                      {QStringLiteral(
                           "SELECT count(*) FROM sqlite_master WHERE type = 'index' AND name = 'student_n'"),
                       QStringLiteral("1")},
                      {QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name LIKE '%rebuilt%'"),
                       QStringLiteral("0")}};
        QTest::newRow("ALTER COLUMN gives the new length limit")
            << QStringList{studentTable, QStringLiteral("INSERT INTO student (n) VALUES (1)")}
            << QStringList{QStringLiteral(
                               " ALTER TABLE student  ALTER COLUMN student_live_stroenie VARCHAR(3);"),
                           QStringLiteral(
                               " ALTER TABLE student  ALTER COLUMN student_live_stroenie VARCHAR(3);"),
                           QStringLiteral("UPDATE student SET student_live_stroenie = 'abc'"),
                           QStringLiteral("UPDATE student SET student_live_stroenie = 'abcd'")}
            << QStringLiteral("CHECK constraint failed")
            << Checks{{QStringLiteral("SELECT student_live_stroenie FROM student"), QStringLiteral("abc")}};
        QTest::newRow("ALTER COLUMN refuses when values are longer; the table stays")
            << QStringList{studentTable,
                           QStringLiteral("INSERT INTO student (student_live_stroenie) VALUES ('%1')")
                               .arg(QString(120, u'ж'))}
            << QStringList{QStringLiteral(
                   " ALTER TABLE student  ALTER COLUMN student_live_stroenie VARCHAR(100);")}
            << QStringLiteral("1 of its values are longer")
            << Checks{{QStringLiteral("SELECT length(student_live_stroenie) FROM student"),
                       QStringLiteral("120")},
                      {QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table'"),
                       QStringLiteral("2")}};
        QTest::newRow("ALTER COLUMN to INTEGER converts numbers and refuses other text")
            << QStringList{QStringLiteral("CREATE TABLE t (a VARCHAR(10), b VARCHAR(10))"),
                           QStringLiteral("INSERT INTO t VALUES ('12', 'x1')")}
            << QStringList{QStringLiteral("ALTER TABLE t ALTER COLUMN a INTEGER"),
                           QStringLiteral("ALTER TABLE t ALTER COLUMN b INTEGER")}
            << QStringLiteral("do not convert")
            << Checks{{QStringLiteral("SELECT a, typeof(a), b FROM t"), QStringLiteral("12|integer|x1")}};
        QTest::newRow("ALTER COLUMN to BIT: numbers become Yes/No, Null becomes No")
            << QStringList{QStringLiteral("CREATE TABLE t (n INTEGER, a INTEGER)"),
                           QStringLiteral("INSERT INTO t VALUES (1, 5)"),
                           QStringLiteral("INSERT INTO t VALUES (2, 0)"),
                           QStringLiteral("INSERT INTO t (n) VALUES (3)")}
            << QStringList{QStringLiteral("ALTER TABLE t ALTER COLUMN a BIT"),
                           QStringLiteral("INSERT INTO t (n) VALUES (4)")}
            << QString()
            << Checks{{QStringLiteral("SELECT n, a + 0 FROM t"), QStringLiteral("1|-1;2|0;3|0;4|0")}};
        QTest::newRow("ALTER COLUMN of a missing column")
            << QStringList{studentTable}
            << QStringList{QStringLiteral(" ALTER TABLE student  ALTER COLUMN nothing VARCHAR(100);")}
            << QStringLiteral("no such column: nothing") << Checks{};
        QTest::newRow("= ignores letter case, Cyrillic included")
            << QStringList{QStringLiteral(
                               "CREATE TABLE category_tc (category_tc_name VARCHAR(255), category_tc_gibdd "
                               "VARCHAR(255))"),
                           QStringLiteral("INSERT INTO category_tc (category_tc_name) VALUES ('вус-124')"),
                           QStringLiteral("INSERT INTO category_tc (category_tc_name) VALUES ('ВУС-845')")}
            << QStringList{QStringLiteral(
                   " UPDATE category_tc SET category_tc_gibdd = 'Категория «C»' WHERE "
                   "(category_tc_name = 'ВУС-124') OR (category_tc_name = 'ВУС-280');")}
            << QString()
            << Checks{{QStringLiteral("SELECT category_tc_name, category_tc_gibdd FROM category_tc"),
                       QStringLiteral("вус-124|Категория «C»;ВУС-845|NULL")},
                      {QStringLiteral("SELECT count(*) FROM category_tc WHERE category_tc_name <> 'вус-845'"),
                       QStringLiteral("1")}};
        QTest::newRow("a look-alike letter of another alphabet never matches")
            << QStringList{QStringLiteral("CREATE TABLE category_tc (category_tc_name VARCHAR(255))"),
                           QStringLiteral(
                               "INSERT INTO category_tc VALUES ('ВУС-845 (переподготовка с \u0412 на D)')")}
            << QStringList{} << QString()
            << Checks{
                   {QStringLiteral(
                        " select *  from category_tc  WHERE (category_tc_name = 'ВУС-845 (переподготовка с "
                        "B на D)');"),
                    QString()},
                   {QStringLiteral("SELECT count(*) FROM category_tc WHERE category_tc_name = 'вус-845 "
                                   "(ПЕРЕПОДГОТОВКА С \u0432 НА d)'"),
                    QStringLiteral("1")}};
        QTest::newRow("LIKE with % and _ ignores letter case")
            << QStringList{teachObj,
                           QStringLiteral(
                               "INSERT INTO teach_obj (teach_obj_name) VALUES ('Вождение автомобиля')"),
                           QStringLiteral("INSERT INTO teach_obj (teach_obj_name) VALUES ('ВОЖДЕНИЕ')"),
                           QStringLiteral("INSERT INTO teach_obj (teach_obj_name) VALUES ('Устройство')")}
            << QStringList{QStringLiteral(
                   " UPDATE teach_obj SET teach_drive = true  WHERE (teach_obj_name LIKE 'Вождение%');")}
            << QString()
            << Checks{{QStringLiteral("SELECT teach_obj_name, teach_drive FROM teach_obj"),
                       QStringLiteral("Вождение автомобиля|True;ВОЖДЕНИЕ|True;Устройство|False")},
                      {QStringLiteral(
                           "SELECT teach_obj_name FROM teach_obj WHERE teach_obj_name LIKE 'вожден_е'"),
                       QStringLiteral("ВОЖДЕНИЕ")},
                      {QStringLiteral("SELECT count(*) FROM teach_obj WHERE teach_obj_name LIKE 'Вожден'"),
                       QStringLiteral("0")}};
        QTest::newRow("SELECT DISTINCT with ORDER BY")
            << QStringList{QStringLiteral("CREATE TABLE obob_uch_plan (category_tc_id INTEGER, h INTEGER)"),
                           QStringLiteral("INSERT INTO obob_uch_plan VALUES (3, 1)"),
                           QStringLiteral("INSERT INTO obob_uch_plan VALUES (1, 1)"),
                           QStringLiteral("INSERT INTO obob_uch_plan VALUES (3, 2)"),
                           QStringLiteral("INSERT INTO obob_uch_plan VALUES (2, 5)")}
            << QStringList{} << QString()
            << Checks{{QStringLiteral(
                           "select distinct category_tc_id from obob_uch_plan order by category_tc_id;"),
                       QStringLiteral("1;2;3")}};
        QTest::newRow("a join written as tables in FROM and conditions in WHERE")
            << QStringList{teachObj,
                           QStringLiteral(
                               "CREATE TABLE edu_plan (teach_obj_id INTEGER, edu_plan_theory INTEGER)"),
                           QStringLiteral("INSERT INTO teach_obj (teach_obj_name) VALUES ('ПДД')"),
                           QStringLiteral("INSERT INTO teach_obj (teach_obj_name) VALUES ('Устройство')"),
                           QStringLiteral("INSERT INTO edu_plan VALUES (2, 10)"),
                           QStringLiteral("INSERT INTO edu_plan VALUES (1, 20)")}
            << QStringList{} << QString()
            << Checks{{QStringLiteral(
                           " Select teach_obj_name, edu_plan_theory  from edu_plan, teach_obj where "
                           "(edu_plan.teach_obj_id = teach_obj.teach_obj_id) and (teach_obj_name = 'пдд');"),
                       QStringLiteral("ПДД|20")}};
        QTest::newRow("quoted texts, names and comments stay as written")
            << QStringList{QStringLiteral("CREATE TABLE [my table] ([a b] VARCHAR(50), [true] INTEGER)")}
            << QStringList{QStringLiteral("INSERT INTO [my table] ([a b], [true]) VALUES ('x = true; -- "
                                          "[y]', 1) -- true"),
                           QStringLiteral("INSERT INTO [my table] ([a b], [true]) /* false */ VALUES (\"say "
                                          "\"\"hi\"\"\", 2)")}
            << QString()
            << Checks{{QStringLiteral("SELECT [a b], [true] FROM [my table] WHERE [true] = true OR [a b] = "
                                      "\"SAY \"\"HI\"\"\""),
                       QStringLiteral("say \"hi\"|2")},
                      {QStringLiteral("SELECT [a b] FROM [my table] WHERE [true] = 1"),
                       QStringLiteral("x = true; -- [y]")}};
        QTest::newRow("a missing column in brackets fails")
            << QStringList{teachObj} << QStringList{} << QString()
            << Checks{{QStringLiteral("Select [nothing] from teach_obj"), QStringLiteral("!no such column")},
                      {QStringLiteral("Select nothing from teach_obj"), QStringLiteral("!no such column")}};
        QTest::newRow("text after the closing ; is refused")
            << QStringList{teachObj}
            << QStringList{QStringLiteral("DELETE FROM teach_obj; DROP TABLE teach_obj")}
            << QStringLiteral("Characters found after end of SQL statement.")
            << Checks{{QStringLiteral("SELECT count(*) FROM teach_obj;  "), QStringLiteral("0")}};
        QTest::newRow("an empty statement is refused") << QStringList{} << QStringList{QStringLiteral(" ; ")}
                                                       << QStringLiteral("Invalid SQL statement") << Checks{};
    }

    void statements() {
        QFETCH(QStringList, setup);
        QFETCH(QStringList, statements);
        QFETCH(QString, error);
        QFETCH(Checks, checks);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("school.accdb"));
        makeDatabase(path, password);
        DbConnection connection;
        connection.setConnectionString(db::connectionString(path, password));
        for (const QString& statement : setup)
            execSql(connection, statement);
        for (qsizetype i = 0; i < statements.size(); ++i) {
            const bool last = i == statements.size() - 1;
            try {
                execSql(connection, statements[i]);
                QVERIFY2(!last || error.isEmpty(), qPrintable(statements[i]));
            } catch (const DataAccessError& failure) {
                QVERIFY2(last && !error.isEmpty(), failure.what());
                QVERIFY2(QString::fromUtf8(failure.what()).contains(error), failure.what());
                QCOMPARE(connection.Errors().size(), 1);
            }
        }
        for (const auto& [sql, expected] : checks) {
            if (expected.startsWith(u'!')) {
                try {
                    rowsOf(connection, sql);
                    QFAIL(qPrintable(QStringLiteral("no failure: ") + sql));
                } catch (const DataAccessError& failure) {
                    QVERIFY2(QString::fromUtf8(failure.what()).contains(expected.mid(1)), failure.what());
                }
            } else {
                QCOMPARE(rowsOf(connection, sql), expected);
            }
        }
    }
};

QTEST_MAIN(TestAccessDialect)
#include "test_access_dialect.moc"
