#include <cerrno>
#include <climits>
#include <cstdio>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include <odbcinst.h>

#include "config_mode.h"
#include "configure_data_source.h"

// unixODBC's own path functions, exported by libodbcinst but declared only in
// its source tree. They read the environment and build the paths unixODBC
// itself uses, so ODBCSYSINI and ODBCINI are honoured exactly as everywhere else.
extern "C" {
char* odbcinst_system_file_path(char* buffer);
BOOL _odbcinst_UserINI(char* fileName, BOOL verify);
}

// unixODBC keeps at most ten records; the ODBC installer API promises eight.
constexpr std::size_t kMaxRecords = 8;

namespace {

using tarnwick::setup::SetupContext;
using tarnwick::setup::SetupError;
using tarnwick::setup::SetupOutcome;

// A buffer of fixed size lets the fortified getcwd check the length it is given.
std::optional<std::string> CurrentDirectory() {
    char buffer[PATH_MAX];
    if (getcwd(buffer, sizeof buffer) == nullptr) {
        return std::nullopt;
    }
    return std::string(buffer);
}

// The odbc.ini that unixODBC itself reads for this config mode: the system file
// in ODBCSYSINI (or /etc), the user's in ODBCINI (or ~/.odbc.ini). With
// verification off, _odbcinst_UserINI creates nothing.
SetupContext ContextFor(UWORD mode) {
    SetupContext context;
    // unixODBC copies up to FILENAME_MAX bytes, and the user file adds its name.
    std::vector<char> buffer(2 * FILENAME_MAX + 64, '\0');
    if (mode == ODBC_SYSTEM_DSN) {
        // The function may return its own static copy instead of filling the buffer.
        context.iniPath = std::string(odbcinst_system_file_path(buffer.data())) + "/odbc.ini";
        context.newFileMode = 0644; // every user's clients must read system data sources
    } else {
        _odbcinst_UserINI(buffer.data(), 0);
        context.iniPath = buffer.data();
        context.newFileMode = 0600;
    }
    context.currentDirectory = CurrentDirectory();
    return context;
}

SetupOutcome Configure(WORD request, LPCSTR driver, LPCSTR attributes) {
    try {
        const tarnwick::setup::ConfigMode mode = tarnwick::setup::CurrentConfigMode();
        if (!mode.mode) {
            return {false, {{ODBC_ERROR_REQUEST_FAILED, mode.problem}}};
        }
        return tarnwick::setup::ConfigureDataSource(request, driver, attributes,
                                                    ContextFor(static_cast<UWORD>(*mode.mode)));
    } catch (const std::bad_alloc&) {
        return {false,
                {{ODBC_ERROR_OUT_OF_MEM, "Out of memory while configuring the data source; nothing was changed."}}};
    } catch (const std::exception& error) {
        return {false, {{ODBC_ERROR_GENERAL_ERR, std::string("Unexpected failure: ") + error.what()}}};
    }
}

} // namespace

// The installer's entry point. unixODBC calls it from SQLConfigDataSource with the
// config mode set to system or user and the request turned into ODBC_ADD_DSN,
// ODBC_CONFIG_DSN or ODBC_REMOVE_DSN. There is no window: the handle is ignored,
// and the data source is configured from the attributes alone.
//
// Error records are posted last: every other installer call clears them.
extern "C" __attribute__((visibility("default"))) BOOL INSTAPI ConfigDSN(HWND, WORD request, LPCSTR driver,
                                                                         LPCSTR attributes) {
    const SetupOutcome outcome = Configure(request, driver, attributes);
    if (outcome.succeeded) {
        return 1;
    }
    if (outcome.errors.empty()) {
        SQLPostInstallerError(ODBC_ERROR_GENERAL_ERR, "The data source could not be configured.");
    }
    for (std::size_t i = 0; i < outcome.errors.size() && i < kMaxRecords; ++i) {
        SQLPostInstallerError(static_cast<DWORD>(outcome.errors[i].code), outcome.errors[i].message.c_str());
    }
    return 0;
}
