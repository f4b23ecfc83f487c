#include "parameters.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

namespace access_driver {
namespace {

struct DateTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  unsigned long fraction = 0;
  bool has_date = true;
};

// A bound value read from the client's buffer, before it is spelled for the
// SQL type the client asked for.
using Value = std::variant<std::string, long long, double, DateTime>;
using Read = std::variant<Value, Refusal>;

Refusal Refuse(std::string state, std::string message) {
  return Refusal{std::move(state), std::move(message)};
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// unixODBC's SQLWCHAR is UTF-16; mdbtools compares UTF-8.
std::variant<std::string, Refusal> Utf16ToUtf8(const SQLWCHAR* text, std::size_t units) {
  std::string out;
  for (std::size_t i = 0; i < units; ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      return Refuse("22018", "A character parameter holds a lone UTF-16 surrogate");
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::size_t BoundedLength(const char* text, SQLLEN buffer_length) {
  if (buffer_length > 0) {
    const void* end = std::memchr(text, '\0', static_cast<std::size_t>(buffer_length));
    return end ? static_cast<std::size_t>(static_cast<const char*>(end) - text)
               : static_cast<std::size_t>(buffer_length);
  }
  return std::strlen(text);
}

template <typename T>
T Load(SQLPOINTER value) {
  T out;
  std::memcpy(&out, value, sizeof out);
  return out;
}

Read ReadValue(const ParameterBinding& b) {
  const SQLLEN indicator = b.length_or_indicator ? *b.length_or_indicator : SQL_NTS;
  if (indicator == SQL_NULL_DATA) {
    return Refuse("HYC00",
                  "A NULL parameter cannot be compared in mdbtools' SQL; write IS NULL in the statement instead");
  }
  if (indicator == SQL_DATA_AT_EXEC || indicator <= SQL_LEN_DATA_AT_EXEC_OFFSET) {
    return Refuse("HYC00", "Parameters sent at execution time (SQLPutData) are not supported");
  }
  if (b.value == nullptr) {
    return Refuse("HY009", "A bound parameter has no value buffer");
  }
  switch (b.c_type) {
    case SQL_C_CHAR: {
      const auto* text = static_cast<const char*>(b.value);
      const std::size_t length =
          indicator == SQL_NTS ? BoundedLength(text, b.buffer_length) : static_cast<std::size_t>(indicator);
      if (indicator < 0 && indicator != SQL_NTS) {
        return Refuse("HY090", "A character parameter has a negative length");
      }
      return Value{std::string(text, length)};
    }
    case SQL_C_WCHAR: {
      const auto* text = static_cast<const SQLWCHAR*>(b.value);
      std::size_t units = 0;
      if (indicator == SQL_NTS) {
        const std::size_t limit =
            b.buffer_length > 0 ? static_cast<std::size_t>(b.buffer_length) / sizeof(SQLWCHAR) : SIZE_MAX;
        while (units < limit && text[units] != 0) ++units;
      } else if (indicator < 0) {
        return Refuse("HY090", "A character parameter has a negative length");
      } else {
        units = static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR);
      }
      auto utf8 = Utf16ToUtf8(text, units);
      if (auto* refusal = std::get_if<Refusal>(&utf8)) return *refusal;
      return Value{std::get<std::string>(std::move(utf8))};
    }
    case SQL_C_BIT:
    case SQL_C_UTINYINT:
      return Value{static_cast<long long>(Load<unsigned char>(b.value))};
    case SQL_C_TINYINT:
    case SQL_C_STINYINT:
      return Value{static_cast<long long>(Load<signed char>(b.value))};
    case SQL_C_SHORT:
    case SQL_C_SSHORT:
      return Value{static_cast<long long>(Load<SQLSMALLINT>(b.value))};
    case SQL_C_USHORT:
      return Value{static_cast<long long>(Load<SQLUSMALLINT>(b.value))};
    case SQL_C_LONG:
    case SQL_C_SLONG:
      return Value{static_cast<long long>(Load<SQLINTEGER>(b.value))};
    case SQL_C_ULONG:
      return Value{static_cast<long long>(Load<SQLUINTEGER>(b.value))};
    case SQL_C_SBIGINT:
      return Value{static_cast<long long>(Load<SQLBIGINT>(b.value))};
    case SQL_C_UBIGINT: {
      const auto v = Load<SQLUBIGINT>(b.value);
      if (v > static_cast<SQLUBIGINT>(std::numeric_limits<long long>::max())) {
        return Refuse("22003", "An integer parameter is out of range");
      }
      return Value{static_cast<long long>(v)};
    }
    case SQL_C_FLOAT:
      return Value{static_cast<double>(Load<SQLREAL>(b.value))};
    case SQL_C_DOUBLE:
      return Value{Load<SQLDOUBLE>(b.value)};
    case SQL_C_TYPE_DATE:
    case SQL_C_DATE: {
      const auto d = Load<SQL_DATE_STRUCT>(b.value);
      return Value{DateTime{d.year, d.month, d.day, 0, 0, 0, 0, true}};
    }
    case SQL_C_TYPE_TIME:
    case SQL_C_TIME: {
      const auto t = Load<SQL_TIME_STRUCT>(b.value);
      return Value{DateTime{0, 0, 0, t.hour, t.minute, t.second, 0, false}};
    }
    case SQL_C_TYPE_TIMESTAMP:
    case SQL_C_TIMESTAMP: {
      const auto t = Load<SQL_TIMESTAMP_STRUCT>(b.value);
      return Value{DateTime{t.year, t.month, t.day, t.hour, t.minute, t.second, t.fraction, true}};
    }
    default:
      return Refuse("HYC00", "Parameters of C type " + std::to_string(b.c_type) +
                                 " are not supported; bind character, integer, floating-point, date or time values");
  }
}

bool IsCharacterType(SQLSMALLINT t) {
  return t == SQL_CHAR || t == SQL_VARCHAR || t == SQL_LONGVARCHAR || t == SQL_WCHAR || t == SQL_WVARCHAR ||
         t == SQL_WLONGVARCHAR;
}
bool IsIntegerType(SQLSMALLINT t) {
  return t == SQL_BIT || t == SQL_TINYINT || t == SQL_SMALLINT || t == SQL_INTEGER || t == SQL_BIGINT;
}
bool IsRealType(SQLSMALLINT t) {
  return t == SQL_REAL || t == SQL_FLOAT || t == SQL_DOUBLE || t == SQL_NUMERIC || t == SQL_DECIMAL;
}
bool IsDateTimeType(SQLSMALLINT t) {
  return t == SQL_TYPE_DATE || t == SQL_TYPE_TIME || t == SQL_TYPE_TIMESTAMP || t == SQL_DATE || t == SQL_TIME ||
         t == SQL_TIMESTAMP;
}

std::string Trimmed(const std::string& s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::string FormatDateTime(const DateTime& d) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", d.year, d.month, d.day, d.hour, d.minute,
                d.second);
  return buffer;
}

bool ValidDateTime(const DateTime& d) {
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (d.hour < 0 || d.hour > 23 || d.minute < 0 || d.minute > 59 || d.second < 0 || d.second > 59) return false;
  if (!d.has_date) return true;
  if (d.year < 100 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1) return false;
  const bool leap = (d.year % 4 == 0 && d.year % 100 != 0) || d.year % 400 == 0;
  return d.day <= (d.month == 2 && !leap ? 28 : kDays[d.month - 1]);
}

// "YYYY-MM-DD", "YYYY-MM-DD HH:MM:SS" or "HH:MM:SS", each field all digits.
bool ParseDateTime(const std::string& text, DateTime& out) {
  auto field = [&](std::size_t at, std::size_t width, int& value) {
    if (at + width > text.size()) return false;
    for (std::size_t i = at; i < at + width; ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
    }
    value = std::stoi(text.substr(at, width));
    return true;
  };
  if (text.size() == 8 && text[2] == ':' && text[5] == ':') {
    out.has_date = false;
    return field(0, 2, out.hour) && field(3, 2, out.minute) && field(6, 2, out.second);
  }
  if (text.size() != 10 && text.size() != 19) return false;
  if (text[4] != '-' || text[7] != '-') return false;
  if (!field(0, 4, out.year) || !field(5, 2, out.month) || !field(8, 2, out.day)) return false;
  if (text.size() == 19) {
    if (text[10] != ' ' || text[13] != ':' || text[16] != ':') return false;
    return field(11, 2, out.hour) && field(14, 2, out.minute) && field(17, 2, out.second);
  }
  return true;
}

std::string FormatReal(double v) {
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
  std::string text(buffer, ec == std::errc() ? end : buffer);
  // mdbtools reads a number without a point as an int (atoi), so a real one
  // always carries its point, before any exponent.
  if (text.find('.') == std::string::npos) {
    const auto e = text.find('e');
    text.insert(e == std::string::npos ? text.size() : e, ".0");
  }
  return text;
}

Literal TextLiteral(const std::string& text) {
  if (text.find('\'') != std::string::npos) {
    // mdbtools' lexer accepts '' inside a string but compares it as two
    // quotes, so no spelling matches a value with a quote in it.
    return Refuse("22018",
                  "A text parameter holds a single quote ('), which mdbtools' SQL cannot spell in a literal; "
                  "it was not passed on");
  }
  if (text.find('\0') != std::string::npos) {
    return Refuse("22018", "A text parameter holds a NUL character; it was not passed on");
  }
  if (text.size() > kMaxTextLiteralBytes) {
    return Refuse("22001", "A text parameter is longer than the 255 bytes mdbtools compares; it was not passed on");
  }
  return "'" + text + "'";
}

Literal IntegerLiteral(const Value& value) {
  long long n = 0;
  if (const auto* text = std::get_if<std::string>(&value)) {
    const std::string t = Trimmed(*text);
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), n);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size()) {
      return Refuse("22018", "An integer parameter is not an integer: " + t.substr(0, 40));
    }
  } else if (const auto* real = std::get_if<double>(&value)) {
    if (!std::isfinite(*real) || std::trunc(*real) != *real || std::fabs(*real) > 2147483647.0) {
      return Refuse("22018", "An integer parameter is not an integer in range");
    }
    n = static_cast<long long>(*real);
  } else if (const auto* integer = std::get_if<long long>(&value)) {
    n = *integer;
  } else {
    return Refuse("07006", "A date or time cannot be bound as an integer parameter");
  }
  // mdbtools reads integers with atoi into an int.
  if (n < std::numeric_limits<std::int32_t>::min() || n > std::numeric_limits<std::int32_t>::max()) {
    return Refuse("22003", "An integer parameter is outside the 32-bit range mdbtools compares");
  }
  return std::to_string(n);
}

