// The file operations that change what is on disk, in one place: every writer of record files
// and attachments calls these instead of the system calls, so that a test can make the n-th
// call fail as a full disk or a failing device would (SetFileFault).
#pragma once

#include <sys/types.h>

#include <cstddef>

// As open(2), with O_CLOEXEC added and EINTR retried.
int FsOpen(const char* path, int flags, mode_t mode = 0);
// As write(2) / pwrite(2), EINTR retried.
ssize_t FsWrite(int fd, const void* data, size_t size);
ssize_t FsPwrite(int fd, const void* data, size_t size, off_t offset);
int FsFsync(int fd);
int FsRename(const char* from, const char* to);
int FsMkdir(const char* path, mode_t mode);
int FsUnlink(const char* path);
int FsLink(const char* from, const char* to);

// For tests: from now on, the n-th call (from 1) of the functions above fails with error
// (ENOSPC, EIO, ...) without doing anything; 0 turns the fault off. Calls are counted from
// here on either way, and FileCallCount gives their number.
void SetFileFault(long n, int error);
long FileCallCount();
