// createCleanDirCmd over the fake file system: the arguments and the tree come from the input
// (see FakeFs.h). Whatever the input, the command may remove only what lies below the directory
// its path leads to (with -D only the files and file links directly inside), or the file or
// file link standing at the path; it may make entries only along its path. When it reports
// success without injected faults, the directory is there and holds nothing it should have
// removed.
#include "CommandLine.h"
#include "FakeFs.h"
#include "platform/posix/text.h"
#include "FuzzSupport.h"

#include "prepFolder/prepFolder.h"

#include <cstddef>
#include <cstdint>

namespace {

// Whether the argument names a parent before its last component (the command refuses to replace
// a file at a path without one). path is the argument as the layer resolves it; the command keeps
// a leading "." component, which the layer drops, so "./name" has one.
bool hasParentPart(const std::string& argument, const std::string& path) {
    if (path.find_first_not_of('/') < posixParentLength(path.data(), path.size()))
        return true;
    const bool leadingDot =
        argument.size() > 1 && argument[0] == '.' && (argument[1] == '/' || argument[1] == '\\');
    return leadingDot && path != ".";
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
    const std::vector<std::string> args = fs.load(data, size, 4);
    fuzz::CommandLine command("prepFolder", args);

    const bool usage = args.empty() || args[0].empty();
    const bool refused =
        !usage && (args[0][0] == ' ' ||
                   (args.size() > 1 && !fuzz::isSkippedOption(args[1]) && args[1] != "-D"));
    const bool keepDirs = args.size() > 1 && args[1] == "-D";
    const std::string path = usage ? std::string() : fuzz::layerPath(args[0]);
    // The directory the path leads to before the run: its own path may pass through what the
    // cleaning removes (as "/o/.." does), so afterwards it is checked by node.
    const FakeFs::Found before = usage || refused ? FakeFs::Found{1, -1} : fs.resolve(path, true);
    if (!usage && !refused) {
        fs.allowCreationAlong(path);
        const FakeFs::Found dir = before;
        if (dir.err == 0 && fs.kind(dir.node) == FakeFs::Kind::Dir) {
            if (keepDirs) {
                for (int child : fs.children(dir.node))
                    if (!fs.leadsToDirectory(child))
                        fs.allowRemoval(child);
            } else {
                fs.allowRemovalBelow(dir.node);
            }
        }
        FakeFs::Found standing = fs.resolve(path, false);
        if (standing.err == 0 && !fs.leadsToDirectory(standing.node) &&
            hasParentPart(args[0], path))
            fs.allowRemoval(standing.node);
    }

    int exitCode;
    fs.install();
    {
        fuzz::QuietStreams quiet;
        exitCode = createCleanDirCmd(command.argc(), command.argv());
    }
    fs.uninstall();

    FUZZ_CHECK(exitCode >= 0 && exitCode <= 2, "exit code %d", exitCode);
    FUZZ_CHECK(fs.openDescriptors() == 0, "%d descriptors left open", fs.openDescriptors());
    if (usage)
        FUZZ_CHECK(exitCode == 0 && fs.changes() == 0, "usage: exit %d", exitCode);
    if (refused)
        FUZZ_CHECK(exitCode == 2, "a refused argument gave exit %d", exitCode);
    if (exitCode == 2)
        FUZZ_CHECK(fs.changes() == 0, "exit 2 after %d changes", fs.changes());
    if (exitCode == 0 && !usage && !fs.hasFaults()) {
        const bool existed = before.err == 0 && fs.kind(before.node) == FakeFs::Kind::Dir;
        FakeFs::Found dir = existed ? before : fs.resolve(path, true);
        FUZZ_CHECK(dir.err == 0 && fs.alive(dir.node) && fs.kind(dir.node) == FakeFs::Kind::Dir,
                   "success, but %s is no directory (errno %d)", path.c_str(), dir.err);
        for (int child : fs.children(dir.node))
            FUZZ_CHECK(keepDirs && fs.leadsToDirectory(child), "success, but %s is left",
                       fs.pathOf(child).c_str());
    }
    return 0;
}
