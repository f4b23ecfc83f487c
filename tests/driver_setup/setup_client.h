#pragma once

#include <map>
#include <string>
#include <vector>

#include "odbc_sandbox.h"

namespace tarnwick::testing {

constexpr const char* kAccessDriver = "Microsoft Access Driver (*.mdb)";

// One installer error record as config_dsn_client printed it.
struct InstallerRecord {
    unsigned long code = 0;
    std::string message;
};

struct ClientResult {
    int exitCode = -1;
    bool succeeded = false;
    std::vector<InstallerRecord> records;
    std::string output;
};

// Runs config_dsn_client with `arguments` in the sandbox's environment plus
// `extra`. A client that has not answered after 60 s is stopped (exit code 124),
// so a setup that waits for ever fails its test instead of hanging the suite.
ClientResult RunClient(const OdbcSandbox& sandbox, const std::vector<std::string>& arguments,
                       const std::map<std::string, std::string>& extra = {});

// The same with SQLConfigDataSource's arguments: request, driver and the entries
// of the attribute list.
ClientResult ConfigDataSource(const OdbcSandbox& sandbox, int request, const std::vector<std::string>& attributes,
                              const std::map<std::string, std::string>& extra = {});

// What SQLGetPrivateProfileString reads for section.key from the sandbox's odbc.ini,
// or nothing when the key is not there.
std::map<std::string, std::string> ReadProfile(const OdbcSandbox& sandbox,
                                               const std::vector<std::pair<std::string, std::string>>& keys);

// The environment that preloads the fault shim making `fault` fail in the sandbox.
std::map<std::string, std::string> FaultEnvironment(const OdbcSandbox& sandbox, const std::string& fault);

// The environment that preloads the config-lock shim, `lock` being "held" or
// "released".
std::map<std::string, std::string> ConfigLockEnvironment(const std::string& lock);

// The attribute list the dialog sends, as separate entries: its text with every
// ';' turned into an entry boundary, so a ';' inside a value splits it as well.
std::vector<std::string> DialogAttributes(const std::string& dsn, const std::string& database,
                                          const std::string& directory);

} // namespace tarnwick::testing
