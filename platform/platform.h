// The boundary between the commands and the operating system.
//
// On Windows this is kernel32 itself. On POSIX systems our own layer provides the same calls
// with the same contracts (posix/winapi.h). Besides the Win32 calls, the commands need one thing
// from the runtime that differs between the two: writing a wide path into a message.
#pragma once

#include <cstdio>
#include <cwchar>

#if defined(_WIN32)
#include <windows.h>
#define PLATFORM_PRINTF_FORMAT __MINGW_PRINTF_FORMAT
#else
#include "posix/winapi.h"
#define PLATFORM_PRINTF_FORMAT printf
#endif

// Whether letters of a path match without regard to case: so on Windows and macOS; Linux file
// systems tell case apart.
#if defined(__linux__)
constexpr bool kPathLettersIgnoreCase = false;
#else
constexpr bool kPathLettersIgnoreCase = true;
#endif

// Whether narrow text that the platform gave (a final path), once decoded, is whole. On Windows a
// "?" stands for a character the code page lacks, as the narrow calls write every such character
// and no name can hold a "?"; the last error is then set to 1113 (no mapping for the character).
// POSIX names may hold a "?", and the layer gives their own bytes.
inline bool narrowTextIsWhole(const wchar_t* text) {
#if defined(_WIN32)
    if (wcschr(text, L'?')) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return false;
    }
#else
    (void)text;
#endif
    return true;
}

// Whether a full path names a place on a local drive: "X:" and a separator on Windows; on POSIX,
// which has no drives, a path that begins with exactly one "/". A network path (two leading
// separators) is no drive path on either.
inline bool isDrivePath(const wchar_t* fullPath) {
#if defined(_WIN32)
    return fullPath[0] && fullPath[1] == L':' && (fullPath[2] == L'\\' || fullPath[2] == L'/');
#else
    return fullPath[0] == L'/' && fullPath[1] != L'/' && fullPath[1] != L'\\';
#endif
}

// Whether a full path (as the full-path function makes it) names a root, which has no parent:
// a drive (C:\ or C:/), "/" on POSIX, or a network share (\\server\share, on POSIX
// //server/share and "//" itself).
inline bool isRootPath(const wchar_t* fullPath) {
    auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    const wchar_t* p = fullPath;
    if (separator(p[0]) && separator(p[1])) {
        for (int part = 0; part < 2; ++part) { // server, then share
            while (separator(*p))
                ++p;
            while (*p && !separator(*p))
                ++p;
        }
    } else if (p[0] && p[1] == L':') {
        p += 2;
    }
    while (separator(*p))
        ++p;
    return *p == 0;
}

// Whether the platform drops trailing dots and blanks from the last component of a path before
// the file system sees it (Windows does: "x. " names "x", ".. " the parent). An entry so named
// is then reached through the literal form of its full path (\\?\ in front), which the
// platform passes on unchanged.
#if defined(_WIN32)
constexpr bool kTrailingDotsAndBlanksDropped = true;
#else
constexpr bool kTrailingDotsAndBlanksDropped = false;
#endif

// The separator with which the commands join a directory and a name in it (the entries of a
// directory they list, its search pattern): a backslash on Windows; "/" on POSIX, where a
// backslash is an ordinary character of a name, so that the paths that messages name exist.
#if defined(_WIN32)
constexpr wchar_t kPathSeparator = L'\\';
#else
constexpr wchar_t kPathSeparator = L'/';
#endif

// Writes one formatted message to stream in a single write. The conversions used by the
// commands are %s, %ls, %d, %lu, %c and %%. A null string prints as "(null)". A wide string
// given to %ls is written as narrow text: on Windows in the process code page, the one the
// arguments arrive in (UTF-8 under the commands' manifest; a character without a form there ends
// that argument, the rest of the message is still written); on POSIX as the exact bytes it was
// decoded from.
int printMessage(FILE* stream, const char* format, ...)
    __attribute__((format(PLATFORM_PRINTF_FORMAT, 2, 3)));
