// Directory enumeration without heap: each open search is a slot of a fixed pool, holding the
// directory descriptor and one buffer of raw entries read in bulk.
#include "find.h"

#include "../pathText.h"
#include "errors.h"
#include "syscalls.h"
#include "text.h"
#include "winapi.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// A path of MAX_PATH characters holds at most 129 nested levels, each with one open search.
constexpr int kSearchSlots = 160;
constexpr size_t kEntryBufferBytes = 32 * 1024;

struct SearchSlot {
    bool inUse;
    int fd;
    SearchSlot* outer; // the search that was innermost when this one opened
    long next;
    long end;
    size_t prefixLength;      // of prefix: the directory as the search pattern spells it, with the
    wchar_t prefix[MAX_PATH]; // separator before the "*"
    const char* lastName;     // of the entry returned last, inside entries
    unsigned char lastType;
    signed char lastMountRoot; // of that entry, when a directory: -1 unknown, 0 or 1
    alignas(8) char entries[kEntryBufferBytes];
};

struct RawEntry { // the kernel's linux_dirent64
    uint64_t ino;
    int64_t off;
    unsigned short reclen;
    unsigned char type;
    char name[1];
};

SearchSlot slots[kSearchSlots];

// The directory last checked by path (posixNoteCheckedDirectory), per thread like the last error.
struct CheckedDirectory {
    PosixPath path; // without trailing separators
    dev_t dev;
    ino_t ino;
};
thread_local CheckedDirectory checked = {{0}, 0, 0};

size_t withoutTrailingSeparators(const char* path) {
    size_t n = strlen(path);
    while (n > 1 && path[n - 1] == '/')
        --n;
    return n;
}

bool isCheckedDirectory(const char* path) {
    size_t n = withoutTrailingSeparators(path);
    return checked.path[0] && strncmp(checked.path, path, n) == 0 && checked.path[n] == 0;
}

// Opens the directory of a search that is no entry of another search. The one the caller has
// checked to be a plain directory must still be that directory, reached without following a link
// in its last component; any other is opened by its path, a link followed.
int openTopDirectory(const char* path) {
    if (!isCheckedDirectory(path))
        return posixCalls.openat(AT_FDCWD, path, O_RDONLY | O_DIRECTORY);
    int fd = posixCalls.openat(AT_FDCWD, path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd < 0)
        return fd;
    bool same;
#if defined(__linux__)
    struct statx stx;
    same = posixCalls.statx(fd, "", AT_EMPTY_PATH, STATX_INO, &stx) == 0 &&
           makedev(stx.stx_dev_major, stx.stx_dev_minor) == checked.dev &&
           stx.stx_ino == checked.ino;
#else
    struct stat st;
    same = fstat(fd, &st) == 0 && st.st_dev == checked.dev && st.st_ino == checked.ino;
#endif
    if (!same) {
        posixCalls.close(fd);
        errno = ESTALE; // another directory stands there now
        return -1;
    }
    return fd;
}
// Searches nest: the commands empty a tree depth first, one open search per level.
SearchSlot* innermost = nullptr;

SearchSlot* freeSlot() {
    for (SearchSlot& s : slots)
        if (!s.inUse)
            return &s;
    return nullptr;
}

// Fills data with the next entry. FALSE with ERROR_NO_MORE_FILES at the end.
BOOL nextEntry(SearchSlot* s, LPWIN32_FIND_DATAW data) {
    if (s->next >= s->end) {
        long n = posixCalls.readDirEntries(s->fd, s->entries, sizeof s->entries);
        if (n < 0) {
            posixSetLastError(errno, nullptr);
            return FALSE;
        }
        if (n == 0) {
            SetLastError(ERROR_NO_MORE_FILES);
            return FALSE;
        }
        s->next = 0;
        s->end = n;
    }
    const RawEntry* e = reinterpret_cast<const RawEntry*>(s->entries + s->next);
    s->next += e->reclen;
    s->lastName = e->name;
    s->lastType = e->type;
    s->lastMountRoot = -1;
    data->dwFileAttributes = 0;
    if (posixDecode(e->name, -1, data->cFileName, MAX_PATH, Narrow::Name) < 0) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    return TRUE;
}

