// The contract of the platform calls that the commands rely on. The same cases run against
// kernel32 (under Wine) and against our POSIX layer, so the layer is held to what Windows does.
#include "platform/platform.h"

#include "testkit/testkit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

#if !defined(_WIN32)
#include "platform/posix/errors.h"
#include "platform/posix/text.h"
#include <cerrno>
#endif

namespace {

using namespace testkit;

constexpr DWORD kStale = 0xdeadbeef; // set before each call, so a stale error never passes

DWORD attributes(const fs::path& p) {
    SetLastError(kStale);
    return GetFileAttributesW(wide(p).c_str());
}

// The error of a call that must fail.
template <typename Call> DWORD errorOf(Call call) {
    SetLastError(kStale);
    EXPECT_FALSE(call());
    return GetLastError();
}

TEST(Platform, AttributesTellDirectoriesFilesAndAbsence) {
    TempDir t;
    fs::create_directory(t / "dir");
    writeFile(t / "file");
    EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY,
              attributes(t / "dir") & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    EXPECT_EQ(0u,
              attributes(t / "file") & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, attributes(t / "none"));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, attributes(t / "none" / "deeper"));
    EXPECT_EQ(DWORD(ERROR_PATH_NOT_FOUND), GetLastError());
}

TEST(Platform, ReadOnlyFileShowsTheAttribute) {
    TempDir t;
    writeFile(t / "ro");
    makeReadOnly(t / "ro");
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_READONLY), attributes(t / "ro") & FILE_ATTRIBUTE_READONLY);
}

TEST(Platform, DirectoryCreationAndRemovalErrors) {
    TempDir t;
    const std::wstring dir = wide(t / "dir");
    EXPECT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
    EXPECT_EQ(DWORD(ERROR_ALREADY_EXISTS),
              errorOf([&] { return CreateDirectoryW(dir.c_str(), nullptr); }));
    EXPECT_EQ(DWORD(ERROR_PATH_NOT_FOUND),
              errorOf([&] { return CreateDirectoryW(wide(t / "no" / "dir").c_str(), nullptr); }));
    writeFile(t / "dir" / "inside");
    EXPECT_EQ(DWORD(ERROR_DIR_NOT_EMPTY), errorOf([&] { return RemoveDirectoryW(dir.c_str()); }));
    EXPECT_EQ(DWORD(ERROR_DIRECTORY),
              errorOf([&] { return RemoveDirectoryW(wide(t / "dir" / "inside").c_str()); }));
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), errorOf([&] { return DeleteFileW(dir.c_str()); }));
    EXPECT_TRUE(DeleteFileW(wide(t / "dir" / "inside").c_str()));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND),
              errorOf([&] { return DeleteFileW(wide(t / "dir" / "inside").c_str()); }));
    EXPECT_TRUE(RemoveDirectoryW(dir.c_str()));
    EXPECT_FALSE(fs::exists(t / "dir"));
}

TEST(Platform, EnumerationListsEveryEntryAndEndsWith18) {
    TempDir t;
    fs::create_directory(t / "sub");
    writeFile(t / "file");
    for (const std::wstring separator : {L"\\", L"/"}) {
        WIN32_FIND_DATAW data;
        HANDLE search = FindFirstFileW((wide(t.path()) + separator + L"*").c_str(), &data);
        ASSERT_NE(INVALID_HANDLE_VALUE, search);
        std::set<std::wstring> names;
        do
            names.insert(data.cFileName);
        while (FindNextFileW(search, &data));
        EXPECT_EQ(DWORD(ERROR_NO_MORE_FILES), GetLastError());
        EXPECT_TRUE(FindClose(search));
        EXPECT_EQ((std::set<std::wstring>{L".", L"..", L"file", L"sub"}), names);
    }
    WIN32_FIND_DATAW data;
    EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileW((wide(t / "none") + L"\\*").c_str(), &data));
}

TEST(Platform, ConversionFitsAtMost260WideCharacters) {
    wchar_t buffer[MAX_PATH];
    const std::string fits(259, 'x'), tooLong(260, 'x');
    EXPECT_EQ(260, MultiByteToWideChar(CP_ACP, 0, fits.c_str(), -1, buffer, MAX_PATH));
    EXPECT_EQ(std::wstring(259, L'x'), std::wstring(buffer));
    SetLastError(kStale);
    EXPECT_EQ(0, MultiByteToWideChar(CP_ACP, 0, tooLong.c_str(), -1, buffer, MAX_PATH));
    EXPECT_EQ(DWORD(ERROR_INSUFFICIENT_BUFFER), GetLastError());
}

