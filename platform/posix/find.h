// Calls on the entries of an open directory search.
#pragma once

#include "text.h"
#include "winapi.h"

typedef char PosixPath[kPosixPathBytes + 1];

// A path as the *at calls take it: relative to dirfd.
struct PosixAt {
    int dirfd;
    const char* path;
};

// Converts path for a call on it. Where path is a direct entry of the innermost open directory
// search, only its name is converted and the call goes through that search's descriptor: one
// name to convert and look up instead of the whole path, and the directory cannot be swapped for
// a link underneath the search. Elsewhere the whole path, from AT_FDCWD. False, with the last
// error ERROR_INVALID_NAME, when a character has no byte form.
bool posixAt(LPCWSTR path, PosixPath& buffer, PosixAt& at);
