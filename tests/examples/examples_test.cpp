// The examples of examples/ run as the documentation shows them, and every code block of the
// documentation is one of those examples, a command's usage text, or a build command of this
// project.
#include "finalName/finalName.h"
#include "platform/platform.h"
#include "testkit/testkit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace {

using namespace testkit;

// TREEPREP_SOURCE_DIR, TREEPREP_CMAKE_COMMAND and TREEPREP_CMAKE_GENERATOR come from CMake.
fs::path source(const std::string& relative) {
    return fs::path(TREEPREP_SOURCE_DIR) / relative;
}

const char kDefaultTail[] =
    ". See https://learn.microsoft.com/windows/win32/debug/system-error-codes--0-499-\n";

// The lines of a file, without line ends ("\r\n" or "\n").
std::vector<std::string> fileLines(const fs::path& path) {
    std::vector<std::string> result;
    std::istringstream text(readFile(path));
    for (std::string line; std::getline(text, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        result.push_back(line);
    }
    return result;
}

// Quoted for /bin/sh.
std::string shellQuoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

// The folder of the examples' scripts: assets/ with a file, and build/stage left by an earlier
// build with a stale file and a sub-directory.
struct Workspace {
    TempDir t;
    fs::path assets = t / "assets";
    fs::path stage = t / "build" / "stage";
    Workspace() {
        fs::create_directories(assets);
        writeFile(assets / "readme.txt", "shared");
        fs::create_directories(stage / "keep");
        writeFile(stage / "keep" / "inner", "kept");
        writeFile(stage / "old.txt", "stale");
    }
};

// The final path of path as finalName prints it with -A (ASCII paths, as the tests make).
std::string upperFinalPath(const fs::path& path) {
    wchar_t finalPath[MAX_PATH];
    EXPECT_EQ(0, readCmpLink(wide(path).c_str(), finalPath, MAX_PATH, 0, 'A', 0));
    std::string narrow;
    for (const wchar_t* c = finalPath; *c; ++c)
        narrow += static_cast<char>(*c);
    return narrow;
}

bool junctionsWork() {
    TempDir t;
    fs::create_directory(t / "target");
    return run("mountDir", {(t / "link").string(), (t / "target").string()}).exitCode == 0;
}

TEST(Examples, PosixScriptPreparesTheStageAndStopsAtTheFirstFailure) {
    if (onWindows)
        GTEST_SKIP() << "examples/posix/prepare.sh needs a POSIX shell; the Windows leg runs "
                        "examples/windows/prepare.bat instead";
    Workspace w;
    prependToPath(commandPath("prepFolder").parent_path());
    const std::string script = "sh " + shellQuoted(source("examples/posix/prepare.sh"));
    for (int runs = 1; runs <= 2; ++runs) { // the second run finds the link right
        ProcessResult r = runShell(script, w.t.path());
        EXPECT_EQ(0, r.exitCode) << r.err;
        EXPECT_EQ("shared assets are in " + fs::canonical(w.assets).string() + "\n", r.out);
        EXPECT_EQ("", r.err);
        EXPECT_EQ((std::vector<std::string>{"keep", "shared"}), listNames(w.stage));
        EXPECT_TRUE(fs::is_symlink(w.stage / "shared"));
        EXPECT_EQ("shared", readFile(w.stage / "shared" / "readme.txt"));
        EXPECT_EQ("kept", readFile(w.stage / "keep" / "inner"));
    }

    // Without the assets, mountDir refuses with 2 and the script ends there with its code.
    fs::remove_all(w.assets);
    writeFile(w.stage / "old.txt", "stale");
    ProcessResult r = runShell(script, w.t.path());
    EXPECT_EQ(2, r.exitCode);
    EXPECT_EQ("", r.out);
    EXPECT_EQ("ERROR target does not exists as directory: " + w.assets.string() + "\n", r.err);
    EXPECT_FALSE(fs::exists(w.stage / "old.txt")) << "prepFolder ran before";
}

TEST(Examples, BatchFilePreparesTheStageOrStopsAtTheFirstFailure) {
    if (!onWindows)
        GTEST_SKIP() << "examples/windows/prepare.bat needs cmd.exe: it runs on the Windows leg";
    Workspace w;
    fs::copy_file(source("examples/windows/prepare.bat"), w.t / "prepare.bat");
    prependToPath(commandPath("prepFolder").parent_path());
    ProcessResult r = runShell("prepare.bat", w.t.path());

    // prepFolder's part: the stale file is gone, the sub-directory stays.
    EXPECT_FALSE(fs::exists(w.stage / "old.txt"));
    EXPECT_EQ("kept", readFile(w.stage / "keep" / "inner"));
    if (junctionsWork()) {
        EXPECT_EQ(0, r.exitCode) << r.err;
        EXPECT_EQ("", r.err);
        EXPECT_EQ(lines("shared assets are in " + upperFinalPath(w.assets) + "\n"), r.out);
        EXPECT_EQ("shared", readFile(w.stage / "shared" / "readme.txt"));
    } else {
        // Wine cannot set junctions: mountDir's documented refusal, and the script stops there
        // with its exit code, before finalName.
        EXPECT_EQ(1, r.exitCode);
        EXPECT_EQ(lines("ERROR set Junction, Windows error: 50: " + (w.stage / "shared").string() +
                        kDefaultTail),
                  r.err);
        EXPECT_EQ("", r.out);
        EXPECT_FALSE(fs::exists(w.stage / "shared"));
        EXPECT_FALSE(fs::exists(w.t / "build" / "shared.txt"));
    }
}

TEST(Examples, CMakeProjectStagesItsOutputAndFailsWithTheCommand) {
    if (onWindows)
        GTEST_SKIP() << "the CMake example needs CMake for this platform, which the Windows leg "
                        "under Wine does not have; it runs on the native leg";
    Workspace w;
    const fs::path build = w.t / "build";
    const fs::path bin = commandPath("prepFolder").parent_path();
    const std::string cmake = shellQuoted(TREEPREP_CMAKE_COMMAND);
    ProcessResult r = runShell(cmake + " -S " + shellQuoted(source("examples/cmake")) + " -B " +
                               shellQuoted(build) + " -G " + shellQuoted(TREEPREP_CMAKE_GENERATOR) +
                               " -DCMAKE_PREFIX_PATH=" + shellQuoted(bin.parent_path()) +
                               " -DSHARED_ASSETS_DIR=" + shellQuoted(w.assets));
    ASSERT_EQ(0, r.exitCode) << r.out << r.err;
    EXPECT_EQ(fs::canonical(w.assets), fs::canonical(build / "assets"))
        << "the configure-time link";
    const std::string buildCommand = cmake + " --build " + shellQuoted(build);
    for (int builds = 1; builds <= 2; ++builds) { // the second build finds the link right
        r = runShell(buildCommand);
        EXPECT_EQ(0, r.exitCode) << r.out << r.err;
        EXPECT_EQ((std::vector<std::string>{"app.txt", "keep", "shared"}), listNames(w.stage));
        EXPECT_EQ(readFile(source("examples/cmake/app.txt")), readFile(w.stage / "app.txt"));
        EXPECT_EQ(fs::canonical(w.assets), fs::canonical(w.stage / "shared"));
        EXPECT_EQ("kept", readFile(w.stage / "keep" / "inner"));
        writeFile(w.stage / "old.txt", "stale");
    }

    // A failing command stops the build with its message.
    fs::remove_all(w.assets);
    r = runShell(buildCommand);
    EXPECT_NE(0, r.exitCode);
    EXPECT_NE(
        std::string::npos,
        (r.out + r.err).find("ERROR target does not exists as directory: " + w.assets.string()))
        << r.out << r.err;
    EXPECT_FALSE(fs::exists(w.stage / "app.txt")) << "nothing is staged after the failure";
}

// --- The code blocks of the documentation ---

const char* const kPages[] = {"README.md",         "docs/prepFolder.md", "docs/mountDir.md",
                              "docs/finalName.md", "docs/platforms.md",  "docs/option-syntax.md",
                              "docs/cmake.md",     "docs/development.md"};
// The files that the tests above run.
const char* const kExamples[] = {"examples/cmake/CMakeLists.txt", "examples/cmake/check-link.cmake",
                                 "examples/windows/prepare.bat", "examples/posix/prepare.sh"};
const char* const kCommands[] = {"prepFolder", "mountDir", "finalName"};

struct CodeBlock {
    std::string where;  // page:line of the opening fence
    std::string marker; // the comment on the line before the fence, without "<!--" and "-->"
    std::vector<std::string> lines;
};

std::vector<CodeBlock> codeBlocks(const std::string& page) {
    std::vector<CodeBlock> blocks;
    const std::vector<std::string> text = fileLines(source(page));
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i].rfind("```", 0) != 0)
            continue;
        CodeBlock block{page + ":" + std::to_string(i + 1), "", {}};
        const std::string& before = i > 0 ? text[i - 1] : "";
        if (before.rfind("<!-- ", 0) == 0 && before.size() > 9 &&
            before.compare(before.size() - 4, 4, " -->") == 0)
            block.marker = before.substr(5, before.size() - 9);
        for (++i; i < text.size() && text[i].rfind("```", 0) != 0; ++i)
            block.lines.push_back(text[i]);
        blocks.push_back(block);
    }
    return blocks;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

