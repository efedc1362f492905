// The directory operations on real temporary trees.
#include "prepFolder/prepFolder.h"

#include "platform/platform.h"
#include "safety/treeState.h"
#include "testkit/testkit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

namespace {

using namespace testkit;

// The faulty-path buffer of one call, set empty as the callers do.
struct Faulty {
    wchar_t path[MAX_PATH] = L"";
    std::wstring str() const { return path; }
};

// A chain of n one-letter levels below base: base/a/b/c/...
fs::path chain(const fs::path& base, int n) {
    fs::path p = base;
    for (int i = 0; i < n; ++i)
        p /= std::string(1, static_cast<char>('a' + i % 26));
    return p;
}

// A directory path below base of exactly length characters (as the commands count them).
fs::path pathOfLength(const fs::path& base, size_t length) {
    fs::path p = base;
    while (wide(p).size() + 1 < length) {
        size_t rest = length - wide(p).size() - 1; // one for the separator
        p /= std::string(rest > 60 ? 60 : rest, 'd');
    }
    EXPECT_EQ(length, wide(p).size());
    return p;
}

// full as the operations spell an entry below base: joined with the platform's separator.
std::wstring entryBelow(const fs::path& base, const fs::path& full) {
    std::wstring joined = wide(base);
    for (const fs::path& part : fs::relative(full, base))
        joined += (onWindows ? L"\\" : L"/") + wide(part);
    return joined;
}

void makeLongChain(const fs::path& path) {
    fs::path built;
    for (const fs::path& part : path) {
        built /= part;
        if (built.has_relative_path())
            makeLongDirectory(built);
    }
}

size_t openHandles() {
#if defined(_WIN32)
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
#else
    size_t n = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd"))
        (void)entry, ++n;
    return n;
#endif
}

// Sentinel data outside the tree under test, with a snapshot to compare against.
struct Sentinels {
    fs::path dir;
    std::vector<std::pair<std::string, std::string>> before;
    explicit Sentinels(const fs::path& d) : dir(d) {
        fs::create_directories(dir / "sub");
        writeFile(dir / "keep.txt", "sentinel one");
        writeFile(dir / "sub" / "deep.txt", "sentinel two");
        before = snapshot(dir);
    }
    void expectIntact() const { EXPECT_EQ(before, snapshot(dir)); }
};

// ---------------------------------------------------------------------------------------------
// createDir

TEST(CreateDir, ExistingDirectoryIsLeftAlone) {
    TempDir t;
    writeFile(t / "inside");
    Faulty f;
    EXPECT_EQ(0, createDir(wide(t.path()).c_str(), 0, f.path, MAX_PATH));
    EXPECT_EQ(std::vector<std::string>{"inside"}, listNames(t.path()));
    EXPECT_EQ(L"", f.str());
}

TEST(CreateDir, MakesEveryMissingLevelWhateverTheSeparators) {
    const std::vector<std::string> spellings = {
        "x/y/z", "x\\y\\z", "x/y\\z", "x//y\\\\z", "x/y/z/", "x\\y\\z\\\\",
    };
    for (const std::string& spelling : spellings) {
        TempDir t;
        std::wstring path = wide(t.path()) + L"/" + widen(spelling);
        Faulty f;
        EXPECT_EQ(0, createDir(path.c_str(), 0, f.path, MAX_PATH)) << spelling;
        EXPECT_TRUE(fs::is_directory(t / "x" / "y" / "z")) << spelling;
        EXPECT_EQ(L"", f.str()) << spelling;
    }
}

TEST(CreateDir, RelativePathNeedsItsFirstComponent) {
    TempDir t;
    CurrentDir cd(t.path());
    fs::create_directory(t / "have");
    Faulty f;
    EXPECT_EQ(0, createDir(L"have/new/deeper", 0, f.path, MAX_PATH));
    EXPECT_TRUE(fs::is_directory(t / "have" / "new" / "deeper"));

    EXPECT_EQ(ERROR_INVALID_DRIVE, createDir(L"out/sub", 0, f.path, MAX_PATH));
    EXPECT_EQ(L"out/sub", f.str());
    EXPECT_FALSE(fs::exists(t / "out"));

    Faulty f2;
    EXPECT_EQ(ERROR_INVALID_DRIVE, createDir(L"out", 0, f2.path, MAX_PATH));
    EXPECT_FALSE(fs::exists(t / "out"));
    EXPECT_EQ(0, createDir(L"./out", 0, f2.path, MAX_PATH));
    EXPECT_TRUE(fs::is_directory(t / "out"));
}

// "." and ".." are resolved by text before the walk, as the platform resolves them: each path
// makes the levels of its resolved form, never a level that a ".." takes back.
TEST(CreateDir, DotAndDotDotAreResolvedBeforeTheWalk) {
    struct Case {
        std::wstring path; // below the temporary directory, which is the current one
        std::vector<std::string> made;
    };
    const std::vector<Case> cases = {
        {L"./new/.", {"new"}}, {L"./new/./", {"new"}},    {L"./a/./b", {"a", "a/b"}},
        {L"./a/b/..", {"a"}},  {L".\\a\\b\\..\\", {"a"}}, {L"./a/b/../../c/./d", {"c", "c/d"}},
        {L"x/..", {}}, // the current directory itself, which stands
    };
    for (const Case& c : cases) {
        for (bool absolute : {false, true}) {
            TempDir t;
            CurrentDir cd(t.path());
            const std::wstring path = absolute ? wide(t.path()) + L"/" + c.path : c.path;
            Faulty f;
            EXPECT_EQ(0, createDir(path.c_str(), 0, f.path, MAX_PATH)) << wide(t.path()) << path;
            std::vector<std::string> made;
            for (const auto& entry : fs::recursive_directory_iterator(t.path()))
                made.push_back(fs::relative(entry.path(), t.path()).generic_string());
            std::sort(made.begin(), made.end());
            EXPECT_EQ(c.made, made) << testing::PrintToString(path);
        }
    }
}

TEST(CreateDir, EmptyPathGives15) {
    Faulty f;
    EXPECT_EQ(ERROR_INVALID_DRIVE, createDir(L"", 1, f.path, MAX_PATH));
    EXPECT_EQ(L"", f.str());
}

TEST(CreateDir, FiftyMissingLevelsAreMadeFiftyOneAreNot) {
    TempDir t;
    Faulty f;
    const fs::path fifty = chain(t / "p", 49); // p plus 49 levels below it
    EXPECT_EQ(0, createDir(wide(fifty).c_str(), 0, f.path, MAX_PATH));
    EXPECT_TRUE(fs::is_directory(fifty));

    const fs::path fiftyOne = chain(t / "q", 50);
    EXPECT_EQ(kMoreThan50MissingLevels, createDir(wide(fiftyOne).c_str(), 0, f.path, MAX_PATH));
    EXPECT_EQ(wide(fiftyOne), f.str());
    EXPECT_FALSE(fs::exists(t / "q"));
}

TEST(CreateDir, FiftyFirstMissingLevelAtTheStartOfARelativePathGives15) {
    TempDir t;
    CurrentDir cd(t.path());
    const std::wstring fiftyOne = wide(chain("r", 50));
    Faulty f;
    EXPECT_EQ(ERROR_INVALID_DRIVE, createDir(fiftyOne.c_str(), 0, f.path, MAX_PATH));
    EXPECT_EQ(fiftyOne, f.str());
    EXPECT_FALSE(fs::exists(t / "r"));
}

TEST(CreateDir, FileAtThePathIsKeptOrReplacedByTheFlag) {
    TempDir t;
    writeFile(t / "f", "data");
    const std::wstring path = wide(t / "f");
    Faulty f;
    EXPECT_EQ(ERROR_FILE_EXISTS, createDir(path.c_str(), 0, f.path, MAX_PATH));
    EXPECT_EQ(path, f.str());
    EXPECT_EQ("data", readFile(t / "f"));

    Faulty f2;
    EXPECT_EQ(0, createDir(path.c_str(), 1, f2.path, MAX_PATH));
    EXPECT_TRUE(fs::is_directory(t / "f"));
}

// A file named by a single relative component cannot be replaced (the walk back has no parent
// to find): it must survive the refusal.
TEST(CreateDir, SingleComponentFileIsRefusedBeforeItIsDeleted) {
    TempDir t;
    CurrentDir cd(t.path());
    writeFile(t / "f", "precious");
    Faulty f;
    EXPECT_EQ(ERROR_INVALID_DRIVE, createDir(L"f", 1, f.path, MAX_PATH));
    EXPECT_EQ(L"f", f.str());
    EXPECT_EQ("precious", readFile(t / "f"));

    EXPECT_EQ(0, createDir(L"./f", 1, f.path, MAX_PATH));
    EXPECT_TRUE(fs::is_directory(t / "f"));
}

TEST(CreateDir, FileInTheWayOfALevelFailsAtThatLevel) {
    TempDir t;
    writeFile(t / "file", "kept");
    const fs::path path = t / "file" / "sub" / "leaf";
    Faulty f;
    int result = createDir(wide(path).c_str(), 1, f.path, MAX_PATH);
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, result);
    EXPECT_EQ(wide(t / "file" / "sub"), f.str());
    EXPECT_EQ("kept", readFile(t / "file"));
}

