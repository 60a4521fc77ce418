#pragma once

#include <QString>
#include <QStringList>

// The tables and columns of the served program's databases that the steps create, alter, read or
// write, with the types their DDL gives them. Columns no step names belong to the served program:
// the updater neither creates nor tests them, and a row copy takes whatever columns a table holds.
// The database compares names without regard to letter case (gibdd.Instruktor_id and
// GrafikVojdenija.instruktor_id are spelt as the steps spell them). The DDL declares no foreign keys;
// an integer column named after a table with "_id" holds the identity of one of its rows.
namespace db {

// gibdd_id INTEGER (UpdateBase); student_del_date DATETIME, student_doc_kod VARCHAR(255) and
// student_live_stroenie VARCHAR(255), added together (AddColumnStudent); modify_stroenie makes
// student_live_stroenie VARCHAR(100).
namespace student {
inline const QString name = QStringLiteral("student");
inline const QString gibdd_id = QStringLiteral("gibdd_id");
} // namespace student

// Each INTEGER, added by UpdateBase when missing.
namespace diploma {
inline const QString name = QStringLiteral("diploma");
inline const QString diploma_theory_num = QStringLiteral("diploma_theory_num");
inline const QString diploma_pract_num = QStringLiteral("diploma_pract_num");
} // namespace diploma

// Created by UpdateBase: gibdd_id COUNTER with the primary-key constraint PrimaryKey, then the others,
// all INTEGER, in this order.
namespace gibdd {
inline const QString name = QStringLiteral("gibdd");
} // namespace gibdd

// The driving schedule (CreateTableGrafikVojdenija): id AUTOINCREMENT primary key, student_id
// integer, zan_date DATETIME, SmenaNum INTEGER, instruktor_id INTEGER, vypolneno BIT, teach_obj_id
// INTEGER, in this order.
namespace GrafikVojdenija {
inline const QString name = QStringLiteral("GrafikVojdenija");
} // namespace GrafikVojdenija

// Payment document kinds (CreateTableSpravka): spravka_id AUTOINCREMENT primary key, then three
// VARCHAR(255). Seeded with three kinds, each with the same text and no spravka_sokr.
namespace spravka {
inline const QStringList seedTypes = {QStringLiteral("kvitancia"), QStringLiteral("prihodnokassoviy"),
                                      QStringLiteral("platejka")};
inline const QString seedText = QStringLiteral("Оплата за обучение в автошколе");
} // namespace spravka

// Subjects. teach_obj_id: existing integer identity; name, cycle and abbreviation (existing texts)
// together identify a subject across databases. teach_drive BIT and teach_crypt VARCHAR(255) are
// added together (AddColumnTeach_obj), then teach_drive set true for the subjects named "Вождение...".
namespace teach_obj {
inline const QString name = QStringLiteral("teach_obj");
inline const QString teach_obj_id = QStringLiteral("teach_obj_id");
inline const QString teach_obj_name = QStringLiteral("teach_obj_name");
inline const QString teach_obj_cycle = QStringLiteral("teach_obj_cycle");
inline const QString teach_obj_sokr = QStringLiteral("teach_obj_sokr");
inline const QString teach_drive = QStringLiteral("teach_drive");
inline const QString teach_crypt = QStringLiteral("teach_crypt");
inline const QString subjectKey =
    QStringLiteral("teach_obj_name;teach_obj_cycle;teach_obj_sokr"); // Locate keys
} // namespace teach_obj

// Training categories, one per military specialty; all existing columns.
namespace category_tc {
inline const QString category_tc_id = QStringLiteral("category_tc_id");
} // namespace category_tc

// Curriculum hours per category and subject; all existing integers.
namespace edu_plan {
inline const QString name = QStringLiteral("edu_plan");
inline const QString category_tc_id = QStringLiteral("category_tc_id");
inline const QString teach_obj_id = QStringLiteral("teach_obj_id");
inline const QString edu_plan_theory = QStringLiteral("edu_plan_theory");
inline const QString edu_plan_lpz = QStringLiteral("edu_plan_lpz");
inline const QString edu_plan_practice = QStringLiteral("edu_plan_practice");
inline const QString edu_plan_prom_attest = QStringLiteral("edu_plan_prom_attest");
} // namespace edu_plan

// The generalised curriculum: category_tc_id (existing integer); the other columns are copied as
// they are.
namespace obob_uch_plan {
inline const QString name = QStringLiteral("obob_uch_plan");
inline const QString category_tc_id = QStringLiteral("category_tc_id");
} // namespace obob_uch_plan

// Vehicles, teachers and driving instructors: copied as they are. In the main working copy each also
// has the boolean column <table>_ad, true for rows that came from an AD database.
namespace ad {
inline const QString car = QStringLiteral("car");
inline const QString prepod = QStringLiteral("prepod");
inline const QString Instruktor = QStringLiteral("Instruktor");
inline const QStringList tables = {car, prepod, Instruktor};
inline const QString flagSuffix = QStringLiteral("_ad");
} // namespace ad

// In the SOATO source database: soato_id (integer), soato_name (text).
namespace soato {
inline const QString soato_id = QStringLiteral("soato_id");
inline const QString soato_name = QStringLiteral("soato_name");
} // namespace soato

// Created in the updater-side address database (Update_base_adress): soato_id INTEGER with the
// primary-key constraint PrimaryKey (a key whose values are copied, not numbered), soato_name STRING.
namespace soato_adress {
inline const QString name = QStringLiteral("soato_adress");
inline const QString soato_id = QStringLiteral("soato_id");
inline const QString soato_name = QStringLiteral("soato_name");
} // namespace soato_adress

// The address directory, copied between address databases in this order, all columns as they are.
inline const QStringList addressTables = {
    QStringLiteral("region"),         QStringLiteral("raion"),          QStringLiteral("nasel_punkt"),
    QStringLiteral("street"),         QStringLiteral("grajdanstvo"),    QStringLiteral("doc_type"),
    QStringLiteral("organ_passport"), QStringLiteral("nas_punkt_nazv"), QStringLiteral("medicine"),
    QStringLiteral("soato_adress"),   QStringLiteral("birthdayPlace"),  QStringLiteral("RegionMed")};

// Category names the steps compare, as stored. "ВУС" is Cyrillic throughout; in the two retraining
// courses the letters C, B and D are Latin.
namespace categories {
inline const QStringList licenceC = {QStringLiteral("ВУС-124"),     QStringLiteral("ВУС-280"),
                                     QStringLiteral("ВУС-283"),     QStringLiteral("ВУС-837"),
                                     QStringLiteral("ВУС-837 э/м"), QStringLiteral("ВУС-838"),
                                     QStringLiteral("ВУС-859"),     QStringLiteral("ВУС-982")};
inline const QString vus845 = QStringLiteral("ВУС-845");
inline const QString vus846 = QStringLiteral("ВУС-846");
inline const QString vus845CtoD = QStringLiteral("ВУС-845 (переподготовка с C на D)");
inline const QString vus845BtoD = QStringLiteral("ВУС-845 (переподготовка с B на D)");
} // namespace categories

} // namespace db
