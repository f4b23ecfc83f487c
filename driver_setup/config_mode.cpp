#include "config_mode.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <dlfcn.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <odbcinst.h>

namespace tarnwick::setup {

namespace {

// How long the child may take to answer. Without the lock it answers in well
// under a millisecond; the bound only matters where the lock is held.
constexpr int ProbeRounds = 50;
constexpr long ProbeRoundNanoseconds = 10'000'000;

// The child's exit status for a mode: ProbeAnswered + the mode (0 to 2).
constexpr int ProbeAnswered = 100;

std::optional<int> ModeFromSearchVariable() {
    const char* value = std::getenv("ODBCSEARCH");
    if (value == nullptr) {
        return std::nullopt;
    }
    // Any other value is ignored by unixODBC, so it is ignored here too.
    if (std::strcmp(value, "ODBC_SYSTEM_DSN") == 0) {
        return ODBC_SYSTEM_DSN;
    }
    if (std::strcmp(value, "ODBC_USER_DSN") == 0) {
        return ODBC_USER_DSN;
    }
    if (std::strcmp(value, "ODBC_BOTH_DSN") == 0) {
        return ODBC_BOTH_DSN;
    }
    return std::nullopt;
}

// unixODBC 2.3.13 brought the lock held across ConfigDSN together with
// __SQLGetPrivateProfileStringNL, the profile reader for code that runs under
// it. Its presence marks the releases where SQLGetConfigMode may wait for ever.
bool InstallerMayHoldConfigLock() {
    constexpr char Marker[] = "__SQLGetPrivateProfileStringNL";
    if (dlsym(RTLD_DEFAULT, Marker) != nullptr) {
        return true;
    }
    // A client that loaded unixODBC privately (RTLD_LOCAL) hides it from
    // RTLD_DEFAULT; the library this one is linked against is asked directly.
    void* installer = dlopen("libodbcinst.so.2", RTLD_LAZY | RTLD_NOLOAD);
    if (installer == nullptr) {
        return true; // cannot tell: assume the lock, which never waits
    }
    const bool found = dlsym(installer, Marker) != nullptr;
    dlclose(installer);
    return found;
}

// Asks SQLGetConfigMode in a child process, which has a copy of the lock as
// this process holds it. The child is stopped if it does not answer in time.
std::optional<int> ModeFromChild() {
    const pid_t child = fork();
    if (child < 0) {
        return std::nullopt;
    }
    if (child == 0) {
        alarm(2); // never outlives a parent that could not wait for it
        UWORD mode = 0;
        SQLGetConfigMode(&mode);
        _exit(mode <= ODBC_SYSTEM_DSN ? ProbeAnswered + mode : 1);
    }

    int status = 0;
    for (int round = 0; round < ProbeRounds; ++round) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) {
            if (WIFEXITED(status) && WEXITSTATUS(status) >= ProbeAnswered &&
                WEXITSTATUS(status) <= ProbeAnswered + ODBC_SYSTEM_DSN) {
                return WEXITSTATUS(status) - ProbeAnswered;
            }
            return std::nullopt;
        }
        if (done < 0 && errno != EINTR) {
            return std::nullopt; // reaped by someone else: no answer to read
        }
        const timespec pause{0, ProbeRoundNanoseconds};
        nanosleep(&pause, nullptr);
    }
    kill(child, SIGKILL);
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return std::nullopt;
}

} // namespace

ConfigMode CurrentConfigMode() {
    if (const auto mode = ModeFromSearchVariable()) {
        return {mode, {}};
    }
    if (!InstallerMayHoldConfigLock()) {
        UWORD mode = ODBC_BOTH_DSN;
        SQLGetConfigMode(&mode);
        return {mode, {}};
    }
    if (const auto mode = ModeFromChild()) {
        return {mode, {}};
    }
    return {std::nullopt,
            "This unixODBC release keeps its configuration lock while it runs the driver's setup, so the setup "
            "cannot ask whether a system or a user data source is meant. Set the environment variable ODBCSEARCH "
            "to ODBC_SYSTEM_DSN (or ODBC_USER_DSN) for the request; nothing was changed."};
}

} // namespace tarnwick::setup
