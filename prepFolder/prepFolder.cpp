#include "prepFolder.h"

#include "../platform/platform.h"
#include "../platform/rootIdentity.h"
#include "../support/StringFnEnhancements.h"
#include "../platform/pathText.h"
#include "../support/printWinAPIError.h"
#include "version.h"

#include <cstring>
#include <cwchar>

namespace {

constexpr int kMaxMissingLevels = 50;

void writeFaultyPath(wchar_t* faultyPath, int capacity, const wchar_t* path) {
    if (faultyPath)
        wcsnCopy(faultyPath, static_cast<uint64_t>(capacity), path, -1);
}

int fail(int error, wchar_t* faultyPath, int capacity, const wchar_t* path) {
    writeFaultyPath(faultyPath, capacity, path);
    return error;
}

bool isDotOrDotDot(const wchar_t* name, int length) {
    return name[0] == L'.' && (length == 1 || (length == 2 && name[1] == L'.'));
}

bool endsInDotOrBlank(const wchar_t* name, int length) {
    return length > 0 && (name[length - 1] == L'.' || name[length - 1] == L' ');
}

// Whether the platform's path parsing would take the name for another entry or a device.
bool parsingAltersName(const wchar_t* name, int length) {
    if (kTrailingDotsAndBlanksDropped && endsInDotOrBlank(name, length))
        return true;
    return kDeviceNamesReserved && isDeviceName(name, length);
}

// The path through which the entry at entryPath (whose name starts at nameStart) is reached as
// itself. Where the platform drops trailing dots and blanks, a name ending in one would name
// another entry ("x. " names "x", ".. " the parent); where it reserves device names, "nul" or
// "aux.txt" would name a device. Such an entry is reached through the literal form of its full
// path. False when that does not fit.
bool pathOfEntry(wchar_t* entryPath, int nameStart, int nameLength,
                 wchar_t (&literal)[kPathCapacity], wchar_t*& path) {
    path = entryPath;
    if (!parsingAltersName(entryPath + nameStart, nameLength))
        return true;
    constexpr wchar_t kLiteral[] = L"\\\\?\\";
    constexpr int kLiteralLength = 4;
    int length;
    if (wcsncmp(entryPath, kLiteral, kLiteralLength) == 0) {
        // Literal already: its directory is taken as it stands. entryPath may be the literal
        // buffer itself (an entry inside a sub-tree entered that way), its text then in place.
        if (entryPath != literal)
            wmemcpy(literal, entryPath, static_cast<size_t>(nameStart));
        length = nameStart;
    } else {
        wchar_t directory[kPathCapacity];
        wcsnCopy(directory, kPathCapacity, entryPath, nameStart); // the separator stays
        wcsnCopy(literal, kPathCapacity, kLiteral, -1);
        DWORD full = GetFullPathNameW(directory, kPathCapacity - kLiteralLength,
                                      literal + kLiteralLength, nullptr);
        if (full == 0 || full >= static_cast<DWORD>(kPathCapacity - kLiteralLength))
            return false;
        length = kLiteralLength + static_cast<int>(full);
    }
    if (length + nameLength > kPathCapacity - 1)
        return false;
    // entryPath may be literal itself, the name already in place
    wmemmove(literal + length, entryPath + nameStart, static_cast<size_t>(nameLength) + 1);
    path = literal;
    return true;
}

// One clean, shared by all its levels: the path of the entry being worked on, built in place
// (each level puts a separator and a name behind its directory's path, and its caller takes them
// off again), and the literal form of that path from the first level that needs one
// (pathOfEntry). A level thus costs its listing buffer and a few numbers on the stack, never a
// path buffer of its own.
struct Walk {
    wchar_t path[kPathCapacity];
    wchar_t literal[kPathCapacity];
    wchar_t* faultyPath;
    int faultyPathCapacity;
};

// Writes path[0..length) as the faulty path; the text behind it stays.
int failAt(int error, Walk& walk, wchar_t* path, int length) {
    wchar_t kept = path[length];
    path[length] = 0;
    fail(error, walk.faultyPath, walk.faultyPathCapacity, path);
    path[length] = kept;
    return error;
}

// How a level opens its directory.
enum class Opening {
    Entry,          // an entry met inside the tree: the entry itself, never what a link leads to
    GivenDirectory, // the given path, which showed a directory: the same, spelled as given
    GivenLink,      // the given path, which showed a link (or nothing readable): where it leads
};

// Whether the directory open as directory is the one that its parent's listing showed with the
// id listedId: told by the "." entry of its own first listing, which is the directory itself,
// or, where that entry is missing or differs, by the identity the handle reports. 0 and -1 name
// no identity (a file system without ids, or a layer that reaches every entry through its
// parent's handle): nothing to compare then.
bool isListedDirectory(HANDLE directory, const unsigned char* listing, LONGLONG listedId) {
    if (listedId == 0 || listedId == -1)
        return true;
    const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(listing);
    for (;;) {
        if (entry->FileNameLength == sizeof(WCHAR) && entry->FileName[0] == L'.') {
            if (entry->FileId.QuadPart == listedId)
                return true;
            break;
        }
        if (entry->NextEntryOffset == 0)
            break;
        entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(
            reinterpret_cast<const unsigned char*>(entry) + entry->NextEntryOffset);
    }
    FILE_ID_INFO id;
    if (!GetFileInformationByHandleEx(directory, FileIdInfo, &id, sizeof id))
        return false;
    uint64_t low, high;
    memcpy(&low, id.FileId.Identifier, sizeof low);
    memcpy(&high, id.FileId.Identifier + sizeof low, sizeof high);
    return high != 0 || low == static_cast<uint64_t>(listedId); // 128-bit ids are not compared
}

int emptyDirectory(Walk& walk, wchar_t* path, int length, Opening opening, LONGLONG listedId,
                   int keepDirs);

// Deletes one entry of a directory being cleaned, by the attributes of the entry itself; a plain
// sub-directory is emptied, in the buffer that holds its path, and removed. Reports name the
// entry as entryPath spells it.
int removeEntry(Walk& walk, wchar_t* entryPath, int nameStart, int nameLength, LONGLONG listedId,
                int keepDirs) {
    wchar_t* entry;
    if (!pathOfEntry(entryPath, nameStart, nameLength, walk.literal, entry))
        return fail(ERROR_FILENAME_EXCED_RANGE, walk.faultyPath, walk.faultyPathCapacity,
                    entryPath);
    DWORD attributes = GetFileAttributesW(entry);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return fail(static_cast<int>(GetLastError()), walk.faultyPath, walk.faultyPathCapacity,
                    entryPath);
    bool isDirectory = attributes & FILE_ATTRIBUTE_DIRECTORY;
    bool isLink = attributes & FILE_ATTRIBUTE_REPARSE_POINT;
    if (isDirectory && keepDirs)
        return 0; // directories and directory links stay, unentered
    if (isDirectory && !isLink) {
        int length = entry == entryPath ? nameStart + nameLength : static_cast<int>(wcslen(entry));
        int result = emptyDirectory(walk, entry, length, Opening::Entry, listedId, 0);
        entry[length] = 0; // the level below wrote behind the name
        if (result != 0)
            return result;
        if (!RemoveDirectoryW(entry))
            return fail(static_cast<int>(GetLastError()), walk.faultyPath, walk.faultyPathCapacity,
                        entry);
        return 0;
    }
    // A directory link goes as a link: its target and the target's content stay.
    BOOL removed = isDirectory ? RemoveDirectoryW(entry) : DeleteFileW(entry);
    if (!removed)
        return fail(static_cast<int>(GetLastError()), walk.faultyPath, walk.faultyPathCapacity,
                    entryPath);
    return 0;
}

// Whether path is in a literal form (\\?\ or \??\ in front), which the platform passes to the file
// system as it stands, "." and ".." included.
bool isLiteralPath(const wchar_t* path) {
    return path[0] == L'\\' && (path[1] == L'\\' || path[1] == L'?') && path[2] == L'?' &&
           path[3] == L'\\';
}

// Copies path into out with its "." and ".." names resolved by text, as the platform resolves
// them before the file system sees a path: "./new/." is "./new", "./a/./b" is "./a/b", "./a/b/.."
// is "./a". So the creation walk makes exactly the levels that the path names, never a level
// that a ".." takes back. A leading "." stays (it is what lets a relative path be made below the
// current directory), ".." never climbs above a root or a drive, a leading ".." of a relative
// path stays, and the separators stay as written. A path that resolves to nothing is ".".
// Returns the length of out, which is never longer than path.
int resolveDots(const wchar_t* path, wchar_t (&out)[kPathCapacity]) {
    if (isLiteralPath(path) || wcslen(path) >= static_cast<size_t>(kPathCapacity))
        return wcsnCopy(out, kPathCapacity, path, -1);
    int in = 0;
    int length = 0;
    while (isSeparator(path[in]))
        out[length++] = path[in++];
    if (length == 0 && path[0] && path[1] == L':') { // a drive, with its separators
        out[length++] = path[in++];
        out[length++] = path[in++];
        while (isSeparator(path[in]))
            out[length++] = path[in++];
    }
    const int rootLength = length;
    int kept[kPathCapacity / 2]; // where each name that a ".." may take back begins
    int keptCount = 0;
    while (path[in]) {
        const int separators = in;
        while (isSeparator(path[in]))
            ++in;
        const int name = in;
        while (path[in] && !isSeparator(path[in]))
            ++in;
        const int nameLength = in - name;
        if (nameLength == 0)
            break; // separators at the end: below
        const bool dot = nameLength == 1 && path[name] == L'.';
        const bool dotDot = nameLength == 2 && path[name] == L'.' && path[name + 1] == L'.';
        if (dot && length > 0)
            continue;
        if (dotDot && keptCount > 0) {
            length = kept[--keptCount];
            continue;
        }
        if (dotDot && rootLength > 0)
            continue; // the parent of a root is the root
        const int start = length;
        if (length > rootLength)
            for (int i = separators; i < name; ++i)
                out[length++] = path[i];
        for (int i = name; i < in; ++i)
            out[length++] = path[i];
        if (!dot && !dotDot)
            kept[keptCount++] = start;
    }
    if (length == 0 && path[0])
        out[length++] = L'.';
    const int pathLength = in;
    if (pathLength > 0 && isSeparator(path[pathLength - 1]) && length > rootLength &&
        !isSeparator(out[length - 1]))
        out[length++] = path[pathLength - 1];
    out[length] = 0;
    return length;
}

enum class PathKind { Directory, Root, Device, Unknown };

// What the command would prepare at path: a directory to make or to empty, or one of the things
// it refuses. A full path too long for the buffer is no root by its text (every root's is short);
// the directory it leads to is still looked at.
PathKind whatIsAtPath(const wchar_t* path) {
    wchar_t fullPath[kPathCapacity];
    DWORD fullLength = GetFullPathNameW(path, kPathCapacity, fullPath, nullptr);
    if (fullLength == 0)
        return PathKind::Unknown; // a removed current directory, among others
    if (fullLength < kPathCapacity) {
        if (isDevicePath(fullPath))
            return PathKind::Device;
        if (isRootPath(fullPath))
            return PathKind::Root;
    }
    switch (rootIdentityOf(path)) {
    case RootIdentity::NotRoot:
        return PathKind::Directory;
    case RootIdentity::Root:
        return PathKind::Root;
    case RootIdentity::Unknown:
        break;
    }
    return PathKind::Unknown;
}

// Empties the directory at path[0..length), the buffer's text behind it free for its entries.
// The directory is held open from its check until its content is gone, by a handle that lets no
// other program delete or rename it (no FILE_SHARE_DELETE): with every level of the tree so
// held, no path below the given directory can change while the clean works there. Before
// anything inside is touched the handle must show a directory, no reparse point (unless the
// given path is a link, whose target is cleaned) and the object that its parent's listing
// showed; else the directory counts as one that cannot be listed.
int emptyDirectory(Walk& walk, wchar_t* path, int length, Opening opening, LONGLONG listedId,
                   int keepDirs) {
    bool endsInSeparator = length > 0 && isSeparator(path[length - 1]);
    if (length + (endsInSeparator ? 2 : 3) > kPathCapacity)
        return failAt(ERROR_FILENAME_EXCED_RANGE, walk, path, length);
    int prefixLength = length;
    if (!endsInSeparator)
        path[prefixLength++] = kPathSeparator;
    // The given path is opened with the separator that its entries get, as a search pattern
    // spells it, so that a trailing dot or blank of its last name is never trimmed; an entry as
    // itself.
    path[opening == Opening::Entry ? length : prefixLength] = 0;
    HANDLE directory =
        CreateFileW(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS |
                        (opening == Opening::GivenLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
                    nullptr);
    if (!endsInSeparator)
        path[length] = kPathSeparator;
    FILE_ATTRIBUTE_TAG_INFO tag;
    bool held =
        directory != INVALID_HANDLE_VALUE &&
        GetFileInformationByHandleEx(directory, FileAttributeTagInfo, &tag, sizeof tag) &&
        (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        (opening == Opening::GivenLink || !(tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT));
    // Whatever the reason, a directory that cannot be listed is reported with its search pattern.
    path[prefixLength] = L'*';
    path[prefixLength + 1] = 0;
    if (!held) {
        if (directory != INVALID_HANDLE_VALUE)
            CloseHandle(directory);
        return failAt(ERROR_FILE_NOT_FOUND, walk, path, prefixLength + 1);
    }

    alignas(8) unsigned char listing[kDirectoryListingBytes];
    int result = 0;
    for (bool first = true; result == 0; first = false) {
        if (!GetFileInformationByHandleEx(directory, FileIdBothDirectoryInfo, listing,
                                          sizeof listing)) {
            DWORD error = GetLastError();
            if (first)
                result = failAt(ERROR_FILE_NOT_FOUND, walk, path, prefixLength + 1);
            else if (error != ERROR_NO_MORE_FILES) // 18 is the end of the listing
                result = failAt(static_cast<int>(error), walk, path, length);
            break;
        }
        if (first && !isListedDirectory(directory, listing, listedId)) {
            result = failAt(ERROR_FILE_NOT_FOUND, walk, path, prefixLength + 1);
            break;
        }
        for (const unsigned char* at = listing; result == 0;) {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
            const WCHAR* name = entry->FileName;
            int nameLength = static_cast<int>(entry->FileNameLength / sizeof(WCHAR));
            bool dots = isDotOrDotDot(name, nameLength);
            if (!dots && prefixLength + nameLength > kPathCapacity - 1) {
                // the name alone: the path it would make does not fit
                if (walk.faultyPath && walk.faultyPathCapacity > 0) {
                    int n = nameLength < walk.faultyPathCapacity - 1 ? nameLength
                                                                     : walk.faultyPathCapacity - 1;
                    wmemcpy(walk.faultyPath, name, static_cast<size_t>(n));
                    walk.faultyPath[n] = 0;
                }
                result = ERROR_FILENAME_EXCED_RANGE;
            } else if (!dots) {
                wmemcpy(path + prefixLength, name, static_cast<size_t>(nameLength));
                path[prefixLength + nameLength] = 0;
                result = removeEntry(walk, path, prefixLength, nameLength, entry->FileId.QuadPart,
                                     keepDirs);
            }
            if (entry->NextEntryOffset == 0)
                break;
            at += entry->NextEntryOffset;
        }
    }
    CloseHandle(directory);
    return result;
}

const char usageText[] =
    "\n"
    "prepFolder <dir-path> [-D]\n"
    " Version: " TREEPREP_VERSION_TEXT "\n"
    " Creates the Windows directory if not given inclusively its parent\n"
    " or cleans the given directory content, not following symbolic links to clean.\n"
    " But if the given directory is a symbolic link by itself, its content is cleaned.\n"
    "  -D do not delete directory entries inside the given <dir-path>\n"
    " This is the proper command to provide a cleaned destination for build processes.\n"
    " Note: To create a symbolic linked directory (as JUNCTION on Windows) use mountDir link "
    "destination [-L|-F|]\n"
    " The paths may use slash or backslash.\n"
    " returns 0 success, 1 if an error occurs, 2 for argument error .\n"
    " On error a proper english error message is written to stderr.\n";

// Empties the given directory. A given link is followed, the directory it leads to cleaned (and
// held), unless neverFollow: then a link there fails as a directory that cannot be listed.
int cleanGivenDirectory(const wchar_t* path, int keepDirs, bool neverFollow, wchar_t* faultyPath,
                        int faultyPathCapacity) {
    // Only the directory bit is tested: unreadable attributes (all bits set) pass, and the
    // listing below reports them.
    DWORD attributes = GetFileAttributesW(path);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return fail(ERROR_DIRECTORY, faultyPath, faultyPathCapacity, path);
    int length = static_cast<int>(wcslen(path));
    if (length > kPathCapacity - 1)
        return fail(ERROR_FILENAME_EXCED_RANGE, faultyPath, faultyPathCapacity, path);
    Walk walk;
    wmemcpy(walk.path, path, static_cast<size_t>(length) + 1);
    walk.faultyPath = faultyPath;
    walk.faultyPathCapacity = faultyPathCapacity;
    bool link = !neverFollow && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    return emptyDirectory(walk, walk.path, length,
                          link ? Opening::GivenLink : Opening::GivenDirectory, 0, keepDirs);
}

} // namespace

int createDir(const wchar_t* path, int replaceFile, wchar_t* faultyPath, int faultyPathCapacity) {
    // The levels are those the path names once "." and ".." are resolved; reports name the path
    // as given, and a level that cannot be made as the walk spells it.
    wchar_t resolved[kPathCapacity];
    int length = resolveDots(path, resolved);
    DWORD attributes = GetFileAttributesW(resolved);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return 0;
        if (!replaceFile)
            return fail(ERROR_FILE_EXISTS, faultyPath, faultyPathCapacity, path);
        // Without a parent prefix the walk below can only end in 15: refuse before the file is
        // deleted, so that a failure never follows a destructive step.
        if (parentLength(resolved, length) == 0)
            return fail(ERROR_INVALID_DRIVE, faultyPath, faultyPathCapacity, path);
        if (!DeleteFileW(resolved))
            return fail(static_cast<int>(GetLastError()), faultyPath, faultyPathCapacity, path);
    }

    // Walk back to the nearest part of the path that exists, recording each missing level.
    wchar_t work[kPathCapacity];
    int missing[kMaxMissingLevels];
    int recorded = 0;
    bool tooDeep = false;
    const wchar_t* current = resolved;
    for (;;) {
        DWORD found = GetFileAttributesW(current);
        if (found != INVALID_FILE_ATTRIBUTES) {
            // The path itself stands there after all (the first look failed): only a directory
            // is success, never a file left where the directory was to be.
            if (recorded == 0 && !(found & FILE_ATTRIBUTE_DIRECTORY))
                return fail(ERROR_FILE_EXISTS, faultyPath, faultyPathCapacity, path);
            break;
        }
        if (recorded < kMaxMissingLevels)
            missing[recorded++] = length;
        else
            tooDeep = true;
        length = parentLength(resolved, length);
        wcsnCopy(work, kPathCapacity, resolved, length);
        current = work;
        if (length == 0 || tooDeep)
            break;
    }
    if (length == 0)
        return fail(ERROR_INVALID_DRIVE, faultyPath, faultyPathCapacity, path);
    if (tooDeep)
        return fail(kMoreThan50MissingLevels, faultyPath, faultyPathCapacity, path);

    // Make the levels from the outermost inwards, each spelled as the caller wrote it.
    while (recorded > 0) {
        wcsnCopy(work, kPathCapacity, resolved, missing[--recorded]);
        if (!CreateDirectoryW(work, nullptr))
            return fail(static_cast<int>(GetLastError()), faultyPath, faultyPathCapacity, work);
    }
    return 0;
}

int cleanDirContent(const wchar_t* path, int keepDirs, wchar_t* faultyPath,
                    int faultyPathCapacity) {
    return cleanGivenDirectory(path, keepDirs, false, faultyPath, faultyPathCapacity);
}

int removeDirTree(const wchar_t* path, int keepDirs, wchar_t* faultyPath, int faultyPathCapacity) {
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES)
        return fail(ERROR_FILE_NOT_FOUND, faultyPath, faultyPathCapacity, path);
    // Its callers give it a directory that is no link: one that has turned into a link since is
    // never followed.
    int result = cleanGivenDirectory(path, keepDirs, true, faultyPath, faultyPathCapacity);
    if (result != 0)
        return result;
    if (!keepDirs && !RemoveDirectoryW(path))
        return fail(static_cast<int>(GetLastError()), faultyPath, faultyPathCapacity, path);
    return 0;
}

