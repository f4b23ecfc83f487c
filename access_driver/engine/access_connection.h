// What one SQLite connection knows of its Access file: the open handle, the
// tables as declared to SQLite, and the equality indexes built so far, all
// dropped together when another program changes the file.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

#include "equality_index.h"
#include "mdb_table.h"

namespace tarnwick::access {

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long long mtimeNs = 0;
    long long ctimeNs = 0;
    bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> IdentityOf(const std::string& path);

// One column of one index, as the file's index definitions give it.
struct IndexColumn {
    std::string index;
    bool unique = false;
    bool primary = false;
    int ordinal = 0; // from 1
    std::string column;
};

struct AccessTable {
    std::string name;
    bool system = false;
    unsigned long rowCount = 0; // as the table definition records it
    std::vector<ColumnInfo> columns;
    std::vector<IndexColumn> indexes;
};

class AccessConnection {
public:
    // Opens the file and reads the catalog and every table's definition;
    // false with error set when it cannot.
    bool Open(const std::string& path, const std::string& textCollation, std::string& error);
    bool IsOpen() const { return mdb_ != nullptr; }

    // Checks that the file is the one the handle reads; when another program
    // changed it, opens it again and forgets every index. False with error
    // set when the file can no longer be read.
    bool Refresh(std::string& error);

    MdbHandle* Handle() const { return mdb_.get(); }
    PageCache& Pages() { return pages_; }
    const std::vector<AccessTable>& Tables() const { return tables_; }
    const std::string& Path() const { return path_; }

    // Set while the module declares a table's columns to SQLite.
    bool declaring = false;

    // The index over a column, built on first use with reader.
    const EqualityIndex& IndexFor(std::size_t table, unsigned column, TableReader& reader);

private:
    std::string path_;
    FileIdentity identity_;
    MdbHandlePtr mdb_;
    std::vector<AccessTable> tables_;
    std::map<std::pair<std::size_t, unsigned>, EqualityIndex> indexes_;
    // Pages of the file that lookups read, up to 32 MB.
    PageCache pages_{32u << 20};
};

// The columns a reader of the file as it is now has, against those declared
// when the connection opened it: empty when they agree.
std::string ColumnsChanged(const AccessTable& declared, const MdbTableDef& current);

} // namespace tarnwick::access
