// The prepFolder command as a process: exit codes and the exact bytes on both streams.
#include "prepFolder/prepFolder.h"

#include "testkit/testkit.h"
#include "version.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

using namespace testkit;

const char kUsage[] =
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

const char kDefaultTail[] =
    ". See https://learn.microsoft.com/windows/win32/debug/system-error-codes--0-499-\n";

ProcessResult prepFolder(const std::vector<std::string>& args, const fs::path& workDir = {}) {
    return run("prepFolder", args, workDir);
}

void expectResult(const ProcessResult& r, int exitCode, const std::string& out,
                  const std::string& err) {
    EXPECT_EQ(exitCode, r.exitCode);
    EXPECT_EQ(lines(out), r.out);
    EXPECT_EQ(lines(err), r.err);
}

// A directory with files and sub-directories, for checking what an argument leaves in place.
fs::path filledDir(const TempDir& t) {
    fs::create_directories(t / "d" / "sub");
    writeFile(t / "d" / "file");
    writeFile(t / "d" / "sub" / "inner");
    return t / "d";
}

TEST(PrepFolderCommand, UsageForNoOrEmptyFirstArgument) {
    for (const auto& args : std::vector<std::vector<std::string>>{{}, {""}, {"", "-D"}, {"", "x"}})
        expectResult(prepFolder(args), 0, kUsage, "");
}

TEST(PrepFolderCommand, LeadingBlankIsAnArgumentError) {
    expectResult(prepFolder({" x", "-D"}), 2, "", "ERROR argument 1 is empty >> x<<\n");
    expectResult(prepFolder({"  "}), 2, "", "ERROR argument 1 is empty >>  <<\n");
}

TEST(PrepFolderCommand, SecondArgumentOtherThanDashDIsAnArgumentError) {
    TempDir t;
    const fs::path d = filledDir(t);
    for (const std::string bad : {"-d", "-DD", "-D ", " -D", "x", "--D", "-"}) {
        expectResult(prepFolder({d.string(), bad}), 2, "", "ERROR invalide argument " + bad + "\n");
    }
    EXPECT_EQ((std::vector<std::string>{"file", "sub"}), listNames(d));
}

TEST(PrepFolderCommand, IgnoredSecondArgumentsCleanEverything) {
    for (const std::string ignored : {"", "---", "---D", "----anything"}) {
        TempDir t;
        const fs::path d = filledDir(t);
        expectResult(prepFolder({d.string(), ignored}), 0, "", "");
        EXPECT_TRUE(listNames(d).empty()) << ignored;
    }
}

TEST(PrepFolderCommand, DashDKeepsDirectoriesAndTheThirdArgumentIsNeverLookedAt) {
    TempDir t;
    const fs::path d = filledDir(t);
    expectResult(prepFolder({d.string(), "-D", "-X"}), 0, "", "");
    EXPECT_EQ(std::vector<std::string>{"sub"}, listNames(d));
    EXPECT_EQ(std::vector<std::string>{"inner"}, listNames(d / "sub"));
}

TEST(PrepFolderCommand, TabIsNotABlank) {
    TempDir t;
    // The path passes the blank test; as a relative path whose first component is missing it
    // then fails with 15 (never with the argument error 2).
    ProcessResult r = prepFolder({"\tx"}, t.path());
    EXPECT_EQ(1, r.exitCode);
    EXPECT_EQ("", r.out);
    EXPECT_EQ(lines("ERROR >prepFolder \tx (null)ERROR on clean directory tree, Windows error: "
                    "15: \tx" +
                    std::string(kDefaultTail)),
              r.err);
}

TEST(PrepFolderCommand, PathOf260CharactersIsTooLong) {
    TempDir t;
    expectResult(prepFolder({std::string(260, 'p')}, t.path()), 2, "",
                 "ERROR invalid link path length\n");
    ProcessResult r = prepFolder({std::string(259, 'p')}, t.path());
    EXPECT_EQ(1, r.exitCode); // accepted; fails later as a relative path with nothing of it there
    EXPECT_EQ("", r.out);
}

TEST(PrepFolderCommand, SuccessPrintsNothing) {
    TempDir t;
    expectResult(prepFolder({(t / "new" / "deeper").string()}), 0, "", "");
    EXPECT_TRUE(fs::is_directory(t / "new" / "deeper"));
    const fs::path d = filledDir(t);
    expectResult(prepFolder({d.string()}), 0, "", "");
    EXPECT_TRUE(listNames(d).empty());
}

