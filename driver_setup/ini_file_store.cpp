#include "ini_file_store.h"

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <odbcinst.h>

#include "ini_document.h"

namespace tarnwick::setup {

namespace {

// Upper bounds that only a pathological file system would reach; they keep a
// symbolic link loop, or another program that keeps creating the file without
// taking our lock, from hanging the caller.
constexpr int kMaxSymlinkHops = 40;
constexpr int kMaxAttempts = 100;

// How long a writer waits for another writer of ours before it gives up.
constexpr auto kLockWait = std::chrono::seconds(5);

// unixODBC rewrites odbc.ini in place and takes no lock: fopen(..., "w")
// truncates the file, and stdio writes the text later in blocks. A reader in
// between sees an empty or partial file that looks whole, however long it has
// been quiet: the writer may be starved for seconds on a busy machine. The
// kernel knows, though: a read lease is refused while anyone has the file open
// for writing, and while it is held, a program that opens the file for writing
// waits and the lease is marked as breaking. So the file is read, edited and
// replaced under a read lease, and an edit whose lease broke starts over.
//
// How long to wait for a program that keeps the file open for writing before
// going on without a lease, and how long to wait for the signs of a rewrite
// in progress where no lease can be had (a file system without leases, or a
// file neither ours nor leasable by us).
constexpr auto kOpenForWritingWait = std::chrono::seconds(2);
constexpr auto kRewriteSignsWait = std::chrono::seconds(2);
constexpr auto kPollStep = std::chrono::milliseconds(5);
// A file changed longer ago than this is not in the middle of a rewrite.
constexpr auto kRecentChange = std::chrono::seconds(2);

using Clock = std::chrono::steady_clock;

std::chrono::nanoseconds SinceEpoch(const timespec& time) {
    return std::chrono::seconds(time.tv_sec) + std::chrono::nanoseconds(time.tv_nsec);
}

// The same file with the same contents, as far as its status tells: a file
// rewritten in place keeps its inode but not its size or times.
bool SameVersion(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           SinceEpoch(a.st_mtim) == SinceEpoch(b.st_mtim) && SinceEpoch(a.st_ctim) == SinceEpoch(b.st_ctim);
}

// Whether the file was changed within the last kRecentChange. A time far in
// the future (a skewed clock on a network file system) cannot be judged and
// counts as old.
bool ChangedRecently(const struct stat& status) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const auto age = SinceEpoch(now) - SinceEpoch(status.st_mtim);
    return age < kRecentChange && age > -std::chrono::nanoseconds(std::chrono::seconds(1));
}

// Section headers as unixODBC counts them: lines whose first character other
// than a blank or tab is '['.
std::size_t CountSections(std::string_view text) {
    std::size_t count = 0;
    bool atLineStart = true;
    for (const char c : text) {
        if (atLineStart && c == '[') {
            ++count;
        }
        if (c == '\n') {
            atLineStart = true;
        } else if (c != ' ' && c != '\t') {
            atLineStart = false;
        }
    }
    return count;
}

enum class Lease { Held, OpenForWriting, Unavailable };

// Takes a read lease on `fd` (open read-only). No signal is wanted when the
// lease breaks: the break is seen with F_GETLEASE before the file is
// replaced. The owner that F_SETLEASE records is cleared right after; should a
// break come in between, it raises SIGURG, which is ignored unless a program
// asks for it, rather than SIGIO, which would end the program.
Lease TakeReadLease(int fd) {
    if (fcntl(fd, F_SETSIG, SIGURG) != 0) {
        return Lease::Unavailable;
    }
    if (fcntl(fd, F_SETLEASE, F_RDLCK) != 0) {
        return errno == EAGAIN ? Lease::OpenForWriting : Lease::Unavailable;
    }
    fcntl(fd, F_SETOWN, 0);
    return Lease::Held;
}

// Still held, with no program waiting to open the file for writing.
bool LeaseIntact(int fd) { return fcntl(fd, F_GETLEASE) == F_RDLCK; }

// Names mkostemp makes from "<prefix>XXXXXX".
bool IsTemporaryName(const std::string& name, const std::string& prefix) {
    if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        const char c = name[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) {
            return false;
        }
    }
    return true;
}

