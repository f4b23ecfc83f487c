#include "mdb_table.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unordered_set>

namespace tarnwick::access {
namespace {

constexpr int kOffsetMask = 0x1fff;
constexpr int kDeletedRow = 0x4000;
constexpr int kLongValueHeader = 12; // length and flags, page and row, unused
// A chain of long-value pages longer than this is a damaged file's loop.
constexpr int kMaxLongValuePages = 1 << 20;

ColumnKind KindOf(int mdbType) {
    switch (mdbType) {
    case MDB_BOOL:
        return ColumnKind::Boolean;
    case MDB_BYTE:
    case MDB_INT:
    case MDB_LONGINT:
    case MDB_COMPLEX:
        return ColumnKind::Integer;
    case MDB_FLOAT:
    case MDB_DOUBLE:
        return ColumnKind::Real;
    case MDB_MONEY:
        return ColumnKind::Currency;
    case MDB_NUMERIC:
        return ColumnKind::Decimal;
    case MDB_DATETIME:
        return ColumnKind::DateTime;
    case MDB_TEXT:
    case MDB_MEMO:
        return ColumnKind::Text;
    case MDB_REPID:
        return ColumnKind::Guid;
    default:
        return ColumnKind::Binary;
    }
}

// The declared type, spelled as SQLite ODBC maps it to the ODBC type of the
// Access driver. Yes/No is declared smallint: its -1 reads as a true number
// in every client, where a bit column's -1 converts to SQL_C_BIT as 0.
std::string DeclaredTypeOf(const MdbColumn& col, bool jet3, const std::string& collation) {
    const std::string collate = collation.empty() ? "" : " COLLATE " + collation;
    switch (col.col_type) {
    case MDB_BOOL:
        return "smallint";
    case MDB_BYTE:
        return "tinyint";
    case MDB_INT:
        return "smallint";
    case MDB_LONGINT:
    case MDB_COMPLEX:
        return "integer";
    case MDB_FLOAT:
        return "real";
    case MDB_DOUBLE:
        return "double";
    case MDB_MONEY:
        return "numeric(19,4)";
    case MDB_NUMERIC:
        return "numeric(" + std::to_string(col.col_prec) + "," + std::to_string(col.col_scale) + ")";
    case MDB_DATETIME:
        // The functions that bring ACCESS bring ACCESSDATE too.
        return collation == "ACCESS" ? "timestamp COLLATE ACCESSDATE" : "timestamp";
    case MDB_TEXT:
        return "varchar(" + std::to_string(jet3 ? col.col_size : col.col_size / 2) + ")" + collate;
    case MDB_MEMO:
        return "longvarchar" + collate;
    case MDB_REPID:
        return "varchar(38)";
    case MDB_BINARY:
        return "varbinary(" + std::to_string(col.col_size) + ")";
    default:
        return "longvarbinary";
    }
}

// Days since 1970-01-01 to a proleptic Gregorian date.
void CivilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

bool IsAscii(const char* src, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        if (static_cast<unsigned char>(src[i]) >= 0x80 || src[i] == 0) {
            return false;
        }
    }
    return true;
}

// Most text is ASCII, which reads as it is stored without a conversion: in
// an Access 97 file under a Windows code page, in Access 2000's compressed
// text (after its FF FE mark, with no zero byte switching to two-byte
// characters), and in two-byte text whose every high byte is zero.
bool AsciiText(MdbHandle* mdb, const char* src, std::size_t size, std::string& out) {
    if (mdb->f->jet_version == MDB_VER_JET3) {
        const unsigned page = mdb->f->code_page;
        if (page >= 1250 && page <= 1258 && IsAscii(src, size)) {
            out.assign(src, size);
            return true;
        }
        return false;
    }
    if (size >= 2 && static_cast<unsigned char>(src[0]) == 0xff && static_cast<unsigned char>(src[1]) == 0xfe) {
        if (IsAscii(src + 2, size - 2)) {
            out.assign(src + 2, size - 2);
            return true;
        }
        return false;
    }
    if (size % 2 != 0) {
        return false;
    }
    out.resize(size / 2);
    for (std::size_t i = 0; i < size; i += 2) {
        const auto low = static_cast<unsigned char>(src[i]);
        if (src[i + 1] != 0 || low >= 0x80 || low == 0) {
            out.clear();
            return false;
        }
        out[i / 2] = static_cast<char>(low);
    }
    return true;
}

std::string TextFrom(MdbHandle* mdb, const char* src, std::size_t size) {
    if (size == 0) {
        return {};
    }
    if (std::string ascii; AsciiText(mdb, src, size, ascii)) {
        return ascii;
    }
    // Each source byte becomes at most three UTF-8 bytes.
    std::string out(size * 3 + 8, '\0');
    const int n = mdb_unicode2ascii(mdb, src, size, out.data(), out.size());
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    // Some system tables end their names with a zero character, which ends
    // the text in Access as in libmdb.
    if (const auto end = out.find('\0'); end != std::string::npos) {
        out.resize(end);
    }
    return out;
}

Cell IntegerCell(std::int64_t v) {
    Cell c;
    c.type = Cell::Type::Integer;
    c.integer = v;
    return c;
}

Cell RealCell(double v) {
    Cell c;
    c.type = Cell::Type::Real;
    c.real = v;
    return c;
}

Cell BytesCell(Cell::Type type, std::string bytes) {
    Cell c;
    c.type = type;
    c.bytes = std::move(bytes);
    return c;
}

} // namespace

