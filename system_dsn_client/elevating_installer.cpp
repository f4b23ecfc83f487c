#include "system_dsn_client/elevating_installer.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <fcntl.h>
#include <odbcinst.h>
#include <signal.h>
#include <sys/stat.h>
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
// How long a pkexec that was sent SIGKILL may take to be gone.
constexpr int KilledExitMilliseconds = 1000;

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
    std::replace_if(
        line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, ' ');
    return line;
}

std::string Quoted(const std::string& stderrText) {
    const std::string line = FirstLine(stderrText);
    return line.empty() ? std::string() : " It said: \"" + line + "\".";
}

// True when the system reaps this process's children by itself (SIGCHLD
// ignored, or SA_NOCLDWAIT): their exit status is then lost to every wait.
bool ChildExitStatusIsDiscarded() {
    struct sigaction current {};
    if (sigaction(SIGCHLD, nullptr, &current) != 0) {
        return false;
    }
    return current.sa_handler == SIG_IGN || (current.sa_flags & SA_NOCLDWAIT) != 0;
}

// Whether `pid`, a child of this process, is gone and reaped by the system:
// it is no longer anyone's child to wait for. A child that has ended but is
// not reaped yet is left for QProcess to reap and report.
bool ReapedBySystem(pid_t pid) {
    siginfo_t info{};
    return pid > 0 && waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 && errno == ECHILD;
}

// Moves what the child wrote so far out of QProcess's buffers, keeping at
// most `limit` bytes, so that a child that floods its pipes costs one wait
// step's worth of memory at most.
void Collect(QProcess& process, QProcess::ProcessChannel channel, std::string& into, std::size_t limit) {
    process.setReadChannel(channel);
    const QByteArray bytes = process.readAll();
    const std::size_t room = limit - std::min(limit, into.size());
    into.append(bytes.constData(), std::min(static_cast<std::size_t>(bytes.size()), room));
}

// The QProcesses this program no longer waits for, until they are deleted.
// The set is never destroyed, not even at exit, where ~QProcess would wait for
// their children; a program that exits before they end leaves them to the
// system, and nothing of them is lost track of.
class Unwaited {
public:
    static void Keep(QProcess* process) {
        const std::lock_guard lock(guard_);
        processes_->insert(process);
    }
    static void Forget(QObject* process) {
        const std::lock_guard lock(guard_);
        processes_->erase(process);
    }

private:
    static inline std::mutex guard_;
    // By their QObject: `destroyed` comes when the QProcess part is gone.
    static inline auto* const processes_ = new std::set<QObject*>;
};

// A pkexec that outlived the wait and could not be killed: it has become the
// helper, running as root, which the user may not signal. It finishes its one
// request by itself (every wait of the setup library is bounded) and answers
// into pipes nobody reads any more. The QProcess stays alive until then, so
// that the event loop, where the program runs one, reaps the helper through
// QProcess's exit notifier and deletes the QProcess; no thread waits for it.
// Without an event loop the ended helper stays a zombie until the program
// exits.
void LetRunOut(std::unique_ptr<QProcess> process) {
    QProcess* outliving = process.release();
    Unwaited::Keep(outliving);
    QObject::connect(outliving, &QObject::destroyed, &Unwaited::Forget);
    QObject::connect(outliving, &QProcess::finished, outliving, &QObject::deleteLater);
}

// A QProcess whose child the system reaped behind its back is never told
// that the child ended, so destroying it would signal a pid that may belong
// to another process by now, then wait half a minute for an exit that has
// already happened. It is kept instead, idle, for the rest of the program:
// only a program that ignores SIGCHLD after Qt started a process gets here.
void KeepIdle(std::unique_ptr<QProcess> process) { Unwaited::Keep(process.release()); }

struct ChildOutcome {
    bool finished = false;   // false: the wait ran out
    bool statusLost = false; // it ended, but the system discarded its exit status
    bool crashed = false;    // killed by signal `code`
    int code = 0;            // the exit code, or the signal that killed it
    std::string output;
    std::string errors;
};

// Ends a pkexec that outlived the wait where the user may still do so: while
// it waits for the authentication it runs as the user, and SIGKILL ends it.
void Stop(std::unique_ptr<QProcess> process) {
    const auto pid = static_cast<pid_t>(process->processId());
    // The pid is still this process's unreaped child, so it names no other.
    if (pid > 0 && kill(pid, SIGKILL) == 0 && process->waitForFinished(KilledExitMilliseconds)) {
        return;
    }
    LetRunOut(std::move(process));
}

