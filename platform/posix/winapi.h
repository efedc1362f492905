// The Win32 subset that the commands call, for POSIX systems.
//
// Each function keeps the Win32 contract the commands rely on: the same return values, and the
// last error set to a Win32 error number on failure (errno is translated by one table in
// errors.cpp). Paths are wide strings; wchar_t holds code points here (32 bits), and narrow text
// is UTF-8 whose invalid bytes survive as U+DC80..U+DCFF (text.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

typedef int BOOL;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef int32_t LONG;
typedef wchar_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* HANDLE;
typedef void* LPVOID;
typedef DWORD* LPDWORD;
typedef void* LPSECURITY_ATTRIBUTES;
typedef void* LPOVERLAPPED;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef unsigned char BYTE;

// A union on Windows; only its 64-bit view is used.
struct LARGE_INTEGER {
    LONGLONG QuadPart;
};

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)

#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400

#define FILE_LIST_DIRECTORY 0x00000001
#define FILE_READ_ATTRIBUTES 0x00000080
#define GENERIC_WRITE 0x40000000
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004
#define OPEN_EXISTING 3
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000
#define FSCTL_SET_REPARSE_POINT 0x000900A4
#define IO_REPARSE_TAG_MOUNT_POINT 0xA0000003

#define CP_ACP 0

#define ERROR_SUCCESS 0
#define ERROR_INVALID_FUNCTION 1
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_TOO_MANY_OPEN_FILES 4
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_INVALID_DRIVE 15
#define ERROR_NOT_SAME_DEVICE 17
#define ERROR_NO_MORE_FILES 18
#define ERROR_WRITE_PROTECT 19
#define ERROR_GEN_FAILURE 31
#define ERROR_SHARING_VIOLATION 32
#define ERROR_NOT_SUPPORTED 50
#define ERROR_FILE_EXISTS 80
#define ERROR_INVALID_PARAMETER 87
#define ERROR_DISK_FULL 112
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_INVALID_NAME 123
#define ERROR_DIR_NOT_EMPTY 145
#define ERROR_BAD_PATHNAME 161
#define ERROR_ALREADY_EXISTS 183
#define ERROR_MORE_DATA 234
#define ERROR_FILENAME_EXCED_RANGE 206
#define ERROR_DIRECTORY 267
#define ERROR_IO_DEVICE 1117
#define ERROR_TOO_MANY_LINKS 1142
#define ERROR_CANT_RESOLVE_FILENAME 1921
#define ERROR_INVALID_REPARSE_DATA 4392

struct WIN32_FIND_DATAW {
    DWORD dwFileAttributes; // always 0 here: callers read attributes by path
    WCHAR cFileName[MAX_PATH];
};
typedef WIN32_FIND_DATAW* LPWIN32_FIND_DATAW;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime; // the times are not filled here
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
};
typedef BY_HANDLE_FILE_INFORMATION* LPBY_HANDLE_FILE_INFORMATION;

// What GetFileInformationByHandleEx tells, with the numbers Windows gives the classes.
enum FILE_INFO_BY_HANDLE_CLASS {
    FileAttributeTagInfo = 9,
    FileIdBothDirectoryInfo = 10,
    FileIdInfo = 18,
};

struct FILE_ATTRIBUTE_TAG_INFO {
    DWORD FileAttributes;
    DWORD ReparseTag;
};

struct FILE_ID_128 {
    BYTE Identifier[16];
};

struct FILE_ID_INFO {
    ULONGLONG VolumeSerialNumber;
    FILE_ID_128 FileId;
};

// One entry of a directory listed through its handle; the members the commands read.
struct FILE_ID_BOTH_DIR_INFO {
    DWORD NextEntryOffset; // always 0 here: one entry per call
    DWORD FileAttributes;  // always 0 here: callers read attributes by path
    DWORD FileNameLength;  // in bytes, without a terminator
    // Always 0 here, which names no identity: an entry is reached through its parent's
    // descriptor, never through a link, and the inode that a directory read gives can differ
    // from the one stat gives (overlay file systems).
    LARGE_INTEGER FileId;
    WCHAR FileName[1];
};

