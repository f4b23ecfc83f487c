// The built privileged helper, run directly against a sandbox (not root
// through pkexec, so it honours ODBCSYSINI) with hostile standard input.
#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/ioprio.h>
#include <pwd.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "dsn/attribute_list.h"
#include "dsn/create_dsn.h"
#include "system_dsn_client/system_dsn_request.h"
#include "odbc_sandbox.h"

namespace {

using namespace std::string_literals;
using tarnwick::testing::CommandResult;
using tarnwick::testing::FixturePath;
using tarnwick::testing::FolderEntries;
using tarnwick::testing::OdbcSandbox;
using tarnwick::testing::RunCommand;

const std::string Helper = TARNWICK_HELPER_BUILT;
// The same helper built to end by its alarm after two seconds instead of sixty.
const std::string QuickAlarmHelper = TARNWICK_QUICK_ALARM_HELPER_BUILT;

const std::string KeptSources = "# kept by every refusal\n"
                                "[Kept]\n"
                                "Driver=Microsoft Access Driver (*.mdb)\n"
                                "Database=/srv/kept.mdb\n";

// The attribute list exactly as the window builds it.
std::string Attributes(const std::string& dsnName) {
    const std::vector<char> list = dsn::BuildAttributeList(dsnName.c_str(), "dates.mdb", "");
    return std::string(list.data(), dsn::AttributeListLength(list.data()));
}

// The window's list with more entries before its final empty one.
std::string AttributesWith(const std::string& more) {
    std::string list = Attributes("Extra");
    return list.insert(list.size() - 1, more);
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
        Piped("SetupLibraryRefuses", Encoded(GoodRequest("bad[name")), 1, "bad[name"),
        Piped("DriverManagerEnvironment",
              Encoded(With(GoodRequest(), &dsn::SystemDsnRequest::attributes,
                           AttributesWith("DMEnvAttr=SQL_ATTR_UNIXODBC_ENVATTR={LD_PRELOAD=/tmp/x.so}\0"s))),
              2, "the key \"DMEnvAttr\" is not accepted"),
        Piped("DriverManagerConnectionInAnyCase",
              Encoded(With(GoodRequest(), &dsn::SystemDsnRequest::attributes, AttributesWith("dmconnattr=x\0"s))), 2,
              "the key \"dmconnattr\" is not accepted"),
        Piped("DriverManagerStatement",
              Encoded(With(GoodRequest(), &dsn::SystemDsnRequest::attributes, AttributesWith("DMStmtAttr=x\0"s))), 2,
              "the key \"DMStmtAttr\" is not accepted"),
        Piped("DriverLibrary",
              Encoded(With(GoodRequest(), &dsn::SystemDsnRequest::attributes, AttributesWith("Driver=/tmp/x.so\0"s))),
              2, "the key \"Driver\" is not accepted"),
        Piped("DatabaseOfItsOwn",
              Encoded(With(GoodRequest(), &dsn::SystemDsnRequest::attributes,
                           AttributesWith("Database=/etc/shadow\0"s))),
              2, "the key \"Database\" is not accepted"),
        Piped("AllowedKeyInOtherCase",
              Encoded(With(GoodRequest(), &dsn::SystemDsnRequest::attributes, "dsn=Lower\0DBQ=dates.mdb\0\0"s)), 2,
              "the key \"dsn\" is not accepted"),
        Piped("AllowedKeyTwice",
              Encoded(With(GoodRequest(), &dsn::SystemDsnRequest::attributes, AttributesWith("DBQ=other.mdb\0"s))), 2,
              "the key DBQ appears more than once"),
        Piped("EntryWithoutEquals",
              Encoded(With(GoodRequest(), &dsn::SystemDsnRequest::attributes, AttributesWith("Trace\0"s))), 2,
              "has no '='"),
        Piped("ControlCharactersQuotedSafely",
              Encoded(With(GoodRequest(), &dsn::SystemDsnRequest::attributes, AttributesWith("A\x1b[2J=x\0"s))), 2,
              "the key \"A?[2J\" is not accepted"),
        Piped("FallbackName", Encoded(GoodRequest("default")), 1, "reserved"),
        Piped("DataSourceListName", Encoded(GoodRequest("ODBC Data Sources")), 1, "reserved")),
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