TEST(CreateDir, ReadOnlyFileAtThePathIsRefusedByWindows) {
    if (!onWindows)
        GTEST_SKIP() << "POSIX deletes by the directory's permissions; see the injected refusal";
    TempDir t;
    writeFile(t / "ro", "kept");
    makeReadOnly(t / "ro");
    Faulty f;
    EXPECT_EQ(ERROR_ACCESS_DENIED, createDir(wide(t / "ro").c_str(), 1, f.path, MAX_PATH));
    EXPECT_EQ(wide(t / "ro"), f.str());
    EXPECT_EQ("kept", readFile(t / "ro"));
}

TEST(CreateDir, DirectoryLinkCountsAsFoundEvenWhenItsTargetIsGone) {
    if (!canMakeLinks())
        GTEST_SKIP() << "needs symbolic links, which the tests do not make under Wine";
    TempDir t;
    fs::create_directory(t / "target");
    linkDirectory(t / "target", t / "link");
    linkDirectory(t / "gone", t / "dangling");
    Faulty f;
    EXPECT_EQ(0, createDir(wide(t / "link").c_str(), 1, f.path, MAX_PATH));
    EXPECT_EQ(0, createDir(wide(t / "dangling").c_str(), 1, f.path, MAX_PATH));
    EXPECT_TRUE(fs::is_symlink(t / "link"));
    EXPECT_TRUE(fs::is_symlink(t / "dangling"));
    EXPECT_FALSE(fs::exists(t / "gone"));
}

