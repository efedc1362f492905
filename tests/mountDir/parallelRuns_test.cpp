// mountDir started several times at once with the same arguments, as parallel build steps do,
// and a link directory that a failed run cannot remove again.
#include "finalName/finalName.h"
#include "platform/platform.h"
#include "testkit/testkit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>

namespace {

using namespace testkit;
using namespace std::chrono_literals;

constexpr int kRuns = 8;

// Rounds of a race: 50, or TREEPREP_SOAK=<n> (200 and more for a soak).
int rounds() {
    const char* soak = std::getenv("TREEPREP_SOAK");
    return soak && *soak ? std::atoi(soak) : 50;
}

bool leadsTo(const fs::path& link, const fs::path& target) {
    std::wstring t = wide(target);
    return readCmpLink(wide(link).c_str(), t.data(), MAX_PATH, 1, 'A', '/') == 0;
}

// Whether junctions can be set here (Wine cannot: the control call gives 50).
bool junctionsWork() {
    TempDir t;
    fs::create_directory(t / "target");
    return run("mountDir", {(t / "link").string(), (t / "target").string()}).exitCode == 0;
}

// Starts kRuns identical mountDir at once and waits for all of them.
std::vector<Ended> runTogether(const std::vector<std::string>& args) {
    std::vector<std::unique_ptr<Process>> started;
    for (int i = 0; i < kRuns; ++i)
        started.push_back(std::make_unique<Process>("mountDir", args));
    std::vector<Ended> ended;
    for (auto& process : started)
        ended.push_back(process->wait(60s));
    return ended;
}

struct Race {
    const char* options;
    bool targetMissing;
};

class IdenticalRuns : public ::testing::TestWithParam<Race> {};

// Afterwards the link leads to the target, and nothing else stands beside it (no temporary name
// of the layer), whatever the runs reported. A run ends with 0 and no message, or (only where the
// target is made by the runs) with the report that another run made the target first.
//
// One window stays, on Windows as here: between one run's making of the link directory and its
// setting of the junction, an empty ordinary directory stands at the link path. Another run that
// finds it looks again for about a second; a run descheduled longer than that (a heavily loaded
// machine) lets it refuse the directory (exit 3), and a run whose link directory another run has
// already taken may fail its setting (exit 1) while the link is right. Those two exits are
// counted and printed, not failed on; any other exit, a message with exit 0, or a wrong end state
// fails.
TEST_P(IdenticalRuns, ConvergeOnTheLink) {
    if (!junctionsWork())
        GTEST_SKIP() << "junctions cannot be set here (Wine); the runs would all fail alike";
    const Race race = GetParam();
    std::map<int, int> exits;
    int wrong = 0;
    const int n = rounds();
    for (int round = 0; round < n && wrong < 3; ++round) {
        TempDir t;
        fs::create_directory(t / "out");
        if (!race.targetMissing)
            fs::create_directory(t / "target");
        const fs::path link = t / "out" / "L", target = t / "target";
        std::vector<std::string> args = {link.string(), target.string()};
        if (*race.options)
            args.push_back(race.options);
        const std::string madeMeanwhile = lines(
            "ERROR creation directory, Windows error: 183: " + target.string() + ". See https://");
        const std::string refused =
            "ERROR <link-path> refers to a normal directory, use -F to force remove\n";
        const std::string notSet = "ERROR set Junction, ";
        bool roundWrong = false;
        for (const Ended& e : runTogether(args)) {
            ++exits[e.exitCode];
            bool allowed = false;
            switch (e.exitCode) {
            case 0:
                allowed = e.err.empty();
                break;
            case 1:
                allowed = e.err.compare(0, notSet.size(), notSet) == 0;
                break;
            case 2:
                allowed = race.targetMissing &&
                          e.err.compare(0, madeMeanwhile.size(), madeMeanwhile) == 0;
                break;
            case 3:
                allowed = e.err == refused;
                break;
            }
            if (e.exitCode == 1 || e.exitCode == 3)
                std::cout << "round " << round << ": exit " << e.exitCode << ": " << e.err;
            if (!allowed) {
                roundWrong = true;
                ADD_FAILURE() << "round " << round << ": exit " << e.exitCode << ": " << e.err;
            }
        }
        if (!leadsTo(link, target) || listNames(t / "out") != std::vector<std::string>{"L"}) {
            roundWrong = true;
            ADD_FAILURE() << "round " << round << ": the link does not lead to the target, or "
                          << listNames(t / "out").size() << " entries beside it";
        }
        wrong += roundWrong;
    }
    std::cout << n << " rounds of " << kRuns << " runs; exit codes:";
    for (const auto& [code, count] : exits)
        std::cout << " " << code << " x" << count;
    std::cout << std::endl;
}

INSTANTIATE_TEST_SUITE_P(MountDirParallel, IdenticalRuns,
                         ::testing::Values(Race{"", false}, Race{"-L", false}, Race{"-LT", true}),
                         [](const auto& info) {
                             return std::string(*info.param.options ? info.param.options + 1
                                                                    : "none") +
                                    (info.param.targetMissing ? "TargetMissing" : "");
                         });

// Where junctions cannot be set (Wine), runs at once share the failure: none reports success,
// and none leaves a link.
TEST(MountDirParallel, RunsThatCannotSetAJunctionAllFail) {
    if (junctionsWork())
        GTEST_SKIP() << "junctions can be set here; the converging runs are tested instead";
    TempDir t;
    fs::create_directories(t / "out");
    fs::create_directory(t / "target");
    const fs::path link = t / "out" / "L";
    for (const Ended& e : runTogether({link.string(), (t / "target").string()}))
        EXPECT_EQ(1, e.exitCode) << e.err;
    EXPECT_FALSE(leadsTo(link, t / "target"));
}

#if !defined(_WIN32)
// chattr +a on a directory for the lifetime of the object (-a again when it goes).
class AppendOnly {
  public:
    explicit AppendOnly(const fs::path& dir) : dir_(dir) {
        set_ = std::system(("chattr +a '" + dir.string() + "' 2>/dev/null").c_str()) == 0;
    }
    ~AppendOnly() { lift(); }
    bool set() const { return set_; }
    void lift() {
        if (set_)
            std::system(("chattr -a '" + dir_.string() + "'").c_str());
        set_ = false;
    }