std::string Hint(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return " No permission: this needs a user allowed to change the file (root for the system's odbc.ini).";
    case EROFS:
        return " The file system is read-only.";
    case ENOSPC:
    case EDQUOT:
        return " The disk is full.";
    default:
        return "";
    }
}

// Owns a file descriptor; closing it also releases a flock held through it.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() { Reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    void Reset(int fd = -1) {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = fd;
    }
    // Closes and reports close's own error, which for a written file can be the
    // first sign of a failed write-back (NFS, quota).
    int Close() {
        const int result = close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

// One edit of one file; each failure is phrased with the file it concerns.
class Editor {
public:
    Editor(std::string path, mode_t newFileMode) : path_(std::move(path)), newFileMode_(newFileMode) {}

    std::vector<SetupError> Run(const std::function<FileEdit(std::string)>& edit) {
        if (!ResolveLinks()) {
            return errors_;
        }
        const auto slash = real_.rfind('/');
        folder_ = slash == std::string::npos ? "." : (slash == 0 ? "/" : real_.substr(0, slash));
        base_ = slash == std::string::npos ? real_ : real_.substr(slash + 1);

        Descriptor folder(open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (folder.Get() < 0) {
            const int error = errno;
            FailSystem("open the folder " + folder_ + (error == ENOENT ? " (the folder does not exist)" : ""), error);
            return errors_;
        }
        Descriptor lock;
        if (!Lock(folder.Get(), lock)) {
            return errors_;
        }
        RemoveStaleCopies(folder.Get());
        // Programs that do not take the lock (unixODBC's own writer) may still
        // rewrite or create the file meanwhile; then the edit starts over.
        // Waiting for a writer to finish is bounded by time, not attempts.
        for (int attempt = 0; attempt < kMaxAttempts;) {
            switch (Attempt(edit)) {
            case Outcome::Done:
                return errors_;
            case Outcome::Retry:
                ++attempt;
                continue;
            case Outcome::Wait:
                std::this_thread::sleep_for(kPollStep);
                continue;
            }
        }
        Fail(ODBC_ERROR_WRITING_SYSINFO_FAILED,
             "Could not update " + real_ + ": other programs kept rewriting it meanwhile. It was left unchanged.");
        return errors_;
    }

private:
    enum class Outcome { Done, Retry, Wait };

    void Fail(int code, std::string message) { errors_.push_back({code, std::move(message)}); }

    void FailSystem(const std::string& what, int error) {
        Fail(ODBC_ERROR_WRITING_SYSINFO_FAILED,
             "Cannot " + what + ": " + std::strerror(error) + "." + Hint(error) + " " + real_ + " was left unchanged.");
    }

    bool ResolveLinks() {
        real_ = path_;
        for (int hop = 0; hop <= kMaxSymlinkHops; ++hop) {
            struct stat status {};
            if (lstat(real_.c_str(), &status) != 0) {
                if (errno == ENOENT) {
                    return true; // created where the path (or the last link) points
                }
                FailSystem("look up " + real_, errno);
                return false;
            }
            if (!S_ISLNK(status.st_mode)) {
                return true;
            }
            // readlink truncates silently: a target that fills the whole
            // buffer may have been cut short and is refused.
            char buffer[PATH_MAX];
            const ssize_t length = readlink(real_.c_str(), buffer, sizeof buffer);
            if (length < 0 || static_cast<std::size_t>(length) == sizeof buffer) {
                FailSystem("read the symbolic link " + real_, length < 0 ? errno : ENAMETOOLONG);
                return false;
            }
            std::string target(buffer, static_cast<std::size_t>(length));
            if (target.empty() || target.front() != '/') {
                const auto slash = real_.rfind('/');
                target = (slash == std::string::npos ? std::string() : real_.substr(0, slash + 1)) + target;
            }
            real_ = target;
        }
        FailSystem("follow the symbolic links from " + path_, ELOOP);
        return false;
    }

    // "/etc/odbc.ini" is locked through "/etc/.odbc.ini.lock", "~/.odbc.ini"
    // through "~/.odbc.ini.lock".
    std::string LockName() const {
        return "." + (!base_.empty() && base_.front() == '.' ? base_.substr(1) : base_) + ".lock";
    }

    // Every writer of ours holds an exclusive flock on a lock file beside the
    // file while it reads, edits and replaces it. The file itself cannot carry
    // the lock: it is replaced by a new inode on every write, and anyone who
    // may read it could lock it. The lock file is private to its owner (root
    // for the system's odbc.ini), so no other user can open it, let alone
    // hold its lock; and the wait for another writer of ours is bounded.
    bool Lock(int folder, Descriptor& lock) {
        const std::string name = LockName();
        const std::string path = (folder_ == "/" ? "" : folder_) + "/" + name;
        lock.Reset(
            openat(folder, name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600));
        if (lock.Get() < 0) {
            const int error = errno;
            FailSystem("open the lock file " + path +
                           (error == ELOOP ? " (it is a symbolic link)"
                            : error == EACCES || error == EPERM
                                ? " (writers need write access to the folder " + folder_ + ")"
                                : ""),
                       error);
            return false;
        }
        struct stat status {};
        if (fstat(lock.Get(), &status) != 0) {
            FailSystem("examine the lock file " + path, errno);
            return false;
        }
        const uid_t self = geteuid();
        if (!S_ISREG(status.st_mode) || status.st_nlink != 1 || (status.st_uid != self && status.st_uid != 0)) {
            Fail(ODBC_ERROR_WRITING_SYSINFO_FAILED,
                 "The lock file " + path + " is not a plain file of this user's or root's, so it cannot guard " +
                     real_ + ". Remove it; " + real_ + " was left unchanged.");
            return false;
        }
        if (status.st_uid == self && (status.st_mode & 077) != 0 && fchmod(lock.Get(), 0600) != 0) {
            FailSystem("make the lock file " + path + " private", errno);
            return false;
        }
        lockFd_ = lock.Get();
        while (flock(lock.Get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK) {
                return WaitForLock(lock.Get(), path);
            }
            if (errno != EINTR) {
                FailSystem("lock " + path, errno);
                return false;
            }
        }
        return true;
    }

    // flock has no timeout, so a child that shares the lock file's open file
    // description waits for the lock: what the kernel grants it belongs to
    // that description, and so to this process as well. The child queues like
    // any waiter (a polling loop would lose every race to a busy writer), says
    // when it has the lock, and is killed once the deadline has passed.
    bool WaitForLock(int fd, const std::string& path) {
        int granted[2];
        if (pipe2(granted, O_CLOEXEC) != 0) {
            FailSystem("wait for the lock " + path, errno);
            return false;
        }
        const pid_t parent = getpid();
        const pid_t child = fork();
        if (child < 0) {
            const int error = errno;
            close(granted[0]);
            close(granted[1]);
            FailSystem("wait for the lock " + path, error);
            return false;
        }
        if (child == 0) {
            // The waiter dies with the writer: a writer ended by its alarm or
            // a kill must not leave it queued for the lock, or holding it.
            if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) {
                _exit(1);
            }
            while (flock(fd, LOCK_EX) != 0) {
                if (errno != EINTR) {
                    _exit(1);
                }
            }
            const char byte = 1;
            _exit(write(granted[1], &byte, 1) == 1 ? 0 : 1);
        }
        close(granted[1]);
        bool got = false;
        const auto deadline = Clock::now() + kLockWait;
        for (auto now = Clock::now(); now < deadline; now = Clock::now()) {
            pollfd watched{granted[0], POLLIN, 0};
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
            const int ready = poll(&watched, 1, static_cast<int>(left.count()));
            if (ready > 0) {
                char byte = 0;
                got = read(granted[0], &byte, 1) == 1;
                break;
            }
            if (ready < 0 && errno != EINTR) {
                break;
            }
        }
        close(granted[0]);
        if (!got) {
            kill(child, SIGKILL);
        }
        // Reaped here, unless the process ignores SIGCHLD and the kernel already did.
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
        if (got && flock(fd, LOCK_EX | LOCK_NB) == 0) {
            return true;
        }
        Fail(ODBC_ERROR_WRITING_SYSINFO_FAILED,
             "Another program has been changing " + real_ + " for " +
                 std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kLockWait).count()) +
                 " seconds (it holds " + path + "). Try again later; " + real_ + " was left unchanged.");
        return false;
    }

    // The status of the file as the last writer of ours left it, and how many
    // sections it had, kept in the lock file: a file in that state was written
    // whole, and one with fewer sections since may be half rewritten. The lock
    // file is private, so nobody else can claim a write.
    static std::string Describe(const struct stat& status) {
        return std::to_string(status.st_dev) + " " + std::to_string(status.st_ino) + " " +
               std::to_string(status.st_size) + " " + std::to_string(SinceEpoch(status.st_mtim).count()) + " " +
               std::to_string(SinceEpoch(status.st_ctim).count());
    }

    struct OwnWrite {
        std::string status;
        std::size_t sections = 0;
    };

    std::optional<OwnWrite> LastOwnWrite() const {
        char buffer[200];
        const ssize_t length = pread(lockFd_, buffer, sizeof buffer, 0);
        if (length <= 0 || buffer[length - 1] != '\n') {
            return std::nullopt;
        }
        // "<status> sections <count>\n"
        const std::string_view text(buffer, static_cast<std::size_t>(length) - 1);
        const auto mark = text.rfind(" sections ");
        if (mark == std::string_view::npos) {
            return std::nullopt;
        }
        OwnWrite write{std::string(text.substr(0, mark)), 0};
        const auto digits = text.substr(mark + std::strlen(" sections "));
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), write.sections);
        if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
            return std::nullopt;
        }
        return write;
    }

    void RecordOwnWrite(std::size_t sections) const {
        struct stat status {};
        if (stat(real_.c_str(), &status) != 0) {
            return;
        }
        const std::string text = Describe(status) + " sections " + std::to_string(sections) + "\n";
        // A record that cannot be written whole only costs the next writer a
        // short wait where no lease can be had.
        if (pwrite(lockFd_, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()) ||
            ftruncate(lockFd_, static_cast<off_t>(text.size())) != 0) {
            return;
        }
    }

    // Where no lease can be had: whether `text`, just read from a file with
    // `status`, shows the signs of a rewrite still going on. Only a file changed
    // moments ago, and not by us, can be one: it is empty, or cut at a multiple
    // of stdio's buffer, or its last line has no end, or it has fewer sections
    // than our last write left in it.
    bool LooksHalfWritten(const struct stat& status, std::string_view text) const {
        const auto own = LastOwnWrite();
        if (!ChangedRecently(status) || (own && own->status == Describe(status))) {
            return false;
        }
        const auto block = status.st_blksize > 0 ? status.st_blksize : 4096;
        return text.empty() || text.size() % static_cast<std::size_t>(block) == 0 || text.back() != '\n' ||
               (own && CountSections(text) < own->sections);
    }

    // Starts the bounded wait named by `since` (the first time) and tells
    // whether it still goes on.
    static bool StillWaiting(std::optional<Clock::time_point>& since, Clock::duration limit) {
        const auto now = Clock::now();
        if (!since) {
            since = now;
        }
        return now - *since < limit;
    }

    // Temporary copies are only ever left behind by a writer that died (killed,
    // or the machine went down) before renaming or removing its copy; under the
    // lock no other writer of ours has one, so any copy of this user's is stale.
    void RemoveStaleCopies(int folder) {
        const int listing = fcntl(folder, F_DUPFD_CLOEXEC, 0);
        DIR* directory = listing < 0 ? nullptr : fdopendir(listing);
        if (directory == nullptr) {
            if (listing >= 0) {
                close(listing);
            }
            return; // nothing removed; the edit itself does not depend on it
        }
        const std::string prefix = "." + base_ + ".";
        while (const dirent* entry = readdir(directory)) {
            struct stat status {};
            if (IsTemporaryName(entry->d_name, prefix) &&
                fstatat(folder, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode) &&
                status.st_uid == geteuid()) {
                unlinkat(folder, entry->d_name, 0);
            }
        }
        closedir(directory);
    }

    Outcome Attempt(const std::function<FileEdit(std::string)>& edit) {
        // Read-only: a descriptor open for writing, even our own, keeps the
        // read lease from being granted.
        Descriptor file(open(real_.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        struct stat status {};
        std::string current;
        const bool exists = file.Get() >= 0;
        bool leased = false;
        if (!exists) {
            if (errno == EISDIR) {
                Fail(ODBC_ERROR_WRITING_SYSINFO_FAILED, real_ + " is not a regular file; it was left unchanged.");
                return Outcome::Done;
            }
            if (errno != ENOENT) {
                FailSystem("open " + real_ + " for writing", errno);
                return Outcome::Done;
            }
        } else {
            if (fstat(file.Get(), &status) != 0) {
                FailSystem("examine " + real_, errno);
                return Outcome::Done;
            }
            if (!S_ISREG(status.st_mode)) {
                Fail(ODBC_ERROR_WRITING_SYSINFO_FAILED, real_ + " is not a regular file; it was left unchanged.");
                return Outcome::Done;
            }
            if (faccessat(AT_FDCWD, real_.c_str(), W_OK, AT_EACCESS) != 0) {
                FailSystem("open " + real_ + " for writing", errno);
                return Outcome::Done;
            }
            switch (TakeReadLease(file.Get())) {
            case Lease::Held:
                leased = true;
                break;
            case Lease::OpenForWriting:
                // Someone is writing it now: read it once they are done. A
                // program that keeps it open for longer does not hold up
                // every edit; the signs of a rewrite are judged instead.
                if (StillWaiting(openForWritingSince_, kOpenForWritingWait)) {
                    return Outcome::Wait;
                }
                break;
            case Lease::Unavailable:
                break;
            }
            if (!ReadAll(file.Get(), status.st_size, current)) {
                return Outcome::Done;
            }
            // A rewrite that went on while the file was read shows in its size
            // or times; what was read may then be half a file.
            struct stat after {};
            if (fstat(file.Get(), &after) != 0 || !SameVersion(status, after) || (leased && !LeaseIntact(file.Get()))) {
                return Outcome::Retry;
            }
            if (!leased && LooksHalfWritten(status, current) && StillWaiting(rewriteSignsSince_, kRewriteSignsWait)) {
                return Outcome::Wait;
            }
        }

        FileEdit result = edit(std::move(current));
        if (!result.errors.empty() || !result.text) {
            errors_.insert(errors_.end(), result.errors.begin(), result.errors.end());
            return Outcome::Done;
        }
        // The last line of defence for every data source in the file: whatever
        // went wrong in an edit, unixODBC must never be handed a file that it
        // refuses as a whole.
        if (const auto problem = IniDocument::ProblemIn(*result.text)) {
            Fail(ODBC_ERROR_GENERAL_ERR,
                 "The change was not saved: unixODBC could not read " + real_ + " as it would have become (" +
                     *problem + "). This is a fault in the driver's setup library; " + real_ + " was left unchanged.");
            return Outcome::Done;
        }
        return Replace(*result.text, exists ? file.Get() : -1, exists ? &status : nullptr, leased);
    }

    // Reads straight into the string, sized by the file's length so that a large
    // file is neither copied through a buffer nor regrown; reading goes on past
    // that length should the file have grown meanwhile.
    bool ReadAll(int fd, off_t expectedSize, std::string& text) {
        const auto size = static_cast<std::size_t>(expectedSize > 0 ? expectedSize : 0);
        text.reserve(size + 1 + IniDocument::kRoomForEdits);
        text.resize(size + 1);
        std::size_t offset = 0;
        for (;;) {
            if (offset == text.size()) {
                text.resize(text.size() * 2);
            }
            const ssize_t count = pread(fd, text.data() + offset, text.size() - offset, static_cast<off_t>(offset));
            if (count < 0) {
                if (errno == EINTR) {
                    continue;
                }
                FailSystem("read " + real_, errno);
                return false;
            }
            if (count == 0) {
                text.resize(offset);
                return true;
            }
            offset += static_cast<std::size_t>(count);
        }
    }

    bool WriteAll(int fd, const std::string& text, const std::string& temporary) {
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t count = write(fd, text.data() + done, text.size() - done);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count <= 0) {
                FailSystem("write the new copy of " + real_ + " (" + temporary + ")", count < 0 ? errno : ENOSPC);
                return false;
            }
            done += static_cast<std::size_t>(count);
        }
        return true;
    }

    // Gives the new copy the old file's extended attributes: its ACL, its
    // security label, and whatever else the file system keeps beside it.
    bool CopyExtendedAttributes(int from, int to, const std::string& temporary) {
        std::vector<char> names;
        for (;;) {
            const ssize_t size = flistxattr(from, nullptr, 0);
            if (size < 0) {
                if (errno == ENOTSUP) {
                    return true; // the file system keeps none
                }
                FailSystem("list the extended attributes of " + real_, errno);
                return false;
            }
            names.resize(static_cast<std::size_t>(size));
            const ssize_t listed = flistxattr(from, names.data(), names.size());
            if (listed >= 0) {
                names.resize(static_cast<std::size_t>(listed));
                break;
            }
            if (errno != ERANGE) { // ERANGE: attributes were added meanwhile
                FailSystem("list the extended attributes of " + real_, errno);
                return false;
            }
        }
        std::vector<char> value;
        for (std::size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1) {
            const char* name = names.data() + at;
            ssize_t size = fgetxattr(from, name, nullptr, 0);
            if (size >= 0) {
                value.resize(static_cast<std::size_t>(size));
                size = fgetxattr(from, name, value.data(), value.size());
            }
            if (size < 0 || fsetxattr(to, name, value.data(), static_cast<std::size_t>(size), 0) != 0) {
                FailSystem("give the new copy " + temporary + " the extended attribute " + std::string(name) + " of " +
                               real_,
                           errno);
                return false;
            }
        }
        return true;
    }

    // Writes `text` beside the file and renames it into place. `old` is the
    // status of the file being replaced and `oldFd` its descriptor, or null and
    // -1 when there is none yet.
    Outcome Replace(const std::string& text, int oldFd, const struct stat* old, bool leased) {
        std::string temporary = folder_ + "/." + base_ + ".XXXXXX";
        Descriptor file(mkostemp(temporary.data(), O_CLOEXEC));
        if (file.Get() < 0) {
            const int error = errno;
            FailSystem("create a temporary file in " + folder_ +
                           (error == ENOENT
                                ? " (the folder does not exist)"
                                : " (the file is replaced as a whole, which needs write access to its folder)"),
                       error);
            return Outcome::Done;
        }
        auto abandon = [&](Outcome outcome = Outcome::Done) {
            file.Reset();
            unlink(temporary.c_str());
            return outcome;
        };

        if (old != nullptr) {
            struct stat mine {};
            if (fstat(file.Get(), &mine) != 0) {
                FailSystem("examine " + temporary, errno);
                return abandon();
            }
            if ((mine.st_uid != old->st_uid || mine.st_gid != old->st_gid) &&
                fchown(file.Get(), old->st_uid, old->st_gid) != 0) {
                FailSystem("give the new copy of " + real_ + " the owner of the old one", errno);
                return abandon();
            }
        }
        if (fchmod(file.Get(), old != nullptr ? (old->st_mode & 07777) : newFileMode_) != 0) {
            FailSystem("set the permissions of " + temporary, errno);
            return abandon();
        }
        // After the mode: an access ACL sets the group bits from its mask.
        if (old != nullptr && !CopyExtendedAttributes(oldFd, file.Get(), temporary)) {
            return abandon();
        }
        if (!WriteAll(file.Get(), text, temporary)) {
            return abandon();
        }
        if (fsync(file.Get()) != 0) {
            FailSystem("flush the new copy of " + real_ + " to disk", errno);
            return abandon();
        }
        if (file.Close() != 0) {
            FailSystem("finish writing the new copy of " + real_, errno);
            unlink(temporary.c_str());
            return Outcome::Done;
        }

        if (old != nullptr) {
            // Still the file that was read, unchanged, and nobody waiting to
            // write it? Otherwise another program has rewritten or replaced it
            // since, or is about to, and renaming over it would throw its
            // change away (or keep half of its rewrite). Closing the old
            // descriptor on the way out lets a waiting writer go on.
            struct stat now {};
            if ((leased && !LeaseIntact(oldFd)) || stat(real_.c_str(), &now) != 0 || !SameVersion(*old, now)) {
                return abandon(Outcome::Retry);
            }
            if (rename(temporary.c_str(), real_.c_str()) != 0) {
                FailSystem("replace " + real_, errno);
                unlink(temporary.c_str());
                return Outcome::Done;
            }
        } else if (!CreateExclusively(temporary)) {
            return errors_.empty() ? Outcome::Retry : Outcome::Done;
        }
        RecordOwnWrite(CountSections(text));
        FlushFolder();
        return Outcome::Done;
    }

    // Moves the temporary file to the missing file's place unless another writer
    // created it meanwhile; then the caller starts over and edits that one.
    bool CreateExclusively(const std::string& temporary) {
        if (renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, real_.c_str(), RENAME_NOREPLACE) == 0) {
            return true;
        }
        int error = errno;
        if (error == EINVAL || error == ENOSYS) {
            // File systems without RENAME_NOREPLACE: link() never replaces either.
            if (link(temporary.c_str(), real_.c_str()) == 0) {
                unlink(temporary.c_str());
                return true;
            }
            error = errno;
        }
        unlink(temporary.c_str());
        if (error != EEXIST) {
            FailSystem("create " + real_, error);
        }
        return false;
    }

    // Makes the rename itself durable, as far as the folder lets it. The change
    // is made and visible either way, so a folder that cannot be flushed (some
    // file systems say EINVAL) does not turn it into a reported failure.
    void FlushFolder() {
        Descriptor folder(open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (folder.Get() >= 0) {
            fsync(folder.Get());
        }
    }

    std::string path_;
    mode_t newFileMode_;
    std::string real_;
    std::string folder_;
    std::string base_;
    int lockFd_ = -1;
    std::optional<Clock::time_point> openForWritingSince_;
    std::optional<Clock::time_point> rewriteSignsSince_;
    std::vector<SetupError> errors_;
};

} // namespace

std::vector<SetupError> EditIniFile(const std::string& path, mode_t newFileMode,
                                    const std::function<FileEdit(std::string current)>& edit) {
    return Editor(path, newFileMode).Run(edit);
}

} // namespace tarnwick::setup
