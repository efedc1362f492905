// The fake file system against the real one: each case builds the same tree in the fake and in a
// fresh temporary directory, makes the same call through the fake's table and through
// posixRealCalls, and compares the result, errno, the text read and the tree afterwards. The
// fuzz targets judge the commands by the fake, so it has to answer as Linux does.
#include "FakeFs.h"

#include "platform/posix/syscalls.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

enum class Op {
    Stat,
    Lstat,
    Mkdir,
    Unlink,
    Rmdir,
    Open,
    Readlink,
    Symlink,
    ReadDir,
    FdPath,
    LstatIn, // fstatat without following, relative to the directory target opened
    RmdirIn, // unlinkat(AT_REMOVEDIR), relative to the directory target opened
};

struct Case {
    const char* tree; // FakeFs lines
    Op op;
    const char* path;             // absolute paths are below the tree's root
    int flags = 0;                // Open: open flags
    const char* target = nullptr; // Symlink: the link's text; *In: the directory
};

const char kTree[] = "d w/dir/sub\n"
                     "d w/empty\n"
                     "f w/file\n"
                     "l w/dl /o/d\n"
                     "l w/rl ../o/d\n"
                     "l w/fl file\n"
                     "l w/chain dl\n"
                     "l w/dangling /o/none\n"
                     "l w/loop loop\n"
                     "d o/d/inner\n"
                     "f o/d/x\n";

const std::string kLongName(256, 'n');

const Case kCases[] = {
    {kTree, Op::Stat, "file"},
    {kTree, Op::Stat, "dl"},
    {kTree, Op::Lstat, "dl"},
    {kTree, Op::Lstat, "dl/"},
    {kTree, Op::Lstat, "fl/"},
    {kTree, Op::Lstat, "file/"},
    {kTree, Op::Lstat, "file/."},
    {kTree, Op::Stat, "chain/inner"},
    {kTree, Op::Stat, "rl/../d/x"},
    {kTree, Op::Stat, "dl/../../w/file"},
    {kTree, Op::Stat, "dangling"},
    {kTree, Op::Lstat, "dangling"},
    {kTree, Op::Stat, "loop"},
    {kTree, Op::Lstat, "loop/"},
    {kTree, Op::Stat, "missing/x"},
    {kTree, Op::Stat, "//w///dir//"},
    {kTree, Op::Stat, "/.."},
    {kTree, Op::Stat, ""},
    {kTree, Op::Stat, kLongName.c_str()},
    {kTree, Op::Mkdir, "dir"},
    {kTree, Op::Mkdir, "dangling"},
    {kTree, Op::Mkdir, "new/"},
    {kTree, Op::Mkdir, "missing/new"},
    {kTree, Op::Mkdir, "file/new"},
    {kTree, Op::Mkdir, "."},
    {kTree, Op::Mkdir, "/"},
    {kTree, Op::Mkdir, "dl/new"},
    {kTree, Op::Mkdir, "dangling/new"},
    {kTree, Op::Unlink, "file"},
    {kTree, Op::Unlink, "dir"},
    {kTree, Op::Unlink, "dl"},
    {kTree, Op::Unlink, "dl/"},
    {kTree, Op::Unlink, "fl/"},
    {kTree, Op::Unlink, "file/"},
    {kTree, Op::Unlink, "empty/"},
    {kTree, Op::Unlink, "missing"},
    {kTree, Op::Unlink, "."},
    {kTree, Op::Unlink, "dl/x"},
    {kTree, Op::Rmdir, "empty"},
    {kTree, Op::Rmdir, "empty//"},
    {kTree, Op::Rmdir, "dir"},
    {kTree, Op::Rmdir, "file"},
    {kTree, Op::Rmdir, "dl"},
    {kTree, Op::Rmdir, "dl/"},
    {kTree, Op::Rmdir, "dangling"},
    {kTree, Op::Rmdir, "."},
    {kTree, Op::Rmdir, "dir/sub/.."},
    {kTree, Op::Rmdir, "dl/inner"},
    {kTree, Op::Open, "dl", O_PATH | O_NOFOLLOW},
    {kTree, Op::Open, "dl", O_RDONLY | O_DIRECTORY | O_NOFOLLOW},
    {kTree, Op::Open, "dl", O_RDONLY | O_DIRECTORY},
    {kTree, Op::Open, "dl/", O_PATH | O_NOFOLLOW},
    {kTree, Op::Open, "fl", O_PATH | O_NOFOLLOW},
    {kTree, Op::Open, "fl", O_RDONLY | O_NOFOLLOW},
    {kTree, Op::Open, "file", O_RDONLY | O_DIRECTORY},
    {kTree, Op::Open, "file/", O_PATH},
    {kTree, Op::Open, "dangling", O_PATH},
    {kTree, Op::Open, "loop", O_PATH | O_NOFOLLOW},
    {kTree, Op::Readlink, "dl"},
    {kTree, Op::Readlink, "rl"},
    {kTree, Op::Readlink, "file"},
    {kTree, Op::Readlink, "dl/"},
    {kTree, Op::Readlink, "missing"},
    {kTree, Op::Symlink, "dir", 0, "x"},
    {kTree, Op::Symlink, "dangling", 0, "x"},
    {kTree, Op::Symlink, "new", 0, "/o/d"},
    {kTree, Op::Symlink, "missing/new", 0, "x"},
    {kTree, Op::Symlink, "dl/new", 0, "x"},
    {kTree, Op::ReadDir, "dir"},
    {kTree, Op::ReadDir, "dl"},
    {kTree, Op::ReadDir, "/o/d"},
    {kTree, Op::FdPath, "chain/inner"},
    {kTree, Op::FdPath, "fl"},
    {kTree, Op::FdPath, "rl/../d/x"},
    {kTree, Op::LstatIn, "x", 0, "dl"},
    {kTree, Op::LstatIn, "sub/..", 0, "dir"},
    {kTree, Op::LstatIn, "/w/fl", 0, "dir"},
    {kTree, Op::RmdirIn, "sub", 0, "dir"},
    {kTree, Op::RmdirIn, "inner", 0, "chain"},
};

