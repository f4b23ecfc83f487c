#include "access_functions.h"

#include "function_support.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace tarnwick::access {
namespace {

std::u32string CodePointsOf(sqlite3_value* value) { return DecodeUtf8(TextOf(value)); }

// A whole-number argument (a length or a position): rounded as Access rounds,
// an error for Null or text that is no number. False when an error was set.
bool WholeArgument(sqlite3_context* context, sqlite3_value* value, int64_t& result) {
    if (IsNull(value)) {
        sqlite3_result_error(context, kInvalidUseOfNull, -1);
        return false;
    }
    const std::optional<double> number = NumberOf(value);
    if (!number) {
        sqlite3_result_error(context, kTypeMismatch, -1);
        return false;
    }
    const double rounded = RoundHalfEven(*number);
    if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) {
        sqlite3_result_error(context, kOverflow, -1);
        return false;
    }
    result = static_cast<int64_t>(rounded);
    return true;
}

bool IsTrue(sqlite3_value* value, bool& truth) {
    if (IsNull(value)) {
        truth = false;
        return true;
    }
    if (const std::optional<double> number = NumberOf(value)) {
        truth = *number != 0;
        return true;
    }
    const std::string text = TextOf(value);
    const std::u32string folded = DecodeUtf8(text);
    auto equals = [&](std::u32string_view word) {
        if (folded.size() != word.size())
            return false;
        for (size_t i = 0; i < word.size(); ++i)
            if (FoldCase(folded[i]) != word[i])
                return false;
        return true;
    };
    if (equals(U"true") || equals(U"yes") || equals(U"on")) {
        truth = true;
        return true;
    }
    if (equals(U"false") || equals(U"no") || equals(U"off")) {
        truth = false;
        return true;
    }
    return false;
}

// IIf(condition, ifTrue, ifFalse): a Null condition takes the false branch.
void IIf(sqlite3_context* context, int, sqlite3_value** argv) {
    bool truth = false;
    if (!IsTrue(argv[0], truth)) {
        sqlite3_result_error(context, kTypeMismatch, -1);
        return;
    }
    sqlite3_result_value(context, argv[truth ? 1 : 2]);
}

// Nz(value[, ifNull]): in a query Nz of Null without a second argument is "".
void Nz(sqlite3_context* context, int argc, sqlite3_value** argv) {
    if (!IsNull(argv[0]))
        sqlite3_result_value(context, argv[0]);
    else if (argc > 1)
        sqlite3_result_value(context, argv[1]);
    else
        sqlite3_result_text(context, "", 0, SQLITE_STATIC);
}

void Len(sqlite3_context* context, int, sqlite3_value** argv) {
    if (IsNull(argv[0])) {
        sqlite3_result_null(context);
        return;
    }
    sqlite3_result_int64(context, static_cast<int64_t>(CodePointsOf(argv[0]).size()));
}

void LeftOrRight(sqlite3_context* context, sqlite3_value** argv, bool left) {
    int64_t count = 0;
    if (!WholeArgument(context, argv[1], count))
        return;
    if (count < 0) {
        sqlite3_result_error(context, kInvalidCall, -1);
        return;
    }
    if (IsNull(argv[0])) {
        sqlite3_result_null(context);
        return;
    }
    const std::u32string text = CodePointsOf(argv[0]);
    const size_t length = std::min(text.size(), static_cast<size_t>(count));
    ResultText(context, EncodeUtf8(left ? std::u32string_view(text).substr(0, length)
                                        : std::u32string_view(text).substr(text.size() - length)));
}

void Left(sqlite3_context* context, int, sqlite3_value** argv) { LeftOrRight(context, argv, true); }

void Right(sqlite3_context* context, int, sqlite3_value** argv) { LeftOrRight(context, argv, false); }

// Mid(text, start[, length]): start counts from 1.
void Mid(sqlite3_context* context, int argc, sqlite3_value** argv) {
    int64_t start = 0;
    int64_t length = std::numeric_limits<int32_t>::max();
    if (!WholeArgument(context, argv[1], start) || (argc > 2 && !WholeArgument(context, argv[2], length)))
        return;
    if (start < 1 || length < 0) {
        sqlite3_result_error(context, kInvalidCall, -1);
        return;
    }
    if (IsNull(argv[0])) {
        sqlite3_result_null(context);
        return;
    }
    const std::u32string text = CodePointsOf(argv[0]);
    const auto from = static_cast<size_t>(start - 1);
    if (from >= text.size()) {
        sqlite3_result_text(context, "", 0, SQLITE_STATIC);
        return;
    }
    ResultText(context, EncodeUtf8(std::u32string_view(text).substr(from, static_cast<size_t>(length))));
}

