// Every SQL text the migration steps send, as the steps send it, run on encrypted databases: probes,
// column and table changes, category fixes, the composite update, row transfers, the curriculum
// import and the address migration. Each step runs itself; the test reads the statements it handed
// to its queries and what they did.

#include "data_access/data_access_error.h"
#include "db/connection_strings.h"
#include "db/database_files.h"
#include "db/tables.h"
#include "support/database_files.h"
#include "support/school_database.h"
#include "support/steps_fixture.h"

#include <QFileInfo>
#include <QTest>

#include <utility>

using data_access::DbQuery;
using data_access::ftAutoInc;
using data_access::ftBoolean;
using data_access::ftInteger;

namespace {

void exec(DbQuery& query, const QString& sql) {
    query.SQL.Clear();
    query.SQL.Add(sql);
    query.ExecSQL();
}

QString quoted(const QString& text) {
    return u'\'' + QString(text).replace(u'\'', QStringLiteral("''")) + u'\'';
}

QStringList texts(std::initializer_list<const char*> lines) {
    QStringList out;
    for (const char* line : lines)
        out.append(QString::fromUtf8(line));
    return out;
}

} // namespace

class TestStepStatements : public QObject {
    Q_OBJECT

    std::unique_ptr<StepsFixture> f;
    QString m_school;
    QStringList m_sent;

    db::DatabaseSteps& w() { return *f->steps; }
    QStringList takeSent() { return std::exchange(m_sent, {}); }

    // The school database, encrypted with the main password, on ADOConnection1 as UpdateBase sets it.
    void schoolOnConnection1() {
        w().ADOConnection1.setConnectionString(db::connectionString(m_school, db::mainDatabasePassword));
    }

private Q_SLOTS:
    void init() {
        f = std::make_unique<StepsFixture>();
        m_school = f->dir.filePath(QStringLiteral("school.accdb"));
        makeDatabase(m_school, db::mainDatabasePassword);
        schoolOnConnection1();
        for (const QString& statement : schoolDatabase())
            exec(w().ADOQuery1, statement);
        QVERIFY(!w().ADOConnection1.Connected()); // closed by itself after each statement
        w().statementLog = &m_sent;
    }
    void cleanup() {
        f.reset();
        m_sent.clear();
    }

