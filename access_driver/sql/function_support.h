#pragma once

// What Access's functions share: reading SQLite values the way Access
// converts its Variants, and the registration table.

#include "access_dates.h"

#include <sqlite3.h>

#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::access {

// Access's run-time error texts, as its functions raise them.
inline constexpr const char* kInvalidUseOfNull = "Invalid use of Null";
inline constexpr const char* kTypeMismatch = "Type mismatch";
inline constexpr const char* kInvalidCall = "Invalid procedure call or argument";
inline constexpr const char* kOverflow = "Overflow";
inline constexpr const char* kDivisionByZero = "Division by zero";

bool IsNull(sqlite3_value* value);

// A number from a number, or from text that is wholly a number (spaces around
// allowed); nothing for other text and blobs.
std::optional<double> NumberOf(sqlite3_value* value);
std::optional<double> ParseNumberText(std::string_view text);

// A date from the engine's date text, Access's date text, or a serial number.
std::optional<DateTime> DateOf(sqlite3_value* value);

// The text Access gives a value: numbers as CStr prints them.
std::string TextOf(sqlite3_value* value);
std::string NumberText(double number);

// Round half to even, Access's Round and its conversions' rounding.
double RoundHalfEven(double value);

void ResultText(sqlite3_context* context, const std::string& text);
void ResultDate(sqlite3_context* context, const DateTime& value);

struct FunctionEntry {
    const char* name;
    int arguments; // -1: any number
    bool deterministic;
    void (*function)(sqlite3_context*, int, sqlite3_value**);
};

// The entries must outlive the connection (static tables).
int RegisterFunctions(sqlite3* db, const FunctionEntry* entries, size_t count);

// Sets SQLite's "string or blob too big" when a result of `size` bytes (or
// characters, a lower bound) would pass the connection's length limit, before
// the result is built.
bool ResultTooBig(sqlite3_context* context, size_t size);

// Each group's table, registered by RegisterAccessFunctions.
int RegisterTextAndNumberFunctions(sqlite3* db);
int RegisterDateFunctions(sqlite3* db);
int RegisterFormatFunction(sqlite3* db);
int RegisterCollationAndLike(sqlite3* db);

// Unicode helpers shared by the text functions and LIKE: code points of
// UTF-8 text (invalid bytes are taken as U+FFFD), and back.
std::u32string DecodeUtf8(std::string_view text);
std::string EncodeUtf8(std::u32string_view text);
char32_t FoldCase(char32_t c);
char32_t ToUpper(char32_t c);
char32_t ToLower(char32_t c);

} // namespace tarnwick::access
