// CreateDSN and DisplayODBCErrors through the real libodbcinst, with the
// Access driver and our setup library registered in a sandbox.
#include "dsn/create_dsn.h"

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

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

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    OdbcSandbox sandbox;
    sandbox.Export();
    Sandbox = &sandbox;
    return RUN_ALL_TESTS();
}
