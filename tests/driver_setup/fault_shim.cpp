// Preloaded into a config_dsn_client to make one kind of file operation fail for
// files in one folder, the way a full disk or a failing device would:
//   TARNWICK_FAULT      write (ENOSPC), fsync (EIO) or rename (EIO)
//   TARNWICK_FAULT_DIR  the folder whose files are affected
// Everything else passes through to the C library.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <dlfcn.h>
#include <unistd.h>

namespace {

bool FaultIs(const char* kind) {
    const char* fault = std::getenv("TARNWICK_FAULT");
    return fault != nullptr && std::strcmp(fault, kind) == 0;
}

bool InFolder(const char* path) {
    const char* folder = std::getenv("TARNWICK_FAULT_DIR");
    if (folder == nullptr || path == nullptr) {
        return false;
    }
    const std::size_t length = std::strlen(folder);
    return std::strncmp(path, folder, length) == 0 && (path[length] == '/' || path[length] == '\0');
}

bool FdInFolder(int fd) {
    char link[64];
    char target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, target, sizeof target - 1);
    if (length < 0) {
        return false;
    }
    target[length] = '\0';
    return InFolder(target);
}

template <typename Function> Function Next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

ssize_t write(int fd, const void* data, size_t size) {
    if (FaultIs("write") && FdInFolder(fd)) {
        errno = ENOSPC;
        return -1;
    }
    return Next<ssize_t (*)(int, const void*, size_t)>("write")(fd, data, size);
}

int fsync(int fd) {
    if (FaultIs("fsync") && FdInFolder(fd)) {
        errno = EIO;
        return -1;
    }
    return Next<int (*)(int)>("fsync")(fd);
}

int fdatasync(int fd) {
    if (FaultIs("fsync") && FdInFolder(fd)) {
        errno = EIO;
        return -1;
    }
    return Next<int (*)(int)>("fdatasync")(fd);
}

int rename(const char* from, const char* to) {
    if (FaultIs("rename") && (InFolder(from) || InFolder(to))) {
        errno = EIO;
        return -1;
    }
    return Next<int (*)(const char*, const char*)>("rename")(from, to);
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned int flags) {
    if (FaultIs("rename") && (InFolder(from) || InFolder(to))) {
        errno = EIO;
        return -1;
    }
    return Next<int (*)(int, const char*, int, const char*, unsigned int)>("renameat2")(fromDir, from, toDir, to,
                                                                                        flags);
}

int link(const char* from, const char* to) {
    if (FaultIs("rename") && (InFolder(from) || InFolder(to))) {
        errno = EIO;
        return -1;
    }
    return Next<int (*)(const char*, const char*)>("link")(from, to);
}

} // extern "C"
