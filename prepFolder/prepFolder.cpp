#include "prepFolder.h"

#include "../platform/platform.h"
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

bool isDotOrDotDot(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

bool endsInDotOrBlank(const wchar_t* name, int length) {
    return length > 0 && (name[length - 1] == L'.' || name[length - 1] == L' ');
}

// The path through which the entry at entryPath (whose name starts at nameStart) is reached as
// itself. Where the platform drops trailing dots and blanks, a name ending in one would name
// another entry ("x. " names "x", ".. " the parent): such an entry is reached through the
// literal form of its full path. False when that does not fit.
bool pathOfEntry(const wchar_t* entryPath, int nameStart, int nameLength,
                 wchar_t (&literal)[kPathCapacity], const wchar_t*& path) {
    path = entryPath;
    if (!kTrailingDotsAndBlanksDropped || !endsInDotOrBlank(entryPath + nameStart, nameLength))
        return true;
    constexpr wchar_t kLiteral[] = L"\\\\?\\";
    constexpr int kLiteralLength = 4;
    wchar_t directory[kPathCapacity];
    wcsnCopy(directory, kPathCapacity, entryPath, nameStart); // the separator before the name stays
    int length;
    if (wcsncmp(directory, kLiteral, kLiteralLength) == 0) {
        length = wcsnCopy(literal, kPathCapacity, directory, -1); // literal already
    } else {
        wcsnCopy(literal, kPathCapacity, kLiteral, -1);
        DWORD full = GetFullPathNameW(directory, kPathCapacity - kLiteralLength,
                                      literal + kLiteralLength, nullptr);
        if (full == 0 || full >= static_cast<DWORD>(kPathCapacity - kLiteralLength))
            return false;
        length = kLiteralLength + static_cast<int>(full);
    }
    if (length + nameLength > kPathCapacity - 1)
        return false;
    wmemcpy(literal + length, entryPath + nameStart, static_cast<size_t>(nameLength) + 1);
    path = literal;
    return true;
}

// Deletes one entry of a directory being cleaned, by the attributes of the entry itself. Reports
// name the entry as entryPath spells it.
int removeEntry(const wchar_t* entryPath, int nameStart, int nameLength, int keepDirs,
                wchar_t* faultyPath, int faultyPathCapacity) {
    wchar_t literal[kPathCapacity];
    const wchar_t* entry;
    if (!pathOfEntry(entryPath, nameStart, nameLength, literal, entry))
        return fail(ERROR_FILENAME_EXCED_RANGE, faultyPath, faultyPathCapacity, entryPath);
    DWORD attributes = GetFileAttributesW(entry);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return fail(static_cast<int>(GetLastError()), faultyPath, faultyPathCapacity, entryPath);
    bool isDirectory = attributes & FILE_ATTRIBUTE_DIRECTORY;
    bool isLink = attributes & FILE_ATTRIBUTE_REPARSE_POINT;
    if (isDirectory && keepDirs)
        return 0; // directories and directory links stay, unentered
    if (isDirectory && !isLink)
        return removeDirTree(entry, 0, faultyPath, faultyPathCapacity);
    // A directory link goes as a link: its target and the target's content stay.
    BOOL removed = isDirectory ? RemoveDirectoryW(entry) : DeleteFileW(entry);
    if (!removed)
        return fail(static_cast<int>(GetLastError()), faultyPath, faultyPathCapacity, entryPath);
    return 0;
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

} // namespace

int createDir(const wchar_t* path, int replaceFile, wchar_t* faultyPath, int faultyPathCapacity) {
    int length = static_cast<int>(wcslen(path));
    DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return 0;
        if (!replaceFile)
            return fail(ERROR_FILE_EXISTS, faultyPath, faultyPathCapacity, path);
        // Without a parent prefix the walk below can only end in 15: refuse before the file is
        // deleted, so that a failure never follows a destructive step.
        if (parentLength(path, length) == 0)
            return fail(ERROR_INVALID_DRIVE, faultyPath, faultyPathCapacity, path);
        if (!DeleteFileW(path))
            return fail(static_cast<int>(GetLastError()), faultyPath, faultyPathCapacity, path);
    }

    // Walk back to the nearest part of the path that exists, recording each missing level.
    wchar_t work[kPathCapacity];
    int missing[kMaxMissingLevels];
    int recorded = 0;
    bool tooDeep = false;
    const wchar_t* current = path;
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
        length = parentLength(path, length);
        wcsnCopy(work, kPathCapacity, path, length);
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
        wcsnCopy(work, kPathCapacity, path, missing[--recorded]);
        if (!CreateDirectoryW(work, nullptr))
            return fail(static_cast<int>(GetLastError()), faultyPath, faultyPathCapacity, work);
    }
    return 0;
}

