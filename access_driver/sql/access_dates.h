#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::access {

// A Date/Time value as the engine stores it: text 'YYYY-MM-DD HH:MM:SS', a
// date alone being midnight and a time alone falling on Access's day zero,
// 1899-12-30.
struct DateTime {
    int year = 1899;
    int month = 12;
    int day = 30;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Reads a date the way Access reads the inside of #...# and CDate's text:
// 1996-01-31, 1996/1/31, 1/31/1996 (US order; 31/1/1996 when the month
// cannot be the first number), 1/31/96, 31-Jan-1996, January 31, 1996, with
// an optional time h:nn[:ss] [AM|PM], or a time alone. Nothing on failure.
std::optional<DateTime> ParseAccessDate(std::string_view text);

std::string FormatStoredDate(const DateTime& value);

// A text compared with a Date/Time column, in the stored form when it names a
// date Access can hold ('1996-01-31', '1996-01-31T10:00', '1/31/1996', or
// '1996-01-31 10:00:00.000' as ODBC drivers write a bound timestamp); any
// other text as it is. Stored values are their own form.
std::string StoredDateForm(std::string_view text);

// The order of Date/Time values compared as text: by StoredDateForm, so a
// date bound as '1996-01-31' equals the stored '1996-01-31 00:00:00'.
int CompareDateTexts(std::string_view a, std::string_view b);

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int year, int month, int day);
void CivilFromDays(int64_t days, int& year, int& month, int& day);

// Seconds since 1970-01-01 00:00:00 (no time zone), and back. The range of
// years is checked by the caller: Access's is 100 to 9999.
int64_t ToEpochSeconds(const DateTime& value);
DateTime FromEpochSeconds(int64_t seconds);
bool IsInAccessRange(const DateTime& value);

// Access's serial date: days since 1899-12-30, time as the fraction. Before
// day zero the fraction still counts forward from midnight, as Access does.
double ToSerial(const DateTime& value);
std::optional<DateTime> FromSerial(double serial);

} // namespace tarnwick::access
