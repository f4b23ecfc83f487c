#include "dsn/attribute_list.h"

#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

// The list as the installer reads it: entries up to the empty one.
std::vector<std::string> Entries(const std::vector<char>& list) {
    std::vector<std::string> entries;
    for (const char* entry = list.data(); *entry != '\0'; entry += entries.back().size() + 1) {
        entries.emplace_back(entry);
    }
    return entries;
}

std::string Expected(const std::string& dsnName, const std::string& database, const std::string& directory) {
    return "DSN=" + dsnName + ";FIL=MS Access;JetIniPath=odbcddp.ini;DBQ=" + database + ";DefaultDir=" + directory +
           ";Description=;UID=;PWD=;;";
}

TEST(AttributeList, SalesExampleBeforeConversion) {
    EXPECT_EQ(dsn::FormatAttributeText("Sales", "sales.mdb", "C:\\Data"),
              "DSN=Sales;FIL=MS Access;JetIniPath=odbcddp.ini;DBQ=sales.mdb;DefaultDir=C:\\Data;"
              "Description=;UID=;PWD=;;");
}

TEST(AttributeList, SalesExampleIsNulSeparatedAndEndsInThreeNuls) {
    const std::vector<char> list = dsn::BuildAttributeList("Sales", "sales.mdb", "C:\\Data");
    const std::string expected = "DSN=Sales\0FIL=MS Access\0JetIniPath=odbcddp.ini\0DBQ=sales.mdb\0"
                                 "DefaultDir=C:\\Data\0Description=\0UID=\0PWD=\0\0\0"s;
    EXPECT_EQ(std::string(list.begin(), list.end()), expected);
    EXPECT_EQ(Entries(list),
              (std::vector<std::string>{"DSN=Sales", "FIL=MS Access", "JetIniPath=odbcddp.ini", "DBQ=sales.mdb",
                                        "DefaultDir=C:\\Data", "Description=", "UID=", "PWD="}));
}

TEST(AttributeList, SemicolonInAValueCutsItIntoTwoEntries) {
    const std::vector<char> list = dsn::BuildAttributeList("a;b", "x.mdb", "/srv/");
    EXPECT_EQ(Entries(list),
              (std::vector<std::string>{"DSN=a", "b", "FIL=MS Access", "JetIniPath=odbcddp.ini", "DBQ=x.mdb",
                                        "DefaultDir=/srv/", "Description=", "UID=", "PWD="}));
}

TEST(AttributeList, ValuesAreInsertedVerbatim) {
    // Conversions in a value are text, not format directives; blanks and
    // UTF-8 stay as they are.
    const std::string dsnName = " %s %n %% ";
    const std::string database = "Müller data.mdb";
    const std::string directory = "/tmp/a b\\";
    EXPECT_EQ(dsn::FormatAttributeText(dsnName.c_str(), database.c_str(), directory.c_str()),
              Expected(dsnName, database, directory));
}

TEST(AttributeList, NullValueCountsAsEmpty) {
    EXPECT_EQ(dsn::FormatAttributeText(nullptr, "d.mdb", nullptr), Expected("", "d.mdb", ""));
}

struct LongValues {
    const char* name;
    std::size_t dsnLength;
    std::size_t databaseLength;
    std::size_t directoryLength;
    friend void PrintTo(const LongValues& v, std::ostream* os) {
        *os << v.dsnLength << "+" << v.databaseLength << "+" << v.directoryLength << " bytes";
    }
};

class AttributeListLength : public ::testing::TestWithParam<LongValues> {};

// The list is always the template's 84 bytes plus the values, byte for byte:
// it is never cut short, and AddressSanitizer sees any write past its end.
TEST_P(AttributeListLength, HoldsEveryByte) {
    const LongValues& values = GetParam();
    const std::string dsnName(values.dsnLength, 'N');
    const std::string database(values.databaseLength, 'b');
    const std::string directory(values.directoryLength, 'd');

    const std::vector<char> list = dsn::BuildAttributeList(dsnName.c_str(), database.c_str(), directory.c_str());

    std::string expected = Expected(dsnName, database, directory);
    for (char& byte : expected) {
        if (byte == ';') {
            byte = '\0';
        }
    }
    expected.push_back('\0');
    ASSERT_EQ(list.size(), 84 + values.dsnLength + values.databaseLength + values.directoryLength);
    EXPECT_TRUE(std::string(list.begin(), list.end()) == expected);
    EXPECT_EQ(Entries(list).size(), 8u);
}

INSTANTIATE_TEST_SUITE_P(Values, AttributeListLength,
                         ::testing::Values(LongValues{"Empty", 0, 0, 0}, LongValues{"Exactly636InTotal", 32, 300, 304},
                                           LongValues{"OneByteMoreThan636", 32, 300, 305},
                                           LongValues{"LongDirectory", 8, 9, 70000},
                                           LongValues{"AllFarLonger", 100000, 200000, 300000}),
                         [](const ::testing::TestParamInfo<LongValues>& info) { return std::string(info.param.name); });

struct SemicolonCase {
    const char* name;
    std::string before; // includes the terminator and whatever lies after it
    std::string after;
    friend void PrintTo(const SemicolonCase& c, std::ostream* os) { *os << c.name; }
};

class ReplaceSemicolonsTest : public ::testing::TestWithParam<SemicolonCase> {};

TEST_P(ReplaceSemicolonsTest, ConvertsUpToTheOriginalTerminator) {
    std::string buffer = GetParam().before;
    ReplaceSemicolons(buffer.data());
    EXPECT_EQ(buffer, GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(Buffers, ReplaceSemicolonsTest,
                         ::testing::Values(SemicolonCase{"NoSemicolon", "abc\0"s, "abc\0"s},
                                           SemicolonCase{"Empty", "\0;"s, "\0;"s},
                                           // Taking the length again after the first change would stop here.
                                           SemicolonCase{"EverySeparator", "a;b;c;;\0"s, "a\0b\0c\0\0\0"s},
                                           SemicolonCase{"OnlySemicolons", ";;;\0"s, "\0\0\0\0"s},
                                           SemicolonCase{"NothingPastTheTerminator", "x;y\0;z"s, "x\0y\0;z"s}),
                         [](const ::testing::TestParamInfo<SemicolonCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
