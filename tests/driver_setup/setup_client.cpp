#include "setup_client.h"

#include <sstream>
#include <stdexcept>

namespace tarnwick::testing {

ClientResult RunClient(const OdbcSandbox& sandbox, const std::vector<std::string>& arguments,
                       const std::map<std::string, std::string>& extra) {
    std::vector<std::string> argv{"timeout", "-k", "5", "60", CONFIG_DSN_CLIENT};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    auto environment = sandbox.Environment();
    for (const auto& [name, value] : extra) {
        environment[name] = value;
    }
    const CommandResult command = RunCommand(argv, environment);

    ClientResult result;
    result.exitCode = command.exitCode;
    result.output = command.output;
    std::istringstream lines(command.output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line == "result=1") {
            result.succeeded = true;
        }
        unsigned index = 0;
        unsigned long code = 0;
        int consumed = 0;
        if (std::sscanf(line.c_str(), "record %u code=%lu message=%n", &index, &code, &consumed) == 2 && consumed > 0) {
            result.records.push_back({code, line.substr(static_cast<std::size_t>(consumed))});
        }
    }
    return result;
}

ClientResult ConfigDataSource(const OdbcSandbox& sandbox, int request, const std::vector<std::string>& attributes,
                              const std::map<std::string, std::string>& extra) {
    std::vector<std::string> arguments{std::to_string(request), kAccessDriver};
    arguments.insert(arguments.end(), attributes.begin(), attributes.end());
    return RunClient(sandbox, arguments, extra);
}

std::map<std::string, std::string> ReadProfile(const OdbcSandbox& sandbox,
                                               const std::vector<std::pair<std::string, std::string>>& keys) {
    std::vector<std::string> arguments{"--get"};
    for (const auto& [section, key] : keys) {
        arguments.push_back(section);
        arguments.push_back(key);
    }
    const ClientResult result = RunClient(sandbox, arguments);
    std::map<std::string, std::string> values;
    std::istringstream lines(result.output);
    std::string line;
    std::size_t next = 0;
    while (std::getline(lines, line) && next < keys.size()) {
        const std::string prefix = keys[next].first + "." + keys[next].second + "=";
        if (line.rfind(prefix, 0) != 0) {
            continue;
        }
        std::string value = line.substr(prefix.size());
        value = value.substr(0, value.rfind(" ("));
        if (value != "<missing>") {
            values[keys[next].first + "." + keys[next].second] = value;
        }
        ++next;
    }
    return values;
}

namespace {

// With AddressSanitizer the client carries its runtime, which must come first.
std::string Preload(const std::string& shim) {
    const std::string runtime = ASAN_RUNTIME;
    return runtime.empty() ? shim : runtime + ":" + shim;
}

} // namespace

std::map<std::string, std::string> FaultEnvironment(const OdbcSandbox& sandbox, const std::string& fault) {
    return {{"LD_PRELOAD", Preload(FAULT_SHIM)}, {"TARNWICK_FAULT", fault}, {"TARNWICK_FAULT_DIR", sandbox.Dir()}};
}

std::map<std::string, std::string> ConfigLockEnvironment(const std::string& lock) {
    return {{"LD_PRELOAD", Preload(CONFIG_LOCK_SHIM)}, {"TARNWICK_CONFIG_LOCK", lock}};
}

std::vector<std::string> DialogAttributes(const std::string& dsn, const std::string& database,
                                          const std::string& directory) {
    const std::string text = "DSN=" + dsn + ";FIL=MS Access;JetIniPath=odbcddp.ini;DBQ=" + database +
                             ";DefaultDir=" + directory + ";Description=;UID=;PWD=;";
    std::vector<std::string> entries;
    std::size_t begin = 0;
    for (std::size_t end = text.find(';'); end != std::string::npos; end = text.find(';', begin)) {
        entries.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
    return entries;
}

} // namespace tarnwick::testing
