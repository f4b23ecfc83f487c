#include "data_source_rules.h"

#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <odbcinst.h>

namespace tarnwick::setup {
namespace {

using namespace std::string_literals;

struct NameCase {
    const char* label;
    std::string name;
    bool accepted;
    const char* because; // part of the message when refused
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const NameCase& c, std::ostream* out) { *out << c.label; }

class DataSourceNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(DataSourceNameTest, AcceptsOrRefusesWithItsReason) {
    const NameCase& c = GetParam();
    const auto errors = CheckDataSourceName(c.name);
    if (c.accepted) {
        EXPECT_TRUE(errors.empty()) << errors.front().message;
        return;
    }
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.front().code, ODBC_ERROR_INVALID_DSN);
    EXPECT_NE(errors.front().message.find(c.because), std::string::npos) << errors.front().message;
}

INSTANTIATE_TEST_SUITE_P(
    Names, DataSourceNameTest,
    ::testing::Values(
        NameCase{"Plain", "Sales", true, ""}, NameCase{"InnerBlanksAndDots", "Sales 2024.v1", true, ""},
        NameCase{"Utf8",
                 "\xc3\x9c"
                 "bersicht",
                 true, ""},
        NameCase{"ThirtyTwoBytes", std::string(32, 'n'), true, ""}, NameCase{"Empty", "", false, "empty"},
        NameCase{"ThirtyThreeBytes", std::string(33, 'n'), false, "33 bytes"},
        NameCase{"Semicolon", "a;b", false, "character ;"}, NameCase{"Brackets", "[Injected]", false, "characters []"},
        NameCase{"Braces", "a{b}", false, "{}"}, NameCase{"Equals", "a=b", false, "="},
        NameCase{"Backslash", "a\\b", false, "\\"}, NameCase{"At", "me@host", false, "@"},
        NameCase{"LineBreak", "a\nb", false, "control character"}, NameCase{"Tab", "a\tb", false, "control character"},
        NameCase{"Delete", "a\x7f", false, "control character"}, NameCase{"Nul", "a\0b"s, false, "control character"},
        NameCase{"C1NextLine",
                 "a\xc2\x85"
                 "b",
                 false, "control character"},
        NameCase{"C1First", "\xc2\x80", false, "control character"},
        NameCase{"C1Last", "x\xc2\x9f", false, "control character"},
        NameCase{"NoBreakSpaceIsNoControl",
                 "a\xc2\xa0"
                 "b",
                 true, ""},
        NameCase{"ThreeAndFourByteCharacters", "\xe2\x82\xac \xf0\x9f\x98\x80", true, ""},
        NameCase{"LoneC1Byte", "a\x85", false, "not valid UTF-8 (byte 2 is 0x85)"},
        NameCase{"Latin1",
                 "\xdc"
                 "bersicht",
                 false, "not valid UTF-8 (byte 1 is 0xDC)"},
        NameCase{"TruncatedSequence", "ab\xe2\x82", false, "not valid UTF-8 (byte 3"},
        NameCase{"StrayContinuation", "\xbf", false, "not valid UTF-8"},
        NameCase{"OverlongSlash", "a\xc0\xaf", false, "not valid UTF-8 (byte 2"},
        NameCase{"OverlongThreeBytes", "\xe0\x80\xaf", false, "not valid UTF-8"},
        NameCase{"Surrogate", "\xed\xa0\x80", false, "not valid UTF-8"},
        NameCase{"BeyondUnicode", "\xf4\x90\x80\x80", false, "not valid UTF-8"},
        NameCase{"InvalidShownEscaped", "a\xffz", false, "\"a\\xFFz\""},
        NameCase{"C1ShownEscaped", "a\xc2\x85z", false, "\"a\\xC2\\x85z\""},
        NameCase{"LeadingBlank", " Sales", false, "blank"}, NameCase{"TrailingBlank", "Sales ", false, "blank"},
        NameCase{"SettingsSection", "odbc", false, "reserved"},
        NameCase{"DataSourcesSection", "ODBC Data Sources", false, "reserved"},
        NameCase{"DataSourcesSectionAnyCase", "odbc DATA sources", false, "reserved"},
        NameCase{"FallbackSection", "Default", false, "reserved"},
        NameCase{"FallbackSectionAnyCase", "DEFAULT", false, "reserved"},
        NameCase{"FallbackAsPrefix", "Defaults", true, ""}),
    [](const auto& info) { return std::string(info.param.label); });

struct AttributeCase {
    const char* label;
    std::vector<Attribute> attributes;
    const char* because; // empty when accepted
};

void PrintTo(const AttributeCase& c, std::ostream* out) { *out << c.label; }

class AttributeRulesTest : public ::testing::TestWithParam<AttributeCase> {};

TEST_P(AttributeRulesTest, AcceptsOrRefusesWithItsReason) {
    const AttributeCase& c = GetParam();
    const auto errors = CheckAttributes(c.attributes);
    if (std::string(c.because).empty()) {
        EXPECT_TRUE(errors.empty()) << errors.front().message;
        return;
    }
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors.front().code, ODBC_ERROR_INVALID_KEYWORD_VALUE);
    EXPECT_NE(errors.front().message.find(c.because), std::string::npos) << errors.front().message;
}

