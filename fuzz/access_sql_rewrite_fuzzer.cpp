// The Access SQL rewrite: any text either is refused with a message, or comes
// out as SQLite text in which no & (SQLite's bitwise AND), #date# or ODBC
// brace is left outside strings, names and comments. The text that comes out
// then runs in an in-memory database with Access's functions, bounded in
// steps, memory and what it may touch, so that the functions see fuzzed
// arguments too.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <sqlite3.h>

#include "access_functions.h"
#include "sql_tokens.h"
#include "statement_rewrite.h"

using namespace tarnwick::access;

namespace {

// Queries only: reading the sample table, calling functions, recursive CTEs.
int AllowQueriesOnly(void*, int action, const char* name, const char*, const char*, const char*) {
    switch (action) {
    case SQLITE_SELECT:
    case SQLITE_READ:
    case SQLITE_RECURSIVE:
        return SQLITE_OK;
    case SQLITE_FUNCTION:
        return name && std::string_view(name) == "load_extension" ? SQLITE_DENY : SQLITE_OK;
    default:
        return SQLITE_DENY;
    }
}

int StopAfterManySteps(void* counter) { return ++*static_cast<int*>(counter) > 2000 ? 1 : 0; }

sqlite3* OpenDatabase() {
    sqlite3* db = nullptr;
    if (sqlite3_open(":memory:", &db) != SQLITE_OK || RegisterAccessFunctions(db) != SQLITE_OK)
        std::abort();
    sqlite3_exec(db,
                 "CREATE TABLE t(id integer, name text COLLATE ACCESS, born timestamp);"
                 "INSERT INTO t VALUES (1, 'Ärger', '1996-01-31 00:00:00'), (2, NULL, NULL), (3, 'b', '10:30');",
                 nullptr, nullptr, nullptr);
    sqlite3_set_authorizer(db, AllowQueriesOnly, nullptr);
    sqlite3_limit(db, SQLITE_LIMIT_LENGTH, 1 << 20);
    return db;
}

void RunBounded(sqlite3* db, const std::string& sql) {
    static int steps = 0;
    steps = 0;
    sqlite3_progress_handler(db, 100, StopAfterManySteps, &steps);
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr) == SQLITE_OK) {
        for (int row = 0; row < 100 && sqlite3_step(statement) == SQLITE_ROW; ++row) {
        }
    }
    sqlite3_finalize(statement);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const RewrittenStatement rewritten = RewriteAccessSql(text);
    if (!rewritten.error.empty()) {
        if (!rewritten.sql.empty())
            std::abort();
        return 0;
    }
    const TokenizeResult tokens = TokenizeAccessSql(rewritten.sql);
    if (!tokens.error.empty())
        std::abort();
    for (const Token& token : tokens.tokens) {
        if ((token.kind == TokenKind::Punct && token.text == "&") || token.kind == TokenKind::DateLiteral ||
            token.kind == TokenKind::OpenBrace || token.kind == TokenKind::CloseBrace)
            std::abort();
    }
    static sqlite3* db = OpenDatabase();
    RunBounded(db, rewritten.sql);
    return 0;
}
