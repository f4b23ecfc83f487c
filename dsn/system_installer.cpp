#include "dsn/installer.h"

#include <cstdlib>
#include <optional>
#include <string>

#include <sql.h>
#include <odbcinst.h>

namespace dsn {

namespace {

// Sets ODBCSEARCH for one system request and restores it afterwards. From
// unixODBC 2.3.13 on, a driver's setup cannot ask the installer which kind of
// data source a request is for without waiting for ever on the installer's
// lock; ODBCSEARCH tells it without the lock, and unixODBC itself gives it
// precedence over the config mode everywhere.
class SystemSearchScope {
public:
    explicit SystemSearchScope(std::uint16_t request) {
        if (request != ODBC_ADD_SYS_DSN && request != ODBC_CONFIG_SYS_DSN && request != ODBC_REMOVE_SYS_DSN) {
            return;
        }
        if (const char* previous = std::getenv(Variable)) {
            previous_ = previous;
        }
        active_ = setenv(Variable, "ODBC_SYSTEM_DSN", 1) == 0;
    }
    ~SystemSearchScope() {
        if (!active_) {
            return;
        }
        if (previous_) {
            setenv(Variable, previous_->c_str(), 1);
        } else {
            unsetenv(Variable);
        }
    }
    SystemSearchScope(const SystemSearchScope&) = delete;
    SystemSearchScope& operator=(const SystemSearchScope&) = delete;

private:
    static constexpr char Variable[] = "ODBCSEARCH";
    std::optional<std::string> previous_;
    bool active_ = false;
};

class LibodbcinstInstaller final : public Installer {
public:
    bool ConfigDataSource(void* parentWindow, std::uint16_t request, const char* driver,
                          const char* attributes) override {
        DrainLeftoverRecords();
        const SystemSearchScope search(request);
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

Installer& SystemInstaller() {
    static LibodbcinstInstaller installer;
    return installer;
}

} // namespace dsn
