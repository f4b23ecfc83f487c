// Access's date functions over the engine's date text 'YYYY-MM-DD HH:MM:SS'
// (or a serial date number). Weeks start on Sunday unless told otherwise.

#include "function_support.h"

#include <cmath>
#include <ctime>

namespace tarnwick::access {
namespace {

// A date argument: Null gives a Null result, anything that is no date an
// error. False when the result is already set.
bool DateArgument(sqlite3_context* context, sqlite3_value* value, DateTime& date) {
    if (IsNull(value)) {
        sqlite3_result_null(context);
        return false;
    }
    const std::optional<DateTime> parsed = DateOf(value);
    if (!parsed) {
        sqlite3_result_error(context, kTypeMismatch, -1);
        return false;
    }
    date = *parsed;
    return true;
}

// An optional whole-number argument such as firstdayofweek; Null or absent
// gives the default.
bool OptionalWhole(sqlite3_context* context, int argc, sqlite3_value** argv, int index, int fallback, int low, int high,
                   int& result) {
    result = fallback;
    if (index >= argc || IsNull(argv[index]))
        return true;
    const std::optional<double> number = NumberOf(argv[index]);
    if (!number || RoundHalfEven(*number) < low || RoundHalfEven(*number) > high) {
        sqlite3_result_error(context, kInvalidCall, -1);
        return false;
    }
    result = static_cast<int>(RoundHalfEven(*number));
    // 0 means the system's setting, which is Sunday and the week of Jan 1.
    if (result == 0)
        result = fallback;
    return true;
}

int64_t DayNumber(const DateTime& date) { return DaysFromCivil(date.year, date.month, date.day); }

// 0 for Sunday, ..., 6 for Saturday; 1970-01-01 was a Thursday.
int DayOfWeek(int64_t days) { return static_cast<int>(((days + 4) % 7 + 7) % 7); }

int Weekday(int64_t days, int firstDayOfWeek) { return (DayOfWeek(days) + 1 - firstDayOfWeek + 7) % 7 + 1; }

int64_t WeekStart(int64_t days, int firstDayOfWeek) { return days - (Weekday(days, firstDayOfWeek) - 1); }

int64_t FloorDivide(int64_t value, int64_t divisor) {
    return value / divisor - ((value % divisor != 0 && (value < 0) != (divisor < 0)) ? 1 : 0);
}

// Week of the year: firstWeekOfYear 1 starts week 1 at the week holding
// January 1, 2 at the first week with four days in the year, 3 at the first
// full week.
int WeekOfYear(const DateTime& date, int firstDayOfWeek, int firstWeekOfYear) {
    const int64_t days = DayNumber(date);
    auto firstWeek = [&](int year) {
        const int64_t january1 = DaysFromCivil(year, 1, 1);
        int64_t start = WeekStart(january1, firstDayOfWeek);
        if ((firstWeekOfYear == 2 && january1 - start > 3) || (firstWeekOfYear == 3 && january1 != start))
            start += 7;
        return start;
    };
    int64_t start = firstWeek(date.year);
    if (days < start)
        start = firstWeek(date.year - 1);
    return static_cast<int>((WeekStart(days, firstDayOfWeek) - start) / 7 + 1);
}

enum class Interval { Year, Quarter, Month, DayOfYear, Day, Weekday, Week, Hour, Minute, Second, Invalid };

Interval IntervalOf(sqlite3_value* value) {
    const std::string text = TextOf(value);
    std::string lower;
    for (char c : text)
        lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    static constexpr std::pair<std::string_view, Interval> names[] = {
        {"yyyy", Interval::Year}, {"q", Interval::Quarter}, {"m", Interval::Month}, {"y", Interval::DayOfYear},
        {"d", Interval::Day},     {"w", Interval::Weekday}, {"ww", Interval::Week}, {"h", Interval::Hour},
        {"n", Interval::Minute},  {"s", Interval::Second}};
    for (const auto& [name, interval] : names)
        if (lower == name)
            return interval;
    return Interval::Invalid;
}

void ResultPart(sqlite3_context* context, sqlite3_value* value, int DateTime::*field) {
    DateTime date;
    if (DateArgument(context, value, date))
        sqlite3_result_int(context, date.*field);
}

void Year(sqlite3_context* context, int, sqlite3_value** argv) { ResultPart(context, argv[0], &DateTime::year); }

void Month(sqlite3_context* context, int, sqlite3_value** argv) { ResultPart(context, argv[0], &DateTime::month); }

void Day(sqlite3_context* context, int, sqlite3_value** argv) { ResultPart(context, argv[0], &DateTime::day); }

void Hour(sqlite3_context* context, int, sqlite3_value** argv) { ResultPart(context, argv[0], &DateTime::hour); }

void Minute(sqlite3_context* context, int, sqlite3_value** argv) { ResultPart(context, argv[0], &DateTime::minute); }

void Second(sqlite3_context* context, int, sqlite3_value** argv) { ResultPart(context, argv[0], &DateTime::second); }

void WeekdayFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
    DateTime date;
    int firstDayOfWeek = 1;
    if (!OptionalWhole(context, argc, argv, 1, 1, 0, 7, firstDayOfWeek) || !DateArgument(context, argv[0], date))
        return;
    sqlite3_result_int(context, Weekday(DayNumber(date), firstDayOfWeek));
}

void ResultCheckedDate(sqlite3_context* context, const DateTime& date) {
    if (!IsInAccessRange(date))
        sqlite3_result_error(context, kInvalidCall, -1);
    else
        ResultDate(context, date);
}

DateTime AddMonths(DateTime date, int64_t months) {
    const int64_t total = date.year * 12LL + (date.month - 1) + months;
    date.year = static_cast<int>(FloorDivide(total, 12));
    date.month = static_cast<int>(total - date.year * 12LL) + 1;
    if (date.year >= 1 && date.year <= 9999)
        date.day = std::min(date.day, DaysInMonth(date.year, date.month));
    return date;
}

// DateAdd(interval, number, date): months clamp to the month's last day.
void DateAdd(sqlite3_context* context, int, sqlite3_value** argv) {
    const Interval interval = IntervalOf(argv[0]);
    if (interval == Interval::Invalid) {
        sqlite3_result_error(context, kInvalidCall, -1);
        return;
    }
    if (IsNull(argv[1])) {
        sqlite3_result_null(context);
        return;
    }
    const std::optional<double> number = NumberOf(argv[1]);
    if (!number) {
        sqlite3_result_error(context, kTypeMismatch, -1);
        return;
    }
    DateTime date;
    if (!DateArgument(context, argv[2], date))
        return;
    const double rounded = RoundHalfEven(*number);
    if (std::fabs(rounded) > 1e12) {
        sqlite3_result_error(context, kInvalidCall, -1);
        return;
    }
    const auto count = static_cast<int64_t>(rounded);
    int64_t seconds = 0;
    switch (interval) {
    case Interval::Year:
        ResultCheckedDate(context, AddMonths(date, count * 12));
        return;
    case Interval::Quarter:
        ResultCheckedDate(context, AddMonths(date, count * 3));
        return;
    case Interval::Month:
        ResultCheckedDate(context, AddMonths(date, count));
        return;
    case Interval::DayOfYear:
    case Interval::Day:
    case Interval::Weekday:
        seconds = count * 86400;
        break;
    case Interval::Week:
        seconds = count * 7 * 86400;
        break;
    case Interval::Hour:
        seconds = count * 3600;
        break;
    case Interval::Minute:
        seconds = count * 60;
        break;
    case Interval::Second:
        seconds = count;
        break;
    case Interval::Invalid:
        return;
    }
    ResultCheckedDate(context, FromEpochSeconds(ToEpochSeconds(date) + seconds));
}

// DateDiff's and DatePart's interval (argv[0]) and their optional first day
// of the week and first week of the year (argv[options], argv[options + 1]).
struct IntervalCall {
    Interval interval = Interval::Invalid;
    int firstDayOfWeek = 1;
    int firstWeekOfYear = 1;
};

bool ReadIntervalCall(sqlite3_context* context, int argc, sqlite3_value** argv, int options, IntervalCall& call) {
    call.interval = IntervalOf(argv[0]);
    if (call.interval == Interval::Invalid) {
        sqlite3_result_error(context, kInvalidCall, -1);
        return false;
    }
    return OptionalWhole(context, argc, argv, options, 1, 0, 7, call.firstDayOfWeek) &&
           OptionalWhole(context, argc, argv, options + 1, 1, 0, 3, call.firstWeekOfYear);
}

// DateDiff counts the boundaries crossed between the two dates: from
// 1999-12-31 to 2000-01-01 is one year, and from 10:59 to 11:00 one hour.
void DateDiff(sqlite3_context* context, int argc, sqlite3_value** argv) {
    IntervalCall call;
    if (!ReadIntervalCall(context, argc, argv, 3, call))
        return;
    const int firstDayOfWeek = call.firstDayOfWeek;
    const Interval interval = call.interval;
    DateTime from;
    DateTime to;
    if (IsNull(argv[1]) || IsNull(argv[2])) {
        sqlite3_result_null(context);
        return;
    }
    if (!DateArgument(context, argv[1], from) || !DateArgument(context, argv[2], to))
        return;
    const int64_t fromSeconds = ToEpochSeconds(from);
    const int64_t toSeconds = ToEpochSeconds(to);
    int64_t result = 0;
    switch (interval) {
    case Interval::Year:
        result = to.year - from.year;
        break;
    case Interval::Quarter:
        result = (to.year * 4LL + (to.month - 1) / 3) - (from.year * 4LL + (from.month - 1) / 3);
        break;
    case Interval::Month:
        result = (to.year * 12LL + to.month) - (from.year * 12LL + from.month);
        break;
    case Interval::DayOfYear:
    case Interval::Day:
        result = DayNumber(to) - DayNumber(from);
        break;
    case Interval::Weekday:
        result = (DayNumber(to) - DayNumber(from)) / 7;
        break;
    case Interval::Week:
        result = (WeekStart(DayNumber(to), firstDayOfWeek) - WeekStart(DayNumber(from), firstDayOfWeek)) / 7;
        break;
    case Interval::Hour:
        result = FloorDivide(toSeconds, 3600) - FloorDivide(fromSeconds, 3600);
        break;
    case Interval::Minute:
        result = FloorDivide(toSeconds, 60) - FloorDivide(fromSeconds, 60);
        break;
    case Interval::Second:
        result = toSeconds - fromSeconds;
        break;
    case Interval::Invalid:
        return;
    }
    sqlite3_result_int64(context, result);
}

void DatePart(sqlite3_context* context, int argc, sqlite3_value** argv) {
    IntervalCall call;
    DateTime date;
    if (!ReadIntervalCall(context, argc, argv, 2, call) || !DateArgument(context, argv[1], date))
        return;
    const auto [interval, firstDayOfWeek, firstWeekOfYear] = call;
    int64_t result = 0;
    switch (interval) {
    case Interval::Year:
        result = date.year;
        break;
    case Interval::Quarter:
        result = (date.month - 1) / 3 + 1;
        break;
    case Interval::Month:
        result = date.month;
        break;
    case Interval::DayOfYear:
        result = DayNumber(date) - DaysFromCivil(date.year, 1, 1) + 1;
        break;
    case Interval::Day:
        result = date.day;
        break;
    case Interval::Weekday:
        result = Weekday(DayNumber(date), firstDayOfWeek);
        break;
    case Interval::Week:
        result = WeekOfYear(date, firstDayOfWeek, firstWeekOfYear);
        break;
    case Interval::Hour:
        result = date.hour;
        break;
    case Interval::Minute:
        result = date.minute;
        break;
    case Interval::Second:
        result = date.second;
        break;
    case Interval::Invalid:
        return;
    }
    sqlite3_result_int64(context, result);
}

// DateSerial(year, month, day): months and days outside their range carry
// over (month 13 is January of the next year, day 0 the last of the month
// before); years 0-29 are 2000-2029 and 30-99 are 1930-1999.
void DateSerial(sqlite3_context* context, int, sqlite3_value** argv) {
    double parts[3] = {};
    for (int i = 0; i < 3; ++i) {
        if (IsNull(argv[i])) {
            sqlite3_result_error(context, kInvalidUseOfNull, -1);
            return;
        }
        const std::optional<double> number = NumberOf(argv[i]);
        if (!number || std::fabs(*number) > 1e7) {
            sqlite3_result_error(context, number ? kInvalidCall : kTypeMismatch, -1);
            return;
        }
        parts[i] = RoundHalfEven(*number);
    }
    auto year = static_cast<int64_t>(parts[0]);
    if (year >= 0 && year < 30)
        year += 2000;
    else if (year >= 30 && year < 100)
        year += 1900;
    DateTime date;
    date.year = 2000; // AddMonths needs a valid start; the year is set below
    date.month = 1;
    date.day = 1;
    const int64_t months = (year - 2000) * 12 + static_cast<int64_t>(parts[1]) - 1;
    date = AddMonths(date, months);
    const int64_t days = DaysFromCivil(date.year, date.month, 1) + static_cast<int64_t>(parts[2]) - 1;
    DateTime result;
    CivilFromDays(days, result.year, result.month, result.day);
    ResultCheckedDate(context, result);
}

DateTime LocalNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    DateTime date;
    date.year = local.tm_year + 1900;
    date.month = local.tm_mon + 1;
    date.day = local.tm_mday;
    date.hour = local.tm_hour;
    date.minute = local.tm_min;
    date.second = std::min(local.tm_sec, 59);
    return date;
}

