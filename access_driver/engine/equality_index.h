// Equality lookups over one column of an Access table: a hash of every row's
// value with the row's position, sorted by hash. SQLite checks each row it is
// given against the constraint again, so the index only has to return every
// row that can match. Text keys are the ACCESS collation's sort keys: equal
// exactly when ACCESS calls the texts equal, and equal whenever BINARY or
// NOCASE does, so one index serves all three collations.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include <sqlite3.h>

#include "mdb_table.h"

namespace tarnwick::access {

// Whether a column can be looked up by equality at all.
bool IsIndexable(ColumnKind kind);

// The key of a stored value.
struct CellKey {
    enum class Kind {
        None,    // NULL, which equals nothing
        Key,     // key
        Unkeyed, // a text the collation could not key: every lookup returns it
    } kind = Kind::None;
    std::uint64_t key = 0;
};
CellKey KeyOfCell(const Cell& cell, ColumnKind kind);

// What a value compared with the column asks of the index.
struct Probe {
    enum class Kind {
        Key,     // look up key
        NoMatch, // nothing equals it (NULL)
        Scan,    // the index cannot tell: read every row
    } kind = Kind::Scan;
    std::uint64_t key = 0;
};
Probe ProbeFor(sqlite3_value* value, ColumnKind kind);

class EqualityIndex {
public:
    // Reads every row of the table once.
    static EqualityIndex Build(TableReader& reader, unsigned column, ColumnKind kind);

    // Positions of the rows whose key is key, and of the unkeyed rows, in
    // file order.
    std::vector<std::uint64_t> Lookup(std::uint64_t key) const;

    std::size_t size() const { return entries_.size(); }

private:
    std::vector<std::pair<std::uint64_t, std::uint64_t>> entries_; // key, position
    std::vector<std::uint64_t> unkeyed_;                           // positions
};

} // namespace tarnwick::access
