// Calls on the entries of an open directory search.
#pragma once

#include "text.h"
#include "winapi.h"

#include <sys/types.h>

typedef char PosixPath[kPosixPathBytes + 1];

// A path as the *at calls take it: relative to dirfd. For the entry that the innermost search
// has just returned, its type as the directory read gave it (DT_REG or DT_DIR; DT_UNKNOWN for
// anything else, or where no type is known), so that its attributes need no call of their own.
struct PosixAt {
    int dirfd;
    const char* path;
    unsigned char listedType;
    // For a listed directory: whether it is a mount root, once a call has told (-1 until then),
    // kept with the search so that the next question about the same entry needs no call.
    signed char* listedMountRoot;
};

// Converts path for a call on it. Where path is a direct entry of the innermost open directory
// search, only its name is converted and the call goes through that search's descriptor: one
// name to convert and look up instead of the whole path, and the directory cannot be swapped for
// a link underneath the search. Elsewhere the whole path, from AT_FDCWD. False, with the last
// error ERROR_INVALID_NAME, when a character has no byte form.
bool posixAt(LPCWSTR path, PosixPath& buffer, PosixAt& at);

// Notes the directory that the attributes of a path of the caller's own (not an entry of a
// search) have just shown to be a plain directory. A search opened later on that same path opens
// it without following a link and checks that it is still this directory: a directory swapped
// for a link in between fails the search, rather than have what the link leads to emptied.
void posixNoteCheckedDirectory(const char* path, dev_t dev, ino_t ino);
