#include "odbc_sandbox.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarnwick::testing {

namespace {

std::string MakeTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarnwick-odbc-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp: " + std::string(std::strerror(errno)));
    }
    return pattern;
}

} // namespace

OdbcSandbox::OdbcSandbox(Driver driver) : dir_(MakeTempDir()) {
    WriteFile(OdbcinstIniPath(), driver == Driver::Registered ? DriverEntry() : std::string());
    WriteFile(OdbcIniPath(), "");
}

OdbcSandbox::~OdbcSandbox() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::string OdbcSandbox::ReadOdbcIni() const { return ReadFile(OdbcIniPath()); }

void OdbcSandbox::WriteOdbcIni(const std::string& text) const { WriteFile(OdbcIniPath(), text); }

void OdbcSandbox::Export() const { setenv("ODBCSYSINI", dir_.c_str(), 1); }

std::map<std::string, std::string> OdbcSandbox::Environment() const { return {{"ODBCSYSINI", dir_}}; }

std::string DriverEntry() { return ReadFile(TARNWICK_DRIVER_ENTRY); }

std::string FixturePath(const std::string& name) {
    const char* override = std::getenv("TARNWICK_FIXTURES");
    std::filesystem::path dir = override != nullptr ? override : TARNWICK_FIXTURES_DIR;
    return std::filesystem::weakly_canonical(dir / name).string();
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        // The writers' lock file stays once made, like /etc/.pwd.lock.
        if (name != ".odbc.ini.lock") {
            names.push_back(std::move(name));
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

struct RunningCommand {
    pid_t pid;
    int output; // read end of the child's stdout and stderr
};

// Starts argv[0] with extra environment entries; `input` is written to its
// standard input, which is then closed. Inputs are small (a few statements),
// well below the pipe's buffer, so writing them cannot block.
RunningCommand StartCommand(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
                            const std::string& input) {
    int toChild[2];
    int fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe: " + std::string(std::strerror(errno)));
    }
    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork: " + std::string(std::strerror(errno)));
    }
    if (pid == 0) {
        dup2(toChild[0], STDIN_FILENO);
        dup2(fromChild[1], STDOUT_FILENO);
        dup2(fromChild[1], STDERR_FILENO);
        for (const auto& [name, value] : environment) {
            setenv(name.c_str(), value.c_str(), 1);
        }
        std::vector<char*> args;
        for (const auto& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        execvp(args[0], args.data());
        std::fprintf(stderr, "exec %s: %s\n", args[0], std::strerror(errno));
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    if (!input.empty() && write(toChild[1], input.data(), input.size()) < 0) {
        // The child may have exited early; its output says why.
    }
    close(toChild[1]);
    return {pid, fromChild[0]};
}

// Collects what the command prints until it closes its output, then reaps it.
CommandResult FinishCommand(const RunningCommand& command) {
    CommandResult result;
    char buffer[4096];
    ssize_t n;
    while ((n = read(command.output, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
        if (n > 0) {
            result.output.append(buffer, static_cast<size_t>(n));
        }
    }
    close(command.output);
    int status = 0;
    while (waitpid(command.pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

} // namespace

CommandResult RunCommand(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
                         const std::string& input) {
    return FinishCommand(StartCommand(argv, environment, input));
}

std::vector<CommandResult> RunConcurrently(const std::vector<std::vector<std::string>>& commands,
                                           const std::map<std::string, std::string>& environment) {
    std::vector<RunningCommand> running;
    for (const auto& argv : commands) {
        running.push_back(StartCommand(argv, environment, {}));
    }
    std::vector<CommandResult> results;
    for (const auto& command : running) {
        results.push_back(FinishCommand(command));
    }
    return results;
}

CommandResult RunIsql(const OdbcSandbox& sandbox, const std::string& dsn, const std::string& sql) {
    return RunCommand({"isql", "-b", "-v", dsn}, sandbox.Environment(), sql);
}

} // namespace tarnwick::testing
