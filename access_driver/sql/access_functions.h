#pragma once

#include <sqlite3.h>

namespace tarnwick::access {

// Registers Access's functions (IIf, Nz, Len, Left, ..., Format, Round with
// banker's rounding), the helpers the statement rewrite calls (tw_concat,
// tw_intdiv, tw_mod, tw_power), the collation "ACCESS" (case-insensitive,
// accent-sensitive), the collation "ACCESSDATE" (Date/Time texts compared as
// the dates they name) and a LIKE that ignores case beyond ASCII.
// Returns SQLITE_OK or the first error.
int RegisterAccessFunctions(sqlite3* db);

} // namespace tarnwick::access