    void columnAndTableProbingSteps() {
        QVERIFY(w().AddColumnGrafikHours());
        QVERIFY(w().AddColumnGruppa());
        QVERIFY(w().AddColumnStudent());
        exec(w().ADOQuery1, QStringLiteral(" UPDATE student SET student_live_stroenie = 'корпус 2' ;"));
        w().modify_stroenie();
        w().modify_stroenie();
        QVERIFY(w().AddColumnTeach_obj());
        QCOMPARE(
            takeSent(),
            texts({"Select check_8 from grafik_hours",
                   " ALTER TABLE grafik_hours ADD COLUMN [check_1] bit, [check_2] bit, [check_3] bit, "
                   "[check_4] bit, [check_5] bit, [check_6] bit, [check_7] bit, [check_8] bit;",
                   " UPDATE grafik_hours SET check_1 = true ;", "Select grafik_hours_id from gruppa",
                   " ALTER TABLE gruppa ADD COLUMN [grafik_hours_id] INTEGER;", " select * from gruppa ;",
                   " UPDATE gruppa SET grafik_hours_id = -1 ;", "Select student_doc_kod from student",
                   " ALTER TABLE student ADD COLUMN  [student_del_date]  DATETIME,  [student_doc_kod]  "
                   "VARCHAR(255),  [student_live_stroenie] VARCHAR(255);",
                   " ALTER TABLE student  ALTER COLUMN student_live_stroenie VARCHAR(100);",
                   " ALTER TABLE student  ALTER COLUMN student_live_stroenie VARCHAR(100);",
                   "Select teach_drive from teach_obj",
                   " ALTER TABLE teach_obj ADD COLUMN  [teach_drive]  BIT,  [teach_crypt] VARCHAR(255);",
                   " UPDATE teach_obj SET teach_drive = true  WHERE (teach_obj_name LIKE 'Вождение%');"}));
        QCOMPARE(
            rowsOf(w().ADOConnection1, QStringLiteral("SELECT check_1, check_2, check_8 FROM grafik_hours")),
            QStringLiteral("True|False|False;True|False|False"));
        QCOMPARE(rowsOf(w().ADOConnection1, QStringLiteral("SELECT grafik_hours_id FROM gruppa")),
                 QStringLiteral("-1"));
        QCOMPARE(rowsOf(w().ADOConnection1, QStringLiteral("SELECT * FROM student")),
                 QStringLiteral("1|Иванов|NULL|NULL|корпус 2"));
        QCOMPARE(
            rowsOf(w().ADOConnection1, QStringLiteral("SELECT teach_obj_name, teach_drive FROM teach_obj")),
            QStringLiteral("Вождение автомобиля|True;Устройство|False"));

        // A second run: every probe succeeds and nothing else is sent.
        QVERIFY(w().AddColumnGrafikHours());
        QVERIFY(w().AddColumnGruppa());
        QVERIFY(w().AddColumnStudent());
        QVERIFY(w().AddColumnTeach_obj());
        QCOMPARE(takeSent(),
                 texts({"Select check_8 from grafik_hours", "Select grafik_hours_id from gruppa",
                        "Select student_doc_kod from student", "Select teach_drive from teach_obj"}));
        QVERIFY(w().ADOConnection1.Connected()); // the probe stays open

        // AddColumn and CreateNewTable with arguments
        QVERIFY(w().AddColumn(QStringLiteral("student"), QStringLiteral("student_tel"),
                              QStringLiteral("VARCHAR(50)")));
        QVERIFY(
            w().CreateNewTable(QStringLiteral("kurs"),
                               QStringLiteral("kurs_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, kurs_name "
                                              "VARCHAR(50)"),
                               QStringLiteral("kurs_id")));
        QVERIFY(!w().CreateNewTable(QStringLiteral("kurs"), QStringLiteral("kurs_id INTEGER"),
                                    QStringLiteral("kurs_id")));
        QCOMPARE(
            takeSent(),
            texts({"Select student_tel from student",
                   " ALTER TABLE student ADD COLUMN [student_tel] VARCHAR(50);", "Select kurs_id from kurs",
                   " CREATE TABLE kurs (kurs_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, kurs_name "
                   "VARCHAR(50));",
                   "Select kurs_id from kurs"}));
    }

    // A multi-column ALTER whose probe column is missing but another is there fails as a whole.
    void aMultiColumnAlterFailsAsAWhole() {
        exec(w().ADOQuery1, QStringLiteral(" ALTER TABLE grafik_hours ADD COLUMN [check_2] bit;"));
        QVERIFY(!w().AddColumnGrafikHours());
        QCOMPARE(takeSent().size(), 2); // the probe and the ALTER, not the UPDATE
        QVERIFY(!w().probe(QStringLiteral("check_1"), QStringLiteral("grafik_hours")));
    }

