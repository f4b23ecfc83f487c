#include "ini_file_store.h"

#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <thread>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/capability.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <odbcinst.h>

#include "odbc_sandbox.h"
#include "setup_client.h"

namespace tarnwick::setup {
namespace {

using testing::FolderEntries;
using testing::OdbcSandbox;
using testing::ReadFile;
using testing::WriteFile;

FileEdit Append(const std::string& current, const std::string& more) { return {current + more, {}}; }

struct stat StatusOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
    return status;
}

class IniFileStoreTest : public ::testing::Test {
protected:
    OdbcSandbox folder_{OdbcSandbox::Driver::NotRegistered};
    std::string path_ = folder_.Dir() + "/odbc.ini";
};

TEST_F(IniFileStoreTest, ReplacesTheFileWithTheEditedText) {
    WriteFile(path_, "[A]\nK=v\n");
    const auto before = FolderEntries(folder_.Dir());
    std::string seen;
    const auto errors = EditIniFile(path_, 0644, [&](const std::string& current) {
        seen = current;
        return Append(current, "[B]\n");
    });
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(seen, "[A]\nK=v\n");
    EXPECT_EQ(ReadFile(path_), "[A]\nK=v\n[B]\n");
    EXPECT_EQ(FolderEntries(folder_.Dir()), before) << "a temporary file was left behind";
}

TEST_F(IniFileStoreTest, CreatesAMissingFileWithTheGivenModeWhateverTheUmask) {
    unlink(path_.c_str());
    const mode_t saved = umask(077);
    const auto errors = EditIniFile(path_, 0644, [](const std::string& current) { return Append(current, "[A]\n"); });
    umask(saved);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(ReadFile(path_), "[A]\n");
    EXPECT_EQ(StatusOf(path_).st_mode & 07777, 0644u);
}

TEST_F(IniFileStoreTest, KeepsModeAndOwner) {
    WriteFile(path_, "[A]\n");
    ASSERT_EQ(chmod(path_.c_str(), 0640), 0);
    if (geteuid() == 0) {
        const passwd* nobody = getpwnam("nobody");
        ASSERT_NE(nobody, nullptr);
        ASSERT_EQ(chown(path_.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    }
    const struct stat before = StatusOf(path_);

    EXPECT_TRUE(EditIniFile(path_, 0600, [](const std::string& c) { return Append(c, "[B]\n"); }).empty());

    const struct stat after = StatusOf(path_);
    EXPECT_NE(after.st_ino, before.st_ino) << "the file should have been replaced, not rewritten in place";
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
}

TEST_F(IniFileStoreTest, FollowsSymbolicLinksToTheRealFile) {
    ASSERT_EQ(mkdir((folder_.Dir() + "/real").c_str(), 0755), 0);
    WriteFile(folder_.Dir() + "/real/odbc.ini", "[A]\n");
    unlink(path_.c_str());
    ASSERT_EQ(symlink("real/odbc.ini", path_.c_str()), 0); // relative, as admins often write them

    EXPECT_TRUE(EditIniFile(path_, 0644, [](const std::string& c) { return Append(c, "[B]\n"); }).empty());

    EXPECT_TRUE(S_ISLNK(StatusOf(path_).st_mode));
    EXPECT_EQ(ReadFile(folder_.Dir() + "/real/odbc.ini"), "[A]\n[B]\n");
}

TEST_F(IniFileStoreTest, ARefusedEditWritesNothing) {
    WriteFile(path_, "[A]\n");
    const struct stat before = StatusOf(path_);
    const auto entries = FolderEntries(folder_.Dir());

    const auto errors = EditIniFile(path_, 0644, [](const std::string&) {
        return FileEdit{std::nullopt, {{ODBC_ERROR_REQUEST_FAILED, "refused"}}};
    });

    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].message, "refused");
    EXPECT_EQ(StatusOf(path_).st_ino, before.st_ino);
    EXPECT_EQ(ReadFile(path_), "[A]\n");
    EXPECT_EQ(FolderEntries(folder_.Dir()), entries);
}

TEST_F(IniFileStoreTest, AnEditWithoutTextWritesNothing) {
    WriteFile(path_, "[A]\n");
    const struct stat before = StatusOf(path_);
    EXPECT_TRUE(EditIniFile(path_, 0644, [](const std::string&) { return FileEdit{}; }).empty());
    EXPECT_EQ(StatusOf(path_).st_ino, before.st_ino);
}

TEST_F(IniFileStoreTest, TextThatUnixOdbcWouldRefuseIsNeverWritten) {
    const std::string original = "# data sources\n[A]\nDriver=D\n";
    WriteFile(path_, original);
    const struct stat before = StatusOf(path_);
    const auto entries = FolderEntries(folder_.Dir());

    const auto errors = EditIniFile(path_, 0644, [](const std::string&) {
        return FileEdit{"  indented before any section\n[A]\nDriver=D\n", {}};
    });

    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].code, ODBC_ERROR_GENERAL_ERR);
    EXPECT_NE(errors[0].message.find("line 1 is neither"), std::string::npos) << errors[0].message;
    EXPECT_NE(errors[0].message.find(path_ + " was left unchanged"), std::string::npos) << errors[0].message;
    EXPECT_EQ(StatusOf(path_).st_ino, before.st_ino);
    EXPECT_EQ(ReadFile(path_), original);
    EXPECT_EQ(FolderEntries(folder_.Dir()), entries) << "a temporary file was left behind";
}