// ---------------------------------------------------------------------------------------------
// cleanDirContent and removeDirTree

// A tree with files, nested directories and a read-write mix of content.
void makeTree(const fs::path& root) {
    fs::create_directories(root / "a" / "b" / "c");
    fs::create_directories(root / "empty");
    writeFile(root / "top.txt");
    writeFile(root / "a" / "one");
    writeFile(root / "a" / "b" / "two");
    writeFile(root / "a" / "b" / "c" / "three");
}

TEST(CleanDirContent, EmptiesTheTreeAndKeepsTheDirectory) {
    TempDir t;
    makeTree(t / "d");
    Faulty f;
    EXPECT_EQ(0, cleanDirContent(wide(t / "d").c_str(), 0, f.path, MAX_PATH));
    EXPECT_TRUE(fs::is_directory(t / "d"));
    EXPECT_TRUE(listNames(t / "d").empty());
    EXPECT_EQ(L"", f.str());
}

TEST(CleanDirContent, EmptyDirectoryAndTrailingSeparatorsWork) {
    TempDir t;
    fs::create_directory(t / "d");
    writeFile(t / "d" / "x");
    Faulty f;
    EXPECT_EQ(0, cleanDirContent((wide(t / "d") + L"\\").c_str(), 0, f.path, MAX_PATH));
    EXPECT_EQ(0, cleanDirContent((wide(t / "d") + L"/").c_str(), 0, f.path, MAX_PATH));
    EXPECT_TRUE(listNames(t / "d").empty());
}

