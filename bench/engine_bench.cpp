// Measures the Access engine (SQLite virtual tables over libmdb) on a large
// file made by the test support's generator, in one run so that the
// machine's noise cancels out of the ratios:
//   - a whole table read through SQLite against mdb-export's rows per second
//     on the same table (the file reader's own speed);
//   - tarnwick_open on the large file against a small fixture;
//   - an equality join of the large table with a keyed one, on a fresh
//     connection (so building the index is counted), against reading both
//     tables once: on a number, and on a text (keyed by the ACCESS
//     collation, one key per row of the large table);
//   - resident memory growth while the large table is streamed.
// Nothing is timed against a limit here; the figures are printed for people.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include "access_engine.h"
#include "access_functions.h"
#include "result_table.h"

extern char** environ;

namespace {

using tarnwick::bench::Median;
using tarnwick::bench::Now;

namespace fs = std::filesystem;

constexpr long kRows = 200000;
constexpr long kKeys = 1000;

// Runs a program with its output thrown away; the seconds it took.
double TimeProgram(const std::vector<std::string>& args) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    const double start = Now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        throw std::runtime_error("cannot run " + args[0]);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const double seconds = Now() - start;
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error(args[0] + " failed");
    }
    return seconds;
}

long ResidentKiB() {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return 0;
}

struct Connection {
    sqlite3* db = nullptr;
    explicit Connection(const std::string& path) {
        sqlite3_open(":memory:", &db);
        // As the driver's entry point does: text columns declared COLLATE ACCESS.
        tarnwick::access::RegisterAccessFunctions(db);
        tarnwick::access::RegisterAccessEngine(db);
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db, "SELECT tarnwick_open(?)", -1, &stmt, nullptr);
        sqlite3_bind_text(stmt, 1, path.c_str(), -1, SQLITE_TRANSIENT);
        const int rc = sqlite3_step(stmt);
        sqlite3_finalize(stmt);
        if (rc != SQLITE_ROW) {
            throw std::runtime_error("cannot open " + path + ": " + sqlite3_errmsg(db));
        }
    }
    ~Connection() { sqlite3_close(db); }

    // Steps through the rows, fetching every column as a client would; the
    // number of rows. sample, when given, is called every 10000 rows.
    long ReadAll(const std::string& sql, void (*sample)() = nullptr) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
            throw std::runtime_error(sql + ": " + sqlite3_errmsg(db));
        }
        long rows = 0;
        int rc = SQLITE_ROW;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
                sqlite3_column_text(stmt, c);
            }
            if (sample && ++rows % 10000 == 0) {
                sample();
            } else if (!sample) {
                ++rows;
            }
        }
        sqlite3_finalize(stmt);
        if (rc != SQLITE_DONE) {
            throw std::runtime_error(sql + ": " + sqlite3_errmsg(db));
        }
        return rows;
    }
};

using tarnwick::bench::Print;
using tarnwick::bench::Row;

long peakKiB = 0;
void SampleResident() { peakKiB = std::max(peakKiB, ResidentKiB()); }

} // namespace