std::vector<ColumnInfo> DescribeColumns(const MdbTableDef& table, const std::string& textCollation) {
    std::vector<ColumnInfo> out;
    const bool jet3 = table.entry->mdb->f->jet_version == MDB_VER_JET3;
    for (unsigned i = 0; i < table.num_cols; ++i) {
        const auto* col = static_cast<const MdbColumn*>(g_ptr_array_index(table.columns, i));
        ColumnInfo info;
        info.name = col->name;
        info.mdbType = col->col_type;
        info.kind = KindOf(col->col_type);
        info.declaredType = DeclaredTypeOf(*col, jet3, textCollation);
        info.length = col->col_type == MDB_TEXT && !jet3 ? col->col_size / 2 : col->col_size;
        info.precision = col->col_prec;
        info.scale = col->col_scale;
        // Yes/No is never NULL; other columns when the table's design says
        // the value is required.
        const char* required = mdb_col_get_prop(col, "Required");
        info.nullable = col->col_type != MDB_BOOL && !(required && required[0] == 'y');
        out.push_back(std::move(info));
    }
    return out;
}

std::string FormatAccessDate(double value) {
    // 100-01-01 to 9999-12-31, the dates Access accepts.
    if (!std::isfinite(value) || value < -657435.0 || value >= 2958466.0) {
        return {};
    }
    const double dayPart = std::trunc(value);
    long long day = static_cast<long long>(dayPart);
    long long seconds = static_cast<long long>(std::fabs(value - dayPart) * 86400.0 + 0.5);
    if (seconds >= 86400) {
        seconds -= 86400;
        ++day;
    }
    long long y = 0;
    unsigned m = 0;
    unsigned d = 0;
    CivilFromDays(day - 25569, y, m, d);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02lld:%02lld:%02lld", y, m, d, seconds / 3600,
                  seconds / 60 % 60, seconds % 60);
    return text;
}

