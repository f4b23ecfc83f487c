#include "sql_test_database.h"

#include "access_functions.h"
#include "statement_rewrite.h"

#include <stdexcept>

namespace tarnwick::access::testing {

SqlTestDatabase::SqlTestDatabase() {
    if (sqlite3_open(":memory:", &db_) != SQLITE_OK || RegisterAccessFunctions(db_) != SQLITE_OK)
        throw std::runtime_error("cannot open an in-memory database with Access's functions");
}

SqlTestDatabase::~SqlTestDatabase() { sqlite3_close(db_); }

void SqlTestDatabase::Execute(const std::string& sqliteSql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sqliteSql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string error = message ? message : "unknown error";
        sqlite3_free(message);
        throw std::runtime_error(error);
    }
}

QueryResult SqlTestDatabase::Run(const std::string& sqliteSql, const std::vector<std::string>& parameters) {
    QueryResult result;
    sqlite3_stmt* statement = nullptr;
    const char* rest = nullptr;
    if (sqlite3_prepare_v2(db_, sqliteSql.c_str(), -1, &statement, &rest) != SQLITE_OK) {
        result.error = sqlite3_errmsg(db_);
        return result;
    }
    for (size_t i = 0; i < parameters.size(); ++i)
        sqlite3_bind_text(statement, static_cast<int>(i + 1), parameters[i].c_str(), -1, SQLITE_TRANSIENT);
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        std::vector<std::optional<std::string>> row;
        for (int column = 0; column < sqlite3_column_count(statement); ++column) {
            if (sqlite3_column_type(statement, column) == SQLITE_NULL)
                row.emplace_back();
            else
                row.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(statement, column)));
        }
        result.rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE)
        result.error = sqlite3_errmsg(db_);
    sqlite3_finalize(statement);
    return result;
}

QueryResult SqlTestDatabase::RunAccess(const std::string& accessSql, const std::vector<std::string>& parameters) {
    const RewrittenStatement rewritten = RewriteAccessSql(accessSql);
    if (!rewritten.error.empty())
        return {{}, "rewrite: " + rewritten.error};
    return Run(rewritten.sql, parameters);
}

} // namespace tarnwick::access::testing
