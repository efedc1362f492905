#include "FakeFs.h"

#include "FuzzSupport.h"

#include "platform/posix/syscalls.h"
#include "platform/posix/text.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace fuzz {

namespace {

FakeFs* current = nullptr;

constexpr size_t kNameMax = 255;
constexpr size_t kPathMax = 4096; // with the terminator
constexpr int kMaxLinks = 40;

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && s.back() == '\r')
        s.remove_suffix(1);
    return s;
}

// The next field of line up to a blank; line keeps the rest after it.
std::string_view field(std::string_view& line) {
    size_t blank = line.find(' ');
    std::string_view f = line.substr(0, blank);
    line = blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
    return f;
}

} // namespace

FakeFs::FakeFs() {
    nodes_.push_back({Kind::Dir, "", 0, "", false, true, true, false, {}});
    add(Kind::Dir, 0, "w", "");
    add(Kind::Dir, 0, "o", "");
    for (Node& n : nodes_)
        n.watched = true;
    cwd_ = 1;
}

FakeFs::~FakeFs() {
    if (installed_)
        uninstall();
}

int FakeFs::lookup(int dir, std::string_view name) const {
    for (int child : nodes_[dir].entries)
        if (nodes_[child].alive && nodes_[child].name == name)
            return child;
    return -1;
}

int FakeFs::add(Kind kind, int parent, std::string_view name, std::string_view target) {
    nodes_.push_back(
        {kind, std::string(name), parent, std::string(target), false, true, false, false, {}});
    int node = static_cast<int>(nodes_.size() - 1);
    nodes_[parent].entries.push_back(node);
    return node;
}

std::vector<std::string> FakeFs::load(const uint8_t* data, size_t size, size_t maxArgs) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> args;
    bool inArgs = false;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (inArgs) {
            if (args.size() < maxArgs)
                args.emplace_back(line.substr(0, line.find('\0'))); // argv strings end at a NUL
        } else if (trimmed(line) == "--") {
            inArgs = true;
        } else {
            loadLine(trimmed(line));
        }
    }
    for (Node& n : nodes_)
        n.watched = true;
    return args;
}

void FakeFs::loadLine(std::string_view line) {
    std::string_view kindField = field(line);
    if (kindField == "!") {
        std::string_view call = field(line);
        std::string nth(field(line)), err(field(line));
        for (int i = 0; i < kCalls; ++i) {
            int e = atoi(err.c_str());
            long n = atol(nth.c_str());
            const bool number = !nth.empty() && nth.find_first_not_of("0123456789") == nth.npos;
            if (call == testkit::kPosixCallNames[i] && number && n >= 0 && e > 0 && e < 4096 &&
                faults_.size() < 8)
                faults_.push_back({i, testkit::FaultCount(static_cast<unsigned>(n)), e});
        }
        return;
    }
    if (kindField == "c") {
        Found f = resolve(line, true);
        if (f.err == 0 && nodes_[f.node].kind == Kind::Dir)
            cwd_ = f.node;
        return;
    }
    Kind kind;
    if (kindField == "d")
        kind = Kind::Dir;
    else if (kindField == "f" || kindField == "r")
        kind = Kind::File;
    else if (kindField == "l")
        kind = Kind::Link;
    else
        return;
    std::string_view path = kind == Kind::Link ? field(line) : line;
    std::string_view target = kind == Kind::Link ? line : std::string_view();
    if (kind == Kind::Link && (target.empty() || target.size() >= kPathMax))
        return;
    // Plain names from the root: "." and ".." and empty components are skipped.
    int dir = 0;
    while (!path.empty()) {
        size_t slash = path.find('/');
        std::string_view name = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        if (name.empty() || name == "." || name == ".." || name.find('\0') != name.npos)
            continue;
        if (name.size() > kNameMax || nodes_.size() >= kMaxNodes || (dir == 0 && name == "proc"))
            return; // /proc is the kernel's: readlink of /proc/self/fd/N names descriptors
        bool last = path.find_first_not_of('/') == std::string_view::npos;
        int child = lookup(dir, name);
        if (last) {
            if (child >= 0)
                return;
            int node = add(kind, dir, name, target);
            nodes_[node].readOnly = kindField == "r";
            return;
        }
        if (child < 0)
            child = add(Kind::Dir, dir, name, "");
        if (nodes_[child].kind != Kind::Dir)
            return;
        dir = child;
    }
}

