// Curriculum import benchmark: Update_vus_845 bringing a plan of many rows into a database that has
// none of the course yet, on encrypted files; its time and the process's peak memory.
//
//   bench_curriculum [plan rows] [subjects]      (default 100000 1000)

#include "data_access/db_table.h"
#include "db/connection_strings.h"
#include "db/database_files.h"
#include "db/tables.h"
#include "support/database_files.h"
#include "support/steps_fixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using data_access::DbConnection;
using data_access::DbTable;

namespace {

QStringList schema() {
    return {
        QStringLiteral("CREATE TABLE teach_obj (teach_obj_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, "
                       "teach_obj_name VARCHAR(255), teach_obj_cycle VARCHAR(255), teach_obj_sokr "
                       "VARCHAR(255), teach_drive BIT, teach_crypt VARCHAR(255))"),
        QStringLiteral("CREATE TABLE category_tc (category_tc_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, "
                       "category_tc_name VARCHAR(255), category_tc_description VARCHAR(255), "
                       "category_tc_gibdd VARCHAR(255))"),
        QStringLiteral("CREATE TABLE edu_plan (edu_plan_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, "
                       "category_tc_id INTEGER, teach_obj_id INTEGER, edu_plan_theory INTEGER, "
                       "edu_plan_lpz INTEGER, edu_plan_practice INTEGER, edu_plan_prom_attest INTEGER)"),
        QStringLiteral("INSERT INTO category_tc (category_tc_name) VALUES ('%1')")
            .arg(db::categories::vus845BtoD)};
}

// The curriculum with `subjects` subjects and `rows` plan rows of the course; the target without
// the course's plan.
void makeFiles(const QString& curriculum, const QString& target, int rows, int subjects) {
    makeDatabase(curriculum, db::curriculumDatabasePassword);
    makeDatabase(target, db::mainDatabasePassword);
    execSql(curriculum, db::curriculumDatabasePassword, schema());
    execSql(target, db::mainDatabasePassword, schema());
    DbConnection connection;
    connection.setConnectionString(db::connectionString(curriculum, db::curriculumDatabasePassword));
    DbTable table(connection);
    table.setTableName(QStringLiteral("teach_obj"));
    table.Open();
    for (int i = 1; i <= subjects; ++i) {
        table.Insert();
        table.FieldByName(QStringLiteral("teach_obj_name")).setAsString(QStringLiteral("Предмет %1").arg(i));
        table.FieldByName(QStringLiteral("teach_obj_cycle")).setAsString(QStringLiteral("Специальный"));
        table.FieldByName(QStringLiteral("teach_obj_sokr")).setAsString(QStringLiteral("П%1").arg(i));
        table.Post();
    }
    table.Close();
    table.setTableName(QStringLiteral("edu_plan"));
    table.Open();
    for (int i = 0; i < rows; ++i) {
        table.Insert();
        table.FieldByName(QStringLiteral("category_tc_id")).setAsInteger(1);
        table.FieldByName(QStringLiteral("teach_obj_id")).setAsInteger(i % subjects + 1);
        table.FieldByName(QStringLiteral("edu_plan_theory")).setAsInteger(i % 40);
        table.FieldByName(QStringLiteral("edu_plan_practice")).setAsInteger(i % 7);
        table.Post();
    }
    table.Close();
}

double megabytes(long kilobytes) {
    return double(kilobytes) / 1024.0;
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication application(argc, argv);
    const int rows = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 100000;
    const int subjects = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 1000;
    StepsFixture f;
    const QString curriculum = f.updaterFolder + QStringLiteral("res/vus_845.accdb");
    const QString target = f.dir.filePath(QStringLiteral("school.accdb"));
    // The files are made by a child, so that the peak memory below is the import's alone.
    const pid_t child = fork();
    if (child == 0) {
        makeFiles(curriculum, target, rows, subjects);
        _exit(0);
    }
    waitpid(child, nullptr, 0);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const long before = usage.ru_maxrss;
    if (!f.steps->connectToBaseUser(target, db::mainDatabasePassword))
        qFatal("cannot open the target");
    QElapsedTimer timer;
    timer.start();
    f.steps->Update_vus_845();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    getrusage(RUSAGE_SELF, &usage);
    const QString copied =
        rowsOf(target, db::mainDatabasePassword, QStringLiteral("SELECT count(*) FROM edu_plan"));
    if (copied != QString::number(rows))
        qFatal("the import copied %s rows: %s", qPrintable(copied), qPrintable(f.log().join(u'|')));
    std::printf("Curriculum import: %d plan rows, %d subjects, encrypted files\n", rows, subjects);
    std::printf("  Update_vus_845                         %8.3f s\n", seconds);
    std::printf(
        "  peak memory of the process             %8.1f MB (before the import: %.1f MB; target < 100)\n",
        megabytes(usage.ru_maxrss), megabytes(before));
    f.steps->FormClose();
    return 0;
}