void Now(sqlite3_context* context, int, sqlite3_value**) { ResultDate(context, LocalNow()); }

// Date(): today at midnight; Time(): the time on day zero, 1899-12-30.
void Date(sqlite3_context* context, int, sqlite3_value**) {
    DateTime date = LocalNow();
    date.hour = date.minute = date.second = 0;
    ResultDate(context, date);
}

void Time(sqlite3_context* context, int, sqlite3_value**) {
    const DateTime now = LocalNow();
    DateTime time;
    time.hour = now.hour;
    time.minute = now.minute;
    time.second = now.second;
    ResultDate(context, time);
}

// DateValue keeps the date of its argument, TimeValue the time (on day zero).
void DateValue(sqlite3_context* context, int, sqlite3_value** argv) {
    DateTime date;
    if (!DateArgument(context, argv[0], date))
        return;
    date.hour = date.minute = date.second = 0;
    ResultDate(context, date);
}

void TimeValue(sqlite3_context* context, int, sqlite3_value** argv) {
    DateTime date;
    if (!DateArgument(context, argv[0], date))
        return;
    DateTime time;
    time.hour = date.hour;
    time.minute = date.minute;
    time.second = date.second;
    ResultDate(context, time);
}

bool Abbreviated(sqlite3_context* context, int argc, sqlite3_value** argv, int index, bool& abbreviate) {
    abbreviate = false;
    if (index >= argc || IsNull(argv[index]))
        return true;
    const std::optional<double> number = NumberOf(argv[index]);
    if (!number) {
        sqlite3_result_error(context, kTypeMismatch, -1);
        return false;
    }
    abbreviate = *number != 0;
    return true;
}

