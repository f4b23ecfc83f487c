#include "function_support.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

namespace tarnwick::access {

bool IsNull(sqlite3_value* value) { return sqlite3_value_type(value) == SQLITE_NULL; }

std::optional<double> ParseNumberText(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    if (text.empty() || text.size() > 64)
        return std::nullopt;
    // strtod alone would also take "inf", "nan" and hexadecimal.
    if (text.find_first_not_of("0123456789+-.eE") != std::string_view::npos)
        return std::nullopt;
    const std::string copy(text);
    char* end = nullptr;
    errno = 0;
    const double number = std::strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || errno == ERANGE)
        return std::nullopt;
    return number;
}

std::optional<double> NumberOf(sqlite3_value* value) {
    switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
        return static_cast<double>(sqlite3_value_int64(value));
    case SQLITE_FLOAT:
        return sqlite3_value_double(value);
    case SQLITE_TEXT:
        return ParseNumberText(std::string_view(reinterpret_cast<const char*>(sqlite3_value_text(value)),
                                                static_cast<size_t>(sqlite3_value_bytes(value))));
    default:
        return std::nullopt;
    }
}

std::optional<DateTime> DateOf(sqlite3_value* value) {
    switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
        return FromSerial(sqlite3_value_double(value));
    case SQLITE_TEXT:
        return ParseAccessDate(std::string_view(reinterpret_cast<const char*>(sqlite3_value_text(value)),
                                                static_cast<size_t>(sqlite3_value_bytes(value))));
    default:
        return std::nullopt;
    }
}

std::string NumberText(double number) {
    if (number == 0)
        return "0";
    // Access prints a Double with at most 15 significant digits.
    char text[40];
    std::snprintf(text, sizeof text, "%.15G", number);
    return text;
}

std::string TextOf(sqlite3_value* value) {
    switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
        return std::to_string(sqlite3_value_int64(value));
    case SQLITE_FLOAT:
        return NumberText(sqlite3_value_double(value));
    case SQLITE_NULL:
        return {};
    default: {
        const auto* bytes = static_cast<const char*>(sqlite3_value_blob(value));
        return bytes ? std::string(bytes, static_cast<size_t>(sqlite3_value_bytes(value))) : std::string();
    }
    }
}

double RoundHalfEven(double value) {
    // nearbyint rounds half to even in the default rounding mode.
    return std::nearbyint(value);
}

void ResultText(sqlite3_context* context, const std::string& text) {
    sqlite3_result_text64(context, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

void ResultDate(sqlite3_context* context, const DateTime& value) { ResultText(context, FormatStoredDate(value)); }

namespace {

// Every function runs through here, so that no C++ exception (an allocation
// that fails) unwinds through SQLite's C frames.
void CallGuarded(sqlite3_context* context, int argc, sqlite3_value** argv) {
    const auto* entry = static_cast<const FunctionEntry*>(sqlite3_user_data(context));
    try {
        entry->function(context, argc, argv);
    } catch (const std::bad_alloc&) {
        sqlite3_result_error_nomem(context);
    } catch (const std::exception& error) {
        sqlite3_result_error(context, error.what(), -1);
    }
}

} // namespace

bool ResultTooBig(sqlite3_context* context, size_t size) {
    const int limit = sqlite3_limit(sqlite3_context_db_handle(context), SQLITE_LIMIT_LENGTH, -1);
    if (size <= static_cast<size_t>(limit))
        return false;
    sqlite3_result_error_toobig(context);
    return true;
}

int RegisterFunctions(sqlite3* db, const FunctionEntry* entries, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const FunctionEntry& entry = entries[i];
        const int flags = SQLITE_UTF8 | (entry.deterministic ? SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS : 0);
        const int rc =
            sqlite3_create_function_v2(db, entry.name, entry.arguments, flags, const_cast<FunctionEntry*>(&entry),
                                       CallGuarded, nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            return rc;
    }
    return SQLITE_OK;
}

std::u32string DecodeUtf8(std::string_view text) {
    std::u32string decoded;
    decoded.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        int length = byte < 0x80 ? 1 : (byte >> 5) == 0x6 ? 2 : (byte >> 4) == 0xE ? 3 : (byte >> 3) == 0x1E ? 4 : 0;
        char32_t c = length == 1 ? byte : length == 2 ? byte & 0x1F : length == 3 ? byte & 0x0F : byte & 0x07;
        bool valid = length > 0 && i + static_cast<size_t>(length) <= text.size();
        for (int k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        if (!valid) {
            decoded.push_back(U'\uFFFD');
            ++i;
            continue;
        }
        decoded.push_back(c);
        i += static_cast<size_t>(length);
    }
    return decoded;
}

std::string EncodeUtf8(std::u32string_view text) {
    std::string encoded;
    encoded.reserve(text.size());
    for (char32_t c : text) {
        if (c < 0x80) {
            encoded += static_cast<char>(c);
        } else if (c < 0x800) {
            encoded += static_cast<char>(0xC0 | (c >> 6));
            encoded += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            encoded += static_cast<char>(0xE0 | (c >> 12));
            encoded += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            encoded += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            encoded += static_cast<char>(0xF0 | (c >> 18));
            encoded += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            encoded += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            encoded += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return encoded;
}

} // namespace tarnwick::access
