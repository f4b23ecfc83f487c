// The elevating installer's helper route: every way pkexec and the helper can
// end, mapped to the result and records libodbcinst's callers expect. pkexec
// is a stand-in script here (the real one needs polkitd and an agent); for the
// helper's own answers it runs the real built helper against a sandbox.
//
// The route needs an effective user that may not write the system folder: run
// as root, the calls are made with the effective user switched to nobody.
#include "system_dsn_client/elevating_installer.h"

#include <csignal>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QProcess>

#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "dsn/create_dsn.h"
#include "system_dsn_client/system_dsn_request.h"
#include "odbc_sandbox.h"
#include "scripted_installer.h"

namespace {

using namespace std::string_literals;
using dsn::ElevatingInstaller;
using dsn::InstallerRecord;
using tarnwick::testing::OdbcSandbox;
using tarnwick::testing::WriteFile;

// The folder ODBCSYSINI names for this process (unixODBC reads it once): not
// writable by the effective user the requests are made as.
std::string SystemFolder;
// Where the stand-in pkexec lets the real helper write.
OdbcSandbox* HelperSandbox = nullptr;
std::optional<uid_t> Nobody; // set when running as root

// Makes the enclosed calls as nobody when the suite runs as root.
class AsRegularUser {
public:
    AsRegularUser() {
        if (Nobody) {
            EXPECT_EQ(seteuid(*Nobody), 0);
        }
    }
    ~AsRegularUser() {
        if (Nobody) {
            EXPECT_EQ(seteuid(0), 0);
        }
    }
    AsRegularUser(const AsRegularUser&) = delete;
    AsRegularUser& operator=(const AsRegularUser&) = delete;
};

std::string List(const std::string& dsnName, const std::string& description = "") {
    return "DSN=" + dsnName + "\0FIL=MS Access\0DBQ=dates.mdb\0DefaultDir=\0Description="s + description + "\0\0"s;
}

std::vector<InstallerRecord> Records(dsn::Installer& installer) {
    std::vector<InstallerRecord> records;
    for (std::uint16_t index = 1; index < 20; ++index) {
        char text[1024] = "";
        std::uint32_t code = 0;
        std::uint16_t length = 0;
        if (installer.InstallerError(index, &code, text, sizeof text - 1, &length) == 100) {
            break;
        }
        records.push_back({code, text});
    }
    return records;
}

class StandInPkexec : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarnwick-pkexec-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        chmod(dir_.c_str(), 0755);
        settings_ = {dir_ + "/helper", dir_ + "/pkexec", std::chrono::seconds(20), &direct_};
        WriteFile(settings_.helperPath, "#!/bin/sh\nexit 99\n");
        chmod(settings_.helperPath.c_str(), 0755);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // A pkexec that runs `body` (its $2 is the helper's path).
    void Pkexec(const std::string& body) {
        WriteFile(settings_.pkexecPath, "#!/bin/sh\n" + body + "\n");
        chmod(settings_.pkexecPath.c_str(), 0755);
    }

    bool Create(ElevatingInstaller& installer, const std::string& attributes) {
        AsRegularUser user;
        return installer.ConfigDataSource(nullptr, dsn::AddSystemDsnRequest, dsn::AccessDriverName, attributes.c_str());
    }

    std::string dir_;
    ElevatingInstaller::Settings settings_;
    tarnwick::testing::ScriptedInstaller direct_;
};

// The threads of this process.
std::size_t ThreadCount() {
    return static_cast<std::size_t>(
        std::distance(std::filesystem::directory_iterator("/proc/self/task"), std::filesystem::directory_iterator()));
}

double Seconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// A program that ignores SIGCHLD: the system reaps its children itself and
// every wait for their exit status fails.
class ChildSignalIgnored {
public:
    explicit ChildSignalIgnored(bool active) : active_(active) {
        if (active_) {
            previous_ = std::signal(SIGCHLD, SIG_IGN);
        }
    }
    ~ChildSignalIgnored() {
        if (active_) {
            std::signal(SIGCHLD, previous_);
        }
    }
    ChildSignalIgnored(const ChildSignalIgnored&) = delete;
    ChildSignalIgnored& operator=(const ChildSignalIgnored&) = delete;

private:
    bool active_;
    void (*previous_)(int) = SIG_DFL;
};

