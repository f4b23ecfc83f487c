// Access's Format(value[, format]): the named formats and the custom date and
// number patterns, with the United States English conventions (m/d/yyyy,
// $1,234.50) that Access uses under that locale.

#include "ascii_text.h"
#include "function_support.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace tarnwick::access {
namespace {

constexpr std::array<std::string_view, 12> kMonthNames = {"January",   "February", "March",    "April",
                                                          "May",       "June",     "July",     "August",
                                                          "September", "October",  "November", "December"};
constexpr std::array<std::string_view, 7> kDayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                       "Thursday", "Friday", "Saturday"};

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

std::string TwoDigits(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", value % 100);
    return text;
}

int DayOfWeek(const DateTime& date) {
    const int64_t days = DaysFromCivil(date.year, date.month, date.day);
    return static_cast<int>(((days + 4) % 7 + 7) % 7);
}

std::string FormatDate(const DateTime& date, std::string_view pattern);

std::string GeneralDate(const DateTime& date) {
    const bool dayZero = date.year == 1899 && date.month == 12 && date.day == 30;
    const bool midnight = date.hour == 0 && date.minute == 0 && date.second == 0;
    if (dayZero)
        return FormatDate(date, "h:nn:ss AM/PM");
    if (midnight)
        return FormatDate(date, "m/d/yyyy");
    return FormatDate(date, "m/d/yyyy h:nn:ss AM/PM");
}

size_t RunLength(std::string_view pattern, size_t i) {
    size_t end = i;
    while (end < pattern.size() && AsciiLower(pattern[end]) == AsciiLower(pattern[i]))
        ++end;
    return end - i;
}

bool HasMeridiem(std::string_view pattern) {
    for (size_t i = 0; i < pattern.size(); ++i)
        if (StartsWithNoCase(pattern.substr(i), "AM/PM") || StartsWithNoCase(pattern.substr(i), "A/P") ||
            StartsWithNoCase(pattern.substr(i), "AMPM"))
            return true;
    return false;
}

std::string FormatDate(const DateTime& date, std::string_view pattern) {
    const bool twelveHour = HasMeridiem(pattern);
    std::string text;
    bool afterHour = false; // m right after h is minutes
    size_t i = 0;
    while (i < pattern.size()) {
        const char c = pattern[i];
        const char lower = AsciiLower(c);
        const std::string_view rest = pattern.substr(i);
        if (c == '"') {
            const size_t close = pattern.find('"', i + 1);
            const size_t end = close == std::string_view::npos ? pattern.size() : close;
            text += pattern.substr(i + 1, end - i - 1);
            i = end + 1;
            continue;
        }
        if (c == '\\' && i + 1 < pattern.size()) {
            text += pattern[i + 1];
            i += 2;
            continue;
        }
        if (StartsWithNoCase(rest, "AM/PM")) {
            const bool upper = c == 'A';
            text += date.hour < 12 ? (upper ? "AM" : "am") : (upper ? "PM" : "pm");
            i += 5;
            continue;
        }
        if (StartsWithNoCase(rest, "AMPM")) {
            text += date.hour < 12 ? "AM" : "PM";
            i += 4;
            continue;
        }
        if (StartsWithNoCase(rest, "A/P")) {
            const bool upper = c == 'A';
            text += date.hour < 12 ? (upper ? "A" : "a") : (upper ? "P" : "p");
            i += 3;
            continue;
        }
        const size_t run = RunLength(pattern, i);
        switch (lower) {
        case 'c':
            text += GeneralDate(date);
            i += 1;
            continue;
        case 'd':
            if (run >= 6)
                text += FormatDate(date, "dddd, mmmm d, yyyy");
            else if (run == 5)
                text += FormatDate(date, "m/d/yyyy");
            else if (run == 4)
                text += kDayNames[static_cast<size_t>(DayOfWeek(date))];
            else if (run == 3)
                text += kDayNames[static_cast<size_t>(DayOfWeek(date))].substr(0, 3);
            else
                text += run == 2 ? TwoDigits(date.day) : std::to_string(date.day);
            i += std::min<size_t>(run, 6);
            afterHour = false;
            continue;
        case 'w':
            if (run >= 2) {
                const int64_t days = DaysFromCivil(date.year, date.month, date.day);
                const int64_t january1 = DaysFromCivil(date.year, 1, 1);
                const int64_t firstWeekStart = january1 - ((january1 + 4) % 7 + 7) % 7;
                text += std::to_string((days - firstWeekStart) / 7 + 1);
                i += 2;
            } else {
                text += std::to_string(DayOfWeek(date) + 1);
                i += 1;
            }
            continue;
        case 'm':
            if (afterHour && run <= 2) {
                text += run == 2 ? TwoDigits(date.minute) : std::to_string(date.minute);
            } else if (run >= 4) {
                text += kMonthNames[static_cast<size_t>(date.month - 1)];
            } else if (run == 3) {
                text += kMonthNames[static_cast<size_t>(date.month - 1)].substr(0, 3);
            } else {
                text += run == 2 ? TwoDigits(date.month) : std::to_string(date.month);
            }
            i += std::min<size_t>(run, 4);
            afterHour = false;
            continue;
        case 'q':
            text += std::to_string((date.month - 1) / 3 + 1);
            i += 1;
            continue;
        case 'y':
            if (run >= 4) {
                char year[8];
                std::snprintf(year, sizeof year, "%04d", date.year);
                text += year;
                i += 4;
            } else if (run >= 2) {
                text += TwoDigits(date.year);
                i += 2;
            } else {
                text +=
                    std::to_string(DaysFromCivil(date.year, date.month, date.day) - DaysFromCivil(date.year, 1, 1) + 1);
                i += 1;
            }
            continue;
        case 'h': {
            int hour = date.hour;
            if (twelveHour)
                hour = hour % 12 == 0 ? 12 : hour % 12;
            text += run >= 2 ? TwoDigits(hour) : std::to_string(hour);
            i += std::min<size_t>(run, 2);
            afterHour = true;
            continue;
        }
        case 'n':
            text += run >= 2 ? TwoDigits(date.minute) : std::to_string(date.minute);
            i += std::min<size_t>(run, 2);
            continue;
        case 's':
            text += run >= 2 ? TwoDigits(date.second) : std::to_string(date.second);
            i += std::min<size_t>(run, 2);
            continue;
        case 't':
            if (run >= 5) {
                text += FormatDate(date, "h:nn:ss AM/PM");
                i += 5;
                continue;
            }
            break;
        default:
            break;
        }
        if (c != ' ' && c != ':' && c != '/' && c != '-' && c != ',' && c != '.')
            afterHour = false;
        text += c;
        ++i;
    }
    return text;
}