TEST(CleanDirContent, KeepDirsDeletesOnlyTheFilesDirectlyInside) {
    TempDir t;
    makeTree(t / "d");
    Faulty f;
    EXPECT_EQ(0, cleanDirContent(wide(t / "d").c_str(), 1, f.path, MAX_PATH));
    EXPECT_EQ((std::vector<std::string>{"a", "empty"}), listNames(t / "d"));
    EXPECT_EQ((std::vector<std::string>{"b", "one"}), listNames(t / "d" / "a"));
    EXPECT_EQ("x", readFile(t / "d" / "a" / "b" / "c" / "three"));
}

TEST(CleanDirContent, NotADirectoryGives267) {
    TempDir t;
    writeFile(t / "file", "kept");
    Faulty f;
    EXPECT_EQ(ERROR_DIRECTORY, cleanDirContent(wide(t / "file").c_str(), 0, f.path, MAX_PATH));
    EXPECT_EQ(wide(t / "file"), f.str());
    EXPECT_EQ("kept", readFile(t / "file"));
}

TEST(CleanDirContent, VanishedPathGives2WithTheSearchPattern) {
    TempDir t;
    Faulty f;
    const std::wstring path = wide(t / "gone");
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, cleanDirContent(path.c_str(), 0, f.path, MAX_PATH));
    EXPECT_EQ(path + (onWindows ? L"\\*" : L"/*"), f.str());
}

// The search pattern must fit into 260 characters: a directory of 258 or 259 characters
// (or 259 with a trailing separator) cannot be listed, even when it is empty.
TEST(CleanDirContent, PathTooLongForTheSearchPatternGives206) {
    TempDir t;
    for (size_t length : {258u, 259u}) {
        const fs::path dir = pathOfLength(t / std::to_string(length), length);
        makeLongChain(dir);
        Faulty f;
        EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE,
                  cleanDirContent(wide(dir).c_str(), 0, f.path, MAX_PATH))
            << length;
        EXPECT_EQ(wide(dir), f.str()) << length;
    }
    const fs::path dir258 = pathOfLength(t / "258", 258);
    const std::wstring withSeparator = wide(dir258) + L"\\";
    Faulty f;
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE,
              cleanDirContent(withSeparator.c_str(), 0, f.path, MAX_PATH));
    EXPECT_EQ(withSeparator, f.str());

    const fs::path dir257 = pathOfLength(t / "257", 257);
    makeLongChain(dir257);
    EXPECT_EQ(0, cleanDirContent(wide(dir257).c_str(), 0, f.path, MAX_PATH));
}

// An entry whose joined path would pass 259 characters is named alone, also when the
// keep-directories flag would have left it in place; a sub-directory too long to list stops the
// cleaning of its parent with its own path.
TEST(CleanDirContent, EntryTooLongGives206WithTheNameAlone) {
    TempDir t;
    const fs::path dir = pathOfLength(t / "e", 250);
    makeLongChain(dir);
    makeLongDirectory(dir / "123456789"); // 250 + 1 + 9 = 260
    for (int keepDirs : {0, 1}) {
        Faulty f;
        EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE,
                  cleanDirContent(wide(dir).c_str(), keepDirs, f.path, MAX_PATH));
        EXPECT_EQ(L"123456789", f.str());
    }
    const fs::path sub = pathOfLength(t / "s", 258);
    makeLongChain(sub);
    Faulty f;
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE,
              cleanDirContent(wide(t / "s").c_str(), 0, f.path, MAX_PATH));
    EXPECT_EQ(entryBelow(t / "s", sub), f.str());
}

TEST(RemoveDirTree, RemovesTheTreeAndTheDirectory) {
    TempDir t;
    makeTree(t / "d");
    Faulty f;
    EXPECT_EQ(0, removeDirTree(wide(t / "d").c_str(), 0, f.path, MAX_PATH));
    EXPECT_FALSE(fs::exists(t / "d"));
}

