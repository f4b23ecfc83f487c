#pragma once

#include <string>

#include <sql.h>
#include <sqlext.h>

namespace access_driver {

// sqliteodbc's entry points, resolved once. Every forwarded call goes through
// this table. Where the library could not be loaded, every entry fails with
// SQL_ERROR and load_error says why.
struct SqliteOdbc {
#define TARNWICK_SQLITE_ODBC_FUNCTION(name) decltype(&::SQL##name) name = nullptr;
#include "sqlite_odbc_function_list.h"
#undef TARNWICK_SQLITE_ODBC_FUNCTION
    bool loaded = false;
    std::string load_error;
};

// Loads sqliteodbc on first use: the library named by the SQLiteDriver key of
// our section in odbcinst.ini, else the one found when Tarnwick was configured.
const SqliteOdbc& Backend();

} // namespace access_driver
