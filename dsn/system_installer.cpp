#include "dsn/installer.h"

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include <dirent.h>
#include <sql.h>
#include <odbcinst.h>

namespace dsn {

namespace {

constexpr char SearchVariable[] = "ODBCSEARCH";
constexpr char SystemSearch[] = "ODBC_SYSTEM_DSN";

bool IsSystemRequest(std::uint16_t request) {
    return request == ODBC_ADD_SYS_DSN || request == ODBC_CONFIG_SYS_DSN || request == ODBC_REMOVE_SYS_DSN;
}

// True when this thread is the process's only one: only then may the
// environment change, since another thread may read it at any moment
// (getenv is not safe against a concurrent setenv). Without /proc the answer
// is no.
bool IsSingleThreaded() {
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) {
        return false;
    }
    int count = 0;
    while (const dirent* entry = readdir(tasks)) {
        count += entry->d_name[0] != '.';
    }
    closedir(tasks);
    return count == 1;
}

// Makes ODBCSEARCH name the system data sources for one system request. From
// unixODBC 2.3.13 on, a driver's setup cannot ask the installer which kind of
// data source a request is for without waiting for ever on the installer's
// lock; ODBCSEARCH tells it without the lock, and unixODBC itself gives it
// precedence over the config mode everywhere.
//
// Nothing changes when it already names them (a program that makes only
// system requests sets it once at its start: UseSystemDataSourcesForProcess).
// Otherwise it is set for the request and restored afterwards, but only while
// the process has no other thread; with other threads it is left alone, and
// a value that names another kind of data source refuses the request.
class SystemSearchScope {
public:
    explicit SystemSearchScope(std::uint16_t request) {
        if (!IsSystemRequest(request)) {
            return;
        }
        const char* current = std::getenv(SearchVariable);
        if (current != nullptr && std::strcmp(current, SystemSearch) == 0) {
            return;
        }
        if (!IsSingleThreaded()) {
            // unixODBC ignores any other value, and so does the setup library.
            if (current != nullptr &&
                (std::strcmp(current, "ODBC_USER_DSN") == 0 || std::strcmp(current, "ODBC_BOTH_DSN") == 0)) {
                conflict_ = current;
            }
            return;
        }
        if (current != nullptr) {
            previous_ = current;
        }
        active_ = setenv(SearchVariable, SystemSearch, 1) == 0;
    }
    ~SystemSearchScope() {
        // Neither unixODBC nor the setup library starts threads; should one
        // have appeared all the same, the value stays rather than race it.
        if (!active_ || !IsSingleThreaded()) {
            return;
        }
        if (previous_) {
            setenv(SearchVariable, previous_->c_str(), 1);
        } else {
            unsetenv(SearchVariable);
        }
    }
    SystemSearchScope(const SystemSearchScope&) = delete;
    SystemSearchScope& operator=(const SystemSearchScope&) = delete;

    // The value that would turn the system request into another kind, when
    // it cannot be changed.
    const std::optional<std::string>& Conflict() const { return conflict_; }

private:
    std::optional<std::string> previous_;
    std::optional<std::string> conflict_;
    bool active_ = false;
};

class LibodbcinstInstaller final : public Installer {
public:
    bool ConfigDataSource(void* parentWindow, std::uint16_t request, const char* driver,
                          const char* attributes) override {
        DrainLeftoverRecords();
        const SystemSearchScope search(request);
        if (search.Conflict()) {
            const std::string message =
                std::string(SearchVariable) + " is set to \"" + *search.Conflict() +
                "\", which makes the installer write another kind of data source than a System DSN, and it "
                "cannot be changed while the program's threads run. Start the program without " +
                SearchVariable + " or with " + SearchVariable + "=" + SystemSearch + "; nothing was changed.";
            SQLPostInstallerError(ODBC_ERROR_REQUEST_FAILED, message.c_str());
            return false;
        }
        return SQLConfigDataSource(static_cast<HWND>(parentWindow), request, driver, attributes) != 0;
    }

    std::int16_t InstallerError(std::uint16_t index, std::uint32_t* errorCode, char* message, std::uint16_t capacity,
                                std::uint16_t* textLength) override {
        // unixODBC reads before the start of its list for index 0.
        if (index == 0 || errorCode == nullptr || message == nullptr) {
            return SQL_ERROR;
        }
        DWORD code = 0;
        WORD length = 0;
        const SQLRETURN status = SQLInstallerError(index, &code, message, capacity, &length);
        *errorCode = static_cast<std::uint32_t>(code);
        if (textLength != nullptr) {
            *textLength = length;
        }
        return status;
    }

private:
    static bool HasRecords() {
        DWORD code = 0;
        char text[2];
        // Capacity 1: unixODBC writes up to capacity + 1 bytes.
        return SQLInstallerError(1, &code, text, 1, nullptr) != SQL_NO_DATA;
    }

    // unixODBC (2.3.11) clears the error records at the start of each call, but
    // its clearing removes only the newest record, so records of an earlier
    // request would show up under this one. SQLGetConfigMode clears and
    // changes nothing else, so repeating it removes them one by one.
    static void DrainLeftoverRecords() {
        // unixODBC keeps at most 10; the bound only guards against a library
        // whose clearing removes nothing.
        constexpr int MaxRounds = 64;
        for (int round = 0; round < MaxRounds && HasRecords(); ++round) {
            UWORD mode = 0;
            SQLGetConfigMode(&mode);
        }
    }
};

} // namespace

void UseSystemDataSourcesForProcess() { setenv(SearchVariable, SystemSearch, 1); }

Installer& SystemInstaller() {
    static LibodbcinstInstaller installer;
    return installer;
}

} // namespace dsn
