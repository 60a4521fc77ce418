// Data-access benchmark on an encrypted file: rows posted one at a time through a table component,
// and Locate on snapshots of growing size.
//
//   bench_data_access [rows]      (default 100000)

#include "data_access/db_table.h"
#include "db/connection_strings.h"
#include "db/database_files.h"
#include "support/database_files.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <cstdio>
#include <random>

using data_access::DbConnection;
using data_access::DbTable;

namespace {

const QString password = db::mainDatabasePassword;

QString nameOf(int i) {
    return QStringLiteral("Фамилия %1").arg(i);
}

void createStudents(DbConnection& connection, const QString& table) {
    execSql(
        connection,
        QStringLiteral(" CREATE TABLE %1 (student_id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY,  student_fam "
                       "VARCHAR(50), student_name VARCHAR(50), gruppa_id INTEGER, student_del BIT);")
            .arg(table));
}

// Posts `rows` rows one by one; returns the seconds, the final commit included.
double postRows(DbConnection& connection, const QString& tableName, int rows) {
    DbTable table(connection);
    table.setTableName(tableName);
    table.Open();
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < rows; ++i) {
        table.Insert();
        table.FieldByName(QStringLiteral("student_fam")).setAsString(nameOf(i));
        table.FieldByName(QStringLiteral("student_name")).setAsString(QStringLiteral("Иван"));
        table.FieldByName(QStringLiteral("gruppa_id")).setAsInteger(i % 50);
        table.FieldByName(QStringLiteral("student_del")).setAsBoolean(i % 7 == 0);
        table.Post();
    }
    table.Close();
    return double(timer.nsecsElapsed()) / 1e9;
}

struct LocateFigures {
    double openSeconds;
    double indexMs;
    double microsecondsPerCall;
    int found;
};

// `calls` Locate calls with keys spread over the whole table, a tenth of them missing.
LocateFigures locate(DbConnection& connection, const QString& tableName, int rows, int calls) {
    std::mt19937 random(1124);
    std::uniform_int_distribution<int> pick(0, rows + rows / 10);
    QVariantList keys;
    keys.reserve(calls);
    for (int i = 0; i < calls; ++i)
        keys.append(nameOf(pick(random)));

    DbTable table(connection);
    table.setTableName(tableName);
    QElapsedTimer timer;
    timer.start();
    table.Open();
    LocateFigures figures{};
    figures.openSeconds = double(timer.nsecsElapsed()) / 1e9;
    timer.restart();
    table.Locate(QStringLiteral("student_fam"), keys[0]); // builds the index for this key
    figures.indexMs = double(timer.nsecsElapsed()) / 1e6;
    timer.restart();
    for (const QVariant& key : keys)
        figures.found += table.Locate(QStringLiteral("student_fam"), key) ? 1 : 0;
    figures.microsecondsPerCall = double(timer.nsecsElapsed()) / 1e3 / calls;
    return figures;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const int rows = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 100000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.accdb"));
    makeDatabase(path, password);

    DbConnection connection;
    connection.setConnectionString(db::connectionString(path, password));
    QElapsedTimer timer;
    timer.start();
    connection.Open();
    const double openMs = double(timer.nsecsElapsed()) / 1e6;

    std::printf("Data-access benchmark: SQLCipher %s (SQLite %s), encrypted file\n", "3.4.1",
                sqlite3_libversion());
    std::printf("  connection open (key derivation):      %8.1f ms\n", openMs);

    createStudents(connection, QStringLiteral("student"));
    const double postSeconds = postRows(connection, QStringLiteral("student"), rows);
    std::printf("  Insert/Post %6d rows:               %8.2f s = %.0f rows/s (target >= 50000)\n", rows,
                postSeconds, rows / postSeconds);

    const LocateFigures big = locate(connection, QStringLiteral("student"), rows, rows);
    std::printf("  open a %6d-row snapshot:            %8.2f s\n", rows, big.openSeconds);
    std::printf("  first Locate (builds the key index):   %8.1f ms\n", big.indexMs);
    std::printf("  Locate x %6d on %6d rows:         %8.2f us/call (%d found)\n", rows, rows,
                big.microsecondsPerCall, big.found);

    // The same number of calls on smaller snapshots: constant time shows as flat figures.
    for (const int smaller : {rows / 100, rows / 10}) {
        if (smaller < 10)
            continue;
        const QString name = QStringLiteral("student_%1").arg(smaller);
        createStudents(connection, name);
        postRows(connection, name, smaller);
        const LocateFigures figures = locate(connection, name, smaller, rows);
        std::printf("  Locate x %6d on %6d rows:         %8.2f us/call\n", rows, smaller,
                    figures.microsecondsPerCall);
    }
    connection.Close();
    std::printf("  file size: %.1f MB\n", double(QFileInfo(path).size()) / 1e6);
    return 0;
}
