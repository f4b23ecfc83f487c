#include "statement_rewrite.h"

#include "sql_test_database.h"

#include <gtest/gtest.h>

#include <string>

namespace tarnwick::access {
namespace {

using testing::QueryResult;
using testing::SqlTestDatabase;

// Rows every rewrite case can query: ids 1..10, names with case and accents,
// dates as the engine stores them, Yes/No as Access stores them (-1/0).
void AddSampleTables(SqlTestDatabase& db) {
    db.Execute(
        "CREATE TABLE t(id integer, name text COLLATE ACCESS, born timestamp COLLATE ACCESSDATE, active integer);"
        "INSERT INTO t VALUES (1, 'Ärger', '1996-01-31 00:00:00', -1), (2, 'berta', '1996-07-04 10:30:00', 0),"
        " (3, 'Caesar', NULL, -1), (4, NULL, '1994-08-04 00:00:00', 0), (5, 'dora', '2001-12-31 23:59:59', -1),"
        " (6, 'emil', NULL, 0), (7, 'frida', NULL, 0), (8, 'gustav', NULL, 0), (9, 'heinz', NULL, 0),"
        " (10, 'ida', NULL, 0);"
        "CREATE TABLE [Größe Tabelle]([Straße Nr] text, [x&y] integer);"
        "INSERT INTO [Größe Tabelle] VALUES ('Hauptstraße', 5);");
}

struct RewriteCase {
    const char* name;
    const char* access;
    const char* sqlite;     // the exact rewrite
    const char* firstValue; // the first row's first value when run, as Access gives it; nullptr: NULL
    int rows = -1;          // the row count when run, -1 to skip
};

class RewriteTest : public ::testing::TestWithParam<RewriteCase> {};

TEST_P(RewriteTest, RewritesAndRunsWithAccessResult) {
    const RewriteCase& c = GetParam();
    const RewrittenStatement rewritten = RewriteAccessSql(c.access);
    ASSERT_EQ(rewritten.error, "");
    EXPECT_EQ(rewritten.sql, c.sqlite);
    EXPECT_FALSE(rewritten.writes);

    SqlTestDatabase db;
    AddSampleTables(db);
    const QueryResult result = db.Run(rewritten.sql);
    ASSERT_EQ(result.error, "") << rewritten.sql;
    if (c.rows >= 0) {
        EXPECT_EQ(static_cast<int>(result.rows.size()), c.rows);
    }
    ASSERT_FALSE(result.rows.empty());
    const std::optional<std::string> expected = c.firstValue ? std::optional<std::string>(c.firstValue) : std::nullopt;
    EXPECT_EQ(result.rows[0][0], expected);
}

INSTANTIATE_TEST_SUITE_P(
    Statements, RewriteTest,
    ::testing::Values(
        RewriteCase{"plain_select_unchanged", "SELECT id FROM t WHERE id > 8", "SELECT id FROM t WHERE id > 8", "9", 2},
        RewriteCase{"top", "SELECT TOP 3 id FROM t ORDER BY id DESC", "SELECT id FROM t ORDER BY id DESC LIMIT 3", "10",
                    3},
        RewriteCase{"top_distinct", "select distinct top 2 active from t order by active",
                    "select distinct active from t order by active LIMIT 2", "-1", 2},
        RewriteCase{"top_in_subquery_only",
                    "SELECT count(*) FROM t WHERE id IN (SELECT TOP 2 id FROM t ORDER BY id DESC)",
                    "SELECT count(*) FROM t WHERE id IN (SELECT id FROM t ORDER BY id DESC LIMIT 2)", "2", 1},
        // 25 percent of 10 rows is 2.5, which Access rounds up to 3.
        RewriteCase{"top_percent", "SELECT TOP 25 PERCENT id FROM t ORDER BY id DESC",
                    "WITH tw_top AS (SELECT id FROM t ORDER BY id DESC) SELECT * FROM tw_top LIMIT (SELECT CAST(n AS "
                    "INTEGER) + "
                    "(n > CAST(n AS INTEGER)) FROM (SELECT count(*) * 25 / 100.0 AS n FROM tw_top))",
                    "10", 3},
        RewriteCase{"top_percent_in_subquery", "SELECT max(id) FROM (SELECT TOP 50 PERCENT id FROM t ORDER BY id)",
                    "SELECT max(id) FROM (WITH tw_top AS (SELECT id FROM t ORDER BY id) SELECT * FROM tw_top LIMIT "
                    "(SELECT CAST(n AS "
                    "INTEGER) + (n > CAST(n AS INTEGER)) FROM (SELECT count(*) * 50 / 100.0 AS n FROM tw_top)))",
                    "5", 1},
        RewriteCase{"top_before_union", "SELECT TOP 1 id FROM t UNION ALL SELECT id FROM t WHERE id = 10",
                    "SELECT * FROM (SELECT id FROM t LIMIT 1) UNION ALL SELECT id FROM t WHERE id = 10", "1", 2},
        RewriteCase{"top_with_trailing_comment", "SELECT TOP 1 id FROM t -- first one",
                    "SELECT id FROM t LIMIT 1 -- first one\n", "1", 1},
        RewriteCase{"iso_date", "SELECT count(*) FROM t WHERE born = #1996-01-31#",
                    "SELECT count(*) FROM t WHERE born = '1996-01-31 00:00:00'", "1", 1},
        RewriteCase{"us_date_and_time", "SELECT id FROM t WHERE born = #7/4/1996 10:30 AM#",
                    "SELECT id FROM t WHERE born = '1996-07-04 10:30:00'", "2", 1},
        RewriteCase{"date_range", "SELECT count(*) FROM t WHERE born BETWEEN #1/1/1996# AND #12/31/1996 23:59:59#",
                    "SELECT count(*) FROM t WHERE born BETWEEN '1996-01-01 00:00:00' AND '1996-12-31 23:59:59'", "2",
                    1},
        RewriteCase{"time_alone_is_day_zero", "SELECT #10:30#", "SELECT '1899-12-30 10:30:00'", "1899-12-30 10:30:00",
                    1},
        RewriteCase{"month_name_date", "SELECT #4-Aug-1994#", "SELECT '1994-08-04 00:00:00'", "1994-08-04 00:00:00", 1},
        RewriteCase{"odbc_date", "SELECT id FROM t WHERE born = {d '1994-08-04'}",
                    "SELECT id FROM t WHERE born = '1994-08-04 00:00:00'", "4", 1},
        RewriteCase{"odbc_timestamp", "SELECT id FROM t WHERE born = {ts '2001-12-31 23:59:59'}",
                    "SELECT id FROM t WHERE born = '2001-12-31 23:59:59'", "5", 1},
        RewriteCase{"odbc_time", "SELECT {t '10:11:12'}", "SELECT '1899-12-30 10:11:12'", "1899-12-30 10:11:12", 1},
        RewriteCase{"odbc_function", "SELECT {fn UCASE(name)} FROM t WHERE id = 1",
                    "SELECT UCase(name) FROM t WHERE id = 1", "ÄRGER", 1},
        RewriteCase{"odbc_concat", "SELECT {fn CONCAT('a', {fn LCASE('B')})}", "SELECT tw_concat('a', LCase('B'))",
                    "ab", 1},
        RewriteCase{"odbc_locate", "SELECT {fn LOCATE('c', 'abcabc', 4)}", "SELECT InStr(4, 'abcabc', 'c')", "6", 1},
        RewriteCase{"odbc_left_and_length", "SELECT {fn LEFT('abc', 2)} & {fn LENGTH('ab  ')}",
                    "SELECT tw_concat(\"Left\"('abc', 2), Len(rtrim('ab  ')))", "ab2", 1},
        RewriteCase{"odbc_convert_and_timestampadd",
                    "SELECT {fn CONVERT('12', SQL_INTEGER)} + 1, {fn TIMESTAMPADD(SQL_TSI_MONTH, 1, {d '1996-01-31'})}",
                    "SELECT CLng('12') + 1, DateAdd('m', 1, '1996-01-31 00:00:00')", "13", 1},
        RewriteCase{"odbc_dayofmonth", "SELECT {fn DAYOFMONTH({d '1996-07-04'})}", "SELECT Day('1996-07-04 00:00:00')",
                    "4", 1},
        RewriteCase{"odbc_ceiling_floor", "SELECT {fn CEILING(2.1)} + {fn FLOOR(-2.1)}",
                    "SELECT -Int(-(2.1)) + Int(-2.1)", "0.0", 1},
        RewriteCase{"odbc_outer_join", "SELECT count(*) FROM {oj t LEFT OUTER JOIN t AS u ON t.id = u.id + 5}",
                    "SELECT count(*) FROM t LEFT OUTER JOIN t AS u ON t.id = u.id + 5", "10", 1},
        RewriteCase{"odbc_like_escape", "SELECT count(*) FROM t WHERE 'a_c' LIKE 'a\\_%' {escape '\\'}",
                    "SELECT count(*) FROM t WHERE 'a_c' LIKE 'a\\_%' ESCAPE '\\'", "10", 1},
        // & is concatenation, never SQLite's bitwise AND (6 & 3 would be 2).
        RewriteCase{"ampersand_numbers", "SELECT 6 & 3", "SELECT tw_concat(6, 3)", "63", 1},
        RewriteCase{"ampersand_chain_with_null", "SELECT 'a' & NULL & 'b'", "SELECT tw_concat('a', NULL, 'b')", "ab",
                    1},
        RewriteCase{"ampersand_all_null", "SELECT Null & Null", "SELECT tw_concat(Null, Null)", nullptr, 1},
        RewriteCase{"ampersand_looser_than_plus", "SELECT 1 + 2 & 3 * 4", "SELECT tw_concat((1 + 2), (3 * 4))", "312",
                    1},
        RewriteCase{"ampersand_tighter_than_comparison", "SELECT id FROM t WHERE name & 'x' = 'berta' & 'X'",
                    "SELECT id FROM t WHERE tw_concat(name, 'x') = tw_concat('berta', 'X') COLLATE ACCESS", "2", 1},
        RewriteCase{"ampersand_in_arguments_and_like",
                    "SELECT count(*), 'x' & 1 FROM t WHERE Left(name, 1) & 'z' LIKE 'b' & '%'",
                    "SELECT count(*), tw_concat('x', 1) FROM t WHERE tw_concat(\"Left\"(name, 1), 'z') LIKE "
                    "tw_concat('b', '%')",
                    "1", 1},
        RewriteCase{"ampersand_with_alias_and_parameter_marker",
                    "SELECT name & ? AS label, id & '' nr FROM t WHERE id = 3",
                    "SELECT tw_concat(name, ?) AS label, tw_concat(id, '') nr FROM t WHERE id = 3", "Caesar", 1},
        RewriteCase{"ampersand_around_case", "SELECT CASE WHEN id = 1 THEN 'x' & id ELSE 'y' END & '!' FROM t",
                    "SELECT tw_concat(CASE WHEN id = 1 THEN tw_concat('x', id) ELSE 'y' END, '!') FROM t", "x1!", 10},
        RewriteCase{"ampersand_qualified_names", "SELECT t.name & [t].[id] FROM t WHERE t.id = 2",
                    "SELECT tw_concat(t.name, [t].[id]) FROM t WHERE t.id = 2", "berta2", 1},
        RewriteCase{"bracketed_non_ascii_names", "SELECT [Straße Nr] & [x&y] FROM [Größe Tabelle]",
                    "SELECT tw_concat([Straße Nr], [x&y]) FROM [Größe Tabelle]", "Hauptstraße5", 1},
        RewriteCase{"special_characters_inside_literals_untouched",
                    "SELECT 'it''s & #1/1/2000# {d} TOP 1' /* & TOP 2 */ FROM t -- { & #\nWHERE \"id\" = 1",
                    "SELECT 'it''s & #1/1/2000# {d} TOP 1' /* & TOP 2 */ FROM t -- { & #\nWHERE \"id\" = 1",
                    "it's & #1/1/2000# {d} TOP 1", 1},
        RewriteCase{"comments_between_operands_kept", "SELECT 'a' /* joined */ & 'b' -- with b\n& X'43'",
                    "SELECT tw_concat('a', /* joined */ 'b', -- with b\nX'43')", "abC", 1},
        RewriteCase{"true_false", "SELECT count(*) FROM t WHERE active = True OR id = False",
                    "SELECT count(*) FROM t WHERE active = -1 OR id = 0", "3", 1},
        // Access: Mod and \ round their operands to whole numbers (11.5 -> 12).
        RewriteCase{"mod", "SELECT 11.5 Mod 3", "SELECT tw_mod(11.5, 3)", "0", 1},
        RewriteCase{"mod_looser_than_multiplication", "SELECT 10 Mod 2 * 3", "SELECT tw_mod(10, (2 * 3))", "4", 1},
        RewriteCase{"integer_division_precedence", "SELECT 2 + 7 \\ 2 * 2", "SELECT (2 + tw_intdiv(7, (2 * 2)))", "3",
                    1},
        RewriteCase{"power_over_negation", "SELECT -2 ^ 2", "SELECT (-tw_power(2, 2))", "-4.0", 1},
        RewriteCase{"power_left_to_right", "SELECT 2 ^ 3 ^ 2", "SELECT tw_power(tw_power(2, 3), 2)", "64.0", 1},
        RewriteCase{"trailing_semicolon", "SELECT 1;  ", "SELECT 1  ", "1", 1},
        RewriteCase{"distinctrow", "SELECT DISTINCTROW id FROM t WHERE id < 3", "SELECT  id FROM t WHERE id < 3", "1",
                    2},
        RewriteCase{"literals_compare_ignoring_case", "SELECT 'abc' = 'ABC', 'a' < 'B', 'é' = 'e'",
                    "SELECT 'abc' = 'ABC' COLLATE ACCESS, 'a' < 'B' COLLATE ACCESS, 'é' = 'e' COLLATE ACCESS", "1", 1},
        RewriteCase{"case_insensitive_column", "SELECT id FROM t WHERE name = 'ärger'",
                    "SELECT id FROM t WHERE name = 'ärger'", "1", 1},
        // A column keeps its own collation: a date column reads a date given
        // as text, however a client spells it.
        RewriteCase{"date_column_and_date_text", "SELECT id FROM t WHERE born = '1996-01-31'",
                    "SELECT id FROM t WHERE born = '1996-01-31'", "1", 1},
        RewriteCase{"date_column_and_bound_timestamp_text", "SELECT id FROM t WHERE born <= '1996-07-04T10:30:00.000'",
                    "SELECT id FROM t WHERE born <= '1996-07-04T10:30:00.000'", "1", 3},
        RewriteCase{"column_on_the_right", "SELECT id FROM t WHERE 'BERTA' = name",
                    "SELECT id FROM t WHERE 'BERTA' = name COLLATE ACCESS", "2", 1}),
    [](const auto& info) { return std::string(info.param.name); });

struct ErrorCase {
    const char* name;
    const char* access;
};

class RewriteErrorTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(RewriteErrorTest, RefusesWithMessage) {
    const RewrittenStatement rewritten = RewriteAccessSql(GetParam().access);
    EXPECT_NE(rewritten.error, "");
    EXPECT_EQ(rewritten.sql, "");
}

INSTANTIATE_TEST_SUITE_P(
    Statements, RewriteErrorTest,
    ::testing::Values(
        ErrorCase{"unterminated_string", "SELECT 'abc"}, ErrorCase{"unterminated_date", "SELECT #1/1/2000"},
        ErrorCase{"unterminated_bracket", "SELECT [abc FROM t"}, ErrorCase{"invalid_date", "SELECT #2/30/1996#"},
        ErrorCase{"not_a_date", "SELECT #hello#"}, ErrorCase{"odbc_date_with_time", "SELECT {d '1996-01-01 10:00:00'}"},
        ErrorCase{"unknown_escape", "SELECT {call proc}"},
        ErrorCase{"unknown_odbc_function", "SELECT {fn NO_SUCH_FUNCTION(1)}"},
        ErrorCase{"ampersand_without_operand", "SELECT 'a' & FROM t"}, ErrorCase{"ampersand_at_end", "SELECT 'a' &"},
        ErrorCase{"two_statements", "SELECT 1; DELETE FROM t"}, ErrorCase{"unbalanced_parenthesis", "SELECT (1"},
        ErrorCase{"top_in_last_union_member", "SELECT id FROM t UNION SELECT TOP 1 id FROM t"},
        ErrorCase{"nested_too_deeply",
                  "SELECT "
                  "(((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((("
                  "(((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((("
                  "((((((((((((((((((((((((((((((((((((((((1"}),
    [](const auto& info) { return std::string(info.param.name); });

struct WriteCase {
    const char* name;
    const char* access;
    bool writes;
};

class WriteFlagTest : public ::testing::TestWithParam<WriteCase> {};

TEST_P(WriteFlagTest, FlagsEverythingButQueries) {
    const RewrittenStatement rewritten = RewriteAccessSql(GetParam().access);
    EXPECT_EQ(rewritten.error, "");
    EXPECT_EQ(rewritten.writes, GetParam().writes);
}

INSTANTIATE_TEST_SUITE_P(
    Statements, WriteFlagTest,
    ::testing::Values(WriteCase{"select", "  -- leading comment\n select * from t", false},
                      WriteCase{"parenthesized_select", "(SELECT 1)", false},
                      WriteCase{"with_select", "WITH x AS (SELECT 1) SELECT * FROM x", false},
                      WriteCase{"values", "VALUES (1)", false},
                      WriteCase{"crosstab_is_no_write", "TRANSFORM Sum(x) SELECT a FROM t GROUP BY a PIVOT b", false},
                      WriteCase{"begin_transaction", "BEGIN TRANSACTION", true},
                      WriteCase{"insert", "INSERT INTO t VALUES (1)", true},
                      WriteCase{"update", "update t set id = 1", true}, WriteCase{"delete", "DELETE FROM t;", true},
                      WriteCase{"create", "CREATE TABLE x (a int)", true}, WriteCase{"drop", "DROP TABLE t", true},
                      WriteCase{"alter", "ALTER TABLE t ADD COLUMN b int", true},
                      WriteCase{"select_into", "SELECT * INTO copy FROM t", true},
                      WriteCase{"with_delete", "WITH x AS (SELECT 1) DELETE FROM t", true},
                      WriteCase{"pragma", "PRAGMA writable_schema = 1", true},
                      WriteCase{"attach", "ATTACH DATABASE 'x.db' AS x", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RewriteParameters, MarkersStayAndBindInOrder) {
    SqlTestDatabase db;
    AddSampleTables(db);
    // TOP PERCENT keeps the statement text once, so the markers keep their count.
    const QueryResult result =
        db.RunAccess("SELECT TOP 50 PERCENT name & ? FROM t WHERE id > ? ORDER BY id", {"!", "6"});
    ASSERT_EQ(result.error, "");
    ASSERT_EQ(result.rows.size(), 2U);
    EXPECT_EQ(result.rows[0][0], std::optional<std::string>("frida!"));
    EXPECT_EQ(result.rows[1][0], std::optional<std::string>("gustav!"));
}

TEST(RewriteParameters, TextColumnComparesWithParameterIgnoringCase) {
    SqlTestDatabase db;
    AddSampleTables(db);
    const QueryResult result = db.RunAccess("SELECT id FROM t WHERE name = ? OR name = ?", {"ÄRGER", "CAESAR"});
    ASSERT_EQ(result.error, "");
    ASSERT_EQ(result.rows.size(), 2U);
}

} // namespace
} // namespace tarnwick::access
