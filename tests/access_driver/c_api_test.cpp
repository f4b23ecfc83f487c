// The driver through unixODBC's C API, as a C client calls it: every value
// read into a buffer of exactly its C type's size, with guard bytes behind it
// that must stay untouched, and the value compared with mdb-export's.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include "odbc_sandbox.h"

namespace {

using tarnwick::testing::FixturePath;
using tarnwick::testing::OdbcSandbox;
using tarnwick::testing::RunCommand;

constexpr unsigned char kGuard = 0xA5;

// Table1 of the Access 97 fixture as mdb-export reads it, by column name.
std::vector<std::map<std::string, std::string>> ExportedRows() {
    const auto result =
        RunCommand({"mdb-export", "-Q", "-T", "%Y-%m-%d %H:%M:%S", FixturePath("jackcess/testV1997.mdb"), "Table1"});
    std::istringstream lines(result.output);
    std::vector<std::string> header;
    std::vector<std::map<std::string, std::string>> rows;
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, ',');)
            fields.push_back(cell);
        if (header.empty()) {
            header = fields;
            continue;
        }
        std::map<std::string, std::string> row;
        for (std::size_t i = 0; i < header.size() && i < fields.size(); ++i)
            row[header[i]] = fields[i];
        rows.push_back(row);
    }
    return rows;
}

// A table's columns as mdb-schema prints them: name, Access type, size (Text
// only, 0 otherwise), and whether the design requires a value.
struct SchemaColumn {
    std::string name;
    std::string type;
    long size = 0;
    bool required = false;
};

std::vector<SchemaColumn> SchemaOf(const std::string& fixture, const std::string& table) {
    const auto result = RunCommand({"mdb-schema", "--not-null", "-T", table, FixturePath(fixture)});
    std::vector<SchemaColumn> columns;
    std::istringstream lines(result.output);
    for (std::string line; std::getline(lines, line);) {
        // \t[Name]\t\t\tText (50) NOT NULL,
        if (line.size() < 2 || line[0] != '\t' || line[1] != '[')
            continue;
        SchemaColumn column;
        const auto close = line.find(']');
        column.name = line.substr(2, close - 2);
        std::string type = line.substr(line.find_first_not_of('\t', close + 1));
        type = type.substr(0, type.find_last_not_of(", ") + 1);
        column.required = type.size() > 9 && type.compare(type.size() - 9, 9, " NOT NULL") == 0;
        if (column.required)
            type.resize(type.size() - 9);
        if (const auto open = type.find(" ("); open != std::string::npos) {
            column.size = std::stol(type.substr(open + 2));
            type.resize(open);
        }
        column.type = type;
        columns.push_back(column);
    }
    return columns;
}

class CApi : public testing::Test {
protected:
    static void SetUpTestSuite() {
        sandbox_ = new OdbcSandbox();
        sandbox_->Export();
        sandbox_->WriteOdbcIni(
            "[Jet3]\nDriver=Microsoft Access Driver (*.mdb)\nDBQ=" + FixturePath("jackcess/testV1997.mdb") +
            "\n[Nulls]\nDriver=Microsoft Access Driver (*.mdb)\nDBQ=" + FixturePath("jackcess/test2V2003.mdb") + "\n");
    }
    static void TearDownTestSuite() { delete sandbox_; }

    void SetUp() override { Connect("dsn=Jet3", SQL_OV_ODBC3); } // keywords without case
    void TearDown() override { Disconnect(); }

