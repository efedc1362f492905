#include "mountDir.h"

#include "../finalName/finalName.h"
#include "../platform/platform.h"
#include "../platform/rootIdentity.h"
#include "../prepFolder/prepFolder.h"
#include "../support/StringFnEnhancements.h"
#include "../platform/pathText.h"
#include "../support/printWinAPIError.h"
#include "../support/readOptionArgs.h"
#include "version.h"

#include <cstdint>
#include <cstring>
#include <cwchar>

namespace {

constexpr int kSubstituteCapacity = 276;
constexpr int kMaxNameCharacters = 535; // both names with their terminators, in the record
constexpr int kRecordHeaderBytes = 16;

void put16(unsigned char* at, unsigned value) {
    at[0] = static_cast<unsigned char>(value);
    at[1] = static_cast<unsigned char>(value >> 8);
}

// Writes count characters of text and a terminator as UTF-16LE from byte offset at; returns
// the number of units written without the terminator, or -1 past the record's end.
int putName(unsigned char (&record)[kJunctionRecordBytes], int at, const wchar_t* text, int count) {
    int units = 0;
    for (int i = 0; i <= count; ++i) {
        uint32_t c = i < count ? static_cast<uint32_t>(text[i]) : 0;
        unsigned pair[2] = {c, 0};
        int n = 1;
        if (c > 0xFFFF) { // only where wchar_t holds code points (POSIX)
            pair[0] = 0xD800 + ((c - 0x10000) >> 10);
            pair[1] = 0xDC00 + ((c - 0x10000) & 0x3FF);
            n = 2;
        }
        for (int k = 0; k < n; ++k) {
            int offset = at + 2 * (units + k);
            if (offset + 2 > kJunctionRecordBytes)
                return -1;
            put16(record + offset, pair[k]);
        }
        if (i < count)
            units += n;
    }
    return units;
}

struct Flags {
    bool force = false;
    bool link = false;
    bool target = false;
};

void applyLetter(char letter, void* context) {
    Flags* flags = static_cast<Flags*>(context);
    if (letter == 'F')
        flags->force = flags->link = true;
    else if (letter == 'L')
        flags->link = true;
    else
        flags->target = true;
}

const char usageText[] =
    "\n"
    "mountDir <link-path> <target-path> [-L|-F] [-T]  [{ -[--<*?>|{L|F|T}] }]\n"
    " Version: " TREEPREP_VERSION_TEXT "\n"
    " Creates a Windows directory Junction.\n"
    " Both paths may use slash or backslash.\n"
    " Does nothing if the <link-path> already refers to the correct <target-path> possible with "
    "different lower/upper chars\n"
    " The <link-path> parent directory have to be given. Elsewhere return 3. \n"
    " Options: Write it in any kind '-F -T' or '-FT' or e.g. '---L -F ---T' \n"
    " -F (force) replace an existing <link-path> or remove any existing file or directory tree on "
    "<link-path>\n"
    " -L (link) replace an existing <link-path>, does not remove an ordinary directory or file "
    "given on <link-path>.\n"
    " -T (target) creates a non existing <target-path>, with [-F] removes a file given instead "
    "the target directory.\n"
    " ---option is a commended, non effective option.\n"
    " returns 0 success, 1=link path cannot be created, 2= target-path is faulty.\n"
    " on error a dedicated error message is written to stderr including the faulty path or file\n";

bool sameLetter(wchar_t a, wchar_t b) {
    if (a == b || (isSeparator(a) && isSeparator(b)))
        return true;
    if (!kPathLettersIgnoreCase)
        return false;
    wchar_t lower = a | 32;
    return lower >= L'a' && lower <= L'z' && lower == (b | 32);
}

// Whether path is base itself or lies below it, by their text.
bool isAtOrBelow(const wchar_t* path, const wchar_t* base) {
    size_t n = wcslen(base);
    while (n > 0 && isSeparator(base[n - 1]))
        --n;
    for (size_t i = 0; i < n; ++i)
        if (!sameLetter(path[i], base[i]))
            return false;
    return path[n] == 0 || isSeparator(path[n]);
}

// What tells one file-system object from every other: its volume and its index there.
struct Identity {
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
};

bool operator==(const Identity& a, const Identity& b) {
    return a.volume == b.volume && a.indexHigh == b.indexHigh && a.indexLow == b.indexLow;
}

// The identity of the object that path leads to, links followed; false when it cannot be read.
bool identityOf(const wchar_t* path, Identity& identity) {
    HANDLE object = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (object == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION information;
    BOOL read = GetFileInformationByHandle(object, &information);
    CloseHandle(object);
    if (!read)
        return false;
    identity = {information.dwVolumeSerialNumber, information.nFileIndexHigh,
                information.nFileIndexLow};
    return true;
}

// The length of the parent of path[0..length), a root keeping its separator ("/", "C:\").
int parentWithRoot(const wchar_t* path, int length) {
    int parent = parentLength(path, length);
    if (parent == 0 && isSeparator(path[0]))
        return 1;
    if (parent == 2 && path[1] == L':' && isSeparator(path[2]))
        return 3;
    return parent;
}

enum class Inside { No, Yes, Unknown };

// Whether the directory of identity base is the object that path leads to or one of its
// ancestors. Decided by identity, so that links, junctions and mounts on the way count: walking
// up the final path of path (of its nearest existing ancestor when path does not exist yet).
// Unknown when a final path or an identity on the way cannot be read.
Inside liesInside(const wchar_t* path, const Identity& base) {
    wchar_t candidate[kPathCapacity];
    int length = wcsnCopy(candidate, kPathCapacity, path, -1);
    wchar_t resolved[kPathCapacity];
    for (;;) {
        int result = readCmpLink(candidate, resolved, kPathCapacity, 0, 0, 0);
        if (result == 0)
            break;
        if (result != 3 || isRootPath(candidate))
            return Inside::Unknown;
        length = parentWithRoot(candidate, length);
        if (length == 0)
            return Inside::No; // a relative path of which nothing exists
        candidate[length] = 0;
    }
    wchar_t* walked = resolved;
    if (wcsncmp(resolved, L"UNC\\", 4) == 0) { // a network path, as the platform writes it
        walked = resolved + 1;
        walked[0] = walked[1] = L'\\';
    }
    length = static_cast<int>(wcslen(walked));
    for (;;) {
        Identity identity;
        if (!identityOf(walked, identity))
            return Inside::Unknown;
        if (identity == base)
            return Inside::Yes;
        if (isRootPath(walked))
            return Inside::No;
        int parent = parentWithRoot(walked, length);
        if (parent == 0 || parent == length)
            return Inside::No;
        length = parent;
        walked[length] = 0;
    }
}

bool leadsSomewhere(const wchar_t* path) {
    wchar_t resolved[kPathCapacity];
    return readCmpLink(path, resolved, kPathCapacity, 0, 0, 0) != 3;
}

// Whether the target to be made would lie inside what stands at the link path: by the text of
// both paths, and for an ordinary directory there also by identity.
bool targetWouldBeInside(const wchar_t* fullLink, const wchar_t* fullTarget) {
    if (isAtOrBelow(fullTarget, fullLink))
        return true;
    DWORD attributes = GetFileAttributesW(fullLink);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false; // nothing, a file, or a link that goes as a link
    Identity link;
    return !identityOf(fullLink, link) || liesInside(fullTarget, link) != Inside::No;
}

// Exit codes. A step of the command returns one of them, or kGoOn for the next step to follow.
constexpr int kGoOn = -1;
constexpr int kDone = 0;
constexpr int kLinkPathFaulty = 1;
constexpr int kTargetFaulty = 2;
constexpr int kLinkPathInTheWay = 3;
constexpr int kLinkNotRemoved = 4;
constexpr int kTreeNotRemoved = 5;
constexpr int kLinkPathTooLong = 6;
constexpr int kTargetPathTooLong = 7;
constexpr int kInternal = 9;

// Every refusal with a fixed text, and its exit code: all the ways the command can end but the
// reports that carry an error number or a path, which stay with the step that knows them.
enum Refusal {
    kLinkPathLength,
    kTargetPathLength,
    kInvalidLinkPath,
    kInvalidTargetPath,
    kNoDrivePath,
    kNamesTooLong,
    kInternal6,
    kTargetInsideLinkPath,
    kRootLinkPath,
    kMaybeRootLinkPath,
    kCurrentDirectoryInLinkPath,
    kAnotherDestination,
    kNormalDirectory,
    kFileAtLinkPath,
    kRefusals
};

struct RefusalText {
    int exitCode;
    const char* message;
};

constexpr RefusalText kRefusalTexts[] = {
    {kLinkPathTooLong, "ERROR-invalid-link path-length\n"},
    {kTargetPathTooLong, "ERROR-invalid-target path-length\n"},
    {kLinkPathFaulty, "ERROR-invalid-link-path\n"},
    {kTargetFaulty, "ERROR-invalid-target-path\n"},
    {kTargetFaulty, "ERROR-target-must-be-a-drive-path\n"},
    {kTargetFaulty, "ERROR-path-too-long\n"},
    {kInternal, "ERROR-intern-6\n"},
    {kTargetFaulty, "ERROR-target-inside-<link-path>\n"},
    {kLinkPathInTheWay, "ERROR-<link-path> is a root directory\n"},
    {kLinkPathInTheWay, "ERROR-<link-path> cannot be told from a root directory\n"},
    {kLinkPathInTheWay, "ERROR-<link-path> holds the current directory\n"},
    {kLinkPathInTheWay, "ERROR-<link-path> has another destination, use -L to enable redirect\n"},
    {kLinkPathInTheWay, "ERROR <link-path> refers to a normal directory, use -F to force remove\n"},
    {kLinkPathInTheWay, "ERROR-<link-path> refers to a file, use -F to force remove\n"},
};
static_assert(sizeof kRefusalTexts / sizeof kRefusalTexts[0] == kRefusals,
              "a refusal lacks a text");

int refuse(Refusal refusal) {
    fputs(kRefusalTexts[refusal].message, stderr);
    return kRefusalTexts[refusal].exitCode;
}

// What the steps of one run share.
struct Job {
    int argc;
    char** argv;
    Flags flags;
    wchar_t fullLink[kPathCapacity];
    wchar_t fullTarget[kPathCapacity];
    wchar_t substituteName[kSubstituteCapacity];
    int Ls;
    int Lt;
    DWORD linkAttributes; // what stands at the link path, as the check before clearing saw it
    wchar_t faultyPath[kPathCapacity];
};

int readOptions(Job& job) {
    int result = readOptionArgs(job.argc, job.argv, 3, "FLT", applyLetter, &job.flags);
    return result == 0 ? kGoOn : result;
}

// Converts both paths and completes them to full paths.
int readPaths(Job& job) {
    wchar_t link[kPathCapacity], target[kPathCapacity];
    if (MultiByteToWideChar(CP_ACP, 0, job.argv[1], -1, link, kPathCapacity) == 0)
        return refuse(kLinkPathLength);
    if (MultiByteToWideChar(CP_ACP, 0, job.argv[2], -1, target, kPathCapacity) == 0)
        return refuse(kTargetPathLength);
    DWORD length = GetFullPathNameW(link, kPathCapacity, job.fullLink, nullptr);
    if (length == 0 || length >= kPathCapacity)
        return refuse(kInvalidLinkPath);
    length = GetFullPathNameW(target, kPathCapacity, job.fullTarget, nullptr);
    if (length == 0 || length >= kPathCapacity)
        return refuse(kInvalidTargetPath);
    return kGoOn;
}

// Makes sure that the target is a directory on a drive, creating it with -T.
int prepareTarget(Job& job) {
    DWORD attributes = GetFileAttributesW(job.fullTarget);
    bool isDirectory =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    // A junction or link whose own target is gone shows the directory bit but is no directory
    // to link to; -T cannot make one where it stands either.
    bool isDangling = isDirectory && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                      !leadsSomewhere(job.fullTarget);
    if (!isDirectory || isDangling) {
        if (!job.flags.target || isDangling) {
            printMessage(stderr, "ERROR target does not exists as directory: %ls\n",
                         job.fullTarget);
            return kTargetFaulty;
        }
        // Both refusals come before anything is made for the target.
        if (targetWouldBeInside(job.fullLink, job.fullTarget))
            return refuse(kTargetInsideLinkPath);
        if (!isDrivePath(job.fullTarget))
            return refuse(kNoDrivePath);
        int result = createDir(job.fullTarget, job.flags.force, job.faultyPath, kPathCapacity);
        if (result != 0) {
            printWinAPIError(result, job.faultyPath, "ERROR creation directory");
            return kTargetFaulty;
        }
    }
    return isDrivePath(job.fullTarget) ? kGoOn : refuse(kNoDrivePath);
}

// The junction's substitute name, and whether both names fit into its record.
int nameTarget(Job& job) {
    job.Ls = wcsnCopy(job.substituteName, kSubstituteCapacity, L"\\??\\", -1);
    job.Ls += wcsnCopy(job.substituteName + job.Ls,
                       static_cast<uint64_t>(kSubstituteCapacity - job.Ls), job.fullTarget, -1);
    job.Lt = static_cast<int>(wcslen(job.fullTarget));
    return job.Ls + job.Lt + 2 > kMaxNameCharacters ? refuse(kNamesTooLong) : kGoOn;
}

// How often the link path is looked at again while an empty ordinary directory stands there, a
// millisecond apart, before it is refused (see lookAgain): about a second, which a run that is
// setting its junction there needs only on a machine under heavy load.
constexpr int kLooksForASetting = 1000;

// Whether the directory at path holds no entry ("." and ".." aside); false when it cannot be
// listed.
bool isEmptyDirectory(const wchar_t* path) {
    wchar_t pattern[kPathCapacity + 2];
    int length = wcsnCopy(pattern, kPathCapacity + 2, path, -1);
    if (length + 2 >= kPathCapacity + 2)
        return false;
    pattern[length] = L'\\';
    pattern[length + 1] = L'*';
    pattern[length + 2] = 0;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    bool empty = true;
    do {
        const wchar_t* name = entry.cFileName;
        if (!(name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0))))
            empty = false;
    } while (empty && FindNextFileW(search, &entry));
    FindClose(search);
    return empty;
}

