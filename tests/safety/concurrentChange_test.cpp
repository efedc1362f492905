// prepFolder as a process cleans a large tree while a thread of the test keeps creating,
// deleting and renaming files and directories inside it. The command may fail (an entry gone
// or added under its hands) but must end in time, with 0 or 1 and a report, never by a signal,
// and nothing beside the tree may change.
#include "safety/treeState.h"
#include "testkit/testkit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#else
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using namespace testkit;
using namespace std::chrono_literals;

constexpr auto kLimit = 60s; // generous: the command normally needs a second or two

struct Shape {
    int dirs, subs, files; // tree/d<i>/s<j>/f<k>
};

// Linux cleans 20,000 files in a blink; Wine deletes slowly, so a few hundred there.
const Shape kShape = onWindows ? Shape{4, 5, 15} : Shape{20, 10, 100};

std::string name(const char* prefix, int n) {
    std::string text = prefix;
    text += std::to_string(n);
    return text;
}

// On POSIX most names are hard links to the files of tree/d0/s0: a new inode costs up to a
// millisecond on some file systems, a new name a few microseconds, and the command removes
// either alike.
void makeTree(const fs::path& tree) {
    const fs::path first = tree / "d0" / "s0";
    for (int d = 0; d < kShape.dirs; ++d)
        for (int s = 0; s < kShape.subs; ++s) {
            const fs::path sub = tree / name("d", d) / name("s", s);
            fs::create_directories(sub);
            for (int f = 0; f < kShape.files; ++f) {
                if (onWindows || sub == first)
                    writeFile(sub / name("f", f), name("content ", f));
                else
                    fs::create_hard_link(first / name("f", f), sub / name("f", f));
            }
        }
}

// How the tree changes while the command runs.
struct Changes {
    unsigned seed;
    std::chrono::microseconds pause; // between two changes: a slower pace lets the command get
                                     // further before it meets one
    fs::path linkTarget;             // not empty: sub-directories also turn into links to it
};

// Keeps changing the tree from a thread of its own until stopped: new files and directories
// (never a missing parent: it does not bring back what the command removed), removals of its own
// and of the original entries, renamed sub-directories and (with a link target) sub-directories
// moved aside with a link to the target put in their place. Counts the changes that took effect.
class Churn {
  public:
    Churn(const fs::path& tree, const Changes& changes)
        : tree_(tree), changes_(changes), thread_([this] { run(); }) {}
    ~Churn() { stop(); }
    void stop() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    long done() const { return done_; }

  private:
    fs::path tree_;
    Changes changes_;
    std::atomic<bool> stop_{false};
    std::atomic<long> done_{0};
    std::thread thread_;

    static bool write(const fs::path& path) {
        std::ofstream file(path, std::ios::binary);
        file << "churn";
        return static_cast<bool>(file);
    }

    void run() {
        std::mt19937 rng(changes_.seed);
        auto below = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
        std::vector<fs::path> made;
        std::set<fs::path> linked; // never written to nor removed through by the churn itself
        for (int n = 0; !stop_; ++n) {
            std::error_code ec;
            const fs::path dir = tree_ / name("d", below(kShape.dirs));
            const fs::path sub = dir / name("s", below(kShape.subs));
            const fs::path fresh = dir / name("c", n);
            bool done = false;
            switch (below(changes_.linkTarget.empty() ? 6 : 7)) {
            case 0:
                if (!linked.count(sub) && write(sub / name("c", n)))
                    made.push_back(sub / name("c", n)), done = true;
                break;
            case 1:
                done = fs::create_directory(fresh, ec) && write(fresh / "a") &&
                       fs::create_directory(fresh / "b", ec) && write(fresh / "b" / "c");
                made.push_back(fresh);
                break;
            case 2:
                done = fs::create_directory(tree_ / name("c", n), ec) &&
                       write(tree_ / name("c", n) / "x");
                made.push_back(tree_ / name("c", n));
                break;
            case 3:
                if (!made.empty()) {
                    const size_t i = rng() % made.size();
                    done = fs::remove_all(made[i], ec) > 0;
                    made.erase(made.begin() + static_cast<long>(i));
                }
                break;
            case 4:
                if (!linked.count(sub))
                    done = fs::remove(sub / name("f", below(kShape.files)), ec);
                break;
            case 5:
                if (!linked.count(sub)) {
                    fs::rename(sub, dir / name("r", n), ec);
                    done = !ec;
                }
                break;
            case 6:
                if (!linked.count(sub)) {
                    fs::rename(sub, dir / name("r", n), ec);
                    if (!ec)
                        fs::create_directory_symlink(changes_.linkTarget, sub, ec);
                    done = !ec;
                    linked.insert(sub);
                    std::erase_if(made,
                                  [&sub](const fs::path& p) { return p.parent_path() == sub; });
                }
                break;
            }
            if (done)
                ++done_;
            if (changes_.pause.count() > 0)
                std::this_thread::sleep_for(changes_.pause);
        }
    }
};

