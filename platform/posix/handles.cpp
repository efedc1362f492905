// Handles of files and directories: opening for queries or for setting a junction, the final
// path of an open handle, and the junction itself.
#include "errors.h"
#include "syscalls.h"
#include "text.h"
#include "winapi.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// A file handle is its descriptor plus one, so that no valid handle is null.
HANDLE handleOf(int fd) {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd) + 1);
}
int descriptorOf(HANDLE h) {
    return static_cast<int>(reinterpret_cast<intptr_t>(h) - 1);
}

// Flags that open a path only to name it: no read or write right is needed.
#if defined(O_PATH)
constexpr int kQueryFlags = O_PATH;
#else
constexpr int kQueryFlags = O_RDONLY;
#endif

// The absolute path the kernel holds for an open descriptor; its length, or -1.
ssize_t pathOfDescriptor(int fd, char* buffer, size_t size) {
#if defined(__linux__)
    char link[32];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = posixCalls.readlinkat(AT_FDCWD, link, buffer, size - 1);
    if (n >= 0)
        buffer[n] = 0;
    return n;
#elif defined(F_GETPATH)
    if (size < 1024 || fcntl(fd, F_GETPATH, buffer) != 0)
        return -1;
    return static_cast<ssize_t>(strlen(buffer));
#else
    (void)fd, (void)buffer, (void)size;
    errno = ENOTSUP;
    return -1;
#endif
}

