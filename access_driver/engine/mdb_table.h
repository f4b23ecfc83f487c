// Reading one Access table row by row through libmdb, each reader with a
// handle of its own: libmdb keeps the current page in the handle, so two
// readers sharing one would overwrite each other's rows.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <mdbtools.h>

namespace tarnwick::access {

// How a column's values reach SQLite.
enum class ColumnKind {
    Boolean,  // Yes/No: -1 or 0, as Access stores it
    Integer,  // Byte, Integer, Long, AutoNumber
    Real,     // Single (widened exactly), Double
    Currency, // the scaled 64-bit integer divided by 10000
    Decimal,  // Decimal, as a double
    DateTime, // text 'YYYY-MM-DD HH:MM:SS'
    Text,     // Text and Memo: UTF-8
    Guid,     // text in braces
    Binary,   // Binary and OLE: blob
};

struct ColumnInfo {
    std::string name;
    int mdbType = 0;
    ColumnKind kind = ColumnKind::Text;
    std::string declaredType; // what sqlite3_declare_vtab is told
    int length = 0;           // Text: characters; Binary: bytes
    int precision = 0;        // Decimal
    int scale = 0;            // Decimal
    bool nullable = true;
};

// The columns of a table as SQLite sees them; textCollation is appended to
// Text and Memo columns.
std::vector<ColumnInfo> DescribeColumns(const MdbTableDef& table, const std::string& textCollation);

// One value read from a row.
struct Cell {
    enum class Type { Null, Integer, Real, Text, Blob } type = Type::Null;
    std::int64_t integer = 0;
    double real = 0;
    std::string bytes; // Text (UTF-8) or Blob
};

// Access stores a date as days since 1899-12-30, the fraction the time of
// day (of the day before the epoch for negative values). Empty when the value
// is no date Access can hold.
std::string FormatAccessDate(double value);

struct HandleCloser {
    void operator()(MdbHandle* mdb) const { mdb_close(mdb); }
};
using MdbHandlePtr = std::unique_ptr<MdbHandle, HandleCloser>;

// Opens the file read-only and reads its catalog, the tables MSysObjects
// lists with their properties; null when it cannot. The catalog is read here
// rather than by libmdb's mdb_read_catalog, which loops without end, taking
// all memory, over a damaged property record or long-value chain.
MdbHandlePtr OpenAccessFile(const std::string& path);

// Whether a property blob (MSysObjects.LvProp) can be handed to libmdb's
// mdb_kkd_to_props: every record and entry inside its bounds and of a length
// that moves on, every value as long as its type reads, no property twice in
// one block.
bool PropertiesAreWellFormed(std::string_view kkd);

// The catalog entry of the table (user or system) named exactly name.
MdbCatalogEntry* FindTableEntry(MdbHandle* mdb, const std::string& name);

// Pages read for lookups, kept for the next lookup: rows an index finds lie
// on pages all over the table, and each page holds many rows that later
// lookups want. Bounded; emptied when full.
class PageCache {
public:
    explicit PageCache(std::size_t maxBytes) : maxBytes_(maxBytes) {}
    const unsigned char* Find(std::uint32_t page) const;
    void Store(std::uint32_t page, const unsigned char* data, std::size_t size);
    void Clear();

private:
    std::size_t maxBytes_;
    std::size_t bytes_ = 0;
    std::unordered_map<std::uint32_t, std::vector<unsigned char>> pages_;
};

class TableReader {
public:
    // Clones the handle and reads the table's definition; null with error
    // set when the table is missing or unreadable. Seek keeps the pages it
    // reads in cache, when given.
    static std::unique_ptr<TableReader> Open(MdbHandle* shared, const std::string& name, std::string& error,
                                             PageCache* cache = nullptr);
    // The system table MSysObjects, whose definition is always on page 2.
    static std::unique_ptr<TableReader> OpenObjects(MdbHandle* shared, std::string& error);
    ~TableReader();
    TableReader(const TableReader&) = delete;
    TableReader& operator=(const TableReader&) = delete;

    const MdbTableDef& Definition() const { return *table_; }

    // Starts over at the first row; Next then moves to each live row in turn.
    void Rewind();
    bool Next();
    // Moves to the row at a position Next reported; false when it is gone.
    bool Seek(std::uint64_t position);
    std::uint64_t Position() const { return (static_cast<std::uint64_t>(page_) << 16) | row_; }

    Cell Read(unsigned column);

private:
    TableReader() = default;
    bool ReadDefinition(MdbCatalogEntry* entry, const std::string& name, std::string& error);
    bool LoadRow(unsigned row);
    bool ReadLongValue(int start, int size, std::string& out);

    MdbHandle* mdb_ = nullptr;
    MdbCatalogEntry objectsEntry_{}; // MSysObjects, which the catalog does not list
    MdbTableDef* table_ = nullptr;
    PageCache* cache_ = nullptr;
    std::vector<MdbField> fields_;
    bool started_ = false;
    unsigned nextRow_ = 0;
    std::uint32_t page_ = 0;
    unsigned row_ = 0;
};

} // namespace tarnwick::access