struct Ending {
    const char* name;
    std::string pkexecBody;
    std::uint32_t code;
    std::string messagePart;
    bool childSignalIgnored = false;
    // With SIGCHLD ignored: what to expect where the exit status was learned after all.
    std::uint32_t knownCode = 0;
    std::string knownMessagePart = {};
    friend void PrintTo(const Ending& c, std::ostream* os) { *os << c.name; }
};

class PkexecEnding : public StandInPkexec, public ::testing::WithParamInterface<Ending> {};

// Whether the system now reaps this process's children by itself.
bool ChildrenReapedBySystem() {
    struct sigaction current {};
    sigaction(SIGCHLD, nullptr, &current);
    return current.sa_handler == SIG_IGN || (current.sa_flags & SA_NOCLDWAIT) != 0;
}

TEST_P(PkexecEnding, GivesOneRecordThatSaysWhat) {
    Pkexec(GetParam().pkexecBody);
    ElevatingInstaller installer(settings_);
    // Qt takes over SIGCHLD when it starts its first process, so a program
    // that ignores SIGCHLD from then on really loses its children's exit
    // status; one that ignored it before keeps it through Qt's handler.
    QProcess first;
    first.start(QStringLiteral("/bin/true"), {});
    ASSERT_TRUE(first.waitForFinished(10000));

    const double wall = Seconds(CLOCK_MONOTONIC);
    const double cpu = Seconds(CLOCK_PROCESS_CPUTIME_ID);
    bool statusLost = false;
    {
        const ChildSignalIgnored ignored(GetParam().childSignalIgnored);
        EXPECT_FALSE(Create(installer, List("Refused")));
        statusLost = ChildrenReapedBySystem();
    }
    // A known exit status counts wherever the platform still learns it.
    const bool known = GetParam().childSignalIgnored && !statusLost && GetParam().knownCode != 0;
    const std::uint32_t code = known ? GetParam().knownCode : GetParam().code;
    const std::string messagePart = known ? GetParam().knownMessagePart : GetParam().messagePart;
    // A wait that sleeps costs next to no processor time; one that spins
    // costs all of it.
    const double waited = Seconds(CLOCK_MONOTONIC) - wall;
    if (waited > 0.2) {
        EXPECT_LT(Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu, waited / 2) << "the wait spins";
    }

    const auto records = Records(installer);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].code, code);
    EXPECT_NE(records[0].message.find(messagePart), std::string::npos) << records[0].message;
    EXPECT_TRUE(direct_.requests.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Endings, PkexecEnding,
    ::testing::Values(
        Ending{"Dismissed", "exit 126", 16, "Authentication was dismissed"},
        Ending{"NotAuthorized", "echo 'Error executing command as another user: Not authorized' >&2; exit 127", 11,
               "Not authorized"},
        Ending{"NoAgent",
               "echo 'Error executing command as another user: No authentication agent found.' >&2; exit 127", 11,
               "No authentication agent is running"},
        Ending{"NotSetuid", "echo 'pkexec must be setuid root' >&2; exit 127", 11, "reinstall the pkexec package"},
        Ending{"OtherRefusal", "echo 'Error getting authority: no bus' >&2; exit 127", 1,
               "exit status 127). It said: \"Error getting authority: no bus\""},
        Ending{"OtherExitCode", "exit 3", 1, "exit status 3"}, Ending{"Killed", "kill -9 $$", 1, "killed by signal 9"},
        Ending{"Garbage", "echo 'tarnwick-system-dsn-answer 1'; echo 'result 1'; exit 0", 1, "answered garbage"},
        Ending{"ResultDisagreesWithExit", "printf 'tarnwick-system-dsn-answer 1\\nresult 1\\nend\\n'; exit 1", 1,
               "answered garbage"},
        Ending{"ClosesItsInputEarly", "exec 0<&-; sleep 0.2; exit 126", 16, "dismissed"},
        // The pipes end long before the exit: its status is still waited for.
        Ending{"ExitsWellAfterClosingItsPipes", "exec 0<&- >&- 2>&-; sleep 0.3; exit 126", 16, "dismissed"},
        // With SIGCHLD ignored no exit status can be learned: the helper's
        // answer still counts, and without one the outcome is unknown.
        Ending{"ChildSignalIgnoredAnswerStillCounts",
               "printf 'tarnwick-system-dsn-answer 1\\nresult 0\\nrecord 7 16\\nfrom the helper.\\nend\\n'; exit 1", 7,
               "from the helper.", true},
        Ending{"ChildSignalIgnoredWithoutAnswer", "exec 0<&- >&- 2>&-; sleep 0.3; exit 126", 1,
               "exit status is lost: this program ignores SIGCHLD, so the system discards it. Whether the System DSN "
               "was created is unknown.",
               true, 16, "dismissed"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StandInPkexec, ClosedInputWhileALargeRequestIsWrittenDoesNotKillTheProgram) {
    Pkexec("exec 0<&-; sleep 0.2; exit 126");
    ElevatingInstaller installer(settings_);

    // Larger than a pipe's buffer, so the write is still going on when the
    // child closes its end.
    EXPECT_FALSE(Create(installer, List("Large", std::string(200000, 'a'))));
    ASSERT_EQ(Records(installer).size(), 1u);
    EXPECT_EQ(Records(installer)[0].code, 16u);
}

TEST_F(StandInPkexec, HelperThatHangsRunsOutOfTimeAndSaysTheOutcomeIsUnknown) {
    Pkexec("exec sleep 30");
    settings_.timeout = std::chrono::milliseconds(300);
    ElevatingInstaller installer(settings_);
    int waits = 0;
    installer.SetWaitHook([&] { ++waits; });

    const std::size_t threads = ThreadCount();
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(Create(installer, List("Hangs")));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));

    const auto records = Records(installer);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_NE(records[0].message.find("Gave up waiting"), std::string::npos) << records[0].message;
    EXPECT_NE(records[0].message.find("unknown"), std::string::npos) << records[0].message;
    EXPECT_GE(waits, 3);
    EXPECT_EQ(ThreadCount(), threads) << "a thread was left behind to wait";
}