FakeFs::Found FakeFs::walk(int start, std::string_view path, bool followFinal, int& links) const {
    if (path.empty())
        return {ENOENT, -1};
    if (path.size() >= kPathMax)
        return {ENAMETOOLONG, -1};
    const bool trailing = path.back() == '/';
    int cur = path[0] == '/' ? 0 : start;
    size_t i = 0;
    for (;;) {
        while (i < path.size() && path[i] == '/')
            ++i;
        if (i >= path.size())
            break;
        size_t j = path.find('/', i);
        if (j == std::string_view::npos)
            j = path.size();
        std::string_view name = path.substr(i, j - i);
        i = j;
        bool last = path.find_first_not_of('/', j) == std::string_view::npos;
        // A removed directory (a current directory, an open descriptor) still has "." and "..";
        // its names are gone.
        if (nodes_[cur].kind != Kind::Dir)
            return {ENOTDIR, -1};
        if (name.size() > kNameMax)
            return {ENAMETOOLONG, -1};
        if (name == ".")
            continue;
        if (name == "..") {
            cur = nodes_[cur].parent;
            continue;
        }
        int child = lookup(cur, name);
        if (child < 0)
            return {ENOENT, -1};
        if (nodes_[child].kind == Kind::Link && (!last || followFinal || trailing)) {
            if (++links > kMaxLinks)
                return {ELOOP, -1};
            Found target = walk(cur, nodes_[child].target, true, links);
            if (target.err)
                return target;
            child = target.node;
        }
        cur = child;
    }
    if (trailing && nodes_[cur].kind != Kind::Dir)
        return {ENOTDIR, -1};
    return {0, cur};
}

FakeFs::Found FakeFs::resolve(std::string_view path, bool followFinal) const {
    int links = 0;
    return walk(cwd_, path, followFinal, links);
}

FakeFs::Found FakeFs::startOf(int dirfd) const {
    if (dirfd == AT_FDCWD)
        return {0, cwd_};
    const Descriptor* d = descriptor(dirfd);
    if (!d)
        return {EBADF, -1};
    if (nodes_[d->node].kind != Kind::Dir)
        return {ENOTDIR, -1};
    return {0, d->node};
}

FakeFs::Found FakeFs::resolveAt(int dirfd, std::string_view path, bool followFinal) const {
    Found start = path.empty() || path[0] != '/' ? startOf(dirfd) : Found{0, 0};
    if (start.err)
        return start;
    int links = 0;
    return walk(start.node, path, followFinal, links);
}

FakeFs::Parent FakeFs::parentAt(int dirfd, std::string_view path) const {
    Found start = path.empty() || path[0] != '/' ? startOf(dirfd) : Found{0, 0};
    if (start.err)
        return {start.err, -1, {}, false, Parent::Normal};
    return parentOf(start.node, path);
}

FakeFs::Parent FakeFs::parentOf(int start, std::string_view path) const {
    if (path.empty())
        return {ENOENT, -1, {}, false, Parent::Normal};
    if (path.size() >= kPathMax)
        return {ENAMETOOLONG, -1, {}, false, Parent::Normal};
    size_t end = path.find_last_not_of('/');
    if (end == std::string_view::npos)
        return {0, 0, {}, true, Parent::Root};
    bool trailing = end + 1 < path.size();
    std::string_view stripped = path.substr(0, end + 1);
    size_t slash = stripped.rfind('/');
    std::string_view name = slash == std::string_view::npos ? stripped : stripped.substr(slash + 1);
    int dir = start;
    if (slash != std::string_view::npos) {
        int links = 0;
        Found f = walk(start, stripped.substr(0, slash + 1), true, links);
        if (f.err)
            return {f.err, -1, {}, trailing, Parent::Normal};
        dir = f.node;
    }
    if (!nodes_[dir].alive)
        return {ENOENT, -1, {}, trailing, Parent::Normal};
    if (name.size() > kNameMax)
        return {ENAMETOOLONG, -1, {}, trailing, Parent::Normal};
    Parent::Type type = name == "." ? Parent::Dot : name == ".." ? Parent::DotDot : Parent::Normal;
    return {0, dir, name, trailing, type};
}

