// Equality lookups over one column of an Access table: a hash of every row's
// value with the row's position, sorted by hash. SQLite checks each row it is
// given against the constraint again, so the index only has to return every
// row that can match: its text keys fold case more coarsely than any
// collation it serves.
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

// The key of a stored value; none for NULL, which equals nothing.
std::optional<std::uint64_t> KeyOfCell(const Cell& cell, ColumnKind kind);

// What a value compared with the column asks of the index.
struct Probe {
    enum class Kind {
        Key,      // look up key
        NoMatch,  // nothing equals it (NULL)
        Scan,     // the index cannot tell: read every row
    } kind = Kind::Scan;
    std::uint64_t key = 0;
};
Probe ProbeFor(sqlite3_value* value, ColumnKind kind);

class EqualityIndex {
public:
    // Reads every row of the table once.
    static EqualityIndex Build(TableReader& reader, unsigned column, ColumnKind kind);

    // Positions of the rows whose key is key, in file order.
    std::vector<std::uint64_t> Lookup(std::uint64_t key) const;

    std::size_t size() const { return entries_.size(); }

private:
    std::vector<std::pair<std::uint64_t, std::uint64_t>> entries_;  // key, position
};

}  // namespace tarnwick::access