    void Connect(const std::string& connection, SQLINTEGER version) {
        ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_)));
        SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(static_cast<SQLLEN>(version)), 0);
        ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_)));
        std::string in = connection;
        ASSERT_TRUE(SQL_SUCCEEDED(SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(in.data()), SQL_NTS,
                                                   nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT)))
            << Diagnostic(SQL_HANDLE_DBC, dbc_);
        ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_)));
    }
    void Disconnect() {
        SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
        SQLDisconnect(dbc_);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
        SQLFreeHandle(SQL_HANDLE_ENV, env_);
    }

    static std::string Diagnostic(SQLSMALLINT type, SQLHANDLE handle) {
        SQLCHAR state[6] = "", message[1024] = "";
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, &length);
        return std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(message);
    }

    bool Run(const std::string& sql) {
        return SQL_SUCCEEDED(SQLExecDirect(stmt_, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS));
    }

    // Reads column 1 of the one row of `sql` as `c_type` into `size` bytes
    // followed by guard bytes; fails the test when a guard byte changed.
    std::vector<unsigned char> Read(const std::string& sql, SQLSMALLINT c_type, std::size_t size, SQLRETURN& result) {
        std::vector<unsigned char> buffer(size + 16, kGuard);
        EXPECT_TRUE(Run(sql)) << Diagnostic(SQL_HANDLE_STMT, stmt_);
        EXPECT_EQ(SQLFetch(stmt_), SQL_SUCCESS);
        SQLLEN indicator = 0;
        result = SQLGetData(stmt_, 1, c_type, buffer.data(), static_cast<SQLLEN>(size), &indicator);
        for (std::size_t i = size; i < buffer.size(); ++i) {
            EXPECT_EQ(buffer[i], kGuard) << sql << ": byte " << i << " written behind a buffer of " << size;
        }
        SQLCloseCursor(stmt_);
        buffer.resize(size);
        return buffer;
    }

    static OdbcSandbox* sandbox_;
    SQLHENV env_ = nullptr;
    SQLHDBC dbc_ = nullptr;
    SQLHSTMT stmt_ = nullptr;
};

OdbcSandbox* CApi::sandbox_ = nullptr;

TEST_F(CApi, ValuesFitExactlySizedBuffers) {
    const auto rows = ExportedRows();
    ASSERT_EQ(rows.size(), 2U);
    const auto& row = rows[1];
    const std::string where = " from Table1 where A = '" + row.at("A") + "'";
    SQLRETURN result = SQL_ERROR;

    const auto date = Read("select G" + where, SQL_C_TYPE_DATE, sizeof(SQL_DATE_STRUCT), result);
    ASSERT_EQ(result, SQL_SUCCESS);
    SQL_DATE_STRUCT d;
    std::memcpy(&d, date.data(), sizeof d);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", d.year, d.month, d.day);
    EXPECT_EQ(text, row.at("G").substr(0, 10));

    const auto stamp = Read("select G" + where, SQL_C_TYPE_TIMESTAMP, sizeof(SQL_TIMESTAMP_STRUCT), result);
    ASSERT_EQ(result, SQL_SUCCESS);
    SQL_TIMESTAMP_STRUCT t;
    std::memcpy(&t, stamp.data(), sizeof t);
    EXPECT_EQ(t.year, d.year);

    const auto bit = Read("select I" + where, SQL_C_BIT, 1, result);
    ASSERT_EQ(result, SQL_SUCCESS);
    EXPECT_EQ(bit[0], row.at("I") == "0" ? 0 : 1);

    const auto small = Read("select D" + where, SQL_C_SSHORT, sizeof(SQLSMALLINT), result);
    SQLSMALLINT s = 0;
    std::memcpy(&s, small.data(), sizeof s);
    EXPECT_EQ(std::to_string(s), row.at("D"));

    const auto whole = Read("select E" + where, SQL_C_SLONG, sizeof(SQLINTEGER), result);
    SQLINTEGER l = 0;
    std::memcpy(&l, whole.data(), sizeof l);
    EXPECT_EQ(std::to_string(l), row.at("E"));

    const auto real = Read("select F" + where, SQL_C_DOUBLE, sizeof(double), result);
    double f = 0;
    std::memcpy(&f, real.data(), sizeof f);
    EXPECT_DOUBLE_EQ(f, std::stod(row.at("F")));

    const std::string a = row.at("A");
    const auto fits = Read("select A" + where, SQL_C_CHAR, a.size() + 1, result);
    EXPECT_EQ(result, SQL_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(fits.data())), a);
    const auto cut = Read("select A" + where, SQL_C_CHAR, 4, result);
    EXPECT_EQ(result, SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(cut.data())), a.substr(0, 3));
}

TEST_F(CApi, FetchingPastTheEndStaysAtTheEnd) {
    ASSERT_TRUE(Run("select A from Table1"));
    int rows = 0;
    while (SQLFetch(stmt_) == SQL_SUCCESS)
        ++rows;
    EXPECT_EQ(static_cast<std::size_t>(rows), ExportedRows().size());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA);
}