FakeFs::Found FakeFs::entry(std::string_view path) const {
    Parent p = parentOf(cwd_, path);
    if (p.err)
        return {p.err, -1};
    if (p.type != Parent::Normal)
        return {ENOENT, -1};
    int node = lookup(p.dir, p.name);
    return node < 0 ? Found{ENOENT, -1} : Found{0, node};
}

bool FakeFs::leadsToDirectory(int node) const {
    if (nodes_[node].kind != Kind::Link)
        return nodes_[node].kind == Kind::Dir;
    int links = 1;
    Found target = walk(nodes_[node].parent, nodes_[node].target, true, links);
    return target.err != 0 || nodes_[target.node].kind == Kind::Dir;
}

std::string FakeFs::pathOf(int node) const {
    if (node == 0)
        return "/";
    std::string path;
    for (int n = node; n != 0; n = nodes_[n].parent)
        path.insert(0, "/" + nodes_[n].name);
    return path;
}

std::vector<int> FakeFs::children(int node) const {
    std::vector<int> result;
    for (int child : nodes_[node].entries)
        if (nodes_[child].alive)
            result.push_back(child);
    return result;
}

void FakeFs::allowRemoval(int node) {
    nodes_[node].removable = true;
}

void FakeFs::allowRemovalBelow(int node) {
    if (nodes_[node].kind != Kind::Dir)
        return;
    for (int child : children(node)) {
        allowRemoval(child);
        allowRemovalBelow(child);
    }
}

void FakeFs::allowCreationAlong(std::string path) {
    creationPaths_.push_back(std::move(path));
}

void FakeFs::allowTemporaryNamesBeside(std::string path, std::string prefix) {
    temporaryNames_.emplace_back(std::move(path), std::move(prefix));
}

int FakeFs::openDescriptors() const {
    int n = 0;
    for (const Descriptor& d : descriptors_)
        n += d.open;
    return n;
}

bool FakeFs::faulted(Call call) {
    int err = 0; // every fault of the kind counts the call; the first that hits decides
    for (Fault& f : faults_)
        if (f.call == call && f.count.hits() && err == 0)
            err = f.err;
    if (err != 0)
        errno = err;
    return err != 0;
}

void FakeFs::watchChange(const char* what, std::string_view path) {
    if (changesForbidden_)
        fail("%s(\"%.*s\") called by code that must not change anything", what,
             static_cast<int>(path.size()), path.data());
}

void FakeFs::checkCreation(int dir, std::string_view name, std::string_view path) const {
    if (!nodes_[dir].watched)
        return;
    for (const auto& [beside, prefix] : temporaryNames_) {
        Parent p = parentOf(cwd_, beside);
        if (p.err == 0 && p.dir == dir && name.substr(0, prefix.size()) == prefix)
            return;
    }
    for (const std::string& allowed : creationPaths_) {
        // The path itself and each parent the text names, as the command spells them.
        for (size_t end = allowed.size(); end > 0;) {
            Parent p = parentOf(cwd_, std::string_view(allowed).substr(0, end));
            if (p.err == 0 && p.type == Parent::Normal && p.dir == dir && p.name == name)
                return;
            end = posixParentLength(allowed.data(), end);
        }
    }
    fail("unexpected creation of \"%.*s\" inside %s (the call named \"%.*s\")",
         static_cast<int>(name.size()), name.data(), pathOf(dir).c_str(),
         static_cast<int>(path.size()), path.data());
}

void FakeFs::checkRemoval(int node, std::string_view path) const {
    if (nodes_[node].watched && !nodes_[node].removable)
        fail("unexpected removal of %s (the call named \"%.*s\")", pathOf(node).c_str(),
             static_cast<int>(path.size()), path.data());
}

