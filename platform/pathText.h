// Paths as text, the way the commands take them apart: both the backslash and the slash are
// separators.
#pragma once

#include "platform.h"

// Every path buffer of the commands: the platform's MAX_PATH wide characters, terminator
// included.
constexpr int kPathCapacity = MAX_PATH;

inline bool isSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// The length of path[0..length) without its last component and the separators around it.
inline int parentLength(const wchar_t* path, int length) {
    while (length > 0 && isSeparator(path[length - 1]))
        --length;
    while (length > 0 && !isSeparator(path[length - 1]))
        --length;
    while (length > 0 && isSeparator(path[length - 1]))
        --length;
    return length;
}
