#include "ini_file_store.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

        // Every writer of ours locks the file's folder, not the file: the file is
        // replaced by a new inode on every write, so a lock on it would only
        // hold the old copy, and a writer waiting on that copy would have to
        // start over, again and again while others keep writing. The folder
        // stays the same, and opening it needs no more than read access.
        Descriptor folder(open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (folder.Get() < 0) {
            const int error = errno;
            FailSystem("open the folder " + folder_ + (error == ENOENT ? " (the folder does not exist)" : ""), error);
            return errors_;
        }
        if (!Lock(folder.Get(), folder_)) {
            return errors_;
        }
        // Only a program that does not take the lock can still create the file
        // between our look and our rename; then the edit starts over on its file.
        for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
            switch (Attempt(edit)) {
            case Outcome::Done:
                return errors_;
            case Outcome::Retry:
                continue;
            }
        }
        Fail(ODBC_ERROR_WRITING_SYSINFO_FAILED, "Could not update " + real_ +
                                                    ": other programs kept replacing it meanwhile. It was left unchanged.");
        return errors_;
    }

private:
    enum class Outcome { Done, Retry };

    void Fail(int code, std::string message) { errors_.push_back({code, std::move(message)}); }

    void FailSystem(const std::string& what, int error) {
        Fail(ODBC_ERROR_WRITING_SYSINFO_FAILED, "Cannot " + what + ": " + std::strerror(error) + "." + Hint(error) +
                                                    " " + real_ + " was left unchanged.");
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

    Outcome Attempt(const std::function<FileEdit(std::string)>& edit) {
        Descriptor file(open(real_.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        struct stat status {};
        std::string current;
        const bool exists = file.Get() >= 0;
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
            if (!ReadAll(file.Get(), status.st_size, current)) {
                return Outcome::Done;
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
            Fail(ODBC_ERROR_GENERAL_ERR, "The change was not saved: unixODBC could not read " + real_ +
                                             " as it would have become (" + *problem +
                                             "). This is a fault in the driver's setup library; " + real_ +
                                             " was left unchanged.");
            return Outcome::Done;
        }
        return Replace(*result.text, exists ? &status : nullptr);
    }

    bool Lock(int fd, const std::string& what) {
        while (flock(fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                FailSystem("lock " + what, errno);
                return false;
            }
        }
        return true;
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

    // Writes `text` beside the file and renames it into place. `old` is the
    // status of the file being replaced, or null when there is none yet.
    Outcome Replace(const std::string& text, const struct stat* old) {
        std::string temporary = folder_ + "/." + base_ + ".XXXXXX";
        Descriptor file(mkostemp(temporary.data(), O_CLOEXEC));
        if (file.Get() < 0) {
            const int error = errno;
            FailSystem("create a temporary file in " + folder_ +
                           (error == ENOENT ? " (the folder does not exist)"
                                            : " (the file is replaced as a whole, which needs write access to its folder)"),
                       error);
            return Outcome::Done;
        }
        auto abandon = [&] {
            file.Reset();
            unlink(temporary.c_str());
            return Outcome::Done;
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
            if (rename(temporary.c_str(), real_.c_str()) != 0) {
                FailSystem("replace " + real_, errno);
                unlink(temporary.c_str());
                return Outcome::Done;
            }
        } else if (!CreateExclusively(temporary)) {
            return errors_.empty() ? Outcome::Retry : Outcome::Done;
        }
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

    // Makes the rename itself durable. A file system that cannot flush folders
    // says EINVAL; there is nothing more to do then.
    void FlushFolder() {
        Descriptor folder(open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        const int error = folder.Get() < 0 ? errno : (fsync(folder.Get()) != 0 ? errno : 0);
        if (error != 0 && error != EINVAL) {
            Fail(ODBC_ERROR_WRITING_SYSINFO_FAILED, real_ + " was updated, but its folder " + folder_ +
                                                        " could not be flushed to disk (" + std::strerror(error) +
                                                        "), so the change might not survive a crash.");
        }
    }

    std::string path_;
    mode_t newFileMode_;
    std::string real_;
    std::string folder_;
    std::string base_;
    std::vector<SetupError> errors_;
};

} // namespace

std::vector<SetupError> EditIniFile(const std::string& path, mode_t newFileMode,
                                    const std::function<FileEdit(std::string current)>& edit) {
    return Editor(path, newFileMode).Run(edit);
}

} // namespace tarnwick::setup
