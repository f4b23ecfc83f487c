// Measures the program against its yardsticks in one run, so that the
// machine's noise cancels out of the ratios:
//   - start-up to a shown, idle window, and peak memory, against a minimal Qt
//     Widgets program and against a window built in code with the same
//     controls (all timed by the preloaded idle probe);
//   - adding a data source with CreateDSN through the real installer and our
//     setup library, against unixODBC's `odbcinst -i -s -l -f template`;
//   - the time of one more data source when odbc.ini already holds many;
//   - the System DSN route through pkexec, with a stand-in pkexec that
//     answers at once: what the program itself adds around pkexec, call by
//     call (its slowest call against its median).
// Everything runs in a sandbox ODBC directory (ODBCSYSINI); nothing is timed
// against a limit here, the figures and ratios are printed for people.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "dsn/create_dsn.h"
#include "dsn/installer.h"
#include "dsn/window_operations.h"
#ifdef TARNWICK_STAND_IN_PKEXEC
#include <QCoreApplication>

#include "system_dsn_client/elevating_installer.h"
#endif

#include <odbcinst.h>
#include <sql.h>
#include <sqlext.h>
#include "odbc_sandbox.h"
#include "result_table.h"

extern char** environ;

namespace {

using tarnwick::bench::Median;
using tarnwick::bench::Now;

namespace fs = std::filesystem;
using namespace std::string_literals;
using tarnwick::testing::FixturePath;
using tarnwick::testing::OdbcSandbox;
using tarnwick::testing::ReadFile;
using tarnwick::testing::WriteFile;

struct ChildResult {
    int status = 0;
    double startedAt = 0; // CLOCK_MONOTONIC seconds, just before the spawn
    double seconds = 0;   // until it was reaped
    long peakRssKiB = 0;
};

// Runs argv with the process environment plus `extra`, waiting for it to end.
ChildResult Run(const std::vector<std::string>& argv, const std::map<std::string, std::string>& extra = {},
                bool quiet = true) {
    std::vector<std::string> envStrings;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (!extra.contains(name)) {
            envStrings.push_back(entry);
        }
    }
    for (const auto& [name, value] : extra) {
        envStrings.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (auto& s : envStrings) {
        envp.push_back(s.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (auto& s : args) {
        argp.push_back(s.data());
    }
    argp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    ChildResult result;
    result.startedAt = Now();
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(error));
    }
    rusage usage{};
    while (wait4(pid, &result.status, 0, &usage) < 0) {
        if (errno != EINTR) {
            throw std::runtime_error("wait4: " + std::string(std::strerror(errno)));
        }
    }
    result.seconds = Now() - result.startedAt;
    result.peakRssKiB = usage.ru_maxrss;
    if (!WIFEXITED(result.status) || WEXITSTATUS(result.status) != 0) {
        throw std::runtime_error(argv[0] + " failed with status " + std::to_string(result.status));
    }
    return result;
}

struct StartUp {
    double seconds;
    double peakRssMiB;
};

// Start-up of one program to its first idle moment with a window shown, the
// median of `runs` runs, and its median peak memory.
[[maybe_unused]] StartUp MeasureStartUp(const std::string& program, const std::string& probe, const fs::path& scratch,
                                        int runs, const std::map<std::string, std::string>& environment) {
    std::vector<double> times;
    std::vector<double> memory;
    const fs::path report = scratch / "idle";
    for (int i = 0; i < runs; ++i) {
        fs::remove(report);
        auto env = environment;
        env["LD_PRELOAD"] = probe;
        env["TARNWICK_BENCH_IDLE_REPORT"] = report.string();
        const ChildResult child = Run({program}, env);
        if (!fs::exists(report)) {
            throw std::runtime_error(program + " ended without reaching an idle, shown window");
        }
        const double idleAt = std::stod(ReadFile(report)) / 1e9;
        times.push_back(idleAt - child.startedAt);
        memory.push_back(static_cast<double>(child.peakRssKiB) / 1024.0);
    }
    return {Median(times), Median(memory)};
}

class DiscardingWindow : public dsn::WindowOperations {
public:
    void AppendLogLine(const std::string&) override {}
    void DisableCancel() override {}
};

const std::string kFixtures = fs::path(FixturePath("dates.mdb")).parent_path().string();

// The section CreateDSN makes the setup library write, as text, so that the
// reference tool adds the very same data source.
std::string Section(const std::string& name) {
    return "[" + name + "]\nDriver=" + dsn::AccessDriverName +
           "\nFIL=MS Access\nJetIniPath=odbcddp.ini\nDBQ=dates.mdb\nDefaultDir=" + kFixtures +
           "\nDescription=\nUID=\nPWD=\nDatabase=" + kFixtures + "/dates.mdb\n";
}

std::string Sections(int count, const std::string& prefix) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += Section(prefix + std::to_string(i)) + "\n";
    }
    return text;
}

