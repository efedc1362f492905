#include "syscalls.h"

#include <dirent.h>
#include <fcntl.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/select.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/syscall.h>
#endif

namespace {

int callFstatat(int dirfd, const char* path, struct stat* st, int flags) {
    return ::fstatat(dirfd, path, st, flags);
}
int callMkdirat(int dirfd, const char* path, mode_t mode) {
    return ::mkdirat(dirfd, path, mode);
}
int callUnlinkat(int dirfd, const char* path, int flags) {
    return ::unlinkat(dirfd, path, flags);
}
int callOpenat(int dirfd, const char* path, int flags) {
    return ::openat(dirfd, path, flags | O_CLOEXEC);
}
ssize_t callReadlinkat(int dirfd, const char* path, char* buf, size_t size) {
    return ::readlinkat(dirfd, path, buf, size);
}
int callSymlinkat(const char* target, int dirfd, const char* path) {
    return ::symlinkat(target, dirfd, path);
}
char* callGetcwd(char* buf, size_t size) {
    return ::getcwd(buf, size);
}
#if defined(__linux__)
int callStatx(int dirfd, const char* path, int flags, unsigned mask, struct statx* buf) {
    return ::statx(dirfd, path, flags, mask, buf);
}
#endif

int callRenameat2(int oldDirfd, const char* oldPath, int newDirfd, const char* newPath,
                  unsigned flags) {
#if defined(__linux__) && defined(SYS_renameat2)
    return static_cast<int>(::syscall(SYS_renameat2, oldDirfd, oldPath, newDirfd, newPath, flags));
#elif defined(__APPLE__)
    unsigned native = (flags & kRenameNoReplace ? RENAME_EXCL : 0u) |
                      (flags & kRenameExchange ? RENAME_SWAP : 0u);
    return ::renameatx_np(oldDirfd, oldPath, newDirfd, newPath, native);
#else
    if (flags != 0) {
        errno = EINVAL;
        return -1;
    }
    return ::renameat(oldDirfd, oldPath, newDirfd, newPath);
#endif
}

int callNanosleep(const struct timespec* duration, struct timespec* remaining) {
    return ::nanosleep(duration, remaining);
}

#if !defined(__linux__)
DIR* openDirs[FD_SETSIZE];
#endif

int callClose(int fd) {
#if !defined(__linux__)
    if (fd >= 0 && fd < FD_SETSIZE && openDirs[fd]) {
        ::closedir(openDirs[fd]);
        openDirs[fd] = nullptr;
    }
#endif
    return ::close(fd);
}

long callReadDirEntries(int fd, void* buf, size_t size) {
#if defined(__linux__)
    // getdents64 fills the caller's buffer; readdir would allocate one per open directory.
    return ::syscall(SYS_getdents64, fd, buf, size);
#else
    // Elsewhere readdir fills the same layout; its DIR (which allocates) is kept by descriptor.
    struct Entry {
        unsigned long long ino;
        long long off;
        unsigned short reclen;
        unsigned char type;
        char name[1];
    };
    if (fd < 0 || fd >= FD_SETSIZE) {
        errno = EBADF;
        return -1;
    }
    DIR*& dir = openDirs[fd];
    if (!dir) {
        int dupFd = ::dup(fd);
        dir = dupFd < 0 ? nullptr : ::fdopendir(dupFd);
        if (!dir)
            return -1;
    }
    long used = 0;
    for (;;) {
        long pos = ::telldir(dir);
        struct dirent* e = ::readdir(dir);
        if (!e)
            break;
        size_t nameLen = ::strlen(e->d_name);
        size_t reclen = (offsetof(Entry, name) + nameLen + 1 + 7) & ~size_t(7);
        if (used + static_cast<long>(reclen) > static_cast<long>(size)) {
            ::seekdir(dir, pos);
            break;
        }
        Entry* out = reinterpret_cast<Entry*>(static_cast<char*>(buf) + used);
        out->ino = e->d_ino;
        out->off = 0;
        out->reclen = static_cast<unsigned short>(reclen);
        out->type = 0;
        ::memcpy(out->name, e->d_name, nameLen + 1);
        used += static_cast<long>(reclen);
    }
    return used;
#endif
}

} // namespace

const PosixCalls posixRealCalls = {
    callFstatat,        callMkdirat,    callUnlinkat,  callOpenat, callClose,
    callReadDirEntries, callReadlinkat, callSymlinkat, callGetcwd,
#if defined(__linux__)
    callStatx,
#endif
    callRenameat2,      callNanosleep,
};

PosixCalls posixCalls = posixRealCalls;
