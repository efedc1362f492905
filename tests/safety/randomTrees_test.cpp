// Random trees full of links, cleaned by prepFolder (with and without -D) and cleared by
// mountDir -F: whatever the links inside point at (sentinel trees beside the tree, the mount
// target, each other, nothing) keeps every byte, and exactly what the command is to remove goes.
//
// Each tree comes from a seed; every failure names it. TREEPREP_SOAK=<n> runs n trees per case
// instead of the regular few, TREEPREP_SEED=<s> starts at seed s (the soak mode otherwise
// starts at a random seed, the regular run at 1).
#include "mountDir/mountDir.h"
#include "prepFolder/prepFolder.h"

#include "safety/treeState.h"
#include "testkit/testkit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <random>
#include <set>
#include <thread>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

using namespace testkit;
using safety::TreeState;

// ---------------------------------------------------------------------------------------------
// The commands run in-process. A crash or a hang there would end the program without a failure
// message, so a note naming the seed is prepared before each call: written to the original
// standard error by a signal handler (POSIX) or by a watchdog after 60 s.

namespace note {

char text[512];
int stderrCopy = -1;
std::atomic<long long> deadline{0}; // seconds on the steady clock, 0 while no command runs

long long now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void say(const char* what) {
#if defined(_WIN32)
    _write(stderrCopy, what, static_cast<unsigned>(strlen(what)));
#else
    if (write(stderrCopy, what, strlen(what)) < 0)
        return;
#endif
}

#if !defined(_WIN32)
void onSignal(int signal) {
    say("\n*** crashed in ");
    say(text);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}
#endif

void watch() {
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        const long long limit = deadline.load();
        if (limit != 0 && now() > limit) {
            say("\n*** still running after 60 s, stopped: ");
            say(text);
#if !defined(_WIN32)
            std::signal(SIGABRT, SIG_DFL);
#endif
            std::abort();
        }
    }
}

void arm(const std::string& what) {
    static bool started = false;
    if (!started) {
        started = true;
#if defined(_WIN32)
        stderrCopy = _dup(2);
#else
        stderrCopy = dup(2);
        for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
            std::signal(s, onSignal);
#endif
        std::thread(watch).detach();
    }
    snprintf(text, sizeof text, "%s\n", what.c_str());
    deadline = now() + 60;
}

void disarm() {
    deadline = 0;
}

// Armed for the lifetime of the object.
struct Armed {
    explicit Armed(const std::string& what) { arm(what); }
    ~Armed() { disarm(); }
    Armed(const Armed&) = delete;
    Armed& operator=(const Armed&) = delete;
};

} // namespace note

// testkit::call with the note armed.
ProcessResult callCommand(int (*command)(int, char**), const std::vector<std::string>& args,
                          const std::string& what) {
    const note::Armed armed(what);
    return call(command, args);
}

// Whether mountDir can set its link here (Wine cannot set junctions: it clears the link path,
// then fails with 1).
bool junctionsWork() {
    static const bool work = [] {
        TempDir t;
        fs::create_directory(t / "target");
        return callCommand(mountDirCmd, {(t / "link").string(), (t / "target").string()}, "probe")
                   .exitCode == 0;
    }();
    return work;
}

// ---------------------------------------------------------------------------------------------
// The random trees.

// A link directly inside the tree that -D keeps: one that leads to a directory or to nothing.
bool keptAsDirectoryLink(const fs::path& link) {
    std::error_code ec;
    const fs::file_status status = fs::status(link, ec);
    return ec || !fs::exists(status) || fs::is_directory(status);
}

struct Rng {
    std::mt19937_64 engine;
    explicit Rng(uint64_t seed) : engine(seed) {}
    size_t below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(engine() % n); }
    bool percent(size_t p) { return below(100) < p; }
    template <typename T> const T& pick(const std::vector<T>& from) {
        return from[below(from.size())];
    }
};

struct Shape {
    bool links;
    int maxDepth;
    size_t maxPerDir;
    size_t maxEntries;
    bool mounts = false; // some trees hold a mount point (POSIX, as root)
};

