#pragma once

#include <cstdint>

namespace dsn {

// The ODBC installer calls the core makes, in the installer's own shapes.
// The default implementation is unixODBC's libodbcinst; tests can script
// statuses the real one never gives.
class Installer {
public:
    virtual ~Installer() = default;

    // SQLConfigDataSource: true when the data source now exists.
    virtual bool ConfigDataSource(void* parentWindow, std::uint16_t request, const char* driver,
                                  const char* attributes) = 0;

    // SQLInstallerError: 0 or 1 when record `index` (1-based) exists and
    // `errorCode` and `message` were filled in, 100 past the last record.
    virtual std::int16_t InstallerError(std::uint16_t index, std::uint32_t* errorCode, char* message,
                                        std::uint16_t capacity, std::uint16_t* textLength) = 0;
};

// The real libodbcinst.
Installer& SystemInstaller();

// Sets ODBCSEARCH to ODBC_SYSTEM_DSN for the whole process, so that no system
// request needs to change the environment later (from unixODBC 2.3.13 on the
// driver's setup learns the kind of data source only from it). For a program
// that makes only system requests: call it first thing in main, before any
// thread runs. Without it, SystemInstaller() sets the variable around each
// system request, but only while the process has no other thread.
void UseSystemDataSourcesForProcess();

} // namespace dsn
