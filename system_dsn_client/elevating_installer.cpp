#include "system_dsn_client/elevating_installer.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <odbcinst.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

// Declared by no installed header; the setup library uses the same call, so
// the program and the setup library agree on where the system odbc.ini is.
extern "C" char* odbcinst_system_file_path(char* buffer);

namespace dsn {

namespace {

// How often the wait hook runs while nothing happens (the authentication
// dialog may be up for minutes).
constexpr std::chrono::milliseconds WaitStep{50};
// Where the kernel gives no pidfd, how often a child that closed its pipes is
// looked at until it can be reaped.
constexpr std::chrono::milliseconds ReapStep{1};

// pkexec's own exit codes: the dialog was dismissed, or it did not run the
// helper at all (not authorized, no agent, broken install); stderr tells
// those apart.
constexpr int PkexecDismissed = 126;
constexpr int PkexecRefused = 127;

// The helper's exit codes (system_dsn_helper/main.cpp).
constexpr int HelperCreated = 0;
constexpr int HelperRefused = 1;
constexpr int HelperNotAllowed = 2;

constexpr std::size_t MaxErrorText = 16 * 1024;

const char* const Unknown = " Whether the System DSN was created is unknown.";

SystemDsnAnswer Refusal(std::uint32_t code, std::string message) { return {false, {{code, std::move(message)}}}; }

std::string SystemOdbcIniFolder() {
    // The function may return its own static copy instead of filling the buffer.
    std::vector<char> buffer(2 * FILENAME_MAX + 64, '\0');
    return odbcinst_system_file_path(buffer.data());
}

std::optional<std::string> CurrentDirectory() {
    std::vector<char> buffer(MaxRequestDirectory + 1);
    if (getcwd(buffer.data(), buffer.size()) == nullptr) {
        return std::nullopt;
    }
    return std::string(buffer.data());
}

// The first line of pkexec's or the helper's complaint, printable and short,
// to quote in a record.
std::string FirstLine(const std::string& text) {
    std::string line = text.substr(0, std::min(text.find('\n'), std::size_t{200}));
    std::replace_if(line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, ' ');
    return line;
}

std::string Quoted(const std::string& stderrText) {
    const std::string line = FirstLine(stderrText);
    return line.empty() ? std::string() : " It said: \"" + line + "\".";
}

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Writes what the pipe takes now. The helper may close its input early (it
// stops reading at the size limit, or died); the write then fails with EPIPE
// and the SIGPIPE it raises is taken back here, blocked and consumed on this
// thread, so the program's own disposition of SIGPIPE is never changed.
// Returns false when the child no longer reads.
bool WriteSome(int fd, const std::string& bytes, std::size_t& written) {
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    sigset_t pendingBefore;
    sigpending(&pendingBefore);
    const bool wasPending = sigismember(&pendingBefore, SIGPIPE) == 1;

    ssize_t n = 0;
    do {
        n = write(fd, bytes.data() + written, bytes.size() - written);
    } while (n < 0 && errno == EINTR);
    const int writeError = errno;
    if (n < 0 && writeError == EPIPE && !wasPending) {
        const timespec noWait{0, 0};
        while (sigtimedwait(&pipeSignal, nullptr, &noWait) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);

    if (n > 0) {
        written += static_cast<std::size_t>(n);
        return true;
    }
    return n < 0 && (writeError == EAGAIN || writeError == EWOULDBLOCK);
}

// Appends what can be read now, keeping at most `limit` bytes. Returns false
// at the end of the stream.
bool ReadSome(int fd, std::string& into, std::size_t limit) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            const std::size_t room = limit - std::min(limit, into.size());
            into.append(buffer, std::min(static_cast<std::size_t>(n), room));
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

struct ChildPipes {
    int input[2] = {-1, -1};
    int output[2] = {-1, -1};
    int errors[2] = {-1, -1};

    ~ChildPipes() {
        for (int* pipe : {input, output, errors}) {
            for (int i = 0; i < 2; ++i) {
                CloseEnd(pipe[i]);
            }
        }
    }
    static void CloseEnd(int& fd) {
        if (fd >= 0) {
            close(fd);
            fd = -1;
        }
    }
};

// A descriptor that becomes readable when the child ends, so that poll
// watches its exit together with its pipes (Linux 5.3 and later); -1 where
// the kernel has none.
class ExitDescriptor {
public:
    explicit ExitDescriptor(pid_t pid) {
#ifdef SYS_pidfd_open
        fd_ = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
        (void)pid;
#endif
    }
    ~ExitDescriptor() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    ExitDescriptor(const ExitDescriptor&) = delete;
    ExitDescriptor& operator=(const ExitDescriptor&) = delete;
    int Fd() const { return fd_; }

private:
    int fd_ = -1;
};

struct ChildOutcome {
    bool finished = false; // false: the wait ran out
    int status = 0;        // waitpid's status when finished
    std::string output;
    std::string errors;
};

// A child pkexec that outlived the wait is left to a thread that reaps it,
// so it never lingers as a zombie. It runs as root by then and cannot be
// stopped from here.
void ReapLater(pid_t pid) {
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

SystemDsnAnswer Interpret(const ChildOutcome& outcome) {
    if (!outcome.finished) {
        return Refusal(ODBC_ERROR_REQUEST_FAILED,
                       "Gave up waiting for the administrator's authentication and the System DSN helper." +
                           std::string(Unknown));
    }
    if (WIFSIGNALED(outcome.status)) {
        return Refusal(ODBC_ERROR_GENERAL_ERR, "The System DSN helper was killed by signal " +
                                                   std::to_string(WTERMSIG(outcome.status)) + "." + Unknown);
    }
    const int code = WEXITSTATUS(outcome.status);
    if (code == HelperCreated || code == HelperRefused || code == HelperNotAllowed) {
        std::optional<SystemDsnAnswer> answer = DecodeAnswer(outcome.output);
        if (answer && answer->created == (code == HelperCreated)) {
            return std::move(*answer);
        }
        return Refusal(ODBC_ERROR_GENERAL_ERR, "The System DSN helper answered garbage (exit status " +
                                                   std::to_string(code) + ")." + Unknown);
    }
    if (code == PkexecDismissed) {
        return Refusal(ODBC_ERROR_USER_CANCELED,
                       "Authentication was dismissed, so no System DSN was created. Press Create again and "
                       "authenticate as an administrator.");
    }
    if (code == PkexecRefused) {
        const std::string& errors = outcome.errors;
        if (errors.find("Not authorized") != std::string::npos) {
            return Refusal(ODBC_ERROR_REQUEST_FAILED,
                           "Not authorized to create a System DSN: the password was wrong, or this user may not "
                           "act as an administrator here. No System DSN was created.");
        }
        if (errors.find("No authentication agent found.") != std::string::npos) {
            return Refusal(ODBC_ERROR_REQUEST_FAILED,
                           "No authentication agent is running in this desktop session, so no administrator "
                           "could be asked. Start Tarnwick from a desktop session (or as root). No System DSN "
                           "was created.");
        }
        if (errors.find("pkexec must be setuid root") != std::string::npos) {
            return Refusal(ODBC_ERROR_REQUEST_FAILED,
                           "pkexec is not installed correctly (it must be setuid root): reinstall the pkexec "
                           "package. No System DSN was created.");
        }
    }
    return Refusal(ODBC_ERROR_GENERAL_ERR, "pkexec or the System DSN helper failed (exit status " +
                                               std::to_string(code) + ")." + Quoted(outcome.errors) + Unknown);
}

} // namespace

ElevatingInstaller::ElevatingInstaller()
    : ElevatingInstaller(Settings{TARNWICK_SYSTEM_DSN_HELPER, "/usr/bin/pkexec"}) {}

ElevatingInstaller::ElevatingInstaller(Settings settings) : settings_(std::move(settings)) {
    if (settings_.direct == nullptr) {
        settings_.direct = &SystemInstaller();
    }
}

bool ElevatingInstaller::UsesHelper(std::uint16_t request) {
    return request == ODBC_ADD_SYS_DSN && geteuid() != 0 &&
           faccessat(AT_FDCWD, SystemOdbcIniFolder().c_str(), W_OK | X_OK, AT_EACCESS) != 0;
}

bool ElevatingInstaller::ConfigDataSource(void* parentWindow, std::uint16_t request, const char* driver,
                                          const char* attributes) {
    records_.clear();
    lastWentDirect_ = !UsesHelper(request);
    if (lastWentDirect_) {
        return settings_.direct->ConfigDataSource(parentWindow, request, driver, attributes);
    }
    SystemDsnAnswer answer = AskHelper(driver, attributes);
    records_ = std::move(answer.records);
    return answer.created;
}

std::int16_t ElevatingInstaller::InstallerError(std::uint16_t index, std::uint32_t* errorCode, char* message,
                                                std::uint16_t capacity, std::uint16_t* textLength) {
    if (lastWentDirect_) {
        return settings_.direct->InstallerError(index, errorCode, message, capacity, textLength);
    }
    if (index == 0 || errorCode == nullptr || message == nullptr) {
        return -1; // SQL_ERROR
    }
    if (index > records_.size()) {
        return 100; // SQL_NO_DATA
    }
    const InstallerRecord& record = records_[index - 1];
    // As libodbcinst: the text as a C string, its full length reported, cut to
    // `capacity` bytes with the terminator written one byte further.
    const std::size_t length = std::strlen(record.message.c_str());
    *errorCode = record.code;
    if (textLength != nullptr) {
        *textLength = static_cast<std::uint16_t>(std::min<std::size_t>(length, 0xFFFF));
    }
    if (length > capacity) {
        std::memcpy(message, record.message.data(), capacity);
        message[capacity] = '\0';
        return 1; // SQL_SUCCESS_WITH_INFO
    }
    std::memcpy(message, record.message.c_str(), length + 1);
    return 0;
}

SystemDsnAnswer ElevatingInstaller::AskHelper(const char* driver, const char* attributes) {
    if (driver == nullptr || attributes == nullptr) {
        return Refusal(ODBC_ERROR_INVALID_STR, "No driver or attribute list was given.");
    }
    if (access(settings_.pkexecPath.c_str(), X_OK) != 0) {
        return Refusal(ODBC_ERROR_COMPONENT_NOT_FOUND,
                       "Creating a System DSN needs administrator rights, and " + settings_.pkexecPath +
                           " is missing: install the pkexec package, or run Tarnwick as root.");
    }
    if (access(settings_.helperPath.c_str(), X_OK) != 0) {
        return Refusal(ODBC_ERROR_COMPONENT_NOT_FOUND,
                       "Creating a System DSN needs administrator rights, and its helper " + settings_.helperPath +
                           " is not installed (a build run from its source tree): install the Tarnwick package, "
                           "or run Tarnwick as root.");
    }
    const std::optional<std::string> directory = CurrentDirectory();
    if (!directory) {
        return Refusal(ODBC_ERROR_INVALID_PATH,
                       std::string("Cannot tell the current directory: ") + std::strerror(errno) + ".");
    }
    const std::string request =
        EncodeRequest({*directory, driver, std::string(attributes, AttributeListLength(attributes))});

    ChildPipes pipes;
    if (pipe2(pipes.input, O_CLOEXEC) != 0 || pipe2(pipes.output, O_CLOEXEC) != 0 ||
        pipe2(pipes.errors, O_CLOEXEC) != 0) {
        return Refusal(ODBC_ERROR_GENERAL_ERR, std::string("Cannot start pkexec: ") + std::strerror(errno) + ".");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipes.input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipes.output[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipes.errors[1], STDERR_FILENO);
    // The helper must not prompt on a terminal the program happens to have,
    // and pkexec's messages are matched in English.
    std::string pkexec = settings_.pkexecPath;
    std::string noTerminalAgent = "--disable-internal-agent";
    std::string helper = settings_.helperPath;
    char* argv[] = {pkexec.data(), noTerminalAgent.data(), helper.data(), nullptr};
    std::string path = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";
    std::string locale = "LC_ALL=C";
    char* environment[] = {path.data(), locale.data(), nullptr};
    pid_t pid = -1;
    const int spawnError = posix_spawn(&pid, pkexec.c_str(), &actions, nullptr, argv, environment);
    posix_spawn_file_actions_destroy(&actions);
    if (spawnError != 0) {
        return Refusal(ODBC_ERROR_GENERAL_ERR, "Cannot start " + pkexec + ": " + std::strerror(spawnError) + ".");
    }
    ChildPipes::CloseEnd(pipes.input[0]);
    ChildPipes::CloseEnd(pipes.output[1]);
    ChildPipes::CloseEnd(pipes.errors[1]);
    for (int fd : {pipes.input[1], pipes.output[0], pipes.errors[0]}) {
        SetNonBlocking(fd);
    }

    ChildOutcome outcome;
    std::size_t written = 0;
    const ExitDescriptor exit(pid);
    bool exited = false;
    auto now = std::chrono::steady_clock::now();
    const auto deadline = now + settings_.timeout;
    auto hookDue = now + WaitStep;
    for (;;) {
        if (pipes.input[1] >= 0 && written == request.size()) {
            ChildPipes::CloseEnd(pipes.input[1]);
        }
        const bool pipesClosed = pipes.output[0] < 0 && pipes.errors[0] < 0;
        if (!exited && (exit.Fd() >= 0 || pipesClosed)) {
            exited = waitpid(pid, &outcome.status, WNOHANG) == pid;
        }
        // Finished once pkexec has ended and everything it wrote is read.
        if (exited && pipesClosed) {
            outcome.finished = true;
            break;
        }
        now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            break;
        }
        if (waitHook_ && now >= hookDue) {
            waitHook_();
            hookDue = now + WaitStep;
        }
        pollfd watched[4] = {{pipes.input[1], POLLOUT, 0},
                             {pipes.output[0], POLLIN, 0},
                             {pipes.errors[0], POLLIN, 0},
                             {exited ? -1 : exit.Fd(), POLLIN, 0}};
        // Without an exit descriptor nothing wakes the poll when pkexec ends
        // after closing its pipes: look again soon instead.
        const auto step = std::min<std::chrono::milliseconds>(
            pipesClosed && exit.Fd() < 0 ? ReapStep : WaitStep,
            std::chrono::ceil<std::chrono::milliseconds>(deadline - now));
        poll(watched, 4, static_cast<int>(step.count()));
        if (watched[0].revents != 0 && !WriteSome(pipes.input[1], request, written)) {
            ChildPipes::CloseEnd(pipes.input[1]);
        }
        if (watched[1].revents != 0 && !ReadSome(pipes.output[0], outcome.output, MaxSystemDsnMessage + 1)) {
            ChildPipes::CloseEnd(pipes.output[0]);
        }
        if (watched[2].revents != 0 && !ReadSome(pipes.errors[0], outcome.errors, MaxErrorText)) {
            ChildPipes::CloseEnd(pipes.errors[0]);
        }
    }
    if (!outcome.finished) {
        kill(pid, SIGTERM); // refused once pkexec has become root; harmless then
        ReapLater(pid);
    }
    return Interpret(outcome);
}

} // namespace dsn