TEST(PrepFolderCommand, FileAtThePathIsReplacedByAnEmptyDirectory) {
    TempDir t;
    writeFile(t / "f", "old");
    expectResult(prepFolder({(t / "f").string()}), 0, "", "");
    EXPECT_TRUE(fs::is_directory(t / "f"));
    EXPECT_TRUE(listNames(t / "f").empty());
}

TEST(PrepFolderCommand, RelativePathNeedsItsFirstComponentAndSingleFileSurvives) {
    TempDir t;
    expectResult(prepFolder({"out"}, t.path()), 1, "",
                 "ERROR >prepFolder out (null)ERROR on clean directory tree, Windows error: 15: "
                 "out" +
                     std::string(kDefaultTail));
    EXPECT_FALSE(fs::exists(t / "out"));
    expectResult(prepFolder({"./out"}, t.path()), 0, "", "");
    EXPECT_TRUE(fs::is_directory(t / "out"));

    writeFile(t / "f", "precious");
    expectResult(prepFolder({"f", "-D"}, t.path()), 1, "",
                 "ERROR >prepFolder f -DERROR on clean directory tree, Windows error: 15: f" +
                     std::string(kDefaultTail));
    EXPECT_EQ("precious", readFile(t / "f"));
}

TEST(PrepFolderCommand, DirectoryTooLongToListIsReportedWith206) {
    TempDir t;
    fs::path dir = t.path();
    while (wide(dir).size() + 1 < 258) {
        size_t rest = 258 - wide(dir).size() - 1;
        dir /= std::string(rest > 60 ? 60 : rest, 'd');
        makeLongDirectory(dir);
    }
    ASSERT_EQ(258u, wide(dir).size());
    expectResult(prepFolder({dir.string()}), 1, "",
                 "ERROR >prepFolder " + dir.string() +
                     " (null)ERROR on clean directory tree, File name is too long, truncated even "
                     "here: " +
                     dir.string() + "\n");
}

TEST(PrepFolderCommand, TargetsOfLinksInsideKeepTheirContent) {
    if (!canMakeLinks())
        GTEST_SKIP() << "needs symbolic links, which the tests do not make under Wine";
    for (const std::vector<std::string>& options : {std::vector<std::string>{}, {"-D"}}) {
        TempDir t;
        fs::create_directories(t / "outside" / "sub");
        writeFile(t / "outside" / "data", "sentinel");
        writeFile(t / "outside" / "sub" / "more", "sentinel too");
        const auto before = snapshot(t / "outside");
        const fs::path d = filledDir(t);
        linkDirectory(t / "outside", d / "dirlink");
        linkDirectory(t / "outside", d / "sub" / "deeplink");
        linkFile(t / "outside" / "data", d / "filelink");
        linkDirectory(t / "missing", d / "dangling");
        std::vector<std::string> args = {d.string()};
        args.insert(args.end(), options.begin(), options.end());
        expectResult(prepFolder(args), 0, "", "");
        EXPECT_EQ(before, snapshot(t / "outside"));
        if (options.empty())
            EXPECT_TRUE(listNames(d).empty());
        else
            EXPECT_EQ((std::vector<std::string>{"dangling", "dirlink", "sub"}), listNames(d));
    }
}

TEST(PrepFolderCommand, ReadOnlyFileIsReportedWithItsPathOnWindows) {
    if (!onWindows)
        GTEST_SKIP() << "POSIX deletes by the directory's permissions; see the injected refusal";
    TempDir t;
    const fs::path d = filledDir(t);
    writeFile(d / "sub" / "ro", "kept");
    makeReadOnly(d / "sub" / "ro");
    const std::string faulty = (d / "sub").string() + "\\ro";
    expectResult(prepFolder({d.string(), "---"}), 1, "",
                 "ERROR >prepFolder " + d.string() +
                     " ---ERROR on clean directory tree, Windows error: 5: " + faulty +
                     kDefaultTail);
    EXPECT_EQ("kept", readFile(d / "sub" / "ro"));
}

