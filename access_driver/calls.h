#pragma once

// The driver's calls as the ANSI and the wide entry points share them. The
// exported SQL* names are never called from inside the library: the driver
// manager's own functions of the same names come first in the process.
#include <optional>
#include <string>

#include <sql.h>
#include <sqlext.h>

namespace access_driver {

// Every call starts a handle's diagnostics afresh, as ODBC has it.
void Begin(SQLHANDLE handle);

// Takes sqliteodbc's record after a forwarded call that left one, as a
// record of this driver's own; returns the call's result.
SQLRETURN Harvest(SQLSMALLINT type, SQLHANDLE handle, SQLRETURN result);

// The driver's own refusal: one record, SQL_ERROR.
SQLRETURN Fail(SQLHANDLE handle, const std::string& sql_state, const std::string& message);

// A record of the driver's, for SQLGetDiagRec (number from 1) and SQLError
// (the next one not yet returned).
struct Record {
    std::string sql_state;
    SQLINTEGER native = 0;
    std::string message;
};
std::optional<Record> DiagRecord(SQLHANDLE handle, SQLSMALLINT number);
std::optional<Record> NextErrorRecord(SQLHANDLE handle);

std::optional<std::string> Text(SQLCHAR* text, SQLINTEGER length);

SQLRETURN Connect(SQLHDBC dbc, const std::string& dsn);
SQLRETURN DriverConnect(SQLHDBC dbc, const std::string& in, std::string& out);
SQLRETURN Prepare(SQLHSTMT stmt, const std::string& sql);
SQLRETURN ExecDirect(SQLHSTMT stmt, const std::string& sql);
SQLRETURN GetInfo(SQLHDBC dbc, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT buffer_length, SQLSMALLINT* length);
SQLRETURN Tables(SQLHSTMT stmt, const std::optional<std::string>& catalog, const std::optional<std::string>& schema,
                 const std::optional<std::string>& table, const std::optional<std::string>& types);
SQLRETURN Columns(SQLHSTMT stmt, const std::optional<std::string>& catalog, const std::optional<std::string>& schema,
                  const std::optional<std::string>& table, const std::optional<std::string>& column);
SQLRETURN Statistics(SQLHSTMT stmt, const std::optional<std::string>& table, SQLUSMALLINT unique);
SQLRETURN PrimaryKeys(SQLHSTMT stmt, const std::optional<std::string>& table);
SQLRETURN SetConnectAttr(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length);
SQLRETURN GetConnectAttr(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER buffer_length,
                         SQLINTEGER* length);

} // namespace access_driver