int main(int argc, char** argv) try {
    int rounds = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--engine-rounds") == 0) {
            rounds = std::max(1, std::atoi(argv[i + 1]));
        }
    }
    char dir[] = "/tmp/tarnwick-engine-bench-XXXXXX";
    if (!mkdtemp(dir)) {
        throw std::runtime_error("cannot make a temporary folder");
    }
    const std::string big = std::string(dir) + "/large.mdb";
    const std::string small = std::string(TARNWICK_FIXTURES_DIR) + "/jackcess/testV1997.mdb";
    std::printf("Engine: making a file of %ld + %ld rows...\n", kRows, kKeys);
    std::fflush(stdout);
    TimeProgram({TARNWICK_MAKE_ACCESS_FILE, small, big, std::to_string(kRows), std::to_string(kKeys)});
    std::vector<Row> rows;

    {
        std::printf("Engine: whole-table read of Table1 (%ld rows), %d rounds each way, alternating...\n", kRows + 2,
                    rounds);
        std::fflush(stdout);
        std::vector<double> ours, exporter;
        long read = 0;
        for (int r = 0; r < rounds; ++r) {
            Connection c(big);
            double start = Now();
            read = c.ReadAll("SELECT * FROM Table1");
            ours.push_back(static_cast<double>(read) / (Now() - start));
            exporter.push_back(static_cast<double>(read) / TimeProgram({"mdb-export", big, "Table1"}));
        }
        const double a = Median(ours), b = Median(exporter);
        rows.push_back(
            {"table read, rows per second", a / 1000, b / 1000, "k", "mdb-export", "ratio >= 1.0 (info)", a >= b});
    }

    {
        std::printf("Engine: tarnwick_open, %d times on each file...\n", rounds * 10);
        std::fflush(stdout);
        std::vector<double> large, fixture;
        for (int r = 0; r < rounds * 10; ++r) {
            double start = Now();
            { Connection c(big); }
            large.push_back(Now() - start);
            start = Now();
            { Connection c(small); }
            fixture.push_back(Now() - start);
        }
        const double a = Median(large) * 1000, b = Median(fixture) * 1000;
        rows.push_back({"open, large file (" + std::to_string(fs::file_size(big) >> 20) + " MB)", a, b, "ms",
                        "small fixture", "<= 50 ms", a <= 50});
    }

    // An equality join of the large table with the keys, on a fresh
    // connection each round (so any index is built within the time), against
    // reading the columns it uses from both tables once.
    auto join_row = [&](const std::string& measure, const std::string& join, const std::string& column, long expected) {
        std::printf("Engine: %s against reading both tables, %d rounds...\n", measure.c_str(), rounds);
        std::fflush(stdout);
        std::vector<double> joins, scans;
        for (int r = 0; r < rounds; ++r) {
            {
                Connection c(big);
                const double start = Now();
                const long found = c.ReadAll(join);
                joins.push_back(Now() - start);
                if (found != expected) {
                    throw std::runtime_error(measure + " found " + std::to_string(found) + " rows");
                }
            }
            {
                Connection c(big);
                const double start = Now();
                c.ReadAll("SELECT E, " + column + " FROM Table1");
                c.ReadAll("SELECT a, b FROM Table3");
                scans.push_back(Now() - start);
            }
        }
        const double a = Median(joins) * 1000, b = Median(scans) * 1000;
        rows.push_back(
            {measure + " (fresh connection)", a, b, "ms", "both tables read once", "ratio <= 3", a <= 3 * b});
    };
    // Every row matches: the fixture's own two rows have D 0 and 222, keys too.
    join_row("join on a key", "SELECT t.E, k.b FROM Table3 k JOIN Table1 t ON t.D = k.a", "D", kRows + 2);
    // Table1.A ('name i') keyed for every row of the large table; one match per key.
    join_row("join on a text", "SELECT t.E, k.b FROM Table3 k JOIN Table1 t ON t.A = 'NAME ' || (k.a * 200)", "A",
             kKeys);

    {
        std::printf("Engine: resident memory while Table1 streams...\n");
        std::fflush(stdout);
        Connection c(big);
        const long before = ResidentKiB();
        peakKiB = before;
        c.ReadAll("SELECT * FROM Table1", SampleResident);
        const double growth = static_cast<double>(peakKiB - before) / 1024;
        std::printf("Engine: resident %.1f MB before the read, at most %.1f MB during it\n",
                    static_cast<double>(before) / 1024, static_cast<double>(peakKiB) / 1024);
        rows.push_back(
            {"RSS growth streaming Table1", growth, 50, "MB", "the 50 MB allowance", "<= 50 MB", growth <= 50});
    }

    fs::remove_all(dir);
    std::printf("\n");
    Print(rows);
    return 0;
} catch (const std::exception& e) {
    std::fprintf(stderr, "tarnwick_engine_bench: %s\n", e.what());
    return 1;
}