uint16_t u16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// The print name of a mount-point record as a POSIX path, or false when the record is not one
// (tag, lengths and names are checked as the file system would).
bool mountPointTarget(const unsigned char* record, DWORD size,
                      char (&target)[kPosixPathBytes + 1]) {
    if (size < 16 || size > 16 * 1024)
        return false;
    uint32_t tag = record[0] | record[1] << 8 | record[2] << 16 | uint32_t(record[3]) << 24;
    DWORD dataLength = u16(record + 4);
    if (tag != IO_REPARSE_TAG_MOUNT_POINT || dataLength + 8 != size)
        return false;
    DWORD pathBytes = size - 16;
    DWORD subOffset = u16(record + 8), subLength = u16(record + 10);
    DWORD printOffset = u16(record + 12), printLength = u16(record + 14);
    if ((subOffset | subLength | printOffset | printLength) & 1)
        return false;
    if (subOffset + subLength + 2 > pathBytes || printOffset + printLength + 2 > pathBytes)
        return false;
    const unsigned char* names = record + 16;
    static const char prefix[] = "\\??\\";
    if (subLength < 8 || printLength == 0)
        return false;
    for (int i = 0; i < 4; ++i)
        if (u16(names + subOffset + 2 * i) != static_cast<unsigned char>(prefix[i]))
            return false;
    // UTF-16LE to code points, then to the file system's bytes.
    wchar_t print[kPosixPathBytes + 1];
    size_t n = 0;
    for (DWORD i = 0; i < printLength; i += 2) {
        uint32_t c = u16(names + printOffset + i);
        if (c >= 0xD800 && c <= 0xDBFF && i + 2 < printLength) {
            uint32_t low = u16(names + printOffset + i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (c == 0 || n >= kPosixPathBytes)
            return false;
        print[n++] = static_cast<wchar_t>(c);
    }
    print[n] = 0;
    return posixPath(print, target);
}

// A junction is a symbolic link here. Windows writes the record into the directory the handle
// holds, which stays the same object; here that directory has to give way to a link. The link
// is made under a temporary name beside it and then takes the directory's name in one step, so
// that the link path never stands empty, and only the directory that the handle holds gives way,
// and only while it is empty. A handle on a link (a junction set meanwhile, by another process)
// has that link replaced in one step, as Windows replaces a junction's data; so has a handle
// whose directory another process has already turned into a link.

constexpr size_t kLinkPathBytes = 4096;

// What a descriptor or an entry is: its type and its identity, and whether a name leads to it.
struct Identity {
    mode_t mode;
    dev_t dev;
    ino_t ino;
    bool named;
};

bool sameObject(const Identity& a, const Identity& b) {
    return a.dev == b.dev && a.ino == b.ino;
}

bool describeHandle(int fd, Identity& identity) {
#if defined(__linux__)
    struct statx stx;
    if (posixCalls.statx(fd, "", AT_EMPTY_PATH, STATX_TYPE | STATX_INO | STATX_NLINK, &stx) != 0)
        return false;
    identity = {stx.stx_mode, makedev(stx.stx_dev_major, stx.stx_dev_minor), stx.stx_ino,
                stx.stx_nlink > 0};
#else
    struct stat st;
    if (fstat(fd, &st) != 0)
        return false;
    identity = {st.st_mode, st.st_dev, st.st_ino, st.st_nlink > 0};
#endif
    return true;
}

// lstat of path; false with errno set when nothing can be read there.
bool describeEntry(const char* path, Identity& identity) {
    struct stat st;
    if (posixCalls.fstatat(AT_FDCWD, path, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    identity = {st.st_mode, st.st_dev, st.st_ino, true};
    return true;
}

// The path at which the handle's object was opened: where it stands, or, once it is gone, where
// it stood (the kernel then adds " (deleted)").
bool linkPathOf(int fd, const Identity& held, char (&link)[kLinkPathBytes]) {
    ssize_t n = pathOfDescriptor(fd, link, sizeof link);
    if (n < 0)
        return false;
    static const char kGone[] = " (deleted)";
    const size_t gone = sizeof kGone - 1;
    if (!held.named && static_cast<size_t>(n) > gone && strcmp(link + n - gone, kGone) == 0)
        link[n - gone] = 0;
    return true;
}

// Whether the directory of descriptor fd holds no entry but "." and "..".
bool isEmptyDirectory(int fd) {
    int dir = posixCalls.openat(fd, ".", O_RDONLY | O_DIRECTORY);
    if (dir < 0)
        return false;
    alignas(8) char entries[1024];
    bool empty = true;
    long n;
    while (empty && (n = posixCalls.readDirEntries(dir, entries, sizeof entries)) > 0) {
        for (long at = 0; at < n;) {
            const char* name = entries + at + 19; // getdents64: ino, off, reclen, type, name
            unsigned short length;
            memcpy(&length, entries + at + 16, sizeof length);
            if (strcmp(name, ".") != 0 && strcmp(name, "..") != 0)
                empty = false;
            at += length;
        }
    }
    posixCalls.close(dir);
    return empty;
}

// Whether entries of the directory at path may not be renamed or removed (append-only or
// immutable), where the system can tell.
bool forbidsRemoval(const char* path) {
#if defined(__linux__) && defined(STATX_ATTR_APPEND)
    struct statx stx;
    const unsigned long locked = STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE;
    return posixCalls.statx(AT_FDCWD, path, 0, STATX_TYPE, &stx) == 0 &&
           (stx.stx_attributes_mask & locked) && (stx.stx_attributes & locked);
#else
    (void)path;
    return false;
#endif
}

// Moves the link at temporary to link, over nothing or over a link; false with errno set.
bool putLinkInPlace(const char* temporary, const char* link) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        Identity standing;
        if (!describeEntry(link, standing)) {
            if (errno != ENOENT)
                return false;
            if (posixCalls.renameat2(AT_FDCWD, temporary, AT_FDCWD, link, kRenameNoReplace) == 0)
                return true;
            if (errno == EINVAL) // no such flag on this file system: a plain rename
                return posixCalls.renameat2(AT_FDCWD, temporary, AT_FDCWD, link, 0) == 0;
        } else if (S_ISLNK(standing.mode)) {
            if (posixCalls.renameat2(AT_FDCWD, temporary, AT_FDCWD, link, 0) == 0)
                return true;
        } else {
            errno = EBUSY; // a directory or file of another caller stands there
            return false;
        }
        if (errno != EEXIST && errno != EISDIR && errno != ENOTDIR)
            return false; // else what stood there changed meanwhile: look again
    }
    errno = EBUSY;
    return false;
}

DWORD errorOf(int err) {
    return err == EEXIST || err == ENOTEMPTY ? DWORD(ERROR_DIR_NOT_EMPTY) : posixErrorNumber(err);
}

// Turns the empty directory held by fd, at link, into the link at temporary; 0 or the error.
DWORD replaceDirectory(const Identity& held, const char* link, const char* temporary) {
    if (posixCalls.renameat2(AT_FDCWD, temporary, AT_FDCWD, link, kRenameExchange) != 0) {
        const int err = errno;
        if (err == ENOENT) // the directory went meanwhile
            return putLinkInPlace(temporary, link) ? 0 : errorOf(errno);
        if (err != EINVAL)
            return errorOf(err);
        // No exchange on this file system: the directory goes, if it is still the one held,
        // then the link takes its name.
        Identity standing;
        if (!describeEntry(link, standing) || !sameObject(standing, held))
            return putLinkInPlace(temporary, link) ? 0 : errorOf(errno);
        if (posixCalls.unlinkat(AT_FDCWD, link, AT_REMOVEDIR) != 0)
            return errorOf(errno);
        return putLinkInPlace(temporary, link) ? 0 : errorOf(errno);
    }
    // The link stands at the link path; what stood there now has the temporary name.
    Identity moved;
    const bool read = describeEntry(temporary, moved);
    if (read && sameObject(moved, held)) {
        if (posixCalls.unlinkat(AT_FDCWD, temporary, AT_REMOVEDIR) == 0)
            return 0;
    } else if (read && S_ISLNK(moved.mode)) {
        if (posixCalls.unlinkat(AT_FDCWD, temporary, 0) == 0)
            return 0; // a link set meanwhile, replaced
    } else {
        errno = EBUSY; // another caller's directory or file: it goes back
    }
    const int err = errno;
    posixCalls.renameat2(AT_FDCWD, temporary, AT_FDCWD, link, kRenameExchange);
    return errorOf(err);
}

// Makes link a symbolic link to target in place of what fd holds; 0 or the error.
DWORD setLink(int fd, const Identity& held, const char* link, const char* target) {
    char temporary[kLinkPathBytes];
    const size_t parent = posixParentLength(link, strlen(link));
    char parentPath[kLinkPathBytes];
    memcpy(parentPath, link, parent);
    parentPath[parent] = 0;
    const int n = snprintf(temporary, sizeof temporary, "%s%s%s%ld", parentPath,
                           parent > 0 && link[parent - 1] == '/' ? "" : "/", kTemporaryLinkPrefix,
                           static_cast<long>(getpid()));
    if (n < 0 || static_cast<size_t>(n) >= sizeof temporary)
        return ERROR_FILENAME_EXCED_RANGE;
    if (!S_ISDIR(held.mode) && !S_ISLNK(held.mode))
        return ERROR_DIRECTORY; // a file takes no junction
    if (strncmp(link + parent + (link[parent] == '/'), kTemporaryLinkPrefix,
                sizeof kTemporaryLinkPrefix - 1) == 0)
        return ERROR_SHARING_VIOLATION; // another process is turning this directory into its link
    const bool replacesHeldDirectory = S_ISDIR(held.mode) && held.named;
    if (replacesHeldDirectory && !isEmptyDirectory(fd))
        return ERROR_DIR_NOT_EMPTY;
    if (forbidsRemoval(parent > 0 ? parentPath : "/"))
        return ERROR_ACCESS_DENIED; // no name there can give way, and no temporary one would go
    if (posixCalls.symlinkat(target, AT_FDCWD, temporary) != 0)
        return errorOf(errno);
    // Otherwise what the handle held is a link already, or has become one meanwhile.
    const DWORD error = replacesHeldDirectory             ? replaceDirectory(held, link, temporary)
                        : putLinkInPlace(temporary, link) ? 0
                                                          : errorOf(errno);
    Identity left;
    if (error != 0 && describeEntry(temporary, left) && S_ISLNK(left.mode))
        posixCalls.unlinkat(AT_FDCWD, temporary, 0); // the link made above, never put in place
    return error;
}

} // namespace

HANDLE CreateFileW(LPCWSTR fileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE) {
    char path[kPosixPathBytes + 1];
    if (!fileName || !posixPath(fileName, path) || creationDisposition != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    int flags = kQueryFlags;
    if (flagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT)
        flags |= O_NOFOLLOW; // the link itself, never what it refers to
    int fd = posixCalls.openat(AT_FDCWD, path, flags);
    if (fd < 0) {
        posixSetLastError(errno, path);
        return INVALID_HANDLE_VALUE;
    }
    return handleOf(fd);
}

DWORD GetFinalPathNameByHandleA(HANDLE file, LPSTR filePath, DWORD cchFilePath, DWORD) {
    char resolved[4096];
    ssize_t n = pathOfDescriptor(descriptorOf(file), resolved, sizeof resolved);
    if (n < 0) {
        posixSetLastError(errno, nullptr);
        return 0;
    }
    // A backslash here is part of a name (the separators are "/"): it goes out as the UTF-8 form
    // of U+F05C, which the code page's decoding turns into U+F05C, as for names of a listing.
    static const char kBackslash[] = "\xef\x81\x9c";
    DWORD length = 0;
    for (ssize_t i = 0; i < n; ++i)
        length += resolved[i] == '\\' ? 3 : 1;
    if (length >= cchFilePath)
        return length + 1; // the size needed, terminator included
    char* out = filePath;
    for (ssize_t i = 0; i < n; ++i) {
        if (resolved[i] == '\\') {
            memcpy(out, kBackslash, 3);
            out += 3;
        } else {
            *out++ = resolved[i];
        }
    }
    *out = 0;
    return length;
}

BOOL CloseHandle(HANDLE object) {
    if (object == INVALID_HANDLE_VALUE || posixCalls.close(descriptorOf(object)) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information) {
    if (file == INVALID_HANDLE_VALUE || !information) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    uint64_t dev, ino;
    mode_t mode;
    uint64_t links, size;
#if defined(__linux__)
    struct statx stx;
    if (posixCalls.statx(descriptorOf(file), "", AT_EMPTY_PATH,
                         STATX_TYPE | STATX_MODE | STATX_INO | STATX_NLINK | STATX_SIZE,
                         &stx) != 0) {
        posixSetLastError(errno, nullptr);
        return FALSE;
    }
    dev = (uint64_t(stx.stx_dev_major) << 32) | stx.stx_dev_minor;
    ino = stx.stx_ino, mode = stx.stx_mode, links = stx.stx_nlink, size = stx.stx_size;
#else
    struct stat st;
    if (fstat(descriptorOf(file), &st) != 0) {
        posixSetLastError(errno, nullptr);
        return FALSE;
    }
    dev = static_cast<uint64_t>(st.st_dev);
    ino = st.st_ino, mode = st.st_mode, links = st.st_nlink, size = st.st_size;
#endif
    *information = BY_HANDLE_FILE_INFORMATION{};
    information->dwFileAttributes =
        S_ISDIR(mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    information->dwVolumeSerialNumber = static_cast<DWORD>(dev ^ (dev >> 32));
    information->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    information->nFileSizeLow = static_cast<DWORD>(size);
    information->nNumberOfLinks = static_cast<DWORD>(links);
    information->nFileIndexHigh = static_cast<DWORD>(ino >> 32);
    information->nFileIndexLow = static_cast<DWORD>(ino);
    return TRUE;
}

BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize,
                     LPVOID, DWORD, LPDWORD bytesReturned, LPOVERLAPPED) {
    if (ioControlCode != FSCTL_SET_REPARSE_POINT || !inBuffer) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    char target[kPosixPathBytes + 1];
    if (!mountPointTarget(static_cast<const unsigned char*>(inBuffer), inBufferSize, target)) {
        SetLastError(ERROR_INVALID_REPARSE_DATA);
        return FALSE;
    }
    const int fd = descriptorOf(device);
    Identity held;
    char link[kLinkPathBytes];
    if (!describeHandle(fd, held) || !linkPathOf(fd, held, link)) {
        posixSetLastError(errno, nullptr);
        return FALSE;
    }
    DWORD error = setLink(fd, held, link, target);
    if (error != 0) {
        SetLastError(error);
        return FALSE;
    }
    if (bytesReturned)
        *bytesReturned = 0;
    return TRUE;
}