// Data beside the tree: the command is never to change any of it.
void makeSentinels(const TempDir& t) {
    fs::create_directories(t / "sentinel" / "sub");
    writeFile(t / "sentinel" / "keep.txt", "sentinel one");
    writeFile(t / "sentinel" / "sub" / "deep.txt", "sentinel two");
    writeFile(t / "sentinel" / "ro.txt", "read-only sentinel");
    makeReadOnly(t / "sentinel" / "ro.txt");
    writeFile(t / "beside.txt", std::string("beside\0the tree", 15));
    fs::create_directory(t / "tree2");
    writeFile(t / "tree2" / "f0", "a name like those inside the tree");
}

// One round: prepFolder cleans the tree while it changes, then once more after.
void cleanWhileChanging(Changes changes) {
    TempDir t;
    makeSentinels(t);
    const fs::path tree = t / "tree";
    makeTree(tree);
    if (!changes.linkTarget.empty())
        changes.linkTarget = t.path() / changes.linkTarget;
    const safety::TreeState before = safety::without(safety::readTree(t.path()), "tree");

    Churn churn(tree, changes);
    const long changesBefore = churn.done();
    Process command("prepFolder", {tree.string()});
    const Ended ended = command.wait(kLimit);
    const long changesDuring = churn.done() - changesBefore;
    churn.stop();

    ASSERT_TRUE(ended.inTime) << "prepFolder still ran after " << kLimit.count()
                              << " s and was killed";
    EXPECT_EQ(0, ended.signal) << "prepFolder ended by a signal";
    EXPECT_GT(changesDuring, 0) << "the tree did not change while prepFolder ran";
    EXPECT_EQ("", ended.out);
    if (ended.exitCode == 1) {
        const std::string head =
            "ERROR >prepFolder " + tree.string() + " (null)ERROR on clean directory tree, ";
        EXPECT_EQ(head, ended.err.substr(0, head.size()));
    } else {
        EXPECT_EQ(0, ended.exitCode) << ended.err;
        EXPECT_EQ("", ended.err);
    }
    std::cout << "exit " << ended.exitCode << " after " << changesDuring << " changes"
              << (ended.err.empty() ? "\n" : ": ") << ended.err << std::flush;
    EXPECT_EQ("", safety::differences(before, safety::without(safety::readTree(t.path()), "tree")))
        << "beside the tree";

    // Left alone, whatever the changes left behind goes (links as links).
    const Ended again = Process("prepFolder", {tree.string()}).wait(kLimit);
    EXPECT_TRUE(again.inTime);
    EXPECT_EQ(0, again.exitCode) << again.err;
    EXPECT_TRUE(fs::is_directory(tree) && listNames(tree).empty());
    EXPECT_EQ("", safety::differences(before, safety::without(safety::readTree(t.path()), "tree")))
        << "beside the tree, after the second run";
}

// Wine's server is shared with the command: the changes there leave it some room.
const std::vector<std::chrono::microseconds> kPaces =
    onWindows ? std::vector<std::chrono::microseconds>{1000us, 200us}
              : std::vector<std::chrono::microseconds>{0us, 300us};

TEST(SafetyConcurrentChange, FilesAndDirectoriesComeAndGo) {
    unsigned seed = 1;
    for (auto pause : kPaces) {
        SCOPED_TRACE("changes seed " + std::to_string(seed) + ", pause " +
                     std::to_string(pause.count()) + " us");
        cleanWhileChanging({seed++, pause, {}});
    }
}