void ResultName(sqlite3_context* context, std::string_view name, bool abbreviate) {
    ResultText(context, std::string(abbreviate ? name.substr(0, 3) : name));
}

void MonthName(sqlite3_context* context, int argc, sqlite3_value** argv) {
    static constexpr std::string_view names[] = {"January", "February", "March",     "April",   "May",      "June",
                                                 "July",    "August",   "September", "October", "November", "December"};
    int month = 0;
    bool abbreviate = false;
    if (IsNull(argv[0])) {
        sqlite3_result_error(context, kInvalidUseOfNull, -1);
        return;
    }
    if (!OptionalWhole(context, argc, argv, 0, 0, 1, 12, month) || !Abbreviated(context, argc, argv, 1, abbreviate))
        return;
    ResultName(context, names[month - 1], abbreviate);
}

void WeekdayName(sqlite3_context* context, int argc, sqlite3_value** argv) {
    static constexpr std::string_view names[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                 "Thursday", "Friday", "Saturday"};
    int day = 0;
    int firstDayOfWeek = 1;
    bool abbreviate = false;
    if (IsNull(argv[0])) {
        sqlite3_result_error(context, kInvalidUseOfNull, -1);
        return;
    }
    if (!OptionalWhole(context, argc, argv, 0, 0, 1, 7, day) || !Abbreviated(context, argc, argv, 1, abbreviate) ||
        !OptionalWhole(context, argc, argv, 2, 1, 0, 7, firstDayOfWeek))
        return;
    ResultName(context, names[(day - 1 + firstDayOfWeek - 1) % 7], abbreviate);
}

