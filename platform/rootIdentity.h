// Whether a directory is a root, told by the directory itself rather than by the text that names
// it: a link to a root, a spelling the full-path function does not know (\??\ on Windows) or a
// current directory too deep for the text reach the same directory as "/" or "C:\" does.
#pragma once

#include "platform.h"

enum class RootIdentity {
    NotRoot, // a directory that is no root, a file, or nothing at all
    Root,    // the root of the process (POSIX) or the root of a volume (Windows)
    Unknown, // what stands there cannot be told; the last error says why
};

// Follows path as an enumeration of its content does (a link at its end is followed) and tells
// whether the directory reached is a root. On POSIX that is the directory with the device and
// inode of the process's "/" (so a chroot's root is one, and a file system mounted below "/" is
// none). On Windows it is the root of a volume as the platform names it in the final path, drive
// root or network share root, whatever spelling reached it (\??\, \\?\, \\.\, GLOBALROOT, volume
// GUID); a volume mounted in a folder of another is reached through that folder and is none,
// unless it has no name on any drive at all.
RootIdentity rootIdentityOf(const wchar_t* path);
