// A root is never cleaned, however the path reaches it: through a link, a spelling that the
// full-path function does not know, or from a current directory that is gone or deeper than the
// text of a full path used to reach. Never tried on this machine's own root: on POSIX each case
// runs in a forked child whose "/" is a private directory (chroot, in a mount namespace of its
// own), on Windows under Wine on a spare drive letter whose root is a private directory.
// Sentinels there and a digest of the whole tree show that nothing changed.
#include "mountDir/mountDir.h"
#include "platform/platform.h"
#include "prepFolder/prepFolder.h"
#include "safety/treeState.h"
#include "testkit/testkit.h"

#include <gtest/gtest.h>

#include <functional>

#if !defined(_WIN32)
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using namespace testkit;
using safety::TreeState;

const std::string kRootRefused = "ERROR root directory is not cleaned >>";
const std::string kCannotTell =
    "ERROR cannot tell whether the path leads to a root directory, nothing is cleaned >>";

// A private directory standing in for a root, with sentinels: files, a sub-directory and a
// read-only file, so that any cleaning of it shows.
void plantSentinels(const fs::path& root) {
    fs::create_directories(root);
    writeFile(root / "keep.txt", "keep");
    fs::create_directories(root / "sub" / "deeper");
    writeFile(root / "sub" / "deeper" / "deep.txt", "deep");
    writeFile(root / "zz-last.txt", "last");
}

#if !defined(_WIN32)

// The exit code of a child that could not be made the root's own: the test is then skipped.
constexpr int kNoChroot = 125;
// The exit code of a step of a child's own preparation that failed.
constexpr int kSetUpFailed = 124;

struct ChildResult {
    int exitCode = -1;
    std::string err; // what the child wrote to standard error
};

void writeProcFile(const char* path, const std::string& text) {
    int fd = open(path, O_WRONLY);
    if (fd >= 0) {
        (void)!write(fd, text.data(), text.size());
        close(fd);
    }
}

// Makes root the child's "/": a mount namespace of its own where allowed (so that mounts made
// there go with it), then chroot; without the right to chroot, inside a user namespace.
// The system's /proc is bound into root/proc, where that directory stands, for the calls that
// read it (the final path of an open descriptor).
bool becomeRoot(const fs::path& root) {
    if (unshare(CLONE_NEWNS) == 0 &&
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
        fs::is_directory(root / "proc"))
        mount("/proc", (root / "proc").c_str(), nullptr, MS_BIND | MS_REC, nullptr);
    if (chroot(root.c_str()) != 0) {
        const uid_t uid = getuid();
        const gid_t gid = getgid();
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return false;
        writeProcFile("/proc/self/setgroups", "deny");
        writeProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
        writeProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
        if (chroot(root.c_str()) != 0)
            return false;
    }
    return chdir("/") == 0;
}

// Runs body in a forked child whose "/" is root; its result is the child's exit code. Only
// plain calls in the child: no test macros, no heap-hungry captures.
ChildResult inChroot(const fs::path& root, const std::function<int()>& body) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return {};
    fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        close(pipeFds[0]);
        dup2(pipeFds[1], STDERR_FILENO);
        if (!becomeRoot(root)) {
            fprintf(stderr, "cannot make a directory the root here: %s", strerror(errno));
            _exit(kNoChroot);
        }
        const int code = body();
        fflush(nullptr);
        _exit(code);
    }
    close(pipeFds[1]);
    ChildResult result;
    char buffer[512];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        result.err.append(buffer, static_cast<size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    return result;
}

int prepFolderHere(const std::vector<std::string>& args) {
    Argv argv("prepFolder", args);
    return createCleanDirCmd(argv.argc(), argv.argv());
}

int mountDirHere(const std::vector<std::string>& args) {
    Argv argv("mountDir", args);
    return mountDirCmd(argv.argc(), argv.argv());
}

// Goes down count new levels named name, one relative step at a time, as a deep build does.
bool descend(int count, const std::string& name) {
    for (int i = 0; i < count; ++i)
        if (mkdir(name.c_str(), 0755) != 0 || chdir(name.c_str()) != 0)
            return false;
    return true;
}

// Climbs count levels named name back up, removing each: a tree too deep for paths to remove.
void ascendRemoving(int count, const std::string& name) {
    for (int i = 0; i < count; ++i)
        if (chdir("..") != 0 || rmdir(name.c_str()) != 0)
            return;
}

std::string repeated(const std::string& text, int count) {
    std::string all;
    for (int i = 0; i < count; ++i)
        all += text;
    return all;
}

