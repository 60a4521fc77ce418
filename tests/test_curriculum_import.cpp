// The curriculum import: the curriculum database (encrypted with its own password) as
// res/vus_845.accdb of the updater folder, the target database (encrypted with the main password)
// on the first connection.

#include "db/connection_strings.h"
#include "db/database_files.h"
#include "db/tables.h"
#include "support/database_files.h"
#include "support/steps_fixture.h"

#include <QTest>

namespace {

using Kind = RecordingDialogs::Shown::Kind;

const QString course = db::categories::vus845BtoD;
const QString otherCourse = db::categories::vus845CtoD;
const QString started = QStringLiteral("Копирование учебного плана по вус-845!");
const QString succeeded = QStringLiteral("успешно!");
const QString failed = QStringLiteral("Ошибка копирования!");

// The subjects' select on both connections, and the plan rows' select on the curriculum.
const QString subjectsSelect = QStringLiteral(" Select *  from teach_obj");
const QString planSelect =
    QStringLiteral(" Select *  from edu_plan, category_tc, teach_obj where (category_tc_name ='ВУС-845 "
                   "(переподготовка с B на "
                   "D)') and (edu_plan.teach_obj_id = teach_obj.teach_obj_id) and (edu_plan.category_tc_id = "
                   "category_tc.category_tc_id);");

struct Columns {
    QString teachCrypt = QStringLiteral("VARCHAR(255)");
    bool lpz = true;
};

// The three tables as the served program has them once the subject columns are added.
QStringList schema(const Columns& columns = {}) {
    return {
        QStringLiteral("CREATE TABLE teach_obj (teach_obj_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, "
                       "teach_obj_name VARCHAR(255), teach_obj_cycle VARCHAR(255), teach_obj_sokr "
                       "VARCHAR(255), teach_drive BIT, teach_crypt ") +
            columns.teachCrypt + u')',
        QStringLiteral("CREATE TABLE category_tc (category_tc_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, "
                       "category_tc_name VARCHAR(255), category_tc_description VARCHAR(255), "
                       "category_tc_gibdd VARCHAR(255))"),
        QStringLiteral("CREATE TABLE edu_plan (edu_plan_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, "
                       "category_tc_id INTEGER, teach_obj_id INTEGER, edu_plan_theory INTEGER, ") +
            (columns.lpz ? QStringLiteral("edu_plan_lpz INTEGER, ") : QString()) +
            QStringLiteral("edu_plan_practice INTEGER, edu_plan_prom_attest INTEGER)")};
}

// A value for an Access SQL statement: "NULL" stays Null, any other text is quoted.
QString sqlValue(const QString& text) {
    return text == u"NULL" ? text : u'\'' + QString(text).replace(u'\'', QStringLiteral("''")) + u'\'';
}

// A subject written "name|cycle|sokr", optionally followed by "|crypt|drive" (drive: true or false).
QString subjectInsert(const QString& subject) {
    const QStringList parts = subject.split(u'|');
    QStringList columns = {QStringLiteral("teach_obj_name"), QStringLiteral("teach_obj_cycle"),
                           QStringLiteral("teach_obj_sokr")};
    QStringList values = {sqlValue(parts[0]), sqlValue(parts[1]), sqlValue(parts[2])};
    if (parts.size() > 3) {
        columns << QStringLiteral("teach_crypt") << QStringLiteral("teach_drive");
        values << sqlValue(parts[3]) << parts[4];
    }
    return QStringLiteral("INSERT INTO teach_obj (%1) VALUES (%2)")
        .arg(columns.join(u", "), values.join(u", "));
}

QString categoryInsert(const QString& name) {
    return QStringLiteral("INSERT INTO category_tc (category_tc_name) VALUES (%1)").arg(sqlValue(name));
}

// A plan row "category|subject|theory|lpz|practice|prom_attest".
QString planInsert(const QString& row) {
    QStringList values = row.split(u'|');
    return QStringLiteral(
               "INSERT INTO edu_plan (category_tc_id, teach_obj_id, edu_plan_theory, edu_plan_lpz, "
               "edu_plan_practice, edu_plan_prom_attest) VALUES (%1)")
        .arg(values.join(u", "));
}

// The curriculum as it comes with the update: three subjects, one without an abbreviation, a cipher
// and a driving mark; the plan of the course, with Null hours, and of the other course.
const QStringList curriculumRows = {
    subjectInsert(QStringLiteral("Устройство и техническое обслуживание|Специальный|УТО|С-1|false")),
    subjectInsert(QStringLiteral("Вождение автомобиля|Специальный|ВА|С-2|true")),
    subjectInsert(QStringLiteral("Основы управления|Общепрофессиональный|NULL|NULL|false")),
    categoryInsert(otherCourse),
    categoryInsert(course),
    planInsert(QStringLiteral("2|1|10|4|2|1")),
    planInsert(QStringLiteral("2|2|NULL|NULL|36|2")),
    planInsert(QStringLiteral("2|3|6|NULL|NULL|NULL")),
    planInsert(QStringLiteral("1|1|99|99|99|99")),
};

// The target before the import: two subjects, one of them the curriculum's first, and three
// categories, the course's the third; a plan row of the other course.
const QStringList targetRows = {
    subjectInsert(QStringLiteral("Основы законодательства|Общий|ОЗ|NULL|false")),
    subjectInsert(QStringLiteral("Устройство и техническое обслуживание|Специальный|УТО|С-1|false")),
    categoryInsert(QStringLiteral("ВУС-124")),
    categoryInsert(otherCourse),
    categoryInsert(course),
    planInsert(QStringLiteral("2|1|1|1|1|1")),
};

const QString subjectsQuery =
    QStringLiteral("SELECT teach_obj_id, teach_obj_name, teach_obj_cycle, teach_obj_sokr, "
                   "teach_crypt, teach_drive FROM teach_obj ORDER BY teach_obj_id");
const QString planQuery =
    QStringLiteral("SELECT category_tc_id, teach_obj_id, edu_plan_theory, edu_plan_lpz, edu_plan_practice, "
                   "edu_plan_prom_attest FROM edu_plan ORDER BY edu_plan_id");

const QString targetSubjectsAfterImport =
    QStringLiteral("1|Основы законодательства|Общий|ОЗ|NULL|False;"
                   "2|Устройство и техническое обслуживание|Специальный|УТО|С-1|False;"
                   "3|Вождение автомобиля|Специальный|ВА|С-2|True;"
                   "4|Основы управления|Общепрофессиональный|||False");

} // namespace

