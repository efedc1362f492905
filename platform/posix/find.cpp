// Directory enumeration without heap: each open search is a slot of a fixed pool, holding the
// directory descriptor and one buffer of raw entries read in bulk.
#include "errors.h"
#include "syscalls.h"
#include "text.h"
#include "winapi.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <fcntl.h>

namespace {

// A path of MAX_PATH characters holds at most 129 nested levels, each with one open search.
constexpr int kSearchSlots = 160;
constexpr size_t kEntryBufferBytes = 32 * 1024;

struct SearchSlot {
    bool inUse;
    int fd;
    long next;
    long end;
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
    data->dwFileAttributes = 0;
    if (posixDecode(e->name, -1, data->cFileName, MAX_PATH, Narrow::Name) < 0) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    return TRUE;
}

bool isSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

} // namespace

HANDLE FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findFileData) {
    size_t n = fileName ? wcslen(fileName) : 0;
    if (n < 2 || fileName[n - 1] != L'*' || !isSeparator(fileName[n - 2]) || n > MAX_PATH) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    wchar_t directory[MAX_PATH + 1];
    wmemcpy(directory, fileName, n - 1);
    directory[n - 1] = 0;
    char path[kPosixPathBytes + 1];
    if (!posixPath(directory, path)) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    SearchSlot* s = freeSlot();
    if (!s) {
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return INVALID_HANDLE_VALUE;
    }
    int fd = posixCalls.open(path, O_RDONLY | O_DIRECTORY);
    if (fd < 0) {
        posixSetLastError(errno, path);
        return INVALID_HANDLE_VALUE;
    }
    s->inUse = true;
    s->fd = fd;
    s->next = s->end = 0;
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
    return TRUE;
}