void FakeFs::fillStat(int node, struct stat* st) const {
    memset(st, 0, sizeof *st);
    const Node& n = nodes_[node];
    st->st_ino = static_cast<ino_t>(node + 2);
    st->st_nlink = n.alive ? 1 : 0;
    st->st_dev = 1;
    switch (n.kind) {
    case Kind::Dir:
        st->st_mode = S_IFDIR | 0755;
        break;
    case Kind::File:
        st->st_mode = S_IFREG | (n.readOnly ? 0444 : 0644);
        break;
    case Kind::Link:
        st->st_mode = S_IFLNK | 0777;
        st->st_size = static_cast<off_t>(n.target.size());
        break;
    }
}

FakeFs::Descriptor* FakeFs::descriptor(int fd) {
    return const_cast<Descriptor*>(static_cast<const FakeFs*>(this)->descriptor(fd));
}

const FakeFs::Descriptor* FakeFs::descriptor(int fd) const {
    if (fd < kFirstDescriptor || fd >= kFirstDescriptor + kDescriptors)
        return nullptr;
    const Descriptor* d = &descriptors_[fd - kFirstDescriptor];
    return d->open ? d : nullptr;
}

// The table members: each works on the installed fake.
struct FakeFs::Calls {
    static FakeFs& fs() { return *current; }

    static int error(int err) {
        errno = err;
        return -1;
    }

    static int fstatat(int dirfd, const char* path, struct stat* st, int flags) {
        if (fs().faulted(kFstatat))
            return -1;
        if ((flags & ~AT_SYMLINK_NOFOLLOW) != 0)
            return error(EINVAL);
        Found f = fs().resolveAt(dirfd, path, (flags & AT_SYMLINK_NOFOLLOW) == 0);
        if (f.err)
            return error(f.err);
        fs().fillStat(f.node, st);
        return 0;
    }

    // The fake has no mounts: no directory is a mount root. AT_EMPTY_PATH describes dirfd itself.
    static int statx(int dirfd, const char* path, int flags, unsigned, struct statx* stx) {
        if (fs().faulted(kStatx))
            return -1;
        constexpr int kKnown = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | AT_EMPTY_PATH;
        if ((flags & ~kKnown) != 0)
            return error(EINVAL);
        int node;
        if ((flags & AT_EMPTY_PATH) && path[0] == 0) {
            const Descriptor* d = fs().descriptor(dirfd);
            if (!d)
                return error(EBADF);
            node = d->node;
        } else {
            Found f = fs().resolveAt(dirfd, path, (flags & AT_SYMLINK_NOFOLLOW) == 0);
            if (f.err)
                return error(f.err);
            node = f.node;
        }
        struct stat st;
        fs().fillStat(node, &st);
        memset(stx, 0, sizeof *stx);
        stx->stx_mask = STATX_TYPE | STATX_MODE | STATX_INO | STATX_NLINK | STATX_SIZE;
        stx->stx_attributes_mask = STATX_ATTR_MOUNT_ROOT;
        stx->stx_mode = static_cast<uint16_t>(st.st_mode);
        stx->stx_ino = st.st_ino;
        stx->stx_nlink = static_cast<uint32_t>(st.st_nlink);
        stx->stx_size = static_cast<uint64_t>(st.st_size);
        stx->stx_dev_major = 0;
        stx->stx_dev_minor = static_cast<uint32_t>(st.st_dev);
        return 0;
    }

    static int mkdirat(int dirfd, const char* path, mode_t) {
        fs().watchChange("mkdirat", path);
        if (fs().faulted(kMkdirat))
            return -1;
        Parent p = fs().parentAt(dirfd, path);
        if (p.err)
            return error(p.err);
        if (p.type != Parent::Normal || fs().lookup(p.dir, p.name) >= 0)
            return error(EEXIST);
        if (fs().nodes_.size() >= kMaxNodes)
            return error(ENOSPC);
        fs().checkCreation(p.dir, p.name, path);
        fs().add(Kind::Dir, p.dir, p.name, "");
        ++fs().changes_;
        return 0;
    }

