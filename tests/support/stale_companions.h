#pragma once

#include "support/database_files.h"
#include "support/system_facilities.h"

#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <sqlite3.h>

// Databases as an office machine leaves them: another program's connection, and the companions an
// earlier file left beside a name.

// "car" with `rows` rows named "<prefix> <i>", enough text for several pages.
inline QStringList carTable(int rows, const QString& prefix) {
    QStringList statements{QStringLiteral("BEGIN"),
                           QStringLiteral("CREATE TABLE car (car_id INTEGER PRIMARY KEY, car_name TEXT)")};
    for (int i = 1; i <= rows; ++i)
        statements.append(QStringLiteral("INSERT INTO car (car_name) VALUES ('%1 %2 %3')")
                              .arg(prefix)
                              .arg(i)
                              .arg(QString(60, u'ж')));
    statements.append(QStringLiteral("COMMIT"));
    return statements;
}

// The engine's own connection, as another program has it.
class RawDatabase {
public:
    RawDatabase(const QString& path, const QString& key) {
        sqlite3_open_v2(system_facilities::sqliteName(path).constData(), &m_db, SQLITE_OPEN_READWRITE,
                        nullptr);
        if (!key.isEmpty())
            run(QStringLiteral("PRAGMA key = '%1'").arg(key));
    }
    ~RawDatabase() { sqlite3_close(m_db); }
    RawDatabase(const RawDatabase&) = delete;
    RawDatabase& operator=(const RawDatabase&) = delete;
    bool run(const QString& sql) {
        return sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }

private:
    sqlite3* m_db = nullptr;
};

// The companions beside a database at `path` (-journal, -wal, -shm).
inline QStringList companionsOf(const QString& path) {
    QStringList found;
    for (const char* suffix : {"-journal", "-wal", "-shm"})
        if (QFileInfo::exists(path + QString::fromLatin1(suffix)))
            found.append(QString::fromLatin1(suffix));
    return found;
}

// Leaves beside `target` what an earlier file of that name had beside it: a write-ahead log holding
// thousands of rows, or the hot journal of a write under way.
inline void leaveStaleCompanion(const QString& folder, const QString& target, const QString& kind,
                                const QString& password) {
    const QString old = folder + QStringLiteral("/old.accdb");
    makeDatabase(old, password, carTable(300, QStringLiteral("старый")));
    RawDatabase writer(old, password);
    if (kind == u"-wal") {
        QVERIFY(writer.run(QStringLiteral("PRAGMA journal_mode = WAL")));
        QVERIFY(writer.run(QStringLiteral("PRAGMA wal_autocheckpoint = 0")));
        QVERIFY(
            writer.run(QStringLiteral("INSERT INTO car (car_name) SELECT car_name || ' копия' FROM car")));
        for (const char* suffix : {"-wal", "-shm"})
            QVERIFY(QFile::copy(old + QString::fromLatin1(suffix), target + QString::fromLatin1(suffix)));
    } else {
        QVERIFY(writer.run(QStringLiteral("PRAGMA cache_size = 2")));
        QVERIFY(writer.run(QStringLiteral("BEGIN")));
        QVERIFY(writer.run(QStringLiteral("UPDATE car SET car_name = 'испорчено ' || car_name")));
        QVERIFY(QFile::copy(old + QStringLiteral("-journal"), target + QStringLiteral("-journal")));
        QVERIFY(writer.run(QStringLiteral("ROLLBACK")));
    }
    QCOMPARE(companionsOf(target).isEmpty(), false);
}
