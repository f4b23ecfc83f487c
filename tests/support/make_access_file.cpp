// Makes a large Access file for the engine's tests and benchmarks: a copy of
// the Access 97 fixture testV1997.mdb whose Table1 gains `rows` rows and whose
// Table3 gains `keys` rows, written as Access lays them out (rows packed by
// libmdb's mdb_pack_row into new data pages, the tables' usage maps
// rewritten as page maps listing the old and new pages, the row counts in the
// table definitions updated). libmdb's own insert cannot add pages.
//
//   make_access_file FIXTURE OUT ROWS KEYS
//   make_access_file --memo FIXTURE OUT CHARS
//   make_access_file --texts FIXTURE OUT TEXT...
//   make_access_file --retype FIXTURE OUT
//
// Table1.E (Long) is the row's number 0..rows-1, Table1.D (Integer) is that
// number modulo keys, and Table3.a (Long) runs over 0..keys-1, so joining
// Table1.D = Table3.a matches every new row of Table1 once.
//
// With --memo, a copy of the Access 2000 fixture dates.mdb whose DateTest
// gains one row, IDCol 7, whose LongTextCol (Memo) holds CHARS characters
// stored as a chain of long-value pages: character i is MemoCharacter(i).
//
// With --texts, a copy of dates.mdb whose DateTest gains one row per TEXT
// (UTF-8, Basic Multilingual Plane): IDCol 100, 101, ..., ShortTextCol the
// text stored as UCS-2, the other columns NULL.
//
// With --retype, a copy of testV1997.mdb whose Table1 holds a Single and a
// Binary column, types no fixture has: F (Double) becomes Single and B
// (Text) Binary in the table definition, so the old rows read their first
// four bytes of F as a float and B's bytes as they are, and two rows are
// added: E 1000 with F 1.1 and B the bytes 01 7F 80 FF 00 41, E 1001 with F
// -3.4e38 and B the text "ab", both with A "single".
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <mdbtools.h>

namespace {

[[noreturn]] void Fail(const std::string& message) {
    std::fprintf(stderr, "make_access_file: %s\n", message.c_str());
    std::exit(1);
}

void WriteAt(int fd, const void* data, std::size_t size, off_t offset) {
    if (pwrite(fd, data, size, offset) != static_cast<ssize_t>(size)) {
        Fail("cannot write the output file");
    }
}

// Fills data pages from the end of the file, as Access does: row offsets
// after the header, rows from the end of the page downward.
class PageWriter {
public:
    PageWriter(int fd, MdbHandle* mdb, MdbCatalogEntry* entry, std::uint32_t firstPage)
        : fd_(fd), mdb_(mdb), entry_(entry), nextPage_(firstPage), page_(mdb->fmt->pg_size) {
        Reset();
    }

    void Add(const unsigned char* row, int size) {
        const int rco = mdb_->fmt->row_count_offset;
        if (rco + 2 + 2 * (rows_ + 1) > freeEnd_ - size) {
            Flush();
        }
        freeEnd_ -= size;
        std::memcpy(page_.data() + freeEnd_, row, static_cast<std::size_t>(size));
        mdb_put_int16(page_.data(), static_cast<guint32>(rco + 2 + 2 * rows_), static_cast<guint32>(freeEnd_));
        ++rows_;
        mdb_put_int16(page_.data(), static_cast<guint32>(rco), static_cast<guint32>(rows_));
        mdb_put_int16(page_.data(), 2, static_cast<guint32>(freeEnd_ - (rco + 2 + 2 * rows_)));
    }

    void Flush() {
        if (rows_ == 0) {
            return;
        }
        WriteAt(fd_, page_.data(), page_.size(), static_cast<off_t>(nextPage_) * mdb_->fmt->pg_size);
        written_.push_back(nextPage_++);
        Reset();
    }

    const std::vector<std::uint32_t>& Written() const { return written_; }
    std::uint32_t NextPage() const { return nextPage_; }

private:
    void Reset() {
        void* fresh = mdb_new_data_pg(entry_);
        std::memcpy(page_.data(), fresh, page_.size());
        g_free(fresh);
        rows_ = 0;
        freeEnd_ = static_cast<int>(page_.size());
    }