    const CommandResult result = RunCommand({Helper}, sandbox.Environment(),
                                            Encoded(With(GoodRequest(), &dsn::SystemDsnRequest::directory, folder)));

    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_NE(result.output.find("Database"), std::string::npos) << result.output;
    EXPECT_EQ(sandbox.ReadOdbcIni(), KeptSources);
}

// Whether this process may raise a hard resource limit (root with
// CAP_SYS_RESOURCE; containers often take that capability away).
bool CanRaiseHardLimits() {
    const pid_t child = fork();
    if (child == 0) {
        rlimit limit{8192, 8192};
        _exit(setrlimit(RLIMIT_FSIZE, &limit) == 0 &&
                      (limit = {RLIM_INFINITY, RLIM_INFINITY}, setrlimit(RLIMIT_FSIZE, &limit) == 0)
                  ? 0
                  : 1);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The caller's file size limit reaches the helper through pkexec. Root raises
// it again; where it cannot, the write fails cleanly. Either way
// the helper is not killed half-way, and no copy of odbc.ini is left behind.
TEST(Helper, ACallersFileSizeLimitNeitherKillsItNorLeavesACopy) {
    OdbcSandbox sandbox;
    std::string large = KeptSources;
    for (int i = 0; i < 400; ++i) {
        large += "[Filler" + std::to_string(i) + "]\nDriver=Microsoft Access Driver (*.mdb)\nDatabase=/srv/f.mdb\n";
    }
    sandbox.WriteOdbcIni(large);
    const auto before = FolderEntries(sandbox.Dir());

    const CommandResult result =
        RunCommand({"sh", "-c", "ulimit -f 8; exec \"$0\"", Helper}, sandbox.Environment(), Encoded(GoodRequest()));

    const auto answer = dsn::DecodeAnswer(result.output);
    ASSERT_TRUE(answer) << "exit " << result.exitCode << ": " << result.output;
    if (CanRaiseHardLimits()) {
        EXPECT_EQ(result.exitCode, 0) << result.output;
        EXPECT_TRUE(answer->created);
        EXPECT_EQ(sandbox.ReadOdbcIni().rfind(large, 0), 0u);
    } else {
        EXPECT_EQ(result.exitCode, 1) << result.output;
        ASSERT_FALSE(answer->records.empty());
        EXPECT_NE(answer->records.front().message.find("File too large"), std::string::npos)
            << answer->records.front().message;
        EXPECT_EQ(sandbox.ReadOdbcIni(), large);
    }
    EXPECT_EQ(FolderEntries(sandbox.Dir()), before) << "a temporary copy was left behind";
}

struct RootRun {
    int exitCode = -1;
    std::optional<dsn::SystemDsnAnswer> answer;
    std::string etcOdbcIni;
    std::string output;
};

// Runs the helper as pkexec would: root, PKEXEC_UID naming the caller (here
// nobody), in a private mount namespace whose /etc is an overlay, so the
// system files it writes are the namespace's and the host's stay untouched.
RootRun RunAsRootForNobody(const OdbcSandbox& sandbox, const dsn::SystemDsnRequest& request) {
    auto environment = sandbox.Environment();
    environment["ODBCINSTINI"] = "odbcinst.ini";
    environment["PKEXEC_UID"] = std::to_string(getpwnam("nobody")->pw_uid);
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
                   environment, Encoded(request));
    RootRun run{result.exitCode, std::nullopt, "", result.output};
    const std::string separator = "--- /etc/odbc.ini\n";
    if (const auto at = result.output.find(separator); at != std::string::npos) {
        run.answer = dsn::DecodeAnswer(std::string_view(result.output).substr(0, at));
        run.etcOdbcIni = result.output.substr(at + separator.size());
    }
    return run;
}

// Started by pkexec, the helper is root with PKEXEC_UID set, and the system
// files are /etc's whatever ODBCSYSINI or ODBCINSTINI say: it writes the
// namespace's /etc/odbc.ini and leaves the sandbox those variables name alone.
TEST(Helper, AsRootThroughPkexecIgnoresTheCallersOdbcFolders) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root for a private /etc";
    }
    OdbcSandbox sandbox;
    sandbox.WriteOdbcIni(KeptSources);
    const RootRun run =
        RunAsRootForNobody(sandbox, With(GoodRequest("RootMade"), &dsn::SystemDsnRequest::directory, "/"));

    EXPECT_EQ(run.exitCode, 0) << run.output;
    ASSERT_TRUE(run.answer) << run.output;
    EXPECT_TRUE(run.answer->created);
    EXPECT_NE(run.etcOdbcIni.find("[RootMade]\n"), std::string::npos) << run.output;
    EXPECT_EQ(sandbox.ReadOdbcIni(), KeptSources);
}