SystemDsnAnswer Interpret(const ChildOutcome& outcome) {
    if (!outcome.finished) {
        return Refusal(ODBC_ERROR_REQUEST_FAILED,
                       "Gave up waiting for the administrator's authentication and the System DSN helper." +
                           std::string(Unknown));
    }
    if (outcome.statusLost) {
        // The helper's answer still says what happened; pkexec's own endings
        // and a missing answer cannot be told apart any more.
        if (std::optional<SystemDsnAnswer> answer = DecodeAnswer(outcome.output)) {
            return std::move(*answer);
        }
        return Refusal(ODBC_ERROR_GENERAL_ERR,
                       "pkexec and the System DSN helper ended without an answer, and their exit status is lost: "
                       "this program ignores SIGCHLD, so the system discards it." +
                           Quoted(outcome.errors) + Unknown);
    }
    if (outcome.crashed) {
        return Refusal(ODBC_ERROR_GENERAL_ERR,
                       "The System DSN helper was killed by signal " + std::to_string(outcome.code) + "." + Unknown);
    }
    const int code = outcome.code;
    if (code == HelperCreated || code == HelperRefused || code == HelperNotAllowed) {
        std::optional<SystemDsnAnswer> answer = DecodeAnswer(outcome.output);
        if (answer && answer->created == (code == HelperCreated)) {
            return std::move(*answer);
        }
        return Refusal(ODBC_ERROR_GENERAL_ERR,
                       "The System DSN helper answered garbage (exit status " + std::to_string(code) + ")." + Unknown);
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

    auto process = std::make_unique<QProcess>();
    // The helper must not prompt on a terminal the program happens to have,
    // and pkexec's messages are matched in English.
    process->setProgram(QFile::decodeName(settings_.pkexecPath.c_str()));
    process->setArguments(
        {QStringLiteral("--disable-internal-agent"), QFile::decodeName(settings_.helperPath.c_str())});
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/sbin:/usr/bin:/sbin:/bin"));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    process->setProcessEnvironment(environment);
    process->start();
    if (!process->waitForStarted()) {
        return Refusal(ODBC_ERROR_GENERAL_ERR,
                       "Cannot start " + settings_.pkexecPath + ": " + process->errorString().toStdString() + ".");
    }
    // QProcess writes the request while it waits, and closes pkexec's input
    // once all of it is written; a pkexec that stops reading early costs a
    // write error, never a SIGPIPE.
    process->write(request.data(), static_cast<qint64>(request.size()));
    process->closeWriteChannel();

    ChildOutcome outcome;
    const auto pid = static_cast<pid_t>(process->processId());
    const auto deadline = std::chrono::steady_clock::now() + settings_.timeout;
    for (;;) {
        Collect(*process, QProcess::StandardOutput, outcome.output, MaxSystemDsnMessage + 1);
        Collect(*process, QProcess::StandardError, outcome.errors, MaxErrorText);
        if (process->state() == QProcess::NotRunning) {
            outcome.finished = true;
            break;
        }
        // Where the system reaps children by itself, QProcess may never learn
        // that pkexec ended (its wait fails as if pkexec still ran): the
        // ending is seen here instead, and what it wrote is read to the end.
        if (ChildExitStatusIsDiscarded() && ReapedBySystem(pid)) {
            for (const auto channel : {QProcess::StandardOutput, QProcess::StandardError}) {
                process->setReadChannel(channel);
                process->waitForReadyRead(0);
            }
            Collect(*process, QProcess::StandardOutput, outcome.output, MaxSystemDsnMessage + 1);
            Collect(*process, QProcess::StandardError, outcome.errors, MaxErrorText);
            outcome.finished = true;
            outcome.statusLost = true;
            KeepIdle(std::move(process));
            return Interpret(outcome);
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left <= std::chrono::milliseconds::zero()) {
            break;
        }
        // Sleeps on pkexec's pipes and its exit together: returns as soon as
        // it has ended and its output is read, else after one step.
        if (!process->waitForFinished(static_cast<int>(std::min(WaitStep, left).count())) && waitHook_) {
            waitHook_();
        }
    }
    if (!outcome.finished) {
        Stop(std::move(process));
        return Interpret(outcome);
    }
    // A child reaped by the system leaves QProcess a failed wait, which it
    // reports as a crash by signal 0; no signal has that number. Where
    // QProcess did learn the exit status although SIGCHLD is ignored (its
    // own handler took over, say), that known status counts.
    outcome.crashed = process->exitStatus() == QProcess::CrashExit;
    outcome.code = process->exitCode();
    outcome.statusLost = outcome.crashed && outcome.code == 0;
    return Interpret(outcome);
}

} // namespace dsn