TEST_F(IniFileStoreTest, AMissingFolderIsReportedAndNotCreated) {
    const std::string missing = folder_.Dir() + "/missing/odbc.ini";
    const auto errors = EditIniFile(missing, 0644, [](const std::string& c) { return Append(c, "[A]\n"); });
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].code, ODBC_ERROR_WRITING_SYSINFO_FAILED);
    EXPECT_NE(errors[0].message.find("does not exist"), std::string::npos) << errors[0].message;
    EXPECT_NE(errors[0].message.find(folder_.Dir() + "/missing"), std::string::npos) << errors[0].message;
    EXPECT_NE(access((folder_.Dir() + "/missing").c_str(), F_OK), 0);
}

TEST_F(IniFileStoreTest, SomethingOtherThanAFileIsLeftAlone) {
    unlink(path_.c_str());
    ASSERT_EQ(mkdir(path_.c_str(), 0755), 0);
    const auto errors = EditIniFile(path_, 0644, [](const std::string& c) { return Append(c, "[A]\n"); });
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].message.find("not a regular file"), std::string::npos) << errors[0].message;
}

// Another writer of ours that holds the lock (a hung one, say) delays the
// next only for a few seconds; then it gives up with a record and writes
// nothing.
TEST_F(IniFileStoreTest, AWriterHoldingTheLockDelaysTheNextOnlyForSeconds) {
    WriteFile(path_, "[A]\n");
    EXPECT_TRUE(EditIniFile(path_, 0644, [](const std::string& c) { return FileEdit{c, {}}; }).empty());
    const std::string lockPath = folder_.Dir() + "/.odbc.ini.lock";
    EXPECT_EQ(StatusOf(lockPath).st_mode & 07777, 0600u);
    const int held = open(lockPath.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);

    const auto errors = EditIniFile(path_, 0644, [](const std::string& c) { return Append(c, "[B]\n"); });
    close(held);

    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].code, ODBC_ERROR_WRITING_SYSINFO_FAILED);
    EXPECT_NE(errors[0].message.find("Another program has been changing " + path_), std::string::npos)
        << errors[0].message;
    EXPECT_EQ(ReadFile(path_), "[A]\n");
}