class TestCurriculumImport : public QObject {
    Q_OBJECT

    std::unique_ptr<StepsFixture> f;
    QString m_curriculum;
    QString m_target;

    db::DatabaseSteps& w() { return *f->steps; }

    void curriculum(const QStringList& statements) {
        execSql(m_curriculum, db::curriculumDatabasePassword, statements);
    }
    void target(const QStringList& statements) { execSql(m_target, db::mainDatabasePassword, statements); }
    QString targetRowsOf(const QString& sql) { return rowsOf(m_target, db::mainDatabasePassword, sql); }

    // The import as a handler of the window runs it: an escaping error would show the error box.
    void import() {
        f->handle([this] { w().Update_vus_845(); });
    }
    void verifyNoBoxes() { QVERIFY2(f->dialogs.shown.isEmpty(), qPrintable(f->dialogs.boxes().join(u'\n'))); }

private Q_SLOTS:
    void init() {
        f = std::make_unique<StepsFixture>();
        m_curriculum = f->updaterFolder + QStringLiteral("res/vus_845.accdb");
        m_target = f->dir.filePath(QStringLiteral("school.accdb"));
        makeDatabase(m_curriculum, db::curriculumDatabasePassword);
        makeDatabase(m_target, db::mainDatabasePassword);
        curriculum(schema());
    }
    void cleanup() { f.reset(); }