// The report of a refused deletion, through the command function itself.
TEST(PrepFolderCommand, RefusedDeletionIsReported) {
#if defined(_WIN32)
    GTEST_SKIP() << "faults are injected through the POSIX layer; Windows has its read-only test";
#else
    TempDir t;
    const fs::path d = filledDir(t);
    const std::string path = d.string();
    PosixFaults faults;
    faults.fail(PosixCall::unlinkat, 0, EPERM,
                [](const PosixCallArgs& made) { return made.flags == 0; }); // files only
    const ProcessResult r = call(createCleanDirCmd, {path});
    const std::string& err = r.err;
    EXPECT_EQ(1, r.exitCode);
    EXPECT_EQ("", r.out);
    // The entry order is the file system's: whichever file came first is named.
    const std::string head =
        "ERROR >prepFolder " + path + " (null)ERROR on clean directory tree, Windows error: 5: ";
    ASSERT_EQ(head, err.substr(0, head.size()));
    const std::string named =
        err.substr(head.size(), err.size() - head.size() - std::string(kDefaultTail).size());
    EXPECT_TRUE(named == path + "/file" || named == path + "/sub/inner") << named;
    EXPECT_EQ(kDefaultTail, err.substr(err.size() - std::string(kDefaultTail).size()));
#endif
}

// A root is refused in every spelling before anything is touched: an unset variable in front of
// a separator must never empty a drive. Never tried on this machine's real root: on POSIX every
// file-system call of the layer fails and is counted meanwhile, so that a refusal that did not
// hold could still change nothing; under Wine on the root of a spare drive letter.
#if !defined(_WIN32)
// The command run with the file system out of reach: every call of the layer fails (and is
// recorded in calls).
ProcessResult prepFolderSealed(const std::string& argument, std::vector<std::string>& calls) {
    PosixFaults faults;
    faults.failEverything(EPERM);
    ProcessResult r = call(createCleanDirCmd, {argument});
    calls = faults.calls();
    return r;
}
#endif

TEST(PrepFolderCommand, RootIsRefusedInEverySpelling) {
#if defined(_WIN32)
    TempDir t;
    writeFile(t / "sentinel.txt", "keep");
    fs::create_directory(t / "sub");
    SpareDrive drive(t.path());
    // A share root needs no share: it is refused by its text.
    for (const std::string share :
         {"\\\\server\\share\\", "//server/share", "\\\\server\\share\\."})
        expectResult(prepFolder({share}), 2, "",
                     "ERROR root directory is not cleaned >>" + share + "<<\n");
    if (!drive.letter())
        GTEST_SKIP() << "needs a spare drive letter, made here only under Wine";
    const std::string d(1, drive.letter());
    const std::vector<std::pair<std::string, fs::path>> spellings = {
        {d + ":\\", {}},        {d + ":/", {}},        {d + ":\\.", {}},
        {d + ":\\sub\\..", {}}, {d + ":/sub/../", {}}, {"\\", d + ":\\sub"}};
    for (const auto& [spelling, workDir] : spellings) {
        expectResult(prepFolder({spelling}, workDir), 2, "",
                     "ERROR root directory is not cleaned >>" + spelling + "<<\n");
        EXPECT_EQ("keep", readFile(t / "sentinel.txt")) << spelling;
        EXPECT_TRUE(fs::is_directory(t / "sub")) << spelling;
    }
#else
    std::vector<std::string> calls;
    for (const std::string spelling :
         {"/", "//", "///", "/.", "/..", "/./..", "\\", "\\\\", "/tmp/..", "/tmp/../",
          "\\\\server\\share\\", "//server/share/."}) {
        const ProcessResult r = prepFolderSealed(spelling, calls);
        EXPECT_EQ(2, r.exitCode) << spelling;
        EXPECT_EQ("", r.out);
        EXPECT_EQ("ERROR root directory is not cleaned >>" + spelling + "<<\n", r.err);
        EXPECT_EQ(std::vector<std::string>{}, calls)
            << spelling << ": refused only after touching the file system";
    }
    // The seal holds: a path that is no root by its text reaches the file system, where what it
    // leads to cannot be told; it is refused, and nothing changes.
    const ProcessResult r = prepFolderSealed("/tmp/treeprep-sealed/x", calls);
    EXPECT_EQ(2, r.exitCode);
    EXPECT_EQ("ERROR cannot tell whether the path leads to a root directory, nothing is cleaned "
              ">>/tmp/treeprep-sealed/x<<\n",
              r.err);
    EXPECT_FALSE(calls.empty());
    EXPECT_FALSE(fs::exists("/tmp/treeprep-sealed"));
#endif
}

} // namespace
