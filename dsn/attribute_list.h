#pragma once

#include <string>
#include <vector>

namespace dsn {

// The data source's attributes as one semicolon-separated text. The three %s
// take, in this order, the DSN name, the database file name and the directory.
inline constexpr char AttributeTemplate[] =
    "DSN=%s;FIL=MS Access;JetIniPath=odbcddp.ini;DBQ=%s;DefaultDir=%s;Description=;UID=;PWD=;;";

// The template with the values put in verbatim (no quoting, escaping or
// trimming). Unlike a fixed buffer, the result is as long as the values need,
// so it is never cut short and never overruns. A null value counts as empty.
std::string FormatAttributeText(const char* dsnName, const char* database, const char* directory);

// The installer's form of the list: the formatted text and its terminating
// NUL, with every ';' turned into NUL. It ends in three NULs after "PWD=".
std::vector<char> BuildAttributeList(const char* dsnName, const char* database, const char* directory);

} // namespace dsn

// Turns every ';' of the NUL-terminated text into NUL, in place. The length is
// taken once, before the first change: taken again it would stop at the first
// converted separator.
void ReplaceSemicolons(char* text);