    int fd_;
    MdbHandle* mdb_;
    MdbCatalogEntry* entry_;
    std::uint32_t nextPage_;
    std::vector<unsigned char> page_;
    int rows_ = 0;
    int freeEnd_ = 0;
    std::vector<std::uint32_t> written_;
};

MdbTableDef* ReadTable(MdbHandle* mdb, const char* name) {
    for (unsigned i = 0; i < mdb->num_catalog; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (entry->object_type == MDB_TABLE && std::strcmp(entry->object_name, name) == 0) {
            MdbTableDef* table = mdb_read_table(entry);
            if (table && mdb_read_columns(table)) {
                return table;
            }
        }
    }
    Fail(std::string("no table ") + name + " in the fixture");
}

// The field of column i, fixed or variable as the table defines it.
MdbField Field(MdbTableDef* table, unsigned i, const void* value, int size) {
    const auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
    MdbField f{};
    f.value = const_cast<void*>(value);
    f.siz = col->is_fixed ? col->col_size : size;
    f.is_fixed = col->is_fixed;
    f.is_null = value ? 0 : 1;
    f.colnum = static_cast<int>(i);
    return f;
}

// Lists the table's data pages in a page map (usage map type 1) made of new
// bitmap pages, and points the table's usage map row at them.
std::uint32_t RewriteUsageMap(int fd, MdbHandle* mdb, MdbTableDef* table, std::vector<std::uint32_t> pages,
                              std::uint32_t nextPage) {
    for (gint32 pg = 0; (pg = mdb_map_find_next(mdb, table->usage_map, static_cast<unsigned>(table->map_sz),
                                                static_cast<guint32>(pg))) > 0;) {
        pages.push_back(static_cast<std::uint32_t>(pg));
    }
    const auto pageSize = static_cast<std::size_t>(mdb->fmt->pg_size);
    const std::uint32_t bitsPerPage = static_cast<std::uint32_t>(pageSize - 4) * 8;
    std::uint32_t mapPages = 0;
    for (std::uint32_t p : pages) {
        mapPages = std::max(mapPages, p / bitsPerPage + 1);
    }
    if (1 + 4 * static_cast<std::size_t>(mapPages) > table->map_sz) {
        Fail("the table's usage map row is too short for its new pages");
    }
    std::vector<unsigned char> row(table->map_sz, 0);
    row[0] = 1;
    for (std::uint32_t m = 0; m < mapPages; ++m) {
        std::vector<unsigned char> bitmap(pageSize, 0);
        bitmap[0] = MDB_PAGE_MAP;
        bitmap[1] = 1;
        for (std::uint32_t p : pages) {
            if (p / bitsPerPage == m) {
                const std::uint32_t bit = p % bitsPerPage;
                bitmap[4 + bit / 8] |= static_cast<unsigned char>(1 << (bit % 8));
            }
        }
        WriteAt(fd, bitmap.data(), pageSize, static_cast<off_t>(nextPage) * static_cast<off_t>(pageSize));
        mdb_put_int32(row.data(), 1 + 4 * m, nextPage++);
    }
    // Where the usage map row lies: the definition names its page and row.
    if (mdb_read_pg(mdb, table->entry->table_pg) != mdb->fmt->pg_size) {
        Fail("cannot read the table definition");
    }
    const auto pageRow = static_cast<int>(mdb_get_int32(mdb->pg_buf, mdb->fmt->tab_usage_map_offset));
    void* buf = nullptr;
    int offset = 0;
    std::size_t len = 0;
    if (mdb_find_pg_row(mdb, pageRow, &buf, &offset, &len) != 0 || len != table->map_sz) {
        Fail("cannot find the table's usage map");
    }
    WriteAt(fd, row.data(), row.size(), static_cast<off_t>(pageRow >> 8) * static_cast<off_t>(pageSize) + offset);
    return nextPage;
}

void SetRowCount(int fd, MdbHandle* mdb, MdbTableDef* table, unsigned long rows) {
    unsigned char count[4];
    mdb_put_int32(count, 0, static_cast<guint32>(rows));
    WriteAt(fd, count, sizeof count,
            static_cast<off_t>(table->entry->table_pg) * mdb->fmt->pg_size + mdb->fmt->tab_num_rows_offset);
}

// The memo's text: letters, with a non-ASCII letter every 1000th place.
char16_t MemoCharacter(long i) { return i % 1000 == 999 ? u'\u00e9' : static_cast<char16_t>(u'a' + i % 26); }

std::string CopyFixture(const char* fixture, const std::string& out) {
    std::filesystem::copy_file(fixture, out, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(out, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    return out;
}

// A copy of an Access 2000 (or Access 97) fixture opened for adding rows to
// one of its tables: libmdb's handle reads it, fd writes it.
struct OpenCopy {
    MdbHandle* mdb = nullptr;
    MdbTableDef* table = nullptr;
    int fd = -1;
    std::uint32_t nextPage = 0; // the first page past the end of the file

    OpenCopy(const char* fixture, const std::string& out, const char* name, unsigned columns, bool jet3) {
        CopyFixture(fixture, out);
        mdb = mdb_open(out.c_str(), MDB_NOFLAGS);
        if (!mdb || !mdb_read_catalog(mdb, MDB_TABLE) || IS_JET3(mdb) != jet3) {
            Fail(std::string("cannot read the fixture, or it is no Access ") + (jet3 ? "97" : "2000") + " file");
        }
        table = ReadTable(mdb, name);
        if (table->num_cols != columns) {
            Fail(std::string("the fixture's ") + name + " is not the expected one");
        }
        fd = open(out.c_str(), O_RDWR);
        if (fd < 0) {
            Fail("cannot open the output file");
        }
        nextPage = static_cast<std::uint32_t>(std::filesystem::file_size(out) / mdb->fmt->pg_size);
    }
    ~OpenCopy() {
        close(fd);
        mdb_free_tabledef(table);
        mdb_close(mdb);
    }
    OpenCopy(const OpenCopy&) = delete;
    OpenCopy& operator=(const OpenCopy&) = delete;
};

// A long memo in a chain of long-value rows, one per page: each row holds
// the page and row of the next, then its piece of the UCS-2 text.
int AddLongMemo(const char* fixture, const std::string& out, long chars) {
    OpenCopy copy(fixture, out, "DateTest", 6, false);
    MdbHandle* mdb = copy.mdb;
    MdbTableDef* table = copy.table;
    const int fd = copy.fd;
    const auto pageSize = static_cast<std::size_t>(mdb->fmt->pg_size);
    auto nextPage = copy.nextPage;

    std::string text;
    for (long i = 0; i < chars; ++i) {
        const char16_t c = MemoCharacter(i);
        text.push_back(static_cast<char>(c & 0xff));
        text.push_back(static_cast<char>(c >> 8));
    }
    const int rco = mdb->fmt->row_count_offset;
    const std::size_t piece = pageSize - static_cast<std::size_t>(rco) - 4 - 4; // offsets, next pointer
    const std::uint32_t first = nextPage;
    for (std::size_t done = 0; done < text.size(); done += piece) {
        const std::size_t n = std::min(piece, text.size() - done);
        const bool last = done + n >= text.size();
        std::vector<unsigned char> page(pageSize, 0);
        page[0] = MDB_PAGE_DATA;
        page[1] = 1;
        std::memcpy(page.data() + 4, "LVAL", 4);
        const auto start = static_cast<guint32>(pageSize - n - 4);
        mdb_put_int32(page.data(), start, last ? 0 : (nextPage + 1) << 8);
        std::memcpy(page.data() + start + 4, text.data() + done, n);
        mdb_put_int16(page.data(), static_cast<guint32>(rco), 1);
        mdb_put_int16(page.data(), static_cast<guint32>(rco + 2), start);
        mdb_put_int16(page.data(), 2, start - static_cast<guint32>(rco + 4));
        WriteAt(fd, page.data(), pageSize, static_cast<off_t>(nextPage++) * static_cast<off_t>(pageSize));
    }

    // The row: its memo field is the long value's length and first row.
    unsigned char memo[MDB_MEMO_OVERHEAD] = {};
    mdb_put_int32(memo, 0, static_cast<guint32>(text.size()));
    mdb_put_int32(memo, 4, first << 8);
    const std::int32_t id = 7;
    std::string shortText;
    for (char c : std::string("long memo")) {
        shortText.push_back(c);
        shortText.push_back('\0');
    }
    std::vector<MdbField> fields(6);
    fields[0] = Field(table, 0, &id, 4);
    fields[1] = Field(table, 1, nullptr, 0);
    fields[2] = Field(table, 2, nullptr, 0);
    fields[3] = Field(table, 3, nullptr, 0);
    fields[4] = Field(table, 4, memo, MDB_MEMO_OVERHEAD);
    fields[5] = Field(table, 5, shortText.data(), static_cast<int>(shortText.size()));
    unsigned char row[4096];
    PageWriter pages(fd, mdb, table->entry, nextPage);
    pages.Add(row, mdb_pack_row(table, row, 6, fields.data()));
    pages.Flush();
    RewriteUsageMap(fd, mdb, table, pages.Written(), pages.NextPage());
    SetRowCount(fd, mdb, table, table->num_rows + 1);
    return 0;
}

// UTF-8 as UCS-2 little-endian, as Access 2000 stores uncompressed text.
std::string Ucs2(const std::string& utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const int len = c < 0x80 ? 1 : c >= 0xe0 ? 3 : c >= 0xc0 ? 2 : 0;
        if (len == 0 || c >= 0xf0 || i + static_cast<std::size_t>(len) > utf8.size()) {
            Fail("a text is not UTF-8 of the Basic Multilingual Plane");
        }
        unsigned cp = len == 1 ? c : c & (0xff >> (len + 1));
        for (int k = 1; k < len; ++k) {
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]) & 0x3f);
        }
        out.push_back(static_cast<char>(cp & 0xff));
        out.push_back(static_cast<char>(cp >> 8));
        i += static_cast<std::size_t>(len);
    }
    return out;
}

