// Reading and comparing final paths: the walk on its own, then real trees.
#include "finalName/finalName.h"

#include "platform/platform.h"
#include "testkit/testkit.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

using namespace testkit;

constexpr wchar_t kCanary = L'#';

struct ReadCase {
    const char* finalPath;
    char caseConv, slashConv;
    int size;
    int result;
    const wchar_t* expected;
};

TEST(WalkFinalPath, ReadModeConvertsAndCutsAtSize) {
    const ReadCase cases[] = {
        {"C:\\Work\\Sub", 0, 0, 260, 0, L"C:\\Work\\Sub"},
        {"C:\\Work\\Sub", 'A', '/', 260, 0, L"C:/WORK/SUB"},
        {"C:\\Work\\Sub", 'a', '/', 260, 0, L"c:/work/sub"},
        {"C:\\Work\\Sub", 'a', 0, 260, 0, L"c:\\work\\sub"},
        {"C:\\Work\\Sub", 0, '/', 260, 0, L"C:/Work/Sub"},
        {"UNC\\server\\share\\x", 'A', 0, 260, 0, L"UNC\\SERVER\\SHARE\\X"},
        {"/home/User/x-1_y", 'A', '/', 260, 0, L"/HOME/USER/X-1_Y"},
        {"C:\\ab", 0, 0, 4, 2, L"C:\\"},
        {"C:\\ab", 0, 0, 5, 2, L"C:\\a"},
        {"C:\\ab", 0, 0, 6, 0, L"C:\\ab"},
        {"C:\\ab", 0, 0, 1, 2, L""},
        {"", 0, 0, 1, 0, L""},
    };
    for (size_t row = 0; row < sizeof cases / sizeof cases[0]; ++row) {
        const ReadCase& c = cases[row];
        wchar_t buffer[300];
        std::wmemset(buffer, kCanary, 300);
        EXPECT_EQ(c.result, walkFinalPath(c.finalPath, buffer, c.size, 0, c.caseConv, c.slashConv))
            << "row " << row;
        EXPECT_EQ(std::wstring(c.expected), std::wstring(buffer)) << "row " << row;
        EXPECT_EQ(kCanary, buffer[c.size]) << "row " << row << ": written past size";
    }
}

struct CompareCase {
    const wchar_t* caller;
    char slashConv;
    int result;              // where letters match without regard to case (Windows, macOS)
    int resultCaseSensitive; // where they do not (Linux): a visible platform difference
};

// Final path C:\Work\Target, caseConv "A", as the junction command compares.
TEST(WalkFinalPath, CompareModeMatchesSeparatorsAndCaseByThePlatformsRule) {
    const CompareCase cases[] = {
        {L"C:\\Work\\Target", '/', 0, 0},   {L"C:/Work/Target", '/', 0, 0},
        {L"C:/work/TARGET", '/', 0, 1},     {L"C:\\WORK\\target", '/', 0, 1},
        {L"C:\\Work\\Target\\", '/', 1, 1}, {L"C:\\Work\\Targets", '/', 1, 1},
        {L"C:\\Work", '/', 1, 1},           {L"", '/', 1, 1},
        {L"C:/work/TARGET", 0, 1, 1},       {L"C:/Work/Target", 0, 1, 1},
        {L"C:\\Work\\Target", 0, 0, 0},     {L"C:\\Work_Target", '/', 1, 1},
    };
    for (size_t row = 0; row < sizeof cases / sizeof cases[0]; ++row) {
        const CompareCase& c = cases[row];
        wchar_t caller[64];
        std::wmemset(caller, kCanary, 64);
        std::wcscpy(caller, c.caller);
        const std::wstring before(caller, 64);
        int expected = kPathLettersIgnoreCase ? c.result : c.resultCaseSensitive;
        EXPECT_EQ(expected, walkFinalPath("C:\\Work\\Target", caller, 260, 1, 'A', c.slashConv))
            << "row " << row;
        EXPECT_EQ(before, std::wstring(caller, 64)) << "row " << row << ": compare mode wrote";
    }
}

TEST(WalkFinalPath, NoRoomAtAllWritesNothing) {
    wchar_t buffer[2] = {kCanary, kCanary};
    EXPECT_EQ(2, walkFinalPath("C:\\ab", buffer + 1, 0, 0, 0, 0));
    EXPECT_EQ(kCanary, buffer[0]);
    EXPECT_EQ(kCanary, buffer[1]);
}

TEST(WalkFinalPath, CompareModeWithoutRoomGivesNoVerdict) {
    wchar_t caller[] = L"C:\\ab";
    EXPECT_EQ(2, walkFinalPath("C:\\ab", caller, 4, 1, 0, 0));
    EXPECT_EQ(0, walkFinalPath("C:\\ab", caller, 6, 1, 0, 0));
}