// The name of path below the innermost search's directory, or null when it is not a direct
// entry there.
const wchar_t* nameBelowInnermost(const wchar_t* path) {
    if (!innermost || wcsncmp(path, innermost->prefix, innermost->prefixLength) != 0)
        return nullptr;
    const wchar_t* name = path + innermost->prefixLength;
    if (!*name)
        return nullptr;
    for (const wchar_t* c = name; *c; ++c)
        if (isSeparator(*c))
            return nullptr;
    return name;
}

} // namespace

bool posixAt(LPCWSTR path, PosixPath& buffer, PosixAt& at) {
    const wchar_t* name = path ? nameBelowInnermost(path) : nullptr;
    if (!path || !posixPath(name ? name : path, buffer)) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    at = PosixAt{AT_FDCWD, buffer, DT_UNKNOWN, nullptr};
    if (name) {
        at.dirfd = innermost->fd;
        unsigned char type = innermost->lastType;
        if ((type == DT_REG || type == DT_DIR) && strcmp(buffer, innermost->lastName) == 0) {
            at.listedType = type;
            if (type == DT_DIR)
                at.listedMountRoot = &innermost->lastMountRoot;
        }
    }
    return true;
}

void posixNoteCheckedDirectory(const char* path, dev_t dev, ino_t ino) {
    size_t n = withoutTrailingSeparators(path);
    memcpy(checked.path, path, n);
    checked.path[n] = 0;
    checked.dev = dev;
    checked.ino = ino;
}

HANDLE FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findFileData) {
    size_t n = fileName ? wcslen(fileName) : 0;
    if (n < 2 || fileName[n - 1] != L'*' || !isSeparator(fileName[n - 2]) || n > MAX_PATH) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    SearchSlot* s = freeSlot();
    if (!s) {
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return INVALID_HANDLE_VALUE;
    }
    // A sub-directory met in the search around it is opened through that search's descriptor and
    // never through a link that has taken its place since; any other directory by its path, a
    // link followed.
    wchar_t directory[MAX_PATH + 1];
    size_t length = n - 1;
    while (length > 0 && isSeparator(fileName[length - 1]))
        --length;
    wmemcpy(directory, fileName, length);
    directory[length] = 0;
    const wchar_t* entry = nameBelowInnermost(directory);
    if (!entry) {
        wmemcpy(directory, fileName, n - 1); // the directory as given, its separator included
        directory[n - 1] = 0;
    }
    PosixPath path;
    if (!posixPath(entry ? entry : directory, path)) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    int fd = entry ? posixCalls.openat(innermost->fd, path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW)
                   : openTopDirectory(path);
    if (fd < 0) {
        posixSetLastError(errno, entry ? nullptr : path);
        return INVALID_HANDLE_VALUE;
    }
    s->inUse = true;
    s->fd = fd;
    s->next = s->end = 0;
    wmemcpy(s->prefix, fileName, n - 1);
    s->prefix[n - 1] = 0;
    s->prefixLength = n - 1;
    s->outer = innermost;
    innermost = s;
    if (!nextEntry(s, findFileData)) {
        DWORD error = GetLastError();
        FindClose(s);
        SetLastError(error == ERROR_NO_MORE_FILES ? ERROR_FILE_NOT_FOUND : error);
        return INVALID_HANDLE_VALUE;
    }
    return s;
}

BOOL FindNextFileW(HANDLE findFile, LPWIN32_FIND_DATAW findFileData) {
    return nextEntry(static_cast<SearchSlot*>(findFile), findFileData);
}

BOOL FindClose(HANDLE findFile) {
    SearchSlot* s = static_cast<SearchSlot*>(findFile);
    if (!s || findFile == INVALID_HANDLE_VALUE || !s->inUse) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    posixCalls.close(s->fd);
    s->inUse = false;
    for (SearchSlot** link = &innermost; *link; link = &(*link)->outer) {
        if (*link == s) {
            *link = s->outer;
            break;
        }
    }
    return TRUE;
}
