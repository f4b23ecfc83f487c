// The engine against mdbtools' own exporter: every value of every table of
// every fixture, read through SQLite and the virtual tables, must be the value
// `mdb-export` prints for it; joins and lookups must count what the exported
// rows count; writes must be refused and a changed file noticed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include "access_engine.h"
#include "access_functions.h"
#include "mdb_table.h"
#include "statement_rewrite.h"

namespace {

namespace fs = std::filesystem;
using Value = std::optional<std::string>;

std::string Fixture(const std::string& name) { return std::string(TARNWICK_FIXTURES_DIR) + "/" + name; }

// Runs a program and returns what it wrote to standard output.
std::string Run(const std::vector<std::string>& args) {
    int out[2];
    if (pipe(out) != 0) {
        ADD_FAILURE() << "pipe";
        return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        std::vector<char*> argv;
        for (const auto& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char buf[65536];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) {
        text.append(buf, static_cast<std::size_t>(n));
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << args[0] << " " << args[1];
    return text;
}

std::vector<std::string> Split(const std::string& text, const std::string& separator) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (auto pos = text.find(separator); pos != std::string::npos; pos = text.find(separator, start)) {
        parts.push_back(text.substr(start, pos - start));
        start = pos + separator.size();
    }
    parts.push_back(text.substr(start));
    return parts;
}

std::vector<std::string> Lines(const std::string& text) {
    auto lines = Split(text, "\n");
    while (!lines.empty() && lines.back().empty()) {
        lines.pop_back();
    }
    return lines;
}

struct Export {
    std::vector<std::string> columns;
    std::vector<std::string> types; // Access type names, as mdb-schema prints them
    std::vector<std::vector<Value>> rows;
};

// Separators no fixture's text holds (one holds every control character).
const std::string kField = "<|field|>";
const std::string kRow = "<|row|>\n";
const std::string kNull = "<|null|>";

// The table as mdb-export prints it: exact dates, binary as hex, NULL marked.
Export ExportTable(const std::string& file, const std::string& table) {
    Export e;
    const std::string text = Run({"mdb-export", "-d", kField, "-R", kRow, "-Q", "-0", kNull, "-b", "hex", "-D",
                                  "%Y-%m-%d %H:%M:%S", "-T", "%Y-%m-%d %H:%M:%S", file, table});
    auto records = Split(text, kRow);
    if (!records.empty() && records.back().empty()) {
        records.pop_back();
    }
    if (records.empty()) {
        return e;
    }
    e.columns = Split(records[0], kField);
    for (std::size_t i = 1; i < records.size(); ++i) {
        std::vector<Value> row;
        for (auto& field : Split(records[i], kField)) {
            row.push_back(field == kNull ? Value{} : Value{field});
        }
        e.rows.push_back(std::move(row));
    }
    // Column types from mdb-schema's Access dialect: "\t[Name]\t\t\tType (n) NOT NULL,".
    const std::string schema = Run({"mdb-schema", "-T", table, "--no-indexes", "--no-relations", file, "access"});
    std::map<std::string, std::string> types;
    for (const auto& l : Lines(schema)) {
        const auto open = l.find('[');
        const auto close = l.rfind(']');
        if (open == std::string::npos || close == std::string::npos || close < open) {
            continue;
        }
        // The type's name: up to a size in brackets, NOT NULL or the comma.
        std::string type = l.substr(close + 1);
        type = type.substr(0, std::min({type.find('('), type.find(" NOT NULL"), type.find(',')}));
        type.erase(0, type.find_first_not_of(" \t"));
        type.erase(type.find_last_not_of(" \t") + 1);
        types[l.substr(open + 1, close - open - 1)] = type;
    }
    for (const auto& c : e.columns) {
        e.types.push_back(types.count(c) ? types[c] : "?");
    }
    return e;
}

std::vector<std::string> TableNames(const std::string& file, bool withSystem) {
    return Lines(Run(withSystem ? std::vector<std::string>{"mdb-tables", "-1", "-S", file}
                                : std::vector<std::string>{"mdb-tables", "-1", file}));
}

std::string FromHex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

struct Db {
    sqlite3* db = nullptr;
    Db() {
        sqlite3_open(":memory:", &db);
        // As the extension's entry point does: the collation first, so that
        // the tables declare their text columns COLLATE ACCESS.
        EXPECT_EQ(tarnwick::access::RegisterAccessFunctions(db), SQLITE_OK);
        EXPECT_EQ(tarnwick::access::RegisterAccessEngine(db), SQLITE_OK);
    }
    ~Db() { sqlite3_close(db); }

    // Runs sql with text parameters; the rows, or the error message.
    std::vector<std::vector<Value>> Query(const std::string& sql, const std::vector<Value>& params = {},
                                          std::string* error = nullptr) {
        std::vector<std::vector<Value>> rows;
        sqlite3_stmt* stmt = nullptr;
        int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
        for (std::size_t i = 0; rc == SQLITE_OK && i < params.size(); ++i) {
            if (params[i]) {
                sqlite3_bind_text(stmt, static_cast<int>(i + 1), params[i]->c_str(), -1, SQLITE_TRANSIENT);
            }
        }
        while (rc == SQLITE_OK || rc == SQLITE_ROW) {
            rc = sqlite3_step(stmt);
            if (rc != SQLITE_ROW) {
                break;
            }
            std::vector<Value> row;
            for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
                if (sqlite3_column_type(stmt, c) == SQLITE_NULL) {
                    row.emplace_back();
                } else {
                    const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt, c));
                    row.emplace_back(std::string(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt, c))));
                }
            }
            rows.push_back(std::move(row));
        }
        if (rc != SQLITE_DONE) {
            if (error) {
                *error = sqlite3_errmsg(db);
            } else {
                ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db);
            }
        }
        sqlite3_finalize(stmt);
        return rows;
    }

    void Open(const std::string& path) {
        std::string error;
        Query("SELECT tarnwick_open(?)", {path}, &error);
        ASSERT_EQ(error, "") << path;
    }
};