TEST(RemoveDirTree, MissingPathGives2AndFileGives267) {
    TempDir t;
    Faulty f;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, removeDirTree(wide(t / "no").c_str(), 0, f.path, MAX_PATH));
    EXPECT_EQ(wide(t / "no"), f.str());
    writeFile(t / "file", "kept");
    Faulty f2;
    EXPECT_EQ(ERROR_DIRECTORY, removeDirTree(wide(t / "file").c_str(), 0, f2.path, MAX_PATH));
    EXPECT_EQ(wide(t / "file"), f2.str());
    EXPECT_EQ("kept", readFile(t / "file"));
}

TEST(CleanDirContent, ReadOnlyFileDeepInsideStopsTheCleaningOnWindows) {
    if (!onWindows)
        GTEST_SKIP() << "POSIX deletes by the directory's permissions; see the injected refusal";
    TempDir t;
    makeTree(t / "d");
    writeFile(t / "d" / "a" / "b" / "c" / "locked", "kept");
    makeReadOnly(t / "d" / "a" / "b" / "c" / "locked");
    size_t handlesBefore = openHandles();
    Faulty f;
    EXPECT_EQ(ERROR_ACCESS_DENIED, cleanDirContent(wide(t / "d").c_str(), 0, f.path, MAX_PATH));
    EXPECT_EQ(wide(t / "d") + L"\\a\\b\\c\\locked", f.str());
    EXPECT_EQ("kept", readFile(t / "d" / "a" / "b" / "c" / "locked"));
    EXPECT_EQ(handlesBefore, openHandles());
}

// ---------------------------------------------------------------------------------------------
// Links inside the tree: removed as links, never followed.

TEST(CleanDirContent, LinksInsideAreRemovedAndTheirTargetsKeepTheirContent) {
    if (!canMakeLinks())
        GTEST_SKIP() << "needs symbolic links, which the tests do not make under Wine";
    for (int keepDirs : {0, 1}) {
        TempDir t;
        Sentinels outside(t / "outside");
        makeTree(t / "d");
        linkDirectory(outside.dir, t / "d" / "dirlink");
        linkDirectory(outside.dir, t / "d" / "a" / "nested-dirlink");
        linkFile(outside.dir / "keep.txt", t / "d" / "filelink");
        linkDirectory(t / "nowhere", t / "d" / "dangling");
        linkFile(t / "d" / "dirlink", t / "d" / "a" / "link-to-link");
        Faulty f;
        EXPECT_EQ(0, cleanDirContent(wide(t / "d").c_str(), keepDirs, f.path, MAX_PATH))
            << "keepDirs " << keepDirs;
        outside.expectIntact();
        if (keepDirs) {
            // files and file links go; directories, directory links and dangling links stay
            EXPECT_EQ((std::vector<std::string>{"a", "dangling", "dirlink", "empty"}),
                      listNames(t / "d"));
            EXPECT_TRUE(fs::is_symlink(t / "d" / "dirlink"));
        } else {
            EXPECT_TRUE(listNames(t / "d").empty());
        }
    }
}

TEST(CleanDirContent, LinkGivenAsThePathCleansItsTarget) {
    if (!canMakeLinks())
        GTEST_SKIP() << "needs symbolic links, which the tests do not make under Wine";
    TempDir t;
    makeTree(t / "target");
    linkDirectory(t / "target", t / "link");
    Faulty f;
    EXPECT_EQ(0, cleanDirContent(wide(t / "link").c_str(), 0, f.path, MAX_PATH));
    EXPECT_TRUE(fs::is_symlink(t / "link"));
    EXPECT_TRUE(listNames(t / "target").empty());
}

TEST(CreateCleanDir, MakesAMissingDirectoryAndCleansAnExistingOne) {
    TempDir t;
    Faulty f;
    EXPECT_EQ(0, createCleanDir(wide(t / "new" / "dir").c_str(), 1, 0, f.path, MAX_PATH));
    EXPECT_TRUE(fs::is_directory(t / "new" / "dir"));
    makeTree(t / "old");
    EXPECT_EQ(0, createCleanDir(wide(t / "old").c_str(), 1, 0, f.path, MAX_PATH));
    EXPECT_TRUE(listNames(t / "old").empty());
    Faulty f2;
    EXPECT_EQ(ERROR_INVALID_DRIVE, createCleanDir(L"", 1, 0, f2.path, MAX_PATH));
}

