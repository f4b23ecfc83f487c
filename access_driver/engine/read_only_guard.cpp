#include "read_only_guard.h"

#include <array>
#include <string_view>

#include <strings.h>

namespace tarnwick::access {
namespace {

bool IsNamed(const char* name, std::string_view wanted) {
    return name && wanted.size() == std::string_view(name).size() &&
           strncasecmp(name, wanted.data(), wanted.size()) == 0;
}

// Pragmas that report and change nothing, whatever their argument.
constexpr std::array kReportingPragmas = {
    "table_info",  "table_xinfo",      "table_list",      "index_list",     "index_info",
    "index_xinfo", "foreign_key_list", "database_list",   "collation_list", "function_list",
    "module_list", "pragma_list",      "compile_options", "data_version",
};

// Pragmas that may be read without an argument, as clients ask them.
constexpr std::array kReadablePragmas = {
    "encoding",   "user_version",        "schema_version",     "application_id", "journal_mode", "page_size",
    "page_count", "freelist_count",      "cache_size",         "synchronous",    "temp_store",   "busy_timeout",
    "query_only", "case_sensitive_like", "recursive_triggers", "auto_vacuum",
};

// Connection settings that change only how results are reported or how long
// to wait, which SQLite ODBC sets on its connection.
constexpr std::array kSettingPragmas = {
    "empty_result_callbacks", "full_column_names", "short_column_names", "foreign_keys", "busy_timeout",
};

template <std::size_t N> bool Listed(const std::array<const char*, N>& list, const char* name) {
    for (const char* p : list) {
        if (IsNamed(name, p)) {
            return true;
        }
    }
    return false;
}

bool AllowedPragma(const char* name, const char* argument) {
    return Listed(kReportingPragmas, name) || Listed(kSettingPragmas, name) ||
           (argument == nullptr && Listed(kReadablePragmas, name));
}

int Authorize(void* declaring, int action, const char* a, const char* b, const char*, const char*) {
    if (*static_cast<const bool*>(declaring)) {
        return SQLITE_OK;
    }
    switch (action) {
    case SQLITE_SELECT:
    case SQLITE_READ:
    case SQLITE_TRANSACTION:
    case SQLITE_SAVEPOINT:
    case SQLITE_RECURSIVE:
        return SQLITE_OK;
    case SQLITE_FUNCTION:
        // b is the function's name.
        return IsNamed(b, "load_extension") ? SQLITE_DENY : SQLITE_OK;
    case SQLITE_PRAGMA:
        return AllowedPragma(a, b) ? SQLITE_OK : SQLITE_DENY;
    default:
        return SQLITE_DENY;
    }
}

} // namespace

int InstallReadOnlyGuard(sqlite3* db, const bool* declaring) {
    // No more code is loaded, through SQL or the C API.
    sqlite3_enable_load_extension(db, 0);
    return sqlite3_set_authorizer(db, Authorize, const_cast<bool*>(declaring));
}

} // namespace tarnwick::access