// The names Windows reads as devices wherever they stand, as its path parsing takes them apart:
// the base name before the first dot or colon, blanks at its end dropped.
TEST(Platform, DeviceNamesAsWindowsReadsThem) {
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"nul", true},        {L"CON", true},        {L"aux.txt", true},   {L"Com1", true},
        {L"prn.log", true},    {L"LPT9", true},       {L"com0", true},      {L"conin$", true},
        {L"CONOUT$.x", true},  {L"nul .txt", true},   {L"com1..", true},    {L"con. ", true},
        {L"aux:stream", true}, {L"nul.tar.gz", true}, {L"lpt\u00b9", true}, {L"PRN", true},
        {L"", false},          {L"nu", false},        {L"nul_", false},     {L"nulx.txt", false},
        {L"xnul", false},      {L"com", false},       {L"com10", false},    {L"comA", false},
        {L"lpt\u00b4", false}, {L"conin", false},     {L".nul", false},     {L"n ul", false},
    };
    for (const auto& [name, device] : cases)
        EXPECT_EQ(device, isDeviceName(name, static_cast<int>(wcslen(name)))) << fs::path(name);
}

// A final path that the commands print or compare is an absolute path of the platform's form.
TEST(Platform, FinalPathsAreAbsolutePathsOfThePlatformsForm) {
    const std::pair<const char*, bool> cases[] = {
        {"C:\\Work", onWindows},
        {"z:/x", onWindows},
        {"UNC\\server\\share", onWindows},
        {"/tmp/x", !onWindows},
        {"unix\\dev\\null", false},
        {"pipe:[12]", false},
        {"anon_inode:[x]", false},
        {"C:", false},
        {"", false},
    };
    for (const auto& [text, absolute] : cases) {
        SetLastError(kStale);
        EXPECT_EQ(absolute, isAbsoluteFinalPath(text)) << text;
        EXPECT_EQ(absolute ? kStale : DWORD(ERROR_BAD_PATHNAME), GetLastError()) << text;
    }
}

// Full paths are made from the text and the current directory alone; the result uses the
// platform's own separators.
TEST(Platform, FullPathsResolveDotsFoldSeparatorsAndKeepATrailingOne) {
    TempDir t;
    CurrentDir cd(t.path());
    const std::wstring cwd = wide(t.path());
    const wchar_t sep = onWindows ? L'\\' : L'/';
    auto local = [&](const std::wstring& rest) {
        std::wstring s = cwd + rest;
        for (wchar_t& c : s)
            if (c == L'/' || c == L'\\')
                c = sep;
        return s;
    };
    struct Case {
        std::wstring input, expected;
    };
    const Case cases[] = {
        {L"a/b", local(L"/a/b")},    {L"a\\b\\", local(L"/a/b/")}, {L"a//b", local(L"/a/b")},
        {L"./a/../b", local(L"/b")}, {L"a/.", local(L"/a")},       {L"x/y/../../z/", local(L"/z/")},
    };
    for (const Case& c : cases) {
        wchar_t buffer[MAX_PATH];
        DWORD n = GetFullPathNameW(c.input.c_str(), MAX_PATH, buffer, nullptr);
        EXPECT_EQ(c.expected.size(), n) << c.input;
        EXPECT_EQ(c.expected, std::wstring(buffer)) << c.input;
    }
    wchar_t small[4];
    const std::wstring full = local(L"/abc");
    EXPECT_EQ(full.size() + 1, GetFullPathNameW(L"abc", 4, small, nullptr));
}