int createCleanDir(const wchar_t* path, int replaceFile, int keepDirs, wchar_t* faultyPath,
                   int faultyPathCapacity) {
    int result = createDir(path, replaceFile, faultyPath, faultyPathCapacity);
    if (result != 0)
        return result;
    return cleanDirContent(path, keepDirs, faultyPath, faultyPathCapacity);
}

int createCleanDirCmd(int argc, char** argv) {
    if (argc <= 1 || argv[1][0] == 0) {
        fputs(usageText, stdout);
        return 0;
    }
    const char* pathArgument = argv[1];
    if (pathArgument[0] == ' ') {
        printMessage(stderr, "ERROR argument 1 is empty >>%s<<\n", pathArgument);
        return 2;
    }
    int keepDirs = 0;
    if (argc > 2) {
        const char* option = argv[2];
        bool ignored = option[0] == 0 || strncmp(option, "---", 3) == 0;
        if (!ignored) {
            if (strcmp(option, "-D") != 0) {
                printMessage(stderr, "ERROR invalide argument %s\n", option);
                return 2;
            }
            keepDirs = 1;
        }
    }

    wchar_t path[kPathCapacity];
    if (MultiByteToWideChar(CP_ACP, 0, pathArgument, -1, path, kPathCapacity) == 0) {
        fputs("ERROR invalid link path length\n", stderr);
        return 2;
    }

    // A root is never emptied, however it is spelled or reached: an unset variable in %OUT%\ or
    // $OUT/, or a link to "/", must not cost a drive. The text of the full path is the first
    // gate; the directory that the path leads to is the second. What cannot be told is refused.
    switch (whatIsAtPath(path)) {
    case PathKind::Directory:
        break;
    case PathKind::Root:
        printMessage(stderr, "ERROR root directory is not cleaned >>%s<<\n", pathArgument);
        return 2;
    case PathKind::Device:
        printMessage(stderr, "ERROR path is a device, not a directory >>%s<<\n", pathArgument);
        return 2;
    case PathKind::Unknown:
        printMessage(stderr,
                     "ERROR cannot tell whether the path leads to a root directory, nothing is "
                     "cleaned >>%s<<\n",
                     pathArgument);
        return 2;
    }

    wchar_t faultyPath[kPathCapacity] = L"";
    int result = createCleanDir(path, 1, keepDirs, faultyPath, kPathCapacity);
    if (result == 0)
        return 0;
    printMessage(stderr, "ERROR >prepFolder %s %s", pathArgument, argc > 2 ? argv[2] : "(null)");
    printWinAPIError(result, faultyPath, "ERROR on clean directory tree");
    return 1;
}