Literal RealLiteral(const Value& value) {
  double v = 0;
  if (const auto* text = std::get_if<std::string>(&value)) {
    const std::string t = Trimmed(*text);
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (t.empty() || ec != std::errc() || end != t.data() + t.size()) {
      return Refuse("22018", "A numeric parameter is not a number: " + t.substr(0, 40));
    }
  } else if (const auto* integer = std::get_if<long long>(&value)) {
    v = static_cast<double>(*integer);
  } else if (const auto* real = std::get_if<double>(&value)) {
    v = *real;
  } else {
    return Refuse("07006", "A date or time cannot be bound as a numeric parameter");
  }
  if (!std::isfinite(v)) return Refuse("22003", "A numeric parameter is not finite");
  return FormatReal(v);
}

Literal DateTimeLiteral(const Value& value) {
  DateTime d;
  if (const auto* given = std::get_if<DateTime>(&value)) {
    d = *given;
  } else if (const auto* text = std::get_if<std::string>(&value)) {
    if (!ParseDateTime(Trimmed(*text), d)) {
      return Refuse("22007", "A date parameter is not YYYY-MM-DD, YYYY-MM-DD HH:MM:SS or HH:MM:SS");
    }
  } else {
    return Refuse("07006", "A number cannot be bound as a date parameter");
  }
  if (!ValidDateTime(d)) return Refuse("22007", "A date or time parameter is not a valid date or time");
  if (d.fraction != 0) {
    return Refuse("22008", "mdbtools compares dates to the second; a fraction of a second cannot be passed on");
  }
  if (!d.has_date) {
    // Access keeps a time of day as a date on its day zero.
    d.year = 1899;
    d.month = 12;
    d.day = 30;
  }
  // Blanks inside too: mdbtools' lexer reads strptime(' or ') as one path token.
  return "strptime( '" + FormatDateTime(d) + "' , '%Y-%m-%d %H:%M:%S' )";
}

}  // namespace

