#pragma once

// An in-memory SQLite database with Access's functions registered, and the
// first value of a statement as text, as the rewrite and function tests read it.

#include <sqlite3.h>

#include <optional>
#include <string>
#include <vector>

namespace tarnwick::access::testing {

struct QueryResult {
    std::vector<std::vector<std::optional<std::string>>> rows; // NULL as nullopt
    std::string error;                                         // rewrite or SQLite error
};

class SqlTestDatabase {
public:
    SqlTestDatabase();
    ~SqlTestDatabase();
    SqlTestDatabase(const SqlTestDatabase&) = delete;
    SqlTestDatabase& operator=(const SqlTestDatabase&) = delete;

    sqlite3* handle() const { return db_; }
    void Execute(const std::string& sqliteSql);
    // Runs SQLite text as it is, binding the parameters as text.
    QueryResult Run(const std::string& sqliteSql, const std::vector<std::string>& parameters = {});
    // Rewrites Access text first.
    QueryResult RunAccess(const std::string& accessSql, const std::vector<std::string>& parameters = {});

private:
    sqlite3* db_ = nullptr;
};

} // namespace tarnwick::access::testing