constexpr FunctionEntry kDateFunctions[] = {
    {"Year", 1, true, Year},
    {"Month", 1, true, Month},
    {"Day", 1, true, Day},
    {"Hour", 1, true, Hour},
    {"Minute", 1, true, Minute},
    {"Second", 1, true, Second},
    {"Weekday", 1, true, WeekdayFunction},
    {"Weekday", 2, true, WeekdayFunction},
    {"DateAdd", 3, true, DateAdd},
    {"DateDiff", 3, true, DateDiff},
    {"DateDiff", 4, true, DateDiff},
    {"DateDiff", 5, true, DateDiff},
    {"DatePart", 2, true, DatePart},
    {"DatePart", 3, true, DatePart},
    {"DatePart", 4, true, DatePart},
    {"DateSerial", 3, true, DateSerial},
    {"DateValue", 1, true, DateValue},
    {"TimeValue", 1, true, TimeValue},
    {"MonthName", 1, true, MonthName},
    {"MonthName", 2, true, MonthName},
    {"WeekdayName", 1, true, WeekdayName},
    {"WeekdayName", 2, true, WeekdayName},
    {"WeekdayName", 3, true, WeekdayName},
    {"Now", 0, false, Now},
    {"Date", 0, false, Date},
    {"Time", 0, false, Time},
};

int CompareDates(void*, int aSize, const void* a, int bSize, const void* b) {
    const int order = CompareDateTexts(std::string_view(static_cast<const char*>(a), static_cast<size_t>(aSize)),
                                       std::string_view(static_cast<const char*>(b), static_cast<size_t>(bSize)));
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

} // namespace

// The collation of Date/Time columns, ACCESSDATE: a date bound or written as
// text compares as the date it names, as Access converts it.
int RegisterDateFunctions(sqlite3* db) {
    const int rc = sqlite3_create_collation_v2(db, "ACCESSDATE", SQLITE_UTF8, nullptr, CompareDates, nullptr);
    if (rc != SQLITE_OK)
        return rc;
    return RegisterFunctions(db, kDateFunctions, std::size(kDateFunctions));
}

} // namespace tarnwick::access
