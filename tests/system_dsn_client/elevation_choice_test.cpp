// Which requests the elevating installer sends to the helper. unixODBC reads
// ODBCSYSINI once per process, and the choice depends on the user, so every
// case is decided in a child of its own, with its own folder and user; this
// process never asks unixODBC for the folder itself.
#include "system_dsn_client/elevating_installer.h"

#include <filesystem>
#include <ostream>
#include <string>

#include <gtest/gtest.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "dsn/create_dsn.h"

namespace {

enum class User { Root, Regular };

struct Choice {
    const char* name;
    User user;
    mode_t folderMode;
    bool folderOwnedByUser;
    std::uint16_t request;
    bool usesHelper;
    friend void PrintTo(const Choice& c, std::ostream* os) { *os << c.name; }
};

class ElevationChoice : public ::testing::TestWithParam<Choice> {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarnwick-choice-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::string folder_;
};

// As root the regular user is nobody; as anyone else it is that user, and
// the cases that need a folder owned by someone else are skipped.
TEST_P(ElevationChoice, FollowsTheUserAndTheSystemFolder) {
    const Choice& choice = GetParam();
    const bool root = geteuid() == 0;
    if (!root && (choice.user == User::Root || !choice.folderOwnedByUser)) {
        GTEST_SKIP() << "needs root to switch users and own folders";
    }
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    if (root && choice.user == User::Regular && choice.folderOwnedByUser) {
        ASSERT_EQ(chown(folder_.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    }
    ASSERT_EQ(chmod(folder_.c_str(), choice.folderMode), 0);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        setenv("ODBCSYSINI", folder_.c_str(), 1);
        if (root && choice.user == User::Regular &&
            (setgroups(0, nullptr) != 0 || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)) {
            _exit(3);
        }
        _exit(dsn::ElevatingInstaller::UsesHelper(choice.request) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), choice.usesHelper ? 1 : 0);
}

constexpr std::uint16_t AddUserDsn = 1; // ODBC_ADD_DSN

INSTANTIATE_TEST_SUITE_P(
    Cases, ElevationChoice,
    ::testing::Values(Choice{"RootWritableFolder", User::Root, 0755, false, dsn::AddSystemDsnRequest, false},
                      Choice{"RootReadOnlyFolder", User::Root, 0555, false, dsn::AddSystemDsnRequest, false},
                      Choice{"UserOwnWritableFolder", User::Regular, 0755, true, dsn::AddSystemDsnRequest, false},
                      Choice{"UserOwnReadOnlyFolder", User::Regular, 0555, true, dsn::AddSystemDsnRequest, true},
                      Choice{"UserRootsFolder", User::Regular, 0755, false, dsn::AddSystemDsnRequest, true},
                      Choice{"UserDataSourceRequest", User::Regular, 0555, true, AddUserDsn, false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