std::vector<std::size_t> FindMarkers(std::string_view sql) {
  std::vector<std::size_t> markers;
  char closing = 0;
  for (std::size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    if (closing != 0) {
      // A doubled quote inside a string or name closes and reopens it, which
      // this reading gets right without special-casing it.
      if (c == closing) closing = 0;
    } else if (c == '\'' || c == '"') {
      closing = c;
    } else if (c == '[') {
      closing = ']';
    } else if (c == '?') {
      markers.push_back(i);
    }
  }
  return markers;
}

Literal MakeLiteral(const ParameterBinding& binding) {
  auto read = ReadValue(binding);
  if (auto* refusal = std::get_if<Refusal>(&read)) return *refusal;
  const Value& value = std::get<Value>(read);
  const SQLSMALLINT t = binding.sql_type;
  if (IsCharacterType(t)) {
    if (const auto* text = std::get_if<std::string>(&value)) return TextLiteral(*text);
    if (const auto* integer = std::get_if<long long>(&value)) return TextLiteral(std::to_string(*integer));
    if (const auto* real = std::get_if<double>(&value)) {
      if (!std::isfinite(*real)) return Refuse("22003", "A numeric parameter is not finite");
      return TextLiteral(FormatReal(*real));
    }
    const auto& d = std::get<DateTime>(value);
    if (!ValidDateTime(d)) return Refuse("22007", "A date or time parameter is not a valid date or time");
    return TextLiteral(d.has_date ? FormatDateTime(d) : FormatDateTime(d).substr(11));
  }
  if (IsIntegerType(t)) return IntegerLiteral(value);
  if (IsRealType(t)) return RealLiteral(value);
  if (IsDateTimeType(t)) return DateTimeLiteral(value);
  return Refuse("HYC00", "Parameters of SQL type " + std::to_string(t) +
                             " are not supported; use a character, integer, floating-point, date or time type");
}