// ---------------------------------------------------------------------------------------------
// Failures the file system does not produce on cue: injected into the POSIX layer.

#if !defined(_WIN32)
// The unlinks of files (not the removal of directories) whose last name is name.
PosixFaults::Condition unlinkOfFile(std::string name) {
    return [name](const PosixCallArgs& made) {
        const std::string path = made.path;
        return made.flags == 0 && path.substr(path.rfind('/') + 1) == name;
    };
}
#endif

TEST(InjectedFault, RefusedDeletionDeepInsideStopsTheCleaning) {
#if defined(_WIN32)
    GTEST_SKIP() << "faults are injected through the POSIX layer; Windows has its read-only test";
#else
    TempDir t;
    makeTree(t / "d");
    writeFile(t / "d" / "a" / "b" / "c" / "locked", "kept");
    PosixFaults faults;
    faults.fail(PosixCall::unlinkat, 0, EACCES, unlinkOfFile("locked"));
    size_t handlesBefore = openHandles();
    Faulty f;
    EXPECT_EQ(ERROR_ACCESS_DENIED, cleanDirContent(wide(t / "d").c_str(), 0, f.path, MAX_PATH));
    EXPECT_EQ(wide(t / "d") + L"/a/b/c/locked", f.str());
    EXPECT_EQ("kept", readFile(t / "d" / "a" / "b" / "c" / "locked"));
    EXPECT_EQ(handlesBefore, openHandles());

    Faulty f2;
    writeFile(t / "locked", "kept");
    EXPECT_EQ(ERROR_ACCESS_DENIED, createDir(wide(t / "locked").c_str(), 1, f2.path, MAX_PATH));
    EXPECT_EQ(wide(t / "locked"), f2.str());
    EXPECT_EQ("kept", readFile(t / "locked"));
#endif
}

TEST(InjectedFault, EnumerationEndingWithAnotherNumberIsReportedWithTheDirectory) {
#if defined(_WIN32)
    GTEST_SKIP() << "faults are injected through the POSIX layer";
#else
    TempDir t;
    makeTree(t / "d");
    PosixFaults faults;
    faults.fail(PosixCall::readdir, 2, EIO); // the first read of the top directory works
    size_t handlesBefore = openHandles();
    Faulty f;
    int result = cleanDirContent(wide(t / "d").c_str(), 1, f.path, MAX_PATH);
    EXPECT_EQ(1117, result); // ERROR_IO_DEVICE, from EIO
    EXPECT_EQ(wide(t / "d"), f.str());
    EXPECT_EQ(handlesBefore, openHandles());
#endif
}

// Each call of the layer failing in turn, in each operation, on a tree of one entry a level
// (d/a/file) with sentinels beside it: the number returned (never the stale one set before),
// the faulty path, and everything that stands afterwards. A fault that the operation gets over
// leaves what success leaves; one that stops it keeps everything it had not removed yet, and
// nothing beside the tree is touched. The calls are counted as the layer makes them today:
//   createDir d/new/leaf:        statx fstatat statx fstatat statx fstatat statx mkdirat mkdirat
//   createDir d/a/file (a file): statx unlinkat statx fstatat statx mkdirat
//   cleanDirContent d:           statx openat statx readdir statx openat statx readdir unlinkat
//                                readdir close unlinkat readdir close
// (each directory opened is checked through its descriptor with a statx of its own).
//   removeDirTree d:             statx, then as cleanDirContent, then unlinkat d
#if !defined(_WIN32)
enum class Operation { CreateDir, ReplaceFile, CleanDirContent, RemoveDirTree };

struct FaultRow {
    Operation operation;
    PosixCall call;
    unsigned nth;
    int err;
    DWORD result;
    std::wstring faulty; // after the scene's own path; empty: none
    // What stands below the scene afterwards besides the sentinels, as before the call; a name
    // ending in '/' is a directory the operation made.
    std::vector<std::string> left;
};

