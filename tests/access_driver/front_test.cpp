#include <map>
#include <string>

#include <gtest/gtest.h>

#include "catalog.h"
#include "connection_string.h"
#include "wide.h"

namespace access_driver {
namespace {

struct ParseCase {
    const char* name;
    const char* text;
    std::map<std::string, std::string> expected; // keys as a client would spell them
};

class ParseConnectionStringTest : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseConnectionStringTest, ReadsThePairs) {
    const auto parsed = ParseConnectionString(GetParam().text);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->size(), GetParam().expected.size());
    for (const auto& [key, value] : GetParam().expected) {
        const auto found = parsed->find(key);
        ASSERT_NE(found, parsed->end()) << key;
        EXPECT_EQ(found->second, value) << key;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Strings, ParseConnectionStringTest,
    testing::Values(
        ParseCase{"keywords_without_case", "dsn=Sales;dbq=/srv/a.mdb", {{"DSN", "Sales"}, {"DBQ", "/srv/a.mdb"}}},
        ParseCase{"spaces_and_empty_pairs", " DSN = Sales ;; ;DBQ=x.mdb;", {{"DSN", "Sales"}, {"DBQ", "x.mdb"}}},
        ParseCase{
            "braced_value_with_separators", "DBQ={/srv/a;b=c}}.mdb};DSN=S", {{"DBQ", "/srv/a;b=c}.mdb"}, {"DSN", "S"}}},
        ParseCase{"first_pair_counts", "DSN=One;dsn=Two", {{"DSN", "One"}}},
        ParseCase{"pair_without_equals_skipped", "Sales;DBQ=a.mdb", {{"DBQ", "a.mdb"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ParseConnectionString, RefusesAnUnterminatedBrace) {
    EXPECT_FALSE(ParseConnectionString("DBQ={/srv/a.mdb;DSN=S").has_value());
}

struct PathCase {
    const char* name;
    std::map<std::string, std::string> keys;
    const char* expected;
};

class DatabasePathTest : public testing::TestWithParam<PathCase> {};

TEST_P(DatabasePathTest, FindsTheFile) {
    const auto& keys = GetParam().keys;
    const std::string path = DatabasePath([&](const char* key) {
        const auto found = keys.find(key);
        return found == keys.end() ? std::string() : found->second;
    });
    EXPECT_EQ(path, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, DatabasePathTest,
    testing::Values(PathCase{"absolute_dbq", {{"DBQ", "/srv/a.mdb"}, {"Database", "/other.mdb"}}, "/srv/a.mdb"},
                    PathCase{"dbq_in_default_dir", {{"DBQ", "a.mdb"}, {"DefaultDir", "/srv/"}}, "/srv/a.mdb"},
                    PathCase{"default_dir_without_slash", {{"DBQ", "a.mdb"}, {"DefaultDir", "/srv"}}, "/srv/a.mdb"},
                    PathCase{"relative_default_dir_resolved_by_the_installer",
                             {{"DBQ", "a.mdb"}, {"DefaultDir", "data"}, {"Database", "/home/u/data/a.mdb"}},
                             "/home/u/data/a.mdb"},
                    PathCase{"relative_dbq_and_database", {{"DBQ", "a.mdb"}, {"Database", "/srv/a.mdb"}}, "/srv/a.mdb"},
                    PathCase{"database_only", {{"Database", "/srv/b.mdb"}}, "/srv/b.mdb"}, PathCase{"nothing", {}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BackendConnectionString, RefusesAPathThatWouldSplitTheString) {
    EXPECT_FALSE(BackendConnectionString("/opt/a;b/libtarnwick-mdbodbc.so").has_value());
    EXPECT_FALSE(BackendConnectionString("/opt/a,b/libtarnwick-mdbodbc.so").has_value());
    const auto text = BackendConnectionString("/usr/lib/libtarnwick-mdbodbc.so");
    ASSERT_TRUE(text.has_value());
    EXPECT_NE(text->find("LoadExt=/usr/lib/libtarnwick-mdbodbc.so;"), std::string::npos);
    EXPECT_NE(text->find("Database=:memory:;"), std::string::npos);
}

TEST(TablesQuery, BindsThePatternAndTheTypesNeverPastesThem) {
    const auto query = TablesQuery(std::nullopt, std::nullopt, "Cust%", "'TABLE', 'SYSTEM TABLE'");
    EXPECT_EQ(query.parameters, (std::vector<std::string>{"Cust%", "TABLE", "SYSTEM TABLE"}));
    EXPECT_EQ(query.sql.find("Cust"), std::string::npos);
    EXPECT_NE(query.sql.find("type IN (?, ?)"), std::string::npos);
}

TEST(TablesQuery, EnumerationsAndForeignCatalogsHaveNoTables) {
    EXPECT_NE(TablesQuery("%", "", "", std::nullopt).sql.find("WHERE 0"), std::string::npos);
    EXPECT_NE(TablesQuery("", "%", "", std::nullopt).sql.find("WHERE 0"), std::string::npos);
    EXPECT_NE(TablesQuery("other", std::nullopt, std::nullopt, std::nullopt).sql.find("WHERE 0"), std::string::npos);
    const auto types = TablesQuery("", "", "", "%");
    EXPECT_NE(types.sql.find("'SYSTEM TABLE'"), std::string::npos);
    EXPECT_TRUE(types.parameters.empty());
}

struct WideCase {
    const char* name;
    std::u16string utf16;
    std::string utf8;
};

class WideTest : public testing::TestWithParam<WideCase> {};

TEST_P(WideTest, ConvertsBothWays) {
    const auto& c = GetParam();
    EXPECT_EQ(ToUtf8(reinterpret_cast<const SQLWCHAR*>(c.utf16.c_str()), SQL_NTS), c.utf8);
    EXPECT_EQ(ToUtf8(reinterpret_cast<const SQLWCHAR*>(c.utf16.data()), static_cast<SQLINTEGER>(c.utf16.size())),
              c.utf8);
    EXPECT_EQ(ToUtf16(c.utf8), c.utf16);
}

INSTANTIATE_TEST_SUITE_P(Texts, WideTest,
                         testing::Values(WideCase{"ascii", u"O'Brien", "O'Brien"}, WideCase{"cyrillic", u"Мир", "Мир"},
                                         WideCase{"latin", u"ääkkösiä", "ääkkösiä"},
                                         WideCase{"beyond_bmp", u"a\U0001F600b", "a\U0001F600b"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Wide, DamagedTextBecomesReplacementCharacters) {
    const char16_t lone[] = {u'a', 0xD800, u'b', 0};
    EXPECT_EQ(ToUtf8(reinterpret_cast<const SQLWCHAR*>(lone), SQL_NTS), "a\xEF\xBF\xBD"
                                                                        "b");
    EXPECT_EQ(ToUtf16("a\xC3"), u"a\uFFFD");
    EXPECT_EQ(ToUtf16("\xC0\x80"), u"\uFFFD\uFFFD"); // an overlong NUL: two bad bytes
}

TEST(Wide, TextEndsAtANulCountedInItsLength) {
    const char16_t text[] = u"TABLE";
    EXPECT_EQ(ToUtf8(reinterpret_cast<const SQLWCHAR*>(text), 6), "TABLE");
}

TEST(WriteWide, CutsToTheBufferWithoutSplittingAPair) {
    SQLWCHAR buffer[3] = {1, 1, 1};
    SQLINTEGER length = 0;
    EXPECT_TRUE(WriteWide("a\U0001F600", buffer, 3, &length));
    EXPECT_EQ(length, 3);
    EXPECT_EQ(buffer[0], u'a');
    EXPECT_EQ(buffer[1], 0);
    EXPECT_FALSE(WriteWide("ab", buffer, 3, &length));
    EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(buffer)), u"ab");
}

} // namespace
} // namespace access_driver
