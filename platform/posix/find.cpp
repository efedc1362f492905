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
    SearchSlot* outer; // the directory that was innermost when this one opened
    long next;
    long end;
    size_t directoryLength;      // of directory: its path as the caller spelled it, without
    wchar_t directory[MAX_PATH]; // trailing separators
    const char* lastName;        // of the entry returned last, inside entries
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

// Open directories nest: the commands empty a tree depth first, one open directory per level.
SearchSlot* innermost = nullptr;

SearchSlot* freeSlot() {
    for (SearchSlot& s : slots)
        if (!s.inUse)
            return &s;
    return nullptr;
}

SearchSlot* slotOf(int fd) {
    if (innermost && innermost->fd == fd)
        return innermost;
    for (SearchSlot& s : slots)
        if (s.inUse && s.fd == fd)
            return &s;
    return nullptr;
}

// The raw entry that comes next, read in bulk where the buffer is used up; null at the end (last
// error ERROR_NO_MORE_FILES) or on a failed read.
const RawEntry* peekEntry(SearchSlot* s) {
    if (s->next >= s->end) {
        long n = posixCalls.readDirEntries(s->fd, s->entries, sizeof s->entries);
        if (n < 0) {
            posixSetLastError(errno, nullptr);
            return nullptr;
        }
        if (n == 0) {
            SetLastError(ERROR_NO_MORE_FILES);
            return nullptr;
        }
        s->next = 0;
        s->end = n;
    }
    return reinterpret_cast<const RawEntry*>(s->entries + s->next);
}

// Decodes the next entry's name into name (capacity in wide characters, the terminator
// included) and moves past it; its length, or -1 with the last error set (ERROR_MORE_DATA where
// the name does not fit: the entry then stays).
int takeEntry(SearchSlot* s, wchar_t* name, int capacity) {
    const RawEntry* e = peekEntry(s);
    if (!e)
        return -1;
    int length = posixDecode(e->name, -1, name, capacity, Narrow::Name);
    if (length < 0) {
        SetLastError(capacity >= MAX_PATH ? ERROR_FILENAME_EXCED_RANGE : ERROR_MORE_DATA);
        if (capacity >= MAX_PATH)
            s->next += e->reclen; // no name of the listing is that long: passed over
        return -1;
    }
    s->next += e->reclen;
    s->lastName = e->name;
    s->lastType = e->type;
    s->lastMountRoot = -1;
    return length - 1; // without the terminator
}

// The name of path below the innermost open directory, or null when it is not a direct entry
// there: path must be that directory as its caller spelled it, separators, and one name (with
// trailingSeparators, separators may follow it).
const wchar_t* nameBelowInnermost(const wchar_t* path, bool trailingSeparators = false) {
    if (!innermost || wcsncmp(path, innermost->directory, innermost->directoryLength) != 0)
        return nullptr;
    const wchar_t* name = path + innermost->directoryLength;
    bool rootOnly = innermost->directoryLength > 0 &&
                    isSeparator(innermost->directory[innermost->directoryLength - 1]);
    if (!rootOnly && !isSeparator(*name))
        return nullptr;
    while (isSeparator(*name))
        ++name;
    const wchar_t* end = name;
    while (*end && !isSeparator(*end))
        ++end;
    if (end == name ||
        (name[0] == L'.' && (end == name + 1 || (name[1] == L'.' && end == name + 2))))
        return nullptr; // no name, or "." or ".."
    while (trailingSeparators && isSeparator(*end))
        ++end;
    return *end ? nullptr : name;
}

// Makes s the innermost open directory, for the path that its caller spelled as directory.
void enter(SearchSlot* s, int fd, const wchar_t* directory, size_t length) {
    while (length > 1 && isSeparator(directory[length - 1]))
        --length;
    s->inUse = true;
    s->fd = fd;
    s->next = s->end = 0;
    wmemcpy(s->directory, directory, length);
    s->directory[length] = 0;
    s->directoryLength = length;
    s->outer = innermost;
    innermost = s;
}

void leave(SearchSlot* s) {
    posixCalls.close(s->fd);
    s->inUse = false;
    for (SearchSlot** link = &innermost; *link; link = &(*link)->outer) {
        if (*link == s) {
            *link = s->outer;
            break;
        }
    }
}