TEST_F(CApi, WritesAreRefusedAsReadOnly) {
    EXPECT_FALSE(Run("delete from Table1"));
    const std::string record = Diagnostic(SQL_HANDLE_STMT, stmt_);
    EXPECT_NE(record.find("[Tarnwick][Access driver]"), std::string::npos) << record;
    EXPECT_NE(record.find("read-only"), std::string::npos) << record;
    char answer[8] = "";
    SQLSMALLINT length = 0;
    ASSERT_TRUE(SQL_SUCCEEDED(SQLGetInfo(dbc_, SQL_DATA_SOURCE_READ_ONLY, answer, sizeof answer, &length)));
    EXPECT_STREQ(answer, "Y");
}

TEST_F(CApi, AMissingFileIsAnErrorRecordOfOurs) {
    SQLHDBC other = nullptr;
    ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env_, &other)));
    SQLCHAR in[] = "DBQ=/nonexistent/missing.mdb";
    EXPECT_FALSE(
        SQL_SUCCEEDED(SQLDriverConnect(other, nullptr, in, SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT)));
    SQLCHAR in_driver[] = "Driver={Microsoft Access Driver (*.mdb)};DBQ=/nonexistent/missing.mdb";
    EXPECT_FALSE(
        SQL_SUCCEEDED(SQLDriverConnect(other, nullptr, in_driver, SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT)));
    const std::string record = Diagnostic(SQL_HANDLE_DBC, other);
    EXPECT_NE(record.find("[Tarnwick][Access driver]"), std::string::npos) << record;
    EXPECT_NE(record.find("/nonexistent/missing.mdb"), std::string::npos) << record;
    SQLFreeHandle(SQL_HANDLE_DBC, other);
}

// Yes/No bound as a bit for a rowset of two, column-wise: Access's Yes (-1)
// reads as 1, and nothing is written behind the two bytes.
TEST_F(CApi, BitColumnsBoundForARowsetReadZeroOrOne) {
    const auto rows = ExportedRows();
    ASSERT_EQ(rows.size(), 2U);
    std::array<unsigned char, 2 + 16> bits{};
    bits.fill(kGuard);
    std::array<SQLLEN, 2> indicators{};
    SQLULEN fetched = 0;
    SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(2), 0);
    SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLBindCol(stmt_, 1, SQL_C_BIT, bits.data(), 1, indicators.data())));
    ASSERT_TRUE(Run("select I from Table1")) << Diagnostic(SQL_HANDLE_STMT, stmt_);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLFetchScroll(stmt_, SQL_FETCH_NEXT, 0))) << Diagnostic(SQL_HANDLE_STMT, stmt_);
    ASSERT_EQ(fetched, 2U);
    for (std::size_t i = 0; i < 2; ++i)
        EXPECT_EQ(bits[i], rows[i].at("I") == "0" ? 0 : 1) << "row " << i;
    for (std::size_t i = 2; i < bits.size(); ++i)
        EXPECT_EQ(bits[i], kGuard) << "byte " << i;
}

// A date parameter finds its row however the client binds it: as a
// timestamp or a date structure (the client matrix binds dates as text).
TEST_F(CApi, DateParametersFindTheirRowHoweverBound) {
    const auto rows = ExportedRows();
    const auto& row = rows[1];
    const std::string stored = row.at("G"); // YYYY-MM-DD HH:MM:SS
    SQL_TIMESTAMP_STRUCT stamp{};
    std::sscanf(stored.c_str(), "%hd-%hu-%hu %hu:%hu:%hu", &stamp.year, &stamp.month, &stamp.day, &stamp.hour,
                &stamp.minute, &stamp.second);
    SQL_DATE_STRUCT date{stamp.year, stamp.month, stamp.day};
    struct Binding {
        const char* name;
        SQLSMALLINT c_type;
        SQLSMALLINT sql_type;
        void* value;
        SQLLEN length;
    };
    const Binding bindings[] = {
        {"timestamp", SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, &stamp, sizeof stamp},
        {"date", SQL_C_TYPE_DATE, SQL_TYPE_DATE, &date, sizeof date},
    };
    for (const Binding& binding : bindings) {
        SQLLEN length = binding.length;
        SQLFreeStmt(stmt_, SQL_RESET_PARAMS);
        ASSERT_TRUE(SQL_SUCCEEDED(SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, binding.c_type, binding.sql_type, 19, 0,
                                                   binding.value, binding.length, &length)));
        ASSERT_TRUE(Run("select A from Table1 where G = ?")) << binding.name << Diagnostic(SQL_HANDLE_STMT, stmt_);
        std::vector<std::string> found;
        char a[64] = "";
        SQLLEN got = 0;
        while (SQLFetch(stmt_) == SQL_SUCCESS && SQL_SUCCEEDED(SQLGetData(stmt_, 1, SQL_C_CHAR, a, sizeof a, &got)))
            found.push_back(a);
        SQLCloseCursor(stmt_);
        std::vector<std::string> expected;
        for (const auto& r : rows)
            if (r.at("G") == stored)
                expected.push_back(r.at("A"));
        EXPECT_EQ(found, expected) << binding.name;
    }
}

