#include "support/printWinAPIError.h"

#include "testkit/testkit.h"

#include <gtest/gtest.h>

namespace {

using testkit::CapturedOutput;

const char kDefaultTail[] =
    ". See https://learn.microsoft.com/windows/win32/debug/system-error-codes--0-499-\n";

std::string report(int code, const wchar_t* path, const char* prefix) {
    CapturedOutput output;
    printWinAPIError(code, path, prefix);
    EXPECT_EQ("", output.out());
    return output.err();
}

TEST(PrintWinAPIError, EveryTableEntryHasItsText) {
    const std::pair<int, const char*> table[] = {
        {2, "File not found"},
        {3, "Path not found"},
        {31, "Device does not work"},
        {32, "File/Dir is shared by another process"},
        {33, "File/Dir is locked by another process"},
        {54, "File is not accessible in network"},
        {55, "Device not found"},
        {58, "Not response in network"},
        {59, "Unexpected network error"},
        {65, "Network access denied"},
        {145, "Dir not empty"},
        {206, "File name is too long, truncated even here"},
        {267, "Not a directory"},
    };
    for (const auto& [code, text] : table)
        EXPECT_EQ((std::string("PRE, ") + text + ": C:\\dir\\x\n"),
                  report(code, L"C:\\dir\\x", "PRE"))
            << "code " << code;
}

TEST(PrintWinAPIError, OtherNumbersTakeTheDefaultFormatInSignedDecimal) {
    for (int code : {5, 15, 80, 499})
        EXPECT_EQ(("PRE, Windows error: " + std::to_string(code) + ": a/b" + kDefaultTail),
                  report(code, L"a/b", "PRE"))
            << "code " << code;
}

// The address names the page of the vendor's reference that lists the number; a number outside
// every page gets the overview of those pages.
TEST(PrintWinAPIError, TheAddressIsThePageThatListsTheNumber) {
    const std::pair<int, std::string> table[] = {
        {500, "--500-999-"},
        {1113, "--1000-1299-"},
        {1359, "--1300-1699-"},
        {4390, "--4000-5999-"},
        {8199, "--6000-8199-"},
        {8347, "--8200-8999-"},
        {15999, "--12000-15999-"},
        {16000, ""},
        {-1, ""},
        {0x7fffffff, ""},
    };
    for (const auto& [code, page] : table)
        EXPECT_EQ(("PRE, Windows error: " + std::to_string(code) +
                   ": a/b. See https://learn.microsoft.com/windows/win32/debug/system-error-codes" +
                   page + "\n"),
                  report(code, L"a/b", "PRE"))
            << "code " << code;
}

TEST(PrintWinAPIError, ZeroWritesNothing) {
    EXPECT_EQ("", report(0, L"a", "PRE"));
}

TEST(PrintWinAPIError, NullPathPrintsAsNull) {
    EXPECT_EQ(("P, Dir not empty: (null)\n"), report(145, nullptr, "P"));
}

// The path is written in the process code page: UTF-8 on POSIX (the path's own bytes, whatever
// the locale) and on Windows under the commands' manifest; one byte in code page 1252 (Wine's,
// this program has no manifest).
TEST(PrintWinAPIError, PathCharactersReachTheMessage) {
    if (testkit::processCodePage() != testkit::kUtf8CodePage && testkit::processCodePage() != 1252)
        GTEST_SKIP() << "expected bytes are known here for code pages 1252 and UTF-8 only";
    const std::string expectedPath =
        testkit::processCodePage() == testkit::kUtf8CodePage ? "x\xc3\xa9y" : "x\xe9y";
    EXPECT_EQ(("P, File not found: " + expectedPath + "\n"), report(2, L"x\u00e9y", "P"));
}

// A character that the narrow encoding cannot hold ends that argument; the rest of the message
// is still written.
TEST(PrintWinAPIError, UnconvertibleCharacterEndsOnlyThePath) {
    const wchar_t path[] = {L'a', wchar_t(0xD800), L'b', 0}; // a lone surrogate
    const std::string got = report(2, path, "P");
    EXPECT_EQ(("P, File not found: a\n"), got);
}

} // namespace
