#include "syscalls.h"

#include <dirent.h>
#include <fcntl.h>
#include <cerrno>
#include <cstring>
#include <sys/select.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/syscall.h>
#endif

namespace {

int callLstat(const char* path, struct stat* st) {
    return ::lstat(path, st);
}
int callStat(const char* path, struct stat* st) {
    return ::stat(path, st);
}
int callMkdir(const char* path, mode_t mode) {
    return ::mkdir(path, mode);
}
int callRmdir(const char* path) {
    return ::rmdir(path);
}
int callUnlink(const char* path) {
    return ::unlink(path);
}
int callOpen(const char* path, int flags) {
    return ::open(path, flags | O_CLOEXEC);
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
ssize_t callReadlink(const char* path, char* buf, size_t size) {
    return ::readlink(path, buf, size);
}
int callSymlink(const char* target, const char* path) {
    return ::symlink(target, path);
}
char* callGetcwd(char* buf, size_t size) {
    return ::getcwd(buf, size);
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
    callLstat, callStat,           callMkdir,    callRmdir,   callUnlink, callOpen,
    callClose, callReadDirEntries, callReadlink, callSymlink, callGetcwd,
};

PosixCalls posixCalls = posixRealCalls;