std::string Quoted(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        out += c == '"' ? "\"\"" : std::string(1, c);
    }
    return out + "\"";
}

// The value read through SQLite, turned into what mdb-export prints for it;
// empty when they agree.
std::string Mismatch(const std::string& type, const Value& exported, sqlite3_stmt* stmt, int c) {
    const int t = sqlite3_column_type(stmt, c);
    auto text = [&] {
        const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt, c));
        return std::string(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt, c)));
    };
    const std::string shown = t == SQLITE_NULL ? "NULL" : text();
    auto fail = [&] { return "exported " + exported.value_or("NULL") + ", read " + shown; };
    if (type == "Boolean") {
        // Access stores Yes as -1; mdb-export prints it as 1.
        return t == SQLITE_INTEGER && exported && sqlite3_column_int(stmt, c) == (*exported == "1" ? -1 : 0) ? ""
                                                                                                             : fail();
    }
    if (!exported) {
        // mdb-export prints an empty text as it prints NULL.
        return t == SQLITE_NULL || (t == SQLITE_TEXT && text().empty()) ? "" : fail();
    }
    const std::string& e = *exported;
    char buf[64];
    if (type == "Byte" || type == "Integer" || type == "Long Integer") {
        return t == SQLITE_INTEGER && std::to_string(sqlite3_column_int64(stmt, c)) == e ? "" : fail();
    }
    if (type == "Single") {
        std::snprintf(buf, sizeof buf, "%.8g", static_cast<float>(sqlite3_column_double(stmt, c)));
        return t == SQLITE_FLOAT && e == buf ? "" : fail();
    }
    if (type == "Double") {
        std::snprintf(buf, sizeof buf, "%.16g", sqlite3_column_double(stmt, c));
        return t == SQLITE_FLOAT && e == buf ? "" : fail();
    }
    if (type == "Currency" || type == "Numeric") {
        // The nearest double to the exported decimal.
        return t == SQLITE_FLOAT && sqlite3_column_double(stmt, c) == std::strtod(e.c_str(), nullptr) ? "" : fail();
    }
    if (type == "DateTime") {
        if (e.rfind("1900-01-00", 0) == 0) {
            // mdb-export cannot print dates before 1899-12-30 or after 4637;
            // the engine must give a well-formed date outside that range.
            const std::string v = text();
            const std::string form = "dddd-dd-dd dd:dd:dd";
            bool wellFormed = v.size() == form.size();
            for (std::size_t i = 0; wellFormed && i < v.size(); ++i) {
                wellFormed = form[i] == 'd' ? std::isdigit(static_cast<unsigned char>(v[i])) != 0 : v[i] == form[i];
            }
            return t == SQLITE_TEXT && wellFormed && (v < "1899-12-30" || v > "4637") ? "" : fail();
        }
        return t == SQLITE_TEXT && text() == e ? "" : fail();
    }
    if (type == "Replication ID") {
        return t == SQLITE_TEXT && text() == FromHex(e) ? "" : fail();
    }
    if (type == "OLE") {
        return t == SQLITE_BLOB && text() == FromHex(e) ? "" : fail();
    }
    if (type == "Binary") {
        // mdb-export stops a binary value at its first zero byte.
        const std::string v = text();
        return t == SQLITE_BLOB && v.substr(0, v.find('\0')) == FromHex(e) ? "" : fail();
    }
    return t == SQLITE_TEXT && text() == e ? "" : fail();
}

class EngineFixtureTest : public ::testing::TestWithParam<const char*> {
protected:
    std::string file = Fixture(GetParam());
};

// Every row and value of the table read through SQLite against mdb-export.
void ExpectTableIsWhatMdbExportPrints(Db& db, const std::string& file, const std::string& table) {
    SCOPED_TRACE(table);
    const Export e = ExportTable(file, table);
    ASSERT_FALSE(e.columns.empty());
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db.db, ("SELECT * FROM " + Quoted(table)).c_str(), -1, &stmt, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db.db);
    ASSERT_EQ(sqlite3_column_count(stmt), static_cast<int>(e.columns.size()));
    for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
        EXPECT_EQ(sqlite3_column_name(stmt, c), e.columns[static_cast<std::size_t>(c)]);
    }
    std::size_t row = 0;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW && row < e.rows.size()) {
        for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
            const auto col = static_cast<std::size_t>(c);
            EXPECT_EQ(Mismatch(e.types[col], e.rows[row][col], stmt, c), "")
                << "row " << row << " column " << e.columns[col] << " (" << e.types[col] << ")";
        }
        ++row;
    }
    EXPECT_EQ(rc, SQLITE_DONE) << sqlite3_errmsg(db.db);
    EXPECT_EQ(row, e.rows.size());
    sqlite3_finalize(stmt);
}