// The decimal digits of |value| rounded half away from zero to `decimals`
// places, from its 15 significant digits as Access sees a Double: 1.005
// with two decimals is 1.01. Returns integer and fraction digits.
std::pair<std::string, std::string> DecimalDigits(double value, int decimals) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.14e", std::fabs(value));
    std::string digits;
    digits += buffer[0];
    digits += std::string(buffer + 2, 14);
    int exponent = std::atoi(buffer + 17);
    if (value == 0)
        exponent = 0;
    // digits d1..d15 mean 0.d1d2... x 10^(exponent + 1)
    int integerDigits = exponent + 1;
    const int keep = integerDigits + decimals;
    if (keep < 0) {
        digits.clear();
    } else if (keep < static_cast<int>(digits.size())) {
        const bool roundUp = digits[static_cast<size_t>(keep)] >= '5';
        digits.resize(static_cast<size_t>(keep));
        if (roundUp) {
            int k = keep - 1;
            while (k >= 0 && digits[static_cast<size_t>(k)] == '9')
                digits[static_cast<size_t>(k--)] = '0';
            if (k >= 0) {
                ++digits[static_cast<size_t>(k)];
            } else {
                digits.insert(digits.begin(), '1');
                ++integerDigits;
            }
        }
    }
    if (value == 0)
        digits.clear();
    std::string integer;
    std::string fraction;
    for (int position = 0; position < integerDigits; ++position)
        integer += position < static_cast<int>(digits.size()) ? digits[static_cast<size_t>(position)] : '0';
    for (int position = integerDigits; position < integerDigits + decimals; ++position)
        fraction +=
            position >= 0 && position < static_cast<int>(digits.size()) ? digits[static_cast<size_t>(position)] : '0';
    const size_t firstNonZero = integer.find_first_not_of('0');
    integer = firstNonZero == std::string::npos ? "" : integer.substr(firstNonZero);
    return {integer, fraction};
}

std::string Group(const std::string& integer) {
    std::string grouped;
    for (size_t i = 0; i < integer.size(); ++i) {
        if (i > 0 && (integer.size() - i) % 3 == 0)
            grouped += ',';
        grouped += integer[i];
    }
    return grouped;
}

bool IsPlaceholder(char c) { return c == '0' || c == '#' || c == '.' || c == ','; }

