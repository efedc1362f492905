#include "errors.h"

#include "syscalls.h"
#include "text.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace {

thread_local DWORD lastError = 0;

// True when the directory that would hold the last component of path exists.
bool parentExists(const char* path) {
    size_t n = posixParentLength(path, strlen(path));
    if (n == 0)
        return true; // a single relative component: its parent is the current directory
    char parent[4096];
    if (n >= sizeof parent)
        return false;
    memcpy(parent, path, n);
    parent[n] = 0;
    struct stat st;
    return posixCalls.fstatat(AT_FDCWD, parent, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

DWORD GetLastError() {
    return lastError;
}
void SetLastError(DWORD error) {
    lastError = error;
}

namespace {

struct Translation {
    int err;
    DWORD error;
};

// errno to the Win32 number the commands and their messages expect: one a line, grouped by what
// they mean.
constexpr Translation kTranslations[] = {
    // nothing there
    {ENOENT, ERROR_FILE_NOT_FOUND}, // ERROR_PATH_NOT_FOUND where the parent is missing too
    {ENOTDIR, ERROR_PATH_NOT_FOUND},
    // not allowed
    {EACCES, ERROR_ACCESS_DENIED},
    {EPERM, ERROR_ACCESS_DENIED},
    {EISDIR, ERROR_ACCESS_DENIED},
    {EROFS, ERROR_WRITE_PROTECT},
    // in the way, or still in use
    {EEXIST, ERROR_ALREADY_EXISTS},
    {ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
    {EBUSY, ERROR_SHARING_VIOLATION},
    {ETXTBSY, ERROR_SHARING_VIOLATION},
    {EXDEV, ERROR_NOT_SAME_DEVICE},
    // too long, too many
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {ELOOP, ERROR_CANT_RESOLVE_FILENAME},
    {EMLINK, ERROR_TOO_MANY_LINKS},
    // out of resources
    {ENOSPC, ERROR_DISK_FULL},
    {EDQUOT, ERROR_DISK_FULL},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
    {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    // the call itself
    {EBADF, ERROR_INVALID_HANDLE},
    {EINVAL, ERROR_INVALID_PARAMETER},
    {ENOTSUP, ERROR_NOT_SUPPORTED},
    // the device
    {EIO, ERROR_IO_DEVICE},
};

} // namespace

DWORD posixErrorNumber(int err) {
    if (err == 0)
        return ERROR_SUCCESS;
    for (const Translation& t : kTranslations)
        if (t.err == err)
            return t.error;
    return ERROR_GEN_FAILURE; // what Wine reports for an errno it does not know
}

void posixSetLastError(int err, const char* path) {
    DWORD error = posixErrorNumber(err);
    if (err == ENOENT && path && !parentExists(path))
        error = ERROR_PATH_NOT_FOUND;
    lastError = error;
}
