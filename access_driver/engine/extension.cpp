// The entry point SQLite finds when it loads the driver's library as an
// extension (sqlite3_load_extension with no entry point derives
// sqlite3_tarnwickmdbodbc_init from the file name libtarnwick-mdbodbc.so).
#include <sqlite3.h>

#include "access_engine.h"
#include "access_functions.h"

extern "C" __attribute__((visibility("default"))) int sqlite3_tarnwickmdbodbc_init(sqlite3* db, char** error,
                                                                                   const void*) {
    // The functions first: the collation they register decides how the
    // tables declare their text columns.
    int rc = tarnwick::access::RegisterAccessFunctions(db);
    if (rc == SQLITE_OK) {
        rc = tarnwick::access::RegisterAccessEngine(db);
    }
    if (rc != SQLITE_OK && error) {
        *error =
            sqlite3_mprintf("cannot register the Access driver's SQL functions and tables: %s", sqlite3_errstr(rc));
    }
    return rc;
}
