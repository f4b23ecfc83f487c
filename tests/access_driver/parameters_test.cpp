#include "parameters.h"

#include <cstring>

#include <gtest/gtest.h>

#include "indicators.h"

namespace access_driver {
namespace {

struct MarkerCase {
  const char* name;
  const char* sql;
  std::vector<std::size_t> markers;
};

class FindMarkersTest : public testing::TestWithParam<MarkerCase> {};

TEST_P(FindMarkersTest, FindsMarkersOutsideQuotes) {
  EXPECT_EQ(FindMarkers(GetParam().sql), GetParam().markers);
}

INSTANTIATE_TEST_SUITE_P(
    Statements, FindMarkersTest,
    testing::Values(MarkerCase{"none", "select * from t", {}},
                    MarkerCase{"two", "select * from t where a = ? and b = ?", {26, 36}},
                    MarkerCase{"in_string", "select * from t where a = '?' and b = ?", {38}},
                    MarkerCase{"doubled_quote", "select * from t where a = 'it''s ?' and b=?", {42}},
                    MarkerCase{"quoted_name", "select \"a?\" from [t?] where x=?", {30}},
                    MarkerCase{"unterminated", "select * from t where a = '?", {}}),
    [](const auto& info) { return std::string(info.param.name); });

ParameterBinding Text(const char* value, SQLSMALLINT sql_type = SQL_VARCHAR) {
  return {SQL_C_CHAR, sql_type, const_cast<char*>(value), 0, nullptr};
}

struct LiteralCase {
  const char* name;
  ParameterBinding binding;
  const char* literal;  // nullptr: refused
};

const std::string long_text(256, 'a');
SQLINTEGER big_integer = 2000000000;
SQLBIGINT too_big = 5000000000LL;
SQLDOUBLE real = 1e20;
SQLDOUBLE half = -0.5;
SQL_DATE_STRUCT date{1974, 9, 21};
SQL_DATE_STRUCT bad_date{2023, 2, 29};
SQL_TIMESTAMP_STRUCT stamp{1981, 12, 12, 13, 45, 1, 0};
SQL_TIMESTAMP_STRUCT fraction{1981, 12, 12, 13, 45, 1, 5};
SQLLEN null_data = SQL_NULL_DATA;
SQLWCHAR wide[] = {0x41C, 0x438, 0x440, 0};

class MakeLiteralTest : public testing::TestWithParam<LiteralCase> {};

TEST_P(MakeLiteralTest, SpellsOrRefuses) {
  const Literal literal = MakeLiteral(GetParam().binding);
  if (GetParam().literal) {
    ASSERT_TRUE(std::holds_alternative<std::string>(literal)) << std::get<Refusal>(literal).message;
    EXPECT_EQ(std::get<std::string>(literal), GetParam().literal);
  } else {
    ASSERT_TRUE(std::holds_alternative<Refusal>(literal)) << std::get<std::string>(literal);
    EXPECT_FALSE(std::get<Refusal>(literal).message.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Values, MakeLiteralTest,
    testing::Values(
        LiteralCase{"text", Text("abc def"), "'abc def'"},
        LiteralCase{"hostile_text", Text("x' OR 'a'='a"), nullptr},
        LiteralCase{"long_text", Text(long_text.c_str()), nullptr},
        LiteralCase{"wide_text", {SQL_C_WCHAR, SQL_WVARCHAR, wide, sizeof wide, nullptr}, "'Мир'"},
        LiteralCase{"text_as_integer", Text(" 42 ", SQL_INTEGER), "42"},
        LiteralCase{"text_not_integer", Text("42 OR 1=1", SQL_INTEGER), nullptr},
        LiteralCase{"integer", {SQL_C_SLONG, SQL_INTEGER, &big_integer, 0, nullptr}, "2000000000"},
        LiteralCase{"integer_beyond_int", {SQL_C_SBIGINT, SQL_BIGINT, &too_big, 0, nullptr}, nullptr},
        LiteralCase{"real_gets_point", {SQL_C_DOUBLE, SQL_DOUBLE, &real, 0, nullptr}, "1.0e+20"},
        LiteralCase{"negative_real", {SQL_C_DOUBLE, SQL_DOUBLE, &half, 0, nullptr}, "-0.5"},
        LiteralCase{"text_not_number", Text("1; drop", SQL_DOUBLE), nullptr},
        LiteralCase{"date", {SQL_C_TYPE_DATE, SQL_TYPE_DATE, &date, 0, nullptr},
                    "strptime( '1974-09-21 00:00:00' , '%Y-%m-%d %H:%M:%S' )"},
        LiteralCase{"text_as_date", Text("1974-09-21 10:00:00", SQL_TYPE_TIMESTAMP),
                    "strptime( '1974-09-21 10:00:00' , '%Y-%m-%d %H:%M:%S' )"},
        LiteralCase{"no_29_february", {SQL_C_TYPE_DATE, SQL_TYPE_DATE, &bad_date, 0, nullptr}, nullptr},
        LiteralCase{"timestamp", {SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, &stamp, 0, nullptr},
                    "strptime( '1981-12-12 13:45:01' , '%Y-%m-%d %H:%M:%S' )"},
        LiteralCase{"fraction_refused", {SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, &fraction, 0, nullptr}, nullptr},
        LiteralCase{"text_not_date", Text("1974-09-21' OR", SQL_TYPE_DATE), nullptr},
        LiteralCase{"null_refused", {SQL_C_CHAR, SQL_VARCHAR, const_cast<char*>("x"), 0, &null_data}, nullptr},
        LiteralCase{"binary_refused", {SQL_C_BINARY, SQL_VARBINARY, const_cast<char*>("x"), 1, nullptr}, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Substitute, ReplacesEachMarkerInOrderWithBlanksAround) {
  const std::string sql = "select a from t where a = ? and b=?";
  std::map<SQLUSMALLINT, ParameterBinding> parameters{{1, Text("x")}, {2, Text("7", SQL_INTEGER)}};
  const auto out = Substitute(sql, FindMarkers(sql), parameters);
  ASSERT_TRUE(std::holds_alternative<std::string>(out));
  EXPECT_EQ(std::get<std::string>(out), "select a from t where a =  'x'  and b= 7 ");
}

TEST(Substitute, RefusesUnboundAndOverlongStatements) {
  const std::string sql = "select a from t where a = ?";
  EXPECT_EQ(std::get<Refusal>(Substitute(sql, FindMarkers(sql), {})).sql_state, "07002");
  const std::string text(250, 'a');
  std::string many = "select a from t where a = ?";
  for (int i = 0; i < 20; ++i) many += " or a = ?";
  std::map<SQLUSMALLINT, ParameterBinding> parameters;
  for (SQLUSMALLINT n = 1; n <= 21; ++n) parameters[n] = Text(text.c_str());
  EXPECT_EQ(std::get<Refusal>(Substitute(many, FindMarkers(many), parameters)).sql_state, "HY000");
}

TEST(Indicators, WidensOnlyWhatWasWrittenAs32Bits) {
  SQLLEN value = 123;
  auto primed = PrimeIndicator(&value);
  const std::uint32_t minus_one = 0xFFFFFFFFU;  // mdbtools 1.0.0 writing -1 through an int
  std::memcpy(&value, &minus_one, sizeof minus_one);
  WidenIndicator(primed);
  EXPECT_EQ(value, SQL_NULL_DATA);

  primed = PrimeIndicator(&value);
  value = 4294967296LL + 5;  // a full 64-bit write stays as it is
  WidenIndicator(primed);
  EXPECT_EQ(value, 4294967301LL);

  value = 77;
  primed = PrimeIndicator(&value);
  WidenIndicator(primed);  // not written at all: as before
  EXPECT_EQ(value, 77);
}

}  // namespace
}  // namespace access_driver