// InStr([start, ]text, sought[, compare]): compare 0 is binary, 1 (and a
// query's default) ignores case.
void InStr(sqlite3_context* context, int argc, sqlite3_value** argv) {
    int64_t start = 1;
    int first = 0;
    if (argc >= 3) {
        if (!WholeArgument(context, argv[0], start))
            return;
        if (start < 1) {
            sqlite3_result_error(context, kInvalidCall, -1);
            return;
        }
        first = 1;
    }
    int64_t compare = 1;
    if (argc == 4 && !WholeArgument(context, argv[3], compare))
        return;
    if (IsNull(argv[first]) || IsNull(argv[first + 1])) {
        sqlite3_result_null(context);
        return;
    }
    std::u32string text = CodePointsOf(argv[first]);
    std::u32string sought = CodePointsOf(argv[first + 1]);
    if (compare != 0) {
        for (char32_t& c : text)
            c = FoldCase(c);
        for (char32_t& c : sought)
            c = FoldCase(c);
    }
    if (static_cast<size_t>(start) > text.size()) {
        sqlite3_result_int(context, 0);
        return;
    }
    const size_t found = text.find(sought, static_cast<size_t>(start - 1));
    sqlite3_result_int64(context, found == std::u32string::npos ? 0 : static_cast<int64_t>(found + 1));
}

void MapCase(sqlite3_context* context, sqlite3_value* value, char32_t (*map)(char32_t)) {
    if (IsNull(value)) {
        sqlite3_result_null(context);
        return;
    }
    std::u32string text = CodePointsOf(value);
    for (char32_t& c : text)
        c = map(c);
    ResultText(context, EncodeUtf8(text));
}

void UCase(sqlite3_context* context, int, sqlite3_value** argv) { MapCase(context, argv[0], ToUpper); }

void LCase(sqlite3_context* context, int, sqlite3_value** argv) { MapCase(context, argv[0], ToLower); }

// Access's &: Null counts as "", numbers become their text; only when every
// operand is Null is the result Null.
void Concat(sqlite3_context* context, int argc, sqlite3_value** argv) {
    std::string text;
    bool allNull = true;
    for (int i = 0; i < argc; ++i) {
        if (IsNull(argv[i]))
            continue;
        allNull = false;
        text += TextOf(argv[i]);
        if (ResultTooBig(context, text.size()))
            return;
    }
    if (allNull)
        sqlite3_result_null(context);
    else
        ResultText(context, text);
}

// A numeric argument; Null gives a Null result. False when the result is set.
bool NumericArgument(sqlite3_context* context, sqlite3_value* value, double& number) {
    if (IsNull(value)) {
        sqlite3_result_null(context);
        return false;
    }
    const std::optional<double> parsed = NumberOf(value);
    if (!parsed) {
        sqlite3_result_error(context, kTypeMismatch, -1);
        return false;
    }
    number = *parsed;
    return true;
}

bool IsIntegerValue(sqlite3_value* value) { return sqlite3_value_type(value) == SQLITE_INTEGER; }

// \ and Mod round both operands to whole numbers first, as Access does.
bool IntegerOperands(sqlite3_context* context, sqlite3_value** argv, int64_t& left, int64_t& right) {
    double a = 0;
    double b = 0;
    if (!NumericArgument(context, argv[0], a) || !NumericArgument(context, argv[1], b))
        return false;
    a = RoundHalfEven(a);
    b = RoundHalfEven(b);
    if (std::fabs(a) > 9.2e18 || std::fabs(b) > 9.2e18) {
        sqlite3_result_error(context, kOverflow, -1);
        return false;
    }
    left = static_cast<int64_t>(a);
    right = static_cast<int64_t>(b);
    if (right == 0) {
        sqlite3_result_error(context, kDivisionByZero, -1);
        return false;
    }
    return true;
}

void IntegerDivide(sqlite3_context* context, int, sqlite3_value** argv) {
    int64_t left = 0;
    int64_t right = 0;
    if (IntegerOperands(context, argv, left, right))
        sqlite3_result_int64(context, right == -1 ? -left : left / right);
}