TEST_P(EngineFixtureTest, EveryValueIsWhatMdbExportPrints) {
    Db db;
    db.Open(file);
    for (const auto& table : TableNames(file, true)) {
        ExpectTableIsWhatMdbExportPrints(db, file, table);
    }
}

TEST_P(EngineFixtureTest, CatalogListsUserAndSystemTables) {
    Db db;
    db.Open(file);
    const auto user = TableNames(file, false);
    std::map<std::string, std::string> expected;
    for (const auto& t : TableNames(file, true)) {
        expected[t] = std::find(user.begin(), user.end(), t) != user.end() ? "TABLE" : "SYSTEM TABLE";
    }
    std::map<std::string, std::string> listed;
    for (const auto& row : db.Query("SELECT name, type FROM tarnwick_catalog_tables")) {
        listed[*row[0]] = *row[1];
    }
    EXPECT_EQ(listed, expected);
}

std::string Lower(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

// Indexes and primary keys, as mdb-schema's PostgreSQL dialect prints them
// (names lower-cased): "table: column, column [unique|primary]".
TEST_P(EngineFixtureTest, CatalogIndexesAreWhatMdbSchemaPrints) {
    std::multiset<std::string> expected;
    // CREATE [UNIQUE ]INDEX "i" ON "t" ("c", "d");
    // ALTER TABLE "t" ADD CONSTRAINT "k" PRIMARY KEY ("c");
    auto unquoted = [](std::string text) {
        text.erase(std::remove(text.begin(), text.end(), '"'), text.end());
        return text;
    };
    auto columns = [&](const std::string& line) {
        const auto open = line.find(" (");
        return unquoted(line.substr(open + 2, line.rfind(')') - open - 2));
    };
    for (const auto& line : Lines(::Run({"mdb-schema", file, "postgres"}))) {
        if (line.rfind("CREATE INDEX ", 0) == 0 || line.rfind("CREATE UNIQUE INDEX ", 0) == 0) {
            const auto on = line.find(" ON ") + 4;
            const std::string table = unquoted(line.substr(on, line.find(" (", on) - on));
            expected.insert(table + ": " + columns(line) + (line.rfind("CREATE UNIQUE", 0) == 0 ? " unique" : ""));
        } else if (line.rfind("ALTER TABLE ", 0) == 0 && line.find(" PRIMARY KEY ") != std::string::npos) {
            const std::string table = unquoted(line.substr(12, line.find(" ADD ") - 12));
            expected.insert(table + ": " + columns(line.substr(line.find(" PRIMARY KEY") + 12)) + " primary");
        }
    }
    Db db;
    db.Open(file);
    std::multiset<std::string> listed;
    const auto rows =
        db.Query("SELECT table_name, group_concat(column_name, ', '), max(non_unique), max(is_primary) FROM"
                 " (SELECT * FROM tarnwick_catalog_indexes ORDER BY table_name, index_name, ordinal)"
                 " WHERE table_name IN (SELECT name FROM tarnwick_catalog_tables WHERE type = 'TABLE')"
                 " GROUP BY table_name, index_name");
    for (const auto& row : rows) {
        listed.insert(Lower(*row[0]) + ": " + Lower(*row[1]) +
                      (*row[3] == "1"   ? " primary"
                       : *row[2] == "0" ? " unique"
                                        : ""));
    }
    EXPECT_EQ(listed, expected);
}

// For each table, its first column: a self-join counts the pairs of equal
// values, and a lookup of each value finds the rows the export holds.
TEST_P(EngineFixtureTest, SelfJoinAndLookupCountWhatTheExportCounts) {
    Db db;
    db.Open(file);
    for (const auto& table : TableNames(file, false)) {
        SCOPED_TRACE(table);
        const Export e = ExportTable(file, table);
        if (e.rows.empty() || (e.types[0] != "Long Integer" && e.types[0] != "Integer" && e.types[0] != "Byte")) {
            continue;
        }
        std::map<std::string, long long> counts;
        for (const auto& row : e.rows) {
            if (row[0]) {
                ++counts[*row[0]];
            }
        }
        long long pairs = 0;
        for (const auto& [value, n] : counts) {
            pairs += n * n;
        }
        const std::string t = Quoted(table);
        const std::string c = Quoted(e.columns[0]);
        const auto joined = db.Query("SELECT count(*) FROM " + t + " a JOIN " + t + " b ON a." + c + " = b." + c);
        EXPECT_EQ(joined.at(0).at(0), std::to_string(pairs));
        const auto plan = db.Query("EXPLAIN QUERY PLAN SELECT * FROM " + t + " WHERE " + c + " = ?", {"1"});
        EXPECT_NE((*plan.at(0).at(3)).find("INDEX " + std::to_string(1)), std::string::npos) << *plan.at(0).at(3);
        for (const auto& [value, n] : counts) {
            const auto found = db.Query("SELECT count(*) FROM " + t + " WHERE " + c + " = ?", {value});
            EXPECT_EQ(found.at(0).at(0), std::to_string(n)) << value;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, EngineFixtureTest,
                         ::testing::Values("dates.mdb", "jackcess/testV1997.mdb", "jackcess/test2V2003.mdb",
                                           "jackcess/testUnicodeCompV2003.mdb", "jackcess/testV2007.accdb"),
                         [](const auto& info) {
                             std::string name = fs::path(info.param).stem().string();
                             for (char& ch : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) {
                                     ch = '_';
                                 }
                             }
                             return name;
                         });

// A copy of the Access 97 fixture grown by the test support's generator:
// Table1 with `rows` more rows whose D runs over 0..keys-1, Table3 with keys.
class GeneratedFile {
public:
    GeneratedFile(long rows, long keys) {
        char dir[] = "/tmp/tarnwick-engine-XXXXXX";
        dir_ = mkdtemp(dir);
        path = dir_ + "/large.mdb";
        Run({TARNWICK_MAKE_ACCESS_FILE, Fixture("jackcess/testV1997.mdb"), path, std::to_string(rows),
             std::to_string(keys)});
    }
    ~GeneratedFile() { fs::remove_all(dir_); }
    std::string Sibling(const std::string& name) const { return dir_ + "/" + name; }
    std::string path;

private:
    std::string dir_;
};

TEST(EngineLargeFileTest, ValuesJoinsAndLookupsAgreeWithMdbExport) {
    GeneratedFile file(3000, 37);
    Db db;
    db.Open(file.path);
    ExpectTableIsWhatMdbExportPrints(db, file.path, "Table1");
    ExpectTableIsWhatMdbExportPrints(db, file.path, "Table3");

    // Table1.D (Integer) = Table3.a (Long): count the matches from the export.
    const Export big = ExportTable(file.path, "Table1");
    const Export keys = ExportTable(file.path, "Table3");
    std::map<std::string, long long> perKey;
    for (const auto& row : keys.rows) {
        ++perKey[*row[0]];
    }
    long long expected = 0;
    for (const auto& row : big.rows) {
        expected += row[3] && perKey.count(*row[3]) ? perKey[*row[3]] : 0;
    }
    for (const char* sql : {"SELECT count(*) FROM Table1 t JOIN Table3 k ON t.D = k.a",
                            "SELECT count(*) FROM Table3 k JOIN Table1 t ON k.a = t.D",
                            "SELECT count(*) FROM Table1 t, Table3 k WHERE k.b = 'KEY ' || t.D"}) {
        EXPECT_EQ(db.Query(sql).at(0).at(0), std::to_string(expected)) << sql;
    }
    // Currency sums to the exact decimal sum of the exported values, to the cent.
    long long tenThousandths = 0;
    for (const auto& row : big.rows) {
        const std::string& h = *row[7]; // "1233.2655"
        const auto dot = h.find('.');
        tenThousandths += std::stoll(h.substr(0, dot)) * 10000 + std::stoll(h.substr(dot + 1));
    }
    const long long cents = (tenThousandths + 50) / 100;
    char exact[64];
    std::snprintf(exact, sizeof exact, "%lld.%02lld", cents / 100, cents % 100);
    EXPECT_EQ(db.Query("SELECT printf('%.2f', sum(H)) FROM Table1").at(0).at(0), std::string(exact));

    // A lookup of text ignores case as the column's collation does.
    EXPECT_EQ(db.Query("SELECT count(*) FROM Table1 WHERE A = ?", {"NAME 17"}).at(0).at(0), "1");
    // Numbers bound as text compare as numbers with a number column.
    EXPECT_EQ(db.Query("SELECT E FROM Table1 WHERE E = ?", {"2999"}).at(0).at(0), "2999");
    EXPECT_EQ(db.Query("SELECT count(*) FROM Table1 WHERE E IN (5, 6, 7, NULL)").at(0).at(0), "3");
}

// Texts that the ACCESS collation (the root collation at secondary
// strength) calls equal (case, final sigma, a ligature, full-width letters,
// an ignorable soft hyphen) and texts it keeps apart (accents, ß from ss,
// which the root collation weighs as ss with a secondary difference, a
// trailing space, ue for ü), written into a copy of dates.mdb by the
// generator. Each group holds the texts equal to each other.
const std::vector<std::vector<std::string>> kEqualTexts = {
    {"Straße", "STRAßE"}, {"STRASSE", "strasse"},
    {"Strasse "},         {"ΣΟΦΟΣ", "σοφος", "σοφοσ"},
    {"Müller", "MÜLLER"}, {"Muller"},
    {"Mueller"},          {"\uFB01le", "FILE", "\uFF26\uFF49\uFF4C\uFF45", "fi\u00ADle"},
    {"résumé", "RÉSUMÉ"}, {"resume"},
    {"Resumé"},
};

class TextsFile {
public:
    TextsFile() {
        char dir[] = "/tmp/tarnwick-engine-XXXXXX";
        dir_ = mkdtemp(dir);
        path = dir_ + "/texts.mdb";
        std::vector<std::string> args = {TARNWICK_MAKE_ACCESS_FILE, "--texts", Fixture("dates.mdb"), path};
        for (const auto& group : kEqualTexts) {
            args.insert(args.end(), group.begin(), group.end());
        }
        ::Run(args);
    }
    ~TextsFile() { fs::remove_all(dir_); }
    std::string path;

private:
    std::string dir_;
};

// IDCol of every row whose ShortTextCol, as mdb-export prints it, is one of texts.
std::vector<Value> ExportedIdsOf(const Export& e, const std::vector<std::string>& texts) {
    std::vector<Value> ids;
    for (const auto& row : e.rows) {
        if (row[5] && std::find(texts.begin(), texts.end(), *row[5]) != texts.end()) {
            ids.push_back(row[0]);
        }
    }
    return ids;
}

std::vector<Value> FirstColumn(const std::vector<std::vector<Value>>& rows) {
    std::vector<Value> out;
    for (const auto& row : rows) {
        out.push_back(row.at(0));
    }
    return out;
}

struct TextLookupCase {
    const char* name;
    const char* probe;
    const char* collation; // of the comparison; empty: the column's
    std::vector<std::string> equal;
};

class EngineTextLookupTest : public ::testing::TestWithParam<TextLookupCase> {};

// A lookup through the equality index finds exactly the rows a full scan
// under the same collation finds, and the rows the exported texts say.
TEST_P(EngineTextLookupTest, FindsWhatTheCollationCallsEqual) {
    const TextLookupCase& c = GetParam();
    TextsFile file;
    const Export e = ExportTable(file.path, "DateTest");
    ASSERT_EQ(e.columns.at(5), "ShortTextCol");
    const std::vector<Value> expected = ExportedIdsOf(e, c.equal);
    const std::string collate = *c.collation ? std::string(" COLLATE ") + c.collation : "";
    const std::string lookup = "SELECT IDCol FROM DateTest WHERE ShortTextCol = ?" + collate + " ORDER BY IDCol";
    // Concatenation leaves no column for the index, and no collation.
    const std::string scan = "SELECT IDCol FROM DateTest WHERE ShortTextCol || '' = ? COLLATE " +
                             std::string(*c.collation ? c.collation : "ACCESS") + " ORDER BY IDCol";
    Db db;
    db.Open(file.path);
    const auto plan = db.Query("EXPLAIN QUERY PLAN " + lookup, {c.probe});
    EXPECT_NE(plan.at(0).at(3)->find("INDEX 6"), std::string::npos) << *plan.at(0).at(3);
    EXPECT_EQ(FirstColumn(db.Query(lookup, {c.probe})), expected);
    EXPECT_EQ(FirstColumn(db.Query(scan, {c.probe})), expected);
    if (!*c.collation) {
        // As a client's statement arrives: rewritten, which collates the right side too.
        const auto rewritten =
            tarnwick::access::RewriteAccessSql("SELECT IDCol FROM DateTest WHERE ShortTextCol = ? ORDER BY IDCol");
        ASSERT_EQ(rewritten.error, "");
        EXPECT_EQ(FirstColumn(db.Query(rewritten.sql, {c.probe})), expected) << rewritten.sql;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Collations, EngineTextLookupTest,
    ::testing::Values(TextLookupCase{"ss_is_not_sharp_s", "Strasse", "", {"STRASSE", "strasse"}},
                      TextLookupCase{"sharp_s_case", "straße", "", {"Straße", "STRAßE"}},
                      TextLookupCase{"trailing_space_counts", "STRASSE ", "", {"Strasse "}},
                      TextLookupCase{"final_sigma", "Σοφος", "", {"ΣΟΦΟΣ", "σοφος", "σοφοσ"}},
                      TextLookupCase{"case_of_accented_letter", "müller", "", {"Müller", "MÜLLER"}},
                      TextLookupCase{"accent_kept_apart", "MULLER", "", {"Muller"}},
                      TextLookupCase{"ue_is_not_u_umlaut", "MUELLER", "", {"Mueller"}},
                      TextLookupCase{"ligature_full_width_ignorable",
                                     "File",
                                     "",
                                     {"\uFB01le", "FILE", "\uFF26\uFF49\uFF4C\uFF45", "fi\u00ADle"}},
                      TextLookupCase{"accents_all_kept", "Résumé", "", {"résumé", "RÉSUMÉ"}},
                      TextLookupCase{"unaccented", "RESUME", "", {"resume"}},
                      TextLookupCase{"no_such_text", "strase", "", {}},
                      TextLookupCase{"binary_exact_bytes", "STRAßE", "BINARY", {"STRAßE"}},
                      TextLookupCase{"binary_case_differs", "straße", "BINARY", {}},
                      TextLookupCase{"nocase_ascii_only", "müller", "NOCASE", {"Müller"}},
                      TextLookupCase{"nocase_ascii_letters", "STRASSE", "NOCASE", {"STRASSE", "strasse"}}),
    [](const auto& info) { return std::string(info.param.name); });

// A self-join on the text column pairs every two texts of a group, through
// the index built on the inner table.
TEST(EngineTextLookupTest, SelfJoinPairsEqualTexts) {
    TextsFile file;
    const Export e = ExportTable(file.path, "DateTest");
    // Every exported text belongs to its group, or (the fixture's own rows,
    // all different) to one of its own.
    long long pairs = 0;
    std::size_t grouped = 0;
    for (const auto& group : kEqualTexts) {
        const auto n = static_cast<long long>(ExportedIdsOf(e, group).size());
        EXPECT_EQ(n, static_cast<long long>(group.size()));
        pairs += n * n;
        grouped += static_cast<std::size_t>(n);
    }
    for (const auto& row : e.rows) {
        pairs += row[5] ? 1 : 0;
    }
    pairs -= static_cast<long long>(grouped);
    const std::string join = "SELECT count(*) FROM DateTest a JOIN DateTest b ON a.ShortTextCol = b.ShortTextCol";
    Db db;
    db.Open(file.path);
    std::string plan;
    for (const auto& row : db.Query("EXPLAIN QUERY PLAN " + join)) {
        plan += *row.at(3) + "\n";
    }
    EXPECT_NE(plan.find("INDEX 6"), std::string::npos) << plan;
    EXPECT_EQ(db.Query(join).at(0).at(0), std::to_string(pairs));
    EXPECT_EQ(db.Query("SELECT count(*) FROM DateTest a JOIN DateTest b ON a.ShortTextCol || '' = b.ShortTextCol "
                       "COLLATE ACCESS")
                  .at(0)
                  .at(0),
              std::to_string(pairs));
}

// A memo stored as a chain of long-value pages, written by the generator:
// character i is 'a' + i % 26, with 'é' at every 1000th place.
class EngineLongMemoTest : public ::testing::TestWithParam<long> {};

TEST_P(EngineLongMemoTest, ReadsWhole) {
    const long chars = GetParam();
    char dir[] = "/tmp/tarnwick-engine-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/memo.mdb";
    ::Run({TARNWICK_MAKE_ACCESS_FILE, "--memo", Fixture("dates.mdb"), path, std::to_string(chars)});
    std::string expected;
    for (long i = 0; i < chars; ++i) {
        expected += i % 1000 == 999 ? "\u00e9" : std::string(1, static_cast<char>('a' + i % 26));
    }
    Db db;
    db.Open(path);
    const auto rows = db.Query("SELECT LongTextCol FROM DateTest WHERE IDCol = 7");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_TRUE(rows[0][0] == expected) << "read " << rows[0][0].value_or("NULL").size() << " bytes";
    // mdb-export prints memos up to 200000 bytes: the whole table then agrees.
    if (expected.size() < 200000) {
        ExpectTableIsWhatMdbExportPrints(db, path, "DateTest");
    }
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Lengths, EngineLongMemoTest, ::testing::Values(1, 5000, 30000, 1000000));

// Single and Binary columns, which no fixture has: the generator retypes two
// columns of a copy and adds rows with a float's bytes and bytes that are no
// text (7F, 80, FF, a zero inside). Every value, and the added float compared in
// SQL, as mdb-export reads them.
TEST(EngineRetypedFileTest, SingleAndBinaryValuesAreWhatMdbExportPrints) {
    char dir[] = "/tmp/tarnwick-engine-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/retyped.mdb";
    ::Run({TARNWICK_MAKE_ACCESS_FILE, "--retype", Fixture("jackcess/testV1997.mdb"), path});
    const Export e = ExportTable(path, "Table1");
    ASSERT_EQ(e.types[5], "Single");
    ASSERT_EQ(e.types[1], "Binary");
    Db db;
    db.Open(path);
    ExpectTableIsWhatMdbExportPrints(db, path, "Table1");
    // 1.1 as a Single is 1.10000002384185791015625 exactly: the stored value,
    // not the decimal the user typed.
    const auto rows = db.Query("SELECT E FROM Table1 WHERE F = 1.10000002384185791015625 AND hex(B) = '017F80FF0041'");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], "1000");
    fs::remove_all(dir);
}

// The driver's library is loaded by SQLite ODBC as an extension with no
// entry point named: SQLite derives sqlite3_tarnwickmdbodbc_init from the
// file name libtarnwick-mdbodbc.so.
TEST(EngineExtensionTest, LoadsUnderTheDriversFileName) {
    sqlite3* db = nullptr;
    sqlite3_open(":memory:", &db);
    sqlite3_enable_load_extension(db, 1);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_load_extension(db, TARNWICK_ENGINE_EXTENSION, nullptr, &error), SQLITE_OK)
        << (error ? error : "");
    sqlite3_free(error);
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT tarnwick_open(?), (SELECT count(*) FROM Table1)", -1, &stmt, nullptr),
              SQLITE_ERROR); // Table1 exists only once the file is open
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT tarnwick_open(?)", -1, &stmt, nullptr), SQLITE_OK);
    const std::string path = Fixture("jackcess/testV1997.mdb");
    sqlite3_bind_text(stmt, 1, path.c_str(), -1, SQLITE_TRANSIENT);
    EXPECT_EQ(sqlite3_step(stmt), SQLITE_ROW) << sqlite3_errmsg(db);
    sqlite3_finalize(stmt);
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT count(*) FROM Table1", -1, &stmt, nullptr), SQLITE_OK);
    EXPECT_EQ(sqlite3_step(stmt), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(stmt, 0), 2);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
}