  private:
    fs::path dir_;
    bool set_ = false;
};
#endif

// A parent where directories can be made but not removed: the failed run says which link
// directory it left, and the rerun refuses it as an ordinary directory (or replaces it with -F).
TEST(MountDirLeftDirectory, AppendOnlyParentNamesTheDirectoryLeft) {
#if defined(_WIN32)
    GTEST_SKIP() << "append-only directories are a Linux attribute (chattr +a)";
#else
    TempDir t;
    fs::create_directory(t / "D");
    fs::create_directory(t / "target");
    const fs::path link = t / "D" / "L";
    const std::vector<std::string> args = {link.string(), (t / "target").string()};
    ProcessResult failed;
    {
        AppendOnly appendOnly(t / "D");
        if (!appendOnly.set())
            GTEST_SKIP() << "chattr +a needs root and a file system that keeps the attribute";
        failed = run("mountDir", args);
    }
    EXPECT_EQ(1, failed.exitCode);
    EXPECT_EQ("ERROR set Junction, Windows error: 5: " + link.string() +
                  ". See https://learn.microsoft.com/windows/win32/debug/"
                  "system-error-codes--0-499-\n"
                  "ERROR-link-directory-not-removed-5, remove it or rerun with -F: " +
                  link.string() + "\n",
              failed.err);
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(link)) && fs::is_empty(link));
    EXPECT_EQ(std::vector<std::string>{"L"}, listNames(t / "D")); // no temporary name either

    const ProcessResult rerun = run("mountDir", args);
    EXPECT_EQ(3, rerun.exitCode);
    EXPECT_EQ("ERROR <link-path> refers to a normal directory, use -F to force remove\n",
              rerun.err);
    std::vector<std::string> forced = args;
    forced.push_back("-F");
    EXPECT_EQ(0, run("mountDir", forced).exitCode);
    EXPECT_TRUE(leadsTo(link, t / "target"));
#endif
}

} // namespace
