// The virtual table module "access": one table of the connection's Access
// file per virtual table, created as `USING access(N)` with N the table's
// place in AccessConnection::Tables().
#pragma once

#include <string>

#include <sqlite3.h>

namespace tarnwick::access {

class AccessConnection;

// name as an SQL identifier: in double quotes, each quote doubled.
std::string QuotedIdentifier(const std::string& name);

// Registers the module; db owns connection from then on.
int RegisterAccessModule(sqlite3* db, AccessConnection* connection);

} // namespace tarnwick::access
