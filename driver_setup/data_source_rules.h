#pragma once

#include <string>
#include <vector>

#include "attribute_list.h"
#include "setup_error.h"

namespace tarnwick::setup {

constexpr std::size_t kMaxDataSourceNameLength = 32;

// What a data source name must be to stand as an odbc.ini section header and be
// found again by every client: 1 to 32 bytes of UTF-8, none of the characters
// [ ] { } ( ) , ; ? * = ! @ \, no control characters (U+0000 to U+001F, U+007F
// and U+0080 to U+009F), no blank at either end, and not the name of one of the
// file's own settings sections.
std::vector<SetupError> CheckDataSourceName(const std::string& name);

// The driver name is written as the data source's Driver= value.
std::vector<SetupError> CheckDriverName(const std::string& driver);

// Checks every attribute but DSN for what odbc.ini can hold and read back
// unchanged, and refuses a Driver keyword and keywords given twice.
std::vector<SetupError> CheckAttributes(const std::vector<Attribute>& attributes);

std::vector<SetupError> CheckEntry(const std::string& keyword, const std::string& value);

// The full path of the database file: DBQ when it is absolute, else DefaultDir
// joined with DBQ ('/' added only when DefaultDir lacks it), with the current
// directory standing in for an empty DefaultDir and in front of a relative one.
std::string DatabasePath(const std::string& dbq, const std::string& defaultDir, const std::string& currentDirectory);

} // namespace tarnwick::setup
