#include "access_dates.h"

#include "ascii_text.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

namespace tarnwick::access {
namespace {

constexpr int64_t kSecondsPerDay = 86400;
// 1899-12-30 counted from 1970-01-01.
constexpr int64_t kSerialDayZero = -25569;

struct Piece {
    enum Kind { Number, Word, Separator } kind;
    std::string_view text;
};

std::vector<Piece> SplitPieces(std::string_view text) {
    std::vector<Piece> pieces;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        size_t end = i + 1;
        if (c >= '0' && c <= '9') {
            while (end < text.size() && text[end] >= '0' && text[end] <= '9')
                ++end;
            pieces.push_back({Piece::Number, text.substr(i, end - i)});
        } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
            while (end < text.size() && ((AsciiLower(text[end]) >= 'a' && AsciiLower(text[end]) <= 'z')))
                ++end;
            pieces.push_back({Piece::Word, text.substr(i, end - i)});
        } else if (c == ' ' || c == '\t') {
            // White space only separates.
        } else {
            pieces.push_back({Piece::Separator, text.substr(i, 1)});
        }
        i = end;
    }
    return pieces;
}

std::optional<int> ToInt(std::string_view digits) {
    if (digits.empty() || digits.size() > 6)
        return std::nullopt;
    int value = 0;
    for (char c : digits)
        value = value * 10 + (c - '0');
    return value;
}

// 1 to 12 for an English month name or its three-letter abbreviation.
int MonthFromName(std::string_view word) {
    static constexpr std::array<std::string_view, 12> names = {"january",   "february", "march",    "april",
                                                               "may",       "june",     "july",     "august",
                                                               "september", "october",  "november", "december"};
    for (size_t i = 0; i < names.size(); ++i)
        if (EqualsIgnoringAsciiCase(word, names[i]) ||
            (word.size() == 3 && EqualsIgnoringAsciiCase(word, names[i].substr(0, 3))) ||
            (EqualsIgnoringAsciiCase(word, "sept") && i == 8))
            return static_cast<int>(i + 1);
    return 0;
}

int ExpandYear(std::string_view digits, int year) {
    // Access's two-digit years: 00-29 are this century, 30-99 the last.
    if (digits.size() <= 2)
        return year < 30 ? 2000 + year : 1900 + year;
    return year;
}

bool ParseTime(const std::vector<Piece>& pieces, size_t from, DateTime& value) {
    std::vector<int> fields;
    int meridiem = 0; // 1 AM, 2 PM
    bool fraction = false;
    for (size_t i = from; i < pieces.size(); ++i) {
        const Piece& piece = pieces[i];
        if (piece.kind == Piece::Number) {
            if (fraction) {
                fraction = false; // fractions of a second are dropped
                continue;
            }
            const auto number = ToInt(piece.text);
            if (!number || fields.size() == 3 || meridiem)
                return false;
            fields.push_back(*number);
        } else if (piece.kind == Piece::Word) {
            if (meridiem || fields.empty())
                return false;
            if (EqualsIgnoringAsciiCase(piece.text, "am") || EqualsIgnoringAsciiCase(piece.text, "a"))
                meridiem = 1;
            else if (EqualsIgnoringAsciiCase(piece.text, "pm") || EqualsIgnoringAsciiCase(piece.text, "p"))
                meridiem = 2;
            else
                return false;
        } else if (piece.text == ".") {
            if (fields.size() != 3)
                return false;
            fraction = true;
        } else if (piece.text != ":") {
            return false;
        }
    }
    if (fields.empty() || (fields.size() == 1 && !meridiem))
        return false;
    fields.resize(3, 0);
    int hour = fields[0];
    if (meridiem) {
        if (hour < 1 || hour > 12)
            return false;
        hour = hour % 12 + (meridiem == 2 ? 12 : 0);
    }
    if (hour > 23 || fields[1] > 59 || fields[2] > 59)
        return false;
    value.hour = hour;
    value.minute = fields[1];
    value.second = fields[2];
    return true;
}

bool ParseDatePart(const std::vector<Piece>& pieces, size_t end, DateTime& value) {
    std::vector<std::string_view> numbers;
    int monthByName = 0;
    for (size_t i = 0; i < end; ++i) {
        const Piece& piece = pieces[i];
        if (piece.kind == Piece::Number) {
            numbers.push_back(piece.text);
        } else if (piece.kind == Piece::Word) {
            // The T of 1996-01-31T10:30:00 joins date and time.
            if (EqualsIgnoringAsciiCase(piece.text, "t") && i + 1 == end)
                continue;
            const int month = MonthFromName(piece.text);
            if (month == 0 || monthByName)
                return false;
            monthByName = month;
        } else if (piece.text != "/" && piece.text != "-" && piece.text != "." && piece.text != ",") {
            return false;
        }
    }
    int year = 0;
    int month = 0;
    int day = 0;
    std::string_view yearDigits;
    if (monthByName) {
        if (numbers.size() != 2)
            return false;
        // 31-Jan-1996, Jan 31, 1996 or 1996 Jan 31: the four-digit number is the year.
        const bool yearFirst = numbers[0].size() > 2;
        yearDigits = yearFirst ? numbers[0] : numbers[1];
        year = *ToInt(yearDigits);
        day = *ToInt(yearFirst ? numbers[1] : numbers[0]);
        month = monthByName;
    } else {
        if (numbers.size() != 3)
            return false;
        if (numbers[0].size() > 2) {
            yearDigits = numbers[0];
            year = *ToInt(numbers[0]);
            month = *ToInt(numbers[1]);
            day = *ToInt(numbers[2]);
        } else {
            yearDigits = numbers[2];
            month = *ToInt(numbers[0]);
            day = *ToInt(numbers[1]);
            year = *ToInt(numbers[2]);
            // Access reads 31/1/1996 as day/month when it cannot be month/day.
            if (month > 12 && day <= 12)
                std::swap(month, day);
        }
    }
    if (yearDigits.size() > 4)
        return false;
    year = ExpandYear(yearDigits, year);
    if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
        return false;
    value.year = year;
    value.month = month;
    value.day = day;
    return true;
}

} // namespace

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