void Modulo(sqlite3_context* context, int, sqlite3_value** argv) {
    int64_t left = 0;
    int64_t right = 0;
    if (IntegerOperands(context, argv, left, right))
        sqlite3_result_int64(context, right == -1 ? 0 : left % right);
}

void Power(sqlite3_context* context, int, sqlite3_value** argv) {
    double base = 0;
    double exponent = 0;
    if (!NumericArgument(context, argv[0], base) || !NumericArgument(context, argv[1], exponent))
        return;
    const double result = std::pow(base, exponent);
    if (std::isnan(result)) {
        sqlite3_result_error(context, kInvalidCall, -1);
        return;
    }
    if (std::isinf(result)) {
        sqlite3_result_error(context, kOverflow, -1);
        return;
    }
    sqlite3_result_double(context, result);
}

// Round(number[, places]): half to even, Access's banker's rounding.
void Round(sqlite3_context* context, int argc, sqlite3_value** argv) {
    double number = 0;
    int64_t places = 0;
    if (argc > 1 && !IsNull(argv[1]) && !WholeArgument(context, argv[1], places))
        return;
    if (places < 0 || places > 22) {
        sqlite3_result_error(context, kInvalidCall, -1);
        return;
    }
    if (!NumericArgument(context, argv[0], number))
        return;
    if (IsIntegerValue(argv[0])) {
        sqlite3_result_value(context, argv[0]);
        return;
    }
    const double scale = std::pow(10.0, static_cast<double>(places));
    const double scaled = number * scale;
    if (!std::isfinite(scaled)) {
        sqlite3_result_double(context, number);
        return;
    }
    sqlite3_result_double(context, RoundHalfEven(scaled) / scale);
}

void RoundWith(sqlite3_context* context, sqlite3_value* value, double (*round)(double)) {
    double number = 0;
    if (!NumericArgument(context, value, number))
        return;
    if (IsIntegerValue(value))
        sqlite3_result_value(context, value);
    else
        sqlite3_result_double(context, round(number));
}

// Int rounds down (Int(-8.4) = -9), Fix toward zero (Fix(-8.4) = -8).
void Int(sqlite3_context* context, int, sqlite3_value** argv) {
    RoundWith(context, argv[0], [](double x) { return std::floor(x); });
}

void Fix(sqlite3_context* context, int, sqlite3_value** argv) {
    RoundWith(context, argv[0], [](double x) { return std::trunc(x); });
}

void Sgn(sqlite3_context* context, int, sqlite3_value** argv) {
    double number = 0;
    if (NumericArgument(context, argv[0], number))
        sqlite3_result_int(context, number > 0 ? 1 : number < 0 ? -1 : 0);
}

void Sqr(sqlite3_context* context, int, sqlite3_value** argv) {
    double number = 0;
    if (!NumericArgument(context, argv[0], number))
        return;
    if (number < 0)
        sqlite3_result_error(context, kInvalidCall, -1);
    else
        sqlite3_result_double(context, std::sqrt(number));
}

void Exp(sqlite3_context* context, int, sqlite3_value** argv) {
    double number = 0;
    if (!NumericArgument(context, argv[0], number))
        return;
    const double result = std::exp(number);
    if (std::isinf(result))
        sqlite3_result_error(context, kOverflow, -1);
    else
        sqlite3_result_double(context, result);
}

void Log(sqlite3_context* context, int, sqlite3_value** argv) {
    double number = 0;
    if (!NumericArgument(context, argv[0], number))
        return;
    if (number <= 0)
        sqlite3_result_error(context, kInvalidCall, -1);
    else
        sqlite3_result_double(context, std::log(number));
}

// The conversions refuse Null, as Access's do. A date converts to its serial.
bool ConvertibleNumber(sqlite3_context* context, sqlite3_value* value, double& number) {
    if (IsNull(value)) {
        sqlite3_result_error(context, kInvalidUseOfNull, -1);
        return false;
    }
    if (const std::optional<double> parsed = NumberOf(value)) {
        number = *parsed;
        return true;
    }
    bool truth = false;
    if (sqlite3_value_type(value) == SQLITE_TEXT) {
        if (const std::optional<DateTime> date = DateOf(value)) {
            number = ToSerial(*date);
            return true;
        }
        if (IsTrue(value, truth)) {
            number = truth ? -1 : 0;
            return true;
        }
    }
    sqlite3_result_error(context, kTypeMismatch, -1);
    return false;
}

