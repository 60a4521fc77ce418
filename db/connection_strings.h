#pragma once

#include <QString>

// The connection string of the kit's databases, in its one format: the file's full path inserted
// verbatim (no quotes, no escaping), then optionally the password part.
namespace db {

inline const QString provider = QStringLiteral("Microsoft.ACE.OLEDB.12.0");

// "Provider=...;Data Source=<path>;Persist Security Info=False;"
inline QString connectionStringWithoutPassword(const QString& path) {
    return QStringLiteral("Provider=") + provider + QStringLiteral(";Data Source=") + path +
           QStringLiteral(";Persist Security Info=False;");
}

// The same followed by "Jet OLEDB:Database Password=<password>;" (an empty password included).
inline QString connectionString(const QString& path, const QString& password) {
    return connectionStringWithoutPassword(path) + QStringLiteral("Jet OLEDB:Database Password=") + password +
           u';';
}

} // namespace db
