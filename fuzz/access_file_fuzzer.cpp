// The Access engine over damaged files: the input picks a fixture and flips
// bytes in a copy of it (each four input bytes an offset of three bytes and a
// mask), then the copy is opened through SQLite and every table is read in
// full, and joined with itself on its first column (building the equality
// index). A damaged file may give errors, never a crash or a read out of
// bounds.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sqlite3.h>
#include <sys/mman.h>
#include <unistd.h>

#include "access_engine.h"

namespace {

const char* const kFixtures[] = {"dates.mdb", "jackcess/testV1997.mdb", "jackcess/test2V2003.mdb",
                                 "jackcess/testUnicodeCompV2003.mdb", "jackcess/testV2007.accdb"};

const std::vector<std::string>& Fixtures() {
    static const std::vector<std::string> files = [] {
        std::vector<std::string> out;
        for (const char* name : kFixtures) {
            std::ifstream in(std::string(TARNWICK_FIXTURES_DIR) + "/" + name, std::ios::binary);
            out.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        return out;
    }();
    return files;
}

std::string Quoted(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        out += c == '"' ? "\"\"" : std::string(1, c);
    }
    return out + "\"";
}

// Steps through every row, asking for every column.
void ReadAll(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        return;
    }
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
            sqlite3_column_blob(stmt, c);
            sqlite3_column_bytes(stmt, c);
        }
    }
    sqlite3_finalize(stmt);
}

std::vector<std::string> Column(sqlite3* db, const std::string& sql) {
    std::vector<std::string> out;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK) {
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
            out.emplace_back(text ? text : "");
        }
    }
    sqlite3_finalize(stmt);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    std::string file = Fixtures()[data[0] % Fixtures().size()];
    if (file.empty()) {
        return 0;
    }
    for (std::size_t i = 1; i + 4 <= size; i += 4) {
        const std::size_t offset =
            (static_cast<std::size_t>(data[i]) << 16 | static_cast<std::size_t>(data[i + 1]) << 8 | data[i + 2]) %
            file.size();
        file[offset] = static_cast<char>(file[offset] ^ data[i + 3]);
    }
    // The engine opens files by path: an anonymous file in memory has one.
    const int fd = memfd_create("access", 0);
    if (fd < 0 || write(fd, file.data(), file.size()) != static_cast<ssize_t>(file.size())) {
        if (fd >= 0) {
            close(fd);
        }
        return 0;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    sqlite3* db = nullptr;
    sqlite3_open(":memory:", &db);
    tarnwick::access::RegisterAccessEngine(db);
    sqlite3_stmt* open = nullptr;
    sqlite3_prepare_v2(db, "SELECT tarnwick_open(?)", -1, &open, nullptr);
    sqlite3_bind_text(open, 1, path.c_str(), -1, SQLITE_TRANSIENT);
    const bool opened = sqlite3_step(open) == SQLITE_ROW;
    sqlite3_finalize(open);
    if (opened) {
        ReadAll(db, "SELECT * FROM tarnwick_catalog_indexes");
        for (const std::string& table : Column(db, "SELECT name FROM tarnwick_catalog_tables")) {
            ReadAll(db, "SELECT * FROM " + Quoted(table));
            const auto columns = Column(db, "SELECT name FROM pragma_table_info(" + Quoted(table) + ")");
            if (!columns.empty()) {
                const std::string t = Quoted(table);
                const std::string c = Quoted(columns[0]);
                ReadAll(db, "SELECT count(*) FROM " + t + " a JOIN " + t + " b ON a." + c + " = b." + c);
            }
        }
    }
    sqlite3_close(db);
    close(fd);
    return 0;
}
