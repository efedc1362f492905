// Every POSIX call the layer makes goes through this one table, so that a test can swap a single
// call for one that fails on cue (a refused unlink, a directory read that ends with EIO) and
// check the Win32 result, or put a file system of its own in place of the real one. Outside tests
// the table holds the real calls. Paths are relative to dirfd, which is AT_FDCWD unless the layer
// works inside a directory it holds open.
#pragma once

#include <cstddef>
#include <sys/stat.h>
#include <sys/types.h>
#include <ctime>

struct PosixCalls {
    int (*fstatat)(int dirfd, const char* path, struct stat* st, int flags);
    int (*mkdirat)(int dirfd, const char* path, mode_t mode);
    int (*unlinkat)(int dirfd, const char* path, int flags);
    int (*openat)(int dirfd, const char* path, int flags);
    int (*close)(int fd);
    // Fills buf with directory entries in the kernel's getdents64 layout; 0 at the end.
    long (*readDirEntries)(int fd, void* buf, size_t size);
    ssize_t (*readlinkat)(int dirfd, const char* path, char* buf, size_t size);
    int (*symlinkat)(const char* target, int dirfd, const char* path);
    char* (*getcwd)(char* buf, size_t size);
#if defined(__linux__)
    // Tells a mount point (STATX_ATTR_MOUNT_ROOT) from a plain directory, also where a bind mount
    // keeps the device number; with AT_EMPTY_PATH it describes an open descriptor.
    int (*statx)(int dirfd, const char* path, int flags, unsigned mask, struct statx* buf);
#endif
    // rename(2) with Linux's renameat2 flags: 0 replaces what stands at newPath (as rename
    // does), kRenameNoReplace fails with EEXIST there, kRenameExchange swaps the two names.
    // Where the system lacks a flag: EINVAL, as Linux gives on a file system without it.
    int (*renameat2)(int oldDirfd, const char* oldPath, int newDirfd, const char* newPath,
                     unsigned flags);
    int (*nanosleep)(const struct timespec* duration, struct timespec* remaining);
};

constexpr unsigned kRenameNoReplace = 1; // RENAME_NOREPLACE
constexpr unsigned kRenameExchange = 2;  // RENAME_EXCHANGE

// What the layer calls; tests may replace members and must restore them from posixRealCalls.
extern PosixCalls posixCalls;
extern const PosixCalls posixRealCalls;