bool PropertiesAreWellFormed(std::string_view kkd) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(kkd.data());
    auto int16 = [&](std::size_t at) { return static_cast<std::size_t>(bytes[at] | bytes[at + 1] << 8); };
    if (kkd.size() < 4 ||
        (kkd.substr(0, 4) != std::string_view("KKD", 4) && kkd.substr(0, 4) != std::string_view("MR2", 4))) {
        return false;
    }
    std::size_t names = 0;
    for (std::size_t pos = 4; pos < kkd.size();) {
        if (pos + 6 > kkd.size()) {
            return false;
        }
        const std::size_t length = int16(pos) | int16(pos + 2) << 16;
        const std::size_t type = int16(pos + 4);
        if (length < 6 || length > kkd.size() - pos) {
            return false;
        }
        const std::size_t end = pos + length;
        if (type == 0x80) {
            // The names: each a 16-bit length and that many bytes.
            names = 0;
            for (std::size_t at = pos + 6; at < end; ++names) {
                if (at + 2 > end || at + 2 + int16(at) > end) {
                    return false;
                }
                at += 2 + int16(at);
            }
        } else if (type <= 2) {
            // A block: its length, its name, then entries of a 16-bit length,
            // flags, type, name number and value size, and the value.
            const std::size_t block = pos + 6;
            if (block + 6 > end || block + 6 + int16(block + 4) > end) {
                return false;
            }
            // A property twice in one block, which Access never writes, is
            // one that libmdb's table of them keeps twice and then leaks.
            std::unordered_set<std::size_t> seen;
            for (std::size_t at = block + 6 + int16(block + 4); at < end;) {
                if (at + 8 > end) {
                    return false;
                }
                const std::size_t entry = int16(at);
                const unsigned char valueType = bytes[at + 3];
                const std::size_t size = int16(at + 6);
                if (int16(at + 4) >= names || at + 8 + size > end) {
                    break; // libmdb stops reading the block here
                }
                // libmdb reads a number's whole width, whatever the size says.
                static constexpr std::size_t kWidths[] = {0, 1, 1, 2, 4, 8, 4, 8, 8, 0, 0, 0, 0, 0, 0, 16, 17};
                const std::size_t width = valueType < std::size(kWidths) ? kWidths[valueType] : 0;
                if (entry < 8 || at + 8 + std::max(size, width) > end || !seen.insert(int16(at + 4)).second) {
                    return false;
                }
                at += entry;
            }
        }
        pos = end;
    }
    return true;
}

namespace {

// The tables MSysObjects lists (type 1, as libmdb's catalog of MDB_TABLE),
// into mdb->catalog as libmdb would have put them there.
bool ReadCatalog(MdbHandle* mdb) {
    std::string error;
    auto objects = TableReader::OpenObjects(mdb, error);
    if (!objects) {
        return false;
    }
    const MdbTableDef& def = objects->Definition();
    int id = -1, name = -1, type = -1, flags = -1, properties = -1;
    for (unsigned i = 0; i < def.num_cols; ++i) {
        const std::string column = static_cast<const MdbColumn*>(g_ptr_array_index(def.columns, i))->name;
        for (auto [wanted, index] :
             {std::pair{"Id", &id}, {"Name", &name}, {"Type", &type}, {"Flags", &flags}, {"LvProp", &properties}}) {
            if (column == wanted) {
                *index = static_cast<int>(i);
            }
        }
    }
    if (id < 0 || name < 0 || type < 0 || flags < 0) {
        return false;
    }
    if (mdb->catalog) {
        mdb_free_catalog(mdb);
    }
    mdb->catalog = g_ptr_array_new();
    mdb->num_catalog = 0;
    while (objects->Next()) {
        const Cell objectType = objects->Read(static_cast<unsigned>(type));
        if (objectType.type != Cell::Type::Integer || objectType.integer != MDB_TABLE) {
            continue;
        }
        auto* entry = static_cast<MdbCatalogEntry*>(g_malloc0(sizeof(MdbCatalogEntry)));
        entry->mdb = mdb;
        std::snprintf(entry->object_name, sizeof entry->object_name, "%s",
                      objects->Read(static_cast<unsigned>(name)).bytes.c_str());
        entry->object_type = MDB_TABLE;
        entry->table_pg = static_cast<unsigned long>(objects->Read(static_cast<unsigned>(id)).integer) & 0x00FFFFFF;
        entry->flags = static_cast<int>(objects->Read(static_cast<unsigned>(flags)).integer);
        if (properties >= 0) {
            std::string kkd = objects->Read(static_cast<unsigned>(properties)).bytes;
            if (PropertiesAreWellFormed(kkd)) {
                entry->props = mdb_kkd_to_props(mdb, kkd.data(), kkd.size());
            }
        }
        g_ptr_array_add(mdb->catalog, entry);
        ++mdb->num_catalog;
    }
    return true;
}

} // namespace

