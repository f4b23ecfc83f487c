// The virtual table module "access": one table of the connection's Access
// file per virtual table, created as `USING access(N)` with N the table's
// place in AccessConnection::Tables().
#pragma once

#include <sqlite3.h>

namespace tarnwick::access {

class AccessConnection;

// Registers the module; db owns connection from then on.
int RegisterAccessModule(sqlite3* db, AccessConnection* connection);

}  // namespace tarnwick::access