TEST(SafetyConcurrentChange, SubDirectoriesTurnIntoLinksOutside) {
    if (!canMakeLinks())
        GTEST_SKIP() << "needs symbolic links, which the tests do not make under Wine (deleting "
                        "a Unix link to a file there deletes its target)";
    unsigned seed = 101;
    const char* targets[] = {"sentinel", "tree2"};
    for (auto pause : kPaces) {
        const char* target = targets[seed % 2];
        SCOPED_TRACE("changes seed " + std::to_string(seed) + ", pause " +
                     std::to_string(pause.count()) + " us, links to " + target);
        cleanWhileChanging({seed++, pause, target});
    }
}

// mountDir -F while another process keeps exchanging the link path (an ordinary directory) with
// a link to a directory outside: the directory that was checked is the one that is emptied, or
// the command stops; what lies outside keeps every byte. TREEPREP_SOAK=<n> runs n rounds instead
// of the regular 200 and prints how many lost anything (always to be 0).
TEST(SafetyConcurrentChange, LinkPathSwappedForALinkWhileCleared) {
#if defined(_WIN32)
    GTEST_SKIP() << "exchanges two names at once with renameat2, which Windows lacks";
#else
    const char* soak = std::getenv("TREEPREP_SOAK");
    const int rounds = soak && *soak ? std::atoi(soak) : 200;
    int losses = 0, swapsSeen = 0, ran = 0;
    std::map<int, int> exits;
    for (int round = 0; round < rounds && losses < 3; ++round, ++ran) {
        TempDir t;
        const fs::path link = t / "link", swap = t / "swap", outside = t / "outside";
        fs::create_directories(outside / "sub");
        writeFile(outside / "keep.txt", "outside");
        writeFile(outside / "sub" / "deep.txt", "outside, deeper");
        fs::create_directories(link / "a" / "b");
        for (int f = 0; f < 8; ++f)
            writeFile(link / "a" / name("f", f), "inside");
        fs::create_directory(t / "target");
        fs::create_directory_symlink(outside, swap);
        const safety::TreeState before = safety::readTree(outside);

        std::atomic<bool> stop{false};
        std::atomic<long> swaps{0};
        std::thread exchanger([&] {
            while (!stop) {
                if (renameat2(AT_FDCWD, link.c_str(), AT_FDCWD, swap.c_str(), RENAME_EXCHANGE) == 0)
                    ++swaps;
            }
        });
        const ProcessResult r = run("mountDir", {link.string(), (t / "target").string(), "-F"});
        stop = true;
        exchanger.join();
        ++exits[r.exitCode];
        swapsSeen += swaps > 0;
        const std::string lost = safety::differences(before, safety::readTree(outside));
        if (!lost.empty()) {
            ++losses;
            ADD_FAILURE() << "round " << round << ": outside changed (exit " << r.exitCode << ", "
                          << r.err << "):\n"
                          << lost;
        }
    }
    std::cout << ran << " rounds, " << swapsSeen << " with the link path exchanged during the "
              << "command, " << losses << " with anything outside lost; exit codes:";
    for (const auto& [code, count] : exits)
        std::cout << " " << code << " x" << count;
    std::cout << std::endl;
    EXPECT_GT(swapsSeen, 0) << "the link path was never exchanged while the command ran";
#endif
}

// The rounds of a test: TREEPREP_SOAK=<n> where set, else the regular number.
int roundsOr(int regular) {
    const char* soak = std::getenv("TREEPREP_SOAK");
    return soak && *soak ? std::atoi(soak) : regular;
}

// A command against which another program moves the tree's directories out.
struct Attacked {
    const char* name;
    const char* command;
    std::vector<std::string> options; // after the tree (mountDir: after the tree and its target)
};

std::ostream& operator<<(std::ostream& out, const Attacked& attacked) {
    return out << attacked.name;
}

class SafetyMovedOut : public ::testing::TestWithParam<Attacked> {};

// tree/f<k>, tree/d<i>/f<k>, tree/d<i>/s<j>/f<k>: 250 files in 24 directories. The folder
// outside holds files named as those of a d<i>/s<j>, so that a deletion led there through a link
// would find them.
constexpr int kAttackedDirs = 4, kAttackedSubs = 5, kAttackedFiles = 10;

