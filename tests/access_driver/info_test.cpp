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
  const auto answer = InfoFor(GetParam().type, "sales");
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(*answer, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Types, InfoForTest,
    testing::Values(InfoCase{"catalog_usage", SQL_CATALOG_USAGE, SQLUINTEGER{0}},
                    InfoCase{"file_usage", SQL_FILE_USAGE, SQLUSMALLINT{SQL_FILE_NOT_SUPPORTED}},
                    InfoCase{"quoted_identifier_case", SQL_QUOTED_IDENTIFIER_CASE, SQLUSMALLINT{SQL_IC_MIXED}},
                    InfoCase{"read_only", SQL_DATA_SOURCE_READ_ONLY, std::string("Y")},
                    InfoCase{"one_table", SQL_MAX_TABLES_IN_SELECT, SQLUSMALLINT{1}},
                    InfoCase{"no_transactions", SQL_TXN_CAPABLE, SQLUSMALLINT{SQL_TC_NONE}},
                    InfoCase{"data_source", SQL_DATA_SOURCE_NAME, std::string("sales")},
                    InfoCase{"mdbtools_name", SQL_DBMS_NAME, AskMdbtools{}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(InfoFor, UnknownTypeHasNoAnswer) { EXPECT_FALSE(InfoFor(9999, "").has_value()); }

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

TEST(ColumnAttributeFor, DerivesAttributesFromTheDescription) {
  ColumnFacts text{"Name", "Text", SQL_VARCHAR, 50, 0, SQL_NULLABLE, 50, 3};
  EXPECT_EQ(ColumnAttributeFor(SQL_DESC_NULLABLE, text), ColumnAttribute{SQLLEN{SQL_NULLABLE}});
  EXPECT_EQ(ColumnAttributeFor(SQL_DESC_UPDATABLE, text), ColumnAttribute{SQLLEN{SQL_ATTR_READONLY}});
  EXPECT_EQ(ColumnAttributeFor(SQL_DESC_LABEL, text), ColumnAttribute{std::string("Name")});
  EXPECT_EQ(ColumnAttributeFor(SQL_DESC_COUNT, text), ColumnAttribute{SQLLEN{3}});
  ColumnFacts date{"When", "DateTime", SQL_TYPE_TIMESTAMP, 19, 0, SQL_NULLABLE_UNKNOWN, 19, 1};
  EXPECT_EQ(ColumnAttributeFor(SQL_DESC_TYPE, date), ColumnAttribute{SQLLEN{SQL_DATETIME}});
  EXPECT_EQ(ColumnAttributeFor(SQL_DESC_CONCISE_TYPE, date), ColumnAttribute{SQLLEN{SQL_TYPE_TIMESTAMP}});
  EXPECT_FALSE(ColumnAttributeFor(9999, text).has_value());
}

TEST(IsSupportedFunction, ReportsOnlyWhatWorks) {
  EXPECT_TRUE(IsSupportedFunction(SQL_API_SQLBINDPARAMETER));
  EXPECT_TRUE(IsSupportedFunction(SQL_API_SQLNUMPARAMS));
  EXPECT_FALSE(IsSupportedFunction(SQL_API_SQLSETPOS));
  EXPECT_FALSE(IsSupportedFunction(SQL_API_SQLPRIMARYKEYS));
  EXPECT_FALSE(IsSupportedFunction(SQL_API_SQLPUTDATA));
}

}  // namespace
}  // namespace access_driver
