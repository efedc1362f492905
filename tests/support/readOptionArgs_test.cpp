#include "support/readOptionArgs.h"

#include "testkit/testkit.h"

#include <gtest/gtest.h>

namespace {

void record(char letter, void* context) {
    *static_cast<std::string*>(context) += letter;
}

struct OptionCase {
    std::vector<std::string> args; // after the two path arguments
    int result;
    std::string applied; // letters handed over, in order
    std::string err;
};

TEST(ReadOptionArgs, ReadsClustersCommentsAndEmptyArgumentsInOrder) {
    const OptionCase cases[] = {
        {{}, 0, "", ""},
        {{"-FT"}, 0, "FT", ""},
        {{"-F", "-T"}, 0, "FT", ""},
        {{"---L", "-F", "---T"}, 0, "F", ""},
        {{"---"}, 0, "", ""},
        {{"-"}, 0, "", ""},
        {{""}, 0, "", ""},
        {{"-TTL", "", "-"}, 0, "TTL", ""},
        {{"-F", "--L"}, 8, "F", "ERROR unknown option - in argument:--L"},
        {{"-FX", "-T"}, 8, "F", "ERROR unknown option X in argument:-FX"},
        {{"-f"}, 8, "", "ERROR unknown option f in argument:-f"},
        {{"L"}, 8, "", "ERROR-faulty-argument:L"},
        {{"-L", " -T"}, 8, "L", "ERROR-faulty-argument: -T"},
        {{"x", "-Q"}, 8, "", "ERROR-faulty-argument:x"},
    };
    for (size_t row = 0; row < sizeof cases / sizeof cases[0]; ++row) {
        const OptionCase& c = cases[row];
        std::vector<std::string> args = {"link", "target"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        testkit::Argv argv("cmd", args);
        std::string applied;
        testkit::CapturedOutput output;
        int result = readOptionArgs(argv.argc(), argv.argv(), 3, "FLT", record, &applied);
        EXPECT_EQ(c.result, result) << "row " << row;
        EXPECT_EQ(c.applied, applied) << "row " << row;
        EXPECT_EQ(c.err, output.err()) << "row " << row;
        EXPECT_EQ("", output.out()) << "row " << row;
    }
}

} // namespace
