#include "equality_index.h"

#include <algorithm>
#include <bit>
#include <iterator>
#include <string>
#include <string_view>

#include "access_collation.h"
#include "access_dates.h"

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
        v = 0; // -0.0 equals 0.0
    }
    const auto bits = std::bit_cast<std::uint64_t>(v);
    return Hash('n', std::string_view(reinterpret_cast<const char*>(&bits), sizeof bits));
}

// The key of a text: the ACCESS collation's own sort key, so that two texts
// share a key exactly when that collation calls them equal (case, σ and ς,
// ligatures and full-width forms, ignorable characters), while accents, and
// ß against ss, keep them apart. Texts equal under BINARY or NOCASE are equal under
// ACCESS too, so the same key serves those collations; SQLite checks every
// row it is given. None when the collator cannot build the key.
std::optional<std::uint64_t> TextKey(std::string_view utf8) {
    const std::string key = AccessCollationKey(utf8);
    if (key.empty()) {
        return std::nullopt;
    }
    return Hash('t', key);
}

bool IsNumeric(ColumnKind kind) {
    return kind == ColumnKind::Boolean || kind == ColumnKind::Integer || kind == ColumnKind::Real ||
           kind == ColumnKind::Currency || kind == ColumnKind::Decimal;
}

} // namespace

bool IsIndexable(ColumnKind kind) { return kind != ColumnKind::Binary; }

CellKey KeyOfCell(const Cell& cell, ColumnKind kind) {
    CellKey out;
    std::optional<std::uint64_t> key;
    if (IsNumeric(kind)) {
        switch (cell.type) {
        case Cell::Type::Integer:
            key = NumberKey(static_cast<double>(cell.integer));
            break;
        case Cell::Type::Real:
            key = NumberKey(cell.real);
            break;
        default:
            break;
        }
    } else if (cell.type == Cell::Type::Text) {
        key = TextKey(cell.bytes);
        if (!key) {
            out.kind = CellKey::Kind::Unkeyed;
            return out;
        }
    }
    if (key) {
        out.kind = CellKey::Kind::Key;
        out.key = *key;
    }
    return out;
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
        case SQLITE_INTEGER:
            key = NumberKey(static_cast<double>(sqlite3_value_int64(value)));
            break;
        case SQLITE_FLOAT:
            key = NumberKey(sqlite3_value_double(value));
            break;
        default:
            break;
        }
    } else if (sqlite3_value_type(value) == SQLITE_TEXT) {
        // A number compared with a text column may be compared as a number
        // (' 5' equals 5), which no text key can answer: those scan.
        const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
        const std::string_view given(text, static_cast<std::size_t>(sqlite3_value_bytes(value)));
        // A date given as text ('1996-01-31', or with a fraction of zeros)
        // is looked up as the stored date it names, which ACCESSDATE calls
        // equal; SQLite's recheck keeps BINARY's answer under BINARY.
        key = kind == ColumnKind::DateTime ? TextKey(StoredDateForm(given)) : TextKey(given);
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
        const CellKey key = KeyOfCell(reader.Read(column), kind);
        if (key.kind == CellKey::Kind::Key) {
            index.entries_.emplace_back(key.key, reader.Position());
        } else if (key.kind == CellKey::Kind::Unkeyed) {
            index.unkeyed_.push_back(reader.Position());
        }
    }
    reader.Rewind();
    std::sort(index.entries_.begin(), index.entries_.end());
    index.entries_.shrink_to_fit();
    index.unkeyed_.shrink_to_fit();
    return index;
}

std::vector<std::uint64_t> EqualityIndex::Lookup(std::uint64_t key) const {
    std::vector<std::uint64_t> keyed;
    auto it = std::lower_bound(entries_.begin(), entries_.end(), std::make_pair(key, std::uint64_t{0}));
    for (; it != entries_.end() && it->first == key; ++it) {
        keyed.push_back(it->second);
    }
    if (unkeyed_.empty()) {
        return keyed;
    }
    std::vector<std::uint64_t> out;
    out.reserve(keyed.size() + unkeyed_.size());
    std::merge(keyed.begin(), keyed.end(), unkeyed_.begin(), unkeyed_.end(), std::back_inserter(out));
    return out;
}

} // namespace tarnwick::access