void ConvertToInteger(sqlite3_context* context, sqlite3_value* value, double low, double high) {
    double number = 0;
    if (!ConvertibleNumber(context, value, number))
        return;
    const double rounded = RoundHalfEven(number);
    if (!(rounded >= low && rounded <= high)) {
        sqlite3_result_error(context, kOverflow, -1);
        return;
    }
    sqlite3_result_int64(context, static_cast<int64_t>(rounded));
}

void CInt(sqlite3_context* context, int, sqlite3_value** argv) { ConvertToInteger(context, argv[0], -32768, 32767); }

void CLng(sqlite3_context* context, int, sqlite3_value** argv) {
    ConvertToInteger(context, argv[0], -2147483648.0, 2147483647.0);
}

void CDbl(sqlite3_context* context, int, sqlite3_value** argv) {
    double number = 0;
    if (ConvertibleNumber(context, argv[0], number))
        sqlite3_result_double(context, number);
}

// Currency keeps four decimals, rounded half to even.
void CCur(sqlite3_context* context, int, sqlite3_value** argv) {
    double number = 0;
    if (!ConvertibleNumber(context, argv[0], number))
        return;
    if (std::fabs(number) > 922337203685477.0) {
        sqlite3_result_error(context, kOverflow, -1);
        return;
    }
    sqlite3_result_double(context, RoundHalfEven(number * 10000.0) / 10000.0);
}

void CStr(sqlite3_context* context, int, sqlite3_value** argv) {
    if (IsNull(argv[0])) {
        sqlite3_result_error(context, kInvalidUseOfNull, -1);
        return;
    }
    ResultText(context, TextOf(argv[0]));
}

void CDate(sqlite3_context* context, int, sqlite3_value** argv) {
    if (IsNull(argv[0])) {
        sqlite3_result_error(context, kInvalidUseOfNull, -1);
        return;
    }
    std::optional<DateTime> date = DateOf(argv[0]);
    if (!date && sqlite3_value_type(argv[0]) == SQLITE_TEXT)
        if (const std::optional<double> number = NumberOf(argv[0]))
            date = FromSerial(*number);
    if (!date) {
        sqlite3_result_error(context, kTypeMismatch, -1);
        return;
    }
    ResultDate(context, *date);
}

// Val reads the number at the start of the text, skipping spaces, tabs and
// line feeds anywhere in it; &H and &O start hexadecimal and octal numbers.
double ParseVal(std::string_view text) {
    std::string compact;
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
            compact += c;
    if (compact.size() > 2 && compact[0] == '&' &&
        (compact[1] == 'H' || compact[1] == 'h' || compact[1] == 'O' || compact[1] == 'o')) {
        const int base = (compact[1] == 'H' || compact[1] == 'h') ? 16 : 8;
        uint64_t value = 0;
        for (size_t i = 2; i < compact.size() && value <= 0xFFFFFFFFull; ++i) {
            const char c = compact[i];
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : 99;
            if (digit >= base)
                break;
            value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        }
        // Up to four hex digits make an Integer, more a Long; both are signed.
        if (value <= 0xFFFF && compact.size() <= 6)
            return static_cast<double>(static_cast<int16_t>(value));
        return static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(value)));
    }
    size_t i = 0;
    std::string number;
    if (i < compact.size() && (compact[i] == '+' || compact[i] == '-'))
        number += compact[i++];
    bool digits = false;
    while (i < compact.size() && compact[i] >= '0' && compact[i] <= '9') {
        number += compact[i++];
        digits = true;
    }
    if (i < compact.size() && compact[i] == '.') {
        number += compact[i++];
        while (i < compact.size() && compact[i] >= '0' && compact[i] <= '9') {
            number += compact[i++];
            digits = true;
        }
    }
    if (!digits)
        return 0;
    if (i < compact.size() && (compact[i] == 'e' || compact[i] == 'E' || compact[i] == 'd' || compact[i] == 'D')) {
        std::string exponent = "e";
        size_t j = i + 1;
        if (j < compact.size() && (compact[j] == '+' || compact[j] == '-'))
            exponent += compact[j++];
        bool exponentDigits = false;
        while (j < compact.size() && compact[j] >= '0' && compact[j] <= '9' && exponent.size() < 8) {
            exponent += compact[j++];
            exponentDigits = true;
        }
        if (exponentDigits)
            number += exponent;
    }
    const double value = std::strtod(number.c_str(), nullptr);
    return std::isfinite(value) ? value : 0;
}