void makeAttackedTree(const fs::path& tree) {
    for (int d = 0; d < kAttackedDirs; ++d)
        for (int s = 0; s < kAttackedSubs; ++s)
            fs::create_directories(tree / name("d", d) / name("s", s));
    for (int f = 0; f < kAttackedFiles; ++f) {
        writeFile(tree / name("f", f), "inside");
        for (int d = 0; d < kAttackedDirs; ++d) {
            writeFile(tree / name("d", d) / name("f", f), "inside");
            for (int s = 0; s < kAttackedSubs; ++s)
                writeFile(tree / name("d", d) / name("s", s) / name("f", f), "inside");
        }
    }
}

void makeOutside(const fs::path& outside) {
    for (int s = 0; s < kAttackedSubs; ++s)
        fs::create_directories(outside / name("s", s));
    for (int f = 0; f < kAttackedFiles; ++f) {
        writeFile(outside / name("f", f), "outside " + std::to_string(f));
        for (int s = 0; s < kAttackedSubs; ++s)
            writeFile(outside / name("s", s) / name("f", f), "outside, deeper");
    }
}

std::vector<std::string> commandArgs(const Attacked& attacked, const TempDir& t) {
    std::vector<std::string> args = {(t / "tree").string()};
    if (std::string(attacked.command) == "mountDir")
        args.push_back((t / "target").string());
    args.insert(args.end(), attacked.options.begin(), attacked.options.end());
    return args;
}