// Root could enter every folder and resolve every link; the helper enters the
// caller's directory as the caller, so what it stores and what it refuses
// tell no more than the caller could see: a folder inside one that only root
// may enter is refused alike whether it exists or not, and so is a link to it,
// and so is the current directory of a root process through /proc (which
// only root's capabilities could follow) and any name inside it.
struct CallerDirectoryCase {
    const char* name;
    // Under a fresh folder: "/open" (0755) and "/closed" (0700) holding
    // "/inside" (0755, holding "/file"); or, starting with "<cwd>", under
    // /proc/PID/cwd of a root process sitting in "/closed/inside".
    std::string directory;
    std::string stored; // the Database= written, or empty for a refusal
    friend void PrintTo(const CallerDirectoryCase& c, std::ostream* os) { *os << c.name; }
};

// A root process that sits in `folder` until it is dropped.
class ProcessSittingIn {
public:
    explicit ProcessSittingIn(const std::string& folder) {
        int ready[2];
        if (pipe(ready) != 0) {
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            if (chdir(folder.c_str()) != 0 || write(ready[1], "x", 1) != 1) {
                _exit(1);
            }
            for (;;) {
                pause();
            }
        }
        close(ready[1]);
        char byte = 0;
        settled_ = pid_ > 0 && read(ready[0], &byte, 1) == 1;
        close(ready[0]);
    }
    ProcessSittingIn(const ProcessSittingIn&) = delete;
    ProcessSittingIn& operator=(const ProcessSittingIn&) = delete;
    ~ProcessSittingIn() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool Settled() const { return settled_; }
    std::string CurrentDirectoryLink() const { return "/proc/" + std::to_string(pid_) + "/cwd"; }

private:
    pid_t pid_ = -1;
    bool settled_ = false;
};

class HelperAsCaller : public ::testing::TestWithParam<CallerDirectoryCase> {};

TEST_P(HelperAsCaller, ResolvesTheDirectoryWithTheCallersRights) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to act for another user";
    }
    OdbcSandbox sandbox;
    std::string top = "/tmp/tarnwick-caller-XXXXXX";
    ASSERT_NE(mkdtemp(top.data()), nullptr);
    ASSERT_EQ(chmod(top.c_str(), 0755), 0);
    for (const auto& [folder, mode] : {std::pair{"/open", 0755}, {"/closed", 0700}, {"/closed/inside", 0755}}) {
        ASSERT_EQ(mkdir((top + folder).c_str(), static_cast<mode_t>(mode)), 0);
        ASSERT_EQ(chmod((top + folder).c_str(), static_cast<mode_t>(mode)), 0);
    }
    ASSERT_EQ(symlink((top + "/closed/inside").c_str(), (top + "/open/link").c_str()), 0);
    tarnwick::testing::WriteFile(top + "/closed/inside/file", "");
    const ProcessSittingIn sitter(top + "/closed/inside");
    ASSERT_TRUE(sitter.Settled());
    std::string directory = GetParam().directory;
    const std::string_view cwd = "<cwd>";
    directory =
        directory.rfind(cwd, 0) == 0 ? sitter.CurrentDirectoryLink() + directory.substr(cwd.size()) : top + directory;

    const RootRun run =
        RunAsRootForNobody(sandbox, With(GoodRequest("AsCaller"), &dsn::SystemDsnRequest::directory, directory));
    std::filesystem::remove_all(top);

    ASSERT_TRUE(run.answer) << run.output;
    if (GetParam().stored.empty()) {
        EXPECT_EQ(run.exitCode, 2) << run.output;
        ASSERT_EQ(run.answer->records.size(), 1u);
        EXPECT_NE(run.answer->records[0].message.find("Permission denied"), std::string::npos)
            << run.answer->records[0].message;
        EXPECT_EQ(run.etcOdbcIni, "");
    } else {
        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_NE(run.etcOdbcIni.find("Database=" + top + GetParam().stored + "\n"), std::string::npos)
            << run.etcOdbcIni;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Directories, HelperAsCaller,
    ::testing::Values(CallerDirectoryCase{"ReadableFolder", "/open", "/open/dates.mdb"},
                      CallerDirectoryCase{"FolderBehindRootOnlyFolder", "/closed/inside", ""},
                      CallerDirectoryCase{"MissingFolderBehindRootOnlyFolder", "/closed/missing", ""},
                      CallerDirectoryCase{"LinkIntoRootOnlyFolder", "/open/link", ""},
                      CallerDirectoryCase{"RootProcessDirectoryBehindRootOnlyFolder", "<cwd>", ""},
                      CallerDirectoryCase{"MissingFolderInRootProcessDirectory", "<cwd>/missing", ""},
                      CallerDirectoryCase{"FileInRootProcessDirectory", "<cwd>/file", ""}),
    [](const auto& info) { return std::string(info.param.name); });