DWORD GetLastError();
void SetLastError(DWORD error);

// Suspends the thread for at least the given time.
void Sleep(DWORD milliseconds);

// Narrow text in the code page CP_ACP (UTF-8 here) to wide. cbMultiByte -1 converts the
// terminator too. Too small a buffer: 0 and ERROR_INSUFFICIENT_BUFFER.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int cbMultiByte,
                        LPWSTR wideChar, int cchWideChar);

// lstat: a symbolic link is a reparse point, with the directory bit unless it leads to an
// existing non-directory; a file without any write bit is read-only. For the entry that the
// innermost open search has just returned, a directory or a regular file is told from the type
// the directory read gave, without a call (and then without the read-only bit).
DWORD GetFileAttributesW(LPCWSTR fileName);
BOOL CreateDirectoryW(LPCWSTR pathName, LPSECURITY_ATTRIBUTES securityAttributes);
// An empty directory, or a directory link itself (never its target); a file gives 267.
BOOL RemoveDirectoryW(LPCWSTR pathName);
// A file or a link, by the directory's permissions as rm does; a directory gives 5.
BOOL DeleteFileW(LPCWSTR fileName);

// Only "<dir><separator>*" patterns. Every entry is listed, "." and ".." included; only
// cFileName is filled, a backslash in a name showing as U+F05C. The end is ERROR_NO_MORE_FILES.
HANDLE FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findFileData);
BOOL FindNextFileW(HANDLE findFile, LPWIN32_FIND_DATAW findFileData);
BOOL FindClose(HANDLE findFile);

// Absolute against the current directory, by text alone: "/" separators, "." and ".."
// resolved, runs of separators folded except a leading pair, a trailing separator kept.
DWORD GetFullPathNameW(LPCWSTR fileName, DWORD bufferLength, LPWSTR buffer, LPWSTR* filePart);

// Access 0 opens for queries with links followed; FILE_FLAG_OPEN_REPARSE_POINT opens the path
// itself, which must be a directory. With FILE_LIST_DIRECTORY access a directory is opened to be
// listed (GetFileInformationByHandleEx): a direct entry of the directory opened so last and still
// open is opened through that one's descriptor, as the calls by path reach it; the share mode
// needs no emulation, since a descriptor keeps its object whatever happens to the name.
HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);
// The resolved absolute path of an open handle, as narrow bytes, without any prefix.
DWORD GetFinalPathNameByHandleA(HANDLE file, LPSTR filePath, DWORD cchFilePath, DWORD flags);
BOOL CloseHandle(HANDLE object);
// The identity of the open object: the volume serial number from the device, the file index from
// the inode; the directory bit and the number of links. No times.
BOOL GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information);
// FileIdBothDirectoryInfo: the next entry of a directory opened for listing, one per call, "."
// and ".." included (a backslash in a name showing as U+F05C); the end is ERROR_NO_MORE_FILES,
// too small a buffer ERROR_MORE_DATA (the entry stays for the next call).
// FileAttributeTagInfo: the directory bit, and the reparse bit (with the mount-point tag) for a
// mount root. FileIdInfo: the device and the inode.
BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS informationClass,
                                  LPVOID information, DWORD bufferSize);
// FSCTL_SET_REPARSE_POINT with a mount-point record: the empty directory of the handle becomes a
// symbolic link to the record's print name, which takes its name in one step (made under a
// temporary name beside it); a directory with content gives 145, a directory whose entries may
// not be removed (append-only, immutable) 5. A handle on a link, or on a directory that another
// process has turned into a link meanwhile, has the link at its path replaced in one step, as
// Windows replaces the data of a junction; a directory or file of another process standing
// there gives 32.
BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize,
                     LPVOID outBuffer, DWORD outBufferSize, LPDWORD bytesReturned,
                     LPOVERLAPPED overlapped);