    void importsTheMissingSubjectsAndThePlan() {
        curriculum(curriculumRows);
        target(schema() + targetRows);
        QVERIFY(w().connectToBaseUser(m_target, db::mainDatabasePassword));
        import();
        QCOMPARE(f->log(), (QStringList{started, succeeded}));
        verifyNoBoxes();
        QCOMPARE(targetRowsOf(subjectsQuery), targetSubjectsAfterImport);
        // The target's own ids, the course's plan only; Null hours become 0.
        QCOMPARE(targetRowsOf(planQuery),
                 QStringLiteral("2|1|1|1|1|1;3|2|10|4|2|1;3|3|0|0|36|2;3|4|6|0|0|0"));
        QCOMPARE(w().ADOQuery1.SQL.Text(),
                 QStringLiteral(" Select *  from edu_plan where (category_tc_id =3)"));
        QCOMPARE(w().ADOQuery2.SQL.Text(), planSelect);
        QVERIFY(!w().ADOConnection1.Connected());
        QVERIFY(!w().ADOTable1.Active() && !w().ADOTable11.Active());
        QVERIFY(w().ADOConnection2.Connected());
        // The program joins the parts of the path with the system's separator.
        QCOMPARE(w().ADOConnection2.ConnectionString(),
                 db::connectionString(
                     QString(m_curriculum)
                         .replace(QStringLiteral("res/"), QStringLiteral("res") + filesystem::separator()),
                     QStringLiteral("Pq7GhTz3LmRwa")));

        // A second run reopens the target on its connection string and adds nothing.
        import();
        QCOMPARE(f->log(), (QStringList{started, succeeded, started, succeeded}));
        verifyNoBoxes();
        QCOMPARE(targetRowsOf(subjectsQuery), targetSubjectsAfterImport);
        QCOMPARE(targetRowsOf(planQuery),
                 QStringLiteral("2|1|1|1|1|1;3|2|10|4|2|1;3|3|0|0|36|2;3|4|6|0|0|0"));
        QCOMPARE(w().ADOQuery2.SQL.Text(), subjectsSelect); // the plan is there: not selected again
        QVERIFY(!w().ADOConnection1.Connected());
    }

    // Each source subject i (from 1) has a plan row of the course with i theory hours. Subjects
    // "name|cycle|sokr", NULL for Null; the expected subjects "id|name|cycle|sokr", the expected plan
    // "subject id|theory hours".
    void subjectSearch_data() {
        QTest::addColumn<QStringList>("targetSubjects");
        QTest::addColumn<QStringList>("sourceSubjects");
        QTest::addColumn<QStringList>("expectedSubjects");
        QTest::addColumn<QStringList>("expectedPlan");

        QTest::newRow("the same keys in other letter case: not inserted, the plan row skipped")
            << QStringList{QStringLiteral("Вождение автомобиля|Специальный|ВА")}
            << QStringList{QStringLiteral("ВОЖДЕНИЕ АВТОМОБИЛЯ|специальный|ва")}
            << QStringList{QStringLiteral("1|Вождение автомобиля|Специальный|ВА")} << QStringList{};
        QTest::newRow("ё and Ё") << QStringList{QStringLiteral("Учёт|Общий|УЁ")}
                                 << QStringList{QStringLiteral("УЧЁТ|общий|уё")}
                                 << QStringList{QStringLiteral("1|Учёт|Общий|УЁ")} << QStringList{};
        QTest::newRow("two source subjects differing in letter case only, neither in the target")
            << QStringList{}
            << QStringList{QStringLiteral("Вождение|Специальный|В"), QStringLiteral("ВОЖДЕНИЕ|Специальный|В")}
            << QStringList{QStringLiteral("1|Вождение|Специальный|В"),
                           QStringLiteral("2|ВОЖДЕНИЕ|Специальный|В")}
            << QStringList{QStringLiteral("1|1"), QStringLiteral("2|2")};
        QTest::newRow("characters outside the 8-bit code page")
            << QStringList{QStringLiteral("Қауіпсіз жүргізу|Специальный|ҚЖ")}
            << QStringList{QStringLiteral("Қауіпсіз жүргізу|Специальный|ҚЖ")}
            << QStringList{QStringLiteral("1|Қауіпсіз жүргізу|Специальный|ҚЖ")}
            << QStringList{QStringLiteral("1|1")};
        QTest::newRow("no abbreviation in either database")
            << QStringList{QStringLiteral("Основы управления|Общий|NULL")}
            << QStringList{QStringLiteral("Основы управления|Общий|NULL")}
            << QStringList{QStringLiteral("1|Основы управления|Общий|NULL")}
            << QStringList{QStringLiteral("1|1")};
        QTest::newRow("none in the target, an empty one in the curriculum")
            << QStringList{QStringLiteral("Основы управления|Общий|NULL")}
            << QStringList{QStringLiteral("Основы управления|Общий|")}
            << QStringList{QStringLiteral("1|Основы управления|Общий|NULL")}
            << QStringList{QStringLiteral("1|1")};
        QTest::newRow("a new subject without an abbreviation, beside one with")
            << QStringList{QStringLiteral("Основы управления|Общий|ОУ")}
            << QStringList{QStringLiteral("Основы управления|Общий|NULL"),
                           QStringLiteral("Основы управления|Общий|ОУ")}
            << QStringList{QStringLiteral("1|Основы управления|Общий|ОУ"),
                           QStringLiteral("2|Основы управления|Общий|")}
            << QStringList{QStringLiteral("2|1"), QStringLiteral("1|2")};
    }
    void subjectSearch() {
        QFETCH(QStringList, targetSubjects);
        QFETCH(QStringList, sourceSubjects);
        QFETCH(QStringList, expectedSubjects);
        QFETCH(QStringList, expectedPlan);
        QStringList source = {categoryInsert(course)};
        for (qsizetype i = 0; i < sourceSubjects.size(); ++i)
            source << subjectInsert(sourceSubjects[i] + QStringLiteral("|NULL|false"))
                   << planInsert(QStringLiteral("1|%1|%1|0|0|0").arg(i + 1));
        curriculum(source);
        QStringList existing = schema() << categoryInsert(course);
        for (const QString& subject : targetSubjects)
            existing << subjectInsert(subject);
        target(existing);
        QVERIFY(w().connectToBaseUser(m_target, db::mainDatabasePassword));

        for (int run = 1; run <= 2; ++run) {
            import();
            QCOMPARE(f->log().size(), 2 * run);
            QCOMPARE(f->log().last(), succeeded);
            QCOMPARE(targetRowsOf(QStringLiteral("SELECT teach_obj_id, teach_obj_name, teach_obj_cycle, "
                                                 "teach_obj_sokr FROM teach_obj ORDER BY teach_obj_id")),
                     expectedSubjects.join(u';'));
            QCOMPARE(targetRowsOf(QStringLiteral("SELECT teach_obj_id, edu_plan_theory FROM edu_plan WHERE "
                                                 "category_tc_id = 1 ORDER BY edu_plan_id")),
                     expectedPlan.join(u';'));
        }
        verifyNoBoxes();
    }

