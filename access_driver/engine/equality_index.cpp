#include "equality_index.h"

#include <algorithm>
#include <bit>
#include <clocale>
#include <cwctype>
#include <string>
#include <string_view>

#include <locale.h>

namespace tarnwick::access {
namespace {

// FNV-1a over a tag and the bytes: numbers and text never share a key.
std::uint64_t Hash(char tag, std::string_view bytes) {
    std::uint64_t h = 1469598103934665603ULL;
    auto mix = [&h](unsigned char c) {
        h ^= c;
        h *= 1099511628211ULL;
    };
    mix(static_cast<unsigned char>(tag));
    for (char c : bytes) {
        mix(static_cast<unsigned char>(c));
    }
    return h;
}

std::optional<std::uint64_t> NumberKey(double v) {
    if (v != v) {
        return std::nullopt;
    }
    if (v == 0) {
        v = 0;  // -0.0 equals 0.0
    }
    const auto bits = std::bit_cast<std::uint64_t>(v);
    return Hash('n', std::string_view(reinterpret_cast<const char*>(&bits), sizeof bits));
}

locale_t Utf8Locale() {
    static const locale_t locale = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        return l ? l : newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
    }();
    return locale;
}

// Lower-cases every code point (ASCII and beyond); bytes that are no valid
// UTF-8 are kept as they are.
std::string Folded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const locale_t locale = Utf8Locale();
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c));
            ++i;
            continue;
        }
        const int len = c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc0 ? 2 : 1;
        if (len == 1 || i + static_cast<std::size_t>(len) > text.size()) {
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        char32_t cp = c & (0x7f >> len);
        for (int k = 1; k < len; ++k) {
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3f);
        }
        const auto lower = static_cast<char32_t>(towlower_l(static_cast<wint_t>(cp), locale));
        // Write the lowered code point back as UTF-8.
        if (lower < 0x80) {
            out.push_back(static_cast<char>(lower));
        } else if (lower < 0x800) {
            out.push_back(static_cast<char>(0xc0 | (lower >> 6)));
            out.push_back(static_cast<char>(0x80 | (lower & 0x3f)));
        } else if (lower < 0x10000) {
            out.push_back(static_cast<char>(0xe0 | (lower >> 12)));
            out.push_back(static_cast<char>(0x80 | ((lower >> 6) & 0x3f)));
            out.push_back(static_cast<char>(0x80 | (lower & 0x3f)));
        } else {
            out.push_back(static_cast<char>(0xf0 | (lower >> 18)));
            out.push_back(static_cast<char>(0x80 | ((lower >> 12) & 0x3f)));
            out.push_back(static_cast<char>(0x80 | ((lower >> 6) & 0x3f)));
            out.push_back(static_cast<char>(0x80 | (lower & 0x3f)));
        }
        i += static_cast<std::size_t>(len);
    }
    return out;
}

bool IsNumeric(ColumnKind kind) {
    return kind == ColumnKind::Boolean || kind == ColumnKind::Integer || kind == ColumnKind::Real ||
           kind == ColumnKind::Currency || kind == ColumnKind::Decimal;
}

}  // namespace

bool IsIndexable(ColumnKind kind) { return kind != ColumnKind::Binary; }

std::optional<std::uint64_t> KeyOfCell(const Cell& cell, ColumnKind kind) {
    if (IsNumeric(kind)) {
        switch (cell.type) {
        case Cell::Type::Integer: return NumberKey(static_cast<double>(cell.integer));
        case Cell::Type::Real: return NumberKey(cell.real);
        default: return std::nullopt;
        }
    }
    if (cell.type == Cell::Type::Text) {
        return Hash('t', Folded(cell.bytes));
    }
    return std::nullopt;
}

Probe ProbeFor(sqlite3_value* value, ColumnKind kind) {
    Probe probe;
    if (sqlite3_value_type(value) == SQLITE_NULL) {
        probe.kind = Probe::Kind::NoMatch;
        return probe;
    }
    std::optional<std::uint64_t> key;
    if (IsNumeric(kind)) {
        // The column's numeric affinity turns numeric-looking text into a
        // number before SQLite compares; other text compares unequal, but a
        // scan is never wrong.
        switch (sqlite3_value_numeric_type(value)) {
        case SQLITE_INTEGER: key = NumberKey(static_cast<double>(sqlite3_value_int64(value))); break;
        case SQLITE_FLOAT: key = NumberKey(sqlite3_value_double(value)); break;
        default: break;
        }
    } else if (sqlite3_value_type(value) == SQLITE_TEXT) {
        // A number compared with a text column may be compared as a number
        // (' 5' equals 5), which no text key can answer: those scan.
        const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
        key = Hash('t', Folded(std::string_view(text, static_cast<std::size_t>(sqlite3_value_bytes(value)))));
    }
    if (key) {
        probe.kind = Probe::Kind::Key;
        probe.key = *key;
    }
    return probe;
}

EqualityIndex EqualityIndex::Build(TableReader& reader, unsigned column, ColumnKind kind) {
    EqualityIndex index;
    reader.Rewind();
    while (reader.Next()) {
        if (auto key = KeyOfCell(reader.Read(column), kind)) {
            index.entries_.emplace_back(*key, reader.Position());
        }
    }
    reader.Rewind();
    std::sort(index.entries_.begin(), index.entries_.end());
    index.entries_.shrink_to_fit();
    return index;
}

std::vector<std::uint64_t> EqualityIndex::Lookup(std::uint64_t key) const {
    std::vector<std::uint64_t> out;
    auto it = std::lower_bound(entries_.begin(), entries_.end(), std::make_pair(key, std::uint64_t{0}));
    for (; it != entries_.end() && it->first == key; ++it) {
        out.push_back(it->second);
    }
    return out;
}

}  // namespace tarnwick::access
