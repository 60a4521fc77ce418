#pragma once

struct sqlite3;

namespace data_access {

// The SQL functions that translated Access statements call (access_sql.h): Access's operators and
// functions where SQLite's differ, and LIKE with [...] lists that ignores letter case. Also switches
// on the FOREIGN KEY constraints, which Access always enforces. False when SQLite refused one.
bool registerAccessFunctions(sqlite3* db);

} // namespace data_access