// Windows' narrow calls write "?" for each character the code page lacks, and no name can hold
// one: such a final path is no final path (never a wrong one). POSIX names may hold a "?".
TEST(WalkFinalPath, QuestionMarkIsALostCharacterOnWindowsAndANameCharacterOnPosix) {
    wchar_t buffer[MAX_PATH];
    std::wmemset(buffer, kCanary, MAX_PATH);
    wchar_t caller[] = L"C:\\Work\\??";
    SetLastError(0);
    const int read = walkFinalPath("C:\\Work\\??", buffer, MAX_PATH, 0, 0, 0);
    const DWORD readError = GetLastError();
    const int compared = walkFinalPath("C:\\Work\\??", caller, MAX_PATH, 1, 'A', '/');
    if (onWindows) {
        EXPECT_EQ(2, read);
        EXPECT_EQ(DWORD(1113), readError); // no mapping for the character in the code page
        EXPECT_EQ(kCanary, buffer[0]);
        EXPECT_EQ(2, compared);
    } else {
        EXPECT_EQ(0, read);
        EXPECT_EQ(std::wstring(L"C:\\Work\\??"), std::wstring(buffer));
        EXPECT_EQ(0, compared);
    }
}

TEST(ReadCmpLink, RefusedConversionLettersTouchNothing) {
    TempDir t;
    const std::wstring path = wide(t.path());
    for (const auto& [caseConv, slashConv] : std::vector<std::pair<char, char>>{
             {'b', 0}, {0, '\\'}, {'A', 'a'}, {static_cast<char>(0xE1), 0}, {'/', 0}}) {
        wchar_t buffer[MAX_PATH];
        std::wmemset(buffer, kCanary, MAX_PATH);
        EXPECT_EQ(6, readCmpLink(path.c_str(), buffer, MAX_PATH, 0, caseConv, slashConv));
        EXPECT_EQ(kCanary, buffer[0]);
    }
    // A missing path would give 3: the letters are checked first.
    EXPECT_EQ(6, readCmpLink(wide(t / "missing").c_str(), nullptr, MAX_PATH, 0, 'x', 0));
}

TEST(ReadCmpLink, MissingPathGives3AndLeavesTheBuffer) {
    TempDir t;
    wchar_t buffer[MAX_PATH];
    std::wmemset(buffer, kCanary, MAX_PATH);
    SetLastError(0);
    EXPECT_EQ(3, readCmpLink(wide(t / "missing").c_str(), buffer, MAX_PATH, 0, 0, 0));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_EQ(kCanary, buffer[0]);
    EXPECT_EQ(3, readCmpLink(wide(t / "missing" / "x").c_str(), buffer, MAX_PATH, 1, 0, 0));
    EXPECT_EQ(DWORD(ERROR_PATH_NOT_FOUND), GetLastError());
}

// The final path of a directory, read plainly.
std::wstring finalPathOf(const fs::path& p) {
    wchar_t buffer[MAX_PATH];
    EXPECT_EQ(0, readCmpLink(wide(p).c_str(), buffer, MAX_PATH, 0, 0, 0)) << p;
    return buffer;
}

TEST(ReadCmpLink, SpellingsOfOnePathLeadToTheSameFinalPath) {
    TempDir t;
    fs::create_directories(t / "dir" / "sub");
    writeFile(t / "dir" / "file");
    const std::wstring dir = finalPathOf(t / "dir");
    EXPECT_EQ(dir.size(), std::wstring(wide(fs::canonical(t / "dir"))).size());
    std::wstring slashed = wide(t / "dir");
    for (wchar_t& c : slashed)
        if (c == L'\\')
            c = L'/';
    std::wstring backslashed = wide(t / "dir");
    for (wchar_t& c : backslashed)
        if (c == L'/')
            c = L'\\';
    for (const std::wstring& spelling : {slashed, backslashed, slashed + L"/", backslashed + L"\\",
                                         wide(t / "dir" / "sub" / "..")}) {
        wchar_t buffer[MAX_PATH];
        EXPECT_EQ(0, readCmpLink(spelling.c_str(), buffer, MAX_PATH, 0, 0, 0));
        EXPECT_EQ(dir, std::wstring(buffer));
    }
    {
        CurrentDir cd(t / "dir");
        EXPECT_EQ(dir, finalPathOf("."));
        EXPECT_EQ(dir + (onWindows ? L"\\" : L"/") + L"file", finalPathOf("file"));
    }
    // The full path the caller knows compares equal, whatever separators it uses.
    EXPECT_EQ(0, readCmpLink(wide(t / "dir").c_str(), const_cast<wchar_t*>(slashed.c_str()),
                             MAX_PATH, 1, 'A', '/'));
    // Without the slash letter only a backslash matches one (Windows' final paths have them).
    EXPECT_EQ(onWindows ? 1 : 0,
              readCmpLink(wide(t / "dir").c_str(), const_cast<wchar_t*>(slashed.c_str()), MAX_PATH,
                          1, 'A', 0));
}

