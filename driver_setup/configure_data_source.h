#pragma once

#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

#include "setup_error.h"

namespace tarnwick::setup {

struct SetupContext {
    std::string iniPath;       // the odbc.ini of the requested kind (system or user)
    mode_t newFileMode = 0644; // for that file when it does not exist yet
    // Stands in for an empty or relative DefaultDir; none when it could not be
    // determined (then only absolute paths can be stored).
    std::optional<std::string> currentDirectory;
};

struct SetupOutcome {
    bool succeeded = false;
    std::vector<SetupError> errors; // why not, when it did not succeed
};

// Carries out one ConfigDSN request on the file named by the context:
//   ODBC_ADD_DSN adds the data source, or, when one of that name already belongs
//     to this driver, makes its entries exactly the new ones;
//   ODBC_CONFIG_DSN changes the given entries of an existing data source of this
//     driver and keeps the others;
//   ODBC_REMOVE_DSN removes a data source of this driver.
// A data source is stored as its section: Driver= the driver name, the attributes
// as given, and Database= the full path of the DBQ file (mdbtools' driver opens
// the file named by Database and ignores DBQ and DefaultDir). Everything is
// checked before the file is touched, and a data source of another driver is
// never changed.
SetupOutcome ConfigureDataSource(int request, const char* driver, const char* attributes, const SetupContext& context);

} // namespace tarnwick::setup
