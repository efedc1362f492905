// mountDirCmd over the fake file system: the arguments and the tree come from the input (see
// FakeFs.h). Whatever the input, the command may remove only what stands at the link path as
// its options allow (a link with -L or -F, a directory tree whose links are not entered or a file
// with -F) and, with -T and -F, a file standing at the target path; it may make entries only
// along the link and (with -T) the target path, and a link under a temporary name beside the
// link path. When it reports success without injected faults, the link path leads to the target
// directory and no temporary link stays; when it fails, it leaves no new empty directory at the
// link path.
#include "CommandLine.h"
#include "FakeFs.h"
#include "FuzzSupport.h"

#include "mountDir/mountDir.h"
#include "platform/platform.h"
#include "platform/posix/text.h"

#include <cstddef>
#include <cstdint>

namespace {

// The full path the command makes of a path argument, as file-system bytes; empty when it cannot.
std::string fullPath(const std::string& arg) {
    wchar_t wide[MAX_PATH], full[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, arg.c_str(), -1, wide, MAX_PATH) == 0)
        return {};
    DWORD length = GetFullPathNameW(wide, MAX_PATH, full, nullptr);
    char bytes[kPosixPathBytes + 1];
    if (length == 0 || length >= MAX_PATH || !posixPath(full, bytes))
        return {};
    return bytes;
}

// Whether the last name of path is one the layer gives a link before it takes its place.
bool isTemporary(const std::string& path) {
    return path.compare(path.rfind('/') + 1, sizeof kTemporaryLinkPrefix - 1,
                        kTemporaryLinkPrefix) == 0;
}

// Whether entry is path itself or one of its parents: a name the run was asked to make.
bool isAlong(const std::string& entry, const std::string& path) {
    return path.compare(0, entry.size(), entry) == 0 &&
           (path.size() == entry.size() || path[entry.size()] == '/');
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::forbidFileSystemChanges();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using fuzz::FakeFs;
    if (size > 4096)
        return -1;
    FakeFs fs;
    const std::vector<std::string> args = fs.load(data, size, 6);
    fuzz::CommandLine command("mountDir", args);

    const bool usage = args.size() < 2 || args[0].empty() || args[1].empty();
    std::string letters;
    const bool optionsRead = !usage && fuzz::optionLetters(args, 2, "FLT", letters);
    const bool force = letters.find('F') != std::string::npos;
    const bool replaceLink = force || letters.find('L') != std::string::npos;
    const bool makeTarget = letters.find('T') != std::string::npos;

    fs.install(); // the full paths depend on the fake's current directory
    const std::string link = optionsRead ? fullPath(args[0]) : std::string();
    const std::string target = optionsRead ? fullPath(args[1]) : std::string();
    fs.restartCallCounts();
    const bool pathsFit = !link.empty() && !target.empty();
    FakeFs::Found linkEntry = pathsFit ? fs.entry(link) : FakeFs::Found{1, -1};
    if (pathsFit) {
        fs.allowCreationAlong(link);
        fs.allowTemporaryNamesBeside(link, kTemporaryLinkPrefix); // the junction's link, made first
        if (linkEntry.err == 0) {
            FakeFs::Kind kind = fs.kind(linkEntry.node);
            if (kind == FakeFs::Kind::Link && replaceLink)
                fs.allowRemoval(linkEntry.node);
            if (kind != FakeFs::Kind::Link && force) {
                fs.allowRemoval(linkEntry.node);
                fs.allowRemovalBelow(linkEntry.node);
            }
        }
        if (makeTarget) {
            fs.allowCreationAlong(target);
            FakeFs::Found standing = fs.entry(target);
            if (force && standing.err == 0 && !fs.leadsToDirectory(standing.node))
                fs.allowRemoval(standing.node);
        }
    }

    int exitCode;
    {
        fuzz::QuietStreams quiet;
        exitCode = mountDirCmd(command.argc(), command.argv());
    }
    fs.uninstall();

    FUZZ_CHECK(exitCode >= 0 && exitCode <= 9, "exit code %d", exitCode);
    FUZZ_CHECK(fs.openDescriptors() == 0, "%d descriptors left open", fs.openDescriptors());
    if (usage)
        FUZZ_CHECK(exitCode == 0 && fs.changes() == 0, "usage: exit %d", exitCode);
    if (!usage && !optionsRead)
        FUZZ_CHECK(exitCode == 8, "an option error gave exit %d", exitCode);
    if (exitCode >= 6)
        FUZZ_CHECK(fs.changes() == 0, "exit %d after %d changes", exitCode, fs.changes());
    if (usage || !pathsFit || fs.hasFaults())
        return 0;
    { // no temporary link stays beside the link path
        const std::string parentPath = link.substr(0, posixParentLength(link.data(), link.size()));
        FakeFs::Found parent = fs.resolve(parentPath, true);
        if (parent.err == 0 && fs.kind(parent.node) == FakeFs::Kind::Dir)
            for (int entry : fs.children(parent.node)) {
                const std::string path = fs.pathOf(entry);
                FUZZ_CHECK(fs.loaded(entry) || !isTemporary(path) || isAlong(path, link) ||
                               isAlong(path, target),
                           "exit %d left %s", exitCode, path.c_str());
            }
    }
    FakeFs::Found wanted = fs.resolve(target, true);
    if (exitCode == 0) {
        FakeFs::Found reached = fs.resolve(link, true);
        FUZZ_CHECK(reached.err == 0 && wanted.err == 0 && reached.node == wanted.node &&
                       fs.kind(reached.node) == FakeFs::Kind::Dir,
                   "success, but %s leads to %s (errno %d), the target %s to %s (errno %d)",
                   link.c_str(), reached.err ? "nothing" : fs.pathOf(reached.node).c_str(),
                   reached.err, target.c_str(),
                   wanted.err ? "nothing" : fs.pathOf(wanted.node).c_str(), wanted.err);
    } else if (linkEntry.err != 0) {
        FakeFs::Found left = fs.entry(link);
        // (A target below the link path, made by -T, makes a directory there that is not empty;
        // a link path that reaches the target made by -T through a link leaves that target.)
        const bool isMadeTarget =
            makeTarget && left.err == 0 && wanted.err == 0 && wanted.node == left.node;
        FUZZ_CHECK(left.err != 0 || fs.kind(left.node) != FakeFs::Kind::Dir ||
                       !fs.children(left.node).empty() || isMadeTarget,
                   "exit %d left a new empty directory at %s", exitCode, link.c_str());
    }
    return 0;
}
