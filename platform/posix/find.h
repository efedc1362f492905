// Open directories, listed entry by entry, and calls on their entries.
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

// Converts path for a call on it. Where path is a direct entry of the innermost open directory,
// only its name is converted and the call goes through that directory's descriptor: one name to
// convert and look up instead of the whole path, and the directory cannot be swapped for a link
// underneath the search. Elsewhere the whole path, from AT_FDCWD. False, with the last error
// ERROR_INVALID_NAME, when a character has no byte form.
bool posixAt(LPCWSTR path, PosixPath& buffer, PosixAt& at);

// Opens the directory at path for listing and makes it the innermost open directory: where path
// is a direct entry of the innermost one, through its descriptor and never through a link; else
// by the whole path, a link in its last component followed unless noFollow. The descriptor, or
// -1 with the last error set.
int posixOpenDirectory(LPCWSTR path, bool noFollow);
// Closes fd where it is an open directory of posixOpenDirectory; false when it is none.
bool posixCloseDirectory(int fd);
// The next entry of the open directory fd, one per call (GetFileInformationByHandleEx).
BOOL posixListNext(int fd, FILE_ID_BOTH_DIR_INFO* entry, DWORD size);
