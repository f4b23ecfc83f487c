#pragma once

#include <optional>
#include <string>
#include <variant>

#include <sql.h>
#include <sqlext.h>

namespace access_driver {

// An SQLGetInfo answer of the Access driver's own: a string, a 16-bit or a
// 32-bit value. Every other info type is sqliteodbc's to answer.
using InfoValue = std::variant<std::string, SQLUSMALLINT, SQLUINTEGER>;

// What the connection is as a client sees it.
struct ConnectionFacts {
    std::string data_source; // SQL_DATA_SOURCE_NAME
    std::string database;    // the Access file, SQL_DATABASE_NAME
};

// The answers that make this the Access driver (its name, the DBMS it
// reads, the quoting its statements take) and a read-only data source (no
// writes, no definitions, no positioned updates); nullopt for the info types
// sqliteodbc answers truthfully itself (limits, functions, conversions).
std::optional<InfoValue> OwnInfo(SQLUSMALLINT info_type, const ConnectionFacts& connection);

// Whether an info type's answer is a string, for the wide call's conversion.
bool IsStringInfo(SQLUSMALLINT info_type);

// Copies an answer into the client's buffer as SQLGetInfo does: strings
// NUL-terminated, cut to fit with SQL_SUCCESS_WITH_INFO (01004).
SQLRETURN WriteInfo(const InfoValue& value, SQLPOINTER buffer, SQLSMALLINT buffer_length, SQLSMALLINT* string_length);

// Whether SQLGetFunctions should report a function as supported: the calls
// this driver exports that really do something for a client.
bool IsSupportedFunction(SQLUSMALLINT function);

} // namespace access_driver