// The entry point registers the ACCESS collation before the tables are
// declared: a lookup of a non-ASCII text in another case finds the row
// mdb-export prints (SQLite's NOCASE folds ASCII letters only).
TEST(EngineExtensionTest, DeclaresTextColumnsWithTheAccessCollation) {
    const std::string file = Fixture("jackcess/testUnicodeCompV2003.mdb");
    const Export e = ExportTable(file, "Table");
    std::vector<Value> expected;
    for (const auto& row : e.rows) {
        if (row[1] == Value("ümlaut")) {
            expected.push_back(row[0]);
        }
    }
    ASSERT_EQ(expected.size(), 1u);
    sqlite3* db = nullptr;
    sqlite3_open(":memory:", &db);
    sqlite3_enable_load_extension(db, 1);
    ASSERT_EQ(sqlite3_load_extension(db, TARNWICK_ENGINE_EXTENSION, nullptr, nullptr), SQLITE_OK);
    Db wrapper;
    std::swap(wrapper.db, db);
    sqlite3_close(db);
    wrapper.Open(file);
    const std::string lookup = "SELECT ID FROM \"Table\" WHERE Unicode = ?";
    EXPECT_EQ(FirstColumn(wrapper.Query(lookup, {"ÜMLAUT"})), expected);
    EXPECT_EQ(FirstColumn(wrapper.Query(lookup, {"umlaut"})), std::vector<Value>{});
}

