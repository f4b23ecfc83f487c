#include "ini_file_store.h"

#include <string>

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
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

} // namespace
} // namespace tarnwick::setup
