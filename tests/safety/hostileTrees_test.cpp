// Hostile trees, one a row: a tree built to lure a command outside it (links under names that
// path parsing alters, mount points, ".." after a link, targets and working directories inside
// the link path, names with a backslash), the command that meets it, the exit code it is to end
// with, and a digest of what lies outside, which must not change. The commands run as processes,
// as a user runs them; rows whose fixture a leg cannot build skip with the reason.
#include "safety/treeState.h"
#include "testkit/testkit.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using namespace testkit;
using safety::TreeState;

// The scene of one row:
//   outside/   sentinel data that links and mounts inside the tree lead to
//   target/    the target of mountDir
//   tree/      the tree under test, the link path of mountDir
class Scene {
  public:
    TempDir t;
    const fs::path outside = t / "outside";
    const fs::path target = t / "target";
    const fs::path tree = t / "tree";

    Scene() {
        fs::create_directories(outside / "inner" / "deeper");
        writeFile(outside / "keep.txt", "keep");
        writeFile(outside / "inner" / "data.bin", std::string("\0\x01\x02", 3));
        writeFile(outside / "inner" / "deeper" / "deep.txt", "deep");
        fs::create_directory(target);
        writeFile(target / "target.txt", "target");
        fs::create_directories(tree / "dir");
        writeFile(tree / "file.txt", "file");
        writeFile(tree / "dir" / "nested.txt", "nested");
    }

    ~Scene() {
        for (const fs::path& made : links_)
            removeHostLink(made);
    }

    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    // A directory link at at, made by the host (under Wine too); false where none can be made.
    bool link(const fs::path& to, const fs::path& at) {
        if (!makeHostDirectoryLink(to, at))
            return false;
        links_.push_back(at);
        return true;
    }

    // A bind mount of from at the directory at (made here); false where the leg or the rights
    // do not allow it.
    bool bindMount(const fs::path& from, const fs::path& at) { return mounts_.bind(from, at); }

  private:
    std::vector<fs::path> links_;
    BindMounts mounts_; // after t: taken down before t is removed
};

struct Call {
    std::string command;
    std::vector<std::string> args;
    fs::path workDir;
};

enum class Unchanged {
    Outside,   // outside/ and target/
    Everything // the whole scene: the command is to refuse
};

struct Row {
    const char* name;
    // Builds the tree and the call; returns "" or why the leg cannot build it.
    std::function<std::string(Scene&, Call&)> build;
    int exitCode;
    int exitCodeUnderWine; // Wine cannot remove a Unix link to a directory (145)
    Unchanged unchanged;
    // A further check of the result; "" when it holds.
    std::function<std::string(Scene&)> check = nullptr;
};

const char* const kNoHostLinks = "needs directory links made by the host, which this leg lacks";
const char* const kNoMounts = "needs bind mounts: POSIX, run as root";

std::string linkedAs(const char* name, const char* command, const std::vector<std::string>& extra,
                     Scene& s, Call& c) {
    if (!s.link(s.outside, s.tree / name))
        return kNoHostLinks;
    c.command = command;
    if (std::string(command) == "mountDir")
        c.args = {s.tree.string(), s.target.string()};
    else
        c.args = {s.tree.string()};
    c.args.insert(c.args.end(), extra.begin(), extra.end());
    return "";
}

// The call of a command on the tree: {command, options...}; mountDir gets the target too.
void callOnTree(const std::vector<std::string>& call, Scene& s, Call& c) {
    c.command = call[0];
    c.args = {s.tree.string()};
    if (c.command == "mountDir")
        c.args.push_back(s.target.string());
    c.args.insert(c.args.end(), call.begin() + 1, call.end());
}

std::string mountedInside(const std::vector<std::string>& call, Scene& s, Call& c) {
    if (!s.bindMount(s.outside, s.tree / "mnt"))
        return kNoMounts;
    callOnTree(call, s, c);
    return "";
}

// Files and directories with names that Windows reads as devices, in the tree and in a
// sub-directory of it, made through their literal paths (as Windows itself makes such names).
std::string devicesNamed(const std::vector<std::string>& call, Scene& s, Call& c) {
    const char* const files[] = {"nul",  "con",    "aux.txt",  "COM1",   "prn.log",
                                 "lpt1", "conin$", "nul .txt", "CONOUT$"};
    for (const char* name : files)
        writeFile(literal(s.tree / name), name);
    fs::create_directories(literal(s.tree / "aux" / "nul"));
    writeFile(literal(s.tree / "aux" / "nul" / "com9.log"), "deep");
    fs::create_directory(literal(s.tree / "com1.."));
    writeFile(literal(s.tree / "com1.." / "prn"), "prn");
    // Each name stands as an entry of its own (never written into a device).
    EXPECT_EQ(std::size(files) + 4, listNames(literal(s.tree)).size());
    callOnTree(call, s, c);
    return "";
}

