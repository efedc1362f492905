// printMessage, the one formatted output of the commands: the conversions they use, on both legs.
#include "platform/platform.h"

#include "testkit/testkit.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

using testkit::CapturedOutput;

struct Written {
    int count;
    std::string text;
};

// What print writes to standard error through printMessage, and the count it returns.
template <typename Print> Written written(Print print) {
    CapturedOutput output;
    int count = print();
    EXPECT_EQ("", output.out());
    return {count, output.err()};
}

#define PRINTED(...) written([&] { return printMessage(stderr, __VA_ARGS__); })

TEST(PrintMessage, ConversionsOfTheCommands) {
    const struct {
        Written got;
        std::string expected;
    } cases[] = {
        {PRINTED("plain %% text"), "plain % text"},
        {PRINTED("<%s|%s>", "abc", ""), "<abc|>"},
        {PRINTED("<%ls>", L"C:\\dir\\x"), "<C:\\dir\\x>"},
        {PRINTED("%d %d %d %d", 0, -1, INT_MAX, INT_MIN),
         "0 -1 " + std::to_string(INT_MAX) + " " + std::to_string(INT_MIN)},
        {PRINTED("%lu %lu", 0ul, ULONG_MAX), "0 " + std::to_string(ULONG_MAX)},
        {PRINTED("[%c%c]", 'x', '-'), "[x-]"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, c.got.text);
        EXPECT_EQ(static_cast<int>(c.expected.size()), c.got.count) << c.expected;
    }
}

// A wide path is written in the process code page. Where that is UTF-8 (POSIX; Windows under
// the commands' manifest) every character is its UTF-8 bytes, one beyond the BMP included (a
// surrogate pair on Windows, converted as one character). Code page 1252 (Wine's, this program
// has no manifest) holds the Latin letters and the euro sign, each as one byte; a character that
// has no form there ends that argument, and the rest of the message is still written.
TEST(PrintMessage, WidePathIsWrittenInTheProcessCodePage) {
    const Written got =
        PRINTED("%ls|%ls|%ls|%ls|%d", L"a\u00ffb", L"a\u20acb", L"a\u65e5b", L"a\U0001F600b", 7);
    if (testkit::processCodePage() == testkit::kUtf8CodePage)
        EXPECT_EQ("a\xc3\xbf"
                  "b|a\xe2\x82\xac"
                  "b|a\xe6\x97\xa5"
                  "b|a\xf0\x9f\x98\x80"
                  "b|7",
                  got.text);
    else if (testkit::processCodePage() == 1252)
        EXPECT_EQ("a\xff"
                  "b|a\x80"
                  "b|a|a|7",
                  got.text);
    else
        GTEST_SKIP() << "expected bytes are known here for code pages 1252 and UTF-8 only, not "
                     << testkit::processCodePage();
}

// A surrogate that is not one half of a pair has no narrow form in any Windows code page: it
// ends that argument (wchar_t holds whole code points on POSIX, where pairs do not occur).
TEST(PrintMessage, LoneSurrogateEndsOnlyThatArgument) {
    if (!testkit::onWindows)
        GTEST_SKIP() << "surrogate pairs are a matter of 16-bit wchar_t (Windows)";
    const wchar_t high[] = {L'a', wchar_t(0xD83D), L'b', 0};
    const wchar_t low[] = {L'a', wchar_t(0xDE00), L'b', 0};
    const wchar_t twoHighs[] = {L'a', wchar_t(0xD83D), wchar_t(0xD83D), wchar_t(0xDE00), 0};
    const wchar_t highAtEnd[] = {L'a', wchar_t(0xD83D), 0};
    const Written got = PRINTED("%ls|%ls|%ls|%ls|%d", high, low, twoHighs, highAtEnd, 7);
    EXPECT_EQ("a|a|a|a|7", got.text);
    EXPECT_EQ(9, got.count);
}

// Longer than the collecting buffer: still written whole, in order.
TEST(PrintMessage, LongMessageIsWrittenWhole) {
    std::string longText;
    for (int i = 0; longText.size() < 5000; ++i)
        longText += std::to_string(i) + ",";
    const Written got = PRINTED("<%s>%d", longText.c_str(), 42);
    EXPECT_EQ("<" + longText + ">42", got.text);
    EXPECT_EQ(static_cast<int>(longText.size()) + 4, got.count);
}

} // namespace
