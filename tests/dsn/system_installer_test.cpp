// CreateDSN and DisplayODBCErrors through the real libodbcinst, with the
// Access driver and our setup library registered in a sandbox.
#include "dsn/create_dsn.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <future>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <dlfcn.h>
#include <gtest/gtest.h>

#include "installer_records.h"
#include "odbc_sandbox.h"
#include "recording_window.h"

namespace {

using tarnwick::testing::ClearInstallerRecords;
using tarnwick::testing::FixturePath;
using tarnwick::testing::HeldRecordLines;
using tarnwick::testing::OdbcSandbox;
using tarnwick::testing::PostInstallerRecord;
using tarnwick::testing::RecordingWindow;

// unixODBC reads ODBCSYSINI once per process: one sandbox for all tests here.
OdbcSandbox* Sandbox = nullptr;

const std::string OtherSources = "# data sources kept by every refusal\n"
                                 "[Kept]\n"
                                 "Driver=Microsoft Access Driver (*.mdb)\n"
                                 "Database=/srv/kept.mdb\n";

class SystemInstallerTest : public ::testing::Test {
protected:
    void SetUp() override {
        Sandbox->WriteOdbcIni(OtherSources);
        ClearInstallerRecords();
    }

    // The records' lines as the report shows them, for failure messages.
    static std::string Report() {
        RecordingWindow report;
        DisplayODBCErrors(report, dsn::SystemInstaller());
        std::string text;
        for (const std::string& line : report.lines) {
            text += line;
        }
        return text;
    }
};

bool Contains(const std::vector<std::string>& lines, const std::string& part) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.find(part) != std::string::npos; });
}

struct DirectoryCase {
    const char* name;
    std::string directory;
    friend void PrintTo(const DirectoryCase& c, std::ostream* os) { *os << c.name; }
};

class CreatedDataSource : public SystemInstallerTest, public ::testing::WithParamInterface<DirectoryCase> {};