// A final path holding a character beyond the BMP, which no legacy code page has. Where the
// process code page is UTF-8 (POSIX; Windows under the commands' manifest) finalName prints it;
// elsewhere (this program has no manifest: under Wine, as on Windows before 1903) the narrow
// final path holds "?" for it, and finalName reports an error with nothing on standard output.
TEST(FinalNameInProcess, CharacterOutsideTheCodePageIsAnErrorNeverAWrongPath) {
    TempDir t;
    const std::wstring base = finalPathOf(t.path());
    const fs::path dir = t.path() / fs::path(u8"x\U0001F600");
    fs::create_directory(dir);
    CurrentDir cd(dir);
    char command[] = "finalName", dot[] = ".";
    char* argv[] = {command, dot, nullptr};
    CapturedOutput output;
    const int result = finalName_cmd(2, argv);
    if (processCodePage() == kUtf8CodePage) {
        EXPECT_EQ(0, result);
        EXPECT_EQ(std::string(base.begin(), base.end()) + (onWindows ? "\\" : "/") +
                      "x\xf0\x9f\x98\x80",
                  output.out());
        EXPECT_EQ("", output.err());
    } else {
        EXPECT_EQ(2, result);
        EXPECT_EQ("", output.out());
        EXPECT_EQ(
            "ERROR-final-path, Windows error: 1113: .. See "
            "https://learn.microsoft.com/windows/win32/debug/system-error-codes--1000-1299-\n",
            output.err());
    }
}

// What the kernel names an open object by is not always a path: "pipe:[N]" for a pipe,
// "/x/gone (deleted)" for a directory removed while open. Such an object has no final path:
// finalName says so (2, error 161) and prints nothing, and a comparison with that text never
// matches. A name that only looks like the kernel's note is a path like any other.
TEST(FinalNameInProcess, ObjectWithoutAPathHasNoFinalPath) {
#if defined(_WIN32)
    GTEST_SKIP() << "reaches open objects through /proc/self/fd, which Linux has";
#else
    if (!fs::exists("/proc/self/fd"))
        GTEST_SKIP() << "needs /proc/self/fd";
    TempDir t;
    int ends[2];
    ASSERT_EQ(0, pipe(ends));
    fs::create_directory(t / "gone");
    const int gone = open((t / "gone").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_LE(0, gone);
    fs::remove(t / "gone");
    for (int fd : {ends[0], gone}) {
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        SCOPED_TRACE(fs::read_symlink(path));
        std::wstring kernelText = wide(fs::read_symlink(path));
        EXPECT_EQ(2, readCmpLink(widen(path).c_str(), kernelText.data(), MAX_PATH, 1, 'A', '/'));
        const ProcessResult r = call(finalName_cmd, {path});
        EXPECT_EQ(2, r.exitCode);
        EXPECT_EQ("", r.out);
        EXPECT_EQ("ERROR-final-path, Windows error: 161: " + path +
                      ". See https://learn.microsoft.com/windows/win32/debug/"
                      "system-error-codes--0-499-\n",
                  r.err);
    }
    close(ends[0]);
    close(ends[1]);
    close(gone);

    fs::create_directory(t / "x (deleted)");
    EXPECT_EQ(wide(fs::canonical(t / "x (deleted)")), finalPathOf(t / "x (deleted)"));
#endif
}

TEST(ReadCmpLink, LinksAreFollowedToTheEndOfTheChain) {
    if (!canMakeLinks())
        GTEST_SKIP() << "needs symbolic links, which the tests do not make under Wine";
    TempDir t;
    fs::create_directories(t / "real" / "dir");
    linkDirectory(t / "real" / "dir", t / "first");
    linkDirectory(t / "first", t / "second");
    const std::wstring real = finalPathOf(t / "real" / "dir");
    EXPECT_EQ(real, finalPathOf(t / "second"));
    EXPECT_EQ(real, finalPathOf(t / "first"));
    EXPECT_EQ(real, finalPathOf(wide(t / "second") + L"\\"));
    EXPECT_EQ(0, readCmpLink(wide(t / "second").c_str(), const_cast<wchar_t*>(real.c_str()),
                             MAX_PATH, 1, 'A', '/'));
    EXPECT_EQ(1, readCmpLink(wide(t / "second").c_str(),
                             const_cast<wchar_t*>((real + L"/").c_str()), MAX_PATH, 1, 'A', '/'));

    fs::remove(t / "real" / "dir");
    wchar_t buffer[MAX_PATH];
    EXPECT_EQ(3, readCmpLink(wide(t / "second").c_str(), buffer, MAX_PATH, 0, 0, 0));
}

} // namespace
