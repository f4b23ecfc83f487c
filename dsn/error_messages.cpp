#include "dsn/error_messages.h"

#include <cstring>

const char* const ErrorMessages[ErrorMessageCount] = {
    nullptr,
    "Incorrect or missing command line parameters",
    "Not enough space to back up database file on target disk",
    "Could not exclusively lock file, as it is being used by another process",
    "Error opening MDB file or file not found",
    "Could not locate the directory containing the MDB file",
    "Could not locate the specified working directory",
    "Error compacting database (CompactDb):",
    "Error creating database (CreateDb):",
    "Error repairing database (RepairDb):",
    "Error creating DSN (CreateDSN):",
    "Could not get the size of the MDB file",
    "Could not get the free byte count of the target volume",
    "Could not rename database to temporary working name",
    "Could not create a backup copy of the database",
    "The Jet driver requires a pathname with no spaces, and I could not get\n"
    " an alternate pathname for the path you specified.",
    "Could not restore the MDB file back to its original location",
};

namespace dsn {

const char* LookupErrorMessage(std::int8_t code) {
    const int index = code;
    if (index < 0 || index >= ErrorMessageCount) {
        return UnknownResultMessage;
    }
    return ErrorMessages[index];
}

bool AsksForInstallerDetail(const char* message) {
    if (message == nullptr) {
        return false;
    }
    const std::size_t length = std::strlen(message);
    return length > 0 && message[length - 1] == ':';
}

} // namespace dsn