struct StatementCase {
    const char* name;
    const char* sql;
};

class EngineReadOnlyTest : public ::testing::TestWithParam<StatementCase> {};

TEST_P(EngineReadOnlyTest, IsRefusedAndTheFileIsUnchanged) {
    GeneratedFile file(10, 3);
    const std::string before = [&] {
        std::ifstream in(file.path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    Db db;
    db.Open(file.path);
    std::string error;
    db.Query(GetParam().sql, {}, &error);
    EXPECT_NE(error, "") << GetParam().sql;
    std::ifstream in(file.path, std::ios::binary);
    EXPECT_TRUE(before == std::string(std::istreambuf_iterator<char>(in), {}));
    // Reading still works.
    EXPECT_EQ(db.Query("SELECT count(*) FROM Table3").at(0).at(0), "3");
}

INSTANTIATE_TEST_SUITE_P(
    Writes, EngineReadOnlyTest,
    ::testing::Values(
        StatementCase{"Insert", "INSERT INTO Table3(a, b) VALUES (1, 'x')"},
        StatementCase{"Update", "UPDATE Table3 SET b = 'x'"}, StatementCase{"Delete", "DELETE FROM Table3"},
        StatementCase{"CreateTable", "CREATE TABLE t(x)"}, StatementCase{"CreateTempTable", "CREATE TEMP TABLE t(x)"},
        StatementCase{"CreateView", "CREATE VIEW v AS SELECT 1"}, StatementCase{"DropTable", "DROP TABLE Table3"},
        StatementCase{"AlterTable", "ALTER TABLE Table3 RENAME TO t"},
        StatementCase{"CatalogInsert", "INSERT INTO tarnwick_catalog_tables VALUES ('x', 'TABLE')"},
        StatementCase{"Attach", "ATTACH DATABASE '/tmp/tarnwick-attach.db' AS other"},
        StatementCase{"WritingPragma", "PRAGMA writable_schema = 1"},
        StatementCase{"JournalPragma", "PRAGMA journal_mode = DELETE"},
        StatementCase{"LoadExtension", "SELECT load_extension('libm.so.6')"}, StatementCase{"Vacuum", "VACUUM"},
        StatementCase{"Analyze", "ANALYZE"}, StatementCase{"SecondOpen", "SELECT tarnwick_open('/tmp/none.mdb')"},
        StatementCase{"NewVirtualTable", "CREATE VIRTUAL TABLE x USING access(0)"}),
    [](const auto& info) { return std::string(info.param.name); });

// What SQLite ODBC runs on a connection and around its statements.
TEST(EngineReadOnlyTest, TransactionsAndReportingPragmasStillRun) {
    GeneratedFile file(10, 3);
    Db db;
    db.Open(file.path);
    for (const char* sql : {"PRAGMA empty_result_callbacks = on", "PRAGMA foreign_keys = off",
                            "PRAGMA full_column_names = off", "PRAGMA short_column_names = on", "BEGIN TRANSACTION",
                            "SELECT count(*) FROM Table1", "PRAGMA table_info(Table1)", "PRAGMA index_list(Table1)",
                            "COMMIT TRANSACTION", "SAVEPOINT a", "RELEASE a", "PRAGMA encoding"}) {
        std::string error;
        db.Query(sql, {}, &error);
        EXPECT_EQ(error, "") << sql;
    }
}

// Another program replaces or damages the file between two statements.
TEST(EngineChangedFileTest, NextStatementSeesNewContentOrAClearError) {
    GeneratedFile file(10, 3);
    GeneratedFile larger(500, 7);
    Db db;
    db.Open(file.path);
    EXPECT_EQ(db.Query("SELECT count(*) FROM Table1").at(0).at(0), "12");
    EXPECT_EQ(db.Query("SELECT count(*) FROM Table1 WHERE E = 5").at(0).at(0), "1");

    fs::copy_file(larger.path, file.Sibling("next.mdb"));
    fs::rename(file.Sibling("next.mdb"), file.path);
    EXPECT_EQ(db.Query("SELECT count(*) FROM Table1").at(0).at(0), "502");
    EXPECT_EQ(db.Query("SELECT count(*) FROM Table1 WHERE E = 400").at(0).at(0), "1");

    struct Change {
        const char* name;
        std::function<void()> apply;
    };
    const std::vector<Change> changes = {
        {"another database without the table",
         [&] { fs::copy_file(Fixture("dates.mdb"), file.path, fs::copy_options::overwrite_existing); }},
        {"garbage", [&] { std::ofstream(file.path, std::ios::trunc) << std::string(10000, 'x'); }},
        {"empty", [&] { std::ofstream(file.path, std::ios::trunc); }},
        {"removed", [&] { fs::remove(file.path); }},
    };
    for (const auto& change : changes) {
        change.apply();
        std::string error;
        db.Query("SELECT * FROM Table1 WHERE E = 3", {}, &error);
        EXPECT_NE(error, "") << change.name;
    }
}

// A property record of length 0 in MSysObjects' LvProp (one byte flipped in
// a copy of a fixture), over which libmdb's own catalog reading loops until
// memory runs out: the file opens, its tables are those of the undamaged
// file, and each reads in full or gives an error.
TEST(EngineDamagedFileTest, ALoopingPropertyRecordIsPassedOver) {
    char dir[] = "/tmp/tarnwick-engine-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/damaged.mdb";
    const std::string fixture = Fixture("jackcess/test2V2003.mdb");
    fs::copy_file(fixture, path);
    {
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekg(131071);
        const char byte = static_cast<char>(file.get() ^ 0xfe);
        file.seekp(131071);
        file.put(byte);
    }
    Db db;
    db.Open(path);
    std::set<std::string> listed;
    for (const auto& row : db.Query("SELECT name FROM tarnwick_catalog_tables WHERE type = 'TABLE'")) {
        listed.insert(*row[0]);
    }
    const auto names = TableNames(fixture, false);
    EXPECT_EQ(listed, std::set<std::string>(names.begin(), names.end()));
    for (const auto& table : names) {
        std::string error;
        db.Query("SELECT * FROM " + Quoted(table), {}, &error);
    }
    fs::remove_all(dir);
}

// What libmdb's property parser may be given: each record and entry within
// the blob and long enough to move on, each value as wide as its type reads.
TEST(EnginePropertyBlobTest, OnlyWellFormedBlobsAreParsed) {
    using tarnwick::access::PropertiesAreWellFormed;
    auto le16 = [](unsigned v) { return std::string{static_cast<char>(v & 0xff), static_cast<char>(v >> 8)}; };
    auto le32 = [&](unsigned v) { return le16(v & 0xffff) + le16(v >> 16); };
    // A names record with the one name "Required" (UTF-16).
    const std::string name = le16(16) + std::string("R\0e\0q\0u\0i\0r\0e\0d\0", 16);
    const std::string names = le32(static_cast<unsigned>(6 + name.size())) + le16(0x80) + name;
    // A block with no name and `copies` entries: Required, a Yes/No value of 1.
    auto block = [&](unsigned entryLength, unsigned type, unsigned size, const std::string& value, int copies = 1) {
        std::string entries;
        for (int i = 0; i < copies; ++i) {
            entries +=
                le16(entryLength) + std::string(1, '\0') + static_cast<char>(type) + le16(0) + le16(size) + value;
        }
        const std::string body = le32(static_cast<unsigned>(6 + entries.size())) + le16(0) + entries;
        return le32(static_cast<unsigned>(6 + body.size())) + le16(0) + body;
    };
    const std::string head("KKD\0", 4);
    const struct {
        const char* name;
        std::string blob;
        bool wellFormed;
    } cases[] = {
        {"a Yes/No property", head + names + block(9, MDB_BOOL, 1, "\x01"), true},
        {"names alone", head + names, true},
        {"no KKD mark", std::string("XYZ\0", 4) + names, false},
        {"a record of length 0", head + le32(0) + le16(0x80), false},
        {"a record past the end", head + le32(400) + le16(0x80) + name, false},
        {"an entry of length 0", head + names + block(0, MDB_BOOL, 1, "\x01"), false},
        {"a double in 2 bytes at the end", head + names + block(10, MDB_DOUBLE, 2, "ab"), false},
        {"a value past the block: libmdb stops there", head + names + block(9, MDB_TEXT, 40, "x"), true},
        {"one property twice in a block", head + names + block(9, MDB_BOOL, 1, "\x01", 2), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PropertiesAreWellFormed(c.blob), c.wellFormed) << c.name;
    }
}

struct DateCase {
    double serial;
    const char* text;
};

class EngineDateTest : public ::testing::TestWithParam<DateCase> {};

// Access's date serials: days from 1899-12-30, the fraction the time of day
// (of the day before the epoch, counted forward, for negative serials).
TEST_P(EngineDateTest, SerialReadsAsAccessShowsIt) {
    EXPECT_EQ(tarnwick::access::FormatAccessDate(GetParam().serial), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Serials, EngineDateTest,
    ::testing::Values(DateCase{0, "1899-12-30 00:00:00"}, DateCase{36526.5, "2000-01-01 12:00:00"},
                      DateCase{2, "1900-01-01 00:00:00"}, DateCase{60, "1900-02-28 00:00:00"},
                      DateCase{61, "1900-03-01 00:00:00"}, DateCase{2958465.0 + 86399.0 / 86400, "9999-12-31 23:59:59"},
                      DateCase{-1.25, "1899-12-29 06:00:00"}, DateCase{-657434, "0100-01-01 00:00:00"},
                      DateCase{0.99999999, "1899-12-31 00:00:00"}, DateCase{1e7, ""}, DateCase{-1e7, ""}));

} // namespace