TEST_P(CreatedDataSource, OpensTheDatabaseInIsql) {
    const std::string dsnName = std::string("Tarnwick") + GetParam().name;
    RecordingWindow window;

    const std::int8_t result = CreateDSN(dsn::AccessDriverName, "dates.mdb", dsnName.c_str(),
                                         GetParam().directory.c_str(), window, dsn::SystemInstaller());

    ASSERT_EQ(static_cast<int>(result), 0) << Report();
    EXPECT_EQ(window.lines, (std::vector<std::string>{"Database name: dates.mdb", "DSN: " + dsnName,
                                                      "Creating System DSN...", "System DSN created successfully!"}));
    EXPECT_EQ(window.disableCancelCalls, 1);
    EXPECT_EQ(window.linesWhenCancelDisabled, 4u);

    const std::string ini = Sandbox->ReadOdbcIni();
    EXPECT_NE(ini.find("[" + dsnName + "]"), std::string::npos) << ini;
    EXPECT_NE(ini.find("DBQ=dates.mdb"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Database=" + FixturePath("dates.mdb")), std::string::npos) << ini;
    EXPECT_NE(ini.find(OtherSources), std::string::npos) << ini;

    const auto isql = tarnwick::testing::RunIsql(*Sandbox, dsnName, "SELECT IDCol FROM DateTest\n");
    EXPECT_EQ(isql.exitCode, 0) << isql.output;
    EXPECT_NE(isql.output.find("6 rows fetched"), std::string::npos) << isql.output;
}

INSTANTIATE_TEST_SUITE_P(Directories, CreatedDataSource,
                         ::testing::Values(DirectoryCase{"Plain", FixturePath("")},
                                           DirectoryCase{"TrailingSlash", FixturePath("") + "/"}),
                         [](const ::testing::TestParamInfo<DirectoryCase>& info) {
                             return std::string(info.param.name);
                         });

struct RefusedName {
    const char* name;
    const char* dsnName;
    friend void PrintTo(const RefusedName& c, std::ostream* os) { *os << '"' << c.dsnName << '"'; }
};

class SetupLibraryRefusal : public SystemInstallerTest, public ::testing::WithParamInterface<RefusedName> {};

// The setup library refuses with records of its own; the report lists exactly
// those, in order, and odbc.ini is left as it was.
TEST_P(SetupLibraryRefusal, ListsItsRecords) {
    RecordingWindow window;

    const std::int8_t result = CreateDSN(dsn::AccessDriverName, "dates.mdb", GetParam().dsnName,
                                         FixturePath("").c_str(), window, dsn::SystemInstaller());

    EXPECT_EQ(static_cast<int>(result), 10);
    EXPECT_EQ(window.lines,
              (std::vector<std::string>{"Database name: dates.mdb", std::string("DSN: ") + GetParam().dsnName,
                                        "Creating System DSN..."}));
    EXPECT_EQ(window.disableCancelCalls, 0);

    RecordingWindow report;
    EXPECT_EQ(DisplayODBCErrors(report, dsn::SystemInstaller()), 1);
    EXPECT_EQ(report.lines, HeldRecordLines());
    EXPECT_FALSE(Contains(report.lines, "General installer error"))
        << "unixODBC refused before the setup library was called";
    EXPECT_EQ(Sandbox->ReadOdbcIni(), OtherSources);
}

INSTANTIATE_TEST_SUITE_P(
    Names, SetupLibraryRefusal,
    ::testing::Values(RefusedName{"LeadingBlank", " Leading"}, RefusedName{"TrailingBlank", "Trailing "},
                      RefusedName{"Bracket", "[Bracket"}, RefusedName{"SmuggledDriver", "a;Driver=/tmp/evil.so"}),
    [](const ::testing::TestParamInfo<RefusedName>& info) { return std::string(info.param.name); });

TEST_F(SystemInstallerTest, SecondRefusalListsOnlyItsOwnRecords) {
    // Records left from earlier calls, as an earlier request would leave them.
    PostInstallerRecord(1, "first problem");
    PostInstallerRecord(1, "first problem again");
    PostInstallerRecord(1, "first problem once more");

    RecordingWindow first;
    ASSERT_EQ(static_cast<int>(CreateDSN(dsn::AccessDriverName, "dates.mdb", "[First", FixturePath("").c_str(), first,
                                         dsn::SystemInstaller())),
              10);
    RecordingWindow firstReport;
    DisplayODBCErrors(firstReport, dsn::SystemInstaller());
    EXPECT_FALSE(Contains(firstReport.lines, "first problem"));
    EXPECT_TRUE(Contains(firstReport.lines, "[First")) << "the refusal names the DSN";

    RecordingWindow second;
    ASSERT_EQ(static_cast<int>(CreateDSN(dsn::AccessDriverName, "dates.mdb", " Second", FixturePath("").c_str(), second,
                                         dsn::SystemInstaller())),
              10);
    RecordingWindow secondReport;
    EXPECT_EQ(DisplayODBCErrors(secondReport, dsn::SystemInstaller()), 1);
    EXPECT_EQ(secondReport.lines, HeldRecordLines());
    EXPECT_FALSE(Contains(secondReport.lines, "[First")) << Report();
    EXPECT_FALSE(Contains(secondReport.lines, "first problem"));
}

// unixODBC cuts a longer text to the capacity (300) and writes its terminator
// one byte further; AddressSanitizer sees it if the buffer lacks that byte.
TEST_F(SystemInstallerTest, LongRecordTextIsCutTo300Bytes) {
    std::string text;
    for (int i = 0; i < 400; ++i) {
        text.push_back(static_cast<char>('A' + i % 26));
    }
    PostInstallerRecord(11, text);

    RecordingWindow report;
    EXPECT_EQ(DisplayODBCErrors(report, dsn::SystemInstaller()), 1);
    EXPECT_EQ(report.lines, (std::vector<std::string>{" ODBC Error 11: " + text.substr(0, 300) + "\n"}));
}

// libodbcinst reads before the start of its list for index 0 (a crash when
// records exist); the seam refuses it.
TEST_F(SystemInstallerTest, IndexZeroIsRefused) {
    PostInstallerRecord(1, "held");
    std::uint32_t code = 0;
    char text[301] = "";
    std::uint16_t length = 0;
    const std::int16_t status = dsn::SystemInstaller().InstallerError(0, &code, text, 300, &length);
    EXPECT_NE(status, 0);
    EXPECT_NE(status, 1);
    EXPECT_NE(status, 100);
    EXPECT_EQ(HeldRecordLines(), (std::vector<std::string>{" ODBC Error 1: held\n"}));
}

// Every change of the environment this process makes; while other threads
// run there must be none, since getenv in another thread may read the
// environment at that moment.
std::atomic<int> EnvironmentChanges{0};

} // namespace

extern "C" int setenv(const char* name, const char* value, int overwrite) {
    ++EnvironmentChanges;
    static const auto real = reinterpret_cast<int (*)(const char*, const char*, int)>(dlsym(RTLD_NEXT, "setenv"));
    return real(name, value, overwrite);
}

extern "C" int unsetenv(const char* name) {
    ++EnvironmentChanges;
    static const auto real = reinterpret_cast<int (*)(const char*)>(dlsym(RTLD_NEXT, "unsetenv"));
    return real(name);
}

namespace {

// A second thread that only waits, as the window's toolkit threads do.
class OtherThread {
public:
    OtherThread() : thread_([this] { released_.get_future().wait(); }) {}
    ~OtherThread() {
        released_.set_value();
        thread_.join();
    }
    OtherThread(const OtherThread&) = delete;
    OtherThread& operator=(const OtherThread&) = delete;

private:
    std::promise<void> released_;
    std::thread thread_;
};

struct SearchCase {
    const char* name;
    std::optional<std::string> search; // ODBCSEARCH before the request
    bool otherThread;
    // Unset with another thread, only unixODBC's own config mode tells the
    // setup library the kind: from 2.3.13 on it cannot ask, and refuses.
    std::optional<bool> created; // none: depends on the unixODBC release
    friend void PrintTo(const SearchCase& c, std::ostream* os) { *os << c.name; }
};

class SearchVariable : public SystemInstallerTest, public ::testing::WithParamInterface<SearchCase> {
protected:
    void TearDown() override { unsetenv("ODBCSEARCH"); }
};

// A system request reaches the system odbc.ini whatever ODBCSEARCH held, and
// leaves it as it was; with another thread running the environment is never
// changed, and a value naming user data sources refuses the request.
TEST_P(SearchVariable, SystemRequestWritesTheSystemFileAndLeavesTheVariable) {
    const SearchCase& c = GetParam();
    if (c.search) {
        setenv("ODBCSEARCH", c.search->c_str(), 1);
    }
    const std::string dsnName = std::string("Search") + c.name;
    using namespace std::string_literals;
    const std::string attributes = "DSN=" + dsnName + "\0DBQ=dates.mdb\0DefaultDir="s + FixturePath("") + "\0\0"s;

    bool created = false;
    int changes = 0;
    {
        std::optional<OtherThread> other;
        if (c.otherThread) {
            other.emplace();
        }
        const int before = EnvironmentChanges;
        created = dsn::SystemInstaller().ConfigDataSource(nullptr, dsn::AddSystemDsnRequest, dsn::AccessDriverName,
                                                          attributes.c_str());
        changes = EnvironmentChanges - before;
    }

    const char* after = std::getenv("ODBCSEARCH");
    EXPECT_EQ(after ? std::optional<std::string>(after) : std::nullopt, c.search);
    if (c.otherThread) {
        EXPECT_EQ(changes, 0) << "the environment changed while another thread ran";
    }
    const std::string ini = Sandbox->ReadOdbcIni();
    if (created) {
        EXPECT_NE(ini.find("[" + dsnName + "]"), std::string::npos) << ini;
    } else {
        EXPECT_EQ(ini, OtherSources);
        EXPECT_TRUE(Contains(HeldRecordLines(), "ODBCSEARCH")) << Report();
    }
    if (c.created) {
        EXPECT_EQ(created, *c.created) << Report();
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, SearchVariable,
                         ::testing::Values(SearchCase{"Unset", std::nullopt, false, true},
                                           SearchCase{"UserDataSources", "ODBC_USER_DSN", false, true},
                                           SearchCase{"SystemWithOtherThread", "ODBC_SYSTEM_DSN", true, true},
                                           SearchCase{"UserDataSourcesWithOtherThread", "ODBC_USER_DSN", true, false},
                                           SearchCase{"UnsetWithOtherThread", std::nullopt, true, std::nullopt}),
                         [](const ::testing::TestParamInfo<SearchCase>& info) { return std::string(info.param.name); });

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    OdbcSandbox sandbox;
    sandbox.Export();
    Sandbox = &sandbox;
    return RUN_ALL_TESTS();
}