// Howard Hinnant's days_from_civil / civil_from_days.
int64_t DaysFromCivil(int year, int month, int day) {
    const int64_t y = static_cast<int64_t>(year) - (month <= 2 ? 1 : 0);
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t days, int& year, int& month, int& day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

int64_t ToEpochSeconds(const DateTime& value) {
    return DaysFromCivil(value.year, value.month, value.day) * kSecondsPerDay + value.hour * 3600 + value.minute * 60 +
           value.second;
}

DateTime FromEpochSeconds(int64_t seconds) {
    int64_t days = seconds / kSecondsPerDay;
    int64_t rest = seconds % kSecondsPerDay;
    if (rest < 0) {
        rest += kSecondsPerDay;
        --days;
    }
    DateTime value;
    CivilFromDays(days, value.year, value.month, value.day);
    value.hour = static_cast<int>(rest / 3600);
    value.minute = static_cast<int>(rest / 60 % 60);
    value.second = static_cast<int>(rest % 60);
    return value;
}

bool IsInAccessRange(const DateTime& value) { return value.year >= 100 && value.year <= 9999; }

double ToSerial(const DateTime& value) {
    const double days = static_cast<double>(DaysFromCivil(value.year, value.month, value.day) - kSerialDayZero);
    const double time = (value.hour * 3600 + value.minute * 60 + value.second) / 86400.0;
    // Access keeps the time as a positive fraction even before day zero: -1.25 is 1899-12-29 06:00.
    return days < 0 ? days - time : days + time;
}

std::optional<DateTime> FromSerial(double serial) {
    if (!std::isfinite(serial) || serial < -657434.0 || serial >= 2958466.0)
        return std::nullopt;
    const double whole = std::trunc(serial);
    const double fraction = std::fabs(serial - whole);
    auto seconds = static_cast<int64_t>(std::llround(fraction * kSecondsPerDay));
    auto days = static_cast<int64_t>(whole);
    if (seconds >= kSecondsPerDay) {
        seconds -= kSecondsPerDay;
        days += serial < 0 ? -1 : 1;
    }
    DateTime value = FromEpochSeconds((days + kSerialDayZero) * kSecondsPerDay + seconds);
    if (!IsInAccessRange(value))
        return std::nullopt;
    return value;
}

std::optional<DateTime> ParseAccessDate(std::string_view text) {
    const std::vector<Piece> pieces = SplitPieces(text);
    // The time starts at the first number followed by ':' or by AM/PM.
    size_t timeStart = pieces.size();
    for (size_t i = 0; i + 1 < pieces.size(); ++i) {
        if (pieces[i].kind != Piece::Number)
            continue;
        const Piece& next = pieces[i + 1];
        if ((next.kind == Piece::Separator && next.text == ":") ||
            (next.kind == Piece::Word &&
             (EqualsIgnoringAsciiCase(next.text, "am") || EqualsIgnoringAsciiCase(next.text, "pm")))) {
            timeStart = i;
            break;
        }
    }
    DateTime value;
    if (timeStart > 0 && !ParseDatePart(pieces, timeStart, value))
        return std::nullopt;
    if (timeStart < pieces.size() && !ParseTime(pieces, timeStart, value))
        return std::nullopt;
    if (pieces.empty())
        return std::nullopt;
    return value;
}

std::string FormatStoredDate(const DateTime& value) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", value.year, value.month, value.day, value.hour,
                  value.minute, value.second);
    return text;
}

namespace {

// 'YYYY-MM-DD HH:MM:SS' exactly, as every stored value is.
bool IsStoredForm(std::string_view text) {
    static constexpr std::string_view kShape = "0000-00-00 00:00:00";
    if (text.size() != kShape.size())
        return false;
    for (size_t i = 0; i < kShape.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kShape[i] == '0' ? !digit : text[i] != kShape[i])
            return false;
    }
    return true;
}

} // namespace

std::string StoredDateForm(std::string_view text) {
    if (IsStoredForm(text))
        return std::string(text);
    std::string_view trimmed = text;
    // A fraction of zeros after the seconds adds nothing: Access stores whole seconds.
    if (const size_t dot = trimmed.rfind('.'); dot != std::string_view::npos && dot > 0 && dot + 1 < trimmed.size() &&
                                               trimmed.find_first_not_of('0', dot + 1) == std::string_view::npos &&
                                               trimmed.substr(0, dot).find(':') != std::string_view::npos) {
        trimmed = trimmed.substr(0, dot);
    }
    // ISO 8601's 'T' between date and time.
    std::string spaced(trimmed);
    if (spaced.size() > 10 && spaced[10] == 'T' && spaced[4] == '-')
        spaced[10] = ' ';
    const auto parsed = ParseAccessDate(spaced);
    if (!parsed || !IsInAccessRange(*parsed))
        return std::string(text);
    return FormatStoredDate(*parsed);
}

int CompareDateTexts(std::string_view a, std::string_view b) {
    if (IsStoredForm(a) && IsStoredForm(b))
        return a.compare(b);
    return StoredDateForm(a).compare(StoredDateForm(b));
}

} // namespace tarnwick::access