struct Row {
    const char* name;
    // Runs in the child, with "/" the private root: prepares what it needs below /a and runs the
    // command; returns its exit code (kSetUpFailed where the preparation failed).
    std::function<int()> body;
    int exitCode;
    std::string message; // the whole of standard error
};

int setUp(bool done) {
    return done ? 0 : kSetUpFailed;
}

// The four ways from a root's own tree, and their neighbours.
const std::vector<Row>& rows() {
    static const std::vector<Row> kRows = {
        // A removed current directory: no full path, so nothing can be told.
        {"removed current directory, prepFolder ../../..",
         [] {
             if (setUp(mkdir("/a/b", 0755) == 0 && mkdir("/a/b/gone", 0755) == 0 &&
                       chdir("/a/b/gone") == 0 && rmdir("/a/b/gone") == 0) != 0)
                 return kSetUpFailed;
             return prepFolderHere({"../../.."});
         },
         2, kCannotTell + "../../..<<\n"},
        {"removed current directory, prepFolder ../../.. -D",
         [] {
             if (setUp(mkdir("/a/b", 0755) == 0 && mkdir("/a/b/gone", 0755) == 0 &&
                       chdir("/a/b/gone") == 0 && rmdir("/a/b/gone") == 0) != 0)
                 return kSetUpFailed;
             return prepFolderHere({"../../..", "-D"});
         },
         2, kCannotTell + "../../..<<\n"},
        // /a and 83 levels of 12 characters (1,081 characters) and 84 times "../": the full
        // path is "/", however long the way to it.
        {"current directory of 1,081 characters, prepFolder 84 times ../",
         [] {
             if (setUp(chdir("/a") == 0 && descend(83, "level-of-12c")) != 0)
                 return kSetUpFailed;
             return prepFolderHere({repeated("../", 84)});
         },
         2, kRootRefused + repeated("../", 84) + "<<\n"},
        {"current directory of 1,081 characters, prepFolder 84 times ../ -D",
         [] {
             if (setUp(chdir("/a") == 0 && descend(83, "level-of-12c")) != 0)
                 return kSetUpFailed;
             return prepFolderHere({repeated("../", 84), "-D"});
         },
         2, kRootRefused + repeated("../", 84) + "<<\n"},
        // Longer than any current directory the system names: nothing can be told.
        {"current directory beyond 4,096 bytes, prepFolder 86 times ../",
         [] {
             if (setUp(chdir("/a") == 0 && descend(330, "level-of-12c")) != 0)
                 return kSetUpFailed;
             int code = prepFolderHere({repeated("../", 86)});
             ascendRemoving(330, "level-of-12c");
             return code;
         },
         2, kCannotTell + repeated("../", 86) + "<<\n"},
        // Links to the root, in the spellings that reach it.
        {"link to the root, prepFolder /a/rl",
         [] {
             if (setUp(symlink("/", "/a/rl") == 0) != 0)
                 return kSetUpFailed;
             return prepFolderHere({"/a/rl"});
         },
         2, kRootRefused + "/a/rl<<\n"},
        {"link to the root with a separator at its end, prepFolder /a/rl/ -D",
         [] {
             if (setUp(symlink("/", "/a/rl") == 0) != 0)
                 return kSetUpFailed;
             return prepFolderHere({"/a/rl/", "-D"});
         },
         2, kRootRefused + "/a/rl/<<\n"},
        {"relative link to the root through another link, prepFolder a/up/.",
         [] {
             if (setUp(symlink("..", "/a/parent") == 0 && symlink("parent", "/a/up") == 0 &&
                       chdir("/") == 0) != 0)
                 return kSetUpFailed;
             return prepFolderHere({"a/up/."});
         },
         2, kRootRefused + "a/up/.<<\n"},
        // mountDir makes a link to "/" at its link path; prepFolder is then given that path.
        {"link made by mountDir to the root, prepFolder /a/stage",
         [] {
             if (mountDirHere({"/a/stage", "/"}) != 0)
                 return kSetUpFailed;
             return prepFolderHere({"/a/stage"});
         },
         2, kRootRefused + "/a/stage<<\n"},
        // mountDir -F on a link to the root: here the link is always seen as a link, and only
        // the link goes.
        {"link to the root with a separator at its end, mountDir -F",
         [] {
             if (setUp(symlink("/", "/a/rl") == 0 && mkdir("/a/target", 0755) == 0) != 0)
                 return kSetUpFailed;
             return mountDirHere({"/a/rl/", "/a/target", "-F"});
         },
         0, ""},
    };
    return kRows;
}

class RootFromItsOwnTree : public testing::TestWithParam<size_t> {};

