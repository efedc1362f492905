// Calls on the entries of an open directory search.
#pragma once

// A path as the *at calls take it: relative to dirfd.
struct PosixAt {
    int dirfd;
    const char* path;
};

// Where path is a direct entry of the innermost open directory search, the call on it goes
// through that directory's descriptor: one name to look up instead of the whole path, and the
// directory cannot be swapped for a link underneath the search. Elsewhere AT_FDCWD and the path.
PosixAt posixAt(const char* path);