    // Without the course's category the subjects come, the plan does not.
    void missingCategory_data() {
        QTest::addColumn<QStringList>("categories");
        QTest::newRow("no category") << QStringList{};
        QTest::newRow("the other course only") << QStringList{otherCourse};
        QTest::newRow("a Cyrillic В in place of the Latin B")
            << QStringList{QString(course).replace(u'B', u'\u0412')};
    }
    void missingCategory() {
        QFETCH(QStringList, categories);
        QVERIFY(course.contains(u'B'));
        curriculum(curriculumRows);
        QStringList existing = schema();
        for (const QString& name : categories)
            existing << categoryInsert(name);
        existing << planInsert(QStringLiteral("5|1|1|1|1|1")); // a plan row of no category named here
        target(existing);
        QVERIFY(w().connectToBaseUser(m_target, db::mainDatabasePassword));
        import();
        QCOMPARE(f->log(), (QStringList{started, failed}));
        verifyNoBoxes();
        QCOMPARE(
            targetRowsOf(QStringLiteral("SELECT teach_obj_name FROM teach_obj ORDER BY teach_obj_id")),
            QStringLiteral("Устройство и техническое обслуживание;Вождение автомобиля;Основы управления"));
        QCOMPARE(targetRowsOf(planQuery), QStringLiteral("5|1|1|1|1|1"));
        QCOMPARE(
            w().ADOQuery1.SQL.Text(),
            QStringLiteral(" Select *  from category_tc where (category_tc_name ='ВУС-845 (переподготовка с "
                           "B на D)')"));
        QVERIFY(w().ADOConnection1.Connected()); // left as it was when the import ended
    }

    void existingPlanIsLeftAlone() {
        curriculum(curriculumRows);
        target(schema() + targetRows + QStringList{planInsert(QStringLiteral("3|1|7|7|7|7"))});
        QVERIFY(w().connectToBaseUser(m_target, db::mainDatabasePassword));
        import();
        QCOMPARE(f->log(), (QStringList{started, succeeded}));
        verifyNoBoxes();
        QCOMPARE(targetRowsOf(subjectsQuery), targetSubjectsAfterImport);
        QCOMPARE(targetRowsOf(planQuery), QStringLiteral("2|1|1|1|1|1;3|1|7|7|7|7"));
        QCOMPARE(w().ADOQuery2.SQL.Text(), subjectsSelect);
        QVERIFY(!w().ADOConnection1.Connected());
    }

