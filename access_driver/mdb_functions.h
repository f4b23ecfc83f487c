#pragma once

#include <string>

#include <sql.h>
#include <sqlext.h>

namespace access_driver {

// mdbtools' entry points, resolved once; a null pointer is a call mdbtools
// does not export. Every forwarded call goes through this table. Where the
// library could not be loaded, every entry fails with SQL_ERROR.
struct MdbFunctions {
#define TARNWICK_MDB_FUNCTION(name) decltype(&::SQL##name) name = nullptr;
#include "mdb_function_list.h"
#undef TARNWICK_MDB_FUNCTION
  SQLRETURN(SQL_API* GetDiagRec)
  (SQLSMALLINT, SQLHANDLE, SQLSMALLINT, SQLCHAR*, SQLINTEGER*, SQLCHAR*, SQLSMALLINT, SQLSMALLINT*) = nullptr;
  SQLRETURN(SQL_API* ColAttributes)
  (SQLHSTMT, SQLUSMALLINT, SQLUSMALLINT, SQLPOINTER, SQLSMALLINT, SQLSMALLINT*, SQLLEN*) = nullptr;
  bool loaded = false;
  std::string load_error;
};

// Loads mdbtools' driver on first use: the library named by the MdbtoolsDriver
// key of our section in odbcinst.ini, else the one found when Tarnwick was
// configured.
const MdbFunctions& Mdb();

}  // namespace access_driver