// SQLColumns against mdb-schema's reading of the design: every column in
// order, its type and size, and NULLABLE from Required (Yes/No never NULL).
// An ODBC 2 client gets ODBC 2's timestamp type.
TEST_F(CApi, ColumnsGiveTheDesignsTypesSizesAndNullability) {
    struct Expected {
        SQLSMALLINT type;
        SQLINTEGER size; // 0: the Text column's own
    };
    const std::map<std::string, Expected> by_access_type = {
        {"Text", {SQL_VARCHAR, 0}},
        {"Memo/Hyperlink", {SQL_LONGVARCHAR, 1073741823}},
        {"Byte", {SQL_TINYINT, 3}},
        {"Integer", {SQL_SMALLINT, 5}},
        {"Long Integer", {SQL_INTEGER, 10}},
        {"Boolean", {SQL_SMALLINT, 5}},
        {"Double", {SQL_DOUBLE, 15}},
        {"Currency", {SQL_DOUBLE, 15}},
        {"DateTime", {SQL_TYPE_TIMESTAMP, 19}},
        {"OLE", {SQL_LONGVARBINARY, 1073741823}},
    };
    const struct {
        const char* connection;
        const char* fixture;
        const char* table;
        SQLINTEGER version;
    } cases[] = {
        {"DSN=Jet3", "jackcess/testV1997.mdb", "Table1", SQL_OV_ODBC3},
        {"DSN=Nulls", "jackcess/test2V2003.mdb", "MSP_PROJECTS", SQL_OV_ODBC3},
        {"DSN=Jet3", "jackcess/testV1997.mdb", "Table1", SQL_OV_ODBC2},
    };
    for (const auto& c : cases) {
        Disconnect();
        Connect(c.connection, c.version);
        const auto schema = SchemaOf(c.fixture, c.table);
        ASSERT_FALSE(schema.empty()) << c.table;
        std::string table = c.table;
        ASSERT_TRUE(SQL_SUCCEEDED(
            SQLColumns(stmt_, nullptr, 0, nullptr, 0, reinterpret_cast<SQLCHAR*>(table.data()), SQL_NTS, nullptr, 0)))
            << Diagnostic(SQL_HANDLE_STMT, stmt_);
        for (const SchemaColumn& column : schema) {
            ASSERT_EQ(SQLFetch(stmt_), SQL_SUCCESS) << column.name;
            char name[256] = "";
            SQLSMALLINT type = 0, nullable = -1;
            SQLINTEGER size = 0;
            SQLLEN got = 0;
            SQLGetData(stmt_, 4, SQL_C_CHAR, name, sizeof name, &got);
            SQLGetData(stmt_, 5, SQL_C_SSHORT, &type, 0, &got);
            SQLGetData(stmt_, 7, SQL_C_SLONG, &size, 0, &got);
            SQLGetData(stmt_, 11, SQL_C_SSHORT, &nullable, 0, &got);
            ASSERT_EQ(name, column.name);
            const auto expected = by_access_type.find(column.type);
            ASSERT_NE(expected, by_access_type.end()) << column.name << ": " << column.type;
            const SQLSMALLINT want_type = expected->second.type == SQL_TYPE_TIMESTAMP && c.version == SQL_OV_ODBC2
                                              ? SQL_TIMESTAMP
                                              : expected->second.type;
            EXPECT_EQ(type, want_type) << column.name;
            EXPECT_EQ(size, expected->second.size ? expected->second.size : column.size) << column.name;
            EXPECT_EQ(nullable, column.required || column.type == "Boolean" ? SQL_NO_NULLS : SQL_NULLABLE)
                << column.name;
        }
        EXPECT_EQ(SQLFetch(stmt_), SQL_NO_DATA) << c.table;
        SQLCloseCursor(stmt_);
    }
}

