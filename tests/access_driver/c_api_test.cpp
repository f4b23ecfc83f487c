// The driver through unixODBC's C API, as a C client calls it: every value
// read into a buffer of exactly its C type's size, with guard bytes behind it
// that must stay untouched, and the value compared with mdb-export's.
#include <array>
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

class CApi : public testing::Test {
protected:
    static void SetUpTestSuite() {
        sandbox_ = new OdbcSandbox();
        sandbox_->Export();
        sandbox_->WriteOdbcIni(
            "[Jet3]\nDriver=Microsoft Access Driver (*.mdb)\nDBQ=" + FixturePath("jackcess/testV1997.mdb") + "\n");
    }
    static void TearDownTestSuite() { delete sandbox_; }

    void SetUp() override {
        ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_)));
        SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_)));
        SQLCHAR in[] = "dsn=Jet3"; // keywords without case
        ASSERT_TRUE(
            SQL_SUCCEEDED(SQLDriverConnect(dbc_, nullptr, in, SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT)))
            << Diagnostic(SQL_HANDLE_DBC, dbc_);
        ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_)));
    }
    void TearDown() override {
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

} // namespace
