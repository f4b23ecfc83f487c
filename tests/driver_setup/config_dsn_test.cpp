// The setup library as unixODBC uses it: every case calls the real
// SQLConfigDataSource of libodbcinst in a child process, with the built library
// registered in a sandbox ODBCSYSINI.
#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <odbcinst.h>

#include "ini_document.h"
#include "odbc_sandbox.h"
#include "setup_client.h"

namespace tarnwick::testing {
namespace {

using setup::IniDocument;

// A system odbc.ini as administrators keep them: comments, blank lines and data
// sources of other drivers, one of them ours already.
const std::string kExistingFile = "# System data sources, maintained by hand\n"
                                  "; see odbc.ini(5)\n"
                                  "\n"
                                  "[Other]\n"
                                  "Driver=PostgreSQL\n"
                                  "# production server\n"
                                  "Servername=db.example.com\n"
                                  "\n"
                                  "[Orders]\n"
                                  "Driver=Microsoft Access Driver (*.mdb)\n"
                                  "DBQ=/srv/orders.mdb\n"
                                  "Database=/srv/orders.mdb\n";

std::string FixturesFolder() { return std::filesystem::path(FixturePath("dates.mdb")).parent_path().string(); }

std::string DialogSection(const std::string& dsn, const std::string& database, const std::string& directory,
                          const std::string& fullPath) {
    return "[" + dsn + "]\nDriver=Microsoft Access Driver (*.mdb)\nDSN=" + dsn +
           "\nFIL=MS Access\nJetIniPath=odbcddp.ini\nDBQ=" + database + "\nDefaultDir=" + directory +
           "\nDescription=\nUID=\nPWD=\nDatabase=" + fullPath + "\n";
}

bool HasRecord(const ClientResult& result, unsigned long code, const std::string& part) {
    for (const auto& record : result.records) {
        if (record.code == code && record.message.find(part) != std::string::npos) {
            return true;
        }
    }
    return false;
}

class ConfigDsnTest : public ::testing::Test {
protected:
    OdbcSandbox sandbox_;
};

TEST_F(ConfigDsnTest, AddsTheDialogsDataSourceAndIsqlQueriesTheDatabaseThroughIt) {
    sandbox_.WriteOdbcIni(kExistingFile);
    const std::string folder = FixturesFolder() + "/";

    const ClientResult result =
        ConfigDataSource(sandbox_, ODBC_ADD_SYS_DSN, DialogAttributes("Dates", "dates.mdb", folder));

    ASSERT_TRUE(result.succeeded) << result.output;
    EXPECT_EQ(sandbox_.ReadOdbcIni(),
              kExistingFile + "\n" + DialogSection("Dates", "dates.mdb", folder, folder + "dates.mdb"));
    EXPECT_EQ(ReadProfile(sandbox_, {{"Dates", "Database"}, {"Dates", "Driver"}}),
              (std::map<std::string, std::string>{{"Dates.Database", folder + "dates.mdb"},
                                                  {"Dates.Driver", kAccessDriver}}));

    const CommandResult query = RunIsql(sandbox_, "Dates", "SELECT * FROM DateTest\n");
    EXPECT_EQ(query.exitCode, 0) << query.output;
    EXPECT_NE(query.output.find("6 rows fetched"), std::string::npos) << query.output;
}

TEST_F(ConfigDsnTest, JoinsADirectoryWithoutTrailingSlash) {
    const std::string folder = FixturesFolder();
    ASSERT_TRUE(ConfigDataSource(sandbox_, ODBC_ADD_SYS_DSN, DialogAttributes("Dates", "dates.mdb", folder)).succeeded);
    EXPECT_EQ(sandbox_.ReadOdbcIni(), DialogSection("Dates", "dates.mdb", folder, folder + "/dates.mdb"));
}

TEST_F(ConfigDsnTest, ALineOf999BytesReadsBackWhole) {
    // "Database=" and the path make a 999-byte line, the longest unixODBC reads whole.
    const std::string path = "/" + std::string(989, 'p');
    const ClientResult result = ConfigDataSource(sandbox_, ODBC_ADD_SYS_DSN, {"DSN=Long", "DBQ=" + path});
    ASSERT_TRUE(result.succeeded) << result.output;
    EXPECT_EQ(ReadProfile(sandbox_, {{"Long", "Database"}, {"Long", "DBQ"}}),
              (std::map<std::string, std::string>{{"Long.Database", path}, {"Long.DBQ", path}}));
}

TEST_F(ConfigDsnTest, CreatesAMissingOdbcIniReadableByEveryone) {
    ASSERT_EQ(unlink(sandbox_.OdbcIniPath().c_str()), 0);
    const ClientResult result = ConfigDataSource(sandbox_, ODBC_ADD_SYS_DSN, {"DSN=New", "DBQ=/srv/new.mdb"});
    ASSERT_TRUE(result.succeeded) << result.output;
    EXPECT_EQ(sandbox_.ReadOdbcIni(),
              "[New]\nDriver=Microsoft Access Driver (*.mdb)\nDSN=New\nDBQ=/srv/new.mdb\nDatabase=/srv/new.mdb\n");
    struct stat status {};
    ASSERT_EQ(stat(sandbox_.OdbcIniPath().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0644u);
}

TEST_F(ConfigDsnTest, AddingAgainMakesItsEntriesExactlyTheNewOnes) {
    sandbox_.WriteOdbcIni(kExistingFile);
    ASSERT_TRUE(ConfigDataSource(sandbox_, ODBC_ADD_SYS_DSN, {"DSN=orders", "DBQ=/srv/new.mdb", "Extra=1"}).succeeded);
    EXPECT_EQ(sandbox_.ReadOdbcIni(),
              "# System data sources, maintained by hand\n; see odbc.ini(5)\n\n[Other]\nDriver=PostgreSQL\n"
              "# production server\nServername=db.example.com\n\n[orders]\nDriver=Microsoft Access Driver (*.mdb)\n"
              "DSN=orders\nDBQ=/srv/new.mdb\nExtra=1\nDatabase=/srv/new.mdb\n");
}

TEST_F(ConfigDsnTest, AddingTheSameDataSourceAgainLeavesTheFileAlone) {
    sandbox_.WriteOdbcIni(kExistingFile);
    const std::vector<std::string> attributes{"DSN=Orders", "DBQ=/srv/orders.mdb"};
    ASSERT_TRUE(ConfigDataSource(sandbox_, ODBC_ADD_SYS_DSN, attributes).succeeded);
    struct stat before {};
    ASSERT_EQ(stat(sandbox_.OdbcIniPath().c_str(), &before), 0);

    const ClientResult result = ConfigDataSource(sandbox_, ODBC_ADD_SYS_DSN, attributes);

    ASSERT_TRUE(result.succeeded) << result.output;
    struct stat after {};
    ASSERT_EQ(stat(sandbox_.OdbcIniPath().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "an identical data source should not rewrite the file";
}

TEST_F(ConfigDsnTest, ChangingKeepsTheEntriesNotGivenAndFollowsANewDbq) {
    const std::string folder = FixturesFolder() + "/";
    ASSERT_TRUE(ConfigDataSource(sandbox_, ODBC_ADD_SYS_DSN, DialogAttributes("Dates", "dates.mdb", folder)).succeeded);

    const ClientResult result =
        ConfigDataSource(sandbox_, ODBC_CONFIG_SYS_DSN, {"DSN=Dates", "Description=Northwind", "DBQ=nwind.mdb"});

    ASSERT_TRUE(result.succeeded) << result.output;
    EXPECT_EQ(sandbox_.ReadOdbcIni(), "[Dates]\nDriver=Microsoft Access Driver (*.mdb)\nDSN=Dates\nFIL=MS Access\n"
                                      "JetIniPath=odbcddp.ini\nDBQ=nwind.mdb\nDefaultDir=" +
                                          folder + "\nDescription=Northwind\nUID=\nPWD=\nDatabase=" + folder +
                                          "nwind.mdb\n");
}

TEST_F(ConfigDsnTest, RemovingGivesTheFileBackAsItWas) {
    sandbox_.WriteOdbcIni(kExistingFile);
    ASSERT_TRUE(ConfigDataSource(sandbox_, ODBC_ADD_SYS_DSN, {"DSN=Temp", "DBQ=/srv/t.mdb"}).succeeded);

    const ClientResult result = ConfigDataSource(sandbox_, ODBC_REMOVE_SYS_DSN, {"DSN=temp"});

    ASSERT_TRUE(result.succeeded) << result.output;
    EXPECT_EQ(sandbox_.ReadOdbcIni(), kExistingFile);
}

struct HostileCase {
    const char* label;
    int request;
    std::vector<std::string> attributes;
    unsigned long code;
    const char* because;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const HostileCase& c, std::ostream* out) { *out << c.label; }

class HostileInputTest : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileInputTest, IsRefusedWithARecordAndLeavesOdbcIniByteForByte) {
    const HostileCase& c = GetParam();
    OdbcSandbox sandbox;
    sandbox.WriteOdbcIni(kExistingFile);
    const auto entries = FolderEntries(sandbox.Dir());

    const ClientResult result = ConfigDataSource(sandbox, c.request, c.attributes);

    EXPECT_FALSE(result.succeeded) << result.output;
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_TRUE(HasRecord(result, c.code, c.because)) << result.output;
    EXPECT_EQ(sandbox.ReadOdbcIni(), kExistingFile);
    EXPECT_EQ(FolderEntries(sandbox.Dir()), entries);
}

const std::string kFolder = "/srv/data/";

INSTANTIATE_TEST_SUITE_P(
    Cases, HostileInputTest,
    ::testing::Values(
        // What the dialog's list becomes when a field holds a ';'.
        HostileCase{"SemicolonInName", ODBC_ADD_SYS_DSN, DialogAttributes("a;b", "x.mdb", kFolder),
                    ODBC_ERROR_INVALID_KEYWORD_VALUE, "\"b\" is not of the form keyword=value"},
        HostileCase{"DriverSmuggledInName", ODBC_ADD_SYS_DSN, DialogAttributes("a;Driver=/tmp/x.so", "x.mdb", kFolder),
                    ODBC_ERROR_INVALID_KEYWORD_VALUE, "Driver is not accepted"},
        HostileCase{"SectionInjectedInValue", ODBC_ADD_SYS_DSN,
                    DialogAttributes("Sales", "/a.mdb\n[Injected]\nDriver=Evil", kFolder),
                    ODBC_ERROR_INVALID_KEYWORD_VALUE, "line break"},
        HostileCase{"ValueTooLongForOneLine", ODBC_ADD_SYS_DSN,
                    DialogAttributes("Sales", std::string(1000, 'x') + ".mdb", kFolder),
                    ODBC_ERROR_INVALID_KEYWORD_VALUE, "unixODBC reads back at most 999 bytes"},
        HostileCase{"DatabasePathTooLong", ODBC_ADD_SYS_DSN,
                    DialogAttributes("Sales", std::string(600, 'x'), "/" + std::string(400, 'd')),
                    ODBC_ERROR_INVALID_KEYWORD_VALUE, "\"Database\""},
        HostileCase{"LeadingBlankInName", ODBC_ADD_SYS_DSN, DialogAttributes(" Sales", "x.mdb", kFolder),
                    ODBC_ERROR_INVALID_DSN, "blank"},
        HostileCase{"NameTooLong", ODBC_ADD_SYS_DSN, DialogAttributes(std::string(33, 'n'), "x.mdb", kFolder),
                    ODBC_ERROR_INVALID_DSN, "33 bytes"},
        HostileCase{"BracketsInName", ODBC_ADD_SYS_DSN, DialogAttributes("[Other]", "x.mdb", kFolder),
                    ODBC_ERROR_INVALID_DSN, "characters []"},
        HostileCase{"EmptyName", ODBC_ADD_SYS_DSN, DialogAttributes("", "x.mdb", kFolder), ODBC_ERROR_INVALID_DSN,
                    "empty"},
        HostileCase{"NoName",
                    ODBC_ADD_SYS_DSN,
                    {"FIL=MS Access", "DBQ=/x.mdb"},
                    ODBC_ERROR_INVALID_DSN,
                    "DSN=<name> is missing"},
        HostileCase{"RepeatedKeyword",
                    ODBC_ADD_SYS_DSN,
                    {"DSN=Sales", "DBQ=/a.mdb", "dbq=/b.mdb"},
                    ODBC_ERROR_INVALID_KEYWORD_VALUE,
                    "more than once"},
        HostileCase{"SectionAsKeyword",
                    ODBC_ADD_SYS_DSN,
                    {"DSN=Sales", "[Evil]=x"},
                    ODBC_ERROR_INVALID_KEYWORD_VALUE,
                    "bracket"},
        HostileCase{"AnotherDriversDataSource", ODBC_ADD_SYS_DSN, DialogAttributes("other", "x.mdb", kFolder),
                    ODBC_ERROR_REQUEST_FAILED, "belongs to the driver \"PostgreSQL\""},
        HostileCase{"RemovingAnotherDriversDataSource",
                    ODBC_REMOVE_SYS_DSN,
                    {"DSN=Other"},
                    ODBC_ERROR_REQUEST_FAILED,
                    "belongs to the driver \"PostgreSQL\""},
        HostileCase{"RemovingAMissingDataSource",
                    ODBC_REMOVE_SYS_DSN,
                    {"DSN=Nowhere"},
                    ODBC_ERROR_REQUEST_FAILED,
                    "no data source \"Nowhere\""},
        HostileCase{"ChangingAMissingDataSource",
                    ODBC_CONFIG_SYS_DSN,
                    {"DSN=Nowhere", "DBQ=/x.mdb"},
                    ODBC_ERROR_REQUEST_FAILED,
                    "no data source \"Nowhere\""},
        HostileCase{
            "UnhandledRequest", ODBC_REMOVE_DEFAULT_DSN, {"DSN=Orders"}, ODBC_ERROR_INVALID_REQUEST_TYPE, "Request 7"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(ConfigDsnTest, AFileUnixOdbcCannotReadIsNotTouched) {
    const std::string broken = "Stray=entry\n[Orders]\nDriver=Microsoft Access Driver (*.mdb)\n";
    sandbox_.WriteOdbcIni(broken);
    const ClientResult result = ConfigDataSource(sandbox_, ODBC_ADD_SYS_DSN, {"DSN=New", "DBQ=/srv/new.mdb"});
    EXPECT_FALSE(result.succeeded);
    EXPECT_TRUE(HasRecord(result, ODBC_ERROR_REQUEST_FAILED, "line 1 is neither")) << result.output;
    EXPECT_EQ(sandbox_.ReadOdbcIni(), broken);
}

TEST_F(ConfigDsnTest, EveryRefusalOfOneRequestGetsItsOwnRecord) {
    const ClientResult result = ConfigDataSource(sandbox_, ODBC_ADD_SYS_DSN, {"DSN=a b;", "Driver=x", "K=\n"});
    EXPECT_FALSE(result.succeeded);
    EXPECT_TRUE(HasRecord(result, ODBC_ERROR_INVALID_DSN, "character ;")) << result.output;
    EXPECT_TRUE(HasRecord(result, ODBC_ERROR_INVALID_KEYWORD_VALUE, "Driver is not accepted")) << result.output;
    EXPECT_TRUE(HasRecord(result, ODBC_ERROR_INVALID_KEYWORD_VALUE, "line break")) << result.output;
}

// The writers that find no odbc.ini race to create it: one of them does, and
// the others add to its file instead of replacing it.
TEST_F(ConfigDsnTest, ConcurrentWritersCreatingTheFileLoseNothing) {
    constexpr int kWriters = 4;
    constexpr int kEach = 10;
    std::filesystem::remove(sandbox_.OdbcIniPath());
    std::vector<std::vector<std::string>> commands;
    for (int writer = 0; writer < kWriters; ++writer) {
        commands.push_back({CONFIG_DSN_CLIENT, "--add-many", "N" + std::to_string(writer) + "_", std::to_string(kEach),
                            kAccessDriver, "DBQ=/srv/n.mdb"});
    }

    for (const auto& result : RunConcurrently(commands, sandbox_.Environment())) {
        EXPECT_EQ(result.exitCode, 0) << result.output;
    }

    const IniDocument document(sandbox_.ReadOdbcIni());
    ASSERT_FALSE(document.Problem()) << *document.Problem();
    EXPECT_EQ(document.SectionNames().size(), std::size_t{kWriters * kEach});
}

TEST_F(ConfigDsnTest, ConcurrentWritersLoseNothing) {
    constexpr int kWriters = 6;
    constexpr int kEach = 25;
    sandbox_.WriteOdbcIni(kExistingFile);
    std::vector<std::vector<std::string>> commands;
    for (int writer = 0; writer < kWriters; ++writer) {
        commands.push_back({CONFIG_DSN_CLIENT, "--add-many", "W" + std::to_string(writer) + "_", std::to_string(kEach),
                            kAccessDriver, "FIL=MS Access", "DBQ=/srv/w.mdb"});
    }

    for (const auto& result : RunConcurrently(commands, sandbox_.Environment())) {
        EXPECT_EQ(result.exitCode, 0) << result.output;
    }

    const std::string text = sandbox_.ReadOdbcIni();
    EXPECT_EQ(text.rfind(kExistingFile, 0), 0u) << "the existing data sources and comments must stay in front";
    const IniDocument document(text);
    ASSERT_FALSE(document.Problem()) << *document.Problem();
    EXPECT_EQ(document.SectionNames().size(), 2u + kWriters * kEach);

    std::string listing = "[Other]\n[Orders]\n";
    std::vector<std::pair<std::string, std::string>> keys;
    for (const auto& name : document.SectionNames()) {
        if (name != "Other" && name != "Orders") {
            listing += "[" + name + "]\n";
            keys.push_back({name, "Database"});
        }
    }
    EXPECT_EQ(RunCommand({"odbcinst", "-q", "-s"}, sandbox_.Environment()).output, listing);
    const auto values = ReadProfile(sandbox_, keys);
    ASSERT_EQ(values.size(), keys.size());
    for (int writer = 0; writer < kWriters; ++writer) {
        for (int i = 0; i < kEach; ++i) {
            std::string key = "W";
            key += std::to_string(writer) + "_" + std::to_string(i) + ".Database";
            EXPECT_EQ(values.count(key) ? values.at(key) : "<missing>", "/srv/w.mdb") << key;
        }
    }
}

// unixODBC's own writer (odbcinst) rewrites odbc.ini in place, truncating it
// first, and takes no lock. Adding beside it must never rename a half-written
// copy into place: every data source that was in the file survives, whatever
// becomes of the ones the two add meanwhile.
TEST_F(ConfigDsnTest, AddingBesideUnixOdbcsOwnWriterKeepsEveryDataSource) {
    constexpr int kExisting = 300;
    std::string existing;
    for (int i = 0; i < kExisting; ++i) {
        existing += "[Kept" + std::to_string(i) + "]\nDriver=" + kAccessDriver + "\nDatabase=/srv/k" +
                    std::to_string(i) + ".mdb\n";
    }
    sandbox_.WriteOdbcIni(existing);
    const std::string odbcinstLoop = R"(i=0
        while [ $i -lt 60 ]; do
            printf '[Odbcinst%d]\nDriver=%s\nDatabase=/srv/o.mdb\n' $i "$1" >"$2"
            odbcinst -i -s -l -f "$2" >/dev/null 2>&1
            i=$((i + 1))
        done)";
    const std::string templateFile = sandbox_.Dir() + "/template.ini";

    const auto results =
        RunConcurrently({{CONFIG_DSN_CLIENT, "--add-many", "Tarnwick", "30", kAccessDriver, "DBQ=/srv/t.mdb"},
                         {"sh", "-c", odbcinstLoop, "loop", kAccessDriver, templateFile}},
                        sandbox_.Environment());

    const IniDocument document(sandbox_.ReadOdbcIni());
    ASSERT_FALSE(document.Problem()) << *document.Problem();
    int kept = 0;
    for (int i = 0; i < kExisting; ++i) {
        kept += document.HasSection("Kept" + std::to_string(i)) ? 1 : 0;
    }
    EXPECT_EQ(kept, kExisting) << results[0].output;
}

// unixODBC 2.3.13 and later hold their config-mode lock while the setup runs;
// they are told apart by the lock-free reader they brought along. The test
// itself does not link the installer, so it asks the library directly.
bool InstalledReleaseHoldsConfigLock() {
    void* installer = dlopen("libodbcinst.so.2", RTLD_LAZY | RTLD_LOCAL);
    if (installer == nullptr) {
        return false;
    }
    const bool found = dlsym(installer, "__SQLGetPrivateProfileStringNL") != nullptr;
    dlclose(installer);
    return found;
}

enum class Lands { SystemFile, UserFile, Nowhere };

struct ConfigLockCase {
    const char* label;
    const char* lock;   // the shim's lock, or nullptr for the installed release as it is;
                        // "released" still runs under the installed release's own lock
    const char* search; // ODBCSEARCH, or nullptr to let the client name the kind as it does
    int request;
    Lands lands;
};

void PrintTo(const ConfigLockCase& c, std::ostream* out) { *out << c.label; }

class ConfigLockTest : public ::testing::TestWithParam<ConfigLockCase> {};

// Under a release that holds the lock, asking the installer for the config
// mode would never return; each case must answer, and well within the
// client's time limit.
TEST_P(ConfigLockTest, AnswersAtOnceAndWritesOnlyTheFileOfItsKind) {
    const ConfigLockCase& c = GetParam();
    OdbcSandbox sandbox;
    sandbox.WriteOdbcIni(kExistingFile);
    const std::string userFile = sandbox.Dir() + "/user.ini";
    std::map<std::string, std::string> environment =
        c.lock != nullptr ? ConfigLockEnvironment(c.lock) : std::map<std::string, std::string>{};
    environment["ODBCINI"] = userFile;
    if (c.search != nullptr) {
        environment["ODBCSEARCH"] = c.search;
    }
    Lands expected = c.lands;
    // Without a usable ODBCSEARCH, a release that really holds the lock leaves
    // the setup nothing to ask: it must refuse, whatever the shim does.
    const bool held = c.lock != nullptr && std::string_view(c.lock) == "held";
    if (!held && c.search != nullptr && InstalledReleaseHoldsConfigLock()) {
        expected = Lands::Nowhere;
    }

    const ClientResult result = ConfigDataSource(sandbox, c.request, {"DSN=Locked", "DBQ=/srv/l.mdb"}, environment);

    ASSERT_NE(result.exitCode, 124) << "the setup waited on the installer's lock";
    EXPECT_EQ(result.succeeded, expected != Lands::Nowhere) << result.output;
    const bool inSystemFile = sandbox.ReadOdbcIni().find("[Locked]") != std::string::npos;
    EXPECT_EQ(inSystemFile, expected == Lands::SystemFile) << sandbox.ReadOdbcIni();
    EXPECT_EQ(access(userFile.c_str(), F_OK) == 0, expected == Lands::UserFile);
    if (expected == Lands::Nowhere) {
        EXPECT_EQ(sandbox.ReadOdbcIni(), kExistingFile);
        EXPECT_TRUE(HasRecord(result, ODBC_ERROR_REQUEST_FAILED, "Set the environment variable ODBCSEARCH"))
            << result.output;
    }
}

// An empty ODBCSEARCH is ignored by unixODBC and by the setup alike: the
// setup has to find the kind out by itself.
INSTANTIATE_TEST_SUITE_P(
    ConfigLock, ConfigLockTest,
    ::testing::Values(ConfigLockCase{"HeldNamedBySearch", "held", nullptr, ODBC_ADD_SYS_DSN, Lands::SystemFile},
                      ConfigLockCase{"HeldUserNamedBySearch", "held", nullptr, ODBC_ADD_DSN, Lands::UserFile},
                      ConfigLockCase{"HeldUnnamedIsRefused", "held", "", ODBC_ADD_SYS_DSN, Lands::Nowhere},
                      ConfigLockCase{"HeldUnknownSearchIsRefused", "held", "SYSTEM", ODBC_ADD_SYS_DSN, Lands::Nowhere},
                      ConfigLockCase{"ReleasedUnnamed", "released", "", ODBC_ADD_SYS_DSN, Lands::SystemFile},
                      ConfigLockCase{"ReleasedUserUnnamed", "released", "", ODBC_ADD_DSN, Lands::UserFile},
                      ConfigLockCase{"InstalledUnnamed", nullptr, "", ODBC_ADD_SYS_DSN, Lands::SystemFile},
                      ConfigLockCase{"InstalledNamedBySearch", nullptr, nullptr, ODBC_ADD_SYS_DSN, Lands::SystemFile}),
    [](const auto& info) { return std::string(info.param.label); });

struct FaultCase {
    const char* label;
    const char* fault;
    bool fileExists;
    const char* reason; // the operating system's words
};

void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.label; }

class FaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultTest, FailsWithTheReasonAndKeepsTheOldFile) {
    const FaultCase& c = GetParam();
    OdbcSandbox sandbox;
    if (c.fileExists) {
        sandbox.WriteOdbcIni(kExistingFile);
    } else {
        ASSERT_EQ(unlink(sandbox.OdbcIniPath().c_str()), 0);
    }
    const auto entries = FolderEntries(sandbox.Dir());

    const ClientResult result = ConfigDataSource(sandbox, ODBC_ADD_SYS_DSN, DialogAttributes("Sales", "s.mdb", "/srv/"),
                                                 FaultEnvironment(sandbox, c.fault));

    EXPECT_FALSE(result.succeeded) << result.output;
    EXPECT_TRUE(HasRecord(result, ODBC_ERROR_WRITING_SYSINFO_FAILED, c.reason)) << result.output;
    EXPECT_TRUE(HasRecord(result, ODBC_ERROR_WRITING_SYSINFO_FAILED, "left unchanged")) << result.output;
    EXPECT_EQ(FolderEntries(sandbox.Dir()), entries) << "a temporary file was left behind, or odbc.ini created";
    if (c.fileExists) {
        EXPECT_EQ(sandbox.ReadOdbcIni(), kExistingFile);
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultTest,
                         ::testing::Values(FaultCase{"Write", "write", true, "No space left on device"},
                                           FaultCase{"Flush", "fsync", true, "Input/output error"},
                                           FaultCase{"Rename", "rename", true, "Input/output error"},
                                           FaultCase{"CreatingRename", "rename", false, "Input/output error"}),
                         [](const auto& info) { return std::string(info.param.label); });

// Root may write any file whatever its mode, so these cases run the client as
// the unprivileged user nobody (a no-op when the tests do not run as root).
class PermissionTest : public ConfigDsnTest {
protected:
    void TearDown() override { chmod(sandbox_.Dir().c_str(), 0700); }

    ClientResult AddAsNobody() {
        std::vector<std::string> arguments{"--as-nobody", std::to_string(ODBC_ADD_SYS_DSN), kAccessDriver};
        for (const auto& attribute : DialogAttributes("Sales", "s.mdb", "/srv/")) {
            arguments.push_back(attribute);
        }
        return RunClient(sandbox_, arguments);
    }
};

TEST_F(PermissionTest, AReadOnlyFileIsRefused) {
    sandbox_.WriteOdbcIni(kExistingFile);
    ASSERT_EQ(chmod(sandbox_.OdbcIniPath().c_str(), 0444), 0);
    ASSERT_EQ(chmod(sandbox_.Dir().c_str(), 0777), 0);

    const ClientResult result = AddAsNobody();

    EXPECT_FALSE(result.succeeded) << result.output;
    EXPECT_TRUE(HasRecord(result, ODBC_ERROR_WRITING_SYSINFO_FAILED,
                          "Cannot open " + sandbox_.OdbcIniPath() + " for writing: Permission denied"))
        << result.output;
    EXPECT_EQ(sandbox_.ReadOdbcIni(), kExistingFile);
}

TEST_F(PermissionTest, AReadOnlyFolderIsRefused) {
    sandbox_.WriteOdbcIni(kExistingFile);
    ASSERT_EQ(chmod(sandbox_.OdbcIniPath().c_str(), 0666), 0);
    ASSERT_EQ(chmod(sandbox_.Dir().c_str(), 0555), 0);

    const ClientResult result = AddAsNobody();

    EXPECT_FALSE(result.succeeded) << result.output;
    EXPECT_TRUE(HasRecord(result, ODBC_ERROR_WRITING_SYSINFO_FAILED,
                          "Cannot open the lock file " + sandbox_.Dir() + "/.odbc.ini.lock"))
        << result.output;
    EXPECT_TRUE(HasRecord(result, ODBC_ERROR_WRITING_SYSINFO_FAILED, "Permission denied")) << result.output;
    EXPECT_EQ(sandbox_.ReadOdbcIni(), kExistingFile);
}

TEST_F(ConfigDsnTest, AUserDataSourceInAMissingFolderIsRefused) {
    const std::string missing = sandbox_.Dir() + "/missing";
    const ClientResult result =
        ConfigDataSource(sandbox_, ODBC_ADD_DSN, {"DSN=Mine", "DBQ=/srv/m.mdb"}, {{"ODBCINI", missing + "/odbc.ini"}});
    EXPECT_FALSE(result.succeeded) << result.output;
    EXPECT_TRUE(HasRecord(result, ODBC_ERROR_WRITING_SYSINFO_FAILED, missing + " (the folder does not exist)"))
        << result.output;
    EXPECT_NE(access(missing.c_str(), F_OK), 0);
}

TEST_F(ConfigDsnTest, AUserDataSourceGoesToTheUsersFile) {
    const std::string userFile = sandbox_.Dir() + "/user.ini";
    const ClientResult result =
        ConfigDataSource(sandbox_, ODBC_ADD_DSN, {"DSN=Mine", "DBQ=/srv/m.mdb"}, {{"ODBCINI", userFile}});
    ASSERT_TRUE(result.succeeded) << result.output;
    EXPECT_EQ(ReadFile(userFile),
              "[Mine]\nDriver=Microsoft Access Driver (*.mdb)\nDSN=Mine\nDBQ=/srv/m.mdb\nDatabase=/srv/m.mdb\n");
    EXPECT_EQ(sandbox_.ReadOdbcIni(), "");
    struct stat status {};
    ASSERT_EQ(stat(userFile.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
}

} // namespace
} // namespace tarnwick::testing