TEST_P(RootFromItsOwnTree, IsNeverCleaned) {
    const Row& row = rows()[GetParam()];
    SCOPED_TRACE(row.name);
    TempDir t;
    const fs::path root = t / "root";
    plantSentinels(root);
    fs::create_directory(root / "a");
    fs::create_directory(root / "proc");
    const TreeState before = safety::readTree(root);
    const auto outsideA = [&root] { return safety::without(safety::readTree(root), "a"); };

    const ChildResult r = inChroot(root, row.body);

    if (r.exitCode == kNoChroot)
        GTEST_SKIP() << r.err;
    ASSERT_NE(kSetUpFailed, r.exitCode) << "the child's preparation failed: " << r.err;
    EXPECT_EQ(row.exitCode, r.exitCode);
    EXPECT_EQ(row.message, r.err);
    EXPECT_EQ("", safety::differences(safety::without(before, "a"), outsideA()))
        << "the root is to stay as it was";
}

INSTANTIATE_TEST_SUITE_P(Rows, RootFromItsOwnTree, testing::Range<size_t>(0, rows().size()),
                         [](const testing::TestParamInfo<size_t>& info) {
                             std::string name;
                             for (const char* c = rows()[info.param].name; *c; ++c)
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return name;
                         });

// The neighbour that stays allowed: a file system mounted below the root is no root, and is
// cleaned like any directory; so is a plain directory reached through a link.
TEST(RootFromItsOwnTree, MountedFileSystemAndLinkedDirectoryBelowItAreCleaned) {
    TempDir t;
    const fs::path root = t / "root";
    plantSentinels(root);
    fs::create_directories(root / "build");
    fs::create_directories(root / "plain" / "inner");
    writeFile(root / "plain" / "inner" / "x.txt");
    fs::create_symlink("plain", root / "toPlain");
    const TreeState before =
        safety::without(safety::without(safety::readTree(root), "build"), "plain");

    constexpr int kNoMount = 123;
    const ChildResult r = inChroot(root, [] {
        if (mount("tmpfs", "/build", "tmpfs", 0, nullptr) != 0)
            return kNoMount;
        int fd = open("/build/old.txt", O_CREAT | O_WRONLY, 0644);
        if (fd < 0 || close(fd) != 0 || mkdir("/build/sub", 0755) != 0)
            return kSetUpFailed;
        int mounted = prepFolderHere({"/build"});
        int linked = prepFolderHere({"/toPlain"});
        struct stat st;
        bool emptied = stat("/build/old.txt", &st) != 0 && stat("/build/sub", &st) != 0 &&
                       stat("/plain/inner", &st) != 0;
        umount2("/build", MNT_DETACH);
        return mounted == 0 && linked == 0 && emptied ? 0 : 1;
    });

    if (r.exitCode == kNoChroot)
        GTEST_SKIP() << r.err;
    if (r.exitCode == kNoMount)
        GTEST_SKIP() << "needs the right to mount a tmpfs in a namespace of its own";
    EXPECT_EQ(0, r.exitCode) << "both are to be cleaned, with exit 0: " << r.err;
    EXPECT_EQ("", safety::differences(
                      before,
                      safety::without(safety::without(safety::readTree(root), "build"), "plain")));
    EXPECT_TRUE(fs::is_directory(root / "plain"));
    EXPECT_TRUE(fs::is_empty(root / "plain"));
}

#else // Windows