// The scene of one seed inside its own temporary directory:
//   tree/        the tree under test (the link path for mountDir)
//   sentinel/    data beside it that links inside the tree point at, with links of its own
//   target/      the mount target, also pointed at
//   beside.txt   a single file beside the tree
//   via          (some seeds) a link to tree, through which prepFolder is called

class Scene {
  public:
    TempDir t;
    BindMounts mounts; // after t: taken down before t is removed
    const fs::path tree = t / "tree";
    bool callViaLink = false;
    std::string callThrough; // not empty: the tree is named as tree/<this entry>/..

    Scene(uint64_t seed, const Shape& shape) : rng_(seed), shape_(shape) {
        makeOutside();
        fs::create_directory(tree);
        dirs_.push_back(tree);
        makeDir(tree, 0, false);
        if (shape_.links && rng_.percent(25)) {
            callViaLink = true;
            link(rng_.percent(50) ? fs::path("tree") : tree, t / "via");
        } else if (shape_.links && rng_.percent(20)) {
            // ".." after an entry is taken by text, whatever the entry is: a link, a file.
            // (A backslash in a name would be a separator in the argument.)
            std::vector<std::string> names = listNames(tree);
            std::erase_if(names, [](const std::string& n) { return n.find('\\') != n.npos; });
            if (!names.empty())
                callThrough = rng_.pick(names);
        }
        // Some trees hold a mount point: a directory outside mounted at an empty directory.
        if (shape_.mounts && rng_.percent(20)) {
            const fs::path at = rng_.pick(inside_) / ("mnt" + std::to_string(counter_++));
            fs::create_directory(at);
            if (!mounts.bind(rng_.percent(50) ? t / "sentinel" : target(), at))
                fs::remove(at);
        }
    }

    fs::path target() const { return t / "target"; }
    std::string commandPath() const {
        if (callViaLink)
            return (t / "via").string();
        if (!callThrough.empty())
            return (tree / callThrough).string() + "/..";
        return tree.string();
    }

  private:
    Rng rng_;
    Shape shape_;
    size_t entries_ = 0;
    size_t counter_ = 0;
    // What links may point at. Files and file links directly inside the tree are never targets:
    // with -D they go, and a link to them would turn from a file link into a dangling one
    // (which -D keeps) depending on the order of deletion.
    std::vector<fs::path> dirs_, files_, links_;
    std::vector<fs::path> inside_ = {tree}; // the plain directories of the tree

    std::string content() {
        std::string bytes(rng_.below(300), '\0');
        for (char& c : bytes)
            c = static_cast<char>(rng_.below(256));
        return bytes;
    }

    void file(const fs::path& path, bool readOnly = false) {
        writeFile(literal(path), content());
        if (readOnly)
            makeReadOnly(literal(path));
    }

    // A link to target with the absolute or (as often) a relative text.
    void link(const fs::path& target, const fs::path& at) {
        fs::path text = target;
        if (target.is_absolute() && rng_.percent(50))
            text = target.lexically_relative(at.parent_path());
        fs::create_symlink(text, at);
    }

    void makeOutside() {
        const fs::path s = t / "sentinel";
        fs::create_directories(s / "sub" / "deeper");
        fs::create_directories(s / "empty");
        file(s / "keep.txt");
        file(s / "ro.txt", true);
        file(s / "sub" / "deep.txt");
        file(s / "sub" / "deeper" / "x.bin");
        fs::create_directories(target() / "inner");
        file(target() / "data.txt");
        file(target() / "inner" / "more.txt", true);
        file(t / "beside.txt");
        dirs_ = {t.path(),    s,        s / "sub",         s / "sub" / "deeper",
                 s / "empty", target(), target() / "inner"};
        files_ = {s / "keep.txt",
                  s / "ro.txt",
                  s / "sub" / "deep.txt",
                  target() / "data.txt",
                  target() / "inner" / "more.txt",
                  t / "beside.txt"};
        if (shape_.links) {
            fs::create_symlink("sub", s / "tosub");
            fs::create_symlink("keep.txt", s / "tokeep");
            fs::create_symlink("gone", s / "nothing");
            fs::create_directory_symlink(target(), s / "totarget");
            links_ = {s / "tosub", s / "tokeep", s / "nothing", s / "totarget"};
        }
    }

