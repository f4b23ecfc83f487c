#include "caller.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <poll.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A caller's process that has not answered by then has been stopped or is
// stuck in a file system of the caller's; the helper gives up on it.
constexpr std::chrono::seconds AnswerWithin{10};
// After the kill, how long the helper waits to reap it.
constexpr std::chrono::seconds ReapWithin{2};

// What the caller's process answers: the errno of entering the directory,
// and when that is 0 the directory's device and inode, followed by its path
// as getcwd gives it.
struct AnswerHeader {
    int error;
    dev_t device;
    ino_t inode;
};
constexpr std::size_t LongestAnswer = sizeof(AnswerHeader) + PATH_MAX;

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { Reset(-1); }
    int Get() const { return fd_; }
    void Reset(int fd) {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = fd;
    }

private:
    int fd_;
};

void WriteAll(int fd, const char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, bytes, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
}

// Whether the process holds no capability at all, effective or permitted.
bool HoldsNoCapability() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) {
        return false;
    }
    for (const auto& word : data) {
        if (word.effective != 0 || word.permitted != 0) {
            return false;
        }
    }
    return true;
}

// In the forked process: becomes the caller for good, enters the directory
// and writes the answer to `answer`. Never returns.
[[noreturn]] void AnswerAsCaller(const Caller& caller, const std::string& directory, pid_t helper, int answer) {
    if (setgroups(caller.groups.size(), caller.groups.data()) != 0 ||
        setresgid(caller.gid, caller.gid, caller.gid) != 0 || setresuid(caller.uid, caller.uid, caller.uid) != 0) {
        _exit(1);
    }
    uid_t ruid = 0, euid = 0, suid = 0;
    gid_t rgid = 0, egid = 0, sgid = 0;
    if (getresuid(&ruid, &euid, &suid) != 0 || getresgid(&rgid, &egid, &sgid) != 0 || ruid != caller.uid ||
        euid != caller.uid || suid != caller.uid || rgid != caller.gid || egid != caller.gid || sgid != caller.gid ||
        (caller.uid != 0 && !HoldsNoCapability())) {
        _exit(1);
    }
    // Not dumpable: the caller may signal this process, but neither trace it
    // nor open what it inherited from root through /proc. It dies with the
    // helper (the setting is cleared by the change of identity, so it is made
    // only now) and can never gain a privilege again.
    if (prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0 || prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0) != 0 || getppid() != helper) {
        _exit(1);
    }
    char path[PATH_MAX];
    struct stat status {};
    AnswerHeader header{};
    if (chdir(directory.c_str()) != 0 || getcwd(path, sizeof path) == nullptr || stat(".", &status) != 0) {
        header.error = errno;
    } else {
        header.device = status.st_dev;
        header.inode = status.st_ino;
    }
    char message[LongestAnswer];
    std::memcpy(message, &header, sizeof header);
    std::size_t size = sizeof header;
    if (header.error == 0) {
        const std::size_t length = std::strlen(path);
        std::memcpy(message + size, path, length);
        size += length;
    }
    WriteAll(answer, message, size);
    _exit(0);
}

// Everything the caller's process wrote until it closed its end, at most one
// byte over the longest answer; nothing if it did not finish within the bound.
std::optional<std::string> ReadAnswer(int fd) {
    const auto deadline = std::chrono::steady_clock::now() + AnswerWithin;
    std::string answer;
    char buffer[4096];
    while (answer.size() <= LongestAnswer) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return std::nullopt;
        }
        pollfd watched{fd, POLLIN, 0};
        const int ready = poll(&watched, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) {
            return std::nullopt;
        }
        if (ready <= 0) {
            continue;
        }
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            return answer;
        }
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    return answer;
}

