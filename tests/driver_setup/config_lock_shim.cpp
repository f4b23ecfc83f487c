// Preloaded into a config_dsn_client to give the installer the config-mode
// lock of unixODBC 2.3.13 and later, whatever release is installed:
//   TARNWICK_CONFIG_LOCK=held      SQLConfigDataSource holds the lock while the
//                                  setup runs, and SQLGetConfigMode waits on it
//                                  for ever (as 2.3.13 and 2.3.14 do)
//   TARNWICK_CONFIG_LOCK=released  a release that has the lock but no longer
//                                  holds it during the setup
// Both mark the release the way 2.3.13 does, by exporting the lock-free
// profile reader __SQLGetPrivateProfileStringNL.
#include <cstdlib>
#include <cstring>

#include <dlfcn.h>
#include <unistd.h>

#include <odbcinst.h>

namespace {

bool lockHeld = false;

bool HoldsLock() {
    const char* mode = std::getenv("TARNWICK_CONFIG_LOCK");
    return mode != nullptr && std::strcmp(mode, "held") == 0;
}

template <typename Function> Function Next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

// Present only as the mark of a release with the lock; never called here.
int __SQLGetPrivateProfileStringNL(LPCSTR, LPCSTR, LPCSTR, LPSTR buffer, int size, LPCSTR) {
    if (buffer != nullptr && size > 0) {
        buffer[0] = '\0';
    }
    return -1;
}

BOOL SQLConfigDataSource(HWND parent, WORD request, LPCSTR driver, LPCSTR attributes) {
    static const auto next = Next<BOOL (*)(HWND, WORD, LPCSTR, LPCSTR)>("SQLConfigDataSource");
    lockHeld = HoldsLock();
    const BOOL result = next(parent, request, driver, attributes);
    lockHeld = false;
    return result;
}

BOOL SQLGetConfigMode(UWORD* mode) {
    static const auto next = Next<BOOL (*)(UWORD*)>("SQLGetConfigMode");
    while (lockHeld) {
        pause(); // a non-recursive mutex this thread already holds
    }
    return next(mode);
}

} // extern "C"