    void tableCreationSteps() {
        QVERIFY(w().CreateTableGrafikVojdenija());
        QVERIFY(w().CreateTableSpravka());
        QStringList expected =
            texts({"Select SmenaNum from GrafikVojdenija",
                   " CREATE TABLE GrafikVojdenija ([id] AUTOINCREMENT PRIMARY KEY, [student_id]  integer,  "
                   "[zan_date]  DATETIME,  [SmenaNum] INTEGER,  [instruktor_id] INTEGER,  [vypolneno] BIT, "
                   "[teach_obj_id] INTEGER);",
                   "Select spravka_type from spravka",
                   " CREATE TABLE spravka (spravka_id AUTOINCREMENT PRIMARY KEY,  spravka_type VARCHAR(255), "
                   "spravka_text VARCHAR(255), spravka_sokr VARCHAR(255));"});
        for (const QString& type : db::spravka::seedTypes)
            expected.append(QStringLiteral("INSERT INTO spravka (spravka_type,spravka_text)   VALUES (") +
                            quoted(type) + u',' + quoted(db::spravka::seedText) + u')');
        QCOMPARE(takeSent(), expected);
        QCOMPARE(rowsOf(w().ADOConnection1, QStringLiteral("SELECT * FROM spravka")),
                 QStringLiteral("1|kvitancia|Оплата за обучение в автошколе|NULL;"
                                "2|prihodnokassoviy|Оплата за обучение в автошколе|NULL;"
                                "3|platejka|Оплата за обучение в автошколе|NULL"));

        w().ADOTable1.setTableName(db::GrafikVojdenija::name);
        w().ADOTable1.Open();
        QCOMPARE(w().ADOTable1.FieldDefs().size(), 7);
        QCOMPARE(w().ADOTable1.FieldDefs()[0].DataType, ftAutoInc);
        QCOMPARE(w().ADOTable1.FieldDefs()[1].DataType, ftInteger);
        QCOMPARE(w().ADOTable1.FieldDefs()[5].DataType, ftBoolean);
        w().ADOTable1.Close();

        QVERIFY(w().CreateTableGrafikVojdenija());
        QVERIFY(w().CreateTableSpravka());
        QCOMPARE(takeSent(),
                 texts({"Select SmenaNum from GrafikVojdenija", "Select spravka_type from spravka"}));
    }

    void categoryFixes() {
        for (const QString& name :
             db::categories::licenceC +
                 QStringList{db::categories::vus845, db::categories::vus846, QStringLiteral("ВУС-999")})
            exec(w().ADOQuery1,
                 QStringLiteral("INSERT INTO category_tc (category_tc_name) VALUES (%1)").arg(quoted(name)));
        w().FillCategory_tc();
        QCOMPARE(takeSent(),
                 (QStringList{
                     QStringLiteral(" UPDATE category_tc SET category_tc_gibdd = 'Категория «C»' WHERE "
                                    "(category_tc_name = 'ВУС-124') OR (category_tc_name = 'ВУС-280') OR "
                                    "(category_tc_name = 'ВУС-283') OR (category_tc_name = 'ВУС-837') OR "
                                    "(category_tc_name = 'ВУС-837 э/м') OR (category_tc_name = 'ВУС-838') OR "
                                    "(category_tc_name = 'ВУС-859') OR (category_tc_name = 'ВУС-982');"),
                     // The letter between the first guillemets is the Cyrillic С.
                     QStringLiteral(" UPDATE category_tc SET category_tc_gibdd = 'Переподготовка с категории "
                                    "«\u0421» на категорию «D»' WHERE (category_tc_name = 'ВУС-845');"),
                     QStringLiteral(" UPDATE category_tc SET category_tc_gibdd = 'Категория «CE»' WHERE "
                                    "(category_tc_name = 'ВУС-846');")}));
        QCOMPARE(rowsOf(w().ADOConnection1,
                        QStringLiteral("SELECT count(*) FROM category_tc WHERE category_tc_gibdd = "
                                       "'Категория «C»'")),
                 QStringLiteral("8"));
        QCOMPARE(
            rowsOf(w().ADOConnection1,
                   QStringLiteral("SELECT category_tc_gibdd FROM category_tc WHERE category_tc_id >= 9")),
            QStringLiteral("Переподготовка с категории «\u0421» на категорию «D»;Категория «CE»;NULL"));

        // FillNewCategory_tc, twice: the second run finds the course and inserts nothing.
        const QStringList renameAndFind = texts(
            {" UPDATE category_tc SET category_tc_name = 'ВУС-845 (переподготовка с C на D)' WHERE "
             "(category_tc_name = 'ВУС-845');",
             " select *  from category_tc  WHERE (category_tc_name = 'ВУС-845 (переподготовка с B на D)');"});
        w().FillNewCategory_tc();
        QCOMPARE(takeSent(),
                 renameAndFind +
                     QStringList{
                         QStringLiteral("INSERT INTO category_tc (category_tc_name,category_tc_description, "
                                        "category_tc_gibdd)   VALUES (") +
                         quoted(db::categories::vus845BtoD) + QStringLiteral(", ") +
                         quoted(QStringLiteral("Профессиональная подготовка военных водителей транспортных "
                                               "средств - переподготовка с категории «B» на категорию «D»")) +
                         QStringLiteral(", ") +
                         quoted(QStringLiteral("Переподготовка с категории «B» на категорию «D»")) +
                         QStringLiteral(")")});
        w().FillNewCategory_tc();
        QCOMPARE(takeSent(), renameAndFind);
        QCOMPARE(
            rowsOf(w().ADOConnection1,
                   QStringLiteral(
                       "SELECT category_tc_id, category_tc_name FROM category_tc WHERE category_tc_id IN "
                       "(9, 12)")),
            QStringLiteral("9|ВУС-845 (переподготовка с C на D);12|ВУС-845 (переподготовка с B на D)"));
        QCOMPARE(f->log().filter(QStringLiteral("Ошибка")), QStringList());
    }

