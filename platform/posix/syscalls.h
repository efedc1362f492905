// Every POSIX call the layer makes goes through this one table, so that a test can swap a single
// call for one that fails on cue (a refused unlink, a directory read that ends with EIO) and
// check the Win32 result. Outside tests the table holds the real calls.
#pragma once

#include <cstddef>
#include <sys/stat.h>
#include <sys/types.h>

struct PosixCalls {
    int (*lstat)(const char* path, struct stat* st);
    int (*stat)(const char* path, struct stat* st);
    int (*mkdir)(const char* path, mode_t mode);
    int (*rmdir)(const char* path);
    int (*unlink)(const char* path);
    int (*open)(const char* path, int flags);
    int (*close)(int fd);
    // Fills buf with directory entries in the kernel's getdents64 layout; 0 at the end.
    long (*readDirEntries)(int fd, void* buf, size_t size);
    ssize_t (*readlink)(const char* path, char* buf, size_t size);
    int (*symlink)(const char* target, const char* path);
    char* (*getcwd)(char* buf, size_t size);
};

// What the layer calls; tests may replace members and must restore them from posixRealCalls.
extern PosixCalls posixCalls;
extern const PosixCalls posixRealCalls;
