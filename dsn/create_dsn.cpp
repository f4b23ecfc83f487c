#include "dsn/create_dsn.h"

#include <string>
#include <vector>

namespace {

const char* OrEmpty(const char* value) { return value != nullptr ? value : ""; }

// Record statuses of SQLInstallerError.
constexpr int RecordFound = 0;
constexpr int RecordFoundTruncated = 1;
constexpr int NoMoreRecords = 100;

} // namespace

std::int8_t CreateDSN(const char* driver, const char* database, const char* dsnName, const char* directory,
                      dsn::WindowOperations& window, dsn::Installer& installer) {
    window.AppendLogLine(std::string("Database name: ") + OrEmpty(database));
    window.AppendLogLine(std::string("DSN: ") + OrEmpty(dsnName));

    std::vector<char> attributes = dsn::BuildAttributeList(dsnName, database, directory);
    window.AppendLogLine("Creating System DSN...");

    if (!installer.ConfigDataSource(nullptr, dsn::AddSystemDsnRequest, driver, attributes.data())) {
        return dsn::DsnRefused;
    }
    window.AppendLogLine("System DSN created successfully!");
    window.DisableCancel();
    return dsn::DsnCreated;
}

int DisplayODBCErrors(dsn::WindowOperations& window, dsn::Installer& installer) {
    int wroteLine = 0;
    // Index 0 is never asked for: unixODBC reads before its list for it.
    for (std::uint16_t index = 1; index <= dsn::MaxErrorRecords; ++index) {
        char message[dsn::ErrorTextCapacity + 1];
        message[0] = '\0';
        std::uint32_t errorCode = 0;
        std::uint16_t textLength = 0;
        const int status = installer.InstallerError(index, &errorCode, message, dsn::ErrorTextCapacity, &textLength);
        if (status == NoMoreRecords) {
            break;
        }
        if (status != RecordFound && status != RecordFoundTruncated) {
            continue;
        }
        // An installer that fills the whole buffer still leaves a C string.
        message[dsn::ErrorTextCapacity] = '\0';
        // The code is shown as a signed decimal, as %d shows it.
        window.AppendLogLine(" ODBC Error " + std::to_string(static_cast<std::int32_t>(errorCode)) + ": " + message +
                             "\n");
        wroteLine = 1;
    }
    return wroteLine;
}