// Whether the process ended with status 0 within the bound. It is killed
// first when its answer is incomplete; one that cannot be reaped in time is
// killed and left to the kernel.
bool Reaped(pid_t child, bool killFirst) {
    if (killFirst) {
        kill(child, SIGKILL);
    }
    const auto deadline = std::chrono::steady_clock::now() + ReapWithin;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) {
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        if (done < 0 && errno != EINTR) {
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(child, SIGKILL);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

struct Resolved {
    AnswerHeader header; // the caller's errno, or 0 and the directory the caller reached
    std::string path;    // its path
};

// The caller's own answer about the directory, or nothing when the caller's
// process gave none.
std::optional<Resolved> ResolveAsCaller(const Caller& caller, const std::string& directory) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    Descriptor reading(ends[0]);
    Descriptor writing(ends[1]);
    const pid_t helper = getpid();
    const pid_t child = fork();
    if (child < 0) {
        return std::nullopt;
    }
    if (child == 0) {
        AnswerAsCaller(caller, directory, helper, writing.Get());
    }
    writing.Reset(-1);
    const std::optional<std::string> answer = ReadAnswer(reading.Get());
    const bool complete = answer && answer->size() >= sizeof(AnswerHeader) && answer->size() <= LongestAnswer;
    if (!Reaped(child, !complete) || !complete) {
        return std::nullopt;
    }
    Resolved resolved{};
    std::memcpy(&resolved.header, answer->data(), sizeof resolved.header);
    resolved.path = answer->substr(sizeof(AnswerHeader));
    if (resolved.header.error == 0 &&
        (resolved.path.empty() || resolved.path.front() != '/' || resolved.path.find('\0') != std::string::npos)) {
        return std::nullopt;
    }
    return resolved;
}

// Enters the directory the caller reached by its path, one name at a time
// and following no symbolic link, and checks that it arrived at that very
// directory under that very path. Anything the caller swapped in meanwhile
// is refused the same way, whatever root found on the way.
bool EnterExactly(const Resolved& resolved) {
    const std::string& path = resolved.path;
    Descriptor at(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (at.Get() < 0) {
        return false;
    }
    for (std::size_t start = 1; start < path.size();) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string name = path.substr(start, end - start);
        if (name.empty() || name == "." || name == "..") {
            return false; // getcwd never gives these
        }
        const int next = openat(at.Get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            return false;
        }
        at.Reset(next);
        start = end + 1;
    }
    struct stat status {};
    char now[PATH_MAX];
    return fstat(at.Get(), &status) == 0 && status.st_dev == resolved.header.device &&
           status.st_ino == resolved.header.inode && fchdir(at.Get()) == 0 && getcwd(now, sizeof now) != nullptr &&
           path == now;
}

} // namespace

std::optional<std::string> FindCaller(std::optional<Caller>& caller) {
    const char* text = std::getenv("PKEXEC_UID");
    if (geteuid() != 0 || text == nullptr) {
        return std::nullopt;
    }
    const std::string_view digits(text);
    if (digits.empty() || digits.size() > 10 || digits.find_first_not_of("0123456789") != std::string_view::npos ||
        std::stoull(std::string(digits)) >= static_cast<unsigned long long>(static_cast<uid_t>(-1))) {
        return "pkexec named no valid calling user";
    }
    const auto uid = static_cast<uid_t>(std::stoul(std::string(digits)));
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        return "the calling user " + std::to_string(uid) + " has no account entry";
    }
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    while (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
        if (count > 65536) {
            return "the calling user's groups cannot be listed";
        }
        groups.resize(static_cast<std::size_t>(count) * 2 + 1);
        count = static_cast<int>(groups.size());
    }
    groups.resize(static_cast<std::size_t>(count));
    caller = Caller{uid, found->pw_gid, std::move(groups)};
    return std::nullopt;
}

std::optional<std::string> EnterDirectoryAs(const std::optional<Caller>& caller, const std::string& directory) {
    if (!caller) {
        return chdir(directory.c_str()) == 0 ? std::nullopt : std::optional<std::string>(std::strerror(errno));
    }
    const std::optional<Resolved> resolved = ResolveAsCaller(*caller, directory);
    if (!resolved) {
        return "the calling user's process that checks it gave no answer";
    }
    if (resolved->header.error != 0) {
        return std::strerror(resolved->header.error);
    }
    if (!EnterExactly(*resolved)) {
        return "it changed while it was being entered";
    }
    return std::nullopt;
}