double TimeCreateDSN(const std::string& name) {
    DiscardingWindow window;
    const double start = Now();
    const std::int8_t result =
        CreateDSN(dsn::AccessDriverName, "dates.mdb", name.c_str(), kFixtures.c_str(), window, dsn::SystemInstaller());
    const double seconds = Now() - start;
    if (result != dsn::DsnCreated) {
        throw std::runtime_error("CreateDSN refused " + name);
    }
    return seconds;
}

double TimeOdbcinst(const OdbcSandbox& sandbox, const fs::path& templateFile) {
    return Run({"odbcinst", "-i", "-s", "-l", "-f", templateFile.string()}, {{"ODBCSYSINI", sandbox.Dir()}}).seconds;
}

int CountSections(const std::string& text) {
    int count = 0;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        count += !line.empty() && line.front() == '[';
    }
    return count;
}

void ExpectSections(const OdbcSandbox& sandbox, int expected, const char* what) {
    const int found = CountSections(ReadFile(sandbox.OdbcIniPath()));
    if (found != expected) {
        throw std::runtime_error(std::string(what) + " left " + std::to_string(found) + " data sources, expected " +
                                 std::to_string(expected));
    }
}

#ifdef TARNWICK_STAND_IN_PKEXEC
// Runs `calls` System DSN requests through the helper route, each answered at
// once by a stand-in pkexec (stand_in_pkexec.cpp), and returns each call's
// time. The route is only taken for a user
// who may not write the system folder: as root the calls are made with the
// effective user nobody, otherwise with the sandbox made read-only meanwhile.
std::vector<double> TimeHelperRoute(const OdbcSandbox& sandbox, int calls) {
    const fs::path standIn = fs::path(sandbox.Dir()) / "stand-in";
    fs::create_directories(standIn);
    const fs::path pkexec = standIn / "pkexec";
    fs::copy_file(TARNWICK_STAND_IN_PKEXEC, pkexec);
    WriteFile(standIn / "helper", "");
    fs::permissions(standIn / "helper", fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);

    std::optional<uid_t> nobody;
    if (geteuid() == 0) {
        const passwd* entry = getpwnam("nobody");
        if (entry == nullptr) {
            throw std::runtime_error("the helper route needs the user nobody when run as root");
        }
        nobody = entry->pw_uid;
        // Only the effective user changes: the group is still root's.
        for (const fs::path& path : {fs::path(sandbox.Dir()), standIn}) {
            fs::permissions(path, fs::perms::group_read | fs::perms::group_exec, fs::perm_options::add);
        }
    }
    const fs::perms sandboxPerms = fs::status(sandbox.Dir()).permissions();
    if (!nobody) {
        fs::permissions(sandbox.Dir(), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    }

    dsn::ElevatingInstaller installer(
        {(standIn / "helper").string(), pkexec.string(), std::chrono::seconds(10), nullptr});
    const std::string attributes = "DSN=Route\0DBQ=dates.mdb\0DefaultDir="s + kFixtures + "\0\0"s;
    std::vector<double> times;
    std::string failure;
    if (nobody && seteuid(*nobody) != 0) {
        failure = "cannot switch to the user nobody";
    }
    for (int i = 0; i < calls && failure.empty(); ++i) {
        if (!dsn::ElevatingInstaller::UsesHelper(ODBC_ADD_SYS_DSN)) {
            failure = "the request would not take the helper route";
            break;
        }
        const double start = Now();
        const bool created =
            installer.ConfigDataSource(nullptr, ODBC_ADD_SYS_DSN, dsn::AccessDriverName, attributes.c_str());
        times.push_back(Now() - start);
        if (!created) {
            char text[512] = "";
            std::uint32_t code = 0;
            installer.InstallerError(1, &code, text, sizeof text - 1, nullptr);
            failure = "the stand-in pkexec's answer was not taken as success: "s + text;
        }
    }
    if (nobody && seteuid(0) != 0) {
        throw std::runtime_error("cannot switch back to root");
    }
    fs::permissions(sandbox.Dir(), sandboxPerms);
    fs::remove_all(standIn);
    if (!failure.empty()) {
        throw std::runtime_error("helper route: " + failure);
    }
    return times;
}
#endif

// The table the read benchmark reads, and how much fewer rounds it takes
// than the small fixture table.
struct ReadTable {
    std::string file;
    std::string name;
    int roundsDivisor = 1;
};

ReadTable TableToRead(const std::string& scratch) {
    const char* fromEnvironment = std::getenv("TARNWICK_MAKE_ACCESS_FILE");
    const std::string generator = fromEnvironment ? fromEnvironment : TARNWICK_MAKE_ACCESS_FILE;
    if (generator.empty() || !fs::exists(generator)) {
        return {FixturePath("dates.mdb"), "DateTest", 1};
    }
    const std::string file = scratch + "/read.mdb";
    const std::string command =
        "'" + generator + "' '" + FixturePath("jackcess/testV1997.mdb") + "' '" + file + "' 50000 100 >/dev/null";
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("the generator could not write " + file);
    }
    return {file, "Table1", 1000};
}