    void compositeUpdateOfTheSchoolDatabase() {
        f->registry->writeString(QStringLiteral("SchoolBase"), QStringLiteral("path"), m_school);
        f->handle([this] { w().UpdateBase(); });
        const QStringList probes =
            texts({"Select diploma_theory_num from diploma", "Select diploma_pract_num from diploma",
                   "Select gibdd_id from student", "Select * from gibdd"});
        QCOMPARE(
            takeSent(),
            (QStringList{
                probes[0], QStringLiteral(" ALTER TABLE diploma ADD COLUMN diploma_theory_num  INTEGER"),
                probes[1], QStringLiteral(" ALTER TABLE diploma ADD COLUMN diploma_pract_num  INTEGER"),
                probes[2], QStringLiteral(" ALTER TABLE student ADD COLUMN gibdd_id  INTEGER"), probes[3],
                QStringLiteral(" CREATE TABLE gibdd (gibdd_id COUNTER CONSTRAINT PrimaryKey PRIMARY "
                               "KEY,  student_id INTEGER, prichina_zameny_id INTEGER, prepod_id "
                               "INTEGER, Instruktor_id INTEGER, theory_num INTEGER, square_num "
                               "INTEGER, city_num INTEGER );")}));
        QVERIFY(f->dialogs.shown.isEmpty());
        QVERIFY(w().probe(QStringLiteral("*"), db::gibdd::name));
        DbQuery& q = w().ADOQuery1;
        QCOMPARE(q.FieldDefs().size(), 8);
        QCOMPARE(q.FieldDefs()[0].DataType, ftAutoInc);
        for (qsizetype i = 1; i < 8; ++i)
            QCOMPARE(q.FieldDefs()[i].DataType, ftInteger);
        takeSent();

        // A second run changes nothing.
        f->handle([this] { w().UpdateBase(); });
        QCOMPARE(takeSent(), probes);

        // Against a file that is not there, the first probe fails and so does the ALTER.
        w().ADOQuery1.Close();
        const QString none = f->dir.filePath(QStringLiteral("none.accdb"));
        f->registry->writeString(QStringLiteral("SchoolBase"), QStringLiteral("path"), none);
        f->handle([this] { w().UpdateBase(); });
        QCOMPARE(takeSent(), (QStringList{probes[0], QStringLiteral(" ALTER TABLE diploma ADD COLUMN "
                                                                    "diploma_theory_num  INTEGER")}));
        QCOMPARE(f->dialogs.shown.size(), 1);
        QCOMPARE(f->dialogs.shown[0].kind, RecordingDialogs::Shown::Kind::Error);
        QVERIFY(!QFileInfo::exists(none));
    }