// Another program of the leg's own kind (tests/testkit/treeAttacker.cpp: a Windows program
// under the same Wine server, a native process on POSIX) keeps moving the tree's directories out
// to a folder beside it while the command cleans the tree, starting at a random moment within
// the time a clean takes, and a link to a folder outside is put into every place emptied (on
// POSIX by that program, under Wine by the host). Every directory the command works in is held
// open so that no program may move it, and checked when opened: nothing outside is ever lost.
// TREEPREP_SOAK=<n> runs n rounds instead of 100.
TEST_P(SafetyMovedOut, NothingOutsideIsLost) {
    const Attacked& attacked = GetParam();
    if (onWindows && !underWine())
        GTEST_SKIP() << "the links are put in by the host, here only under Wine";
    const int rounds = roundsOr(100);

    // How long one clean of the tree takes: the attack starts at a random moment within it.
    long cleanMicroseconds;
    {
        TempDir t;
        makeAttackedTree(t / "tree");
        fs::create_directory(t / "target");
        const auto start = std::chrono::steady_clock::now();
        const ProcessResult r = run(attacked.command, commandArgs(attacked, t));
        cleanMicroseconds = static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(
                                                  std::chrono::steady_clock::now() - start)
                                                  .count());
        ASSERT_TRUE(r.exitCode == 0 || (onWindows && r.exitCode == 1)) << r.err;
    }
    std::mt19937 rng(20261211);
    int lossRounds = 0, roundsWithTries = 0;
    long triesInAll = 0, movesInAll = 0;
    std::map<int, int> exits;
    for (int round = 0; round < rounds && lossRounds < 3; ++round) {
        TempDir t;
        const fs::path tree = t / "tree", outside = t / "outside", aside = t / "aside";
        makeAttackedTree(tree);
        makeOutside(outside);
        fs::create_directory(aside);
        fs::create_directory(t / "target");
        writeFile(t / "beside.txt", "beside the tree");
        const safety::TreeState before = safety::readTree(outside);
        // The directories of the second level: their parents are never links, so the attack
        // itself never reaches outside.
        std::vector<std::string> places;
        for (int d = 0; d < kAttackedDirs; ++d)
            for (int s = 0; s < kAttackedSubs; ++s)
                places.push_back((tree / name("d", d) / name("s", s)).string());
        // Odd rounds move a directory while the command empties it; even ones, from a random
        // moment on, every directory still there (also between the command's look at one and
        // its opening it).
        const bool whileEmptied = round % 2 == 1;
        const long delay =
            whileEmptied ? 0
                         : static_cast<long>(rng() % static_cast<unsigned>(cleanMicroseconds + 1));
        // The name that the command deletes first in a directory, as the platform lists them.
        std::string watch = "-";
        if (whileEmptied)
            watch = fs::directory_iterator(places.front())->path().filename().string();
        std::vector<std::string> attackerArgs = {(t / "go").string(),
                                                 (t / "stop").string(),
                                                 (t / "moves").string(),
                                                 std::to_string(delay),
                                                 watch,
                                                 aside.string(),
                                                 onWindows ? "-" : outside.string()};
        attackerArgs.insert(attackerArgs.end(), places.begin(), places.end());
        Process attacker("treeAttacker", attackerArgs);
        if (onWindows) {
            // The host puts a link to outside into every place that is missing, until "stop".
            std::string hostPlaces;
            for (const std::string& place : places)
                hostPlaces += " '" + hostPath(place) + "'";
            ASSERT_TRUE(startHostScript(
                "perl -e 'my ($stop, $done, $to, @places) = @ARGV; until (-e $stop) { for my $p "
                "(@places) { symlink($to, $p) unless -e $p or -l $p; } } open(my $f, \">\", "
                "$done); close($f);' '" +
                hostPath(t / "stop") + "' '" + hostPath(t / "host-done") + "' '" +
                hostPath(outside) + "'" + hostPlaces));
        }
        writeFile(t / "go", "go");
        const ProcessResult r = run(attacked.command, commandArgs(attacked, t));
        writeFile(t / "stop", "stop");
        const Ended attackerEnded = attacker.wait(kLimit);
        ASSERT_TRUE(attackerEnded.inTime) << "the attacker did not stop";
        if (onWindows) {
            for (int wait = 0; wait < 500 && !fs::exists(t / "host-done"); ++wait)
                std::this_thread::sleep_for(10ms);
            ASSERT_TRUE(fs::exists(t / "host-done")) << "the host's loop did not end";
        }
        long tries = 0, moves = 0;
        std::istringstream(readFile(t / "moves")) >> tries >> moves;
        triesInAll += tries;
        movesInAll += moves;
        roundsWithTries += tries > 0;
        if (++exits[r.exitCode] == 1 && r.exitCode != 0)
            std::cout << "round " << round << ", first with exit " << r.exitCode << ": " << r.err
                      << std::flush;
        const std::string lost = fs::exists(outside)
                                     ? safety::differences(before, safety::readTree(outside))
                                     : std::string("the directory itself is gone");
        if (!lost.empty()) {
            ++lossRounds;
            ADD_FAILURE() << "round " << round << " (attack after " << delay
                          << " us): outside changed (exit " << r.exitCode << ", " << r.err << "):\n"
                          << lost;
        }
        EXPECT_EQ("beside the tree", readFile(t / "beside.txt"));
        // The links the attack put in go as links, never followed, when the test's tree goes.
        for (const std::string& place : places)
            removeHostLink(place);
    }
    std::cout << attacked.name << ": " << rounds << " rounds, " << roundsWithTries
              << " with directories to move out during the command (" << triesInAll << " tries, "
              << movesInAll << " moved), " << lossRounds
              << " lost anything outside; a clean takes about " << cleanMicroseconds / 1000
              << " ms; exit codes:";
    for (const auto& [code, count] : exits)
        std::cout << " " << code << " x" << count;
    std::cout << std::endl;
    EXPECT_GT(roundsWithTries, 0) << "no directory was ever tried to move while the command ran";
}

INSTANTIATE_TEST_SUITE_P(Commands, SafetyMovedOut,
                         ::testing::Values(Attacked{"prepFolder", "prepFolder", {}},
                                           Attacked{"prepFolderD", "prepFolder", {"-D"}},
                                           Attacked{"mountDirF", "mountDir", {"-F"}}),
                         [](const auto& info) { return std::string(info.param.name); });

