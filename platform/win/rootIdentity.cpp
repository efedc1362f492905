// A root by identity: the directory that the path leads to is the root of a volume, as the
// platform names that directory in its final path.
#include "../rootIdentity.h"
#include "../pathText.h"

#include <cwchar>

namespace {

// Room for the final path of any root: "\\?\UNC\" with a server name of up to 255 and a share
// name of up to 80 characters. A final path that needs more is no root.
constexpr DWORD kFinalCapacity = 2 * MAX_PATH;

bool startsWith(const wchar_t* text, const wchar_t* prefix) {
    return wcsncmp(text, prefix, wcslen(prefix)) == 0;
}

// Whether the final path (as the platform writes it, "\\?\C:\x" or "\\?\UNC\server\share\x")
// names the root of a drive or of a share.
bool finalPathIsRoot(wchar_t* finalPath) {
    wchar_t* plain = finalPath;
    if (startsWith(plain, L"\\\\?\\UNC\\")) {
        plain += 6; // "\\server\share\..." from the "C\" of "UNC\"
        plain[0] = plain[1] = L'\\';
    } else if (startsWith(plain, L"\\\\?\\")) {
        plain += 4;
    }
    return isRootPath(plain);
}

// What the directory of an open handle is.
RootIdentity identityOfOpen(HANDLE directory) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(directory, &information))
        return RootIdentity::Unknown;
    if (!(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return RootIdentity::NotRoot;
    wchar_t finalPath[kFinalCapacity];
    DWORD length = GetFinalPathNameByHandleW(directory, finalPath, kFinalCapacity, VOLUME_NAME_DOS);
    if (length >= kFinalCapacity)
        return RootIdentity::NotRoot; // longer than any root's
    if (length > 0)
        return finalPathIsRoot(finalPath) ? RootIdentity::Root : RootIdentity::NotRoot;
    // A volume named on no drive, neither by a letter nor by a folder it is mounted in: its
    // path inside the volume tells whether this is its root.
    length = GetFinalPathNameByHandleW(directory, finalPath, kFinalCapacity, VOLUME_NAME_NONE);
    if (length == 0)
        return RootIdentity::Unknown;
    if (length >= kFinalCapacity)
        return RootIdentity::NotRoot;
    return isRootPath(finalPath) ? RootIdentity::Root : RootIdentity::NotRoot;
}

} // namespace

RootIdentity rootIdentityOf(const wchar_t* path) {
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        // Nothing stands there, or nothing can stand at such a name: whatever gets made there
        // is no root.
        bool nothing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                       error == ERROR_INVALID_NAME || error == ERROR_FILENAME_EXCED_RANGE;
        return nothing ? RootIdentity::NotRoot : RootIdentity::Unknown;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return RootIdentity::NotRoot; // a file, which gives way to a new directory
    // Opened with a separator at its end, as the enumeration opens it: a volume spelled without
    // one (\\.\C:, \\?\Volume{...}) is then its root directory, not the volume itself.
    wchar_t directory[MAX_PATH + 1];
    size_t length = wcslen(path);
    if (length + 2 > sizeof directory / sizeof directory[0]) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return RootIdentity::Unknown;
    }
    wmemcpy(directory, path, length + 1);
    if (length > 0 && !isSeparator(path[length - 1])) {
        directory[length] = L'\\';
        directory[length + 1] = 0;
    }
    HANDLE opened =
        CreateFileW(directory, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (opened == INVALID_HANDLE_VALUE)
        return RootIdentity::Unknown;
    RootIdentity identity = identityOfOpen(opened);
    DWORD error = GetLastError();
    CloseHandle(opened);
    SetLastError(error);
    return identity;
}
