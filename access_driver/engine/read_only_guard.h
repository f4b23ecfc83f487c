// Once an Access file is open, the connection only reads: an authorizer
// allows what a query needs and refuses the rest.
#pragma once

#include <sqlite3.h>

namespace tarnwick::access {

// Allows SELECT, reading, functions (but load_extension), transactions and
// savepoints, and the pragmas that only report; denies everything else, but
// for the table declarations of the module's own xConnect, which SQLite runs
// again whenever it reloads the schema: those run with *declaring set.
int InstallReadOnlyGuard(sqlite3* db, const bool* declaring);

} // namespace tarnwick::access