MdbHandlePtr OpenAccessFile(const std::string& path) {
    MdbHandlePtr mdb(mdb_open(path.c_str(), MDB_NOFLAGS));
    if (!mdb || !ReadCatalog(mdb.get())) {
        return nullptr;
    }
    return mdb;
}

MdbCatalogEntry* FindTableEntry(MdbHandle* mdb, const std::string& name) {
    for (unsigned i = 0; i < mdb->num_catalog; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (entry->object_type == MDB_TABLE && name == entry->object_name) {
            return entry;
        }
    }
    return nullptr;
}

const unsigned char* PageCache::Find(std::uint32_t page) const {
    const auto it = pages_.find(page);
    return it == pages_.end() ? nullptr : it->second.data();
}

void PageCache::Store(std::uint32_t page, const unsigned char* data, std::size_t size) {
    if (bytes_ + size > maxBytes_) {
        Clear();
    }
    auto [it, added] = pages_.try_emplace(page, data, data + size);
    if (added) {
        bytes_ += size;
    }
}

void PageCache::Clear() {
    pages_.clear();
    bytes_ = 0;
}

std::unique_ptr<TableReader> TableReader::Open(MdbHandle* shared, const std::string& name, std::string& error,
                                               PageCache* cache) {
    std::unique_ptr<TableReader> reader(new TableReader());
    reader->cache_ = cache;
    reader->mdb_ = mdb_clone_handle(shared);
    if (!reader->mdb_) {
        error = "cannot read the database file";
        return nullptr;
    }
    MdbCatalogEntry* entry = FindTableEntry(reader->mdb_, name);
    if (!entry) {
        error = "table '" + name + "' is no longer in the database file";
        return nullptr;
    }
    return reader->ReadDefinition(entry, name, error) ? std::move(reader) : nullptr;
}

std::unique_ptr<TableReader> TableReader::OpenObjects(MdbHandle* shared, std::string& error) {
    std::unique_ptr<TableReader> reader(new TableReader());
    reader->mdb_ = mdb_clone_handle(shared);
    if (!reader->mdb_) {
        error = "cannot read the database file";
        return nullptr;
    }
    MdbCatalogEntry& entry = reader->objectsEntry_;
    entry.mdb = reader->mdb_;
    entry.object_type = MDB_TABLE;
    entry.table_pg = 2;
    std::snprintf(entry.object_name, sizeof entry.object_name, "%s", "MSysObjects");
    return reader->ReadDefinition(&entry, entry.object_name, error) ? std::move(reader) : nullptr;
}

bool TableReader::ReadDefinition(MdbCatalogEntry* entry, const std::string& name, std::string& error) {
    table_ = mdb_read_table(entry);
    // libmdb 1.0.0 takes an empty usage map (a damaged file) for a valid one.
    if (!table_ || table_->map_sz < 1 || !table_->usage_map || !mdb_read_columns(table_) ||
        table_->num_cols != table_->columns->len) {
        error = "the definition of table '" + name + "' cannot be read";
        return false;
    }
    fields_.resize(table_->num_cols);
    return true;
}

TableReader::~TableReader() {
    if (table_) {
        mdb_free_tabledef(table_);
    }
    if (mdb_) {
        mdb_close(mdb_);
    }
}

void TableReader::Rewind() {
    started_ = false;
    nextRow_ = 0;
}

