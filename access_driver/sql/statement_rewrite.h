#pragma once

#include <string>
#include <string_view>

namespace tarnwick::access {

struct RewrittenStatement {
    std::string sql;     // SQLite text to prepare
    bool writes = false; // INSERT, UPDATE, DELETE, CREATE, DROP, ALTER, SELECT ... INTO, PRAGMA, ATTACH, ...
    std::string error;   // non-empty: refuse with this message (e.g. unterminated #date#)
};

// Turns a statement in Access's SQL, as ODBC clients send it, into SQLite's:
// TOP n [PERCENT] becomes LIMIT, #dates# and {d}/{t}/{ts} escapes become the
// engine's date text, & becomes tw_concat(...), \ Mod ^ become functions with
// Access's precedence, {fn ...} maps ODBC's scalar functions, {oj ...} and
// {escape ...} lose their braces, True/False become -1/0 and a trailing ;
// goes. It works on tokens: strings, quoted and bracketed names, comments and
// ? markers pass through untouched, and no value is ever pasted in.
RewrittenStatement RewriteAccessSql(std::string_view accessSql);

} // namespace tarnwick::access