// One section of a custom number format, such as "#,##0.00", "0.0%" or
// "$#,##0;($#,##0)"'s parts; literals before and after the digits stay.
std::string FormatNumberSection(double value, std::string_view section) {
    int integerZeros = 0;
    int decimalZeros = 0;
    int decimalHashes = 0;
    int exponentZeros = 0;
    bool point = false;
    bool thousands = false;
    bool percent = false;
    bool scientific = false;
    bool exponentPlus = false;
    for (size_t i = 0; i < section.size(); ++i) {
        const char c = section[i];
        if (c == '"') {
            const size_t close = section.find('"', i + 1);
            i = close == std::string_view::npos ? section.size() : close;
        } else if (c == '\\') {
            ++i;
        } else if (scientific) {
            if (c == '0' || c == '#')
                ++exponentZeros;
        } else if ((c == 'E' || c == 'e') && i + 1 < section.size() &&
                   (section[i + 1] == '+' || section[i + 1] == '-')) {
            scientific = true;
            exponentPlus = section[i + 1] == '+';
            ++i;
        } else if (c == '.') {
            point = true;
        } else if (c == ',' && !point) {
            thousands = true;
        } else if (c == '%') {
            percent = true;
        } else if (c == '0') {
            (point ? decimalZeros : integerZeros)++;
        } else if (c == '#' && point) {
            ++decimalHashes;
        }
    }
    if (percent)
        value *= 100;
    const int decimals = decimalZeros + decimalHashes;
    std::string number;
    if (scientific) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.*e", decimals, std::fabs(value));
        const std::string_view text(buffer);
        const size_t e = text.find('e');
        const int exponent = std::atoi(buffer + e + 1);
        std::string mantissa(text.substr(0, e));
        char exponentText[16];
        std::snprintf(exponentText, sizeof exponentText, "%0*d", std::clamp(exponentZeros, 1, 5), std::abs(exponent));
        number = mantissa + "E" + (exponent < 0 ? "-" : exponentPlus ? "+" : "") + exponentText;
    } else {
        auto [integer, fraction] = DecimalDigits(value, decimals);
        while (static_cast<int>(fraction.size()) > decimalZeros && fraction.back() == '0')
            fraction.pop_back();
        while (static_cast<int>(integer.size()) < integerZeros)
            integer.insert(integer.begin(), '0');
        number = (thousands ? Group(integer) : integer) + (point ? "." + fraction : "");
    }
    std::string text;
    bool numberWritten = false;
    for (size_t i = 0; i < section.size(); ++i) {
        const char c = section[i];
        if (c == '"') {
            const size_t close = section.find('"', i + 1);
            const size_t end = close == std::string_view::npos ? section.size() : close;
            text += section.substr(i + 1, end - i - 1);
            i = end;
        } else if (c == '\\' && i + 1 < section.size()) {
            text += section[++i];
        } else if (IsPlaceholder(c) || ((c == 'E' || c == 'e') && scientific)) {
            if (!numberWritten)
                text += number;
            numberWritten = true;
            if (c == 'E' || c == 'e') {
                ++i;
                while (i + 1 < section.size() && (section[i + 1] == '0' || section[i + 1] == '#'))
                    ++i;
            }
        } else {
            text += c;
        }
    }
    return text;
}

std::vector<std::string_view> SplitSections(std::string_view format) {
    std::vector<std::string_view> sections;
    size_t start = 0;
    bool quoted = false;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '"')
            quoted = !quoted;
        else if (format[i] == '\\')
            ++i;
        else if (format[i] == ';' && !quoted) {
            sections.push_back(format.substr(start, i - start));
            start = i + 1;
        }
    }
    sections.push_back(format.substr(start));
    return sections;
}

// Up to four sections: positive; negative; zero; Null.
std::string FormatNumber(double value, std::string_view format) {
    const std::vector<std::string_view> sections = SplitSections(format);
    if (value < 0 && sections.size() > 1 && !sections[1].empty())
        return FormatNumberSection(-value, sections[1]);
    if (value == 0 && sections.size() > 2 && !sections[2].empty())
        return FormatNumberSection(value, sections[2]);
    std::string text = FormatNumberSection(std::fabs(value), sections[0]);
    // A negative number without a section of its own keeps its minus sign,
    // unless it rounded to zero.
    if (value < 0 && text.find_first_of("123456789") != std::string::npos)
        text.insert(text.begin(), '-');
    return text;
}