    // Windows keeps these names for devices, whatever the extension.
    static bool deviceName(const std::string& name) {
        return name == "con" || name == "prn" || name == "aux" || name == "nul" ||
               (name.size() == 4 && (name.starts_with("com") || name.starts_with("lpt")) &&
                name[3] >= '0' && name[3] <= '9');
    }

    std::string plainName() {
        static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789_-";
        std::string name;
        do {
            name.clear();
            for (size_t n = 1 + rng_.below(8); n > 0; --n)
                name += letters[rng_.below(sizeof letters - 1)];
        } while (deviceName(name));
        if (rng_.percent(20))
            name += ".txt";
        // Windows drops a trailing dot or blank when it parses a path: such a name must still
        // be removed as itself, never taken for a sibling without it.
        if (onWindows && rng_.percent(15))
            name += rng_.pick(std::vector<std::string>{".", " ", "..", ". ", " ."});
        return name;
    }

    // Names that a careless layer could take apart (POSIX only; Windows forbids most of them):
    // backslashes, which are separators in the arguments but ordinary bytes in names on disk,
    // among them names that would climb exactly to the sentinel or the target (only where no
    // name above holds a backslash, so that even a misreading stays inside the test's
    // directory); wildcards; blanks; bytes that are not UTF-8.
    std::string oddName(int depth, bool climbed) {
        std::string up;
        for (int i = 0; i <= depth; ++i)
            up += "..\\";
        static const std::vector<std::string> odd = {"\\",
                                                     "a\\b",
                                                     "*",
                                                     "?",
                                                     "*.*",
                                                     "[a]",
                                                     " lead",
                                                     "trail ",
                                                     "tab\tname",
                                                     "-D",
                                                     ".hidden",
                                                     "..x",
                                                     "\xc3\xa4\xc3\xb6",
                                                     "\xff\xfe",
                                                     "semi;colon",
                                                     "new\nline"};
        switch (climbed ? 3 : rng_.below(4)) {
        case 0:
            return up + "sentinel";
        case 1:
            return up + "sentinel\\keep.txt";
        case 2:
            return up + "target";
        default:
            return rng_.pick(odd);
        }
    }

    void makeDir(const fs::path& dir, int depth, bool climbed) {
        std::set<std::string> used;
        // Never an empty tree: at least three entries directly inside.
        const size_t count =
            depth == 0 ? 3 + rng_.below(shape_.maxPerDir - 2) : rng_.below(shape_.maxPerDir + 1);
        for (size_t i = 0; i < count && entries_ < shape_.maxEntries; ++i, ++entries_) {
            std::string name =
                !onWindows && rng_.percent(8) ? oddName(depth, climbed) : plainName();
            while (!used.insert(name).second)
                name += std::to_string(counter_++);
            makeEntry(dir / name, depth, climbed || name.find('\\') != std::string::npos);
        }
    }

    void makeEntry(const fs::path& path, int depth, bool climbed) {
        const bool inside = depth > 0; // not directly in the tree
        enum { File, Dir, DirLink, FileLink, Dangling, LinkToLink };
        // Weights of the kinds (links only in the link variant); few directories at the deepest
        // level.
        std::vector<int> weights = {38, depth < shape_.maxDepth ? 25 : 3};
        if (shape_.links)
            weights.insert(weights.end(), {10, 10, 6, 8});
        std::discrete_distribution<int> kinds(weights.begin(), weights.end());
        switch (kinds(rng_.engine)) {
        case File:
            // Read-only files only where the platform deletes them (POSIX, as rm does).
            file(path, !onWindows && rng_.percent(25));
            if (inside)
                files_.push_back(path);
            break;
        case Dir:
            fs::create_directory(literal(path));
            dirs_.push_back(path);
            inside_.push_back(path);
            makeDir(path, depth + 1, climbed);
            break;
        case DirLink:
            link(rng_.pick(dirs_), path);
            links_.push_back(path);
            break;
        case FileLink:
            link(rng_.pick(files_), path);
            if (inside)
                links_.push_back(path);
            break;
        case Dangling:
            switch (rng_.below(4)) {
            case 0:
                link(t / ("missing" + std::to_string(counter_++)), path);
                break;
            case 1:
                fs::create_symlink("no such entry", path);
                break;
            case 2:
                link(t / "sentinel" / "gone", path);
                break;
            default:
                fs::create_symlink(path.filename(), path); // a loop that never resolves
            }
            links_.push_back(path);
            break;
        case LinkToLink:
            if (links_.empty())
                return makeEntry(path, depth, climbed);
            link(rng_.pick(links_), path);
            // It resolves like the link it names; only one that resolves to a directory or to
            // nothing may be pointed at from directly inside the tree.
            if (inside || keptAsDirectoryLink(path))
                links_.push_back(path);
            break;
        }
    }
};

