#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace access_driver {

// Keywords compare without case, as ODBC has them: DSN=, dsn= and Dsn= are
// one keyword.
struct CaseInsensitiveLess {
    bool operator()(const std::string& a, const std::string& b) const;
};
using ConnectionAttributes = std::map<std::string, std::string, CaseInsensitiveLess>;

// The pairs of an ODBC connection string, "KEY=value;KEY={value; with ;};".
// A value in braces may hold ';' ('}}' is one '}'); the first pair of a
// keyword counts, as in the driver manager. nullopt for an unterminated brace.
std::optional<ConnectionAttributes> ParseConnectionString(std::string_view text);

// The Access file a data source names: DBQ (relative to DefaultDir when it is
// not absolute), else Database. `lookup` answers a key from the connection
// string first, then from the data source's entry in odbc.ini. Empty when
// neither names a file.
std::string DatabasePath(const std::function<std::string(const char* key)>& lookup);

// sqliteodbc's connection string: an in-memory database that loads `extension`
// (this library), rows streamed as they are fetched, and no transactions of
// its own (nothing is ever written). nullopt when the path cannot be written
// inside a connection string.
std::optional<std::string> BackendConnectionString(const std::string& extension);

} // namespace access_driver