// What other users can open (the folder, the file itself) they can lock;
// none of it may hold up a writer. Only root can run as another user here.
TEST_F(IniFileStoreTest, LocksThatOtherUsersTakeDoNotStallTheWriter) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to act as another user";
    }
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    WriteFile(path_, "[A]\n");
    ASSERT_EQ(chmod(folder_.Dir().c_str(), 0755), 0);
    EXPECT_TRUE(EditIniFile(path_, 0644, [](const std::string& c) { return FileEdit{c, {}}; }).empty());

    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        if (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) {
            _exit(1);
        }
        char taken = 0;
        for (const std::string& path : {folder_.Dir(), path_, folder_.Dir() + "/.odbc.ini.lock"}) {
            const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
            taken += fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 1 : 0;
        }
        (void)!write(ready[1], &taken, 1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char taken = 0;
    ASSERT_EQ(read(ready[0], &taken, 1), 1);
    close(ready[0]);

    // A writer stalled by any of those locks would give up with a record.
    const auto errors = EditIniFile(path_, 0644, [](const std::string& c) { return Append(c, "[B]\n"); });
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);

    EXPECT_EQ(taken, 2) << "nobody should lock the folder and the file, and not open the lock file";
    EXPECT_TRUE(errors.empty()) << errors.front().message;
    EXPECT_EQ(ReadFile(path_), "[A]\n[B]\n");
}

TEST_F(IniFileStoreTest, RemovesOnlyTheCopiesThatDeadWritersLeftBehind) {
    WriteFile(path_, "[A]\n");
    const std::vector<std::string> unrelated = {".odbc.ini.keep", "odbc.ini.Ab12Cd", ".odbcinst.ini.Ab12Cd",
                                                ".odbc.ini.Ab12C-"};
    for (const std::string& name : unrelated) {
        WriteFile(folder_.Dir() + "/" + name, "x");
    }
    WriteFile(folder_.Dir() + "/.odbc.ini.Xy34Zw", "[Half");
    ASSERT_EQ(mkdir((folder_.Dir() + "/.odbc.ini.Dir123").c_str(), 0755), 0);

    EXPECT_TRUE(EditIniFile(path_, 0644, [](const std::string& c) { return Append(c, "[B]\n"); }).empty());

    EXPECT_NE(access((folder_.Dir() + "/.odbc.ini.Xy34Zw").c_str(), F_OK), 0) << "a stale copy was kept";
    EXPECT_EQ(access((folder_.Dir() + "/.odbc.ini.Dir123").c_str(), F_OK), 0) << "a folder was removed";
    for (const std::string& name : unrelated) {
        EXPECT_EQ(access((folder_.Dir() + "/" + name).c_str(), F_OK), 0) << name << " was removed";
    }
}

// Extended attributes hold ACLs and security labels; the new copy keeps them.
TEST_F(IniFileStoreTest, KeepsExtendedAttributes) {
    WriteFile(path_, "[A]\n");
    const std::string value = "kept across the rewrite";
    if (setxattr(path_.c_str(), "user.tarnwick.test", value.data(), value.size(), 0) != 0) {
        GTEST_SKIP() << "the file system keeps no user attributes here: " << std::strerror(errno);
    }
    const auto inode = StatusOf(path_).st_ino;

    EXPECT_TRUE(EditIniFile(path_, 0644, [](const std::string& c) { return Append(c, "[B]\n"); }).empty());

    ASSERT_NE(StatusOf(path_).st_ino, inode);
    char stored[64] = {};
    const ssize_t length = getxattr(path_.c_str(), "user.tarnwick.test", stored, sizeof stored);
    ASSERT_GE(length, 0) << std::strerror(errno);
    EXPECT_EQ(std::string(stored, static_cast<std::size_t>(length)), value);
}

// Many sections, so that a rewrite takes more than one of stdio's blocks.
std::string ManySections(const std::string& prefix, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += "[" + prefix + std::to_string(i) + "]\nDriver=Microsoft Access Driver (*.mdb)\nDBQ=/srv/" + prefix +
                std::to_string(i) + ".mdb\n";
    }
    return text;
}

