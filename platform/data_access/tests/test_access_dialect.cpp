// The Access SQL the steps send, run through the data-access layer on an encrypted file.

#include "data_access/data_access_error.h"
#include "support/database_files.h"

#include <QTemporaryDir>
#include <QTest>

using data_access::DataAccessError;
using data_access::DbConnection;

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

// A connection on a fresh encrypted file in `dir`, after `setup`.
void openFresh(QTemporaryDir& dir, DbConnection& connection, const QStringList& setup) {
    const QString path = dir.filePath(QStringLiteral("school.accdb"));
    makeDatabase(path, password);
    connection.setConnectionString(connectionText(path, password));
    for (const QString& statement : setup)
        execSql(connection, statement);
}

QString failureOf(DbConnection& connection, const QString& statement) {
    try {
        execSql(connection, statement);
    } catch (const DataAccessError& failure) {
        return QString::fromUtf8(failure.what());
    }
    return QStringLiteral("(no failure)");
}

} // namespace

class TestAccessDialect : public QObject {
    Q_OBJECT

    // One file for the cases that leave it as it was: expressions and refused statements.
    QTemporaryDir m_dir;
    DbConnection m_shared;

private Q_SLOTS:
    void initTestCase() {
        openFresh(m_dir, m_shared,
                  {QStringLiteral("CREATE TABLE t (a TEXT(10), b TEXT(10), n LONG, d DATETIME)"),
                   QStringLiteral("INSERT INTO t VALUES ('x', 'y', 1, '2022-03-10')")});
    }

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
            << QStringLiteral("CHECK constraint failed: access INTEGER")
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
        QTest::newRow("ALTER COLUMN to MEMO and ADD COLUMN MEMO keep texts of digits")
            << QStringList{QStringLiteral("CREATE TABLE t (a VARCHAR(10))"),
                           QStringLiteral("INSERT INTO t VALUES ('0123')"),
                           QStringLiteral("INSERT INTO t VALUES ('007')")}
            << QStringList{QStringLiteral("ALTER TABLE t ALTER COLUMN a MEMO"),
                           QStringLiteral("ALTER TABLE t ADD COLUMN m MEMO, y YESNO"),
                           QStringLiteral("UPDATE t SET m = '0012345'")}
            << QString()
            << Checks{{QStringLiteral("SELECT quote(a), quote(m), y FROM t"),
                       QStringLiteral("'0123'|'0012345'|False;'007'|'0012345'|False")}};
        QTest::newRow("COUNTER(seed, increment) numbers from the seed by the increment")
            << QStringList{QStringLiteral("CREATE TABLE t (id COUNTER(100, 5), a TEXT(10))")}
            << QStringList{QStringLiteral("INSERT INTO t (a) VALUES ('x')"),
                           QStringLiteral("INSERT INTO t (a) VALUES ('y')"),
                           QStringLiteral("INSERT INTO t (a) VALUES ('z')"),
                           QStringLiteral("INSERT INTO t (a) SELECT a & '2' FROM t WHERE id < 110")}
            << QString()
            << Checks{{QStringLiteral("SELECT id, a FROM t ORDER BY id"),
                       QStringLiteral("100|x;105|y;110|z;115|x2;120|y2")}};
        QTest::newRow("DISTINCT, GROUP BY, ORDER BY, IN and BETWEEN ignore letter case")
            << QStringList{QStringLiteral("CREATE TABLE t (name TEXT(20), n LONG)"),
                           QStringLiteral("INSERT INTO t VALUES ('вус', 1)"),
                           QStringLiteral("INSERT INTO t VALUES ('Abc', 2)"),
                           QStringLiteral("INSERT INTO t VALUES ('b', 3)"),
                           QStringLiteral("INSERT INTO t VALUES ('ВУС', 4)"),
                           QStringLiteral("INSERT INTO t VALUES ('abc', 5)")}
            << QStringList{} << QString()
            << Checks{
                   {QStringLiteral("SELECT count(*) FROM (SELECT DISTINCT name FROM t)"),
                    QStringLiteral("3")},
                   {QStringLiteral("SELECT DISTINCT LCase(name) AS low FROM t ORDER BY LCase(name)"),
                    QStringLiteral("abc;b;вус")},
                   {QStringLiteral(
                        "SELECT LCase(name), count(*), sum(n) FROM t GROUP BY name ORDER BY name DESC"),
                    QStringLiteral("вус|2|5;b|1|3;abc|2|7")},
                   {QStringLiteral("SELECT sum(n) FROM t WHERE name IN ('вУс', 'B')"), QStringLiteral("8")},
                   {QStringLiteral("SELECT sum(n) FROM t WHERE name NOT IN ('вУс', 'B')"),
                    QStringLiteral("7")},
                   {QStringLiteral("SELECT sum(n) FROM t WHERE name BETWEEN 'ABC' AND 'B'"),
                    QStringLiteral("10")},
                   {QStringLiteral("SELECT max(name) FROM t WHERE n < 4"), QStringLiteral("вус")},
                   {QStringLiteral("SELECT TOP 2 n FROM t ORDER BY name, n"), QStringLiteral("2;5")},
                   {QStringLiteral("SELECT TOP 1 n FROM t ORDER BY name, n DESC"), QStringLiteral("5")},
                   // TOP keeps the rows that tie with the last one
                   {QStringLiteral("SELECT sum(n) FROM (SELECT TOP 1 n FROM t ORDER BY name DESC)"),
                    QStringLiteral("5")},
                   {QStringLiteral("SELECT TOP 2 LCase(name) FROM t WHERE n > 1 ORDER BY UCase(name)"),
                    QStringLiteral("abc;abc")},
                   {QStringLiteral("SELECT TOP 10 n FROM t WHERE n > 3 ORDER BY n"), QStringLiteral("4;5")},
                   {QStringLiteral(
                        "SELECT DISTINCT TOP 2 LCase(name) AS low FROM t ORDER BY LCase(name) DESC"),
                    QStringLiteral("вус;b")}};
        QTest::newRow("LIKE takes [...] lists, ranges and [!...]")
            << QStringList{QStringLiteral("CREATE TABLE t (name TEXT(20))"),
                           QStringLiteral("INSERT INTO t VALUES ('Вождение')"),
                           QStringLiteral("INSERT INTO t VALUES ('Bus')"),
                           QStringLiteral("INSERT INTO t VALUES ('[x]')"),
                           QStringLiteral("INSERT INTO t VALUES ('автобус 2')")}
            << QStringList{} << QString()
            << Checks{{QStringLiteral("SELECT name FROM t WHERE name LIKE '[ВB]%'"),
                       QStringLiteral("Вождение;Bus")},
                      {QStringLiteral("SELECT name FROM t WHERE name LIKE '[!вb]%' AND name LIKE '%[0-9]'"),
                       QStringLiteral("автобус 2")},
                      {QStringLiteral("SELECT name FROM t WHERE name LIKE '[[]x]'"), QStringLiteral("[x]")},
                      {QStringLiteral("SELECT name FROM t WHERE name LIKE '[a-c]%'"), QStringLiteral("Bus")},
                      {QStringLiteral("SELECT name FROM t WHERE name LIKE '[ab'"),
                       QStringLiteral("!не закрыт")}};
        QTest::newRow("& + / \\ Mod in stored values; Null & text is the text")
            << QStringList{QStringLiteral("CREATE TABLE t (a TEXT(20), b TEXT(20), n LONG, d DOUBLE)"),
                           QStringLiteral("INSERT INTO t (a, n) VALUES ('x', 7)")}
            << QStringList{QStringLiteral(
                   "UPDATE t SET b = a & b & '-' & n, d = n / 2, n = n \\ 2 + n Mod 4")}
            << QString()
            << Checks{{QStringLiteral("SELECT quote(b), quote(d), quote(n) FROM t"),
                       QStringLiteral("'x-7'|3.5|6")}};
        QTest::newRow("ALTER COLUMN of a referenced table keeps the references")
            << QStringList{QStringLiteral(
                               "CREATE TABLE p (id LONG CONSTRAINT pk PRIMARY KEY, name TEXT(10))"),
                           QStringLiteral("CREATE TABLE c (id COUNTER, p_id LONG REFERENCES p (id))"),
                           QStringLiteral("INSERT INTO p VALUES (1, 'a')"),
                           QStringLiteral("INSERT INTO c (p_id) VALUES (1)")}
            << QStringList{QStringLiteral("ALTER TABLE p ALTER COLUMN name TEXT(20)"),
                           QStringLiteral("INSERT INTO c (p_id) VALUES (2)")}
            << QStringLiteral("FOREIGN KEY constraint failed")
            << Checks{{QStringLiteral("SELECT c.id, p.id, p.name FROM c, p WHERE c.p_id = p.id"),
                       QStringLiteral("1|1|a")},
                      {QStringLiteral("PRAGMA foreign_key_check"), QString()}};
        QTest::newRow("DELETE * FROM; a join in parentheses; UNION ALL")
            << QStringList{QStringLiteral("CREATE TABLE a (id LONG, x TEXT(5))"),
                           QStringLiteral("CREATE TABLE b (id LONG, y TEXT(5))"),
                           QStringLiteral("INSERT INTO a VALUES (1, 'p')"),
                           QStringLiteral("INSERT INTO a VALUES (2, 'q')"),
                           QStringLiteral("INSERT INTO b VALUES (1, 'r')")}
            << QStringList{QStringLiteral("DELETE * FROM a WHERE x = 'Q'")} << QString()
            << Checks{{QStringLiteral("SELECT a.x, b.y FROM (a INNER JOIN b ON a.id = b.id) WHERE b.y = 'R'"),
                       QStringLiteral("p|r")},
                      {QStringLiteral("SELECT x FROM a UNION ALL SELECT y FROM b ORDER BY 1"),
                       QStringLiteral("p;r")}};
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

