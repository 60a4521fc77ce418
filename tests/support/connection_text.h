#pragma once

#include <QString>

// The kit's connection string, written out here so that the tests of the data-access layer need
// nothing from the folders above it: "Provider=...;Data Source=<path>;Persist Security Info=False;"
// and, with a password, "Jet OLEDB:Database Password=<password>;". test_connections checks that the
// program's own builder writes the same text.

inline QString connectionTextWithoutPassword(const QString& path) {
    return QStringLiteral("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=") + path +
           QStringLiteral(";Persist Security Info=False;");
}

inline QString connectionText(const QString& path, const QString& password) {
    return connectionTextWithoutPassword(path) + QStringLiteral("Jet OLEDB:Database Password=") + password +
           u';';
}