// pkexec keeps its caller's signal mask, ignored signals, scheduling policy,
// CPU affinity, I/O priority and timer slack across exec. A helper started by
// a caller that set them all up to hold it back, its standard input open and
// empty, so that it waits for its request.
constexpr unsigned long CallersTimerSlack = 987654321;

void HoldBackAsACallerCould() {
    sigset_t blocked;
    sigemptyset(&blocked);
    for (const int signal : {SIGALRM, SIGTSTP, SIGTERM}) {
        sigaddset(&blocked, signal);
    }
    sigprocmask(SIG_BLOCK, &blocked, nullptr);
    for (const int signal : {SIGALRM, SIGCHLD, SIGHUP, SIGINT}) {
        std::signal(signal, SIG_IGN);
    }
    setpriority(PRIO_PROCESS, 0, 15);
    const sched_param param{};
    sched_setscheduler(0, SCHED_IDLE, &param);
    cpu_set_t own;
    sched_getaffinity(0, sizeof own, &own);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &own)) {
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(cpu, &one);
            sched_setaffinity(0, sizeof one, &one);
            break;
        }
    }
    syscall(SYS_ioprio_set, IOPRIO_WHO_PROCESS, 0, IOPRIO_PRIO_VALUE(IOPRIO_CLASS_IDLE, 7));
    prctl(PR_SET_TIMERSLACK, CallersTimerSlack);
}