    void rowTransferBetweenDatabases() {
        // The AD working copy on the first connection, the main working copy on the second.
        const QString mainCopy = f->dir.filePath(QStringLiteral("MainBase.accdb"));
        makeDatabase(mainCopy, db::mainDatabasePassword);
        QVERIFY(w().connectToBaseUser(m_school, db::mainDatabasePassword));
        QVERIFY(w().connectToBase2(mainCopy, db::mainDatabasePassword));
        for (const QString& statement : schoolDatabase())
            exec(w().ADOQuery2, statement);
        exec(w().ADOQuery1, QStringLiteral("INSERT INTO car (car_name) VALUES ('КамАЗ')"));
        exec(w().ADOQuery1, QStringLiteral("INSERT INTO car (car_name) VALUES ('УАЗ')"));
        exec(w().ADOQuery2, QStringLiteral("INSERT INTO car (car_name) VALUES ('ГАЗ')"));

        w().CopyADToMainBase(QStringLiteral("car"), db::ad::flagSuffix);
        QCOMPARE(takeSent(), texts({" UPDATE car SET car_ad = true  WHERE (car_ad = false) ;"}));
        QCOMPARE(rowsOf(w().ADOConnection2, QStringLiteral("SELECT * FROM car")),
                 QStringLiteral("1|ГАЗ|True;2|КамАЗ|True;3|УАЗ|True"));

        // copyPlan, the other way: the categories the target lacks.
        for (const char* row : {"(3, 1)", "(1, 2)", "(3, 3)"})
            exec(w().ADOQuery2,
                 QStringLiteral("INSERT INTO obob_uch_plan (category_tc_id, obob_hours) VALUES ") +
                     QString::fromLatin1(row));
        exec(w().ADOQuery1,
             QStringLiteral("INSERT INTO obob_uch_plan (category_tc_id, obob_hours) VALUES (1, 9)"));
        w().copyPlan();
        QCOMPARE(takeSent(),
                 texts({"select distinct category_tc_id from obob_uch_plan order by category_tc_id;"}));
        QVERIFY(!w().ADOConnection1.Connected()); // closed by itself with its last table
        QVERIFY(w().ADOConnection2.Connected());
        QCOMPARE(rowsOf(w().ADOConnection1,
                        QStringLiteral("SELECT category_tc_id, obob_hours FROM obob_uch_plan ORDER BY 2")),
                 QStringLiteral("3|1;3|3;1|9"));
        QCOMPARE(f->log(), (QStringList{QStringLiteral("Обновление таблицы car = успешно"),
                                        QStringLiteral("Обновление таблицы obob_uch_plan = успешно")}));
    }