// ---------------------------------------------------------------------------------------------
// The cases.

enum class Mode { Clean, CleanKeepDirs, Mount };

const char* modeName(Mode mode) {
    switch (mode) {
    case Mode::Clean:
        return "prepFolder";
    case Mode::CleanKeepDirs:
        return "prepFolder -D";
    default:
        return "mountDir -F";
    }
}

void PrintTo(Mode mode, std::ostream* os) {
    *os << modeName(mode);
}

// What -D leaves: every directory directly inside with all below it, every directory link.
TreeState keptByDashD(const fs::path& tree, const TreeState& before) {
    TreeState kept;
    std::set<std::string> keptTops;
    for (const auto& [path, entry] : before) {
        if (path.find('/') != std::string::npos)
            continue;
        if (entry.kind == 'd' || (entry.kind == 'l' && keptAsDirectoryLink(tree / path)))
            keptTops.insert(path);
    }
    for (const auto& [path, entry] : before)
        if (keptTops.count(path.substr(0, path.find('/'))))
            kept.emplace(path, entry);
    return kept;
}

// Runs the command of mode over the tree of one seed and checks the result; treeBefore receives
// the tree as it was before the command.
void checkTree(uint64_t seed, Mode mode, const Shape& shape, const std::string& what,
               TreeState& treeBefore) {
    Scene scene(seed, shape);
    treeBefore = safety::readTree(literal(scene.tree));
    const TreeState outsideBefore =
        safety::without(safety::readTree(literal(scene.t.path())), "tree");
    const TreeState expectedAfter =
        mode == Mode::CleanKeepDirs ? keptByDashD(scene.tree, treeBefore) : TreeState{};

    ProcessResult r;
    if (mode == Mode::Mount)
        r = callCommand(mountDirCmd, {scene.tree.string(), scene.target().string(), "-F"}, what);
    else if (mode == Mode::Clean)
        r = callCommand(createCleanDirCmd, {scene.commandPath()}, what);
    else
        r = callCommand(createCleanDirCmd, {scene.commandPath(), "-D"}, what);

    // A mount point goes as a link, which the system refuses (busy): the clean stops there.
    // -D keeps it, as every directory link.
    const bool stopsAtMount = scene.mounts.any() && mode != Mode::CleanKeepDirs;
    const bool mountFails = mode == Mode::Mount && !junctionsWork();
    EXPECT_EQ("", r.out);
    if (stopsAtMount) {
        EXPECT_EQ(mode == Mode::Mount ? 5 : 1, r.exitCode) << r.err;
        EXPECT_NE(std::string::npos, r.err.find(", File/Dir is shared by another process: "))
            << r.err;
    } else if (mountFails) {
        EXPECT_EQ(1, r.exitCode) << r.err;
        EXPECT_EQ(0u, r.err.rfind("ERROR set Junction, ", 0)) << r.err;
    } else {
        EXPECT_EQ(0, r.exitCode) << r.err;
        EXPECT_EQ("", r.err);
    }

    const TreeState outsideAfter =
        safety::without(safety::readTree(literal(scene.t.path())), "tree");
    EXPECT_EQ("", safety::differences(outsideBefore, outsideAfter))
        << "outside the tree (what differs from before)";

    if (stopsAtMount)
        return; // what the clean removed before it stopped depends on the order of the entries
    const fs::file_status at = fs::symlink_status(scene.tree);
    if (mode == Mode::Mount) {
        if (mountFails) {
            EXPECT_FALSE(fs::exists(at)) << "the link path is to be cleared";
        } else {
            std::error_code ec;
            EXPECT_TRUE(fs::is_symlink(at)) << "the link path is to be a link";
            EXPECT_TRUE(fs::equivalent(scene.tree, scene.target(), ec))
                << "it is to lead to the target";
        }
    } else {
        EXPECT_TRUE(fs::is_directory(at)) << "the path is to stay a directory";
        if (fs::is_directory(at)) {
            EXPECT_EQ("", safety::differences(expectedAfter, safety::readTree(literal(scene.tree))))
                << "inside the tree (what differs from what is to stay)";
        }
    }
}