struct Outcome {
    long result = 0;
    int err = 0;
    std::string text;                // stat: the type; readlink, fd path: the text; dir: names
    std::set<std::string> treeAfter; // every entry below the root, with its type
    bool operator==(const Outcome&) const = default;
};

// A path of a case as the side sees it: absolute ones below root.
std::string mapped(const std::string& root, const char* path) {
    return path[0] == '/' ? root + path : path;
}

std::string typeOf(mode_t mode) {
    return S_ISDIR(mode) ? "dir" : S_ISREG(mode) ? "file" : S_ISLNK(mode) ? "link" : "other";
}

// The names of a getdents64 buffer with their types.
std::string namesOf(const char* buffer, long length) {
    std::set<std::string> names;
    for (long at = 0; at < length;) {
        unsigned short reclen;
        memcpy(&reclen, buffer + at + 16, 2);
        if (reclen == 0 || reclen % 8 != 0)
            return "bad record length " + std::to_string(reclen);
        names.insert(std::string(buffer + at + 19) + ":" +
                     std::to_string(static_cast<int>(buffer[at + 18])));
        at += reclen;
    }
    std::string text;
    for (const std::string& n : names)
        text += n + " ";
    return text;
}

// Runs the case's call through calls; root is "" for the fake, the directory for the real side.
Outcome run(const PosixCalls& calls, const Case& c, const std::string& root) {
    Outcome o;
    const std::string path = mapped(root, c.path);
    errno = 0;
    struct stat st;
    switch (c.op) {
    case Op::Stat:
    case Op::Lstat:
        o.result =
            calls.fstatat(AT_FDCWD, path.c_str(), &st, c.op == Op::Lstat ? AT_SYMLINK_NOFOLLOW : 0);
        if (o.result == 0)
            o.text = typeOf(st.st_mode);
        break;
    case Op::Mkdir:
        o.result = calls.mkdirat(AT_FDCWD, path.c_str(), 0777);
        break;
    case Op::Unlink:
    case Op::Rmdir:
        o.result = calls.unlinkat(AT_FDCWD, path.c_str(), c.op == Op::Rmdir ? AT_REMOVEDIR : 0);
        break;
    case Op::Open: {
        int fd = calls.openat(AT_FDCWD, path.c_str(), c.flags);
        o.result = fd >= 0 ? 0 : -1;
        int err = errno;
        if (fd >= 0)
            calls.close(fd);
        errno = err;
        break;
    }
    case Op::Readlink: {
        char buffer[4096];
        ssize_t n = calls.readlinkat(AT_FDCWD, path.c_str(), buffer, sizeof buffer);
        o.result = n < 0 ? -1 : 0;
        if (n >= 0)
            o.text.assign(buffer, static_cast<size_t>(n));
        break;
    }
    case Op::Symlink:
        o.result = calls.symlinkat(mapped(root, c.target).c_str(), AT_FDCWD, path.c_str());
        break;
    case Op::LstatIn:
    case Op::RmdirIn: {
        int dir = calls.openat(AT_FDCWD, mapped(root, c.target).c_str(), O_RDONLY | O_DIRECTORY);
        if (dir < 0) {
            o.result = -1;
            o.text = "cannot open the directory";
            break;
        }
        o.result = c.op == Op::LstatIn ? calls.fstatat(dir, path.c_str(), &st, AT_SYMLINK_NOFOLLOW)
                                       : calls.unlinkat(dir, path.c_str(), AT_REMOVEDIR);
        if (o.result == 0 && c.op == Op::LstatIn)
            o.text = typeOf(st.st_mode);
        int err = errno;
        calls.close(dir);
        errno = err;
        break;
    }
    case Op::ReadDir:
    case Op::FdPath: {
        int fd = calls.openat(AT_FDCWD, path.c_str(),
                              c.op == Op::ReadDir ? O_RDONLY | O_DIRECTORY : O_PATH);
        o.result = fd;
        if (fd < 0)
            break;
        o.result = 0;
        if (c.op == Op::ReadDir) {
            alignas(8) char buffer[4096];
            long n = calls.readDirEntries(fd, buffer, sizeof buffer);
            o.text = n < 0 ? "error" : namesOf(buffer, n);
            if (calls.readDirEntries(fd, buffer, sizeof buffer) != 0)
                o.text += "(no end)";
        } else {
            char link[32], buffer[4096];
            snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
            ssize_t n = calls.readlinkat(AT_FDCWD, link, buffer, sizeof buffer);
            o.text = n < 0 ? "error" : std::string(buffer, static_cast<size_t>(n));
        }
        calls.close(fd);
        break;
    }
    }
    o.err = o.result < 0 ? errno : 0;
    if (o.result < 0)
        o.result = -1;
    if (!root.empty() && o.text.rfind(root, 0) == 0)
        o.text.erase(0, root.size());
    return o;
}