bool TableReader::Next() {
    if (!started_) {
        started_ = true;
        mdb_rewind_table(table_);
        nextRow_ = 0;
        if (!mdb_read_next_dpg(table_)) {
            return false;
        }
    }
    for (;;) {
        const unsigned rows = mdb_get_int16(mdb_->pg_buf, mdb_->fmt->row_count_offset);
        if (nextRow_ >= rows) {
            nextRow_ = 0;
            if (!mdb_read_next_dpg(table_)) {
                return false;
            }
            continue;
        }
        const unsigned row = nextRow_++;
        if (LoadRow(row)) {
            page_ = table_->cur_phys_pg;
            row_ = row;
            return true;
        }
    }
}

bool TableReader::Seek(std::uint64_t position) {
    const auto page = static_cast<std::uint32_t>(position >> 16);
    const auto row = static_cast<unsigned>(position & 0xffff);
    const auto pageSize = static_cast<std::size_t>(mdb_->fmt->pg_size);
    if (mdb_->cur_pg != page || page == 0) {
        if (const unsigned char* cached = cache_ ? cache_->Find(page) : nullptr) {
            std::memcpy(mdb_->pg_buf, cached, pageSize);
            mdb_->cur_pg = page;
        } else if (mdb_read_pg(mdb_, page) != mdb_->fmt->pg_size) {
            return false;
        } else if (cache_) {
            cache_->Store(page, mdb_->pg_buf, pageSize);
        }
    }
    // A page that no longer holds this table's rows (the file changed).
    if (mdb_->pg_buf[0] != MDB_PAGE_DATA ||
        static_cast<unsigned long>(mdb_get_int32(mdb_->pg_buf, 4)) != table_->entry->table_pg) {
        return false;
    }
    if (!LoadRow(row)) {
        return false;
    }
    page_ = page;
    row_ = row;
    return true;
}

bool TableReader::LoadRow(unsigned row) {
    int start = 0;
    std::size_t size = 0;
    if (mdb_find_row(mdb_, static_cast<int>(row), &start, &size) != 0 || size == 0) {
        return false;
    }
    if (start & kDeletedRow) {
        return false;
    }
    start &= kOffsetMask;
    const auto pageSize = static_cast<std::size_t>(mdb_->fmt->pg_size);
    if (static_cast<std::size_t>(start) + size > pageSize) {
        return false;
    }
    if (mdb_crack_row(table_, start, size, fields_.data()) < 0) {
        return false;
    }
    // A damaged row can describe a value outside its page.
    for (const MdbField& f : fields_) {
        if (!f.is_null && (f.start < 0 || f.siz < 0 ||
                           static_cast<std::size_t>(f.start) + static_cast<std::size_t>(f.siz) > pageSize)) {
            return false;
        }
    }
    return true;
}

bool TableReader::ReadLongValue(int start, int size, std::string& out) {
    out.clear();
    if (size < kLongValueHeader) {
        return true;
    }
    const auto header = static_cast<std::uint32_t>(mdb_get_int32(mdb_->pg_buf, start));
    const std::uint32_t length = header & 0x3fffffff;
    if (header & 0x80000000) {
        // Stored in the row itself.
        out.assign(reinterpret_cast<const char*>(mdb_->pg_buf) + start + kLongValueHeader,
                   static_cast<std::size_t>(size - kLongValueHeader));
        return true;
    }
    auto pageRow = static_cast<int>(mdb_get_int32(mdb_->pg_buf, start + 4));
    void* buf = nullptr;
    int offset = 0;
    std::size_t len = 0;
    if (header & 0x40000000) {
        // One row on another page.
        if (mdb_find_pg_row(mdb_, pageRow, &buf, &offset, &len) != 0) {
            return false;
        }
        out.assign(static_cast<const char*>(buf) + offset, len);
        return true;
    }
    if ((header & 0xff000000) != 0) {
        return false;
    }
    // A chain of rows, each beginning with the next one's page and row; a
    // damaged file's chain that comes back to a row it passed is refused.
    std::unordered_set<int> visited;
    for (int pages = 0; pageRow != 0 && pages < kMaxLongValuePages; ++pages) {
        if (!visited.insert(pageRow).second || mdb_find_pg_row(mdb_, pageRow, &buf, &offset, &len) != 0 || len < 4) {
            return false;
        }
        const std::size_t piece = std::min<std::size_t>(len - 4, length - out.size());
        out.append(static_cast<const char*>(buf) + offset + 4, piece);
        if (out.size() >= length) {
            break;
        }
        pageRow = static_cast<int>(mdb_get_int32(buf, offset));
    }
    return true;
}

