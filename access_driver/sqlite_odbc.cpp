#include "sqlite_odbc.h"

#include <dlfcn.h>
#include <odbcinst.h>

namespace access_driver {
namespace {

// What every entry point does when sqliteodbc could not be loaded: fail
// without touching anything (the driver's own code has answered by then).
template <typename Function> struct Unavailable;
template <typename... Arguments> struct Unavailable<SQLRETURN(SQL_API*)(Arguments...)> {
    static SQLRETURN SQL_API Call(Arguments...) { return SQL_ERROR; }
};

template <typename Function> void MakeUnavailable(Function& function) { function = &Unavailable<Function>::Call; }

SqliteOdbc Unloaded(std::string why) {
    SqliteOdbc f;
#define TARNWICK_SQLITE_ODBC_FUNCTION(name) MakeUnavailable(f.name);
#include "sqlite_odbc_function_list.h"
#undef TARNWICK_SQLITE_ODBC_FUNCTION
    f.load_error = std::move(why);
    return f;
}

std::string ConfiguredLibrary() {
    char path[4096] = "";
    // Our own section: an administrator may point the driver at another
    // sqliteodbc build without rebuilding Tarnwick.
    SQLGetPrivateProfileString("Microsoft Access Driver (*.mdb)", "SQLiteDriver", "", path, sizeof path,
                               "ODBCINST.INI");
    return path[0] != '\0' ? std::string(path) : std::string(TARNWICK_SQLITE_ODBC_DRIVER);
}

SqliteOdbc Load() {
    SqliteOdbc f;
    const std::string library = ConfiguredLibrary();
    // RTLD_LOCAL keeps sqliteodbc's SQL* symbols out of the global scope,
    // where they would clash with ours.
    void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        return Unloaded("Cannot load the SQLite ODBC driver " + library + ": " + (why ? why : "unknown error"));
    }
    bool complete = true;
#define TARNWICK_SQLITE_ODBC_FUNCTION(name)                                                                            \
    f.name = reinterpret_cast<decltype(f.name)>(dlsym(handle, "SQL" #name));                                           \
    complete = complete && f.name != nullptr;
#include "sqlite_odbc_function_list.h"
#undef TARNWICK_SQLITE_ODBC_FUNCTION
    if (!complete) {
        dlclose(handle);
        return Unloaded(library + " does not look like the SQLite ODBC driver: some of its calls are missing");
    }
    f.loaded = true;
    return f;
}

} // namespace

const SqliteOdbc& Backend() {
    static const SqliteOdbc functions = Load();
    return functions;
}

} // namespace access_driver
