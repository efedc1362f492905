// Attributes, directory creation and removal, file deletion.
#include "errors.h"
#include "find.h"
#include "syscalls.h"
#include "text.h"
#include "winapi.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/sysmacros.h>

namespace {

// Converts path for the file system, or sets ERROR_INVALID_NAME.
bool toPosix(LPCWSTR path, PosixPath& out) {
    if (path && posixPath(path, out))
        return true;
    SetLastError(ERROR_INVALID_NAME);
    return false;
}

// The same for a call on the entry itself, through an open search where it is one of its
// entries. POSIX resolves a link named with a trailing "/", where Windows reports and removes
// the link (a junction) itself: such separators are dropped.
bool toPosixEntry(LPCWSTR path, PosixPath& buffer, PosixAt& at) {
    if (!posixAt(path, buffer, at))
        return false;
    size_t n = strlen(buffer);
    while (n > 1 && buffer[n - 1] == '/')
        buffer[--n] = 0;
    return true;
}

BOOL fail(const char* path) {
    posixSetLastError(errno, path);
    return FALSE;
}

// What lstat tells of an entry, and whether it is the root of a mount.
struct EntryInfo {
    mode_t mode;
    dev_t dev;
    ino_t ino;
    bool mountRoot;
};

bool deviceDiffersFromParent(PosixAt at, dev_t dev) {
    // Where the kernel cannot say, a mount root is the directory whose parent lies on another
    // device (this misses a bind mount of the same file system).
    PosixPath parent;
    size_t n = strlen(at.path);
    if (n + 4 > sizeof parent)
        return false;
    memcpy(parent, at.path, n);
    memcpy(parent + n, "/..", 4);
    struct stat st;
    return posixCalls.fstatat(at.dirfd, parent, &st, 0) == 0 && st.st_dev != dev;
}

bool readEntry(PosixAt at, EntryInfo& info) {
#if defined(__linux__)
    struct statx stx;
    if (posixCalls.statx(at.dirfd, at.path, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
                         STATX_TYPE | STATX_MODE | STATX_INO, &stx) != 0)
        return false;
    info.mode = stx.stx_mode;
    info.dev = makedev(stx.stx_dev_major, stx.stx_dev_minor);
    info.ino = stx.stx_ino;
    if (!S_ISDIR(info.mode))
        info.mountRoot = false;
    else if (stx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT)
        info.mountRoot = (stx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    else
        info.mountRoot = deviceDiffersFromParent(at, info.dev);
#else
    struct stat st;
    if (posixCalls.fstatat(at.dirfd, at.path, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    info.mode = st.st_mode;
    info.dev = st.st_dev;
    info.ino = st.st_ino;
    info.mountRoot = S_ISDIR(st.st_mode) && deviceDiffersFromParent(at, st.st_dev);
#endif
    return true;
}

DWORD attributesOf(PosixAt at, const EntryInfo& info) {
    if (S_ISDIR(info.mode)) {
        // A mounted folder is a reparse point on Windows: it goes as a link, never entered.
        return FILE_ATTRIBUTE_DIRECTORY | (info.mountRoot ? FILE_ATTRIBUTE_REPARSE_POINT : 0);
    }
    if (S_ISLNK(info.mode)) {
        // Like a junction whose target is gone, a dangling link counts as a directory link.
        struct stat target;
        bool leadsToFile =
            posixCalls.fstatat(at.dirfd, at.path, &target, 0) == 0 && !S_ISDIR(target.st_mode);
        return FILE_ATTRIBUTE_REPARSE_POINT | (leadsToFile ? 0 : FILE_ATTRIBUTE_DIRECTORY);
    }
    return (info.mode & 0222) == 0 ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
}

} // namespace

DWORD GetFileAttributesW(LPCWSTR fileName) {
    PosixPath path;
    PosixAt at;
    if (!toPosixEntry(fileName, path, at))
        return INVALID_FILE_ATTRIBUTES;
    // The entry a search has just listed as a file: no call needed (nor read-only bit known). A
    // listed directory still needs one, to tell a mount point.
    if (at.listedType == DT_REG)
        return FILE_ATTRIBUTE_NORMAL;
    if (at.listedMountRoot && *at.listedMountRoot >= 0)
        return FILE_ATTRIBUTE_DIRECTORY | (*at.listedMountRoot ? FILE_ATTRIBUTE_REPARSE_POINT : 0);
    EntryInfo info;
    if (!readEntry(at, info)) {
        fail(path);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (at.listedMountRoot && S_ISDIR(info.mode))
        *at.listedMountRoot = info.mountRoot ? 1 : 0;
    return attributesOf(at, info);
}

BOOL CreateDirectoryW(LPCWSTR pathName, LPSECURITY_ATTRIBUTES) {
    PosixPath path;
    if (!toPosix(pathName, path))
        return FALSE;
    return posixCalls.mkdirat(AT_FDCWD, path, 0777) == 0 ? TRUE : fail(path);
}

BOOL RemoveDirectoryW(LPCWSTR pathName) {
    PosixPath path;
    PosixAt at;
    if (!toPosixEntry(pathName, path, at))
        return FALSE;
    if (posixCalls.unlinkat(at.dirfd, at.path, AT_REMOVEDIR) == 0)
        return TRUE;
    int err = errno;
    if (err == EEXIST) { // what some systems say for a directory with content
        SetLastError(ERROR_DIR_NOT_EMPTY);
        return FALSE;
    }
    if (err != ENOTDIR)
        return fail(path);
    // rmdir refuses links; a directory link goes as a whole, a file or file link is no directory.
    EntryInfo info;
    if (!readEntry(at, info))
        return fail(path);
    if ((attributesOf(at, info) & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        SetLastError(ERROR_DIRECTORY);
        return FALSE;
    }
    return posixCalls.unlinkat(at.dirfd, at.path, 0) == 0 ? TRUE : fail(path);
}

BOOL DeleteFileW(LPCWSTR fileName) {
    PosixPath path;
    PosixAt at;
    if (!posixAt(fileName, path, at))
        return FALSE;
    return posixCalls.unlinkat(at.dirfd, at.path, 0) == 0 ? TRUE : fail(path);
}