void Val(sqlite3_context* context, int, sqlite3_value** argv) {
    if (IsNull(argv[0])) {
        sqlite3_result_error(context, kInvalidUseOfNull, -1);
        return;
    }
    if (sqlite3_value_type(argv[0]) == SQLITE_INTEGER || sqlite3_value_type(argv[0]) == SQLITE_FLOAT) {
        sqlite3_result_double(context, sqlite3_value_double(argv[0]));
        return;
    }
    sqlite3_result_double(context, ParseVal(TextOf(argv[0])));
}

// Replace(text, find, replacement[, start[, count[, compare]]]): the text from
// `start` on, with up to `count` (-1: all) occurrences replaced; a query's
// comparison ignores case unless compare is 0.
void Replace(sqlite3_context* context, int argc, sqlite3_value** argv) {
    int64_t start = 1;
    int64_t count = -1;
    int64_t compare = 1;
    if ((argc > 3 && !WholeArgument(context, argv[3], start)) ||
        (argc > 4 && !WholeArgument(context, argv[4], count)) ||
        (argc > 5 && !WholeArgument(context, argv[5], compare)))
        return;
    if (start < 1 || count < -1) {
        sqlite3_result_error(context, kInvalidCall, -1);
        return;
    }
    if (IsNull(argv[0])) {
        sqlite3_result_error(context, kInvalidUseOfNull, -1);
        return;
    }
    const std::u32string text = CodePointsOf(argv[0]);
    const std::u32string find = CodePointsOf(argv[1]);
    const std::u32string replacement = CodePointsOf(argv[2]);
    if (static_cast<size_t>(start) > text.size()) {
        sqlite3_result_text(context, "", 0, SQLITE_STATIC);
        return;
    }
    auto fold = [&](std::u32string value) {
        if (compare != 0)
            for (char32_t& c : value)
                c = FoldCase(c);
        return value;
    };
    const std::u32string foldedText = fold(text);
    const std::u32string foldedFind = fold(find);
    // Where the replacements go, so that the result's size is checked before
    // it is built.
    std::vector<size_t> found;
    for (size_t position = static_cast<size_t>(start - 1);
         !find.empty() && (count < 0 || static_cast<int64_t>(found.size()) < count);) {
        const size_t at = foldedText.find(foldedFind, position);
        if (at == std::u32string::npos)
            break;
        found.push_back(at);
        position = at + find.size();
    }
    const size_t kept = text.size() - static_cast<size_t>(start - 1) - found.size() * find.size();
    if (ResultTooBig(context, kept + found.size() * replacement.size()))
        return;
    std::u32string result;
    result.reserve(kept + found.size() * replacement.size());
    size_t position = static_cast<size_t>(start - 1);
    for (const size_t at : found) {
        result.append(text, position, at - position);
        result += replacement;
        position = at + find.size();
    }
    result.append(text, position, std::u32string::npos);
    ResultText(context, EncodeUtf8(result));
}

void IsNullFunction(sqlite3_context* context, int, sqlite3_value** argv) {
    sqlite3_result_int(context, IsNull(argv[0]) ? -1 : 0);
}

void IsNumeric(sqlite3_context* context, int, sqlite3_value** argv) {
    sqlite3_result_int(context, !IsNull(argv[0]) && NumberOf(argv[0]) ? -1 : 0);
}

void IsDate(sqlite3_context* context, int, sqlite3_value** argv) {
    sqlite3_result_int(context, sqlite3_value_type(argv[0]) == SQLITE_TEXT && DateOf(argv[0]) ? -1 : 0);
}