Substitution Substitute(std::string_view sql, const std::vector<std::size_t>& markers,
                        const std::map<SQLUSMALLINT, ParameterBinding>& parameters) {
  std::string out;
  out.reserve(sql.size() + markers.size() * 16);
  std::size_t from = 0;
  for (std::size_t n = 0; n < markers.size(); ++n) {
    const auto found = parameters.find(static_cast<SQLUSMALLINT>(n + 1));
    if (found == parameters.end()) {
      return Refuse("07002", "Parameter " + std::to_string(n + 1) + " of " + std::to_string(markers.size()) +
                                 " is not bound");
    }
    auto literal = MakeLiteral(found->second);
    if (auto* refusal = std::get_if<Refusal>(&literal)) {
      refusal->message = "Parameter " + std::to_string(n + 1) + ": " + refusal->message;
      return *refusal;
    }
    out.append(sql.substr(from, markers[n] - from));
    // Blanks on both sides end the literal where it ends: mdbtools' lexer
    // would otherwise read a quote or bracket that follows into a path token.
    out += ' ';
    out += std::get<std::string>(literal);
    out += ' ';
    from = markers[n] + 1;
  }
  out.append(sql.substr(from));
  if (out.size() > kMaxStatementBytes) {
    return Refuse("HY000", "The statement with its parameters is " + std::to_string(out.size()) +
                               " bytes long; mdbtools keeps only 4095 and would cut it");
  }
  return out;
}

}  // namespace access_driver