    // Each Access type stores what Access stores, and refuses what Access refuses.
    void types_data() {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("value");  // empty: the column is left out of the INSERT
        QTest::addColumn<QString>("stored"); // quote() of the stored value, or "!" and the failure

        const auto row = [](const char* type, const char* value, const char* stored) {
            QTest::addRow("%s %s", type, value)
                << QString::fromUtf8(type) << QString::fromUtf8(value) << QString::fromUtf8(stored);
        };
        row("MEMO", "'0012345'", "'0012345'");
        row("LONGTEXT", "'007'", "'007'");
        row("TEXT", "'0123'", "'0123'");
        row("TEXT(5)", "'Вожде'", "'Вожде'");
        row("TEXT(5)", "'Вождение'", "!CHECK constraint failed: access TEXT(5)");
        row("CHAR(3)", "'abcd'", "!CHECK constraint failed: access CHAR(3)");
        row("STRING(3)", "'abcd'", "!CHECK constraint failed: access STRING(3)");
        row("VARCHAR(3)", "12", "'12'");
        row("BYTE", "255", "255");
        row("BYTE", "256", "!CHECK constraint failed: access BYTE");
        row("BYTE", "-1", "!CHECK constraint failed");
        row("SHORT", "'-32768'", "-32768");
        row("SMALLINT", "32768", "!CHECK constraint failed: access SMALLINT");
        row("LONG", "'12'", "12");
        row("LONG", "2147483648", "!CHECK constraint failed: access LONG");
        row("INTEGER", "5000000000", "5000000000");
        row("INTEGER", "'x1'", "!CHECK constraint failed: access INTEGER");
        row("INTEGER", "2.5", "!CHECK constraint failed");
        row("SINGLE", "2.5", "2.5");
        row("REAL", "'1.5'", "1.5");
        row("SINGLE", "'abc'", "!CHECK constraint failed: access SINGLE");
        row("DOUBLE", "7", "7.0");
        row("FLOAT", "'0.1'", "0.1");
        row("CURRENCY", "12.3456", "12.3456");
        row("MONEY", "'x'", "!CHECK constraint failed: access MONEY");
        row("DECIMAL(5,2)", "123.45", "123.45");
        row("NUMERIC(5,2)", "1000", "!CHECK constraint failed: access NUMERIC(5,2)");
        row("DATETIME", "'2022-03-10'", "'2022-03-10'");
        row("DATE", "#3/10/2022#", "'2022-03-10'");
        row("TIME", "#8:30 PM#", "'1899-12-30 20:30:00'");
        row("YESNO", "", "0");
        row("YESNO", "True", "-1");
        row("LOGICAL", "No", "0");
        row("BIT", "Yes", "-1");
        row("YESNO", "Null", "!не может содержать значение Null");
        row("LONGBINARY", "X'0102'", "X'0102'");
        row("OLEOBJECT", "X'00'", "X'00'");
        row("BINARY(2)", "X'010203'", "!CHECK constraint failed: access BINARY(2)");
        row("GUID", "'{6F9619FF-8B86-D011-B42D-00C04FC964FF}'", "'{6F9619FF-8B86-D011-B42D-00C04FC964FF}'");
        row("GUID", "'abc'", "!CHECK constraint failed: access GUID");
        row("COUNTER", "", "1");
        row("AUTOINCREMENT(5, 2)", "", "5");
    }

