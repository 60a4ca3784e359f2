#include "cgi/fileops.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

long gCalls = 0;
long gFailAt = 0;
int gError = 0;

// Counts the call; true when it is the one to fail (errno is then set).
bool Failing() {
    ++gCalls;
    if (gFailAt == 0 || gCalls != gFailAt) return false;
    errno = gError;
    return true;
}

}  // namespace

int FsOpen(const char* path, int flags, mode_t mode) {
    if (Failing()) return -1;
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

ssize_t FsWrite(int fd, const void* data, size_t size) {
    if (Failing()) return -1;
    ssize_t n;
    do {
        n = ::write(fd, data, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

ssize_t FsPwrite(int fd, const void* data, size_t size, off_t offset) {
    if (Failing()) return -1;
    ssize_t n;
    do {
        n = ::pwrite(fd, data, size, offset);
    } while (n < 0 && errno == EINTR);
    return n;
}

int FsFsync(int fd) { return Failing() ? -1 : ::fsync(fd); }
int FsRename(const char* from, const char* to) { return Failing() ? -1 : ::rename(from, to); }
int FsMkdir(const char* path, mode_t mode) { return Failing() ? -1 : ::mkdir(path, mode); }
int FsUnlink(const char* path) { return Failing() ? -1 : ::unlink(path); }
int FsLink(const char* from, const char* to) { return Failing() ? -1 : ::link(from, to); }

void SetFileFault(long n, int error) {
    gCalls = 0;
    gFailAt = n;
    gError = error;
}

long FileCallCount() { return gCalls; }