bool IsDateFormat(std::string_view format) {
    bool quoted = false;
    bool dateToken = false;
    for (size_t i = 0; i < format.size(); ++i) {
        const char c = AsciiLower(format[i]);
        if (format[i] == '"')
            quoted = !quoted;
        else if (quoted)
            continue;
        else if (format[i] == '\\')
            ++i;
        else if (c == '0' || c == '#')
            return false;
        else if (c == 'd' || c == 'm' || c == 'y' || c == 'h' || c == 'n' || c == 's' || c == 'q' || c == 'w' ||
                 c == 'c' || c == 't')
            dateToken = true;
    }
    return dateToken;
}

struct NamedFormat {
    std::string_view name;
    std::string_view pattern;
    bool date;
};

constexpr NamedFormat kNamedFormats[] = {
    {"Long Date", "dddd, mmmm d, yyyy", true},
    {"Medium Date", "dd-mmm-yy", true},
    {"Short Date", "m/d/yyyy", true},
    {"Long Time", "h:nn:ss AM/PM", true},
    {"Medium Time", "hh:nn AM/PM", true},
    {"Short Time", "hh:nn", true},
    {"Currency", "$#,##0.00;($#,##0.00)", false},
    {"Fixed", "0.00", false},
    {"Standard", "#,##0.00", false},
    {"Percent", "0.00%", false},
    {"Scientific", "0.00E+00", false},
};

std::string_view Text(sqlite3_value* value) {
    return {reinterpret_cast<const char*>(sqlite3_value_text(value)), static_cast<size_t>(sqlite3_value_bytes(value))};
}

void Format(sqlite3_context* context, int argc, sqlite3_value** argv) {
    sqlite3_value* value = argv[0];
    if (argc < 2 || IsNull(argv[1]) || sqlite3_value_bytes(argv[1]) == 0) {
        if (IsNull(value))
            sqlite3_result_null(context);
        else
            ResultText(context, TextOf(value));
        return;
    }
    // Each pattern character writes at most a few dozen; Access's own
    // format strings are short.
    constexpr int kLongestFormat = 4096;
    if (sqlite3_value_bytes(argv[1]) > kLongestFormat) {
        sqlite3_result_error(context, kInvalidCall, -1);
        return;
    }
    const std::string format(Text(argv[1]));
    if (IsNull(value)) {
        // The fourth section of a number format is what Null shows.
        const std::vector<std::string_view> sections = SplitSections(format);
        if (sections.size() > 3)
            ResultText(context, FormatNumberSection(0, sections[3]));
        else
            sqlite3_result_null(context);
        return;
    }
    const std::optional<double> parsedNumber = NumberOf(value);
    const bool isNumber = parsedNumber && std::isfinite(*parsedNumber);
    const double number = isNumber ? *parsedNumber : 0.0;
    if (EqualsIgnoringAsciiCase(format, "General Number")) {
        ResultText(context, TextOf(value));
        return;
    }
    if (EqualsIgnoringAsciiCase(format, "General Date")) {
        const std::optional<DateTime> date = DateOf(value);
        ResultText(context, date ? GeneralDate(*date) : TextOf(value));
        return;
    }
    static constexpr std::array<std::array<std::string_view, 3>, 3> booleans = {
        {{"Yes/No", "Yes", "No"}, {"True/False", "True", "False"}, {"On/Off", "On", "Off"}}};
    for (const auto& [name, yes, no] : booleans) {
        if (EqualsIgnoringAsciiCase(format, name)) {
            ResultText(context, isNumber ? std::string(number != 0 ? yes : no) : TextOf(value));
            return;
        }
    }
    std::string_view pattern = format;
    std::optional<bool> date;
    for (const NamedFormat& named : kNamedFormats) {
        if (EqualsIgnoringAsciiCase(format, named.name)) {
            pattern = named.pattern;
            date = named.date;
        }
    }
    if (!date)
        date = IsDateFormat(format);
    if (*date) {
        const std::optional<DateTime> parsed = DateOf(value);
        ResultText(context, parsed ? FormatDate(*parsed, pattern) : TextOf(value));
        return;
    }
    // Text that is no number comes back as it is, as Access returns it.
    ResultText(context, isNumber ? FormatNumber(number, pattern) : TextOf(value));
}

constexpr FunctionEntry kFormatFunctions[] = {
    {"Format", 1, true, Format},
    {"Format", 2, true, Format},
    {"Format$", 1, true, Format},
    {"Format$", 2, true, Format},
};

} // namespace

int RegisterFormatFunction(sqlite3* db) { return RegisterFunctions(db, kFormatFunctions, std::size(kFormatFunctions)); }

} // namespace tarnwick::access