int AddTexts(const char* fixture, const std::string& out, const std::vector<std::string>& texts) {
    OpenCopy copy(fixture, out, "DateTest", 6, false);
    MdbHandle* mdb = copy.mdb;
    MdbTableDef* table = copy.table;
    PageWriter pages(copy.fd, mdb, table->entry, copy.nextPage);
    unsigned char row[4096];
    std::vector<MdbField> fields(6);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const auto id = static_cast<std::int32_t>(100 + i);
        const std::string text = Ucs2(texts[i]);
        if (text.size() > 510) {
            Fail("a text is longer than the column's 255 characters");
        }
        fields[0] = Field(table, 0, &id, 4);
        for (unsigned c = 1; c < 5; ++c) {
            fields[c] = Field(table, c, nullptr, 0);
        }
        fields[5] = Field(table, 5, text.data(), static_cast<int>(text.size()));
        pages.Add(row, mdb_pack_row(table, row, 6, fields.data()));
    }
    pages.Flush();
    RewriteUsageMap(copy.fd, mdb, table, pages.Written(), pages.NextPage());
    SetRowCount(copy.fd, mdb, table, table->num_rows + texts.size());
    return 0;
}

// Changes the type of a column in the table definition: the column entries
// follow the index entries, each with its type first and its number at the
// format's column number offset.
void Retype(int fd, MdbHandle* mdb, MdbTableDef* table, const char* name, unsigned char type) {
    const MdbFormatConstants& fmt = *mdb->fmt;
    const auto page = static_cast<off_t>(table->entry->table_pg) * fmt.pg_size;
    const off_t first = page + fmt.tab_cols_start_offset + table->num_real_idxs * fmt.tab_ridx_entry_size;
    for (unsigned i = 0; i < table->num_cols; ++i) {
        const auto* col = static_cast<const MdbColumn*>(g_ptr_array_index(table->columns, i));
        if (std::strcmp(col->name, name) != 0)
            continue;
        for (unsigned entry = 0; entry < table->num_cols; ++entry) {
            const off_t at = first + static_cast<off_t>(entry) * fmt.tab_col_entry_size;
            unsigned char number = 0;
            if (pread(fd, &number, 1, at + fmt.col_num_offset) != 1)
                Fail("cannot read the table definition");
            if (number == col->col_num) {
                WriteAt(fd, &type, 1, at);
                return;
            }
        }
    }
    Fail(std::string("no column ") + name + " in the table definition");
}