// The usage text as the command prints it, with "\n" line ends and no empty lines around it.
std::string usageText(const std::string& command) {
    ProcessResult r = run(command, {});
    EXPECT_EQ(0, r.exitCode) << command;
    std::string text;
    for (char c : r.out)
        if (c != '\r')
            text += c;
    text.erase(0, text.find_first_not_of('\n'));
    text.erase(text.find_last_not_of('\n') + 1);
    return text + "\n";
}

bool isContiguousRunOf(const std::vector<std::string>& part, const std::vector<std::string>& all) {
    return !part.empty() &&
           std::search(all.begin(), all.end(), part.begin(), part.end()) != all.end();
}

TEST(Docs, EveryCodeBlockIsARunExampleAUsageTextOrABuildCommand) {
    std::vector<std::string> pagesWithUsage;
    for (const char* page : kPages) {
        ASSERT_TRUE(fs::exists(source(page))) << page;
        for (const CodeBlock& block : codeBlocks(page)) {
            const size_t colon = block.marker.find(": ");
            const std::string kind = block.marker.substr(0, colon);
            const std::string argument =
                colon == std::string::npos ? "" : block.marker.substr(colon + 2);
            if (kind == "example") {
                EXPECT_TRUE(std::find(std::begin(kExamples), std::end(kExamples), argument) !=
                            std::end(kExamples))
                    << block.where << ": " << argument << " is not an example the tests run";
                EXPECT_TRUE(isContiguousRunOf(block.lines, fileLines(source(argument))))
                    << block.where << ": not lines of " << argument << " as they stand there";
            } else if (kind == "usage") {
                EXPECT_EQ(usageText(argument), joined(block.lines)) << block.where;
                pagesWithUsage.push_back(std::string(page) + " " + argument);
            } else if (kind == "usage-excerpt") {
                const std::string excerpt = joined(block.lines);
                EXPECT_NE(std::string::npos,
                          usageText(argument).find(excerpt.substr(0, excerpt.size() - 1)))
                    << block.where << ": not part of the usage text of " << argument;
            } else if (block.marker != "build-command") {
                ADD_FAILURE() << block.where << ": a code block needs one of the comments "
                              << "<!-- example: FILE -->, <!-- usage: COMMAND -->, "
                              << "<!-- usage-excerpt: COMMAND --> or <!-- build-command --> "
                              << "on the line before it";
            }
        }
    }
    for (const char* command : kCommands)
        EXPECT_NE(std::find(pagesWithUsage.begin(), pagesWithUsage.end(),
                            "docs/" + std::string(command) + ".md " + command),
                  pagesWithUsage.end())
            << "docs/" << command << ".md shows no usage text of " << command;
}

} // namespace
