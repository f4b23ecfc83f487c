#include "access_collation.h"
#include "access_functions.h"

#include "sql_test_database.h"

#include <gtest/gtest.h>

#include <string>

namespace tarnwick::access {
namespace {

using testing::QueryResult;
using testing::SqlTestDatabase;

// Each expression runs through the statement rewrite, as a client's would.
// Expected values are Access's, from its documentation's examples and rules
// (banker's rounding in Round and the conversions, DateDiff counting
// boundaries, Weekday 1 = Sunday, Val's examples, US English formats).
struct FunctionCase {
    const char* name;
    const char* expression;
    const char* expected; // nullptr: NULL
};

class FunctionTest : public ::testing::TestWithParam<FunctionCase> {};

TEST_P(FunctionTest, GivesAccessResult) {
    SqlTestDatabase db;
    const QueryResult result = db.RunAccess(std::string("SELECT ") + GetParam().expression);
    ASSERT_EQ(result.error, "") << GetParam().expression;
    ASSERT_EQ(result.rows.size(), 1U);
    if (GetParam().expected)
        EXPECT_EQ(result.rows[0][0], std::optional<std::string>(GetParam().expected)) << GetParam().expression;
    else
        EXPECT_EQ(result.rows[0][0], std::nullopt) << GetParam().expression;
}

INSTANTIATE_TEST_SUITE_P(
    Functions, FunctionTest,
    ::testing::Values(
        FunctionCase{"iif_true", "IIf(2 > 1, 'a', 'b')", "a"},
        FunctionCase{"iif_null_takes_false", "iif(NULL, 'a', 'b')", "b"},
        FunctionCase{"nz_null_in_query_is_empty", "Nz(NULL)", ""}, FunctionCase{"nz_alternative", "Nz(NULL, 5)", "5"},
        FunctionCase{"nz_value", "NZ('x', 5)", "x"}, FunctionCase{"len_counts_characters", "Len('héllo')", "5"},
        FunctionCase{"len_of_number", "Len(12345)", "5"}, FunctionCase{"len_null", "Len(NULL)", nullptr},
        FunctionCase{"left", "Left('abcdef', 3)", "abc"},
        FunctionCase{"left_lower_case_name", "left('abcdef', 2) & right('abcdef', 1)", "abf"},
        FunctionCase{"left_longer_than_text", "Left('ab', 10)", "ab"},
        FunctionCase{"left_null", "Left(NULL, 2)", nullptr},
        FunctionCase{"right_non_ascii", "Right('Größe', 3)", "öße"}, FunctionCase{"mid", "Mid('abcdef', 2, 3)", "bcd"},
        FunctionCase{"mid_to_end", "Mid('abcdef', 4)", "def"}, FunctionCase{"mid_past_end", "Mid('abc', 5)", ""},
        FunctionCase{"instr_ignores_case", "InStr('abcB', 'B')", "2"},
        FunctionCase{"instr_start", "InStr(3, 'abcb', 'b')", "4"},
        FunctionCase{"instr_binary", "InStr(1, 'abc', 'B', 0)", "0"},
        FunctionCase{"instr_empty_sought", "InStr('abc', '')", "1"},
        FunctionCase{"instr_non_ascii_case", "InStr('straße ÄRGER', 'ärger')", "8"},
        FunctionCase{"instr_null", "InStr(NULL, 'a')", nullptr},
        FunctionCase{"ucase_non_ascii", "UCase('ärger')", "ÄRGER"},
        FunctionCase{"lcase_greek", "LCase('ΑΘΗΝΑ')", "αθηνα"}, FunctionCase{"ucase_null", "UCase(NULL)", nullptr},
        FunctionCase{"trim", "Trim('  a b  ') || '|' || LTrim('  a') || RTrim('a  ') || '|'", "a b|aa|"},
        FunctionCase{"year", "Year('1996-07-04 10:30:15')", "1996"},
        FunctionCase{"month", "Month('1996-07-04 10:30:15')", "7"},
        FunctionCase{"day", "Day('1996-07-04 10:30:15')", "4"},
        FunctionCase{"hour", "Hour('1996-07-04 10:30:15')", "10"},
        FunctionCase{"minute", "Minute('1996-07-04 10:30:15')", "30"},
        FunctionCase{"second", "Second('1996-07-04 10:30:15')", "15"},
        FunctionCase{"year_of_us_text", "Year('7/4/96')", "1996"},
        FunctionCase{"year_of_serial", "Year(35095)", "1996"}, FunctionCase{"year_null", "Year(NULL)", nullptr},
        FunctionCase{"weekday_sunday_first", "Weekday('1996-07-04')", "5"},
        FunctionCase{"weekday_monday_first", "Weekday('1996-07-04', 2)", "4"},
        // Documentation: DateAdd("m", 1, "31-Jan-95") is 28-Feb-95.
        FunctionCase{"dateadd_month_clamps", "DateAdd('m', 1, '31-Jan-95')", "1995-02-28 00:00:00"},
        FunctionCase{"dateadd_hours", "DateAdd('h', 25, '1996-01-01 00:00:00')", "1996-01-02 01:00:00"},
        FunctionCase{"dateadd_negative_years", "DateAdd('yyyy', -1, '2000-02-29')", "1999-02-28 00:00:00"},
        FunctionCase{"dateadd_weeks", "DateAdd('ww', 2, '1996-01-01')", "1996-01-15 00:00:00"},
        // Documentation: DateDiff("yyyy", #12/31/2001#, #1/1/2002#) is 1.
        FunctionCase{"datediff_year_boundary", "DateDiff('yyyy', '2001-12-31', '2002-01-01')", "1"},
        FunctionCase{"datediff_days_count_midnights", "DateDiff('d', '1996-01-01 23:59:00', '1996-01-02 00:01:00')",
                     "1"},
        FunctionCase{"datediff_negative", "DateDiff('d', '2000-01-02', '2000-01-01')", "-1"},
        FunctionCase{"datediff_month", "DateDiff('m', '1996-01-31', '1996-02-01')", "1"},
        FunctionCase{"datediff_quarter", "DateDiff('q', '1996-03-31', '1996-04-01')", "1"},
        FunctionCase{"datediff_weeks_of_days", "DateDiff('w', '1996-01-06', '1996-01-12')", "0"},
        FunctionCase{"datediff_calendar_weeks", "DateDiff('ww', '1996-01-06', '1996-01-07')", "1"},
        FunctionCase{"datediff_hours", "DateDiff('h', '1996-01-01 10:59:59', '1996-01-01 11:00:00')", "1"},
        FunctionCase{"datediff_minutes", "DateDiff('n', '1996-01-01 10:00:59', '1996-01-01 10:01:00')", "1"},
        FunctionCase{"datediff_seconds", "DateDiff('s', '1996-01-01 10:00:00', '1996-01-01 10:01:01')", "61"},
        FunctionCase{"datediff_null", "DateDiff('d', NULL, '1996-01-01')", nullptr},
        FunctionCase{"datepart_quarter", "DatePart('q', '1996-07-04')", "3"},
        FunctionCase{"datepart_day_of_year", "DatePart('y', '1996-02-01')", "32"},
        FunctionCase{"datepart_week", "DatePart('ww', '1996-01-07')", "2"},
        FunctionCase{"datepart_iso_week_of_previous_year", "DatePart('ww', '2021-01-01', 2, 2)", "53"},
        FunctionCase{"datepart_iso_week_one", "DatePart('ww', '2021-01-04', 2, 2)", "1"},
        FunctionCase{"datepart_first_full_week", "DatePart('ww', '1996-01-07', 1, 3)", "1"},
        FunctionCase{"datediff_weeks_from_monday", "DateDiff('ww', '1996-01-07', '1996-01-08', 2)", "1"},
        FunctionCase{"datepart_weekday", "DatePart('w', '1996-07-04')", "5"},
        // Documentation: DateSerial(1990 - 10, 8 - 2, 1 - 1) is May 31, 1980.
        FunctionCase{"dateserial_carries", "DateSerial(1990 - 10, 8 - 2, 1 - 1)", "1980-05-31 00:00:00"},
        FunctionCase{"dateserial_month_13", "DateSerial(96, 13, 1)", "1997-01-01 00:00:00"},
        FunctionCase{"now_is_a_date", "length(Now()) = 19 AND Date() <= Now()", "1"},
        FunctionCase{"format_iso", "Format('1996-07-04 13:05:09', 'yyyy-mm-dd')", "1996-07-04"},
        FunctionCase{"format_day_month_year", "Format('1996-07-04 13:05:09', 'dd/mm/yyyy')", "04/07/1996"},
        FunctionCase{"format_short_date", "Format('1996-07-04 13:05:09', 'Short Date')", "7/4/1996"},
        FunctionCase{"format_long_date", "Format('1996-07-04 13:05:09', 'Long Date')", "Thursday, July 4, 1996"},
        FunctionCase{"format_medium_date", "Format('1996-07-04', 'Medium Date')", "04-Jul-96"},
        FunctionCase{"format_time", "Format('1996-07-04 13:05:09', 'hh:nn:ss')", "13:05:09"},
        FunctionCase{"format_long_time", "Format('1996-07-04 13:05:09', 'Long Time')", "1:05:09 PM"},
        FunctionCase{"format_minutes_after_hours", "Format('1996-07-04 13:05:09', 'h:mm')", "13:05"},
        FunctionCase{"format_month_name", "Format('1996-07-04', 'mmmm d, yyyy')", "July 4, 1996"},
        FunctionCase{"format_currency", "Format(1234.5, 'Currency')", "$1,234.50"},
        FunctionCase{"format_negative_currency", "Format(-1234.5, 'Currency')", "($1,234.50)"},
        FunctionCase{"format_fixed", "Format(1234.567, 'Fixed')", "1234.57"},
        FunctionCase{"format_standard", "Format(1234.567, 'Standard')", "1,234.57"},
        FunctionCase{"format_percent", "Format(0.256, 'Percent')", "25.60%"},
        // Documentation examples of custom number formats.
        FunctionCase{"format_grouped", "Format(5459.4, '##,##0.00')", "5,459.40"},
        FunctionCase{"format_plain_decimals", "Format(334.9, '###0.00')", "334.90"},
        FunctionCase{"format_percent_pattern", "Format(5, '0.00%')", "500.00%"},
        FunctionCase{"format_rounds_half_up", "Format(2.5, '0')", "3"},
        FunctionCase{"format_optional_digits", "Format(0.5, '#.##')", ".5"},
        FunctionCase{"format_negative_section", "Format(-5, '0;(0)')", "(5)"},
        FunctionCase{"format_zero_section", "Format(0, '0;(0);\"none\"')", "none"},
        FunctionCase{"format_scientific", "Format(1234.5, 'Scientific')", "1.23E+03"},
        FunctionCase{"format_yes_no", "Format(0, 'Yes/No') || Format(-1, 'Yes/No')", "NoYes"},
        FunctionCase{"format_null", "Format(NULL, 'Fixed')", nullptr}, FunctionCase{"cstr", "CStr(12.5)", "12.5"},
        FunctionCase{"cint_rounds_half_even", "CInt(2.5) || ' ' || CInt(3.5) || ' ' || CInt('12')", "2 4 12"},
        FunctionCase{"clng_negative_half", "CLng(-2.5)", "-2"}, FunctionCase{"cdbl_text", "CDbl('1.5')", "1.5"},
        FunctionCase{"ccur_four_decimals", "CCur(1.23456)", "1.2346"},
        FunctionCase{"cdate_text", "CDate('1/31/1996')", "1996-01-31 00:00:00"},
        FunctionCase{"cdate_serial", "CDate(35095.5)", "1996-01-31 12:00:00"},
        // Val's documented examples.
        FunctionCase{"val_skips_spaces", "Val('    1615 198th Street N.E.')", "1615198.0"},
        FunctionCase{"val_hex", "Val('&HFFFF')", "-1.0"}, FunctionCase{"val_spaced_digits", "Val(' 2 45 7')", "2457.0"},
        FunctionCase{"val_stops_at_text", "Val('24 and 57')", "24.0"},
        FunctionCase{"round_half_even_down", "Round(2.5)", "2.0"},
        FunctionCase{"round_half_even_up", "Round(3.5)", "4.0"},
        FunctionCase{"round_negative_half", "Round(-2.5)", "-2.0"},
        FunctionCase{"round_places", "Round(1.2345, 2)", "1.23"},
        FunctionCase{"round_exact_half_places", "Round(0.125, 2)", "0.12"},
        FunctionCase{"round_null", "Round(NULL)", nullptr}, FunctionCase{"int_rounds_down", "Int(-8.4)", "-9.0"},
        FunctionCase{"fix_truncates", "Fix(-8.4)", "-8.0"}, FunctionCase{"int_of_integer", "Int(7)", "7"},
        FunctionCase{"sgn", "Sgn(-3) || Sgn(0) || Sgn(2.5)", "-101"}, FunctionCase{"abs", "Abs(-2)", "2"},
        FunctionCase{"replace_ignores_case", "Replace('aBcabc', 'b', 'x')", "axcaxc"},
        FunctionCase{"replace_start_and_count", "Replace('abcabcabc', 'B', 'x', 2, 1)", "xcabcabc"},
        FunctionCase{"replace_binary", "Replace('aBcabc', 'b', 'x', 1, -1, 0)", "aBcaxc"},
        FunctionCase{"isnull", "IsNull(NULL) & IsNull(0)", "-10"},
        FunctionCase{"isnumeric", "IsNumeric(' 12.5 ') & IsNumeric('12a')", "-10"},
        FunctionCase{"isdate", "IsDate('1/31/1996') & IsDate('2/30/1996')", "-10"},
        FunctionCase{"chr_windows_1252_and_chrw", "Chr(65) & Chr(128) & ChrW(1046)", "A€Ж"},
        FunctionCase{"asc", "Asc('Abc')", "65"},
        FunctionCase{"space_and_string", "Space(2) & String(3, '*') & String(2, 65)", "  ***AA"},
        FunctionCase{"strcomp_text", "StrComp('abc', 'ABC')", "0"},
        FunctionCase{"strcomp_binary", "StrComp('abc', 'ABC', 0)", "1"},
        FunctionCase{"switch", "Switch(1 > 2, 'a', 2 > 1, 'b')", "b"},
        FunctionCase{"switch_none_true", "Switch(1 > 2, 'a')", nullptr},
        FunctionCase{"choose", "Choose(2, 'x', 'y', 'z')", "y"},
        FunctionCase{"choose_out_of_range", "Choose(5, 'x')", nullptr},
        FunctionCase{"str_sign_space", "Str(12) & '|' & Str(-12)", " 12|-12"},
        FunctionCase{"strreverse", "StrReverse('abç')", "çba"},
        FunctionCase{"dollar_forms", "Left$('abc', 1) & Mid$('abc', 2, 1) & UCase$('c')", "abC"},
        FunctionCase{"datevalue", "DateValue('1996-07-04 10:30:00')", "1996-07-04 00:00:00"},
        FunctionCase{"timevalue", "TimeValue('1996-07-04 10:30:00')", "1899-12-30 10:30:00"},
        FunctionCase{"monthname", "MonthName(2) & ' ' & MonthName(2, True)", "February Feb"},
        FunctionCase{"weekdayname", "WeekdayName(1) & ' ' & WeekdayName(1, False, 2)", "Sunday Monday"},
        FunctionCase{"concat_numbers_as_text", "tw_concat('x', 1.5, 2, NULL)", "x1.52"},
        FunctionCase{"intdiv_rounds_operands", "tw_intdiv(7.5, 2)", "4"},
        FunctionCase{"mod_sign_of_dividend", "tw_mod(-7, 3)", "-1"},
        FunctionCase{"like_folds_non_ascii", "'ÄRGER' LIKE 'är%'", "1"},
        FunctionCase{"like_underscore", "'abc' LIKE 'A_C'", "1"},
        FunctionCase{"like_whole_text", "'abc' LIKE 'ab'", "0"},
        FunctionCase{"like_keeps_accents", "'resume' LIKE 'résumé'", "0"},
        FunctionCase{"like_escape", "'a%c' LIKE 'a\\%c' ESCAPE '\\' AND 'abc' NOT LIKE 'a\\%c' ESCAPE '\\'", "1"},
        FunctionCase{"like_percent_backtracks", "'aXbXc' LIKE '%x%c'", "1"},
        FunctionCase{"like_null", "NULL LIKE 'a'", nullptr},
        FunctionCase{"like_class", "('b1' LIKE '[a-c]#') + ('B1' LIKE '[a-c]1') + ('d1' LIKE '[a-c]1')", "1"},
        FunctionCase{"like_negated_class", "('x' LIKE '[!a-c]') + ('x' LIKE '[^x]') + ('[' LIKE '[[]')", "2"},
        FunctionCase{"like_unclosed_bracket_is_literal", "'[ab' LIKE '[a%'", "1"},
        FunctionCase{"collation_ignores_case", "'abc' = 'ABC' COLLATE ACCESS", "1"},
        FunctionCase{"collation_keeps_accents", "'é' = 'E' COLLATE ACCESS", "0"},
        FunctionCase{"collation_greek_and_cyrillic",
                     "('ΣΟΦΙΑ' = 'σοφια' COLLATE ACCESS) + ('ПРИВЕТ' = 'привет' COLLATE ACCESS)", "2"},
        FunctionCase{"collation_sorts_accents_beside_letters",
                     "(SELECT group_concat(x, ' ') FROM (SELECT column1 AS x FROM "
                     "(VALUES ('f'), ('É'), ('d'), ('e')) ORDER BY x COLLATE ACCESS))",
                     "d e É f"}),
    [](const auto& info) { return std::string(info.param.name); });

struct ErrorCase {
    const char* name;
    const char* expression;
    const char* message;
};

class FunctionErrorTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(FunctionErrorTest, RaisesAccessError) {
    SqlTestDatabase db;
    const QueryResult result = db.RunAccess(std::string("SELECT ") + GetParam().expression);
    EXPECT_EQ(result.error, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Functions, FunctionErrorTest,
    ::testing::Values(
        ErrorCase{"left_negative", "Left('abc', -1)", "Invalid procedure call or argument"},
        ErrorCase{"left_null_length", "Left('abc', NULL)", "Invalid use of Null"},
        ErrorCase{"mid_start_zero", "Mid('abc', 0)", "Invalid procedure call or argument"},
        ErrorCase{"cstr_null", "CStr(NULL)", "Invalid use of Null"},
        ErrorCase{"cint_overflow", "CInt(40000)", "Overflow"}, ErrorCase{"cint_text", "CInt('abc')", "Type mismatch"},
        ErrorCase{"year_of_text", "Year('not a date')", "Type mismatch"},
        ErrorCase{"dateadd_bad_interval", "DateAdd('x', 1, '1996-01-01')", "Invalid procedure call or argument"},
        ErrorCase{"dateadd_out_of_range", "DateAdd('yyyy', 9000, '1996-01-01')", "Invalid procedure call or argument"},
        ErrorCase{"intdiv_by_zero", "tw_intdiv(1, 0.4)", "Division by zero"},
        ErrorCase{"val_null", "Val(NULL)", "Invalid use of Null"},
        ErrorCase{"space_past_length_limit", "Space(2000000000)", "string or blob too big"},
        ErrorCase{"replace_past_length_limit", "Replace(String(40000, 'a'), 'a', String(40000, 'b'))",
                  "string or blob too big"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AccessCollation, TextColumnSortsAndGroupsIgnoringCase) {
    SqlTestDatabase db;
    db.Execute("CREATE TABLE c(name text COLLATE ACCESS);"
               "INSERT INTO c VALUES ('berta'), ('Anton'), ('BERTA'), ('émile'), ('Emil'), ('anton');");
    const QueryResult result = db.Run("SELECT count(*) FROM c GROUP BY name ORDER BY name");
    ASSERT_EQ(result.error, "");
    ASSERT_EQ(result.rows.size(), 4U);
    EXPECT_EQ(result.rows[0][0], std::optional<std::string>("2")); // anton, Anton
    EXPECT_EQ(result.rows[1][0], std::optional<std::string>("2")); // berta, BERTA
    EXPECT_EQ(result.rows[2][0], std::optional<std::string>("1")); // Emil
    EXPECT_EQ(result.rows[3][0], std::optional<std::string>("1")); // émile
}

// An index keyed by AccessCollationKey finds what the collation calls equal
// and orders as it does.
TEST(AccessCollation, KeysAgreeWithCollation) {
    SqlTestDatabase db;
    // Case, ß and ss, final sigma, a ligature, full-width letters, a soft
    // hyphen (ignorable), accents, and bytes that are no UTF-8.
    const char* texts[] = {"ärger",
                           "ÄRGER",
                           "Ärger ",
                           "arger",
                           "e",
                           "é",
                           "E",
                           "f",
                           "Straße",
                           "STRASSE",
                           "strase",
                           "ΣΟΦΟΣ",
                           "σοφος",
                           "σοφοσ",
                           "ΣΟΦΙΑ",
                           "σοφια",
                           "\uFB01le",
                           "FILE",
                           "\uFF26\uFF29\uFF2C\uFF25",
                           "fi\u00ADle",
                           "fi-le",
                           "résumé",
                           "resume",
                           "\xff",
                           "a\xc3",
                           "a\xef\xbf\xbd",
                           ""};
    for (const char* left : texts) {
        for (const char* right : texts) {
            const QueryResult result =
                db.Run("SELECT (? > ? COLLATE ACCESS) - (? < ? COLLATE ACCESS)", {left, right, left, right});
            ASSERT_EQ(result.error, "");
            const int collated = std::stoi(*result.rows[0][0]);
            const std::string leftKey = AccessCollationKey(left);
            const std::string rightKey = AccessCollationKey(right);
            const int keyed = leftKey < rightKey ? -1 : leftKey > rightKey ? 1 : 0;
            EXPECT_EQ(keyed, collated) << left << " / " << right;
        }
    }
    EXPECT_EQ(AccessCollationKey("ärger"), AccessCollationKey("ÄRGER"));
    EXPECT_NE(AccessCollationKey("e"), AccessCollationKey("é"));
    // The root collation weighs ß as ss plus a secondary difference.
    EXPECT_NE(AccessCollationKey("Straße"), AccessCollationKey("STRASSE"));
    EXPECT_EQ(AccessCollationKey("σοφος"), AccessCollationKey("ΣΟΦΟΣ"));
}

} // namespace
} // namespace tarnwick::access