// Rewrites `path` in place the way unixODBC does, but slowly: truncates it
// (and says so on `truncated`), pauses, writes the first 4 KiB block, pauses
// again, writes the rest and closes.
pid_t StartSlowRewrite(const std::string& path, const std::string& text, std::chrono::milliseconds pause,
                       int truncated) {
    const pid_t writer = fork();
    if (writer != 0) {
        return writer;
    }
    const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    const char byte = fd >= 0 ? 1 : 0;
    (void)!write(truncated, &byte, 1);
    std::this_thread::sleep_for(pause);
    const std::size_t first = std::min<std::size_t>(text.size(), 4096);
    bool written = write(fd, text.data(), first) == static_cast<ssize_t>(first);
    std::this_thread::sleep_for(pause);
    written =
        written && write(fd, text.data() + first, text.size() - first) == static_cast<ssize_t>(text.size() - first);
    _exit(written && close(fd) == 0 ? 0 : 1);
}

// Whether the kernel is breaking a lease on some file: a writer is waiting for
// its holder.
bool ALeaseIsBreaking() {
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        if (line.find("LEASE") != std::string::npos && line.find("BREAKING") != std::string::npos) {
            return true;
        }
    }
    return false;
}

enum class Leases { Granted, Refused };

// Runs `body` where the file may or may not be leased. Without leases it runs
// in a child that gives up CAP_LEASE, on a file handed to another user: the
// way a writer fares on a file system without leases. Returns body's result,
// or -1 when leases could not be refused here.
int WithLeases(Leases leases, const std::string& path, const std::function<int()>& body) {
    if (leases == Leases::Granted) {
        return body();
    }
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr || chown(path.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
        return -1;
    }
    const pid_t child = fork();
    if (child == 0) {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2] = {};
        if (syscall(SYS_capget, &header, data) != 0) {
            _exit(255);
        }
        data[CAP_LEASE / 32].effective &= ~(1u << (CAP_LEASE % 32));
        const int probe = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (syscall(SYS_capset, &header, data) != 0 || probe < 0 || fcntl(probe, F_SETLEASE, F_RDLCK) == 0) {
            _exit(255);
        }
        close(probe);
        _exit(body());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) != 255 ? WEXITSTATUS(status) : -1;
}

void PrintTo(Leases leases, std::ostream* out) { *out << (leases == Leases::Granted ? "leased" : "no lease"); }

class RewriteInPlaceTest : public IniFileStoreTest, public ::testing::WithParamInterface<Leases> {
protected:
    void SetUp() override {
        if (GetParam() == Leases::Refused && geteuid() != 0) {
            GTEST_SKIP() << "needs root to give the file to another user";
        }
    }
};