int cleanDirContent(const wchar_t* path, int keepDirs, wchar_t* faultyPath,
                    int faultyPathCapacity) {
    // Only the directory bit is tested: unreadable attributes (all bits set) pass, and the
    // enumeration below reports them.
    if ((GetFileAttributesW(path) & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return fail(ERROR_DIRECTORY, faultyPath, faultyPathCapacity, path);

    int length = static_cast<int>(wcslen(path));
    bool endsInSeparator = length > 0 && isSeparator(path[length - 1]);
    if (length + (endsInSeparator ? 2 : 3) > kPathCapacity)
        return fail(ERROR_FILENAME_EXCED_RANGE, faultyPath, faultyPathCapacity, path);

    wchar_t pattern[kPathCapacity];
    wmemcpy(pattern, path, static_cast<size_t>(length));
    int prefixLength = length;
    if (!endsInSeparator)
        pattern[prefixLength++] = kPathSeparator;
    pattern[prefixLength] = L'*';
    pattern[prefixLength + 1] = 0;

    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE)
        return fail(ERROR_FILE_NOT_FOUND, faultyPath, faultyPathCapacity, pattern);

    wchar_t entryPath[kPathCapacity];
    wmemcpy(entryPath, pattern, static_cast<size_t>(prefixLength));
    int result = 0;
    for (BOOL more = TRUE; more; more = FindNextFileW(search, &entry)) {
        const wchar_t* name = entry.cFileName;
        if (isDotOrDotDot(name))
            continue;
        int nameLength = static_cast<int>(wcslen(name));
        if (prefixLength + nameLength > kPathCapacity - 1) {
            result = fail(ERROR_FILENAME_EXCED_RANGE, faultyPath, faultyPathCapacity, name);
            break;
        }
        wmemcpy(entryPath + prefixLength, name, static_cast<size_t>(nameLength) + 1);
        result = removeEntry(entryPath, prefixLength, nameLength, keepDirs, faultyPath,
                             faultyPathCapacity);
        if (result != 0)
            break;
    }
    if (result == 0) { // the enumeration ended
        DWORD error = GetLastError();
        if (error != ERROR_NO_MORE_FILES)
            result = fail(static_cast<int>(error), faultyPath, faultyPathCapacity, path);
    }
    FindClose(search);
    return result;
}

int removeDirTree(const wchar_t* path, int keepDirs, wchar_t* faultyPath, int faultyPathCapacity) {
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES)
        return fail(ERROR_FILE_NOT_FOUND, faultyPath, faultyPathCapacity, path);
    int result = cleanDirContent(path, keepDirs, faultyPath, faultyPathCapacity);
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

    // A root is never emptied, however it is spelled: an unset variable in %OUT%\ or $OUT/
    // must not cost a drive.
    wchar_t fullPath[kPathCapacity];
    DWORD fullLength = GetFullPathNameW(path, kPathCapacity, fullPath, nullptr);
    if (fullLength > 0 && fullLength < kPathCapacity && isRootPath(fullPath)) {
        printMessage(stderr, "ERROR root directory is not cleaned >>%s<<\n", pathArgument);
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
