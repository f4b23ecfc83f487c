#pragma once

#include <string>
#include <string_view>

#include <sql.h>
#include <sqlucode.h>

namespace access_driver {

// The wide calls carry UTF-16 (SQLWCHAR, surrogate pairs for characters
// beyond the BMP); sqliteodbc and SQLite take UTF-8. A lone surrogate or an
// invalid UTF-8 byte becomes U+FFFD.
std::string ToUtf8(const SQLWCHAR* text, SQLINTEGER length); // length in characters or SQL_NTS
std::u16string ToUtf16(std::string_view utf8);

// Copies UTF-8 text into a client's wide buffer of `buffer_chars` characters,
// NUL-terminated, cut to fit. `length` gets the full length in characters;
// true when the text was cut.
bool WriteWide(std::string_view utf8, SQLWCHAR* buffer, SQLINTEGER buffer_chars, SQLINTEGER* length);

} // namespace access_driver