INSTANTIATE_TEST_SUITE_P(
    Attributes, AttributeRulesTest,
    ::testing::Values(
        AttributeCase{"DialogList", {{"DSN", "S"}, {"FIL", "MS Access"}, {"DBQ", "a b.mdb"}, {"PWD", ""}}, ""},
        AttributeCase{"LineOf999Bytes", {{"K", std::string(997, 'v')}}, ""},
        AttributeCase{"LineOf1000Bytes", {{"K", std::string(998, 'v')}}, "1000 bytes"},
        AttributeCase{"DriverKeyword", {{"driver", "/tmp/x.so"}}, "Driver is not accepted"},
        AttributeCase{"RepeatedKeyword", {{"DBQ", "a"}, {"dbq", "b"}}, "more than once"},
        AttributeCase{"RepeatedDsn", {{"DSN", "a"}, {"DSN", "b"}}, "more than once"},
        AttributeCase{"EmptyKeyword", {{"", "x"}}, "no keyword"},
        AttributeCase{"BracketKeyword", {{"[Evil]", "x"}}, "bracket"},
        AttributeCase{"CommentKeyword", {{"#Key", "x"}}, "comment"},
        AttributeCase{"SemicolonCommentKeyword", {{";Key", "x"}}, "comment"},
        AttributeCase{"BlankAroundKeyword", {{"Key ", "x"}}, "blank"},
        AttributeCase{"ControlInKeyword", {{"K\x01", "x"}}, "control"},
        AttributeCase{"UnderscoreKeyword", {{"_Key", "x"}}, "letter or digit"},
        AttributeCase{"NonAsciiKeyword", {{"\xc3\x89t\xc3\xa9", "x"}}, "letter or digit"},
        AttributeCase{"DigitKeyword", {{"1st", "x"}}, ""},
        AttributeCase{"LineBreakInValue", {{"DBQ", "/a.mdb\n[Injected]\nDriver=Evil"}}, "line break"},
        AttributeCase{"CarriageReturnInValue", {{"DBQ", "a\r"}}, "line break"},
        AttributeCase{"TrailingBlankInValue", {{"DefaultDir", "/data "}}, "blank"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(DriverNameTest, RefusesNamesThatCannotBeStored) {
    EXPECT_TRUE(CheckDriverName("Microsoft Access Driver (*.mdb)").empty());
    EXPECT_EQ(CheckDriverName("").front().code, ODBC_ERROR_INVALID_NAME);
    EXPECT_EQ(CheckDriverName("x\n[Evil]").front().code, ODBC_ERROR_INVALID_NAME);
}

struct PathCase {
    const char* label;
    const char* dbq;
    const char* defaultDir;
    const char* currentDirectory;
    const char* expected;
};

void PrintTo(const PathCase& c, std::ostream* out) { *out << c.label; }

class DatabasePathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(DatabasePathTest, JoinsIntoAFullPath) {
    const PathCase& c = GetParam();
    EXPECT_EQ(DatabasePath(c.dbq, c.defaultDir, c.currentDirectory), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, DatabasePathTest,
    ::testing::Values(PathCase{"AbsoluteDbqWins", "/srv/a.mdb", "/other/", "/cwd", "/srv/a.mdb"},
                      PathCase{"DirectoryWithSlash", "a.mdb", "/srv/data/", "/cwd", "/srv/data/a.mdb"},
                      PathCase{"DirectoryWithoutSlash", "a.mdb", "/srv/data", "/cwd", "/srv/data/a.mdb"},
                      PathCase{"RootDirectory", "a.mdb", "/", "/cwd", "/a.mdb"},
                      PathCase{"EmptyDirectoryMeansCurrent", "a.mdb", "", "/home/u", "/home/u/a.mdb"},
                      PathCase{"CurrentIsRoot", "a.mdb", "", "/", "/a.mdb"},
                      PathCase{"RelativeDirectoryUnderCurrent", "a.mdb", "data/", "/home/u", "/home/u/data/a.mdb"},
                      PathCase{"RelativeDbqWithFolder", "sub/a.mdb", "/srv", "/cwd", "/srv/sub/a.mdb"}),
    [](const auto& info) { return std::string(info.param.label); });

} // namespace
} // namespace tarnwick::setup