int RetypeColumns(const char* fixture, const std::string& out) {
    OpenCopy copy(fixture, out, "Table1", 9, true);
    MdbHandle* mdb = copy.mdb;
    const int fd = copy.fd;
    Retype(fd, mdb, copy.table, "F", MDB_FLOAT);
    Retype(fd, mdb, copy.table, "B", MDB_BINARY);
    // Read again, so that rows are packed as the new types say.
    mdb_free_tabledef(copy.table);
    copy.table = ReadTable(mdb, "Table1");
    MdbTableDef* table = copy.table;
    PageWriter pages(fd, mdb, table->entry, copy.nextPage);
    const struct {
        std::int32_t e;
        float f;
        std::string b;
    } added[] = {{1000, 1.1f, std::string("\x01\x7f\x80\xff\x00\x41", 6)}, {1001, -3.4e38f, "ab"}};
    unsigned char row[4096];
    std::vector<MdbField> fields(9);
    const std::string a = "single";
    for (const auto& r : added) {
        unsigned char f[8] = {};
        std::memcpy(f, &r.f, sizeof r.f); // a Single's four bytes, in a slot of the old eight
        fields[0] = Field(table, 0, a.data(), static_cast<int>(a.size()));
        fields[1] = Field(table, 1, r.b.data(), static_cast<int>(r.b.size()));
        fields[4] = Field(table, 4, &r.e, 4);
        fields[5] = Field(table, 5, f, 8);
        for (unsigned c : {2u, 3u, 6u, 7u, 8u}) {
            fields[c] = Field(table, c, nullptr, 0);
        }
        pages.Add(row, mdb_pack_row(table, row, 9, fields.data()));
    }
    pages.Flush();
    RewriteUsageMap(fd, mdb, table, pages.Written(), pages.NextPage());
    SetRowCount(fd, mdb, table, table->num_rows + std::size(added));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--retype") == 0) {
        return RetypeColumns(argv[2], argv[3]);
    }
    if (argc == 5 && std::strcmp(argv[1], "--memo") == 0) {
        return AddLongMemo(argv[2], argv[3], std::atol(argv[4]));
    }
    if (argc >= 4 && std::strcmp(argv[1], "--texts") == 0) {
        return AddTexts(argv[2], argv[3], std::vector<std::string>(argv + 4, argv + argc));
    }
    if (argc != 5) {
        Fail("usage: make_access_file FIXTURE OUT ROWS KEYS | make_access_file --memo FIXTURE OUT CHARS |"
             " make_access_file --texts FIXTURE OUT TEXT... | make_access_file --retype FIXTURE OUT");
    }
    const std::string out = argv[2];
    const long rows = std::atol(argv[3]);
    const long keys = std::atol(argv[4]);
    if (rows < 0 || keys < 1 || keys > 32767) {
        Fail("ROWS must be at least 0 and KEYS from 1 to 32767");
    }
    CopyFixture(argv[1], out);

    MdbHandle* mdb = mdb_open(out.c_str(), MDB_NOFLAGS);
    if (!mdb || !mdb_read_catalog(mdb, MDB_TABLE)) {
        Fail("cannot read the fixture");
    }
    MdbTableDef* big = ReadTable(mdb, "Table1");
    MdbTableDef* keyed = ReadTable(mdb, "Table3");
    if (big->num_cols != 9 || keyed->num_cols != 2) {
        Fail("the fixture's Table1 and Table3 are not the expected ones");
    }
    const int fd = open(out.c_str(), O_RDWR);
    if (fd < 0) {
        Fail("cannot open the output file");
    }
    auto nextPage = static_cast<std::uint32_t>(std::filesystem::file_size(out) / mdb->fmt->pg_size);

    unsigned char row[4096];
    std::vector<MdbField> fields(9);
    PageWriter bigPages(fd, mdb, big->entry, nextPage);
    for (long i = 0; i < rows; ++i) {
        const std::string a = "name " + std::to_string(i);
        const std::string b = "row " + std::to_string(i) + " of the large table";
        const unsigned char c = static_cast<unsigned char>(i % 256);
        const auto d = static_cast<std::int16_t>(i % keys);
        const auto e = static_cast<std::int32_t>(i);
        const double f = static_cast<double>(i) * 1.5;
        const double g = 36526.0 + static_cast<double>(i % 3650) + 0.5; // from 2000-01-01, at noon
        const std::int64_t h = static_cast<std::int64_t>(i) * 12345;    // i * 1.2345
        fields[0] = Field(big, 0, a.data(), static_cast<int>(a.size()));
        fields[1] = Field(big, 1, b.data(), static_cast<int>(b.size()));
        fields[2] = Field(big, 2, &c, 1);
        fields[3] = Field(big, 3, &d, 2);
        fields[4] = Field(big, 4, &e, 4);
        fields[5] = Field(big, 5, &f, 8);
        fields[6] = Field(big, 6, &g, 8);
        fields[7] = Field(big, 7, &h, 8);
        fields[8] = Field(big, 8, i % 2 ? &c : nullptr, 0); // Yes/No: the null bit is the value
        bigPages.Add(row, mdb_pack_row(big, row, 9, fields.data()));
    }
    bigPages.Flush();
    nextPage = bigPages.NextPage();

    PageWriter keyPages(fd, mdb, keyed->entry, nextPage);
    for (long k = 0; k < keys; ++k) {
        const auto a = static_cast<std::int32_t>(k);
        const std::string b = "key " + std::to_string(k);
        fields[0] = Field(keyed, 0, &a, 4);
        fields[1] = Field(keyed, 1, b.data(), static_cast<int>(b.size()));
        keyPages.Add(row, mdb_pack_row(keyed, row, 2, fields.data()));
    }
    keyPages.Flush();
    nextPage = keyPages.NextPage();

    nextPage = RewriteUsageMap(fd, mdb, big, bigPages.Written(), nextPage);
    nextPage = RewriteUsageMap(fd, mdb, keyed, keyPages.Written(), nextPage);
    SetRowCount(fd, mdb, big, big->num_rows + static_cast<unsigned long>(rows));
    SetRowCount(fd, mdb, keyed, keyed->num_rows + static_cast<unsigned long>(keys));
    close(fd);
    mdb_free_tabledef(big);
    mdb_free_tabledef(keyed);
    mdb_close(mdb);
    return 0;
}