DWORD runOperation(Operation operation, const fs::path& scene, wchar_t* faulty) {
    switch (operation) {
    case Operation::CreateDir:
        return createDir(wide(scene / "d" / "new" / "leaf").c_str(), 0, faulty, MAX_PATH);
    case Operation::ReplaceFile:
        return createDir(wide(scene / "d" / "a" / "file").c_str(), 1, faulty, MAX_PATH);
    case Operation::CleanDirContent:
        return cleanDirContent(wide(scene / "d").c_str(), 0, faulty, MAX_PATH);
    case Operation::RemoveDirTree:
        return removeDirTree(wide(scene / "d").c_str(), 0, faulty, MAX_PATH);
    }
    return 0;
}
#endif

TEST(InjectedFault, EachCallFailingInTurnStopsOrIsGotOverAndTouchesNothingElse) {
#if defined(_WIN32)
    GTEST_SKIP() << "faults are injected through the POSIX layer";
#else
    using enum Operation;
    using enum PosixCall;
    const std::vector<std::string> untouched = {"d", "d/a", "d/a/file"};
    const std::vector<std::string> created = {"d", "d/a", "d/a/file", "d/new/", "d/new/leaf/"};
    const std::vector<std::string> replaced = {"d", "d/a", "d/a/file/"};
    const std::vector<std::string> cleaned = {"d"};
    const std::vector<std::string> removed = {};
    const std::vector<std::string> fileGone = {"d", "d/a"};
    const FaultRow rows[] = {
        // A failed look at a level is got over by the next one; the parent's makes it count as
        // missing, and making it then meets the directory there (183).
        {CreateDir, statx, 1, EIO, 0, L"", created},
        {CreateDir, fstatat, 1, EIO, 0, L"", created},
        {CreateDir, statx, 2, EIO, 0, L"", created},
        {CreateDir, fstatat, 2, EIO, 0, L"", created},
        {CreateDir, statx, 3, EIO, 0, L"", created},
        {CreateDir, fstatat, 3, EIO, 0, L"", created},
        {CreateDir, statx, 4, EIO, ERROR_ALREADY_EXISTS, L"/d", untouched},
        {CreateDir, mkdirat, 1, EACCES, ERROR_ACCESS_DENIED, L"/d/new", untouched},
        {CreateDir,
         mkdirat,
         2,
         EACCES,
         ERROR_ACCESS_DENIED,
         L"/d/new/leaf",
         {"d", "d/a", "d/a/file", "d/new/"}},
        // The file goes first; a failure after that leaves its place empty. When the first look
        // at the path fails, the next one finds the file: it stays, and is reported as in the
        // way (never success with a file where the directory was to be).
        {ReplaceFile, statx, 1, EIO, ERROR_FILE_EXISTS, L"/d/a/file", untouched},
        {ReplaceFile, unlinkat, 1, EBUSY, ERROR_SHARING_VIOLATION, L"/d/a/file", untouched},
        {ReplaceFile, statx, 2, EIO, 0, L"", replaced},
        {ReplaceFile, fstatat, 1, EIO, 0, L"", replaced},
        {ReplaceFile, statx, 3, EIO, ERROR_ALREADY_EXISTS, L"/d/a", fileGone},
        {ReplaceFile, mkdirat, 1, EACCES, ERROR_ACCESS_DENIED, L"/d/a/file", fileGone},
        // A directory that cannot be opened or read from its start is reported as not found
        // with its search pattern; a failure later names the entry or the directory.
        {CleanDirContent, statx, 1, EIO, 0, L"", cleaned},
        {CleanDirContent, openat, 1, EMFILE, ERROR_FILE_NOT_FOUND, L"/d/*", untouched},
        {CleanDirContent, statx, 2, EIO, ERROR_FILE_NOT_FOUND, L"/d/*", untouched},
        {CleanDirContent, readdir, 1, EIO, ERROR_FILE_NOT_FOUND, L"/d/*", untouched},
        {CleanDirContent, statx, 3, EIO, ERROR_IO_DEVICE, L"/d/a", untouched},
        {CleanDirContent, openat, 2, EMFILE, ERROR_FILE_NOT_FOUND, L"/d/a/*", untouched},
        {CleanDirContent, statx, 4, EIO, ERROR_FILE_NOT_FOUND, L"/d/a/*", untouched},
        {CleanDirContent, readdir, 2, EIO, ERROR_FILE_NOT_FOUND, L"/d/a/*", untouched},
        {CleanDirContent, unlinkat, 1, EBUSY, ERROR_SHARING_VIOLATION, L"/d/a/file", untouched},
        {CleanDirContent, readdir, 3, EIO, ERROR_IO_DEVICE, L"/d/a", fileGone},
        {CleanDirContent, close, 1, EIO, 0, L"", cleaned},
        {CleanDirContent, unlinkat, 2, EBUSY, ERROR_SHARING_VIOLATION, L"/d/a", fileGone},
        {CleanDirContent, readdir, 4, EIO, ERROR_IO_DEVICE, L"/d", cleaned},
        {CleanDirContent, close, 2, EIO, 0, L"", cleaned},
        {RemoveDirTree, statx, 1, EIO, ERROR_FILE_NOT_FOUND, L"/d", untouched},
        {RemoveDirTree, statx, 2, EIO, 0, L"", removed},
        {RemoveDirTree, openat, 1, EMFILE, ERROR_FILE_NOT_FOUND, L"/d/*", untouched},
        {RemoveDirTree, statx, 3, EIO, ERROR_FILE_NOT_FOUND, L"/d/*", untouched},
        {RemoveDirTree, readdir, 1, EIO, ERROR_FILE_NOT_FOUND, L"/d/*", untouched},
        {RemoveDirTree, statx, 4, EIO, ERROR_IO_DEVICE, L"/d/a", untouched},
        {RemoveDirTree, openat, 2, EMFILE, ERROR_FILE_NOT_FOUND, L"/d/a/*", untouched},
        {RemoveDirTree, statx, 5, EIO, ERROR_FILE_NOT_FOUND, L"/d/a/*", untouched},
        {RemoveDirTree, readdir, 2, EIO, ERROR_FILE_NOT_FOUND, L"/d/a/*", untouched},
        {RemoveDirTree, unlinkat, 1, EBUSY, ERROR_SHARING_VIOLATION, L"/d/a/file", untouched},
        {RemoveDirTree, readdir, 3, EIO, ERROR_IO_DEVICE, L"/d/a", fileGone},
        {RemoveDirTree, close, 1, EIO, 0, L"", removed},
        {RemoveDirTree, unlinkat, 2, EBUSY, ERROR_SHARING_VIOLATION, L"/d/a", fileGone},
        {RemoveDirTree, readdir, 4, EIO, ERROR_IO_DEVICE, L"/d", cleaned},
        {RemoveDirTree, close, 2, EIO, 0, L"", removed},
        {RemoveDirTree, unlinkat, 3, EBUSY, ERROR_SHARING_VIOLATION, L"/d", cleaned},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const FaultRow& row = rows[i];
        const std::string name = "row " + std::to_string(i) + " (" + std::string(nameOf(row.call)) +
                                 " " + std::to_string(row.nth) + ")";
        TempDir t;
        fs::create_directories(t / "d" / "a");
        writeFile(t / "d" / "a" / "file", "in the tree");
        writeFile(t / "beside.txt", "sentinel");
        fs::create_directory(t / "sib");
        writeFile(t / "sib" / "keep", "sentinel too");
        const safety::TreeState before = safety::readTree(t.path());
        const size_t handlesBefore = openHandles();
        Faulty f;
        DWORD result;
        {
            PosixFaults faults;
            faults.fail(row.call, row.nth, row.err);
            SetLastError(0xdeadbeef); // a stale number must never come back as the result
            result = runOperation(row.operation, t.path(), f.path);
        }
        EXPECT_EQ(row.result, result) << name;
        EXPECT_EQ(row.faulty.empty() ? L"" : wide(t.path()) + row.faulty, f.str()) << name;
        EXPECT_EQ(handlesBefore, openHandles()) << name;
        safety::TreeState expected = safety::without(before, "d");
        for (const std::string& entry : row.left) {
            if (entry.back() == '/')
                expected[entry.substr(0, entry.size() - 1)] = safety::Entry{'d', "", false};
            else
                expected[entry] = before.at(entry);
        }
        EXPECT_EQ("", safety::differences(expected, safety::readTree(t.path()))) << name;
    }
#endif
}

} // namespace
