// Paths beyond ASCII, end to end: each command takes them as UTF-8 arguments, names them in its
// messages and prints them as UTF-8, and what finalName prints can be handed back to any command.
// On Windows this program runs, as the commands do, in the UTF-8 code page (the same manifest),
// so the narrow arguments it passes reach them unchanged.
#include "finalName/finalName.h"

#include "platform/platform.h"
#include "testkit/testkit.h"

#include <gtest/gtest.h>

namespace {

using namespace testkit;

struct Name {
    const char* label;
    // cppcheck-suppress unusedStructMember ; read through GetParam(), which cppcheck does not see
    const char* text; // UTF-8
};

// A Latin letter beyond ASCII, Japanese, and two characters beyond the Basic Multilingual Plane
// in a row (each a surrogate pair on Windows).
const Name kNames[] = {
    {"Latin", "Gr\u00fc\u00dfe"},
    {"Japanese", "\u65e5\u672c\u8a9e"},
    {"BeyondTheBmp", "\U0001F600\U00020000"},
};

void PrintTo(const Name& name, std::ostream* os) {
    *os << name.label;
}

const std::string kSeparator = onWindows ? "\\" : "/";

const char kDefaultTail[] =
    ". See https://learn.microsoft.com/windows/win32/debug/system-error-codes--0-499-\n";

// The final path of one of the tests' own directories (ASCII), as the commands print it.
std::string finalPathOf(const fs::path& asciiDir) {
    wchar_t buffer[MAX_PATH];
    EXPECT_EQ(0, readCmpLink(wide(asciiDir).c_str(), buffer, MAX_PATH, 0, 0, 0)) << asciiDir;
    return std::string(buffer, buffer + std::wcslen(buffer));
}

void expectSuccess(const ProcessResult& r, const std::string& out = "") {
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ(out, r.out);
    EXPECT_EQ("", r.err);
}

// ASCII letters raised and backslashes turned into slashes, every other byte kept: what -A/ does.
std::string upperWithSlashes(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
        else if (c == '\\')
            c = '/';
    }
    return s;
}

class UnicodePath : public testing::TestWithParam<Name> {
  protected:
    void SetUp() override {
        ASSERT_EQ(kUtf8CodePage, processCodePage())
            << "this program must run in the UTF-8 code page, as the commands do";
    }
    TempDir t;
    const std::string name = GetParam().text;
    const fs::path dir = t.path() / fromUtf8(GetParam().text);
    std::string finalDir() { return finalPathOf(t.path()) + kSeparator + name; }
};

TEST_P(UnicodePath, EveryCommandTakesItAndFinalNamesOutputLeadsBackToIt) {
    const fs::path out = dir / "out";
    const std::string arg = utf8(out);
    // Created with its missing parent.
    expectSuccess(run("prepFolder", {arg}));
    EXPECT_TRUE(fs::is_directory(out));

    const std::string expected = finalDir() + kSeparator + "out";
    const ProcessResult named = run("finalName", {arg});
    expectSuccess(named, expected);
    // Only ASCII letters change case: the UTF-8 bytes stay as they are.
    expectSuccess(run("finalName", {arg, "-A/"}), upperWithSlashes(expected));

    // finalName's output, handed to prepFolder, cleans the same folder.
    writeFile(out / "file");
    fs::create_directory(out / fromUtf8(GetParam().text));
    expectSuccess(run("prepFolder", {named.out}));
    EXPECT_TRUE(fs::is_directory(out));
    EXPECT_TRUE(fs::is_empty(out));

    // The folder given as its own link path, once as the argument and once as finalName printed
    // it: its final path compares equal to the target, so nothing is touched even with -F.
    writeFile(out / "kept", "content");
    expectSuccess(run("mountDir", {arg, named.out, "-F"}));
    expectSuccess(run("mountDir", {named.out, arg, "-F"}));
    EXPECT_EQ("content", readFile(out / "kept"));

    // Messages name the path in UTF-8.
    const std::string missing = arg + kSeparator + "missing";
    const ProcessResult r = run("finalName", {missing});
    EXPECT_EQ(3, r.exitCode);
    EXPECT_EQ("", r.out);
    EXPECT_EQ(lines("ERROR-final-path, File not found: " + missing + "\n"), r.err);
}

TEST_P(UnicodePath, MountDirMakesALinkToItAndFindsItAlreadyRightAfterwards) {
    fs::create_directory(dir);
    writeFile(dir / "data", "target content");
    const std::string link = utf8(t.path() / fromUtf8(std::string("link-") + GetParam().text));
    const ProcessResult first = run("mountDir", {link, utf8(dir)});
    if (onWindows && first.exitCode == 1) {
        // Wine: the record cannot be set; the report names the link path in UTF-8.
        EXPECT_EQ(lines("ERROR set Junction, Windows error: 50: " + link + kDefaultTail),
                  first.err);
        GTEST_SKIP() << "junctions cannot be set here (Wine); the failure report was checked";
    }
    expectSuccess(first);
    expectSuccess(run("mountDir", {link, utf8(dir)}));
    expectSuccess(run("finalName", {link}), finalDir());
    EXPECT_EQ("target content", readFile(dir / "data"));
}

TEST_P(UnicodePath, FinalNameThroughALinkPrintsTheFolderAndPrepFolderCleansIt) {
    if (!canMakeLinks())
        GTEST_SKIP() << "needs symbolic links, which the tests do not make under Wine (finalName "
                        "of the folder itself is checked)";
    fs::create_directory(dir);
    const fs::path link = t / "link";
    linkDirectory(dir, link);
    const ProcessResult named = run("finalName", {utf8(link)});
    expectSuccess(named, finalDir());

    writeFile(dir / "file");
    expectSuccess(run("prepFolder", {named.out}));
    EXPECT_TRUE(fs::is_empty(dir));
    EXPECT_TRUE(fs::is_symlink(link));
    // A link that already leads to the folder is right as it is.
    expectSuccess(run("mountDir", {utf8(link), utf8(dir)}));
    EXPECT_TRUE(fs::is_symlink(link));
}

// In this process too, a path is written in its UTF-8 bytes.
TEST_P(UnicodePath, MessagesWriteItInUtf8) {
    CapturedOutput output;
    const int count = printMessage(stderr, "%ls|%d", wide(dir).c_str(), 7);
    const std::string written = output.err();
    EXPECT_EQ(utf8(dir) + "|7", written);
    EXPECT_EQ(static_cast<int>(written.size()), count);
}

INSTANTIATE_TEST_SUITE_P(Names, UnicodePath, testing::ValuesIn(kNames),
                         [](const testing::TestParamInfo<Name>& info) { return info.param.label; });

} // namespace
