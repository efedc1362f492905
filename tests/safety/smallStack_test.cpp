// The deepest tree that the path limit allows, cleaned by prepFolder and removed by mountDir -F
// in a process whose stack is limited to 256 KiB: a level of the clean keeps only its listing
// buffer and a few numbers on the stack, so the command ends normally instead of overflowing.
#include "testkit/testkit.h"

#include <gtest/gtest.h>

#include <iostream>

namespace {

using namespace testkit;

#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__)
constexpr size_t kPathLimit = 260; // the platform's MAX_PATH, terminator included

// A chain of directories "a" below top, as many as keep the path of the deepest one, spelled as
// the command will spell it (from spelledTop on, with one separator and "a" per level), short
// enough for its search pattern (two characters more, and the terminator); a file in the
// deepest. The number of levels.
int makeDeepestTree(const fs::path& top, size_t spelledTop) {
    const int levels = static_cast<int>((kPathLimit - 3 - spelledTop) / 2);
    fs::path deepest = top;
    for (int level = 0; level < levels; ++level)
        deepest /= "a";
    fs::create_directories(deepest);
    writeFile(deepest / "f", "deepest");
    return levels;
}
#endif

TEST(SmallStack, DeepestTreeIsClearedWithA256KiBStack) {
#if defined(_WIN32)
    GTEST_SKIP() << "a Windows program's stack is reserved by its image; the limit is lowered "
                    "through ulimit on POSIX";
#elif defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizers enlarge every frame";
#else
    TempDir t;
    fs::create_directory(t / "target");
    // prepFolder is given the relative path "t", mountDir the full path of its link path.
    const int cleaned = makeDeepestTree(t / "t", 1);
    const ProcessResult prep =
        runShell("ulimit -s 256 && exec '" + commandPath("prepFolder").string() + "' t", t.path());
    EXPECT_EQ(0, prep.exitCode) << prep.err;
    EXPECT_TRUE(listNames(t / "t").empty());

    const fs::path link = t / "link";
    const int removed = makeDeepestTree(link, link.string().size());
    const ProcessResult mount =
        runShell("ulimit -s 256 && exec '" + commandPath("mountDir").string() + "' '" +
                     link.string() + "' '" + (t / "target").string() + "' -F",
                 t.path());
    EXPECT_EQ(0, mount.exitCode) << mount.err;
    EXPECT_TRUE(fs::is_symlink(link));
    std::cout << "prepFolder cleaned " << cleaned << " levels, mountDir -F removed " << removed
              << " levels, each with a stack of 256 KiB" << std::endl;
#endif
}

} // namespace
