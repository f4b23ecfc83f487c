#pragma once

#include <map>
#include <string>
#include <vector>

namespace tarnwick::testing {

// A temporary ODBC system directory for one test process: an odbcinst.ini that
// registers "Microsoft Access Driver (*.mdb)" (mdbtools' driver and our built
// setup library, by absolute path) and an empty odbc.ini. The directory is
// removed again on destruction.
//
// unixODBC reads ODBCSYSINI once per process, so a process exports at most one
// sandbox; later tests in the same process rewrite its files instead.
class OdbcSandbox {
public:
    enum class Driver { Registered, NotRegistered };

    explicit OdbcSandbox(Driver driver = Driver::Registered);
    ~OdbcSandbox();
    OdbcSandbox(const OdbcSandbox&) = delete;
    OdbcSandbox& operator=(const OdbcSandbox&) = delete;

    const std::string& Dir() const { return dir_; }
    std::string OdbcIniPath() const { return dir_ + "/odbc.ini"; }
    std::string OdbcinstIniPath() const { return dir_ + "/odbcinst.ini"; }

    std::string ReadOdbcIni() const;
    void WriteOdbcIni(const std::string& text) const;

    // Sets ODBCSYSINI to this directory for the calling process (and children).
    void Export() const;

    // The environment entries a child process needs to use this sandbox.
    std::map<std::string, std::string> Environment() const;

private:
    std::string dir_;
};

// The driver entry for odbcinst.ini that the build generated.
std::string DriverEntry();

// Absolute path of a file in the shared test fixtures folder.
std::string FixturePath(const std::string& name);

// Reads a whole file; throws std::runtime_error when it cannot.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);

// The file names in a folder, sorted, but the writers' lock file (which stays
// once made, like /etc/.pwd.lock): to check that no temporary copy was left.
std::vector<std::string> FolderEntries(const std::string& folder);

struct CommandResult {
    int exitCode = -1;  // the exit status, or 128 + signal when killed
    std::string output; // stdout and stderr together
};

// Runs argv[0] (looked up in PATH) with extra environment entries, feeding
// `input` on its standard input, and collects what it prints.
CommandResult RunCommand(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& environment = {}, const std::string& input = {});

// Starts every command at once, each with the same extra environment, and
// collects their results in the order given.
std::vector<CommandResult> RunConcurrently(const std::vector<std::vector<std::string>>& commands,
                                           const std::map<std::string, std::string>& environment = {});

// Runs isql in batch mode against `dsn` with the statements in `sql`.
CommandResult RunIsql(const OdbcSandbox& sandbox, const std::string& dsn, const std::string& sql);

} // namespace tarnwick::testing
