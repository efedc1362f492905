// Handles of files and directories: opening for queries or for setting a junction, the final
// path of an open handle, and the junction itself.
#include "errors.h"
#include "find.h"
#include "syscalls.h"
#include "text.h"
#include "winapi.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#if defined(__linux__)
#include <sys/sysmacros.h>
#endif
#include <unistd.h>

namespace {

// An open handle: its descriptor, and the path it was opened with, from which its final path is
// resolved where the kernel cannot name the descriptor (no /proc). A fixed pool: the commands
// hold one handle at a time.
struct HandleRecord {
    bool inUse;
    bool lastLinkFollowed; // false: opened with FILE_FLAG_OPEN_REPARSE_POINT
    int fd;
    char path[kPosixPathBytes + 1];
};
constexpr int kHandles = 8;
HandleRecord handles[kHandles];

HandleRecord* recordOf(const void* h) { // a HANDLE
    for (HandleRecord& r : handles)
        if (r.inUse && h == &r)
            return &r;
    return nullptr;
}

// A directory opened for listing is a handle of another kind: its descriptor plus one (so that no
// valid handle is null), never the address of a record above.
HANDLE handleOf(int fd) {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd) + 1);
}
int descriptorOf(HANDLE h) {
    const HandleRecord* record = recordOf(h);
    return record ? record->fd : static_cast<int>(reinterpret_cast<intptr_t>(h) - 1);
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

// How many links one resolution follows at most, as the kernel allows.
constexpr int kMaxLinks = 40;

// The absolute path that path leads to, resolved as the kernel resolves it, without /proc: from
// the current directory (for a relative path) one name at a time, each link read and its text
// put in its place, ".." taken from the directory reached so far. A link in the last name is
// followed only when followLast (or when a separator follows it). Its length, or -1 with errno.
ssize_t resolvePath(const char* path, bool followLast, char (&out)[PATH_MAX]) {
    char rest[PATH_MAX]; // what is still to walk
    char text[PATH_MAX]; // a link's text and the rest after it
    size_t restLength = strlen(path);
    if (restLength >= sizeof rest) {
        errno = ENAMETOOLONG;
        return -1;
    }
    memcpy(rest, path, restLength + 1);
    size_t length;
    if (rest[0] == '/') {
        out[0] = '/', out[1] = 0, length = 1;
    } else {
        if (!posixCalls.getcwd(out, sizeof out))
            return -1;
        length = strlen(out);
    }
    size_t pos = 0;
    for (int links = 0;;) {
        while (rest[pos] == '/')
            ++pos;
        if (!rest[pos])
            return static_cast<ssize_t>(length);
        size_t end = pos;
        while (rest[end] && rest[end] != '/')
            ++end;
        size_t nameLength = end - pos;
        const char* name = rest + pos;
        pos = end;
        if (nameLength == 1 && name[0] == '.')
            continue;
        if (nameLength == 2 && name[0] == '.' && name[1] == '.') {
            length = posixParentLength(out, length);
            length += length == 0; // "/" has no parent but itself
            out[length] = 0;
            continue;
        }
        if (length + (length > 1) + nameLength >= sizeof out) {
            errno = ENAMETOOLONG;
            return -1;
        }
        size_t parent = length;
        if (length > 1)
            out[length++] = '/';
        memcpy(out + length, name, nameLength);
        length += nameLength;
        out[length] = 0;
        struct stat st;
        if (posixCalls.fstatat(AT_FDCWD, out, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return -1;
        size_t next = pos;
        while (rest[next] == '/')
            ++next;
        bool last = !rest[next];
        bool separatorAfter = rest[pos] == '/';
        if (S_ISLNK(st.st_mode) && (!last || followLast || separatorAfter)) {
            if (++links > kMaxLinks) {
                errno = ELOOP;
                return -1;
            }
            ssize_t n = posixCalls.readlinkat(AT_FDCWD, out, text, sizeof text);
            if (n < 0)
                return -1;
            size_t after = strlen(rest + pos);
            if (static_cast<size_t>(n) + after >= sizeof text) {
                errno = ENAMETOOLONG;
                return -1;
            }
            memcpy(text + n, rest + pos, after + 1);
            memcpy(rest, text, static_cast<size_t>(n) + after + 1);
            pos = 0;
            length = rest[0] == '/' ? 1 : parent; // the link's name goes
            out[length] = 0;
        } else if (!S_ISDIR(st.st_mode) && (!last || separatorAfter)) {
            errno = ENOTDIR;
            return -1;
        }
    }
}

// Whether the absolute path names the object open at fd itself (the same device and inode; a
// link in its last name not followed, as a handle of a link is the link).
bool namesObjectOf(const char* path, int fd) {
    if (path[0] != '/')
        return false;
#if defined(__linux__)
    struct statx open, named;
    return posixCalls.statx(fd, "", AT_EMPTY_PATH, STATX_INO, &open) == 0 &&
           posixCalls.statx(AT_FDCWD, path, AT_SYMLINK_NOFOLLOW, STATX_INO, &named) == 0 &&
           open.stx_dev_major == named.stx_dev_major && open.stx_dev_minor == named.stx_dev_minor &&
           open.stx_ino == named.stx_ino;
#else
    struct stat open, named;
    return fstat(fd, &open) == 0 &&
           posixCalls.fstatat(AT_FDCWD, path, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
#endif
}

// The absolute path of the object open under handle: the kernel's name for the descriptor, or,
// where it gives none (no /proc), the path the handle was opened with, resolved. Either must
// still name that very object: a descriptor whose object has no path (a pipe, a socket, a
// deleted file) or was moved in between has no final path. Its length, or -1 with the last error
// set.
ssize_t finalPathOf(const HandleRecord& handle, char (&path)[PATH_MAX]) {
    ssize_t n = pathOfDescriptor(handle.fd, path, sizeof path);
    if (n < 0)
        n = resolvePath(handle.path, handle.lastLinkFollowed, path);
    if (n < 0) {
        posixSetLastError(errno, nullptr);
        return -1;
    }
    if (!namesObjectOf(path, handle.fd)) {
        SetLastError(ERROR_BAD_PATHNAME);
        return -1;
    }
    return n;
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
bool linkPathOf(const HandleRecord& handle, const Identity& held, char (&link)[kLinkPathBytes]) {
    ssize_t n = pathOfDescriptor(handle.fd, link, sizeof link);
    if (n < 0) { // no /proc: the path the handle was opened with, resolved
        char resolved[PATH_MAX];
        n = resolvePath(handle.path, handle.lastLinkFollowed, resolved);
        if (n < 0 || static_cast<size_t>(n) >= sizeof link)
            return false;
        memcpy(link, resolved, static_cast<size_t>(n) + 1);
        return true;
    }
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

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE) {
    char path[kPosixPathBytes + 1];
    if (!fileName || !posixPath(fileName, path) || creationDisposition != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (desiredAccess & FILE_LIST_DIRECTORY) {
        int fd = posixOpenDirectory(fileName, flagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT);
        return fd < 0 ? INVALID_HANDLE_VALUE : handleOf(fd);
    }
    HandleRecord* record = nullptr;
    for (HandleRecord& r : handles)
        if (!r.inUse && !record)
            record = &r;
    if (!record) {
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return INVALID_HANDLE_VALUE;
    }
    bool followLast = !(flagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT);
    // Without following, the handle is the link itself, never what it refers to.
    int fd = posixCalls.openat(AT_FDCWD, path, kQueryFlags | (followLast ? 0 : O_NOFOLLOW));
    if (fd < 0) {
        posixSetLastError(errno, path);
        return INVALID_HANDLE_VALUE;
    }
    record->inUse = true;
    record->lastLinkFollowed = followLast;
    record->fd = fd;
    memcpy(record->path, path, sizeof path);
    return record;
}

DWORD GetFinalPathNameByHandleA(HANDLE file, LPSTR filePath, DWORD cchFilePath, DWORD) {
    const HandleRecord* handle = recordOf(file);
    if (!handle) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    char resolved[PATH_MAX];
    ssize_t n = finalPathOf(*handle, resolved);
    if (n < 0)
        return 0;
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
    HandleRecord* handle = recordOf(object);
    if (!handle) {
        if (object != INVALID_HANDLE_VALUE && posixCloseDirectory(descriptorOf(object)))
            return TRUE;
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    handle->inUse = false;
    if (posixCalls.close(handle->fd) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information) {
    const HandleRecord* handle = recordOf(file);
    if (!handle || !information) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    uint64_t dev, ino;
    mode_t mode;
    uint64_t links, size;
#if defined(__linux__)
    struct statx stx;
    if (posixCalls.statx(handle->fd, "", AT_EMPTY_PATH,
                         STATX_TYPE | STATX_MODE | STATX_INO | STATX_NLINK | STATX_SIZE,
                         &stx) != 0) {
        posixSetLastError(errno, nullptr);
        return FALSE;
    }
    dev = (uint64_t(stx.stx_dev_major) << 32) | stx.stx_dev_minor;
    ino = stx.stx_ino, mode = stx.stx_mode, links = stx.stx_nlink, size = stx.stx_size;
#else
    struct stat st;
    if (fstat(handle->fd, &st) != 0) {
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

BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS informationClass,
                                  LPVOID information, DWORD bufferSize) {
    if (file == INVALID_HANDLE_VALUE || !information) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    int fd = descriptorOf(file);
    if (informationClass == FileIdBothDirectoryInfo)
        return posixListNext(fd, static_cast<FILE_ID_BOTH_DIR_INFO*>(information), bufferSize);
    bool tag = informationClass == FileAttributeTagInfo;
    if ((!tag && informationClass != FileIdInfo) ||
        bufferSize < (tag ? sizeof(FILE_ATTRIBUTE_TAG_INFO) : sizeof(FILE_ID_INFO))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    uint64_t dev, ino;
    mode_t mode;
    bool mountRoot;
#if defined(__linux__)
    struct statx stx;
    if (posixCalls.statx(fd, "", AT_EMPTY_PATH, STATX_TYPE | STATX_INO, &stx) != 0) {
        posixSetLastError(errno, nullptr);
        return FALSE;
    }
    dev = (uint64_t(stx.stx_dev_major) << 32) | stx.stx_dev_minor;
    ino = stx.stx_ino, mode = stx.stx_mode;
    if (!tag || !S_ISDIR(mode)) {
        mountRoot = false;
    } else if (stx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) {
        mountRoot = (stx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    } else {
        struct stat parent; // where the kernel cannot say: a parent on another device
        mountRoot = posixCalls.fstatat(fd, "..", &parent, 0) == 0 &&
                    parent.st_dev != makedev(stx.stx_dev_major, stx.stx_dev_minor);
    }
#else
    struct stat st, parent;
    if (fstat(fd, &st) != 0) {
        posixSetLastError(errno, nullptr);
        return FALSE;
    }
    dev = static_cast<uint64_t>(st.st_dev), ino = st.st_ino, mode = st.st_mode;
    mountRoot = tag && S_ISDIR(mode) && posixCalls.fstatat(fd, "..", &parent, 0) == 0 &&
                parent.st_dev != st.st_dev;
#endif
    if (tag) {
        // A mounted folder is a reparse point on Windows.
        auto* out = static_cast<FILE_ATTRIBUTE_TAG_INFO*>(information);
        out->FileAttributes = S_ISDIR(mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
        out->ReparseTag = 0;
        if (mountRoot) {
            out->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
            out->ReparseTag = IO_REPARSE_TAG_MOUNT_POINT;
        }
    } else {
        auto* out = static_cast<FILE_ID_INFO*>(information);
        out->VolumeSerialNumber = dev;
        memset(out->FileId.Identifier, 0, sizeof out->FileId.Identifier);
        memcpy(out->FileId.Identifier, &ino, sizeof ino); // little-endian, as on Windows
    }
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
    const HandleRecord* handle = recordOf(device);
    if (!handle) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const int fd = handle->fd;
    Identity held;
    char link[kLinkPathBytes];
    if (!describeHandle(fd, held) || !linkPathOf(*handle, held, link)) {
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