    void types() {
        QFETCH(QString, type);
        QFETCH(QString, value);
        QFETCH(QString, stored);

        QTemporaryDir dir;
        DbConnection connection;
        openFresh(dir, connection, {QStringLiteral("CREATE TABLE t (n LONG, v %1)").arg(type)});
        const QString insert = value.isEmpty()
                                   ? QStringLiteral("INSERT INTO t (n) VALUES (1)")
                                   : QStringLiteral("INSERT INTO t (n, v) VALUES (1, %1)").arg(value);
        if (stored.startsWith(u'!')) {
            QVERIFY2(failureOf(connection, insert).contains(stored.mid(1)),
                     qPrintable(failureOf(connection, insert)));
            QCOMPARE(rowsOf(connection, QStringLiteral("SELECT count(*) FROM t")), QStringLiteral("0"));
        } else {
            QCOMPARE(failureOf(connection, insert), QStringLiteral("(no failure)"));
            QCOMPARE(rowsOf(connection, QStringLiteral("SELECT quote(v) FROM t")), stored);
        }
    }

    // Access's operators and functions, as values.
    void expressions_data() {
        QTest::addColumn<QString>("expression");
        QTest::addColumn<QString>("value"); // quote() of the result, or "!" and the failure

        const auto row = [](const char* expression, const char* value) {
            QTest::newRow(expression) << QString::fromUtf8(expression) << QString::fromUtf8(value);
        };
        row("'a' & 'b'", "'ab'");
        row("Null & 'b'", "'b'");
        row("Null & Null", "NULL");
        row("1 & 2.5", "'12.5'");
        row("1 + 2 & 3", "'33'");
        row("'1' + '2'", "'12'");
        row("'1' + 2", "3");
        row("'x' + 2", "!Несоответствие типов");
        row("1 + 2 * 3", "7");
        row("(1 + 2) * 3", "9");
        row("10 - 2 - 3", "5");
        row("-2 * -3", "6");
        row("7 / 2", "3.5");
        row("6 / 2", "3.0");
        row("8 / 2 / 2", "2.0");
        row("1 / 0", "!Деление на ноль");
        row("7 \\ 2", "3");
        row("7.6 \\ 2", "4");
        row("2.5 \\ 1", "2");
        row("-7 \\ 2", "-3");
        row("7 Mod 3", "1");
        row("-7 Mod 3", "-1");
        row("7.5 Mod 3", "2");
        row("2 + 7 Mod 3 * 2", "3");
        row("5 Mod 0", "!Деление на ноль");
        row("True", "-1");
        row("False", "0");
        row("Yes", "-1");
        row("No", "0");
        row("#3/10/2022#", "'2022-03-10'");
        row("#2022-03-10 08:30#", "'2022-03-10 08:30:00'");
        row("#12/31/99 11:59:59 PM#", "'1999-12-31 23:59:59'");
        row("IIf(1 > 2, 'a', 'b')", "'b'");
        row("IIf(Null, 1, 2)", "2");
        row("IIf('абв' = 'АБВ', 'да', 'нет')", "'да'");
        row("IIf('б' IN ('а', 'Б'), 1, 0)", "1");
        row("IIf('б' BETWEEN 'А' AND 'В', 1, 0)", "1");
        row("Nz(Null)", "''");
        row("Nz(Null, 5)", "5");
        row("Nz('x', 5)", "'x'");
        row("Len('Вождение')", "8");
        row("Len(Null)", "NULL");
        row("Left('Вождение', 3)", "'Вож'");
        row("Left('abc', -1)", "!Недопустимый аргумент");
        row("Right('Вождение', 2)", "'ие'");
        row("Right('abc', 0)", "''");
        row("Mid('Вождение', 3, 2)", "'жд'");
        row("Mid('Вождение', 3)", "'ждение'");
        row("Mid('abc', 5)", "''");
        row("Mid('abc', 0)", "!Недопустимый аргумент");
        row("UCase('вождение b')", "'ВОЖДЕНИЕ B'");
        row("LCase('ВУС-845')", "'вус-845'");
        row("Trim('  a b  ') & '|'", "'a b|'");
        row("LTrim('  a ') & RTrim(' b  ')", "'a  b'");
        row("Len(Now())", "19");
        row("Len(Date())", "10");
    }

