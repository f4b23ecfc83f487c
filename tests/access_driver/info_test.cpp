#include "info.h"

#include <cstring>

#include <gtest/gtest.h>

namespace access_driver {
namespace {

struct InfoCase {
    const char* name;
    SQLUSMALLINT type;
    InfoValue expected;
};

class InfoForTest : public testing::TestWithParam<InfoCase> {};

// The answers LibreOffice Base needs before it lists tables, and a few that
// say what the data source cannot do.
TEST_P(InfoForTest, AnswersWhatTheDataSourceIs) {
    const auto answer = OwnInfo(GetParam().type, {"sales", "/srv/sales.mdb"});
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(*answer, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Types, InfoForTest,
                         testing::Values(InfoCase{"catalog_usage", SQL_CATALOG_USAGE, SQLUINTEGER{0}},
                                         InfoCase{"file_usage", SQL_FILE_USAGE, SQLUSMALLINT{SQL_FILE_NOT_SUPPORTED}},
                                         InfoCase{"quoted_identifier_case", SQL_QUOTED_IDENTIFIER_CASE,
                                                  SQLUSMALLINT{SQL_IC_MIXED}},
                                         InfoCase{"read_only", SQL_DATA_SOURCE_READ_ONLY, std::string("Y")},
                                         InfoCase{"no_inserts", SQL_INSERT_STATEMENT, SQLUINTEGER{0}},
                                         InfoCase{"no_create_table", SQL_CREATE_TABLE, SQLUINTEGER{0}},
                                         InfoCase{"no_transactions", SQL_TXN_CAPABLE, SQLUSMALLINT{SQL_TC_NONE}},
                                         InfoCase{"data_source", SQL_DATA_SOURCE_NAME, std::string("sales")},
                                         InfoCase{"database", SQL_DATABASE_NAME, std::string("/srv/sales.mdb")},
                                         InfoCase{"dbms_name", SQL_DBMS_NAME, std::string("ACCESS")}),
                         [](const auto& info) { return std::string(info.param.name); });

// Limits and functions are SQLite's, and sqliteodbc answers them.
TEST(OwnInfo, LeavesSqliteAnswersToSqliteodbc) {
    EXPECT_FALSE(OwnInfo(SQL_MAX_TABLES_IN_SELECT, {}).has_value());
    EXPECT_FALSE(OwnInfo(SQL_STRING_FUNCTIONS, {}).has_value());
    EXPECT_FALSE(OwnInfo(9999, {}).has_value());
}

TEST(WriteInfo, CutsStringsToTheBufferAndSaysSo) {
    char buffer[4];
    SQLSMALLINT length = 0;
    EXPECT_EQ(WriteInfo(std::string("table"), buffer, sizeof buffer, &length), SQL_SUCCESS_WITH_INFO);
    EXPECT_STREQ(buffer, "tab");
    EXPECT_EQ(length, 5);
    SQLUINTEGER mask = 7;
    EXPECT_EQ(WriteInfo(SQLUINTEGER{0}, &mask, sizeof mask, &length), SQL_SUCCESS);
    EXPECT_EQ(mask, 0U);
    EXPECT_EQ(length, static_cast<SQLSMALLINT>(sizeof mask));
}

TEST(IsSupportedFunction, ReportsOnlyWhatWorks) {
    EXPECT_TRUE(IsSupportedFunction(SQL_API_SQLBINDPARAMETER));
    EXPECT_TRUE(IsSupportedFunction(SQL_API_SQLFETCHSCROLL));
    EXPECT_TRUE(IsSupportedFunction(SQL_API_SQLPRIMARYKEYS));
    // Positioned updates and bulk operations would write.
    EXPECT_FALSE(IsSupportedFunction(SQL_API_SQLSETPOS));
    EXPECT_FALSE(IsSupportedFunction(SQL_API_SQLBULKOPERATIONS));
}

} // namespace
} // namespace access_driver