// Opens the directory at path for listing: through the innermost open directory's descriptor
// where path is one of its entries (then never through a link), elsewhere by the whole path.
// The descriptor, or -1 with the last error set.
int openDirectory(SearchSlot* s, const wchar_t* path, size_t length, bool noFollow) {
    const wchar_t* entry = nameBelowInnermost(path, true);
    PosixPath posix;
    if (!posixPath(entry ? entry : path, posix)) {
        SetLastError(ERROR_INVALID_NAME);
        return -1;
    }
    int flags = O_RDONLY | O_DIRECTORY;
    if (entry || noFollow) {
        // A trailing "/" would make the kernel follow a link in the last component.
        size_t n = strlen(posix);
        while (n > 1 && posix[n - 1] == '/')
            posix[--n] = 0;
        flags |= O_NOFOLLOW;
    }
    int fd = posixCalls.openat(entry ? innermost->fd : AT_FDCWD, posix, flags);
    if (fd < 0) {
        posixSetLastError(errno, entry ? nullptr : posix);
        return -1;
    }
    enter(s, fd, path, length);
    return fd;
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
        if ((type == DT_REG || type == DT_DIR) && innermost->lastName &&
            strcmp(buffer, innermost->lastName) == 0) {
            at.listedType = type;
            if (type == DT_DIR)
                at.listedMountRoot = &innermost->lastMountRoot;
        }
    }
    return true;
}

int posixOpenDirectory(LPCWSTR path, bool noFollow) {
    SearchSlot* s = freeSlot();
    if (!s) {
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return -1;
    }
    s->lastName = nullptr;
    return openDirectory(s, path, wcslen(path), noFollow);
}

bool posixCloseDirectory(int fd) {
    SearchSlot* s = slotOf(fd);
    if (!s)
        return false;
    leave(s);
    return true;
}

BOOL posixListNext(int fd, FILE_ID_BOTH_DIR_INFO* entry, DWORD size) {
    SearchSlot* s = slotOf(fd);
    constexpr size_t kHead = offsetof(FILE_ID_BOTH_DIR_INFO, FileName);
    if (!s || !entry) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (size < kHead + sizeof(WCHAR)) {
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    int capacity = static_cast<int>((size - kHead) / sizeof(WCHAR));
    int length = takeEntry(s, entry->FileName, capacity);
    if (length < 0)
        return FALSE;
    entry->NextEntryOffset = 0;
    entry->FileAttributes = 0;
    entry->FileNameLength = static_cast<DWORD>(length * sizeof(WCHAR));
    entry->FileId.QuadPart = 0;
    return TRUE;
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
    // The directory as given, its separator included: a sub-directory met in the directory
    // around it is opened through that one's descriptor and never through a link that has taken
    // its place since; any other directory by its path, a link followed.
    wchar_t directory[MAX_PATH + 1];
    wmemcpy(directory, fileName, n - 1);
    directory[n - 1] = 0;
    s->lastName = nullptr;
    if (openDirectory(s, directory, n - 1, false) < 0)
        return INVALID_HANDLE_VALUE;
    findFileData->dwFileAttributes = 0;
    if (takeEntry(s, findFileData->cFileName, MAX_PATH) < 0) {
        DWORD error = GetLastError();
        leave(s);
        SetLastError(error == ERROR_NO_MORE_FILES ? ERROR_FILE_NOT_FOUND : error);
        return INVALID_HANDLE_VALUE;
    }
    return s;
}

BOOL FindNextFileW(HANDLE findFile, LPWIN32_FIND_DATAW findFileData) {
    SearchSlot* s = static_cast<SearchSlot*>(findFile);
    findFileData->dwFileAttributes = 0;
    return takeEntry(s, findFileData->cFileName, MAX_PATH) < 0 ? FALSE : TRUE;
}

BOOL FindClose(HANDLE findFile) {
    SearchSlot* s = static_cast<SearchSlot*>(findFile);
    if (!s || findFile == INVALID_HANDLE_VALUE || !s->inUse) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    leave(s);
    return TRUE;
}