    // rmdir (AT_REMOVEDIR) or unlink.
    static int unlinkat(int dirfd, const char* path, int flags) {
        fs().watchChange("unlinkat", path);
        if (fs().faulted(kUnlinkat))
            return -1;
        if ((flags & ~AT_REMOVEDIR) != 0)
            return error(EINVAL);
        const bool directory = flags & AT_REMOVEDIR;
        Parent p = fs().parentAt(dirfd, path);
        if (p.err)
            return error(p.err);
        if (!directory && p.type != Parent::Normal)
            return error(EISDIR);
        if (p.type == Parent::Root)
            return error(EBUSY);
        if (p.type == Parent::Dot)
            return error(EINVAL);
        if (p.type == Parent::DotDot)
            return error(ENOTEMPTY);
        int node = fs().lookup(p.dir, p.name);
        if (node < 0)
            return error(ENOENT);
        const Kind kind = fs().nodes_[node].kind;
        if (directory && kind != Kind::Dir)
            return error(ENOTDIR);
        if (directory && !fs().children(node).empty())
            return error(ENOTEMPTY);
        if (!directory && kind == Kind::Dir)
            return error(EISDIR);
        if (!directory && p.trailing)
            return error(ENOTDIR);
        fs().checkRemoval(node, path);
        fs().nodes_[node].alive = false;
        ++fs().changes_;
        return 0;
    }

    static int openat(int dirfd, const char* path, int flags) {
        if (fs().faulted(kOpenat))
            return -1;
        constexpr int kKnown = O_PATH | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC;
        if ((flags & ~kKnown) != 0)
            return error(EINVAL); // writing, creating, truncating: not in the fake
        Found f = fs().resolveAt(dirfd, path, (flags & O_NOFOLLOW) == 0);
        if (f.err)
            return error(f.err);
        Kind kind = fs().nodes_[f.node].kind;
        if (kind == Kind::Link && (flags & O_DIRECTORY))
            return error(ENOTDIR);
        if (kind == Kind::Link && !(flags & O_PATH))
            return error(ELOOP);
        if ((flags & O_DIRECTORY) && kind != Kind::Dir)
            return error(ENOTDIR);
        for (int i = 0; i < kDescriptors; ++i) {
            Descriptor& d = fs().descriptors_[i];
            if (!d.open) {
                d = {true, f.node, (flags & O_PATH) != 0, 0};
                return kFirstDescriptor + i;
            }
        }
        return error(EMFILE);
    }

    static int close(int fd) {
        Descriptor* d = fs().descriptor(fd);
        if (!d)
            return error(EBADF);
        d->open = false;
        if (fs().faulted(kClose))
            return -1; // like Linux: the descriptor is gone even when close reports an error
        return 0;
    }

    static long readDirEntries(int fd, void* buffer, size_t size) {
        if (fs().faulted(kReadDir))
            return -1;
        Descriptor* d = fs().descriptor(fd);
        if (!d || d->pathOnly)
            return error(EBADF);
        const Node& dir = fs().nodes_[d->node];
        if (dir.kind != Kind::Dir)
            return error(ENOTDIR);
        if (!dir.alive)
            return 0;
        char* out = static_cast<char*>(buffer);
        size_t used = 0;
        while (d->position < 2 + dir.entries.size()) {
            int node;
            std::string_view name;
            if (d->position == 0) {
                node = d->node, name = ".";
            } else if (d->position == 1) {
                node = dir.parent, name = "..";
            } else {
                node = dir.entries[d->position - 2];
                if (!fs().nodes_[node].alive) {
                    ++d->position;
                    continue;
                }
                name = fs().nodes_[node].name;
            }
            // struct linux_dirent64: ino, off, reclen, type, name; records 8-byte aligned.
            constexpr size_t kNameOffset = 8 + 8 + 2 + 1;
            size_t reclen = (kNameOffset + name.size() + 1 + 7) & ~size_t(7);
            if (used + reclen > size) {
                if (used == 0)
                    return error(EINVAL);
                break;
            }
            char* record = out + used;
            memset(record, 0, reclen);
            uint64_t ino = static_cast<uint64_t>(node) + 2;
            int64_t off = static_cast<int64_t>(d->position) + 1;
            unsigned short length = static_cast<unsigned short>(reclen);
            Kind kind = fs().nodes_[node].kind;
            unsigned char type = kind == Kind::Dir ? DT_DIR : kind == Kind::File ? DT_REG : DT_LNK;
            memcpy(record, &ino, 8);
            memcpy(record + 8, &off, 8);
            memcpy(record + 16, &length, 2);
            memcpy(record + 18, &type, 1);
            memcpy(record + kNameOffset, name.data(), name.size());
            used += reclen;
            ++d->position;
        }
        return static_cast<long>(used);
    }