// checkTree with the seed in every failure message, an exception included. Returns false when
// a check failed.
bool checkSeed(uint64_t seed, Mode mode, const Shape& shape) {
    const testing::TestResult& result =
        *testing::UnitTest::GetInstance()->current_test_info()->result();
    const int failuresBefore = result.total_part_count();
    const std::string what = std::string(modeName(mode)) + ", seed " + std::to_string(seed) +
                             (shape.links ? ", links" : ", no links");
    SCOPED_TRACE(what + " (TREEPREP_SEED=" + std::to_string(seed) +
                 " TREEPREP_SOAK=1 runs this tree alone)");
    TreeState treeBefore;
    try {
        checkTree(seed, mode, shape, what, treeBefore);
    } catch (const std::exception& e) {
        ADD_FAILURE() << "exception: " << e.what();
    }
    if (result.total_part_count() == failuresBefore)
        return true;
    ADD_FAILURE() << "the tree of the failure, before the command:\n"
                  << safety::describe(treeBefore);
    return false;
}

struct Plan {
    uint64_t firstSeed;
    int trees;
};

// The regular number of trees unless TREEPREP_SOAK asks for more; TREEPREP_SEED or a fixed
// first seed (a random one in the soak mode).
Plan plan(int regularTrees) {
    const char* soak = std::getenv("TREEPREP_SOAK");
    const char* seed = std::getenv("TREEPREP_SEED");
    Plan p{1, regularTrees};
    if (soak && *soak) {
        p.trees = std::atoi(soak);
        p.firstSeed = std::random_device()() % 1000000000u;
    }
    if (seed && *seed)
        p.firstSeed = std::strtoull(seed, nullptr, 10);
    return p;
}

void runTrees(Mode mode, const Shape& shape, int regularTrees) {
    const Plan p = plan(regularTrees);
    ASSERT_GT(p.trees, 0) << "TREEPREP_SOAK is to be a number of trees";
    std::cout << modeName(mode) << (shape.links ? " with links" : " without links") << ": seeds "
              << p.firstSeed << " to " << p.firstSeed + p.trees - 1 << std::endl;
    int failedSeeds = 0;
    for (int i = 0; i < p.trees; ++i) {
        if (!checkSeed(p.firstSeed + static_cast<uint64_t>(i), mode, shape) && ++failedSeeds == 3) {
            ADD_FAILURE() << "stopped after 3 failing seeds";
            return;
        }
    }
}

class SafetyRandomTrees : public testing::TestWithParam<Mode> {};

TEST_P(SafetyRandomTrees, WithLinksInsideAndBeside) {
    if (!canMakeLinks())
        GTEST_SKIP() << "needs symbolic links, which the tests do not make under Wine (deleting "
                        "a Unix link to a file there deletes its target)";
    runTrees(GetParam(), Shape{true, 4, 7, 60, true}, 150);
}

TEST_P(SafetyRandomTrees, WithoutLinks) {
    // Wine deletes slowly: smaller and fewer trees there.
    runTrees(GetParam(), onWindows ? Shape{false, 3, 5, 20} : Shape{false, 4, 7, 60},
             onWindows ? 30 : 50);
}

INSTANTIATE_TEST_SUITE_P(Commands, SafetyRandomTrees,
                         testing::Values(Mode::Clean, Mode::CleanKeepDirs, Mode::Mount),
                         [](const testing::TestParamInfo<Mode>& info) {
                             switch (info.param) {
                             case Mode::Clean:
                                 return std::string("prepFolder");
                             case Mode::CleanKeepDirs:
                                 return std::string("prepFolderD");
                             default:
                                 return std::string("mountDirF");
                             }
                         });

} // namespace
