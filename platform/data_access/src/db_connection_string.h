#pragma once

#include <QString>

namespace data_access {

// The parts of an OLE DB connection string that the data-access layer reads:
// "Provider=...;Data Source=<path>;Persist Security Info=False;Jet OLEDB:Database Password=<password>;"
// Keys are matched without regard to case and spaces around them; a value may be quoted with ' or ".
// Other keys are read past.
struct DbConnectionString {
    QString provider;
    QString dataSource;
    QString password; // empty also when the part is missing

    // Raises DataAccessError for a text that is no list of key=value parts.
    static DbConnectionString parse(const QString& text);
};

} // namespace data_access