enum class Second { Right, Free, InTheWay };

// A second look at the link path before what stands there is refused. Another run for the same
// link path may have set its junction since the first look, may have removed a link there to set
// its own (with -L), or may be between making its link directory and setting the junction on it:
// an empty ordinary directory that becomes the junction a moment later. So the comparison is made
// again, and repeated for a little while as long as an empty ordinary directory stands there.
// Right: the link path leads to the target now; Free: nothing stands there now; else in the way.
Second lookAgain(Job& job) {
    bool linkSeen = false;
    for (int look = 0; look < kLooksForASetting; ++look) {
        if (look > 0)
            Sleep(1);
        if (readCmpLink(job.fullLink, job.fullTarget, kPathCapacity, 1, 'A', '/') == 0)
            return Second::Right;
        DWORD attributes = GetFileAttributesW(job.fullLink);
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return Second::Free;
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return Second::InTheWay;
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            // A junction set after the comparison above was made: compared once more.
            if (linkSeen)
                return Second::InTheWay;
            linkSeen = true;
            continue;
        }
        // A directory that cannot be listed is in the way, unless it changed while it was listed
        // (removed, or turned into a link by another run): then it is looked at again.
        if (!isEmptyDirectory(job.fullLink) && GetFileAttributesW(job.fullLink) == attributes)
            return Second::InTheWay;
    }
    return Second::InTheWay;
}