// Whether the platform names the drive in the final path of its root yet. Wine refreshes the list
// of drives by which it names a file at most once a second: until then a new drive's root has the
// final path of the directory it stands for.
bool driveIsNamed(char letter) {
    const std::wstring root = widen(std::string(1, letter) + ":\\");
    for (int tries = 0; tries < 30; ++tries) {
        HANDLE h = CreateFileW(root.c_str(), 0, 7, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        wchar_t finalPath[MAX_PATH] = L"";
        if (h != INVALID_HANDLE_VALUE) {
            GetFinalPathNameByHandleW(h, finalPath, MAX_PATH, VOLUME_NAME_DOS);
            CloseHandle(h);
        }
        if (finalPath == L"\\\\?\\" + root)
            return true;
        Sleep(100);
    }
    return false;
}

// The drive letter's spellings: each reaches the root of the spare drive, and is refused.
TEST(RootOfASpareDrive, IsNeverCleanedWhateverSpellingReachesIt) {
    TempDir t;
    const fs::path root = t / "root";
    plantSentinels(root);
    SpareDrive drive(root);
    if (!drive.letter())
        GTEST_SKIP() << "needs a spare drive letter, made here only under Wine";
    ASSERT_TRUE(driveIsNamed(drive.letter()));
    const std::string d(1, drive.letter());
    const bool linked = makeHostDirectoryLink(root, root / "rl");
    const TreeState before = safety::readTree(root);

    struct Case {
        std::vector<std::string> args;
        std::string message; // "" where either refusal may be given
    };
    std::vector<Case> cases = {
        {{"\\??\\" + d + ":\\"}, kRootRefused + "\\??\\" + d + ":\\<<\n"},
        {{"\\??\\" + d + ":\\", "-D"}, kRootRefused + "\\??\\" + d + ":\\<<\n"},
        // Wine does not open an NT path with a slash: it cannot be told, and is refused.
        {{"\\??\\" + d + ":/"}, ""},
        {{"\\\\?\\" + d + ":\\"}, kRootRefused + "\\\\?\\" + d + ":\\<<\n"},
        {{"\\\\.\\" + d + ":\\", "-D"}, kRootRefused + "\\\\.\\" + d + ":\\<<\n"},
        {{"\\\\.\\" + d + ":"}, kRootRefused + "\\\\.\\" + d + ":<<\n"},
        // Wine does not know this spelling: then the directory cannot be told, and is refused.
        {{"\\\\?\\GLOBALROOT\\??\\" + d + ":\\"}, ""},
    };
    wchar_t volume[MAX_PATH];
    const std::wstring driveRoot = widen(d + ":\\");
    if (GetVolumeNameForVolumeMountPointW(driveRoot.c_str(), volume, MAX_PATH)) {
        std::string name;
        for (const wchar_t* c = volume; *c; ++c)
            name += static_cast<char>(*c);
        cases.push_back({{name}, kRootRefused + name + "<<\n"});
    }
    if (linked) {
        // A link of the host to the drive's root: Wine shows it as a directory link.
        cases.push_back({{d + ":\\rl"}, kRootRefused + d + ":\\rl<<\n"});
        cases.push_back({{d + ":\\rl\\", "-D"}, kRootRefused + d + ":\\rl\\<<\n"});
    }
    for (const Case& c : cases) {
        const std::string spelling = c.args[0];
        const ProcessResult r = call(createCleanDirCmd, c.args);
        EXPECT_EQ(2, r.exitCode) << spelling;
        if (c.message.empty())
            EXPECT_TRUE(r.err == kRootRefused + spelling + "<<\n" ||
                        r.err == kCannotTell + spelling + "<<\n")
                << spelling << ": " << r.err;
        else
            EXPECT_EQ(c.message, r.err) << spelling;
        EXPECT_EQ("", safety::differences(before, safety::readTree(root))) << spelling;
    }

    // mountDir -F on the link with a separator at its end, which reads as a plain directory.
    if (linked) {
        TempDir other;
        fs::create_directory(other / "target");
        const ProcessResult r =
            call(mountDirCmd, {d + ":\\rl\\", (other / "target").string(), "-F"});
        EXPECT_EQ(3, r.exitCode);
        EXPECT_EQ("ERROR-<link-path> is a root directory\n", r.err);
        EXPECT_EQ("", safety::differences(before, safety::readTree(root)));
    }
    removeHostLink(root / "rl");

    // The neighbour that stays allowed: a directory below the root, in the NT spelling.
    fs::create_directories(root / "out" / "inner");
    const ProcessResult r = call(createCleanDirCmd, {"\\??\\" + d + ":\\out"});
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_TRUE(fs::is_directory(root / "out"));
    EXPECT_TRUE(fs::is_empty(root / "out"));
    EXPECT_EQ("keep", readFile(root / "keep.txt"));
}

#endif

// A device is no directory: refused with a message of its own, nothing made or deleted.
TEST(DeviceName, IsRefusedAsNoDirectory) {
    if (!onWindows)
        GTEST_SKIP() << "device names in a path exist only on Windows";
    TempDir t;
    fs::create_directory(t / "out");
    writeFile(t / "out" / "keep.txt", "keep");
    CurrentDir cd(t.path());
    const TreeState before = safety::readTree(t.path());
    for (const std::string device : {"NUL", "nul", "out\\nul", "out/NUL", "COM1", "\\\\.\\NUL"}) {
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{device}, std::vector<std::string>{device, "-D"}}) {
            const ProcessResult r = call(createCleanDirCmd, args);
            EXPECT_EQ(2, r.exitCode) << device;
            EXPECT_EQ("ERROR path is a device, not a directory >>" + device + "<<\n", r.err);
        }
    }
    EXPECT_EQ("", safety::differences(before, safety::readTree(t.path())));
}

} // namespace
