// Full paths by text alone, as Windows makes them: nothing on the file system is looked at
// except the current directory.
#include "../pathText.h"
#include "errors.h"
#include "syscalls.h"
#include "text.h"
#include "winapi.h"

#include <cerrno>
#include <cwchar>

namespace {

// The longest current directory the system hands out (its bytes, each at most one wide character
// once decoded), a separator, and the longest argument: a full path that needs more room than
// this cannot arise, so no check that relies on one is ever left out for want of room.
constexpr size_t kCwdBytes = 4096;
constexpr size_t kWork = kCwdBytes + 1 + MAX_PATH;

// Appends the components of src to out (which holds at least a root), resolving "." and "..";
// ".." never climbs above rootLength. False when out would overflow.
bool appendComponents(wchar_t* out, size_t& length, size_t rootLength, const wchar_t* src) {
    while (*src) {
        while (isSeparator(*src))
            ++src;
        const wchar_t* start = src;
        while (*src && !isSeparator(*src))
            ++src;
        size_t n = static_cast<size_t>(src - start);
        if (n == 0 || (n == 1 && start[0] == L'.'))
            continue;
        if (n == 2 && start[0] == L'.' && start[1] == L'.') {
            while (length > rootLength && out[length - 1] != L'/')
                --length;
            if (length > rootLength)
                --length; // the separator before the removed component
            continue;
        }
        if (length + 1 + n >= kWork)
            return false;
        if (length > 0 && out[length - 1] != L'/')
            out[length++] = L'/';
        wmemcpy(out + length, start, n);
        length += n;
    }
    return true;
}

} // namespace

DWORD GetFullPathNameW(LPCWSTR fileName, DWORD bufferLength, LPWSTR buffer, LPWSTR* filePart) {
    if (!fileName || !fileName[0]) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    wchar_t full[kWork];
    size_t length = 0, rootLength;
    if (isSeparator(fileName[0]) && isSeparator(fileName[1])) {
        full[length++] = L'/'; // a network path keeps its leading pair
        full[length++] = L'/';
        rootLength = 2;
    } else if (isSeparator(fileName[0])) {
        full[length++] = L'/';
        rootLength = 1;
    } else {
        // The kernel's own name of the current directory: absolute, without "." or "..". A
        // removed one, or one longer than kCwdBytes, gives no full path at all.
        char cwd[kCwdBytes];
        if (!posixCalls.getcwd(cwd, sizeof cwd)) {
            posixSetLastError(errno, nullptr);
            return 0;
        }
        int decoded = posixDecode(cwd, -1, full, static_cast<int>(kWork), Narrow::Name);
        if (decoded < 1 || full[0] != L'/') {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return 0;
        }
        length = static_cast<size_t>(decoded) - 1; // without the terminator
        rootLength = 1;
        while (length > rootLength && full[length - 1] == L'/')
            --length;
    }
    full[length] = 0;
    if (!appendComponents(full, length, rootLength, fileName)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    size_t inLength = wcslen(fileName);
    if (isSeparator(fileName[inLength - 1]) && length > rootLength)
        full[length++] = L'/';
    full[length] = 0;
    if (length + 1 > bufferLength)
        return static_cast<DWORD>(length + 1);
    wmemcpy(buffer, full, length + 1);
    if (filePart) {
        wchar_t* last = buffer + length;
        while (last > buffer && last[-1] != L'/')
            --last;
        *filePart = *last ? last : nullptr;
    }
    return static_cast<DWORD>(length);
}