// Refuses what stands at the link path, unless a second look finds it right or free by now.
int refuseUnlessChanged(Job& job, Refusal refusal) {
    switch (lookAgain(job)) {
    case Second::Right:
        return kDone;
    case Second::Free:
        job.linkAttributes = INVALID_FILE_ATTRIBUTES;
        return kGoOn;
    case Second::InTheWay:
        break;
    }
    return refuse(refusal);
}

int checkAlreadyRight(Job& job) {
    int compared = readCmpLink(job.fullLink, job.fullTarget, kPathCapacity, 1, 'A', '/');
    if (compared == 0)
        return kDone; // nothing to change
    return compared == 6 ? refuse(kInternal6) : kGoOn;
}

// Whether what stands at the link path may go, as the flags allow. Refuses what could never be
// meant: a root, a tree holding the target or the current directory, a link to itself. What
// cannot be decided is refused; nothing has been deleted yet.
int checkClearable(Job& job) {
    if (isRootPath(job.fullLink))
        return refuse(kRootLinkPath);
    DWORD attributes = GetFileAttributesW(job.fullLink);
    job.linkAttributes = attributes;
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return kGoOn; // nothing there
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        if (!job.flags.link)
            return refuseUnlessChanged(job, kAnotherDestination);
        // Compared again before the link goes: another run may have set it right meanwhile.
        if (readCmpLink(job.fullLink, job.fullTarget, kPathCapacity, 1, 'A', '/') == 0)
            return kDone;
        return isAtOrBelow(job.fullTarget, job.fullLink) ? refuse(kTargetInsideLinkPath) : kGoOn;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return job.flags.force ? kGoOn : refuse(kFileAtLinkPath);
    if (!job.flags.force)
        return refuseUnlessChanged(job, kNormalDirectory);
    switch (rootIdentityOf(job.fullLink)) { // a root by what it is, not by its text
    case RootIdentity::NotRoot:
        break;
    case RootIdentity::Root:
        return refuse(kRootLinkPath);
    case RootIdentity::Unknown:
        return refuse(kMaybeRootLinkPath);
    }
    Identity link;
    if (!identityOf(job.fullLink, link) || liesInside(job.fullTarget, link) != Inside::No)
        return refuse(kTargetInsideLinkPath);
    wchar_t current[kPathCapacity];
    DWORD length = GetFullPathNameW(L".", kPathCapacity, current, nullptr);
    if (length == 0 || length >= kPathCapacity || liesInside(current, link) != Inside::No)
        return refuse(kCurrentDirectoryInLinkPath);
    return kGoOn;
}