// Every entry below dir of the real tree, relative, with its type; links are not entered.
void listReal(const fs::path& root, const fs::path& dir, std::set<std::string>& out) {
    for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
        std::string name = "/" + e.path().lexically_relative(root).string();
        if (e.is_symlink()) {
            out.insert(name + " link " + fs::read_symlink(e.path()).string());
        } else if (e.is_directory()) {
            out.insert(name + " dir");
            listReal(root, e.path(), out);
        } else {
            out.insert(name + " file");
        }
    }
}

void listFake(const fuzz::FakeFs& fake, int dir, std::set<std::string>& out) {
    for (int child : fake.children(dir)) {
        switch (fake.kind(child)) {
        case fuzz::FakeFs::Kind::Link:
            out.insert(fake.pathOf(child) + " link " + fake.targetOf(child));
            break;
        case fuzz::FakeFs::Kind::Dir:
            out.insert(fake.pathOf(child) + " dir");
            listFake(fake, child, out);
            break;
        case fuzz::FakeFs::Kind::File:
            out.insert(fake.pathOf(child) + " file");
            break;
        }
    }
}

// Builds the tree lines in the real directory root (absolute link targets below root).
void buildReal(const std::string& root, const char* tree) {
    std::string lines(tree);
    for (size_t at = 0; at < lines.size();) {
        size_t end = lines.find('\n', at);
        std::string line = lines.substr(at, end - at);
        at = end + 1;
        std::string path = line.substr(2, line.find(' ', 2) - 2);
        fs::path full = fs::path(root) / path;
        fs::create_directories(full.parent_path());
        if (line[0] == 'd') {
            fs::create_directories(full);
        } else if (line[0] == 'f') {
            FILE* f = fopen(full.c_str(), "w");
            if (f)
                fclose(f);
        } else {
            std::string target = line.substr(line.find(' ', 2) + 1);
            fs::create_symlink(target[0] == '/' ? root + target : target, full);
        }
    }
    fs::create_directories(fs::path(root) / "w");
    fs::create_directories(fs::path(root) / "o");
}

std::string describe(const Outcome& o) {
    std::string text = "result " + std::to_string(o.result) + " errno " + std::to_string(o.err) +
                       " (" + strerror(o.err) + ") \"" + o.text + "\"\n";
    for (const std::string& e : o.treeAfter)
        text += "      " + e + "\n";
    return text;
}

} // namespace

int main() {
    char pattern[] = "/tmp/treeprep-fakefs-XXXXXX";
    if (!mkdtemp(pattern)) {
        perror("mkdtemp");
        return 2;
    }
    const fs::path base = fs::canonical(pattern);
    const fs::path start = fs::current_path();
    int failures = 0, number = 0;
    for (const Case& c : kCases) {
        ++number;
        const std::string root = (base / std::to_string(number)).string();
        fs::create_directory(root);
        buildReal(root, c.tree);
        fs::current_path(fs::path(root) / "w");
        Outcome real = run(posixRealCalls, c, root);
        std::set<std::string> entries;
        listReal(root, root, entries);
        for (std::string e : entries) { // link targets below root as the fake writes them
            size_t at = e.find(root);
            if (at != std::string::npos)
                e.erase(at, root.size());
            real.treeAfter.insert(e);
        }

        fuzz::FakeFs fake;
        fake.load(reinterpret_cast<const uint8_t*>(c.tree), strlen(c.tree), 0);
        fake.watchNothing();
        fake.install();
        const PosixCalls fakeCalls = posixCalls;
        Outcome imitated = run(fakeCalls, c, "");
        fake.uninstall();
        listFake(fake, 0, imitated.treeAfter);

        if (!(real == imitated)) {
            ++failures;
            printf("case %d (op %d on \"%s\", flags 0x%x) differs\n  Linux: %s  fake:  %s", number,
                   static_cast<int>(c.op), c.path, c.flags, describe(real).c_str(),
                   describe(imitated).c_str());
        }
    }
    fs::current_path(start);
    fs::remove_all(base); // links inside are removed, never followed
    printf("%d of %d cases answer as Linux does\n", number - failures, number);
    return failures == 0 ? 0 : 1;
}
