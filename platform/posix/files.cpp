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

DWORD attributesOf(PosixAt at, const struct stat& st) {
    if (S_ISDIR(st.st_mode))
        return FILE_ATTRIBUTE_DIRECTORY;
    if (S_ISLNK(st.st_mode)) {
        // Like a junction whose target is gone, a dangling link counts as a directory link.
        struct stat target;
        bool leadsToFile =
            posixCalls.fstatat(at.dirfd, at.path, &target, 0) == 0 && !S_ISDIR(target.st_mode);
        return FILE_ATTRIBUTE_REPARSE_POINT | (leadsToFile ? 0 : FILE_ATTRIBUTE_DIRECTORY);
    }
    return (st.st_mode & 0222) == 0 ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
}

} // namespace

DWORD GetFileAttributesW(LPCWSTR fileName) {
    PosixPath path;
    PosixAt at;
    if (!toPosixEntry(fileName, path, at))
        return INVALID_FILE_ATTRIBUTES;
    // The entry a search has just listed: its type is known (not whether it is read-only).
    if (at.listedType == DT_DIR)
        return FILE_ATTRIBUTE_DIRECTORY;
    if (at.listedType == DT_REG)
        return FILE_ATTRIBUTE_NORMAL;
    struct stat st;
    if (posixCalls.fstatat(at.dirfd, at.path, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        fail(path);
        return INVALID_FILE_ATTRIBUTES;
    }
    return attributesOf(at, st);
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
    struct stat st;
    if (posixCalls.fstatat(at.dirfd, at.path, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return fail(path);
    if ((attributesOf(at, st) & FILE_ATTRIBUTE_DIRECTORY) == 0) {
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