    void expressions() {
        QFETCH(QString, expression);
        QFETCH(QString, value);

        DbConnection& connection = m_shared;
        const QString sql = QStringLiteral("SELECT quote(%1)").arg(expression);
        if (value.startsWith(u'!')) {
            try {
                rowsOf(connection, sql);
                QFAIL("no failure");
            } catch (const DataAccessError& failure) {
                QVERIFY2(QString::fromUtf8(failure.what()).contains(value.mid(1)), failure.what());
            }
        } else {
            QCOMPARE(rowsOf(connection, sql), value);
        }
    }

    // A key or a reference the row breaks refuses the row, and only it.
    void constraintViolations_data() {
        QTest::addColumn<QStringList>("setup");
        QTest::addColumn<QString>("statement");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("rows"); // of the table afterwards

        const QStringList unique{QStringLiteral("CREATE TABLE t (code TEXT(10) UNIQUE, n LONG)"),
                                 QStringLiteral("INSERT INTO t VALUES ('ВУС', 1)")};
        QTest::newRow("UNIQUE column")
            << unique << QStringLiteral("INSERT INTO t VALUES ('вус', 2)")
            << QStringLiteral("появлению повторяющихся значений") << QStringLiteral("ВУС|1");
        QTest::newRow("UNIQUE column, other text")
            << unique << QStringLiteral("INSERT INTO t VALUES ('вус-2', 2)") << QString()
            << QStringLiteral("ВУС|1;вус-2|2");
        QTest::newRow("PRIMARY KEY on text")
            << QStringList{QStringLiteral(
                               "CREATE TABLE t (code TEXT(10), n LONG, CONSTRAINT pk PRIMARY KEY (code))"),
                           QStringLiteral("INSERT INTO t VALUES ('ВУС', 1)")}
            << QStringLiteral("INSERT INTO t VALUES ('вуС', 2)")
            << QStringLiteral("появлению повторяющихся значений") << QStringLiteral("ВУС|1");
        QTest::newRow("CREATE UNIQUE INDEX")
            << QStringList{QStringLiteral("CREATE TABLE t (code VARCHAR(10), n LONG)"),
                           QStringLiteral("CREATE UNIQUE INDEX t_code ON t (code)"),
                           QStringLiteral("INSERT INTO t VALUES ('Вус', 1)")}
            << QStringLiteral("UPDATE t SET code = 'ВУС'") << QString() << QStringLiteral("ВУС|1");
        QTest::newRow("CREATE UNIQUE INDEX refuses")
            << QStringList{QStringLiteral("CREATE TABLE t (code VARCHAR(10), n LONG)"),
                           QStringLiteral("CREATE UNIQUE INDEX t_code ON t (code, n)"),
                           QStringLiteral("INSERT INTO t VALUES ('Вус', 1)")}
            << QStringLiteral("INSERT INTO t VALUES ('ВУС', 1)")
            << QStringLiteral("появлению повторяющихся значений") << QStringLiteral("Вус|1");
        const QStringList references{
            QStringLiteral("CREATE TABLE p (id LONG CONSTRAINT pk PRIMARY KEY)"),
            QStringLiteral(
                "CREATE TABLE t (id COUNTER, p_id LONG, CONSTRAINT fk FOREIGN KEY (p_id) REFERENCES p (id))"),
            QStringLiteral("INSERT INTO p VALUES (1)"), QStringLiteral("INSERT INTO t (p_id) VALUES (1)")};
        QTest::newRow("FOREIGN KEY to a missing row")
            << references << QStringLiteral("INSERT INTO t (p_id) VALUES (2)")
            << QStringLiteral("FOREIGN KEY constraint failed") << QStringLiteral("1|1");
        QTest::newRow("FOREIGN KEY: deleting a referenced row")
            << references << QStringLiteral("DELETE FROM p")
            << QStringLiteral("FOREIGN KEY constraint failed") << QStringLiteral("1|1");
        QTest::newRow("FOREIGN KEY: Null references nothing")
            << references << QStringLiteral("INSERT INTO t (p_id) VALUES (Null)") << QString()
            << QStringLiteral("1|1;2|NULL");
    }