// "" when exactly the names expected are left in the tree.
std::string namesLeft(Scene& s, const std::vector<std::string>& expected) {
    const std::vector<std::string> left = listNames(literal(s.tree));
    if (left == expected)
        return "";
    std::string text = "left in the tree:";
    for (const std::string& name : left)
        text += " [" + name + "]";
    return text;
}

std::string sep() {
    return onWindows ? "\\" : "/";
}

const Row kRows[] = {
    // Names that Windows path parsing alters: ".. " would be read back as the parent, ". " as
    // the directory itself, "x. " as its sibling "x".
    {"link named dot dot blank, prepFolder",
     [](Scene& s, Call& c) { return linkedAs(".. ", "prepFolder", {}, s, c); }, 0, 1,
     Unchanged::Outside},
    {"link named dot dot blank, prepFolder -D",
     [](Scene& s, Call& c) { return linkedAs(".. ", "prepFolder", {"-D"}, s, c); }, 0, 0,
     Unchanged::Outside},
    {"link named dot dot blank, mountDir -F",
     [](Scene& s, Call& c) { return linkedAs(".. ", "mountDir", {"-F"}, s, c); }, 0, 5,
     Unchanged::Outside},
    {"link named dot blank, prepFolder",
     [](Scene& s, Call& c) { return linkedAs(". ", "prepFolder", {}, s, c); }, 0, 1,
     Unchanged::Outside},
    {"link named dot dot and two blanks, mountDir -F",
     [](Scene& s, Call& c) { return linkedAs("..  ", "mountDir", {"-F"}, s, c); }, 0, 5,
     Unchanged::Outside},
    {"link named like its sibling with a dot, prepFolder",
     [](Scene& s, Call& c) { return linkedAs("dir.", "prepFolder", {}, s, c); }, 0, 1,
     Unchanged::Outside},
    {"link named like its sibling with a blank, prepFolder -D",
     [](Scene& s, Call& c) { return linkedAs("dir ", "prepFolder", {"-D"}, s, c); }, 0, 0,
     Unchanged::Outside},

    // Names that Windows reads as devices ("nul" is the NUL device in any directory): entries so
    // named, as a Linux tool or a case-sensitive folder leaves them, still go as themselves.
    {"files and directories named as devices, prepFolder",
     [](Scene& s, Call& c) { return devicesNamed({"prepFolder"}, s, c); }, 0, 0, Unchanged::Outside,
     [](Scene& s) { return namesLeft(s, {}); }},
    {"files and directories named as devices, prepFolder -D",
     [](Scene& s, Call& c) {
         return devicesNamed({"prepFolder", "-D"}, s, c);
     },
     0, 0, Unchanged::Outside,
     [](Scene& s) {
         return namesLeft(s, {"aux", "com1..", "dir"});
     }},
    {"files and directories named as devices, mountDir -F",
     [](Scene& s, Call& c) {
         return devicesNamed({"mountDir", "-F"}, s, c);
     },
     0, 1, Unchanged::Outside,
     [](Scene& s) {
         // Under Wine no junction can be set: the tree is gone all the same.
         return fs::exists(literal(s.tree)) == !underWine() ? std::string()
                                                            : std::string("the tree is to go");
     }},

    // A mount point inside the tree goes as a link: never entered; rmdir refuses it (busy).
    {"bind mount inside, prepFolder",
     [](Scene& s, Call& c) { return mountedInside({"prepFolder"}, s, c); }, 1, 1,
     Unchanged::Outside},
    {"bind mount inside, prepFolder -D",
     [](Scene& s, Call& c) {
         return mountedInside({"prepFolder", "-D"}, s, c);
     },
     0, 0, Unchanged::Outside},
    {"bind mount inside, mountDir -F",
     [](Scene& s, Call& c) {
         return mountedInside({"mountDir", "-F"}, s, c);
     },
     5, 5, Unchanged::Outside},

    // ".." after a link is taken by text, as Windows does: tree/lnk/.. is the tree.
    {"dot dot after a link in the given path, prepFolder",
     [](Scene& s, Call& c) {
         if (!s.link(s.outside / "inner", s.tree / "lnk"))
             return std::string(kNoHostLinks);
         c = {"prepFolder", {(s.tree / "lnk").string() + sep() + ".."}, {}};
         return std::string();
     },
     0, 1, Unchanged::Outside,
     [](Scene& s) {
         return fs::is_directory(s.tree) && !fs::exists(s.tree / "file.txt")
                    ? std::string()
                    : std::string("the tree itself is to be cleaned");
     }},

    // The target inside the link path, by identity: through a final path too long to read, a
    // bind mount of the link path, a link followed by a target still to be made.
    {"target inside the link path, its final path too long to read, mountDir -F",
     [](Scene& s, Call& c) {
         if (onWindows)
             return std::string("needs a final path beyond the limit, through links");
         fs::path deep = s.tree;
         for (int i = 0; i < 3; ++i)
             deep /= std::string(90, static_cast<char>('a' + i));
         fs::create_directories(deep);
         if (!s.link(deep, s.t / "short"))
             return std::string(kNoHostLinks);
         c = {"mountDir", {s.tree.string(), (s.t / "short").string(), "-F"}, {}};
         return std::string();
     },
     2, 2, Unchanged::Everything},
    {"target reached through a bind mount of the link path, mountDir -F",
     [](Scene& s, Call& c) {
         if (!s.bindMount(s.tree, s.t / "mirror"))
             return std::string(kNoMounts);
         c = {"mountDir", {s.tree.string(), (s.t / "mirror" / "dir").string(), "-F"}, {}};
         return std::string();
     },
     2, 2, Unchanged::Everything},
    {"target to be made through a link into the link path, mountDir -TF",
     [](Scene& s, Call& c) {
         if (onWindows)
             return std::string("needs a link read as a whole by the commands (not under Wine)");
         if (!s.link(s.tree, s.t / "via"))
             return std::string(kNoHostLinks);
         c = {"mountDir", {s.tree.string(), (s.t / "via" / "new").string(), "-TF"}, {}};
         return std::string();
     },
     2, 2, Unchanged::Everything},
    {"target given with a separator at its end as the link path, mountDir",
     [](Scene& s, Call& c) {
         c = {"mountDir", {s.target.string(), s.target.string() + sep()}, {}};
         return std::string();
     },
     3, 3, Unchanged::Everything},
    {"target given with a separator at its end as the link path, mountDir -F",
     [](Scene& s, Call& c) {
         c = {"mountDir", {s.target.string(), s.target.string() + sep(), "-F"}, {}};
         return std::string();
     },
     2, 2, Unchanged::Everything},

    // The current directory and its ancestors are never cleared.
    {"link path is the parent of the current directory, mountDir -F",
     [](Scene& s, Call& c) {
         c = {"mountDir", {"..", s.target.string(), "-F"}, s.tree / "dir"};
         return std::string();
     },
     3, 3, Unchanged::Everything},
    {"link path is the current directory, mountDir -F",
     [](Scene& s, Call& c) {
         c = {"mountDir", {".", s.target.string(), "-F"}, s.tree};
         return std::string();
     },
     3, 3, Unchanged::Everything},

    // A backslash inside a name is no separator: a link to x\y does not lead to x/y.
    {"link to a name with a backslash, mountDir -L to the path with a separator",
     [](Scene& s, Call& c) {
         if (onWindows)
             return std::string("names with a backslash exist only on POSIX");
         fs::create_directories(s.outside / "x" / "y");
         fs::create_directory(s.outside / "x\\y");
         if (!s.link(s.outside / "x\\y", s.tree / "L"))
             return std::string(kNoHostLinks);
         c = {"mountDir", {(s.tree / "L").string(), (s.outside / "x" / "y").string(), "-L"}, {}};
         return std::string();
     },
     0, 0, Unchanged::Outside,
     [](Scene& s) {
         std::error_code ec;
         return fs::equivalent(s.tree / "L", s.outside / "x" / "y", ec)
                    ? std::string()
                    : std::string("the link is to lead to x/y now");
     }},
};

