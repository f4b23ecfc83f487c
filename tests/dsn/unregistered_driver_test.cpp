// CreateDSN through the real libodbcinst on a system where the Access driver
// is not registered: unixODBC refuses with its own single record.
#include "dsn/create_dsn.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "installer_records.h"
#include "odbc_sandbox.h"
#include "recording_window.h"

namespace {

using tarnwick::testing::FixturePath;
using tarnwick::testing::OdbcSandbox;
using tarnwick::testing::RecordingWindow;

OdbcSandbox* Sandbox = nullptr;

TEST(UnregisteredDriver, RefusalListsTheGeneralInstallerError) {
    // Twice: the second request must not list the first one's record again.
    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE("attempt " + std::to_string(attempt));
        RecordingWindow window;
        EXPECT_EQ(static_cast<int>(CreateDSN(dsn::AccessDriverName, "dates.mdb", "Dates", FixturePath("").c_str(),
                                             window, dsn::SystemInstaller())),
                  10);
        EXPECT_EQ(window.lines,
                  (std::vector<std::string>{"Database name: dates.mdb", "DSN: Dates", "Creating System DSN..."}));
        EXPECT_EQ(window.disableCancelCalls, 0);

        RecordingWindow report;
        EXPECT_EQ(DisplayODBCErrors(report, dsn::SystemInstaller()), 1);
        EXPECT_EQ(report.lines, (std::vector<std::string>{" ODBC Error 1: General installer error\n"}));
        EXPECT_EQ(Sandbox->ReadOdbcIni(), "");
    }
}

TEST(UnregisteredDriver, LeftoverRecordsAreNotListed) {
    tarnwick::testing::PostInstallerRecord(8, "from an earlier request");
    tarnwick::testing::PostInstallerRecord(8, "also from an earlier request");
    RecordingWindow window;
    EXPECT_EQ(static_cast<int>(CreateDSN(dsn::AccessDriverName, "dates.mdb", "Dates", FixturePath("").c_str(), window,
                                         dsn::SystemInstaller())),
              10);
    RecordingWindow report;
    DisplayODBCErrors(report, dsn::SystemInstaller());
    EXPECT_EQ(report.lines, (std::vector<std::string>{" ODBC Error 1: General installer error\n"}));
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    OdbcSandbox sandbox(OdbcSandbox::Driver::NotRegistered);
    sandbox.Export();
    Sandbox = &sandbox;
    return RUN_ALL_TESTS();
}