class HeldBackHelper {
public:
    explicit HeldBackHelper(const std::string& helper) {
        int input[2];
        if (pipe2(input, O_CLOEXEC) != 0) {
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            const int null = open("/dev/null", O_WRONLY);
            if (dup2(input[0], STDIN_FILENO) < 0 || dup2(null, STDOUT_FILENO) < 0) {
                _exit(127);
            }
            HoldBackAsACallerCould();
            execl(helper.c_str(), helper.c_str(), nullptr);
            _exit(127);
        }
        close(input[0]);
        input_ = input[1];
    }
    HeldBackHelper(const HeldBackHelper&) = delete;
    HeldBackHelper& operator=(const HeldBackHelper&) = delete;
    ~HeldBackHelper() {
        CloseInput();
        if (pid_ > 0 && !ended_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    pid_t Pid() const { return pid_; }
    void CloseInput() {
        if (input_ >= 0) {
            close(input_);
            input_ = -1;
        }
    }

    // Whether it has come to read its request from standard input.
    bool WaitUntilReadingItsRequest() const {
        const std::string reading = std::to_string(SYS_read) + " 0x0 ";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            std::ifstream file("/proc/" + std::to_string(pid_) + "/syscall");
            std::string line;
            if (std::getline(file, line) && line.rfind(reading, 0) == 0) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // Its wait status once it ends by itself, or nothing if it is still
    // running after `limit` (then it is killed).
    std::optional<int> WaitForEnd(std::chrono::seconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                ended_ = true;
                return status;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return std::nullopt;
    }

    // A field of /proc/PID/status read as a hexadecimal mask.
    std::uint64_t StatusMask(const std::string& field) const {
        std::ifstream file("/proc/" + std::to_string(pid_) + "/status");
        for (std::string line; std::getline(file, line);) {
            if (line.rfind(field + ":", 0) == 0) {
                return std::stoull(line.substr(field.size() + 1), nullptr, 16);
            }
        }
        ADD_FAILURE() << "no " << field << " in the helper's status";
        return 0;
    }

private:
    pid_t pid_ = -1;
    int input_ = -1;
    bool ended_ = false;
};

constexpr std::uint64_t Bit(int signal) { return std::uint64_t{1} << (signal - 1); }

// None of it is left in the helper by the time it reads its request: a
// blocked or ignored SIGALRM would keep its alarm from ending it, a ^Z from
// the caller's terminal would stop it while it holds the lock on odbc.ini,
// and an idle policy on one busy CPU would starve it there.
TEST(Helper, LeavesNothingOfHowItsCallerHeldItBack) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to lift an idle scheduling policy and a raised nice value";
    }
    cpu_set_t testsCpus;
    ASSERT_EQ(sched_getaffinity(0, sizeof testsCpus, &testsCpus), 0);
    HeldBackHelper helper(Helper);
    ASSERT_GT(helper.Pid(), 0);
    ASSERT_TRUE(helper.WaitUntilReadingItsRequest());

    EXPECT_EQ(helper.StatusMask("SigBlk"), 0u);
    const std::uint64_t ignored = helper.StatusMask("SigIgn");
    EXPECT_EQ(ignored & (Bit(SIGALRM) | Bit(SIGCHLD) | Bit(SIGHUP) | Bit(SIGINT)), 0u) << std::hex << ignored;
    EXPECT_EQ(ignored & (Bit(SIGTSTP) | Bit(SIGTTIN) | Bit(SIGTTOU)), Bit(SIGTSTP) | Bit(SIGTTIN) | Bit(SIGTTOU))
        << std::hex << ignored;
    EXPECT_EQ(sched_getscheduler(helper.Pid()), SCHED_OTHER);
    errno = 0;
    EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(helper.Pid())), 0);
    EXPECT_EQ(errno, 0);
    cpu_set_t helpersCpus;
    ASSERT_EQ(sched_getaffinity(helper.Pid(), sizeof helpersCpus, &helpersCpus), 0);
    cpu_set_t both;
    CPU_AND(&both, &testsCpus, &helpersCpus);
    EXPECT_TRUE(CPU_EQUAL(&both, &testsCpus)) << CPU_COUNT(&helpersCpus) << " of " << CPU_COUNT(&testsCpus);
    const long ioPriority = syscall(SYS_ioprio_get, IOPRIO_WHO_PROCESS, helper.Pid());
    ASSERT_GE(ioPriority, 0);
    EXPECT_NE(IOPRIO_PRIO_CLASS(ioPriority), IOPRIO_CLASS_IDLE);
    std::ifstream slack("/proc/" + std::to_string(helper.Pid()) + "/timerslack_ns");
    unsigned long slackNs = 0;
    ASSERT_TRUE(slack >> slackNs);
    EXPECT_NE(slackNs, CallersTimerSlack);

    helper.CloseInput();
    const auto status = helper.WaitForEnd(std::chrono::seconds(30));
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 2) << *status;
}

// A request that never comes, from a caller that blocked and ignored SIGALRM:
// the alarm ends the helper all the same.
TEST(Helper, AlarmEndsItWhateverItsCallerDidWithSigalrm) {
    HeldBackHelper helper(QuickAlarmHelper);
    ASSERT_GT(helper.Pid(), 0);

    const auto status = helper.WaitForEnd(std::chrono::seconds(40));
    ASSERT_TRUE(status) << "still running after 40 seconds";
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGALRM) << *status;
}

} // namespace
