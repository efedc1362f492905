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

// On Windows the runtime's "C" locale holds the characters up to 0xFF and no other: one beyond
// ends that argument, and the rest of the message is still written. On POSIX every character
// is written as its UTF-8 bytes.
TEST(PrintMessage, WidePathBeyondTheNarrowEncodingEndsOnlyThatArgument) {
    const Written got = PRINTED("%ls|%ls|%d", L"a\u00ffb", L"a\u20acb", 7);
    const std::string windows = std::string("a\xff") + "b|a|7";
    const std::string posix = std::string("a\xc3\xbf") + "b|a\xe2\x82\xac" + "b|7";
    EXPECT_EQ(testkit::onWindows ? windows : posix, got.text);
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
