#pragma once

#include "data_access/db_connection.h"
#include "data_access/db_query.h"
#include "support/connection_text.h"
#include "support/system_facilities.h"

#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTest>

#include <sqlite3.h>

// Database files for the tests, made as users make them: an empty file from the engine's C API (the
// data-access layer never creates one), or a whole database from the stock command-line tools.

// An empty database at `path`: SQLCipher-encrypted with `password`, plain without one; then
// `statements` in SQLite's own dialect.
inline void makeDatabase(const QString& path, const QString& password, const QStringList& statements = {}) {
    QFile::remove(path);
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(system_facilities::sqliteName(path).constData(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
        qFatal("cannot create %s", qPrintable(path));
    QStringList script;
    if (!password.isEmpty())
        script << QStringLiteral("PRAGMA key = '%1'")
                      .arg(QString(password).replace(u'\'', QStringLiteral("''")));
    script << QStringLiteral("PRAGMA user_version = 1") << statements;
    for (const QString& statement : script) {
        char* error = nullptr;
        if (sqlite3_exec(db, statement.toUtf8().constData(), nullptr, nullptr, &error) != SQLITE_OK)
            qFatal("%s: %s", qPrintable(statement), error);
    }
    sqlite3_close(db);
}

// Runs the stock tool ("sqlite3" or "sqlcipher") on `path` with `script` on its standard input and
// gives its output; a failure of the tool fails the test.
inline QString runTool(const QString& tool, const QString& path, const QString& script) {
    QProcess process;
#ifdef Q_OS_WIN
    // The Windows build has one shell: SQLCipher's, which without a key is the sqlite3 shell.
    process.start(QStringLiteral("sqlcipher"), {QStringLiteral("-batch"), path});
#else
    process.start(tool, {QStringLiteral("-batch"), path});
#endif
    if (!process.waitForStarted())
        qFatal("cannot start %s", qPrintable(tool));
    process.write(script.toUtf8());
    process.closeWriteChannel();
    process.waitForFinished(30000);
    const QString errors = QString::fromUtf8(process.readAllStandardError());
    if (process.exitCode() != 0 || !errors.isEmpty())
        qFatal("%s failed: %s", qPrintable(tool), qPrintable(errors));
    // The Windows shell ends its lines with CR LF.
    return QString::fromUtf8(process.readAllStandardOutput())
        .replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
        .trimmed();
}

// The key statement of the sqlcipher tool's script.
inline QString keyLine(const QString& password) {
    return QStringLiteral("PRAGMA key = '%1';\n").arg(password);
}

// Every row of an Access SQL query, columns joined by "|" and rows by ";", Null as NULL.
inline QString rowsOf(data_access::DbConnection& connection, const QString& sql) {
    data_access::DbQuery query(connection);
    query.SQL.Add(sql);
    query.Open();
    QStringList rows;
    for (query.First(); !query.Eof(); query.Next()) {
        QStringList values;
        for (const data_access::DbFieldDef& def : query.FieldDefs()) {
            const data_access::DbField field = query.FieldByName(def.Name);
            values.append(field.IsNull() ? QStringLiteral("NULL") : field.AsString());
        }
        rows.append(values.join(u'|'));
    }
    return rows.join(u';');
}

inline void execSql(data_access::DbConnection& connection, const QString& sql) {
    data_access::DbQuery query(connection);
    query.SQL.Add(sql);
    query.ExecSQL();
}

// Runs `statements` on the database at `path` through a connection of their own.
inline void execSql(const QString& path, const QString& password, const QStringList& statements) {
    data_access::DbConnection connection;
    connection.setConnectionString(connectionText(path, password));
    for (const QString& statement : statements)
        execSql(connection, statement);
}

// rowsOf() on the database at `path`, through a connection of its own.
inline QString rowsOf(const QString& path, const QString& password, const QString& sql) {
    data_access::DbConnection connection;
    connection.setConnectionString(connectionText(path, password));
    return rowsOf(connection, sql);
}
