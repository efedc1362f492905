// The boundary between the commands and the operating system.
//
// On Windows this is kernel32 itself. On POSIX systems our own layer provides the same calls
// with the same contracts (posix/winapi.h). Besides the Win32 calls, the commands need one thing
// from the runtime that differs between the two: writing a wide path into a message.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>
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

// Whether text, a final path as the platform gave it with its "\\?\" prefix dropped, is an
// absolute path: on Windows a drive letter, a colon and a separator, or a network share (UNC and
// a backslash); on POSIX a "/" first, the layer having checked that it names the object itself.
// Otherwise (Wine names a device such as NUL "unix\dev\null" where no drive leads to the
// host's root) the last error is set to 161 (the path is no valid path).
inline bool isAbsoluteFinalPath(const char* text) {
#if defined(_WIN32)
    bool drive = ((text[0] | 0x20) >= 'a' && (text[0] | 0x20) <= 'z') && text[1] == ':' &&
                 (text[2] == '\\' || text[2] == '/');
    bool share = strncmp(text, "UNC\\", 4) == 0;
    if (drive || share)
        return true;
#else
    if (text[0] == '/')
        return true;
#endif
    SetLastError(ERROR_BAD_PATHNAME);
    return false;
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

// Whether a full path (as the full-path function makes it) names a device rather than a file or
// directory. Windows makes the reserved device names ("NUL", "out\nul", "COM1") into "\\.\NUL"
// and so on, which reads like a share root; any other single name in the device namespaces
// (\\.\ and \\?\) is a device too, except a drive ("\\.\C:") and a volume
// ("\\?\Volume{...}"), whose content is their root directory. POSIX has no such namespace.
inline bool isDevicePath(const wchar_t* fullPath) {
#if defined(_WIN32)
    auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    if (!separator(fullPath[0]) || !separator(fullPath[1]) ||
        (fullPath[2] != L'.' && fullPath[2] != L'?') || !separator(fullPath[3]))
        return false;
    const wchar_t* name = fullPath + 4;
    const wchar_t* end = name;
    while (*end && !separator(*end))
        ++end;
    for (const wchar_t* rest = end; *rest; ++rest)
        if (!separator(*rest))
            return false; // a path inside: what it names is for the file system to say
    if (end == name || (end - name == 2 && name[1] == L':'))
        return false;
    return _wcsnicmp(name, L"Volume{", 7) != 0;
#else
    (void)fullPath;
    return false;
#endif
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

// Whether the platform takes the reserved device names as devices in whatever directory they
// stand (Windows does: "...\out\nul" is the NUL device, never a file "nul" in out). An entry so
// named is reached through the literal form of its full path, like a name ending in a dot.
#if defined(_WIN32)
constexpr bool kDeviceNamesReserved = true;
#else
constexpr bool kDeviceNamesReserved = false;
#endif

// Whether the name (length characters, no separator) is one Windows reads as a device: CON, PRN,
// AUX, NUL, COM0 to COM9, LPT0 to LPT9 (also with a superscript 1, 2 or 3), CONIN$ or CONOUT$,
// in any case, alone or followed by an extension or a stream ("nul.txt", "com1.tar.gz",
// "aux:x"), with blanks before it ("nul .txt") and trailing dots or blanks ("con. ").
inline bool isDeviceName(const wchar_t* name, int length) {
    int end = 0; // of the base name
    while (end < length && name[end] != L'.' && name[end] != L':')
        ++end;
    while (end > 0 && name[end - 1] == L' ')
        --end;
    auto startsAs = [&](const char* word, int n) { // the first n characters, case ignored
        for (int i = 0; i < n; ++i) {
            wchar_t c = name[i] >= L'A' && name[i] <= L'Z' ? name[i] + 32 : name[i];
            if (i >= end || c != static_cast<wchar_t>(word[i]))
                return false;
        }
        return true;
    };
    auto is = [&](const char* word) {
        int n = static_cast<int>(strlen(word));
        return end == n && startsAs(word, n);
    };
    if (is("con") || is("prn") || is("aux") || is("nul") || is("conin$") || is("conout$"))
        return true;
    wchar_t digit = end == 4 ? name[3] : 0;
    return (startsAs("com", 3) || startsAs("lpt", 3)) &&
           ((digit >= L'0' && digit <= L'9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3);
}

// The bytes of the buffer through which a clean lists a directory by its handle, one buffer for
// each directory level open at once. Windows fills it with as many entries as fit, so that a
// directory of a few hundred entries takes a few calls; the POSIX layer gives one entry per call
// out of its own buffer of the directory's raw entries, so room for one entry with the longest
// name is enough there, and the stack of a deep clean stays small.
#if defined(_WIN32)
constexpr size_t kDirectoryListingBytes = 4096;
#else
constexpr size_t kDirectoryListingBytes =
    offsetof(FILE_ID_BOTH_DIR_INFO, FileName) + MAX_PATH * sizeof(WCHAR);
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