    static ssize_t readlinkat(int dirfd, const char* path, char* buffer, size_t size) {
        if (fs().faulted(kReadlinkat))
            return -1;
        if (size == 0)
            return error(EINVAL);
        std::string text;
        static constexpr std::string_view kFdPrefix = "/proc/self/fd/";
        std::string_view p(path);
        if (p.substr(0, kFdPrefix.size()) == kFdPrefix) {
            std::string_view number = p.substr(kFdPrefix.size());
            if (number.empty() || number.size() > 9 ||
                number.find_first_not_of("0123456789") != std::string_view::npos)
                return error(ENOENT);
            Descriptor* d = fs().descriptor(atoi(std::string(number).c_str()));
            if (!d)
                return error(ENOENT);
            text = fs().pathOf(d->node);
            if (!fs().alive(d->node))
                text += " (deleted)";
        } else {
            Found f = fs().resolveAt(dirfd, p, false);
            if (f.err)
                return error(f.err);
            if (fs().nodes_[f.node].kind != Kind::Link)
                return error(EINVAL);
            text = fs().nodes_[f.node].target;
        }
        size_t n = text.size() < size ? text.size() : size; // no terminator, as readlink does
        memcpy(buffer, text.data(), n);
        return static_cast<ssize_t>(n);
    }

    static int symlinkat(const char* target, int dirfd, const char* path) {
        fs().watchChange("symlinkat", path);
        if (fs().faulted(kSymlinkat))
            return -1;
        size_t targetLength = strlen(target);
        if (targetLength == 0)
            return error(ENOENT);
        if (targetLength >= kPathMax)
            return error(ENAMETOOLONG);
        Parent p = fs().parentAt(dirfd, path);
        if (p.err)
            return error(p.err);
        if (p.type != Parent::Normal || fs().lookup(p.dir, p.name) >= 0)
            return error(EEXIST);
        if (p.trailing)
            return error(ENOENT);
        if (fs().nodes_.size() >= kMaxNodes)
            return error(ENOSPC);
        fs().checkCreation(p.dir, p.name, path);
        fs().add(Kind::Link, p.dir, p.name, target);
        ++fs().changes_;
        return 0;
    }

    // Whether node is dir or lies below it.
    static bool within(int node, int dir) {
        for (; node > 0; node = fs().nodes_[node].parent)
            if (node == dir)
                return true;
        return node == dir;
    }

    // Puts node at name in dir (its entry moves along), as a rename does.
    static void place(int node, int dir, std::string_view name) {
        Node& n = fs().nodes_[node];
        std::vector<int>& from = fs().nodes_[n.parent].entries;
        for (size_t i = 0; i < from.size(); ++i)
            if (from[i] == node) {
                from.erase(from.begin() + static_cast<long>(i));
                break;
            }
        n.parent = dir;
        n.name = std::string(name);
        fs().nodes_[dir].entries.push_back(node);
    }