// Removes what the check let go: a link as a link, a directory tree, a file.
int clearLinkPath(Job& job) {
    DWORD attributes = job.linkAttributes;
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return kGoOn;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        if (!RemoveDirectoryW(job.fullLink)) { // the link itself, never what it refers to
            unsigned long error = GetLastError();
            printMessage(stderr, "ERROR-remove-existing-link-%lu on <link-path> %ls \n", error,
                         job.fullLink);
            return kLinkNotRemoved;
        }
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        int result = removeDirTree(job.fullLink, 0, job.faultyPath, kPathCapacity);
        if (result != 0) {
            printWinAPIError(result, job.faultyPath,
                             "ERROR on deletion faulty directory tree instead symbLink");
            return kTreeNotRemoved;
        }
    } else if (!DeleteFileW(job.fullLink)) {
        unsigned long error = GetLastError();
        printMessage(stderr, "ERROR remove existing file instead of <link-path>: %lu\n", error);
        return kLinkPathInTheWay;
    }
    return kGoOn;
}

int setJunction(Job& job) {
    return createJunction(job.fullLink, job.substituteName, job.Ls, job.fullTarget, job.Lt);
}

} // namespace

int buildJunctionRecord(unsigned char (&record)[kJunctionRecordBytes],
                        const wchar_t* substituteName, int Ls, const wchar_t* printName, int Lt) {
    memset(record, 0, sizeof record);
    put16(record, IO_REPARSE_TAG_MOUNT_POINT & 0xFFFF);
    put16(record + 2, IO_REPARSE_TAG_MOUNT_POINT >> 16);
    int substituteUnits = putName(record, kRecordHeaderBytes, substituteName, Ls);
    if (substituteUnits < 0)
        return 0;
    int printUnits = putName(record, kRecordHeaderBytes + 2 * (substituteUnits + 1), printName, Lt);
    if (printUnits < 0)
        return 0;
    put16(record + 8, 0);
    put16(record + 10, 2u * substituteUnits);
    put16(record + 12, 2u * (substituteUnits + 1));
    put16(record + 14, 2u * printUnits);
    unsigned dataLength = static_cast<uint16_t>(2 * (substituteUnits + printUnits + 2) + 8);
    put16(record + 4, dataLength);
    return static_cast<int>(dataLength) + 8;
}