TEST(PosixLayer, FullPathsOfAbsoluteAndNetworkSpellings) {
#if defined(_WIN32)
    GTEST_SKIP() << "the POSIX layer's spelling of full paths";
#else
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"/x//y/./z/..", L"/x/y"},
        {L"\\x\\y", L"/x/y"},
        {L"/../..", L"/"},
        {L"\\\\server\\share\\x", L"//server/share/x"},
        {L"//server/share/../other/", L"//server/other/"},
    };
    for (const auto& [input, expected] : cases) {
        wchar_t buffer[MAX_PATH];
        EXPECT_EQ(expected.size(), GetFullPathNameW(input.c_str(), MAX_PATH, buffer, nullptr));
        EXPECT_EQ(expected, std::wstring(buffer)) << input;
    }
    SetLastError(kStale);
    wchar_t buffer[MAX_PATH];
    EXPECT_EQ(0u, GetFullPathNameW(L"", MAX_PATH, buffer, nullptr));
    EXPECT_EQ(DWORD(ERROR_INVALID_NAME), GetLastError());
#endif
}

TEST(Platform, LinksShowThemselvesAndGoAsLinks) {
    if (!canMakeLinks())
        GTEST_SKIP() << "needs symbolic links, which the tests do not make under Wine";
    TempDir t;
    fs::create_directory(t / "target");
    writeFile(t / "target" / "data", "kept");
    linkDirectory(t / "target", t / "dirlink");
    linkFile(t / "target" / "data", t / "filelink");
    linkDirectory(t / "gone", t / "dangling");
    const DWORD both = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    EXPECT_EQ(both, attributes(t / "dirlink") & both);
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_REPARSE_POINT), attributes(t / "filelink") & both);
    EXPECT_EQ(both, attributes(t / "dangling") & both);

    EXPECT_EQ(DWORD(ERROR_DIRECTORY),
              errorOf([&] { return RemoveDirectoryW(wide(t / "filelink").c_str()); }));
    EXPECT_TRUE(RemoveDirectoryW(wide(t / "dirlink").c_str()));
    EXPECT_TRUE(RemoveDirectoryW(wide(t / "dangling").c_str()));
    EXPECT_TRUE(DeleteFileW(wide(t / "filelink").c_str()));
    EXPECT_EQ((std::vector<std::string>{"target"}), listNames(t.path()));
    EXPECT_EQ("kept", readFile(t / "target" / "data"));
}

TEST(PosixLayer, DeletionFollowsTheDirectoryPermissionsLikeRm) {
#if defined(_WIN32)
    GTEST_SKIP() << "POSIX rule; Windows refuses read-only files";
#else
    TempDir t;
    writeFile(t / "ro");
    makeReadOnly(t / "ro");
    EXPECT_TRUE(DeleteFileW(wide(t / "ro").c_str()));
    EXPECT_FALSE(fs::exists(t / "ro"));
#endif
}

TEST(PosixLayer, AnyFileNameSurvivesTheRoundTrip) {
#if defined(_WIN32)
    GTEST_SKIP() << "the POSIX layer's text conversion";
#else
    TempDir t;
    // invalid UTF-8, a backslash inside a name, valid non-ASCII, and the escape's own encoding
    const std::vector<std::string> names = {"bad\xff\xfe", "back\\slash", "caf\xc3\xa9",
                                            "pua\xef\x81\x9c", "lone\xed\xb2\x80"};
    for (const std::string& name : names)
        writeFile(t.path() / name, name);
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW((wide(t.path()) + L"/*").c_str(), &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, search);
    int deleted = 0;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (name.find(L'\\') != std::wstring::npos)
            ADD_FAILURE() << "a backslash inside a name must not read as a separator";
        std::wstring entry = wide(t.path()) + L"\\" + name;
        EXPECT_TRUE(DeleteFileW(entry.c_str()));
        ++deleted;
    } while (FindNextFileW(search, &data));
    FindClose(search);
    EXPECT_EQ(static_cast<int>(names.size()), deleted);
    EXPECT_TRUE(listNames(t.path()).empty());
#endif
}