Cell TableReader::Read(unsigned column) {
    if (column >= fields_.size()) {
        return {};
    }
    const MdbField& f = fields_[column];
    const auto* col = static_cast<const MdbColumn*>(g_ptr_array_index(table_->columns, column));
    if (col->col_type == MDB_BOOL) {
        // The null bit is the value: set is No.
        return IntegerCell(f.is_null ? 0 : -1);
    }
    if (f.is_null) {
        return {};
    }
    unsigned char* buf = mdb_->pg_buf;
    const int s = f.start;
    const int n = f.siz;
    switch (col->col_type) {
    case MDB_BYTE:
        return n >= 1 ? IntegerCell(buf[s]) : Cell{};
    case MDB_INT:
        return n >= 2 ? IntegerCell(static_cast<std::int16_t>(mdb_get_int16(buf, s))) : Cell{};
    case MDB_LONGINT:
    case MDB_COMPLEX:
        return n >= 4 ? IntegerCell(static_cast<std::int32_t>(mdb_get_int32(buf, s))) : Cell{};
    case MDB_FLOAT:
        return n >= 4 ? RealCell(static_cast<double>(mdb_get_single(buf, s))) : Cell{};
    case MDB_DOUBLE:
        return n >= 8 ? RealCell(mdb_get_double(buf, s)) : Cell{};
    case MDB_MONEY: {
        if (n < 8) {
            return {};
        }
        std::uint64_t raw = 0;
        for (int i = 7; i >= 0; --i) {
            raw = (raw << 8) | buf[s + i];
        }
        // Exact below 2^53 ten-thousandths, the nearest double to the decimal.
        return RealCell(static_cast<double>(static_cast<std::int64_t>(raw)) / 10000.0);
    }
    case MDB_NUMERIC: {
        if (n < 17) {
            return {};
        }
        char* text = mdb_numeric_to_string(mdb_, s, col->col_scale, col->col_prec);
        const double v = text ? std::strtod(text, nullptr) : 0;
        g_free(text);
        return RealCell(v);
    }
    case MDB_DATETIME: {
        if (n < 8) {
            return {};
        }
        std::string text = FormatAccessDate(mdb_get_double(buf, s));
        return text.empty() ? Cell{} : BytesCell(Cell::Type::Text, std::move(text));
    }
    case MDB_TEXT:
        return BytesCell(Cell::Type::Text,
                         TextFrom(mdb_, reinterpret_cast<const char*>(buf) + s, static_cast<std::size_t>(n)));
    case MDB_MEMO: {
        std::string raw;
        if (!ReadLongValue(s, n, raw)) {
            return {};
        }
        return BytesCell(Cell::Type::Text, TextFrom(mdb_, raw.data(), raw.size()));
    }
    case MDB_REPID: {
        if (n < 16) {
            return {};
        }
        char* text = mdb_uuid_to_string_fmt(buf, s, MDB_BRACES_4_2_2_8);
        Cell c = BytesCell(Cell::Type::Text, text);
        g_free(text);
        return c;
    }
    case MDB_OLE: {
        std::string raw;
        if (!ReadLongValue(s, n, raw)) {
            return {};
        }
        return BytesCell(Cell::Type::Blob, std::move(raw));
    }
    default:
        return BytesCell(Cell::Type::Blob,
                         std::string(reinterpret_cast<const char*>(buf) + s, static_cast<std::size_t>(n)));
    }
}

} // namespace tarnwick::access
