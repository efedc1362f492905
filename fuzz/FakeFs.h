// An in-memory file system behind the POSIX layer's call table, so that a command run by a fuzz
// target never reaches the real file system, and a watch over it: every name the command
// removes or creates is checked against what its arguments allow.
//
// The tree follows Linux path resolution: a relative path starts at dirfd (AT_FDCWD: the current
// directory), symbolic links are followed in every component but the last one (and in the last
// one too for fstatat without AT_SYMLINK_NOFOLLOW, for openat without O_NOFOLLOW and before a
// trailing slash), ".." of a directory is its parent, names are at most 255 bytes, paths less
// than 4096, at most 40 links per resolution. Directory reads return "." and ".." first, then the
// entries in the order they were made, in the kernel's getdents64 layout. readlink of
// /proc/self/fd/N names what descriptor N was opened on, " (deleted)" when it is gone. Whatever the
// fake does not implement fails with an errno; it never falls through to the real call.
//
// The input of a command target is text, one item a line:
//   d <path>            a directory (missing parents are made as directories)
//   f <path>            a file; r <path> a read-only file
//   l <path> <target>   a symbolic link (target may be relative, dangling, or lead to a link)
//   c <path>            the current directory (default /w)
//   ! <call> <n> <err>  the n-th call of fstatat|mkdirat|unlinkat|openat|close|readdir|
//                       readlinkat|symlinkat|getcwd|statx|renameat2|nanosleep fails with
//                       errno <err>; n 0: every call of that kind. The calls are counted
//                       from 1 from the start of the command (restartCallCounts), by the
//                       rule of tests/testkit/faultRule.h
//                       that the unit tests' injector (testkit::PosixFaults) follows too.
//   --                  the end of the tree: every further line is one argument of the command
// Paths of the tree are taken from the root "/"; /w (the current directory) and /o (a place that
// tree lines fill and links lead to) always exist.
#pragma once

#include "tests/testkit/faultRule.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace fuzz {

class FakeFs {
  public:
    enum class Kind { Dir, File, Link };

    struct Found {
        int err; // 0 or the errno of the resolution
        int node;
    };

    // A fresh tree holding /, /w and /o; the current directory /w.
    FakeFs();

    // Reads the tree and faults of input and returns the command's arguments after the "--"
    // line (at most maxArgs; none without that line).
    std::vector<std::string> load(const uint8_t* data, size_t size, size_t maxArgs);

    // Queries on the tree, without counting as calls and without the watch.
    // The node path leads to, resolved as stat does (followFinal) or as lstat does.
    Found resolve(std::string_view path, bool followFinal) const;
    // The entry named by the last component of path itself: links in it are never followed, not
    // even before a trailing slash. ENOENT for ".", ".." and "/".
    Found entry(std::string_view path) const;
    bool alive(int node) const { return nodes_[node].alive; }
    // Whether node belongs to the loaded tree (not made by the code under test).
    bool loaded(int node) const { return nodes_[node].watched; }
    int parent(int node) const { return nodes_[node].parent; }
    const std::string& targetOf(int link) const { return nodes_[link].target; }
    Kind kind(int node) const { return nodes_[node].kind; }
    // Whether the layer sees a directory here: a directory, or a link that does not lead to an
    // existing non-directory (a dangling link counts as a directory link).
    bool leadsToDirectory(int node) const;
    // The absolute path of node, from its names.
    std::string pathOf(int node) const;
    // The live entries directly inside directory node.
    std::vector<int> children(int node) const;
    bool hasFaults() const { return !faults_.empty(); }
    // Starts counting calls for the faults anew (after the harness used the layer itself).
    void restartCallCounts() {
        for (Fault& fault : faults_)
            fault.count.restart();
    }

    // The watch. Only nodes of the loaded tree are watched; what the command made itself may go.
    // Allows removing node.
    void allowRemoval(int node);
    // Allows removing everything below directory node, entering no link.
    void allowRemovalBelow(int node);
    // Allows making an entry at path or at any of its parents (as the text names them at the
    // moment the entry is made).
    void allowCreationAlong(std::string path);
    // Allows making and renaming entries whose names begin with prefix beside path (in the
    // directory that holds its last name): the temporary names of an entry made in its place.
    void allowTemporaryNamesBeside(std::string path, std::string prefix);
    // Lifts the watch from the whole tree (to compare the fake's answers with Linux's).
    void watchNothing() {
        for (Node& n : nodes_)
            n.watched = false;
    }
    // Every call that would change the tree is a failure, even one that would fail anyway.
    void forbidChanges() { changesForbidden_ = true; }
    // How many entries were made or removed.
    int changes() const { return changes_; }
    // Descriptors open now.
    int openDescriptors() const;

    // Puts the fake behind posixCalls until uninstall() (or destruction) restores the real one.
    void install();
    void uninstall();
    ~FakeFs();
    FakeFs(const FakeFs&) = delete;
    FakeFs& operator=(const FakeFs&) = delete;

    // The table members, for the current installed fake.
    struct Calls;

  private:
    struct Node {
        Kind kind;
        std::string name;
        int parent;
        std::string target;
        bool readOnly = false;
        bool alive = true;
        bool watched = false; // part of the loaded tree
        bool removable = false;
        std::vector<int> entries; // in the order they were made, removed ones included
    };
    struct Descriptor {
        bool open = false;
        int node = -1;
        bool pathOnly = false;
        size_t position = 0; // 0 ".", 1 "..", then 2 + index into entries
    };
    struct Parent {
        int err;
        int dir;
        std::string_view name;
        bool trailing;
        enum Type { Normal, Dot, DotDot, Root } type;
    };
    enum Call {
        kFstatat,
        kMkdirat,
        kUnlinkat,
        kOpenat,
        kClose,
        kReadDir,
        kReadlinkat,
        kSymlinkat,
        kGetcwd,
        kStatx,
        kRenameat2,
        kNanosleep,
        kCalls
    };
    static_assert(kCalls == testkit::kPosixCalls && kStatx == int(testkit::PosixCall::statx),
                  "the calls in the order of testkit::PosixCall");
    struct Fault {
        int call;
        testkit::FaultCount count;
        int err;
    };
    static constexpr int kFirstDescriptor = 3;
    static constexpr int kDescriptors = 256;
    static constexpr size_t kMaxNodes = 1024;

    std::vector<Node> nodes_;
    int cwd_ = 1;
    Descriptor descriptors_[kDescriptors];
    std::vector<Fault> faults_;
    std::vector<std::string> creationPaths_;
    std::vector<std::pair<std::string, std::string>> temporaryNames_; // path, prefix
    bool changesForbidden_ = false;
    int changes_ = 0;
    bool installed_ = false;

    int lookup(int dir, std::string_view name) const;
    int add(Kind kind, int parent, std::string_view name, std::string_view target);
    Found walk(int start, std::string_view path, bool followFinal, int& links) const;
    // Where a relative path given with dirfd starts.
    Found startOf(int dirfd) const;
    Found resolveAt(int dirfd, std::string_view path, bool followFinal) const;
    Parent parentOf(int start, std::string_view path) const;
    Parent parentAt(int dirfd, std::string_view path) const;
    void loadLine(std::string_view line);
    // Counts the call; true (errno set) when a fault is due.
    bool faulted(Call call);
    void watchChange(const char* what, std::string_view path);
    void checkCreation(int dir, std::string_view name, std::string_view path) const;
    void checkRemoval(int node, std::string_view path) const;
    void fillStat(int node, struct stat* st) const;
    Descriptor* descriptor(int fd);
    const Descriptor* descriptor(int fd) const;

    friend struct Calls;
};

} // namespace fuzz