TEST(PosixLayer, TextDecodesUtf8AndEscapesEveryInvalidByte) {
#if defined(_WIN32)
    GTEST_SKIP() << "the POSIX layer's text conversion";
#else
    struct Case {
        const char* narrow;
        std::wstring wide;
        const char* back = nullptr; // when it does not come back as narrow
    };
    const Case cases[] = {
        {"abc", L"abc"},
        {"caf\xc3\xa9", L"caf\u00e9"},
        {"\xe2\x82\xac\xf0\x9f\x98\x80", L"\u20ac\U0001F600"},
        {"x\xff", L"x\xdcff"},
        {"\xc3", L"\xdcc3"},                     // truncated sequence
        {"\xc0\xaf", L"\xdcc0\xdcaf"},           // overlong
        {"\xed\xa0\x80", L"\xdced\xdca0\xdc80"}, // encoded surrogate
        {"\xef\x81\x9c", L"\xf05c", "\\"},       // U+F05C stands for a backslash in a name
        {"a\\b", L"a\\b"},
    };
    for (const Case& c : cases) {
        wchar_t buffer[32];
        int n = MultiByteToWideChar(CP_ACP, 0, c.narrow, -1, buffer, 32);
        ASSERT_GT(n, 0) << c.narrow;
        EXPECT_EQ(c.wide, std::wstring(buffer)) << c.narrow;
        char back[64];
        EXPECT_GE(posixEncode(buffer, back, sizeof back, Wide::Message), 0);
        EXPECT_EQ(std::string(c.back ? c.back : c.narrow), std::string(back));
    }
    char path[kPosixPathBytes + 1];
    ASSERT_TRUE(posixPath(L"a\\b/c\xf05c", path));
    EXPECT_EQ(std::string("a/b/c\\"), path);
#endif
}

// Where /proc cannot name a descriptor the layer resolves the path the handle was opened with,
// as the kernel does: a chain of 40 links (the kernel's limit) and ".." inside a link's text.
// What it finds must be the open object itself: a directory moved away since has no final path.
TEST(PosixLayer, FinalPathsWithoutProcResolveAsTheKernelDoes) {
#if defined(_WIN32)
    GTEST_SKIP() << "the POSIX layer's own rule";
#else
    TempDir t;
    const fs::path base = fs::canonical(t.path());
    fs::create_directories(base / "real" / "dir");
    fs::create_directory_symlink("../real/dir", base / "real" / "up");
    fs::create_directory_symlink(base / "real" / "up", base / "link0");
    for (int i = 1; i < 39; ++i) // with "up", 40 links
        fs::create_directory_symlink("link" + std::to_string(i - 1),
                                     base / ("link" + std::to_string(i)));
    PosixFaults noProc;
    noProc.fail(PosixCall::readlinkat, 0, ENOENT,
                [](const PosixCallArgs& call) { return strncmp(call.path, "/proc/", 6) == 0; });
    auto finalPath = [](const fs::path& p, char(&buffer)[MAX_PATH]) {
        HANDLE h = CreateFileW(wide(p).c_str(), 0, 7, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        EXPECT_NE(INVALID_HANDLE_VALUE, h) << p;
        DWORD n = GetFinalPathNameByHandleA(h, buffer, MAX_PATH, 0);
        DWORD error = GetLastError();
        CloseHandle(h);
        SetLastError(error);
        return n;
    };
    char buffer[MAX_PATH];
    ASSERT_LT(0u, finalPath(base / "link38", buffer));
    EXPECT_EQ((base / "real" / "dir").string(), buffer);

    HANDLE h = CreateFileW(wide(base / "real" / "dir").c_str(), 0, 7, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    fs::rename(base / "real" / "dir", base / "real" / "moved");
    SetLastError(kStale);
    EXPECT_EQ(0u, GetFinalPathNameByHandleA(h, buffer, MAX_PATH, 0));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError()); // its path is gone
    fs::create_directory(base / "real" / "dir");            // another directory under the old name
    SetLastError(kStale);
    EXPECT_EQ(0u, GetFinalPathNameByHandleA(h, buffer, MAX_PATH, 0));
    EXPECT_EQ(DWORD(ERROR_BAD_PATHNAME), GetLastError());
    CloseHandle(h);
#endif
}

TEST(PosixLayer, ErrnoTranslation) {
#if defined(_WIN32)
    GTEST_SKIP() << "the POSIX layer's error table";
#else
    const std::pair<int, DWORD> table[] = {
        {ENOENT, 2},   {ENOTDIR, 3},     {EACCES, 5},         {EPERM, 5},
        {EEXIST, 183}, {ENOTEMPTY, 145}, {ENAMETOOLONG, 206}, {EROFS, 19},
        {ENOSPC, 112}, {EBUSY, 32},      {EIO, 1117},         {EPROTO, 31},
    };
    for (const auto& [err, expected] : table)
        EXPECT_EQ(expected, posixErrorNumber(err)) << "errno " << err;
#endif
}

} // namespace