// pkexec becomes root once it runs the helper, and the user may no longer
// signal it. Here the stand-in turns into another user's process instead.
TEST_F(StandInPkexec, HelperThatCannotBeKilledIsReapedByTheEventLoopOnceItEnds) {
    if (!Nobody) {
        GTEST_SKIP() << "needs root to leave a process the caller may not signal";
    }
    const std::string pidFile = dir_ + "/pid";
    Pkexec("echo $$ >'" + pidFile + "'; exec setpriv --reuid=1 --regid=1 --clear-groups sleep 30");
    settings_.timeout = std::chrono::milliseconds(300);
    ElevatingInstaller installer(settings_);
    const std::size_t threads = ThreadCount();

    EXPECT_FALSE(Create(installer, List("Outlives")));
    ASSERT_EQ(Records(installer).size(), 1u);
    EXPECT_NE(Records(installer)[0].message.find("Gave up waiting"), std::string::npos);
    EXPECT_EQ(ThreadCount(), threads) << "a thread was left behind to wait";

    const pid_t pid = std::stoi(tarnwick::testing::ReadFile(pidFile));
    ASSERT_EQ(kill(pid, 0), 0) << "the process the caller may not signal is gone already";
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    // Once it ends, the event loop reaps it: no zombie stays behind.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (kill(pid, 0) == 0 && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    EXPECT_NE(kill(pid, 0), 0) << "the ended helper was not reaped";
}

TEST_F(StandInPkexec, MissingHelperOrPkexecIsSaidBeforeAnythingRuns) {
    Pkexec("touch '" + dir_ + "/ran'; exit 126");
    ElevatingInstaller::Settings noHelper = settings_;
    noHelper.helperPath = dir_ + "/not-installed";
    ElevatingInstaller::Settings noPkexec = settings_;
    noPkexec.pkexecPath = dir_ + "/no-pkexec";

    for (const auto& [settings, part] : {std::pair{noHelper, "install the Tarnwick package, or run Tarnwick as root"},
                                         std::pair{noPkexec, "install the pkexec package"}}) {
        ElevatingInstaller installer(settings);
        EXPECT_FALSE(Create(installer, List("Missing")));
        const auto records = Records(installer);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].code, 6u);
        EXPECT_NE(records[0].message.find(part), std::string::npos) << records[0].message;
    }
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/ran"));
}

// pkexec ends in the real helper, which writes the helper sandbox.
class RealHelper : public StandInPkexec {
protected:
    void SetUp() override {
        StandInPkexec::SetUp();
        settings_.helperPath = TARNWICK_HELPER_BUILT;
        Pkexec("ODBCSYSINI='" + HelperSandbox->Dir() + "' exec \"$2\"");
        HelperSandbox->WriteOdbcIni("");
    }
};

