#include "mdb_functions.h"


#include <dlfcn.h>
#include <odbcinst.h>

namespace access_driver {
namespace {

// What every entry point does when mdbtools' driver could not be loaded: fail
// without touching anything (the driver's own code has answered by then).
template <typename Function>
struct Unavailable;
template <typename... Arguments>
struct Unavailable<SQLRETURN(SQL_API*)(Arguments...)> {
  static SQLRETURN SQL_API Call(Arguments...) { return SQL_ERROR; }
};

template <typename Function>
void MakeUnavailable(Function& function) {
  function = &Unavailable<Function>::Call;
}

MdbFunctions Unloaded(std::string why) {
  MdbFunctions f;
#define TARNWICK_MDB_FUNCTION(name) MakeUnavailable(f.name);
#include "mdb_function_list.h"
#undef TARNWICK_MDB_FUNCTION
  MakeUnavailable(f.GetDiagRec);
  MakeUnavailable(f.ColAttributes);
  f.load_error = std::move(why);
  return f;
}

std::string ConfiguredLibrary() {
  char path[4096] = "";
  // Our own section: an administrator may point the driver at another
  // mdbtools build without rebuilding Tarnwick.
  SQLGetPrivateProfileString("Microsoft Access Driver (*.mdb)", "MdbtoolsDriver", "", path, sizeof path,
                             "ODBCINST.INI");
  return path[0] != '\0' ? std::string(path) : std::string(TARNWICK_MDB_DRIVER);
}

MdbFunctions Load() {
  MdbFunctions f;
  const std::string library = ConfiguredLibrary();
  // RTLD_LOCAL keeps mdbtools' SQL* symbols out of the global scope, where
  // they would clash with ours.
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    return Unloaded("Cannot load mdbtools' ODBC driver " + library + ": " + (why ? why : "unknown error"));
  }
#define TARNWICK_MDB_FUNCTION(name) \
  f.name = reinterpret_cast<decltype(f.name)>(dlsym(handle, "SQL" #name));
#include "mdb_function_list.h"
#undef TARNWICK_MDB_FUNCTION
  f.GetDiagRec = reinterpret_cast<decltype(f.GetDiagRec)>(dlsym(handle, "SQLGetDiagRec"));
  f.ColAttributes = reinterpret_cast<decltype(f.ColAttributes)>(dlsym(handle, "SQLColAttributes"));
  if (!f.AllocHandle || !f.FreeHandle || !f.Connect || !f.ExecDirect || !f.Fetch || !f.GetData || !f.Error) {
    dlclose(handle);
    return Unloaded(library + " does not look like mdbtools' ODBC driver: its basic calls are missing");
  }
  f.loaded = true;
  return f;
}

}  // namespace

const MdbFunctions& Mdb() {
  static const MdbFunctions functions = Load();
  return functions;
}

}  // namespace access_driver