// prepFolder while a process of the host keeps exchanging a sub-directory of the tree with a
// link to a directory outside. On POSIX the layer reaches every entry below the given
// directory through its parent's descriptor and never follows such a link: nothing outside is
// ever lost. On Windows a process of the host ignores the share modes that keep Windows programs
// from moving a held directory, so this measures only the check of each directory through its
// handle, and the files are still deleted by path: there the rate of rounds that lost anything
// outside is measured and printed, not asserted. TREEPREP_SOAK=<n> runs n rounds.
TEST(SafetyConcurrentChange, SubDirectorySwappedForAHostLinkRate) {
    if (onWindows && !underWine())
        GTEST_SKIP() << "needs links made by the host, here only under Wine";
    if (!onWindows && std::system("command -v perl >/dev/null 2>&1 && case $(uname -m) in "
                                  "x86_64|aarch64) exit 0;; esac; exit 1") != 0)
        GTEST_SKIP() << "needs perl and a host whose renameat2 number is known (x86-64, arm64)";
    const char* soak = std::getenv("TREEPREP_SOAK");
    const int rounds = soak && *soak ? std::atoi(soak) : 20;
    int lossRounds = 0, roundsWithSwaps = 0;
    long swapsInAll = 0;
    for (int round = 0; round < rounds; ++round) {
        TempDir t;
        const fs::path tree = t / "tree", outside = t / "outside";
        fs::create_directories(outside / "sub");
        writeFile(outside / "keep.txt", "outside");
        writeFile(outside / "sub" / "deep.txt", "outside, deeper");
        for (int d = 0; d < 3; ++d)
            for (int f = 0; f < 6; ++f) {
                fs::create_directories(tree / name("d", d) / "s");
                writeFile(tree / name("d", d) / "s" / name("f", f), "inside");
            }
        const safety::TreeState before = safety::readTree(outside);
        const std::string hostTree = hostPath(tree), hostOutside = hostPath(outside),
                          stop = hostPath(t / "stop"), done = hostPath(t / "done"),
                          running = hostPath(t / "running");
        ASSERT_FALSE(hostTree.empty() || hostOutside.empty());
        // Each sub-directory d<k>/s keeps trading places with a link d<k>/x to outside, in one
        // atomic exchange (renameat2, through perl's syscall), as fast as the host allows;
        // "running" after the first exchange; the count ends in "done" once "stop" exists, after
        // the tree is removed the host's way.
        const std::string script =
            "case $(uname -m) in x86_64) nr=316;; aarch64) nr=276;; *) exit;; esac; cd '" +
            hostTree + "' || exit; for d in d0 d1 d2; do ln -s '" + hostOutside +
            "' $d/x; done; NR=$nr perl -e 'my $n = 0; until (-e $ARGV[0]) { for my $d "
            "(qw(d0 d1 d2)) { if (syscall($ENV{NR}, -100, \"$d/s\", -100, \"$d/x\", 2) == 0) { "
            "$n++; if ($n == 1) { open(my $f, \">\", $ARGV[1]); close($f); } } } } "
            "open(my $f, \">\", $ARGV[2]); print $f $n; close($f);' '" +
            stop + "' '" + running + "' '" + done + ".n'; cd / && rm -rf '" + hostTree + "'; mv '" +
            done + ".n' '" + done + "'";
        ASSERT_TRUE(startHostScript(script));
        for (int wait = 0; wait < 500 && !fs::exists(t / "running"); ++wait)
            std::this_thread::sleep_for(10ms); // the command starts once the swapping does
        const ProcessResult r = run("prepFolder", {tree.string()});
        writeFile(t / "stop", "stop");
        for (int wait = 0; wait < 500 && !fs::exists(t / "done"); ++wait)
            std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(fs::exists(t / "done")) << "the swapping loop did not end";
        const long swaps = std::atol(readFile(t / "done").c_str());
        swapsInAll += swaps;
        roundsWithSwaps += swaps > 0;
        EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 1) << r.exitCode << " " << r.err;
        // Where the race is lost, the outside directory itself may be gone.
        const std::string lost = fs::exists(outside)
                                     ? safety::differences(before, safety::readTree(outside))
                                     : std::string("the directory itself is gone");
        if (!lost.empty()) {
            ++lossRounds;
            if (!onWindows)
                ADD_FAILURE() << "round " << round << ": outside changed:\n" << lost;
        }
    }
    std::cout << rounds << " rounds, " << roundsWithSwaps << " with swaps (" << swapsInAll
              << " in all), " << lossRounds << " lost anything outside"
              << (onWindows ? " (a host process: only the check through the handle binds it)" : "")
              << std::endl;
    EXPECT_GT(roundsWithSwaps, 0) << "the sub-directory was never swapped";
}

} // namespace