// SQLStatistics and SQLPrimaryKeys against mdb-schema's indexes (it names
// tables and columns in lower case for PostgreSQL): every index with its
// columns in order, unique or not, and the primary key's columns.
TEST_F(CApi, IndexesAndPrimaryKeysAreTheFilesOwn) {
    using Index = std::pair<bool, std::vector<std::string>>; // unique, columns
    auto lower = [](std::string text) {
        for (char& c : text)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    auto quoted = [](const std::string& line, std::size_t from) {
        std::vector<std::string> names;
        for (auto open = line.find('"', from); open != std::string::npos; open = line.find('"', open)) {
            const auto close = line.find('"', open + 1);
            names.push_back(line.substr(open + 1, close - open - 1));
            open = close + 1;
        }
        return names;
    };
    const struct {
        const char* connection;
        const char* fixture;
        const char* table;
    } cases[] = {
        {"DSN=Jet3", "jackcess/testV1997.mdb", "Table1"},
        {"DSN=Nulls", "jackcess/test2V2003.mdb", "MSP_PROJECTS"},
    };
    for (const auto& c : cases) {
        const auto schema = RunCommand({"mdb-schema", "--indexes", "-T", c.table, FixturePath(c.fixture), "postgres"});
        std::vector<Index> expected;
        std::vector<std::string> expected_key;
        std::istringstream lines(schema.output);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("CREATE ", 0) == 0 && line.find(" INDEX ") != std::string::npos) {
                expected.push_back({line.rfind("CREATE UNIQUE", 0) == 0, quoted(line, line.find('('))});
            } else if (const auto key = line.find("PRIMARY KEY ("); key != std::string::npos) {
                expected_key = quoted(line, key);
                expected.push_back({true, expected_key});
            }
        }
        Disconnect();
        Connect(c.connection, SQL_OV_ODBC3);
        std::string table = c.table;
        auto* name = reinterpret_cast<SQLCHAR*>(table.data());
        ASSERT_TRUE(SQL_SUCCEEDED(SQLStatistics(stmt_, nullptr, 0, nullptr, 0, name, SQL_NTS, SQL_INDEX_ALL, 0)))
            << Diagnostic(SQL_HANDLE_STMT, stmt_);
        std::map<std::string, Index> by_name;
        while (SQLFetch(stmt_) == SQL_SUCCESS) {
            SQLSMALLINT non_unique = -1, ordinal = 0;
            char index[256] = "", column[256] = "";
            SQLLEN got = 0;
            SQLGetData(stmt_, 4, SQL_C_SSHORT, &non_unique, 0, &got);
            SQLGetData(stmt_, 6, SQL_C_CHAR, index, sizeof index, &got);
            SQLGetData(stmt_, 8, SQL_C_SSHORT, &ordinal, 0, &got);
            SQLGetData(stmt_, 9, SQL_C_CHAR, column, sizeof column, &got);
            Index& found = by_name[index];
            found.first = non_unique == SQL_FALSE;
            EXPECT_EQ(static_cast<std::size_t>(ordinal), found.second.size() + 1) << index;
            found.second.push_back(lower(column));
        }
        SQLCloseCursor(stmt_);
        std::vector<Index> found;
        for (const auto& [index, columns] : by_name)
            found.push_back(columns);
        std::sort(found.begin(), found.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(found, expected) << c.table;

        ASSERT_TRUE(SQL_SUCCEEDED(SQLPrimaryKeys(stmt_, nullptr, 0, nullptr, 0, name, SQL_NTS)))
            << Diagnostic(SQL_HANDLE_STMT, stmt_);
        std::vector<std::string> key;
        char column[256] = "";
        SQLLEN got = 0;
        while (SQLFetch(stmt_) == SQL_SUCCESS &&
               SQL_SUCCEEDED(SQLGetData(stmt_, 4, SQL_C_CHAR, column, sizeof column, &got)))
            key.push_back(lower(column));
        SQLCloseCursor(stmt_);
        EXPECT_EQ(key, expected_key) << c.table;
    }
}

} // namespace