namespace {

// Whether the link path leads to the target (the comparison that finds a link already right).
bool leadsToTarget(const wchar_t* fullLinkPath, const wchar_t* fullTargetPath) {
    wchar_t target[kPathCapacity];
    wcsnCopy(target, kPathCapacity, fullTargetPath, -1);
    return readCmpLink(fullLinkPath, target, kPathCapacity, 1, 'A', '/') == 0;
}

} // namespace

// After a failed setting: removes the link directory that this run made, while it is still an
// ordinary directory (never a junction or link that another process set there meanwhile) and
// empty. Says so when the directory stays for another reason than content, so that the rerun's
// refusal of an ordinary directory at the link path is understood.
void removeMadeLinkDirectory(const wchar_t* fullLinkPath) {
    DWORD attributes = GetFileAttributesW(fullLinkPath);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return;
    if (RemoveDirectoryW(fullLinkPath))
        return;
    unsigned long error = GetLastError();
    if (error != ERROR_DIR_NOT_EMPTY && GetFileAttributesW(fullLinkPath) == attributes)
        printMessage(stderr,
                     "ERROR-link-directory-not-removed-%lu, remove it or rerun with -F: %ls\n",
                     error, fullLinkPath);
}

int createJunction(const wchar_t* fullLinkPath, const wchar_t* substituteName, int Ls,
                   const wchar_t* fullTargetPath, int Lt) {
    bool made = true; // the link directory is this run's: only then does a failure remove it
    if (!CreateDirectoryW(fullLinkPath, nullptr)) {
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS) {
            printWinAPIError(static_cast<int>(error), fullLinkPath, "ERROR create link directory");
            return kLinkPathInTheWay;
        }
        made = false;
    }
    HANDLE link = CreateFileW(fullLinkPath, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (link == INVALID_HANDLE_VALUE) {
        unsigned long error = GetLastError();
        if (leadsToTarget(fullLinkPath, fullTargetPath))
            return kDone; // another run set the same junction meanwhile
        printMessage(stderr, "ERROR-open-link-directory-%lu\n", error);
        if (made)
            removeMadeLinkDirectory(fullLinkPath);
        return kLinkPathFaulty;
    }
    unsigned char record[kJunctionRecordBytes];
    int size = buildJunctionRecord(record, substituteName, Ls, fullTargetPath, Lt);
    DWORD returned = 0;
    BOOL set =
        size > 0 && DeviceIoControl(link, FSCTL_SET_REPARSE_POINT, record, static_cast<DWORD>(size),
                                    nullptr, 0, &returned, nullptr);
    if (!set) {
        DWORD error = size > 0 ? GetLastError() : DWORD(ERROR_FILENAME_EXCED_RANGE);
        CloseHandle(link);
        if (leadsToTarget(fullLinkPath, fullTargetPath))
            return kDone; // another run set the same junction meanwhile
        printWinAPIError(static_cast<int>(error), fullLinkPath, "ERROR set Junction");
        if (made)
            removeMadeLinkDirectory(fullLinkPath);
        return kLinkPathFaulty;
    }
    CloseHandle(link);
    return kDone;
}

int mountDirCmd(int argc, char** argv) {
    if (argc <= 2 || argv[1][0] == 0 || argv[2][0] == 0) {
        fputs(usageText, stdout);
        return kDone;
    }
    // The command, step by step: each ends it with an exit code, or lets the next one follow.
    using Step = int (*)(Job&);
    constexpr Step kSteps[] = {
        readOptions,       // the option letters after the two paths
        readPaths,         // both paths, converted and completed
        prepareTarget,     // the target is a directory on a drive (made with -T)
        nameTarget,        // the junction's names fit into its record
        checkAlreadyRight, // the link path leads to the target already: done
        checkClearable,    // what stands at the link path may go
        clearLinkPath,     // it goes
        setJunction,       // the junction is made: its result ends the command
    };
    Job job{};
    job.argc = argc;
    job.argv = argv;
    for (Step step : kSteps) {
        int exitCode = step(job);
        if (exitCode != kGoOn)
            return exitCode;
    }
    return kDone;
}
