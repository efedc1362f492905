// A root by identity: the same device and inode as the process's "/".
#include "../rootIdentity.h"
#include "errors.h"
#include "syscalls.h"
#include "text.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

RootIdentity rootIdentityOf(const wchar_t* path) {
    char bytes[kPosixPathBytes + 1];
    if (!posixPath(path, bytes)) {
        SetLastError(ERROR_INVALID_NAME);
        return RootIdentity::Unknown;
    }
    struct stat reached, root;
    if (posixCalls.fstatat(AT_FDCWD, bytes, &reached, 0) != 0) {
        int err = errno;
        posixSetLastError(err, bytes);
        // Nothing stands there, a file stands on the way, or nothing can stand at such a name:
        // whatever gets made there is no root.
        return err == ENOENT || err == ENOTDIR || err == ENAMETOOLONG ? RootIdentity::NotRoot
                                                                      : RootIdentity::Unknown;
    }
    if (!S_ISDIR(reached.st_mode))
        return RootIdentity::NotRoot;
    if (posixCalls.fstatat(AT_FDCWD, "/", &root, 0) != 0) {
        posixSetLastError(errno, "/");
        return RootIdentity::Unknown;
    }
    return reached.st_dev == root.st_dev && reached.st_ino == root.st_ino ? RootIdentity::Root
                                                                          : RootIdentity::NotRoot;
}