TreeState readScene(const Scene& s, Unchanged what) {
    if (what == Unchanged::Everything)
        return safety::readTree(s.t.path());
    TreeState state = safety::readTree(s.outside);
    for (const auto& [path, entry] : safety::readTree(s.target))
        state["target/" + path] = entry;
    return state;
}

class HostileTrees : public testing::TestWithParam<size_t> {};

TEST_P(HostileTrees, OutsideKeepsEveryByte) {
    const Row& row = kRows[GetParam()];
    SCOPED_TRACE(row.name);
    Scene scene;
    Call call;
    const std::string lacking = row.build(scene, call);
    if (!lacking.empty())
        GTEST_SKIP() << lacking;
    const TreeState before = readScene(scene, row.unchanged);

    const ProcessResult r = run(call.command, call.args, call.workDir);

    EXPECT_EQ(underWine() ? row.exitCodeUnderWine : row.exitCode, r.exitCode) << r.err;
    EXPECT_EQ("", safety::differences(before, readScene(scene, row.unchanged)))
        << (row.unchanged == Unchanged::Everything ? "the scene is to stay as it was"
                                                   : "outside the tree");
    if (row.check) {
        EXPECT_EQ("", row.check(scene));
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileTrees,
                         testing::Range<size_t>(0, sizeof kRows / sizeof kRows[0]),
                         [](const testing::TestParamInfo<size_t>& info) {
                             std::string name;
                             for (const char* c = kRows[info.param].name; *c; ++c)
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return name;
                         });

} // namespace
