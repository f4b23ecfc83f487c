#include "dsn/error_messages.h"

#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

namespace {

struct CodeCase {
    int code;
    const char* message; // null: no message
    friend void PrintTo(const CodeCase& c, std::ostream* os) { *os << "code " << c.code; }
};

class ResultCode : public ::testing::TestWithParam<CodeCase> {};

TEST_P(ResultCode, HasItsMessage) {
    const CodeCase& c = GetParam();
    const char* message = dsn::LookupErrorMessage(static_cast<std::int8_t>(c.code));
    if (c.message == nullptr) {
        EXPECT_EQ(message, nullptr);
    } else {
        ASSERT_NE(message, nullptr);
        EXPECT_STREQ(message, c.message);
    }
    EXPECT_EQ(message, ErrorMessages[c.code]);
}

TEST_P(ResultCode, AsksForInstallerDetailOnlyFrom7To10) {
    const CodeCase& c = GetParam();
    EXPECT_EQ(dsn::AsksForInstallerDetail(dsn::LookupErrorMessage(static_cast<std::int8_t>(c.code))),
              c.code >= 7 && c.code <= 10);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ResultCode,
    ::testing::Values(
        CodeCase{0, nullptr}, CodeCase{1, "Incorrect or missing command line parameters"},
        CodeCase{2, "Not enough space to back up database file on target disk"},
        CodeCase{3, "Could not exclusively lock file, as it is being used by another process"},
        CodeCase{4, "Error opening MDB file or file not found"},
        CodeCase{5, "Could not locate the directory containing the MDB file"},
        CodeCase{6, "Could not locate the specified working directory"},
        CodeCase{7, "Error compacting database (CompactDb):"}, CodeCase{8, "Error creating database (CreateDb):"},
        CodeCase{9, "Error repairing database (RepairDb):"}, CodeCase{10, "Error creating DSN (CreateDSN):"},
        CodeCase{11, "Could not get the size of the MDB file"},
        CodeCase{12, "Could not get the free byte count of the target volume"},
        CodeCase{13, "Could not rename database to temporary working name"},
        CodeCase{14, "Could not create a backup copy of the database"},
        CodeCase{15, "The Jet driver requires a pathname with no spaces, and I could not get\n an alternate pathname "
                     "for the path you specified."},
        CodeCase{16, "Could not restore the MDB file back to its original location"}),
    [](const ::testing::TestParamInfo<CodeCase>& info) { return "Code" + std::to_string(info.param.code); });

class CodeOutsideTable : public ::testing::TestWithParam<int> {};

// Never produced, but not success either: a message of its own, no installer
// detail, and (under AddressSanitizer) no read outside the table.
TEST_P(CodeOutsideTable, GetsTheUnknownMessage) {
    const char* message = dsn::LookupErrorMessage(static_cast<std::int8_t>(GetParam()));
    EXPECT_STREQ(message, dsn::UnknownResultMessage);
    EXPECT_FALSE(dsn::AsksForInstallerDetail(message));
}

INSTANTIATE_TEST_SUITE_P(Codes, CodeOutsideTable, ::testing::Values(-128, -1, 17, 18, 127),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return (info.param < 0 ? "Minus" : "") + std::to_string(std::abs(info.param));
                         });

TEST(DetailTest, LooksAtTheLastByteOnly) {
    EXPECT_TRUE(dsn::AsksForInstallerDetail(":"));
    EXPECT_TRUE(dsn::AsksForInstallerDetail("a: b:"));
    EXPECT_FALSE(dsn::AsksForInstallerDetail("a: "));
    EXPECT_FALSE(dsn::AsksForInstallerDetail(":\n"));
    EXPECT_FALSE(dsn::AsksForInstallerDetail(""));
    EXPECT_FALSE(dsn::AsksForInstallerDetail(nullptr));
}

} // namespace