// Runs mdb-export over the table `rounds` times, its output thrown away;
// returns the seconds taken and counts the rows.
double TimeExport(const std::string& file, const std::string& table, int rounds, long& rows) {
    rows = 0;
    // Rows end in an ASCII record separator, which no value here holds.
    const std::string command = "mdb-export -H -R \"$(printf '\\036')\" '" + file + "' '" + table + "'";
    const auto start = Now();
    for (int round = 0; round < rounds; ++round) {
        FILE* out = popen(command.c_str(), "r");
        if (!out) {
            throw std::runtime_error("cannot run mdb-export");
        }
        char buffer[65536];
        std::size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, out)) > 0) {
            rows += std::count(buffer, buffer + got, '\036');
        }
        if (pclose(out) != 0) {
            throw std::runtime_error("mdb-export failed on " + file);
        }
    }
    return Now() - start;
}

// Reads a whole table through one data source: the statement run `rounds`
// times on one connection, every column of every row fetched as text with
// SQLGetData, as a client reading a table does. Returns the seconds taken and
// counts the rows.
double TimeTableRead(const std::string& dsn, const std::string& sql, int rounds, long& rows) {
    SQLHENV env = nullptr;
    SQLHDBC dbc = nullptr;
    SQLHSTMT stmt = nullptr;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    if (!SQL_SUCCEEDED(SQLConnect(dbc, reinterpret_cast<SQLCHAR*>(const_cast<char*>(dsn.c_str())), SQL_NTS, nullptr, 0,
                                  nullptr, 0))) {
        throw std::runtime_error("cannot connect to " + dsn);
    }
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    rows = 0;
    char value[4096];
    SQLLEN length = 0;
    const auto start = Now();
    for (int round = 0; round < rounds; ++round) {
        if (!SQL_SUCCEEDED(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS))) {
            throw std::runtime_error(sql + " failed on " + dsn);
        }
        SQLSMALLINT columns = 0;
        SQLNumResultCols(stmt, &columns);
        while (SQL_SUCCEEDED(SQLFetch(stmt))) {
            for (SQLUSMALLINT c = 1; c <= columns; ++c) {
                SQLGetData(stmt, c, SQL_C_CHAR, value, sizeof value, &length);
            }
            ++rows;
        }
        SQLFreeStmt(stmt, SQL_CLOSE);
    }
    const double seconds = Now() - start;
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return seconds;
}

void WrittenASecondAgo(const std::string& path) {
    timespec times[2] = {};
    clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= 1;
    times[1] = times[0];
    utimensat(AT_FDCWD, path.c_str(), times, 0);
}

using tarnwick::bench::Print;
using tarnwick::bench::Row;

struct Options {
    int startUpRuns = 11;
    int createCount = 200;
    int growthRuns = 3;
    int routeCalls = 200;
    int readRounds = 2000;
    std::vector<int> sizes{10, 1000, 10000};
};

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto number = [&](int& into) {
            if (i + 1 >= argc) {
                throw std::runtime_error(arg + " needs a number");
            }
            into = std::stoi(argv[++i]);
            if (into < 1) {
                throw std::runtime_error(arg + " needs a positive number");
            }
        };
        if (arg == "--start-up-runs") {
            number(options.startUpRuns);
        } else if (arg == "--create-count") {
            number(options.createCount);
        } else if (arg == "--growth-runs") {
            number(options.growthRuns);
        } else if (arg == "--route-calls") {
            number(options.routeCalls);
        } else if (arg == "--read-rounds") {
            number(options.readRounds);
        } else {
            throw std::runtime_error(
                "unknown option " + arg +
                " (options: --start-up-runs N, --create-count N, --growth-runs N, --route-calls N, "
                "--read-rounds N)");
        }
    }
    return options;
}

} // namespace

