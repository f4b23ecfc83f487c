#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include <sql.h>
#include <sqlext.h>

namespace access_driver {

// An SQLGetInfo answer: a string, a 16-bit or a 32-bit value, or "ask
// mdbtools" for the few it answers truthfully itself (its name and version).
struct AskMdbtools {
  bool operator==(const AskMdbtools&) const = default;
};
using InfoValue = std::variant<std::string, SQLUSMALLINT, SQLUINTEGER, AskMdbtools>;

// What this data source is (read-only, one file, no catalogs or schemas, no
// transactions, forward-only cursors, mdbtools' small SELECT); nullopt for an
// info type it does not know. data_source_name fills SQL_DATA_SOURCE_NAME.
std::optional<InfoValue> InfoFor(SQLUSMALLINT info_type, const std::string& data_source_name);

// Copies an answer into the client's buffer as SQLGetInfo does: strings
// NUL-terminated, cut to fit with SQL_SUCCESS_WITH_INFO (01004).
SQLRETURN WriteInfo(const InfoValue& value, SQLPOINTER buffer, SQLSMALLINT buffer_length,
                    SQLSMALLINT* string_length);

// What mdbtools says about one result column, as the column attributes are
// derived from it.
struct ColumnFacts {
  std::string name;
  std::string type_name;
  SQLSMALLINT sql_type = SQL_UNKNOWN_TYPE;
  SQLULEN size = 0;
  SQLSMALLINT decimal_digits = 0;
  SQLSMALLINT nullable = SQL_NULLABLE_UNKNOWN;
  SQLLEN display_size = 0;
  SQLSMALLINT column_count = 0;
};

using ColumnAttribute = std::variant<std::string, SQLLEN>;

// SQLColAttribute's answer for one field of a read-only result column;
// nullopt for a field it does not know.
std::optional<ColumnAttribute> ColumnAttributeFor(SQLUSMALLINT field, const ColumnFacts& facts);

// Whether SQLGetFunctions should report a function as supported: the calls
// this driver exports that really do something for a client.
bool IsSupportedFunction(SQLUSMALLINT function);

}  // namespace access_driver