    static int renameat2(int oldDirfd, const char* oldPath, int newDirfd, const char* newPath,
                         unsigned flags) {
        fs().watchChange("renameat2", newPath);
        if (fs().faulted(kRenameat2))
            return -1;
        if ((flags & ~(kRenameNoReplace | kRenameExchange)) != 0 ||
            flags == (kRenameNoReplace | kRenameExchange))
            return error(EINVAL);
        Parent from = fs().parentAt(oldDirfd, oldPath);
        if (from.err)
            return error(from.err);
        Parent to = fs().parentAt(newDirfd, newPath);
        if (to.err)
            return error(to.err);
        if (from.type != Parent::Normal || to.type != Parent::Normal)
            return error(EBUSY);
        int moved = fs().lookup(from.dir, from.name);
        if (moved < 0)
            return error(ENOENT);
        int standing = fs().lookup(to.dir, to.name);
        const bool exchange = flags & kRenameExchange;
        if (exchange && standing < 0)
            return error(ENOENT);
        if ((flags & kRenameNoReplace) && standing >= 0)
            return error(EEXIST);
        if (standing == moved)
            return 0;
        const bool movedIsDir = fs().nodes_[moved].kind == Kind::Dir;
        if (movedIsDir && within(to.dir, moved))
            return error(EINVAL);
        if (exchange && fs().nodes_[standing].kind == Kind::Dir && within(from.dir, standing))
            return error(EINVAL);
        if (standing >= 0 && !exchange) {
            const bool standingIsDir = fs().nodes_[standing].kind == Kind::Dir;
            if (movedIsDir && !standingIsDir)
                return error(ENOTDIR);
            if (!movedIsDir && standingIsDir)
                return error(EISDIR);
            if (standingIsDir && !fs().children(standing).empty())
                return error(ENOTEMPTY);
        }
        // A name that moves away is a removal where it was, and a creation where it goes.
        fs().checkRemoval(moved, oldPath);
        fs().checkCreation(to.dir, to.name, newPath);
        if (standing >= 0) {
            fs().checkRemoval(standing, newPath);
            if (exchange)
                fs().checkCreation(from.dir, from.name, oldPath);
        }
        const std::string fromName(from.name), toName(to.name);
        if (exchange) {
            place(standing, from.dir, fromName);
        } else if (standing >= 0) {
            fs().nodes_[standing].alive = false;
        }
        place(moved, to.dir, toName);
        ++fs().changes_;
        return 0;
    }

    // No time passes in the fake: a wait returns at once.
    static int nanosleep(const struct timespec*, struct timespec*) {
        if (fs().faulted(kNanosleep))
            return -1;
        return 0;
    }

    static char* getcwd(char* buffer, size_t size) {
        if (fs().faulted(kGetcwd))
            return nullptr;
        if (!buffer) {
            errno = EINVAL; // the real one would allocate
            return nullptr;
        }
        if (!fs().alive(fs().cwd_)) {
            errno = ENOENT;
            return nullptr;
        }
        std::string path = fs().pathOf(fs().cwd_);
        if (path.size() + 1 > size) {
            errno = ERANGE;
            return nullptr;
        }
        memcpy(buffer, path.c_str(), path.size() + 1);
        return buffer;
    }
};

void FakeFs::install() {
    if (current)
        fail("a fake file system is installed already");
    current = this;
    installed_ = true;
    setCodeUnderTest(true);
    // Every member is the fake's: a member added to the table must be added here too.
    static_assert(sizeof(PosixCalls) == 12 * sizeof(void (*)()), "the fake lacks a call");
    posixCalls = PosixCalls{
        .fstatat = Calls::fstatat,
        .mkdirat = Calls::mkdirat,
        .unlinkat = Calls::unlinkat,
        .openat = Calls::openat,
        .close = Calls::close,
        .readDirEntries = Calls::readDirEntries,
        .readlinkat = Calls::readlinkat,
        .symlinkat = Calls::symlinkat,
        .getcwd = Calls::getcwd,
        .statx = Calls::statx,
        .renameat2 = Calls::renameat2,
        .nanosleep = Calls::nanosleep,
    };
}

void FakeFs::uninstall() {
    setCodeUnderTest(false);
    posixCalls = posixRealCalls;
    current = nullptr;
    installed_ = false;
}

} // namespace fuzz
