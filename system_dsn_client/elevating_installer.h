#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dsn/installer.h"
#include "system_dsn_client/system_dsn_request.h"

namespace dsn {

// The installer the program uses: a System DSN that the effective user may
// not write is added by the privileged helper, run through pkexec once the
// user has authenticated as an administrator; every other request goes to
// the direct installer (libodbcinst) exactly as before. The helper's outcome
// and error records are answered in libodbcinst's own shapes, so the report
// of a request looks the same whichever way it went.
//
// pkexec runs under QProcess in the calling thread. The program should have a
// QCoreApplication: a helper that outlives the timeout, as root, is reaped by
// its event loop once it ends (see LetRunOut in the source); without one it
// stays a zombie until the program exits.
class ElevatingInstaller final : public Installer {
public:
    struct Settings {
        std::string helperPath;
        std::string pkexecPath;
        // How long to wait for authentication and the helper together.
        std::chrono::milliseconds timeout{std::chrono::minutes(5)};
        Installer* direct = nullptr; // SystemInstaller() when null
    };

    // The installed helper and /usr/bin/pkexec.
    ElevatingInstaller();
    explicit ElevatingInstaller(Settings settings);

    // Called about every 50 ms while pkexec runs (the authentication dialog
    // may be up for minutes), so a window can keep painting itself. Nothing
    // else runs meanwhile: the wait sleeps on pkexec's pipes and its exit.
    void SetWaitHook(std::function<void()> hook) { waitHook_ = std::move(hook); }

    // True when `request` would go through the helper: it adds a System DSN,
    // the effective user is not root and may not write the folder of the
    // system odbc.ini (ODBCSYSINI honoured, as unixODBC computes it).
    static bool UsesHelper(std::uint16_t request);

    bool ConfigDataSource(void* parentWindow, std::uint16_t request, const char* driver,
                          const char* attributes) override;
    std::int16_t InstallerError(std::uint16_t index, std::uint32_t* errorCode, char* message, std::uint16_t capacity,
                                std::uint16_t* textLength) override;

private:
    SystemDsnAnswer AskHelper(const char* driver, const char* attributes);

    Settings settings_;
    std::function<void()> waitHook_;
    bool lastWentDirect_ = true;
    std::vector<InstallerRecord> records_; // the helper route's last records
};

} // namespace dsn
