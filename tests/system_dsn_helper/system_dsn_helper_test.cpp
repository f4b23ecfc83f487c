// The built privileged helper, run directly against a sandbox (not root
// through pkexec, so it honours ODBCSYSINI) with hostile standard input.
#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include <unistd.h>

#include "dsn/create_dsn.h"
#include "system_dsn_client/system_dsn_request.h"
#include "odbc_sandbox.h"

namespace {

using namespace std::string_literals;
using tarnwick::testing::CommandResult;
using tarnwick::testing::FixturePath;
using tarnwick::testing::OdbcSandbox;
using tarnwick::testing::RunCommand;

const std::string Helper = TARNWICK_HELPER_BUILT;

const std::string KeptSources = "# kept by every refusal\n"
                                "[Kept]\n"
                                "Driver=Microsoft Access Driver (*.mdb)\n"
                                "Database=/srv/kept.mdb\n";

std::string Attributes(const std::string& dsnName) {
    return "DSN=" + dsnName + "\0FIL=MS Access\0JetIniPath=odbcddp.ini\0DBQ=dates.mdb\0DefaultDir=\0"
                              "Description=\0UID=\0PWD=\0\0"s;
}

// A request that the helper carries out: relative DBQ and an empty
// DefaultDir, resolved against the fixtures folder sent as the directory.
dsn::SystemDsnRequest GoodRequest(const std::string& dsnName = "HelperMade") {
    return {FixturePath(""), dsn::AccessDriverName, Attributes(dsnName)};
}

std::string Encoded(dsn::SystemDsnRequest request) { return dsn::EncodeRequest(request); }

dsn::SystemDsnRequest With(dsn::SystemDsnRequest request, std::string dsn::SystemDsnRequest::*field,
                           std::string value) {
    request.*field = std::move(value);
    return request;
}

struct HostileInput {
    const char* name;
    std::vector<std::string> command; // "$0" is the helper
    std::string input;
    int exitCode;
    std::string recordPart;
    friend void PrintTo(const HostileInput& c, std::ostream* os) { *os << c.name; }
};

HostileInput Piped(const char* name, std::string input, int exitCode, std::string recordPart) {
    return {name, {"\"$0\""}, std::move(input), exitCode, std::move(recordPart)};
}

class HelperRefuses : public ::testing::TestWithParam<HostileInput> {
protected:
    OdbcSandbox sandbox_;
};

TEST_P(HelperRefuses, WithOneRecordAndLeavesOdbcIniAsItWas) {
    sandbox_.WriteOdbcIni(KeptSources);
    std::string script;
    for (const std::string& word : GetParam().command) {
        script += word + " ";
    }
    const CommandResult result = RunCommand({"sh", "-c", script, Helper}, sandbox_.Environment(), GetParam().input);

    EXPECT_EQ(result.exitCode, GetParam().exitCode) << result.output;
    const auto answer = dsn::DecodeAnswer(result.output);
    ASSERT_TRUE(answer) << result.output;
    EXPECT_FALSE(answer->created);
    ASSERT_FALSE(answer->records.empty());
    EXPECT_NE(answer->records.front().message.find(GetParam().recordPart), std::string::npos)
        << answer->records.front().message;
    EXPECT_EQ(sandbox_.ReadOdbcIni(), KeptSources);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, HelperRefuses,
    ::testing::Values(
        Piped("Empty", "", 2, "malformed request"),
        Piped("Truncated", Encoded(GoodRequest()).substr(0, 60), 2, "malformed request"),
        Piped("NoTerminator", Encoded(GoodRequest()).substr(0, Encoded(GoodRequest()).size() - 4), 2,
              "malformed request"),
        Piped("TrailingBytes", Encoded(GoodRequest()) + "\n", 2, "malformed request"),
        HostileInput{"Oversized", {"head -c 70000 /dev/zero |", "\"$0\""}, "", 2, "longer than 64 KiB"},
        HostileInput{"EndlessStream", {"yes |", "\"$0\""}, "", 2, "longer than 64 KiB"},
        HostileInput{"AnArgument", {"\"$0\"", "/etc/odbc.ini"}, Encoded(GoodRequest()), 2, "takes no arguments"},
        Piped("OtherDriver", Encoded(With(GoodRequest(), &dsn::SystemDsnRequest::driver, "PostgreSQL Unicode")), 2,
              "only data sources for the driver"),
        Piped("NulInDriver",
              Encoded(With(GoodRequest(), &dsn::SystemDsnRequest::driver, dsn::AccessDriverName + "\0x"s)), 2,
              "only data sources for the driver"),
        Piped("ListWithoutEmptyEntry",
              Encoded(With(GoodRequest(), &dsn::SystemDsnRequest::attributes, "DSN=Cut\0DBQ=dates.mdb\0"s)), 2,
              "attribute list"),
        Piped("BytesAfterList",
              Encoded(With(GoodRequest(), &dsn::SystemDsnRequest::attributes, Attributes("A") + "DSN=B\0\0"s)), 2,
              "attribute list"),
        Piped("RelativeDirectory", Encoded(With(GoodRequest(), &dsn::SystemDsnRequest::directory, "fixtures")), 2,
              "not an absolute path"),
        Piped("NulInDirectory",
              Encoded(With(GoodRequest(), &dsn::SystemDsnRequest::directory, FixturePath("") + "\0/etc"s)), 2,
              "not an absolute path"),
        Piped("MissingDirectory",
              Encoded(With(GoodRequest(), &dsn::SystemDsnRequest::directory, "/nonexistent/tarnwick")), 2,
              "cannot change to the caller's current directory"),
        Piped("SetupLibraryRefuses", Encoded(GoodRequest("bad[name")), 1, "bad[name")),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Helper, CreatesTheDataSourceThatIsqlReads) {
    OdbcSandbox sandbox;
    const CommandResult result = RunCommand({Helper}, sandbox.Environment(), Encoded(GoodRequest()));

    ASSERT_EQ(result.exitCode, 0) << result.output;
    const auto answer = dsn::DecodeAnswer(result.output);
    ASSERT_TRUE(answer) << result.output;
    EXPECT_TRUE(answer->created);
    EXPECT_TRUE(answer->records.empty());
    EXPECT_NE(sandbox.ReadOdbcIni().find("Database=" + FixturePath("dates.mdb") + "\n"), std::string::npos)
        << sandbox.ReadOdbcIni();
    const auto isql = tarnwick::testing::RunIsql(sandbox, "HelperMade", "SELECT IDCol FROM DateTest\n");
    EXPECT_NE(isql.output.find("6 rows fetched"), std::string::npos) << isql.output;
}

// The directory only ever becomes text in Database=, which the setup library
// validates like any value: a folder name that would start a section of its
// own is refused, not written.
TEST(Helper, DirectoryNameThatWouldInjectASectionIsRefusedBySetupLibrary) {
    OdbcSandbox sandbox;
    sandbox.WriteOdbcIni(KeptSources);
    const std::string folder = sandbox.Dir() + "/x\n[Injected]\nDriver=evil.so";
    std::filesystem::create_directory(folder);

    const CommandResult result =
        RunCommand({Helper}, sandbox.Environment(),
                   Encoded(With(GoodRequest(), &dsn::SystemDsnRequest::directory, folder)));

    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_NE(result.output.find("Database"), std::string::npos) << result.output;
    EXPECT_EQ(sandbox.ReadOdbcIni(), KeptSources);
}

// Started by pkexec, the helper is root with PKEXEC_UID set, and the system
// files are /etc's whatever ODBCSYSINI or ODBCINSTINI say. Run so in a private
// mount namespace with an overlay on /etc (root only), it writes the
// namespace's /etc/odbc.ini and leaves the sandbox those variables name alone.
TEST(Helper, AsRootThroughPkexecIgnoresTheCallersOdbcFolders) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root for a private /etc";
    }
    OdbcSandbox sandbox;
    sandbox.WriteOdbcIni(KeptSources);
    auto environment = sandbox.Environment();
    environment["ODBCINSTINI"] = "odbcinst.ini";
    environment["PKEXEC_UID"] = "1000";
    const std::string script = R"(set -e
        layers=$1/etc-layers
        mkdir "$layers"
        mount -t tmpfs tarnwick-test "$layers"
        mkdir "$layers/upper" "$layers/work"
        mount -t overlay tarnwick-test -o "lowerdir=/etc,upperdir=$layers/upper,workdir=$layers/work" /etc
        cp "$1/odbcinst.ini" /etc/odbcinst.ini
        : >/etc/odbc.ini
        status=0
        "$0" || status=$?
        echo "--- /etc/odbc.ini"
        cat /etc/odbc.ini
        exit $status)";
    const CommandResult result =
        RunCommand({"unshare", "--mount", "--propagation", "private", "sh", "-c", script, Helper, sandbox.Dir()},
                   environment, Encoded(GoodRequest("RootMade")));

    const std::string separator = "--- /etc/odbc.ini\n";
    const auto at = result.output.find(separator);
    ASSERT_NE(at, std::string::npos) << result.output;
    EXPECT_EQ(result.exitCode, 0) << result.output;
    const auto answer = dsn::DecodeAnswer(std::string_view(result.output).substr(0, at));
    ASSERT_TRUE(answer) << result.output;
    EXPECT_TRUE(answer->created);
    EXPECT_NE(result.output.find("[RootMade]\n", at), std::string::npos) << result.output;
    EXPECT_EQ(sandbox.ReadOdbcIni(), KeptSources);
}

} // namespace