// A writer truncates the file and is then starved for a while, as unixODBC's
// can be on a busy machine: the edit must wait for the whole new text, never
// rename a copy of the empty or half-written file over it.
TEST_P(RewriteInPlaceTest, WaitsForASlowWriterAndKeepsEverySection) {
    WriteFile(path_, ManySections("Old", 10));
    const std::string rewritten = ManySections("Kept", 120);
    ASSERT_GT(rewritten.size() % 4096, 0u);
    int truncated[2];
    ASSERT_EQ(pipe(truncated), 0);
    const pid_t writer = StartSlowRewrite(path_, rewritten, std::chrono::milliseconds(400), truncated[1]);
    ASSERT_GT(writer, 0);
    char opened = 0;
    ASSERT_EQ(read(truncated[0], &opened, 1), 1);
    ASSERT_EQ(opened, 1);

    const int failures = WithLeases(GetParam(), path_, [&] {
        return static_cast<int>(
            EditIniFile(path_, 0644, [](const std::string& c) { return Append(c, "[Ours]\n"); }).size());
    });
    int status = 0;
    waitpid(writer, &status, 0);
    close(truncated[0]);
    close(truncated[1]);

    ASSERT_NE(failures, -1) << "leases could not be refused here";
    EXPECT_EQ(failures, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // The writer closed the file before the edit read it, so nothing of its
    // went to a file that was already replaced.
    EXPECT_EQ(ReadFile(path_), rewritten + "[Ours]\n");
}

// Someone really emptied the file (nobody is writing it): the wait for the
// rest of a rewrite is bounded, and the edit then goes on with what is there.
TEST_P(RewriteInPlaceTest, AFileReallyEmptiedIsEditedAfterABoundedWait) {
    WriteFile(path_, ManySections("Old", 3));
    EXPECT_TRUE(EditIniFile(path_, 0644, [](const std::string& c) { return Append(c, "[First]\n"); }).empty());
    WriteFile(path_, "");

    const int failures = WithLeases(GetParam(), path_, [&] {
        return static_cast<int>(
            EditIniFile(path_, 0644, [](const std::string& c) { return Append(c, "[Ours]\n"); }).size());
    });

    ASSERT_NE(failures, -1) << "leases could not be refused here";
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(ReadFile(path_), "[Ours]\n");
}

INSTANTIATE_TEST_SUITE_P(Leases, RewriteInPlaceTest, ::testing::Values(Leases::Granted, Leases::Refused));

// A writer that opens the file while the edit holds its lease waits for it;
// the edit sees the lease breaking, gives up its copy and edits the writer's
// text instead.
TEST_F(IniFileStoreTest, AWriterArrivingDuringTheEditIsLetThroughAndKept) {
    WriteFile(path_, ManySections("Old", 10));
    const std::string rewritten = ManySections("Kept", 20);
    pid_t writer = -1;
    int edits = 0;
    const auto errors = EditIniFile(path_, 0644, [&](const std::string& current) {
        if (++edits == 1) {
            writer = fork();
            if (writer == 0) {
                // Not the edit's own descriptors: a writer shares none of them.
                close_range(3, ~0u, 0);
                const int fd = open(path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
                _exit(fd >= 0 &&
                              write(fd, rewritten.data(), rewritten.size()) == static_cast<ssize_t>(rewritten.size()) &&
                              close(fd) == 0
                          ? 0
                          : 1);
            }
            for (int i = 0; i < 2000 && !ALeaseIsBreaking(); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        return Append(current, "[Ours]\n");
    });
    int status = 0;
    ASSERT_GT(writer, 0);
    waitpid(writer, &status, 0);

    EXPECT_TRUE(errors.empty());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_GE(edits, 2) << "the edit did not start over after the writer came";
    EXPECT_EQ(ReadFile(path_), rewritten + "[Ours]\n");
}

// A writer of ours that dies while another holds the lock leaves no waiter
// queued behind it.
TEST_F(IniFileStoreTest, TheLockWaiterDiesWithItsWriter) {
    WriteFile(path_, "[A]\n");
    EXPECT_TRUE(EditIniFile(path_, 0644, [](const std::string& c) { return FileEdit{c, {}}; }).empty());
    const std::string lockPath = folder_.Dir() + "/.odbc.ini.lock";
    const int held = open(lockPath.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);

    const pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        close(held);
        EditIniFile(path_, 0644, [](const std::string& c) { return Append(c, "[B]\n"); });
        _exit(0);
    }
    // The writer's waiter is its only child; wait until it is there.
    const std::string children = "/proc/" + std::to_string(writer) + "/task/" + std::to_string(writer) + "/children";
    pid_t waiter = 0;
    for (int i = 0; i < 2000 && waiter == 0; ++i) {
        std::ifstream(children) >> waiter;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_GT(waiter, 0) << "the writer started no waiter";
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);

    // The waiter is nobody's child of ours, so its end shows as its /proc entry going.
    bool gone = false;
    for (int i = 0; i < 2000 && !gone; ++i) {
        gone = kill(waiter, 0) != 0 || [&] {
            std::ifstream stat("/proc/" + std::to_string(waiter) + "/stat");
            std::string pid, name, state;
            stat >> pid >> name >> state;
            return state == "Z" || state == "X";
        }();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!gone) {
        kill(waiter, SIGKILL);
    }
    close(held);
    EXPECT_TRUE(gone) << "the waiter outlived its writer";
    EXPECT_EQ(ReadFile(path_), "[A]\n");
}

} // namespace
} // namespace tarnwick::setup
