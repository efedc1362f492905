#include "errors.h"

#include "syscalls.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace {

thread_local DWORD lastError = 0;

// True when the directory that would hold the last component of path exists.
bool parentExists(const char* path) {
    size_t n = strlen(path);
    while (n > 0 && path[n - 1] == '/')
        --n;
    while (n > 0 && path[n - 1] != '/')
        --n;
    while (n > 1 && path[n - 1] == '/')
        --n;
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

DWORD posixErrorNumber(int err) {
    switch (err) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
        return ERROR_ACCESS_DENIED;
    case EPERM:
        return ERROR_ACCESS_DENIED;
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case EROFS:
        return ERROR_WRITE_PROTECT;
    case ENOSPC:
        return ERROR_DISK_FULL;
    case EDQUOT:
        return ERROR_DISK_FULL;
    case EBUSY:
        return ERROR_SHARING_VIOLATION;
    case ETXTBSY:
        return ERROR_SHARING_VIOLATION;
    case EMFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EXDEV:
        return ERROR_NOT_SAME_DEVICE;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case ENOTSUP:
        return ERROR_NOT_SUPPORTED;
    case EIO:
        return ERROR_IO_DEVICE;
    case EMLINK:
        return ERROR_TOO_MANY_LINKS;
    case ELOOP:
        return ERROR_CANT_RESOLVE_FILENAME;
    // Anything else: what Wine reports for an errno it does not know (STATUS_UNSUCCESSFUL).
    default:
        return ERROR_GEN_FAILURE;
    }
}

void posixSetLastError(int err, const char* path) {
    DWORD error = posixErrorNumber(err);
    if (err == ENOENT && path && !parentExists(path))
        error = ERROR_PATH_NOT_FOUND;
    lastError = error;
}
