// The finalName command as a process.
#include "finalName/finalName.h"

#include "platform/platform.h"
#include "testkit/testkit.h"
#include "version.h"

#include <gtest/gtest.h>

#include <cctype>

namespace {

using namespace testkit;

const char kUsage[] =
    "finalName PATH [-a|A] [-/] [{ -[--<*?>|{a|A|/}] }]\n"
    " Version: " TREEPREP_VERSION_TEXT "\n"
    " outputs the PATH with resolved symbolic link\n"
    " PATH can be written with slash or backslash, with or without slash/backslash on end\n"
    "  -a convert output path to to lower case\n"
    "  -A convert output path to to upper case\n"
    "  -/ output with slash\n"
    "  --- is a commented option\n"
    " [{ -[--<*?>|{a|A|/}] }]  Option Syntax in lorvik-XOLF writing style means:\n"
    " [{ -[      ...     ] }]  There can be any numbers of arguments starting with a - and the "
    "given possible content inside\n"
    "     [--<*?>|{ ... }]     Either --- following by any number of chars is admissible\n"
    "             {a|A|/}      or after - any number of one of the given characters inside "
    "repetition is admissible\n"
    " hence for example it can be written ---A -a/ to comment the first option and set to lower "
    "with slash conversion\n"
    " ... {a<?toLower>|A<?toUpper>|/<?toSlash>} ...  XOLF can also explain the semantic: \n"
    " XOLF: see docs/option-syntax.md";

ProcessResult finalName(const std::vector<std::string>& args, const fs::path& workDir = {}) {
    return run("finalName", args, workDir);
}

// The final path of a directory of ASCII names, as the command prints it without options.
std::string plainFinalPath(const fs::path& p) {
    wchar_t buffer[MAX_PATH];
    EXPECT_EQ(0, readCmpLink(wide(p).c_str(), buffer, MAX_PATH, 0, 0, 0));
    return std::string(buffer, buffer + std::wcslen(buffer));
}

std::string converted(std::string s, char caseConv, bool slash) {
    for (char& c : s) {
        if (caseConv == 'a')
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        else if (caseConv == 'A')
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (slash && c == '\\')
            c = '/';
    }
    return s;
}

TEST(FinalNameCommand, UsageHasNoLineEndAtItsEnd) {
    for (const auto& args : std::vector<std::vector<std::string>>{{}, {""}, {"", "-x"}}) {
        ProcessResult r = finalName(args);
        EXPECT_EQ(0, r.exitCode);
        EXPECT_EQ(lines(kUsage), r.out);
        EXPECT_EQ("", r.err);
    }
}

TEST(FinalNameCommand, PrintsTheFinalPathWithoutLineEndConvertedByTheOptionsInOrder) {
    TempDir t;
    fs::create_directory(t / "Mixed_Case");
    const std::string plain = plainFinalPath(t / "Mixed_Case");
    const std::string path = (t / "Mixed_Case").string();
    struct Case {
        std::vector<std::string> options;
        char caseConv;
        bool slash;
    };
    const Case cases[] = {
        {{}, 0, false},
        {{"-A/"}, 'A', true},
        {{"-a"}, 'a', false},
        {{"-aA"}, 'A', false},
        {{"-A", "-a"}, 'a', false},
        {{"---A", "-a/"}, 'a', true},
        {{"-", "", "-/"}, 0, true},
        {{"-//aa"}, 'a', true},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {path};
        args.insert(args.end(), c.options.begin(), c.options.end());
        ProcessResult r = finalName(args);
        EXPECT_EQ(0, r.exitCode);
        EXPECT_EQ(converted(plain, c.caseConv, c.slash), r.out);
        EXPECT_EQ("", r.err);
    }
}

TEST(FinalNameCommand, SpellingsAndRelativePathsGiveTheSameOutput) {
    TempDir t;
    fs::create_directories(t / "d" / "e");
    const std::string plain = plainFinalPath(t / "d" / "e");
    std::string slashed = (t / "d" / "e").string();
    for (char& c : slashed)
        if (c == '\\')
            c = '/';
    for (const std::string& spelling : {slashed, slashed + "/", (t / "d" / "e").string() + "\\"})
        EXPECT_EQ(plain, finalName({spelling}).out) << spelling;
    EXPECT_EQ(plain, finalName({"e"}, t / "d").out);
    EXPECT_EQ(plain, finalName({"./d/e/"}, t.path()).out);
}

TEST(FinalNameCommand, OptionErrorsEndWith8AndNoOutput) {
    TempDir t;
    const std::string path = t.path().string();
    struct Case {
        std::vector<std::string> options;
        std::string err;
    };
    const Case cases[] = {
        {{"-x"}, "ERROR unknown option x in argument:-x"},
        {{"--a"}, "ERROR unknown option - in argument:--a"},
        {{"-a", "-aX/"}, "ERROR unknown option X in argument:-aX/"},
        {{"plain"}, "ERROR-faulty-argument:plain"},
        {{"-A", "second/path"}, "ERROR-faulty-argument:second/path"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {path};
        args.insert(args.end(), c.options.begin(), c.options.end());
        ProcessResult r = finalName(args);
        EXPECT_EQ(8, r.exitCode) << c.err;
        EXPECT_EQ("", r.out) << c.err;
        EXPECT_EQ(c.err, r.err);
    }
}

TEST(FinalNameCommand, TooLongPathWinsOverAFaultyOption) {
    ProcessResult r = finalName({std::string(260, 'p'), "-x"});
    EXPECT_EQ(6, r.exitCode);
    EXPECT_EQ("", r.out);
    EXPECT_EQ(lines("ERROR-invalid-link path-length\n"), r.err);
}

TEST(FinalNameCommand, UnresolvablePathIsAnErrorWithNothingOnStandardOutput) {
    TempDir t;
    const std::string missing = (t / "missing").string();
    ProcessResult r = finalName({missing, "-A"});
    EXPECT_EQ(3, r.exitCode);
    EXPECT_EQ("", r.out);
    EXPECT_EQ(lines("ERROR-final-path, File not found: " + missing + "\n"), r.err);

    const std::string deeper = (t / "missing" / "x").string();
    r = finalName({deeper});
    EXPECT_EQ(3, r.exitCode);
    EXPECT_EQ("", r.out);
    EXPECT_EQ(lines("ERROR-final-path, Path not found: " + deeper + "\n"), r.err);
}

// NUL is a device: Windows names no path for it, Wine one where a drive leads to the host's
// root (Z:\dev\null) and otherwise a text that is no path. finalName prints a drive path or
// nothing.
TEST(FinalNameCommand, DeviceHasADrivePathOrNoFinalPath) {
    if (!onWindows)
        GTEST_SKIP() << "NUL is a device name on Windows only";
    const ProcessResult r = finalName({"NUL"});
    if (r.exitCode == 0) {
        ASSERT_GE(r.out.size(), 3u);
        EXPECT_TRUE(std::isalpha(static_cast<unsigned char>(r.out[0])) && r.out[1] == ':' &&
                    r.out[2] == '\\')
            << r.out;
    } else {
        EXPECT_EQ(2, r.exitCode);
        EXPECT_EQ("", r.out);
        EXPECT_EQ(0u, r.err.rfind("ERROR-final-path, ", 0)) << r.err;
    }
}

TEST(FinalNameCommand, LinkIsResolvedToItsTarget) {
    if (!canMakeLinks())
        GTEST_SKIP() << "needs symbolic links, which the tests do not make under Wine";
    TempDir t;
    fs::create_directory(t / "target");
    linkDirectory(t / "target", t / "link");
    linkDirectory(t / "link", t / "link2");
    ProcessResult r = finalName({(t / "link2").string() + "/"});
    EXPECT_EQ(0, r.exitCode);
    EXPECT_EQ(plainFinalPath(t / "target"), r.out);
}

} // namespace
