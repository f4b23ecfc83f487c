// The SQLite side of the Access driver: every table of an Access file as a
// virtual table that SQLite queries, read through mdbtools' libmdb.
#pragma once

#include <sqlite3.h>

namespace tarnwick::access {

// Registers the module "access" and the SQL function tarnwick_open(path) on
// db. tarnwick_open opens the file read-only, creates one virtual table per
// Access table (user and system tables, named as in the file), fills the
// catalog tables tarnwick_catalog_tables, tarnwick_catalog_columns and
// tarnwick_catalog_indexes, and
// then refuses every statement that could write or load code on db.
int RegisterAccessEngine(sqlite3* db);

} // namespace tarnwick::access
