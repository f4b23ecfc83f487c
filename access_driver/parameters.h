#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <sql.h>
#include <sqlext.h>

namespace access_driver {

// Offsets of the `?` markers in a statement: those outside '...' and "..."
// strings and [...] names, the only quoting mdbtools' SQL knows.
std::vector<std::size_t> FindMarkers(std::string_view sql);

// One SQLBindParameter call, as the client made it; the buffers are the
// client's and are read only when the statement runs.
struct ParameterBinding {
  SQLSMALLINT c_type = SQL_C_CHAR;
  SQLSMALLINT sql_type = SQL_VARCHAR;
  SQLPOINTER value = nullptr;
  SQLLEN buffer_length = 0;
  SQLLEN* length_or_indicator = nullptr;
};

// Why a statement could not be written: an SQLSTATE and a message.
struct Refusal {
  std::string sql_state;
  std::string message;
};

// A parameter as mdbtools' SQL can spell it, or why it cannot.
using Literal = std::variant<std::string, Refusal>;

// The literal for one bound value: a quoted string for character SQL types, a
// number for numeric ones, strptime(...) for dates and times.
Literal MakeLiteral(const ParameterBinding& binding);

// The statement with every marker replaced by its parameter's literal; a
// refusal when a parameter is missing or has no safe literal, or when the
// result is longer than mdbtools keeps (it cuts statements silently).
using Substitution = std::variant<std::string, Refusal>;
Substitution Substitute(std::string_view sql, const std::vector<std::size_t>& markers,
                        const std::map<SQLUSMALLINT, ParameterBinding>& parameters);

// mdbtools copies statements into a 4096-byte buffer, cutting longer ones.
inline constexpr std::size_t kMaxStatementBytes = 4095;
// ... and compares text against a 256-byte copy of the literal.
inline constexpr std::size_t kMaxTextLiteralBytes = 255;

}  // namespace access_driver
