#include "attribute_list.h"

#include <string>

#include <gtest/gtest.h>

#include <odbcinst.h>

namespace tarnwick::setup {
namespace {

using namespace std::string_literals;

TEST(AttributeListTest, SplitsTheDialogListIntoEntriesInOrder) {
    const std::string list =
        "DSN=Sales\0FIL=MS Access\0JetIniPath=odbcddp.ini\0DBQ=sales.mdb\0DefaultDir=/srv/data/\0Description=\0UID=\0PWD=\0\0"s;
    const ParsedAttributes parsed = ParseAttributeList(list.c_str());

    EXPECT_TRUE(parsed.errors.empty());
    ASSERT_EQ(parsed.attributes.size(), 8u);
    EXPECT_EQ(parsed.attributes[0].keyword, "DSN");
    EXPECT_EQ(parsed.attributes[0].value, "Sales");
    EXPECT_EQ(parsed.attributes[1].value, "MS Access");
    EXPECT_EQ(parsed.attributes[4].keyword, "DefaultDir");
    EXPECT_EQ(parsed.attributes[4].value, "/srv/data/");
    EXPECT_EQ(parsed.attributes[7].keyword, "PWD");
    EXPECT_EQ(parsed.attributes[7].value, "");
}

TEST(AttributeListTest, SplitsAtTheFirstEqualsSignAndKeepsBytesVerbatim) {
    const std::string list = "DBQ= a=b.mdb \0Key With Blank=\xc3\xa9\0\0"s;
    const ParsedAttributes parsed = ParseAttributeList(list.c_str());

    ASSERT_EQ(parsed.attributes.size(), 2u);
    EXPECT_EQ(parsed.attributes[0].value, " a=b.mdb ");
    EXPECT_EQ(parsed.attributes[1].keyword, "Key With Blank");
    EXPECT_EQ(parsed.attributes[1].value, "\xc3\xa9");
}

TEST(AttributeListTest, ReportsAnEntryWithoutEqualsSignInsteadOfDroppingIt) {
    // What a ';' in the DSN name "a;b" leaves once the separators became NULs.
    const std::string list = "DSN=a\0b\0FIL=MS Access\0\0"s;
    const ParsedAttributes parsed = ParseAttributeList(list.c_str());

    ASSERT_EQ(parsed.errors.size(), 1u);
    EXPECT_EQ(parsed.errors[0].code, ODBC_ERROR_INVALID_KEYWORD_VALUE);
    EXPECT_NE(parsed.errors[0].message.find("\"b\""), std::string::npos) << parsed.errors[0].message;
    ASSERT_EQ(parsed.attributes.size(), 2u);
    EXPECT_EQ(parsed.attributes[1].keyword, "FIL");
}

TEST(AttributeListTest, EmptyAndNullListsHoldNothing) {
    EXPECT_TRUE(ParseAttributeList("\0\0").attributes.empty());
    EXPECT_TRUE(ParseAttributeList(nullptr).attributes.empty());
    EXPECT_TRUE(ParseAttributeList(nullptr).errors.empty());
}

TEST(AttributeListTest, FindsKeywordsRegardlessOfCase) {
    const std::string list = "dsn=x\0Dbq=y\0\0"s;
    const ParsedAttributes parsed = ParseAttributeList(list.c_str());
    ASSERT_NE(FindAttribute(parsed.attributes, "DSN"), nullptr);
    EXPECT_EQ(FindAttribute(parsed.attributes, "DBQ")->value, "y");
    EXPECT_EQ(FindAttribute(parsed.attributes, "DefaultDir"), nullptr);
}

TEST(AttributeListTest, ExcerptsAreBoundedAndPrintable) {
    EXPECT_EQ(Excerpt("a\nb\x7f"), "a?b?");
    const std::string excerpt = Excerpt(std::string(500, 'x'));
    EXPECT_EQ(excerpt, std::string(60, 'x') + "...");
}

} // namespace
} // namespace tarnwick::setup
