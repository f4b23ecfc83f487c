// The Debian package as dpkg would see it: its files, its control fields, and
// its maintainer scripts run against sandbox ODBC directories (ODBCSYSINI), so
// the machine's own /etc is never touched.

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sql.h>
#include <odbcinst.h>

#include "odbc_sandbox.h"

namespace {

using tarnwick::testing::CommandResult;
using tarnwick::testing::FixturePath;
using tarnwick::testing::OdbcSandbox;
using tarnwick::testing::ReadFile;
using tarnwick::testing::RunCommand;
using tarnwick::testing::RunIsql;
using tarnwick::testing::WriteFile;

namespace fs = std::filesystem;

constexpr const char* kDriverName = "Microsoft Access Driver (*.mdb)";

std::string PackagePath() {
    for (const auto& entry : fs::directory_iterator(TARNWICK_PACKAGE_DIR)) {
        if (entry.path().extension() == ".deb") {
            return entry.path().string();
        }
    }
    throw std::runtime_error("no .deb in " TARNWICK_PACKAGE_DIR);
}

std::string MustRun(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {}) {
    const CommandResult result = RunCommand(argv, env);
    if (result.exitCode != 0) {
        throw std::runtime_error(argv[0] + " failed (" + std::to_string(result.exitCode) + "): " + result.output);
    }
    return result.output;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// File names of the package's data archive, as "./usr/..." paths.
std::vector<std::string> PackageFiles() {
    std::vector<std::string> files;
    for (const auto& line : Lines(MustRun({"dpkg-deb", "-c", PackagePath()}))) {
        // "perms owner size date time ./path"
        const auto at = line.find(" ./");
        if (at != std::string::npos) {
            files.push_back(line.substr(at + 1));
        }
    }
    return files;
}

// The keys of one section of an ini text, as unixODBC's tools print it; no
// value when the section is absent.
std::optional<std::map<std::string, std::string>> Section(const std::string& text, const std::string& name) {
    std::optional<std::map<std::string, std::string>> keys;
    bool inside = false;
    for (const auto& line : Lines(text)) {
        if (!line.empty() && line.front() == '[') {
            inside = line == "[" + name + "]";
            if (inside) {
                if (keys) {
                    throw std::runtime_error("section [" + name + "] appears twice");
                }
                keys.emplace();
            }
            continue;
        }
        const auto eq = line.find('=');
        if (inside && eq != std::string::npos) {
            (*keys)[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return keys;
}

// The package unpacked once per test process: files under Root(), control
// files (maintainer scripts) under Control().
class UnpackedPackage : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        scratch_ = new OdbcSandbox(OdbcSandbox::Driver::NotRegistered);
        fs::create_directories(Root());
        MustRun({"dpkg-deb", "-x", PackagePath(), Root()});
        MustRun({"dpkg-deb", "-e", PackagePath(), Control()});
    }
    static void TearDownTestSuite() {
        delete scratch_;
        scratch_ = nullptr;
    }

    static std::string Root() { return scratch_->Dir() + "/root"; }
    static std::string Control() { return scratch_->Dir() + "/control"; }
    static std::string Field(const std::string& name) {
        std::string value = MustRun({"dpkg-deb", "-f", PackagePath(), name});
        while (!value.empty() && value.back() == '\n') {
            value.pop_back();
        }
        return value;
    }
    static std::map<std::string, std::string> InstalledEntry() {
        return Section(ReadFile(Root() + "/usr/share/tarnwick/odbcinst-entry.ini"), kDriverName).value();
    }

private:
    static inline OdbcSandbox* scratch_ = nullptr;
};

struct ExpectedFile {
    const char* name;
    const char* pattern; // matched against whole "./usr/..." paths
    bool needsUi;
};

void PrintTo(const ExpectedFile& file, std::ostream* out) { *out << file.name; }

class PackageContents : public UnpackedPackage, public ::testing::WithParamInterface<ExpectedFile> {};

TEST_P(PackageContents, HoldsFile) {
    if (GetParam().needsUi && !TARNWICK_WITH_UI) {
        GTEST_SKIP() << "built without the window";
    }
    const std::regex pattern(GetParam().pattern);
    const auto files = PackageFiles();
    EXPECT_TRUE(std::any_of(files.begin(), files.end(), [&](const auto& f) { return std::regex_match(f, pattern); }))
        << "no file matches " << GetParam().pattern;
}

INSTANTIATE_TEST_SUITE_P(
    Files, PackageContents,
    ::testing::Values(
        ExpectedFile{"Program", R"(\./usr/bin/tarnwick)", true},
        ExpectedFile{"SetupLibrary", R"(\./usr/lib/)" TARNWICK_MULTIARCH R"(/odbc/libtarnwick-mdbsetup\.so)", false},
        ExpectedFile{"Driver", R"(\./usr/lib/)" TARNWICK_MULTIARCH R"(/odbc/libtarnwick-mdbodbc\.so)", false},
        ExpectedFile{"DriverEntry", R"(\./usr/share/tarnwick/odbcinst-entry\.ini)", false},
        ExpectedFile{"DesktopEntry", R"(\./usr/share/applications/[^/]+\.desktop)", true},
        ExpectedFile{"Metainfo", R"(\./usr/share/metainfo/[^/]+\.metainfo\.xml)", true},
        ExpectedFile{"Icon", R"(\./usr/share/icons/hicolor/[^/]+/apps/[^/]+\.(png|svg))", true},
        ExpectedFile{"Copyright", R"(\./usr/share/doc/tarnwick/copyright)", false},
        ExpectedFile{"Changelog", R"(\./usr/share/doc/tarnwick/changelog\.Debian\.gz)", false},
        ExpectedFile{"ManualPage", R"(\./usr/share/man/man1/tarnwick\.1\.gz)", false},
        ExpectedFile{"SystemDsnHelper", R"(\./usr/libexec/tarnwick/tarnwick-system-dsn)", false},
        ExpectedFile{"PolkitAction", R"(\./usr/share/polkit-1/actions/io\.github\.tarnwick\.Tarnwick\.policy)", false}),
    [](const auto& info) { return std::string(info.param.name); });

// package.build makes the package under umask 0002: whatever the builder's
// umask, folders are 0755 and files 0644 or 0755, all owned by root, as dpkg
// installs them (a group-writable /usr/libexec/tarnwick would let a group
// swap the helper that runs as root).
TEST(PackageModes, FoldersAre0755AndFiles0644Or0755OwnedByRoot) {
    std::vector<std::string> wrong;
    int entries = 0;
    for (const auto& line : Lines(MustRun({"dpkg-deb", "-c", PackagePath()}))) {
        // "drwxr-xr-x root/root 0 2026-01-01 00:00 ./usr/"
        std::istringstream fields(line);
        std::string mode, owner;
        fields >> mode >> owner;
        const auto at = line.find(" ./");
        const std::string path = at == std::string::npos ? line : line.substr(at + 1);
        ++entries;
        const bool fits = mode.front() == 'd'   ? mode == "drwxr-xr-x"
                          : mode.front() == '-' ? mode == "-rw-r--r--" || mode == "-rwxr-xr-x"
                                                : mode.front() == 'l';
        if (!fits || owner != "root/root") {
            wrong.push_back(mode + " " + owner + " " + path);
        }
    }
    EXPECT_GT(entries, 10);
    EXPECT_TRUE(wrong.empty()) << ::testing::PrintToString(wrong);
}

TEST_F(UnpackedPackage, InstallsOnlyUnderUsrAndNoConfigurationFile) {
    // odbcinst.ini belongs to unixODBC's packages: the driver is registered by
    // the maintainer scripts, never by shipping /etc files.
    for (const auto& file : PackageFiles()) {
        EXPECT_TRUE(file == "./" || file.starts_with("./usr/")) << file;
        EXPECT_FALSE(file.starts_with("./usr/local")) << file;
        // Who may act without a password is the site's polkit rules' call.
        EXPECT_FALSE(file.ends_with(".rules")) << file;
    }
}

TEST_F(UnpackedPackage, ControlFieldsNameTheRuntimeDependencies) {
    EXPECT_EQ(Field("Package"), "tarnwick");
    const std::string depends = Field("Depends");
    for (const std::string needed :
         {"unixodbc", "libsqliteodbc", "libsqlite3-0", "libmdb3", "libodbcinst2", "pkexec"}) {
        // Debian 13 renamed libraries whose interface has a time_t in it (libmdb3t64).
        EXPECT_TRUE(std::regex_search(depends, std::regex("(^|, )" + needed + "(t64)?( |,|$)")))
            << needed << " missing from " << depends;
    }
    if (TARNWICK_WITH_UI) {
        EXPECT_NE(depends.find("libqt6widgets6"), std::string::npos) << depends;
        EXPECT_EQ(Field("Recommends"), "qt6-wayland");
    }
}

// Debian's ODBC drivers live in the multiarch ODBC folder; the entry and the
// maintainer scripts, which recognise our own registration by its Setup=
// path, must both name the library there.
TEST_F(UnpackedPackage, DriverEntryNamesInstalledLibrariesByAbsolutePath) {
    const auto entry = InstalledEntry();
    const std::string driver = entry.at("Driver");
    EXPECT_EQ(driver, "/usr/lib/" TARNWICK_MULTIARCH "/odbc/libtarnwick-mdbodbc.so");
    EXPECT_TRUE(fs::is_regular_file(Root() + driver)) << driver << " is not in the package";
    const std::string setup = entry.at("Setup");
    EXPECT_EQ(setup, "/usr/lib/" TARNWICK_MULTIARCH "/odbc/libtarnwick-mdbsetup.so");
    EXPECT_TRUE(fs::is_regular_file(Root() + setup)) << setup << " is not in the package";
    for (const std::string script : {"postinst", "prerm", "postrm"}) {
        EXPECT_NE(ReadFile(Control() + "/" + script).find("setup_library='" + setup + "'"), std::string::npos)
            << script;
    }
}

bool IsElfFile(const fs::path& path) {
    if (!fs::is_regular_file(path) || fs::is_symlink(path)) {
        return false;
    }
    return ReadFile(path.string())
        .starts_with("\x7f"
                     "ELF");
}

template <typename DirectoryIterator> std::vector<std::string> ElfFiles(DirectoryIterator files) {
    std::vector<std::string> elfFiles;
    for (const auto& entry : files) {
        if (IsElfFile(entry.path())) {
            elfFiles.push_back(entry.path().string());
        }
    }
    return elfFiles;
}

// The folders of a file's RUNPATH and RPATH, as `readelf -d` prints them.
std::vector<std::string> SearchPath(const std::string& file) {
    const CommandResult dynamic = RunCommand({"readelf", "-d", file});
    EXPECT_EQ(dynamic.exitCode, 0) << dynamic.output;
    std::vector<std::string> folders;
    static const std::regex entry(R"(\((RUNPATH|RPATH)\)\s+Library r(un)?path: \[([^\]]*)\])");
    for (std::sregex_iterator match(dynamic.output.begin(), dynamic.output.end(), entry), end; match != end; ++match) {
        std::stringstream list((*match)[3].str());
        for (std::string folder; std::getline(list, folder, ':');) {
            folders.push_back(folder);
        }
        if ((*match)[3].str().empty() || (*match)[3].str().back() == ':') {
            folders.emplace_back();
        }
    }
    return folders;
}

// An empty entry in a library search path means the current directory: a
// program started from a folder that holds a library of the same name as one
// it needs would load that one. Neither the packaged files nor the build
// tree's programs and libraries (what scripts/run.sh starts) may have one.
TEST_F(UnpackedPackage, NoElfFileSearchesTheCurrentDirectoryForLibraries) {
    std::vector<std::string> elfFiles = ElfFiles(fs::recursive_directory_iterator(Root()));
    const std::vector<std::string> built = ElfFiles(fs::directory_iterator(TARNWICK_BUILD_DIR));
    ASSERT_FALSE(elfFiles.empty()) << "no ELF file in the package";
    ASSERT_FALSE(built.empty()) << "no ELF file in " TARNWICK_BUILD_DIR;
    elfFiles.insert(elfFiles.end(), built.begin(), built.end());
    for (const auto& file : elfFiles) {
        for (const auto& folder : SearchPath(file)) {
            EXPECT_TRUE(folder.starts_with("/") || folder.starts_with("$ORIGIN"))
                << file << " searches \"" << folder << "\" for libraries";
        }
    }
}

// What runs as root stays small: the helper needs the request format and the
// installer, never the window's toolkit.
TEST_F(UnpackedPackage, PrivilegedHelperLoadsNoQt) {
    const CommandResult dynamic = RunCommand({"readelf", "-d", Root() + "/usr/libexec/tarnwick/tarnwick-system-dsn"});
    ASSERT_EQ(dynamic.exitCode, 0) << dynamic.output;
    EXPECT_NE(dynamic.output.find("(NEEDED)"), std::string::npos) << dynamic.output;
    EXPECT_EQ(dynamic.output.find("libQt"), std::string::npos) << dynamic.output;
}

// Whether this release's hardening-check has an option (Debian 13's added
// --nobranchprotection; Debian 12's would refuse it as unknown).
bool HardeningCheckHasOption(const std::string& option) {
    return RunCommand({"hardening-check", "--help"}).output.find(option) != std::string::npos;
}

// hardening-check's verdict on one file. Some of its checks are judged as this
// release's hardening policy does: control flow protection only where a
// program built with it has it (the C start files of Debian 12 and 13 carry
// none); branch protection, an AArch64 feature that Debian 13's hardening-check
// asks for on every architecture, only where the build flags ask for it; and
// "only unprotected functions found" is no fault in itself, since fortified
// calls that the compiler proves safe are left unchecked, so that file must
// pass every other check.
CommandResult HardeningCheck(const std::string& file) {
    static const bool knowsBranchProtection = HardeningCheckHasOption("--nobranchprotection");
    std::vector<std::string> argv{"hardening-check", "--verbose"};
    if (!TARNWICK_REQUIRE_CF_PROTECTION) {
        argv.push_back("--nocfprotection");
    }
    if (!TARNWICK_REQUIRE_BRANCH_PROTECTION && knowsBranchProtection) {
        argv.push_back("--nobranchprotection");
    }
    argv.push_back(file);
    CommandResult result = RunCommand(argv);
    if (result.exitCode != 0 &&
        result.output.find("Fortify Source functions: no, only unprotected functions found!") != std::string::npos) {
        argv.insert(argv.begin() + 1, "--nofortify");
        CommandResult again = RunCommand(argv);
        again.output = result.output + again.output;
        return again;
    }
    return result;
}

// Every ELF file in the package, found by its magic bytes rather than listed,
// passes Debian's hardening-check (PIE, stack protector, fortified calls,
// read-only relocations bound at start-up).
TEST_F(UnpackedPackage, EveryElfFilePassesHardeningCheck) {
    if (!TARNWICK_HARDENED) {
        GTEST_SKIP() << "built without the hardening flags (sanitized, fuzzing or TARNWICK_HARDENING=OFF)";
    }
    const std::vector<std::string> elfFiles = ElfFiles(fs::recursive_directory_iterator(Root()));
    ASSERT_FALSE(elfFiles.empty()) << "no ELF file in the package";
    for (const auto& file : elfFiles) {
        const CommandResult check = HardeningCheck(file);
        EXPECT_EQ(check.exitCode, 0) << check.output;
    }
}

// A sandbox ODBC directory with another driver and a few data sources, as a
// machine that already uses ODBC has them.
class MaintainerScripts : public UnpackedPackage {
protected:
    static constexpr const char* kOtherDrivers = "[PostgreSQL Unicode]\nDescription=PostgreSQL ODBC driver (Unicode)\n"
                                                 "Driver=psqlodbcw.so\nSetup=libodbcpsqlS.so\nUsageCount=2\n\n"
                                                 "[SQLite3]\nDriver=libsqlite3odbc.so\nUsageCount=1\n";
    static constexpr const char* kDataSources =
        "; data sources of this machine\n[Sales]\nDriver=Microsoft Access Driver (*.mdb)\n"
        "Database=/srv/sales.mdb\n\n[Orders]\nDriver=PostgreSQL Unicode\nServername=db\n";

    void SetUp() override {
        sandbox_.emplace(OdbcSandbox::Driver::NotRegistered);
        WriteFile(sandbox_->OdbcinstIniPath(), kOtherDrivers);
        sandbox_->WriteOdbcIni(kDataSources);
    }

    // Runs a maintainer script the way dpkg does, against the sandbox.
    void RunScript(const std::string& script, const std::string& argument) {
        const CommandResult result =
            RunCommand({Control() + "/" + script, argument},
                       {{"ODBCSYSINI", sandbox_->Dir()}, {"DPKG_ROOT", Root()}, {"DPKG_MAINTSCRIPT_NAME", script}});
        ASSERT_EQ(result.exitCode, 0) << script << " " << argument << ": " << result.output;
    }

    std::string Drivers() const { return ReadFile(sandbox_->OdbcinstIniPath()); }
    std::optional<std::map<std::string, std::string>> Registered() const { return Section(Drivers(), kDriverName); }

    void ExpectOthersUntouched() const {
        const std::string drivers = Drivers();
        EXPECT_EQ(Section(drivers, "PostgreSQL Unicode"), Section(kOtherDrivers, "PostgreSQL Unicode"));
        EXPECT_EQ(Section(drivers, "SQLite3"), Section(kOtherDrivers, "SQLite3"));
        EXPECT_EQ(sandbox_->ReadOdbcIni(), kDataSources);
    }

    std::optional<OdbcSandbox> sandbox_;
};

TEST_F(MaintainerScripts, ConfigureRegistersTheDriverBesideTheOthers) {
    RunScript("postinst", "configure");
    auto expected = InstalledEntry();
    expected["UsageCount"] = "1";
    EXPECT_EQ(Registered(), expected);
    ExpectOthersUntouched();
    // odbcinst reads the registration back.
    const CommandResult query = RunCommand({"odbcinst", "-q", "-d"}, sandbox_->Environment());
    EXPECT_NE(query.output.find(std::string("[") + kDriverName + "]"), std::string::npos) << query.output;
}

TEST_F(MaintainerScripts, ConfiguringAgainLeavesOneRegistrationThatOneRemovalTakesAway) {
    RunScript("postinst", "configure");
    RunScript("postinst", "configure");
    RunScript("postinst", "configure");
    ASSERT_TRUE(Registered());
    EXPECT_EQ(Registered()->at("UsageCount"), "1");
    RunScript("prerm", "remove");
    EXPECT_FALSE(Registered());
    ExpectOthersUntouched();
}

TEST_F(MaintainerScripts, ConfigureReplacesAStaleRegistrationOfTheSameName) {
    WriteFile(sandbox_->OdbcinstIniPath(), std::string(kOtherDrivers) + "\n[" + kDriverName +
                                               "]\nDriver=/opt/old/libmdbodbc.so\nSetup=/opt/old/setup.so\n"
                                               "FileUsage=1\nUsageCount=3\n");
    RunScript("postinst", "configure");
    auto expected = InstalledEntry();
    expected["UsageCount"] = "1";
    EXPECT_EQ(Registered(), expected);
    ExpectOthersUntouched();
}

// Tarnwick 1.0 registered mdbtools' driver itself as Driver=; configuring the
// new version points the same entry at the driver in front of it.
TEST_F(MaintainerScripts, ConfigureUpdatesAnEarlierRegistrationOfOurs) {
    WriteFile(sandbox_->OdbcinstIniPath(), std::string(kOtherDrivers) + "\n[" + kDriverName +
                                               "]\nDriver=" + TARNWICK_MDB_DRIVER +
                                               "\nSetup=" + InstalledEntry().at("Setup") + "\nUsageCount=1\n");
    RunScript("postinst", "configure");
    ASSERT_TRUE(Registered());
    EXPECT_EQ(Registered()->at("Driver"), InstalledEntry().at("Driver"));
    EXPECT_EQ(Registered()->at("UsageCount"), "1");
    ExpectOthersUntouched();
    RunScript("prerm", "remove");
    EXPECT_FALSE(Registered());
}

TEST_F(MaintainerScripts, RemovalLeavesAnEntryPointedAtAnotherSetupLibrary) {
    const std::string foreign = std::string(kOtherDrivers) + "\n[" + kDriverName +
                                "]\nDriver=/opt/vendor/libaccess.so\nSetup=/opt/vendor/setup.so\n";
    WriteFile(sandbox_->OdbcinstIniPath(), foreign);
    RunScript("prerm", "remove");
    RunScript("postrm", "purge");
    EXPECT_EQ(Drivers(), foreign);
}

struct ScriptStep {
    const char* name;
    const char* script;
    const char* argument;
    bool staysRegistered;
};

void PrintTo(const ScriptStep& step, std::ostream* out) { *out << step.script << ' ' << step.argument; }

class MaintainerScriptSteps : public MaintainerScripts, public ::testing::WithParamInterface<ScriptStep> {};

TEST_P(MaintainerScriptSteps, KeepOrDropTheRegistrationAndNeverTheDataSources) {
    RunScript("postinst", "configure");
    RunScript(GetParam().script, GetParam().argument);
    EXPECT_EQ(Registered().has_value(), GetParam().staysRegistered);
    ExpectOthersUntouched();
}

INSTANTIATE_TEST_SUITE_P(Steps, MaintainerScriptSteps,
                         ::testing::Values(ScriptStep{"PrermUpgrade", "prerm", "upgrade", true},
                                           ScriptStep{"PrermFailedUpgrade", "prerm", "failed-upgrade", true},
                                           ScriptStep{"PrermRemove", "prerm", "remove", false},
                                           ScriptStep{"PostrmUpgrade", "postrm", "upgrade", true},
                                           ScriptStep{"PostrmRemove", "postrm", "remove", false},
                                           ScriptStep{"PostrmPurge", "postrm", "purge", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MaintainerScripts, PurgeAfterRemoveSucceedsWithNothingLeftToDo) {
    RunScript("postinst", "configure");
    RunScript("prerm", "remove");
    const std::string afterRemove = Drivers();
    RunScript("postrm", "remove");
    RunScript("postrm", "purge");
    EXPECT_EQ(Drivers(), afterRemove);
    ExpectOthersUntouched();
}

// The packaged setup library, loaded by the real installer through an entry
// that points into the unpacked package, stores a data source that isql opens
// through the packaged driver.
TEST_F(UnpackedPackage, PackagedSetupLibraryCreatesAWorkingDataSource) {
    OdbcSandbox sandbox(OdbcSandbox::Driver::NotRegistered);
    const auto entry = InstalledEntry();
    WriteFile(sandbox.OdbcinstIniPath(), std::string("[") + kDriverName + "]\nDriver=" + Root() + entry.at("Driver") +
                                             "\nSetup=" + Root() + entry.at("Setup") + "\n");
    sandbox.Export();

    const std::string attributes =
        std::string("DSN=PackagedDates") + '\0' + "DBQ=" + FixturePath("dates.mdb") + '\0' + '\0';
    const BOOL ok = SQLConfigDataSource(nullptr, ODBC_ADD_SYS_DSN, kDriverName, attributes.c_str());
    DWORD code = 0;
    char message[SQL_MAX_MESSAGE_LENGTH] = "";
    WORD length = 0;
    SQLInstallerError(1, &code, message, sizeof message, &length);
    ASSERT_TRUE(ok) << "installer error " << code << ": " << message;

    const CommandResult query = RunIsql(sandbox, "PackagedDates", "SELECT * FROM DateTest\n");
    EXPECT_EQ(query.exitCode, 0) << query.output;
    EXPECT_NE(query.output.find("6 rows fetched"), std::string::npos) << query.output;
}

} // namespace
