#include "wide.h"

#include <algorithm>
#include <cstring>

namespace access_driver {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

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

// The next code point of UTF-8 text at `at`, advancing it.
char32_t NextCodePoint(std::string_view s, std::size_t& at) {
    const auto lead = static_cast<unsigned char>(s[at++]);
    if (lead < 0x80)
        return lead;
    int extra = lead >= 0xF0 && lead < 0xF5 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 && lead < 0xE0 ? 1 : -1;
    if (extra < 0)
        return kReplacement;
    char32_t c = lead & (0x3F >> extra);
    for (int i = 0; i < extra; ++i) {
        if (at >= s.size() || (static_cast<unsigned char>(s[at]) & 0xC0) != 0x80)
            return kReplacement;
        c = (c << 6) | (static_cast<unsigned char>(s[at++]) & 0x3F);
    }
    const char32_t smallest[] = {0, 0x80, 0x800, 0x10000};
    if (c < smallest[extra] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000))
        return kReplacement;
    return c;
}

} // namespace

std::string ToUtf8(const SQLWCHAR* text, SQLINTEGER length) {
    std::string out;
    if (!text)
        return out;
    std::size_t count = 0;
    if (length == SQL_NTS) {
        while (text[count] != 0)
            ++count;
    } else if (length > 0) {
        // Some clients (Qt) count the terminating NUL in the length.
        while (count < static_cast<std::size_t>(length) && text[count] != 0)
            ++count;
    }
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < count && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = kReplacement;
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::u16string ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (std::size_t at = 0; at < utf8.size();) {
        const char32_t c = NextCodePoint(utf8, at);
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

bool WriteWide(std::string_view utf8, SQLWCHAR* buffer, SQLINTEGER buffer_chars, SQLINTEGER* length) {
    const std::u16string wide = ToUtf16(utf8);
    if (length)
        *length = static_cast<SQLINTEGER>(wide.size());
    if (!buffer || buffer_chars <= 0)
        return !wide.empty();
    std::size_t fits = std::min(wide.size(), static_cast<std::size_t>(buffer_chars - 1));
    // Never leave half of a surrogate pair at the end.
    if (fits < wide.size() && fits > 0 && wide[fits - 1] >= 0xD800 && wide[fits - 1] < 0xDC00)
        --fits;
    static_assert(sizeof(SQLWCHAR) == sizeof(char16_t));
    std::memcpy(buffer, wide.data(), fits * sizeof(SQLWCHAR));
    buffer[fits] = 0;
    return fits < wide.size();
}

} // namespace access_driver
