#include "dsn/create_dsn.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "recording_window.h"
#include "scripted_installer.h"

namespace {

using namespace std::string_literals;
using tarnwick::testing::RecordingWindow;
using tarnwick::testing::ScriptedInstaller;

// What the installer receives cannot be seen through the real one, so these
// cases record it; the real installer's outcomes are tested elsewhere.
TEST(CreateDSN, RequestsASystemDsnWithTheList) {
    RecordingWindow window;
    ScriptedInstaller installer;
    const char* driver = dsn::AccessDriverName;

    EXPECT_EQ(static_cast<int>(CreateDSN(driver, "sales.mdb", "Sales", "/srv/data", window, installer)), 0);

    ASSERT_EQ(installer.requests.size(), 1u);
    const ScriptedInstaller::Request& request = installer.requests[0];
    EXPECT_EQ(request.parentWindow, nullptr);
    EXPECT_EQ(request.request, 4);
    EXPECT_EQ(request.driver, driver);
    EXPECT_STREQ(request.driver, "Microsoft Access Driver (*.mdb)");
    EXPECT_EQ(request.attributes, "DSN=Sales\0FIL=MS Access\0JetIniPath=odbcddp.ini\0DBQ=sales.mdb\0"
                                  "DefaultDir=/srv/data\0Description=\0UID=\0PWD=\0\0"s);
}

TEST(CreateDSN, RefusalLogsThreeLinesAndLeavesCancel) {
    RecordingWindow window;
    ScriptedInstaller installer;
    installer.accepts = false;
    EXPECT_EQ(static_cast<int>(CreateDSN(dsn::AccessDriverName, " a.mdb ", " My DSN ", "/d/", window, installer)), 10);
    EXPECT_EQ(window.lines,
              (std::vector<std::string>{"Database name:  a.mdb ", "DSN:  My DSN ", "Creating System DSN..."}));
    EXPECT_EQ(window.disableCancelCalls, 0);
    EXPECT_TRUE(installer.indexesAsked.empty()) << "records are the caller's to read";
}

TEST(CreateDSN, LongValuesReachTheInstallerWhole) {
    RecordingWindow window;
    ScriptedInstaller installer;
    const std::string directory(5000, 'd');
    EXPECT_EQ(static_cast<int>(CreateDSN(dsn::AccessDriverName, "x.mdb", "Long", directory.c_str(), window, installer)),
              0);
    ASSERT_EQ(installer.requests.size(), 1u);
    EXPECT_NE(installer.requests[0].attributes.find("\0DefaultDir="s + directory + "\0Description=\0"s),
              std::string::npos);
}

} // namespace