    // The curriculum cannot be connected: the first line only, the target untouched.
    void curriculumNotConnected_data() {
        QTest::addColumn<bool>("present");
        QTest::newRow("missing file") << false;
        QTest::newRow("another password") << true;
    }
    void curriculumNotConnected() {
        QFETCH(bool, present);
        QVERIFY(QFile::remove(m_curriculum));
        if (present) {
            makeDatabase(m_curriculum, db::mainDatabasePassword);
            execSql(m_curriculum, db::mainDatabasePassword, schema() + curriculumRows);
        }
        target(schema() + targetRows);
        QVERIFY(w().connectToBaseUser(m_target, db::mainDatabasePassword));
        import();
        QCOMPARE(f->log(), QStringList{started});
        if (present) {
            QCOMPARE(f->dialogs.shown.size(), 1);
            QCOMPARE(f->dialogs.shown[0].kind, Kind::MessageBox);
            QCOMPARE(f->dialogs.shown[0].caption, QStringLiteral("Ошибка!"));
        } else {
            verifyNoBoxes();
        }
        QVERIFY(!w().ADOConnection2.Connected());
        QVERIFY(w().ADOConnection1.Connected());
        QCOMPARE(targetRowsOf(QStringLiteral("SELECT count(*) FROM teach_obj")), QStringLiteral("2"));
    }

    void firstConnectionNeverGivenADatabase() {
        curriculum(curriculumRows);
        import();
        QCOMPARE(f->log(), (QStringList{started, failed}));
        verifyNoBoxes();
        QVERIFY(!w().ADOConnection1.Connected());
        QVERIFY(w().ADOConnection2.Connected());
    }

    // A row the target refuses ends the copy; the rows posted before it stay, the refused one is
    // dropped, and the tables are free for the next run.
    void refusedSubjectEndsTheCopy() {
        curriculum(curriculumRows);
        Columns columns;
        columns.teachCrypt = QStringLiteral("VARCHAR(3)");
        target(schema(columns) + QStringList{categoryInsert(course)});
        curriculum(
            {QStringLiteral("UPDATE teach_obj SET teach_crypt = 'С-2-длинный' WHERE teach_obj_id = 2")});
        QVERIFY(w().connectToBaseUser(m_target, db::mainDatabasePassword));
        import();
        QCOMPARE(f->log(), (QStringList{started, failed}));
        verifyNoBoxes();
        QCOMPARE(targetRowsOf(QStringLiteral("SELECT teach_obj_name FROM teach_obj ORDER BY teach_obj_id")),
                 QStringLiteral("Устройство и техническое обслуживание"));
        QCOMPARE(targetRowsOf(QStringLiteral("SELECT count(*) FROM edu_plan")), QStringLiteral("0"));
        QCOMPARE(w().ADOQuery1.SQL.Text(), subjectsSelect);
        QVERIFY(!w().ADOTable1.Active());
        QVERIFY(w().ADOConnection1.Connected());
        // Again: the same subject is refused at the same place, nothing is added twice.
        import();
        QCOMPARE(f->log(), (QStringList{started, failed, started, failed}));
        QCOMPARE(targetRowsOf(QStringLiteral("SELECT count(*) FROM teach_obj")), QStringLiteral("1"));
    }

    // A target without a plan column: the subjects come, the plan fails at its first row. Once the
    // column is there, the next run brings the plan and no subject twice.
    void planColumnMissingThenAdded() {
        curriculum(curriculumRows);
        Columns columns;
        columns.lpz = false;
        target(schema(columns) + targetRows.first(5)); // without the plan row, which names the column
        QVERIFY(w().connectToBaseUser(m_target, db::mainDatabasePassword));
        import();
        QCOMPARE(f->log(), (QStringList{started, failed}));
        verifyNoBoxes();
        QCOMPARE(targetRowsOf(subjectsQuery), targetSubjectsAfterImport);
        QCOMPARE(targetRowsOf(QStringLiteral("SELECT count(*) FROM edu_plan")), QStringLiteral("0"));
        QVERIFY(!w().ADOTable1.Active() && !w().ADOTable11.Active());
        QVERIFY(w().ADOConnection1.Connected());

        w().execSql(w().ADOQuery1, QStringLiteral(" ALTER TABLE edu_plan ADD COLUMN edu_plan_lpz INTEGER"));
        import();
        QCOMPARE(f->log(), (QStringList{started, failed, started, succeeded}));
        verifyNoBoxes();
        QCOMPARE(targetRowsOf(subjectsQuery), targetSubjectsAfterImport);
        QCOMPARE(targetRowsOf(planQuery), QStringLiteral("3|2|10|4|2|1;3|3|0|0|36|2;3|4|6|0|0|0"));
    }
};

QTEST_MAIN(TestCurriculumImport)
#include "test_curriculum_import.moc"