TEST_F(RealHelper, CreatesTheDataSourceFromTheCurrentDirectory) {
    const std::string previous = std::filesystem::current_path();
    std::filesystem::current_path(tarnwick::testing::FixturePath(""));
    ElevatingInstaller installer(settings_);
    const bool created = Create(installer, List("ThroughHelper"));
    std::filesystem::current_path(previous);

    EXPECT_TRUE(created) << (Records(installer).empty() ? "" : Records(installer)[0].message);
    EXPECT_TRUE(Records(installer).empty());
    EXPECT_NE(HelperSandbox->ReadOdbcIni().find("Database=" + tarnwick::testing::FixturePath("dates.mdb")),
              std::string::npos)
        << HelperSandbox->ReadOdbcIni();
}

TEST_F(RealHelper, PassesTheRefusalRecordsThroughAsLibodbcinstAnswersThem) {
    ElevatingInstaller installer(settings_);
    EXPECT_FALSE(Create(installer, List("bad[name")));

    // The same request, straight to the helper: the records are its, verbatim.
    const std::string request =
        dsn::EncodeRequest({std::filesystem::current_path().string(), dsn::AccessDriverName, List("bad[name")});
    const auto direct = tarnwick::testing::RunCommand({TARNWICK_HELPER_BUILT}, HelperSandbox->Environment(), request);
    const auto answer = dsn::DecodeAnswer(direct.output);
    ASSERT_TRUE(answer) << direct.output;
    ASSERT_FALSE(answer->records.empty());
    EXPECT_EQ(Records(installer), answer->records);
    EXPECT_EQ(HelperSandbox->ReadOdbcIni(), "");

    // Shapes as libodbcinst's: index 0 refused, a text cut to the capacity
    // with its terminator one byte further and status 1, 100 past the end.
    std::uint32_t code = 0;
    std::uint16_t length = 0;
    char text[8];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(installer.InstallerError(0, &code, text, 4, &length), -1);
    EXPECT_EQ(installer.InstallerError(1, &code, text, 4, &length), 1);
    EXPECT_EQ(std::string(text), answer->records[0].message.substr(0, 4));
    EXPECT_EQ(text[5], 'x');
    EXPECT_EQ(length, answer->records[0].message.size());
    EXPECT_EQ(installer.InstallerError(static_cast<std::uint16_t>(answer->records.size() + 1), &code, text, 4, &length),
              100);

    // A new request forgets the last one's records.
    Pkexec("exit 126");
    EXPECT_FALSE(Create(installer, List("Again")));
    EXPECT_EQ(Records(installer).size(), 1u);
}

TEST_F(StandInPkexec, RequestsThatNeedNoHelperGoToTheDirectInstaller) {
    Pkexec("touch '" + dir_ + "/ran'; exit 126");
    ElevatingInstaller installer(settings_);
    direct_.records = {{0, 19, "from the direct installer"}};
    direct_.accepts = false;

    AsRegularUser user;
    // A user data source (ODBC_ADD_DSN) is the user's own to write.
    EXPECT_FALSE(installer.ConfigDataSource(nullptr, 1, dsn::AccessDriverName, List("UserDsn").c_str()));
    ASSERT_EQ(direct_.requests.size(), 1u);
    EXPECT_EQ(direct_.requests[0].attributes, List("UserDsn"));
    EXPECT_EQ(Records(installer), (std::vector<InstallerRecord>{{19, "from the direct installer"}}));
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/ran"));
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // pkexec runs under QProcess, which reaps a helper that outlived the
    // wait through this thread's event dispatcher.
    const QCoreApplication application(argc, argv);
    char pattern[] = "/tmp/tarnwick-system-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        return 1;
    }
    SystemFolder = pattern;
    chmod(pattern, 0555);
    setenv("ODBCSYSINI", pattern, 1);
    OdbcSandbox helperSandbox;
    HelperSandbox = &helperSandbox;
    if (geteuid() == 0) {
        const passwd* nobody = getpwnam("nobody");
        if (nobody == nullptr) {
            return 1;
        }
        Nobody = nobody->pw_uid;
        // The stand-in may keep nobody's effective user for the helper.
        for (const auto& path : {helperSandbox.Dir(), helperSandbox.OdbcIniPath(), helperSandbox.OdbcinstIniPath()}) {
            if (chown(path.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
                return 1;
            }
        }
    }
    const int result = RUN_ALL_TESTS();
    rmdir(pattern);
    return result;
}