int main(int argc, char** argv) try {
    const Options options = ParseOptions(argc, argv);
#ifdef TARNWICK_STAND_IN_PKEXEC
    // The helper route runs pkexec with QProcess, as the window does.
    const QCoreApplication application(argc, argv);
#endif
    // One sandbox for this process: unixODBC reads ODBCSYSINI once.
    const OdbcSandbox sandbox;
    sandbox.Export();
    std::vector<Row> rows;

#ifdef TARNWICK_PROGRAM
    {
        std::printf("Start-up: %d runs of each program, alternating...\n", options.startUpRuns);
        std::fflush(stdout);
        const fs::path scratch = fs::path(sandbox.Dir()) / "start-up";
        fs::create_directories(scratch);
        // The program runs against the (empty) sandbox, as a user trying it would.
        const std::map<std::string, std::string> env{{"ODBCSYSINI", sandbox.Dir()}};
        // Each run starts the three programs one after the other, so that a
        // slow moment of the machine weighs on all of them alike.
        const std::vector<std::pair<std::string, std::string>> yardsticks{
            {TARNWICK_MINIMAL_WINDOW, "minimal Qt window"}, {TARNWICK_SAME_CONTROLS_WINDOW, "same-controls window"}};
        std::vector<double> oursTime, oursRss;
        std::vector<std::vector<double>> refTime(yardsticks.size()), refRss(yardsticks.size());
        for (int i = 0; i < options.startUpRuns; ++i) {
            for (std::size_t y = 0; y < yardsticks.size(); ++y) {
                const StartUp ref = MeasureStartUp(yardsticks[y].first, TARNWICK_IDLE_PROBE, scratch, 1, env);
                refTime[y].push_back(ref.seconds);
                refRss[y].push_back(ref.peakRssMiB);
            }
            const StartUp ours = MeasureStartUp(TARNWICK_PROGRAM, TARNWICK_IDLE_PROBE, scratch, 1, env);
            oursTime.push_back(ours.seconds);
            oursRss.push_back(ours.peakRssMiB);
        }
        const double t = Median(oursTime) * 1000, m = Median(oursRss);
        // The empty window bounds Qt's own start-up from below; the window
        // with the same controls is what a program showing this form needs.
        const double timeTargets[] = {1.2, 1.05}, memoryTargets[] = {1.2, 1.1};
        for (std::size_t y = 0; y < yardsticks.size(); ++y) {
            const double tr = Median(refTime[y]) * 1000, mr = Median(refRss[y]);
            const std::string& name = yardsticks[y].second;
            char target[32];
            std::snprintf(target, sizeof target, "ratio <= %.2f", timeTargets[y]);
            rows.push_back({"start-up to shown and idle", t, tr, "ms", name, target, t <= timeTargets[y] * tr});
            std::snprintf(target, sizeof target, "ratio <= %.2f", memoryTargets[y]);
            rows.push_back({"peak memory (RSS)", m, mr, "MB", name, target, m <= memoryTargets[y] * mr});
        }
    }
#endif

    {
        const int n = options.createCount;
        std::printf("Create: %d data sources each way...\n", n);
        std::fflush(stdout);
        WriteFile(sandbox.OdbcIniPath(), "");
        double ours = 0;
        for (int i = 0; i < n; ++i) {
            ours += TimeCreateDSN("Bench" + std::to_string(i));
        }
        ExpectSections(sandbox, n, "CreateDSN");

        WriteFile(sandbox.OdbcIniPath(), "");
        std::vector<fs::path> templates;
        for (int i = 0; i < n; ++i) {
            templates.push_back(fs::path(sandbox.Dir()) / ("template" + std::to_string(i) + ".ini"));
            WriteFile(templates.back(), Section("Bench" + std::to_string(i)));
        }
        double reference = 0;
        for (const auto& file : templates) {
            reference += TimeOdbcinst(sandbox, file);
        }
        ExpectSections(sandbox, n, "odbcinst");
        for (const auto& file : templates) {
            fs::remove(file);
        }
        const double a = ours / n * 1000, b = reference / n * 1000;
        rows.push_back({"create, per data source", a, b, "ms", "odbcinst -i -s -l -f", "ratio < 1", a < b});
    }

    for (const int size : options.sizes) {
        std::printf("Growth: one more data source beside %d, %d runs each way...\n", size, options.growthRuns);
        std::fflush(stdout);
        const std::string base = Sections(size, "Existing");
        const fs::path templateFile = fs::path(sandbox.Dir()) / "template.ini";
        WriteFile(templateFile, Section("Added"));
        std::vector<double> ours, reference;
        for (int run = 0; run < options.growthRuns; ++run) {
            WriteFile(sandbox.OdbcIniPath(), base);
            // As a file written well before Create is pressed: one another
            // program wrote moments ago is first given time to settle.
            WrittenASecondAgo(sandbox.OdbcIniPath());
            ours.push_back(TimeCreateDSN("Added"));
            ExpectSections(sandbox, size + 1, "CreateDSN");
            WriteFile(sandbox.OdbcIniPath(), base);
            reference.push_back(TimeOdbcinst(sandbox, templateFile));
            ExpectSections(sandbox, size + 1, "odbcinst");
        }
        const double a = Median(ours) * 1000, b = Median(reference) * 1000;
        std::string measure = "add one beside " + std::to_string(size);
        if (size >= 10000) {
            rows.push_back({measure, a, b, "ms", "odbcinst -i -s -l -f", "ratio < 1 and < 50 ms", a < b && a < 50});
        } else {
            rows.push_back({measure, a, b, "ms", "odbcinst -i -s -l -f", "ratio < 1", a < b});
        }
    }

#ifdef TARNWICK_STAND_IN_PKEXEC
    {
        const int n = options.routeCalls;
        std::printf("Helper route: %d System DSN requests through a stand-in pkexec...\n", n);
        std::fflush(stdout);
        const std::vector<double> times = TimeHelperRoute(sandbox, n);
        const double median = Median(times) * 1000;
        const double slowest = *std::max_element(times.begin(), times.end()) * 1000;
        rows.push_back({"helper route, slowest of " + std::to_string(n), slowest, median, "ms", "its median call",
                        "within 5 ms", slowest - median <= 5});
    }

#endif

    {
        // A table of some size where the tests' generator is built (rows
        // added to a copy of a fixture with libmdb's row packing), else the
        // fixture's small DateTest, read more often.
        const ReadTable table = TableToRead(sandbox.Dir());
        const int n = std::max(1, options.readRounds / table.roundsDivisor);
        std::printf("Table read: %s of %s whole %d times through each driver, alternating...\n", table.name.c_str(),
                    fs::path(table.file).filename().c_str(), n);
        std::fflush(stdout);
        const bool withMdbtools = fs::exists(TARNWICK_MDB_DRIVER);
        // Two data sources on the same file: one through our driver, one
        // straight to mdbtools' (unixODBC takes a library path as Driver=).
        WriteFile(sandbox.OdbcIniPath(), "[ThroughOurs]\nDriver=Microsoft Access Driver (*.mdb)\nDBQ=" + table.file +
                                             "\n\n[Direct]\nDriver=" TARNWICK_MDB_DRIVER "\nDatabase=" + table.file +
                                             "\n");
        const std::string sql = "SELECT * FROM " + table.name;
        double ours = 0, direct = 0, exported = 0;
        long oursRows = 0, directRows = 0, exportedRows = 0, r = 0;
        // Alternating blocks, so that a slow moment of the machine weighs on all alike.
        const int blockSize = std::max(1, 100 / table.roundsDivisor);
        for (int done = 0; done < n; done += blockSize) {
            const int block = std::min(blockSize, n - done);
            ours += TimeTableRead("ThroughOurs", sql, block, r);
            oursRows += r;
            if (withMdbtools) {
                direct += TimeTableRead("Direct", sql, block, r);
                directRows += r;
            }
            exported += TimeExport(table.file, table.name, block, r);
            exportedRows += r;
        }
        if (withMdbtools && oursRows != directRows) {
            throw std::runtime_error("the drivers read different numbers of rows");
        }
        const double a = oursRows / ours;
        if (withMdbtools) {
            const double b = directRows / direct;
            rows.push_back(
                {"table read, rows per second", a / 1000, b / 1000, "k", "mdbtools' driver", "ratio >= 1.0", a >= b});
        } else {
            std::printf("mdbtools' driver (%s) is not installed: no comparison with it\n", TARNWICK_MDB_DRIVER);
        }
        // mdb-export prints the rows (as CSV, to /dev/null): the reader's own speed.
        rows.push_back({"table read, rows per second", a / 1000, exportedRows / exported / 1000, "k", "mdb-export",
                        "reported", true});
    }

    std::printf("\n");
    Print(rows);
    return 0;
} catch (const std::exception& e) {
    std::fprintf(stderr, "tarnwick_bench: %s\n", e.what());
    return 1;
}