// Chr takes Windows-1252 codes, as Access does on a Western system; ChrW
// takes any Unicode code point.
char32_t FromWindows1252(int64_t code) {
    static constexpr char16_t high[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                          0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                          0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                          0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
    return code >= 0x80 && code < 0xA0 ? high[code - 0x80] : static_cast<char32_t>(code);
}

void CharacterOf(sqlite3_context* context, sqlite3_value* value, int64_t high, bool windows1252) {
    int64_t code = 0;
    if (!WholeArgument(context, value, code))
        return;
    if (code < 0 || code > high || (code >= 0xD800 && code <= 0xDFFF)) {
        sqlite3_result_error(context, kInvalidCall, -1);
        return;
    }
    const char32_t c = windows1252 ? FromWindows1252(code) : static_cast<char32_t>(code);
    ResultText(context, EncodeUtf8(std::u32string(1, c)));
}

void Chr(sqlite3_context* context, int, sqlite3_value** argv) { CharacterOf(context, argv[0], 255, true); }

void ChrW(sqlite3_context* context, int, sqlite3_value** argv) { CharacterOf(context, argv[0], 0x10FFFF, false); }

// Asc and AscW give the first character's Unicode code point.
void Asc(sqlite3_context* context, int, sqlite3_value** argv) {
    if (IsNull(argv[0])) {
        sqlite3_result_error(context, kInvalidUseOfNull, -1);
        return;
    }
    const std::u32string text = CodePointsOf(argv[0]);
    if (text.empty())
        sqlite3_result_error(context, kInvalidCall, -1);
    else
        sqlite3_result_int64(context, static_cast<int64_t>(text[0]));
}

void RepeatCharacter(sqlite3_context* context, sqlite3_value* countValue, char32_t c) {
    int64_t count = 0;
    if (!WholeArgument(context, countValue, count))
        return;
    if (count < 0) {
        sqlite3_result_error(context, kInvalidCall, -1);
        return;
    }
    const std::string character = EncodeUtf8(std::u32string(1, c));
    if (ResultTooBig(context, static_cast<size_t>(count) * character.size()))
        return;
    std::string text;
    text.reserve(static_cast<size_t>(count) * character.size());
    for (int64_t i = 0; i < count; ++i)
        text += character;
    ResultText(context, text);
}

void Space(sqlite3_context* context, int, sqlite3_value** argv) { RepeatCharacter(context, argv[0], U' '); }

// String(count, character): the character as text (its first letter) or a code.
void String(sqlite3_context* context, int, sqlite3_value** argv) {
    if (IsNull(argv[1])) {
        sqlite3_result_null(context);
        return;
    }
    char32_t c = 0;
    if (sqlite3_value_type(argv[1]) == SQLITE_TEXT) {
        const std::u32string text = CodePointsOf(argv[1]);
        if (text.empty()) {
            sqlite3_result_error(context, kInvalidCall, -1);
            return;
        }
        c = text[0];
    } else {
        int64_t code = 0;
        if (!WholeArgument(context, argv[1], code))
            return;
        c = FromWindows1252(((code % 256) + 256) % 256);
    }
    RepeatCharacter(context, argv[0], c);
}

// StrComp(a, b[, compare]): -1, 0 or 1; compare 0 is binary, otherwise case
// is ignored as in a query's text comparison.
void StrComp(sqlite3_context* context, int argc, sqlite3_value** argv) {
    int64_t compare = 1;
    if (argc == 3 && !WholeArgument(context, argv[2], compare))
        return;
    if (IsNull(argv[0]) || IsNull(argv[1])) {
        sqlite3_result_null(context);
        return;
    }
    std::u32string left = CodePointsOf(argv[0]);
    std::u32string right = CodePointsOf(argv[1]);
    if (compare != 0) {
        for (char32_t& c : left)
            c = FoldCase(c);
        for (char32_t& c : right)
            c = FoldCase(c);
    }
    const int order = left.compare(right);
    sqlite3_result_int(context, order < 0 ? -1 : order > 0 ? 1 : 0);
}

// Switch(condition1, value1, ...): the value of the first true condition.
void Switch(sqlite3_context* context, int argc, sqlite3_value** argv) {
    if (argc % 2 != 0) {
        sqlite3_result_error(context, kInvalidCall, -1);
        return;
    }
    for (int i = 0; i < argc; i += 2) {
        bool truth = false;
        if (!IsTrue(argv[i], truth)) {
            sqlite3_result_error(context, kTypeMismatch, -1);
            return;
        }
        if (truth) {
            sqlite3_result_value(context, argv[i + 1]);
            return;
        }
    }
    sqlite3_result_null(context);
}

// Choose(index, choice1, ...): Null when the index names no choice.
void Choose(sqlite3_context* context, int argc, sqlite3_value** argv) {
    double number = 0;
    if (!NumericArgument(context, argv[0], number))
        return;
    const double index = std::trunc(number);
    if (index < 1 || index > argc - 1)
        sqlite3_result_null(context);
    else
        sqlite3_result_value(context, argv[static_cast<int>(index)]);
}

// Str(number): a leading space stands for the sign of a positive number.
void Str(sqlite3_context* context, int, sqlite3_value** argv) {
    double number = 0;
    if (IsNull(argv[0])) {
        sqlite3_result_error(context, kInvalidUseOfNull, -1);
        return;
    }
    if (!NumericArgument(context, argv[0], number))
        return;
    const std::string text = TextOf(argv[0]);
    ResultText(context, number >= 0 && !text.starts_with('-') ? " " + text : text);
}

void StrReverse(sqlite3_context* context, int, sqlite3_value** argv) {
    if (IsNull(argv[0])) {
        sqlite3_result_error(context, kInvalidUseOfNull, -1);
        return;
    }
    std::u32string text = CodePointsOf(argv[0]);
    std::reverse(text.begin(), text.end());
    ResultText(context, EncodeUtf8(text));
}

constexpr FunctionEntry kFunctions[] = {
    {"IIf", 3, true, IIf},
    {"Nz", 1, true, Nz},
    {"Nz", 2, true, Nz},
    {"Len", 1, true, Len},
    {"Left", 2, true, Left},
    {"Right", 2, true, Right},
    {"Mid", 2, true, Mid},
    {"Mid", 3, true, Mid},
    {"InStr", 2, true, InStr},
    {"InStr", 3, true, InStr},
    {"InStr", 4, true, InStr},
    {"UCase", 1, true, UCase},
    {"LCase", 1, true, LCase},
    {"Round", 1, true, Round},
    {"Round", 2, true, Round},
    {"Int", 1, true, Int},
    {"Fix", 1, true, Fix},
    {"Sgn", 1, true, Sgn},
    {"Sqr", 1, true, Sqr},
    {"Exp", 1, true, Exp},
    {"Log", 1, true, Log},
    {"CInt", 1, true, CInt},
    {"CLng", 1, true, CLng},
    {"CDbl", 1, true, CDbl},
    {"CCur", 1, true, CCur},
    {"CStr", 1, true, CStr},
    {"CDate", 1, true, CDate},
    {"Val", 1, true, Val},
    {"Replace", 3, true, Replace},
    {"Replace", 4, true, Replace},
    {"Replace", 5, true, Replace},
    {"Replace", 6, true, Replace},
    {"IsNull", 1, true, IsNullFunction},
    {"IsNumeric", 1, true, IsNumeric},
    {"IsDate", 1, true, IsDate},
    {"Chr", 1, true, Chr},
    {"ChrW", 1, true, ChrW},
    {"Asc", 1, true, Asc},
    {"AscW", 1, true, Asc},
    {"Space", 1, true, Space},
    {"String", 2, true, String},
    {"StrComp", 2, true, StrComp},
    {"StrComp", 3, true, StrComp},
    {"Switch", -1, true, Switch},
    {"Choose", -1, true, Choose},
    {"Str", 1, true, Str},
    {"StrReverse", 1, true, StrReverse},
    // The $ forms Access keeps from Basic return the same text.
    {"Left$", 2, true, Left},
    {"Right$", 2, true, Right},
    {"Mid$", 2, true, Mid},
    {"Mid$", 3, true, Mid},
    {"UCase$", 1, true, UCase},
    {"LCase$", 1, true, LCase},
    {"Chr$", 1, true, Chr},
    {"Space$", 1, true, Space},
    {"Str$", 1, true, Str},
    {"tw_concat", -1, true, Concat},
    {"tw_intdiv", 2, true, IntegerDivide},
    {"tw_mod", 2, true, Modulo},
    {"tw_power", 2, true, Power},
};

} // namespace

int RegisterTextAndNumberFunctions(sqlite3* db) { return RegisterFunctions(db, kFunctions, std::size(kFunctions)); }

int RegisterAccessFunctions(sqlite3* db) {
    for (int (*group)(sqlite3*) :
         {RegisterTextAndNumberFunctions, RegisterDateFunctions, RegisterFormatFunction, RegisterCollationAndLike}) {
        const int rc = group(db);
        if (rc != SQLITE_OK)
            return rc;
    }
    return SQLITE_OK;
}

} // namespace tarnwick::access