    void curriculumImport() {
        const QString curriculum = f->updaterFolder + QStringLiteral("res/vus_845.accdb");
        makeDatabase(curriculum, db::curriculumDatabasePassword);
        QVERIFY(w().connectToBase2(curriculum, db::curriculumDatabasePassword));
        for (const QString& statement : schoolDatabase())
            exec(w().ADOQuery2, statement);
        exec(w().ADOQuery2,
             QStringLiteral(" ALTER TABLE teach_obj ADD COLUMN  [teach_drive]  BIT,  [teach_crypt] "
                            "VARCHAR(255);"));
        exec(w().ADOQuery2,
             QStringLiteral("INSERT INTO teach_obj (teach_obj_name, teach_obj_cycle, teach_obj_sokr, "
                            "teach_drive) VALUES ('ВОЖДЕНИЕ АВТОМОБИЛЯ', 'специальный', 'ва', true)"));
        exec(w().ADOQuery2, QStringLiteral("INSERT INTO category_tc (category_tc_name) VALUES ('ВУС-845 "
                                           "(переподготовка с B на D)')"));
        exec(w().ADOQuery2,
             QStringLiteral("INSERT INTO edu_plan (category_tc_id, teach_obj_id, edu_plan_theory, "
                            "edu_plan_practice) VALUES (1, 3, 10, 20)"));
        exec(w().ADOQuery2,
             QStringLiteral("INSERT INTO edu_plan (category_tc_id, teach_obj_id, edu_plan_theory) "
                            "VALUES (1, 1, 30)"));
        w().ADOConnection2.setConnected(false);
        schoolOnConnection1();
        exec(w().ADOQuery1,
             QStringLiteral(" ALTER TABLE teach_obj ADD COLUMN  [teach_drive]  BIT,  [teach_crypt] "
                            "VARCHAR(255);"));
        exec(w().ADOQuery1, QStringLiteral("INSERT INTO category_tc (category_tc_name) VALUES ('ВУС-845 "
                                           "(переподготовка с B на D)')"));

        w().Update_vus_845();
        const QString course = quoted(db::categories::vus845BtoD);
        QCOMPARE(takeSent(),
                 (QStringList{
                     QStringLiteral(" Select *  from teach_obj"), QStringLiteral(" Select *  from teach_obj"),
                     QStringLiteral(" Select *  from category_tc where (category_tc_name =") + course +
                         QStringLiteral(")"),
                     QStringLiteral(" Select *  from edu_plan where (category_tc_id =1)"),
                     QStringLiteral(" Select *  from edu_plan, category_tc, teach_obj where "
                                    "(category_tc_name =") +
                         course +
                         QStringLiteral(") and (edu_plan.teach_obj_id = teach_obj.teach_obj_id) and "
                                        "(edu_plan.category_tc_id = category_tc.category_tc_id);")}));
        QCOMPARE(f->log(), (QStringList{QStringLiteral("Копирование учебного плана по вус-845!"),
                                        QStringLiteral("успешно!")}));
        // The curriculum's subjects differ from the school's by letter case only: none is inserted, and
        // the plan row of subject 3 ("ВОЖДЕНИЕ АВТОМОБИЛЯ") is skipped; that of subject 1 comes with a
        // Null as 0.
        QCOMPARE(rowsOf(w().ADOConnection1, QStringLiteral("SELECT count(*) FROM teach_obj")),
                 QStringLiteral("2"));
        QCOMPARE(
            rowsOf(w().ADOConnection1, QStringLiteral("SELECT category_tc_id, teach_obj_id, edu_plan_theory, "
                                                      "edu_plan_lpz, edu_plan_practice FROM edu_plan")),
            QStringLiteral("1|1|30|0|0"));
    }

    void addressMigration() {
        const QString soato = f->updaterFolder + QStringLiteral("res/soato.accdb");
        makeDatabase(soato, QString(),
                     {QStringLiteral("CREATE TABLE soato (soato_id INTEGER, soato_name VARCHAR(255))"),
                      QStringLiteral("INSERT INTO soato VALUES (100000000, 'Брестская область')"),
                      QStringLiteral("INSERT INTO soato VALUES (100000001, '0123')")});
        const QString adress = f->updaterFolder + QStringLiteral("adress.accdb");
        makeDatabase(adress, QString());

        f->handle([this] { w().Update_base_adress(); });
        const QString create =
            QStringLiteral(" CREATE TABLE soato_adress (soato_id INTEGER CONSTRAINT PrimaryKey "
                           "PRIMARY KEY,  soato_name STRING );");
        QCOMPARE(takeSent(),
                 (QStringList{QStringLiteral("Select soato_id,  soato_name from soato"), create}));
        QVERIFY(f->dialogs.shown.isEmpty());
        QCOMPARE(rowsOf(w().ADOConnection1, QStringLiteral("SELECT soato_id, soato_name FROM soato_adress")),
                 QStringLiteral("100000000|Брестская область;100000001|0123"));

        // A second run stops at the creation.
        f->handle([this] { w().Update_base_adress(); });
        QCOMPARE(takeSent(),
                 (QStringList{QStringLiteral("Select soato_id,  soato_name from soato"), create}));
        QCOMPARE(f->dialogs.shown.size(), 1);
        QCOMPARE(f->dialogs.shown[0].kind, RecordingDialogs::Shown::Kind::Error);

        // The address tables are found by CopyTable's name check.
        QStringList names;
        w().ADOConnection1.GetTableNames(names);
        QVERIFY(names.contains(db::addressTables[9], Qt::CaseInsensitive));
    }
};

QTEST_MAIN(TestStepStatements)
#include "test_step_statements.moc"