    void constraintViolations() {
        QFETCH(QStringList, setup);
        QFETCH(QString, statement);
        QFETCH(QString, error);
        QFETCH(QString, rows);

        QTemporaryDir dir;
        DbConnection connection;
        openFresh(dir, connection, setup);
        if (error.isEmpty())
            execSql(connection, statement);
        else
            QVERIFY2(failureOf(connection, statement).contains(error),
                     qPrintable(failureOf(connection, statement)));
        QCOMPARE(rowsOf(connection, QStringLiteral("SELECT * FROM t")), rows);
    }

    // What the translation does not handle never reaches the database: it is refused by name.
    void refused_data() {
        QTest::addColumn<QString>("statement");
        QTest::addColumn<QString>("message");

        const auto row = [](const char* statement, const char* message) {
            QTest::newRow(statement) << QString::fromUtf8(statement) << QString::fromUtf8(message);
        };
        row("SELECT Format(a, 'yyyy') FROM t", "Функция Format не поддерживается");
        row("SELECT DLookup('a', 't') FROM t", "Функция DLookup не поддерживается");
        row("SELECT Round(n, 1) FROM t", "Функция Round не поддерживается");
        row("SELECT InStr(a, 'x') FROM t", "Функция InStr не поддерживается");
        row("SELECT First(a) FROM t", "Функция First не поддерживается");
        row("SELECT IIf(n > 1, 1) FROM t", "Функция IIf с 2 аргументами не поддерживается");
        row("SELECT Now(1) FROM t", "Функция Now с 1 аргументами не поддерживается");
        row("SELECT a FROM t WHERE a = 'x' Xor n = 1", "XOR не поддерживается");
        row("SELECT a FROM t WHERE n = 1 Eqv n = 2", "EQV не поддерживается");
        row("SELECT n ^ 2 FROM t", "Оператор ^ не поддерживается");
        row("SELECT [Forms]![Main]![n] FROM t", "Оператор ! не поддерживается");
        row("SELECT DISTINCTROW a FROM t", "DISTINCTROW не поддерживается");
        row("SELECT TOP 10 PERCENT a FROM t", "TOP … PERCENT не поддерживается");
        row("SELECT TOP 2 a FROM t UNION ALL SELECT b FROM t", "TOP в запросе с UNION не поддерживается");
        row("SELECT a FROM t UNION SELECT b FROM t", "UNION без ALL не поддерживается");
        row("SELECT DISTINCT * FROM t", "SELECT DISTINCT * не поддерживается: перечислите столбцы");
        row("SELECT a INTO t2 FROM t", "SELECT … INTO не поддерживается");
        row("SELECT a FROM t IN 'other.accdb'", "IN с внешней базой данных не поддерживается");
        row("SELECT a FROM t WHERE d = #13/45/2022#", "Дата #13/45/2022# не распознана");
        row("DELETE t.* FROM t", "DELETE с таблицей перед FROM не поддерживается");
        row("TRANSFORM Sum(n) SELECT a FROM t GROUP BY a PIVOT b", "Инструкция TRANSFORM не поддерживается");
        row("GRANT SELECT ON t TO u", "Инструкция GRANT не поддерживается");
        row("CREATE VIEW v AS SELECT a FROM t", "CREATE VIEW не поддерживается");
        row("CREATE PROCEDURE p AS SELECT a FROM t", "CREATE PROCEDURE не поддерживается");
        row("CREATE TABLE t2 (a HYPERLINK)", "Тип столбца HYPERLINK не поддерживается");
        row("CREATE TABLE t2 (a LONG, )", "Syntax error in field definition.");
        row("CREATE TABLE t2 (a TEXT(300))", "Длина текстового столбца a вне пределов 1-255: 300");
        row("CREATE TABLE t2 (a DECIMAL(30, 2))",
            "Точность и масштаб в типе столбца DECIMAL(30, 2) не поддерживаются");
        row("CREATE TABLE t2 (a COUNTER(1, 0))", "Шаг счётчика 0 в типе COUNTER(1, 0) не поддерживается");
        row("CREATE TABLE t2 (a MEMO(10))", "Тип столбца MEMO(10) с размером не поддерживается");
        row("CREATE INDEX i ON t (a) WITH PRIMARY", "CREATE INDEX … WITH не поддерживается");
        row("ALTER TABLE t ADD COLUMN c COUNTER", "ADD COLUMN с типом COUNTER не поддерживается");
        row("ALTER TABLE t ADD COLUMN c LONG, d CURRENCY(4)",
            "Тип столбца CURRENCY(4) с размером не поддерживается");
        row("ALTER TABLE t ADD CONSTRAINT u UNIQUE (a)", "ALTER TABLE … ADD CONSTRAINT не поддерживается");
        row("ALTER TABLE t ALTER COLUMN a COUNTER", "ALTER COLUMN с типом COUNTER не поддерживается");
        row("ALTER TABLE t ALTER COLUMN a OLE", "Тип столбца OLE не поддерживается");
        row("ALTER TABLE t DROP COLUMN a", "ALTER TABLE … DROP не поддерживается");
        QTest::newRow("parentheses 65 deep")
            << QStringLiteral("SELECT %1 1 %2").arg(QString(65, u'('), QString(65, u')'))
            << QStringLiteral("Выражение слишком сложно: скобки вложены глубже 64 раз");
    }

    void refused() {
        QFETCH(QString, statement);
        QFETCH(QString, message);

        DbConnection& connection = m_shared;
        const QString schema = QStringLiteral("SELECT type, name, sql FROM sqlite_master");
        const QString before = rowsOf(connection, schema);
        try {
            execSql(connection, statement);
            QFAIL("no failure");
        } catch (const DataAccessError& failure) {
            QCOMPARE(QString::fromUtf8(failure.what()), message);
            QCOMPARE(connection.Errors().size(), 1);
        }
        QCOMPARE(rowsOf(connection, schema), before);
        QCOMPARE(rowsOf(connection, QStringLiteral("SELECT * FROM t")), QStringLiteral("x|y|1|2022-03-10"));
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
        connection.setConnectionString(connectionText(path, password));
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
