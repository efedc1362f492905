// readOptionArgs with fuzzed arguments and accepted letters. The input is split at NUL bytes:
// its first byte is the index of the first option argument, then come the accepted letters, then
// the arguments. The letters applied, the result and the message must be what the header says.
#include "CommandLine.h"
#include "FuzzSupport.h"

#include "support/readOptionArgs.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

void collect(char letter, void* context) {
    static_cast<std::string*>(context)->push_back(letter);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 2048)
        return -1;
    std::vector<std::string> parts(1);
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == 0)
            parts.emplace_back();
        else
            parts.back().push_back(static_cast<char>(data[i]));
    }
    const std::string letters = parts[0];
    std::vector<std::string> args(parts.begin() + 1, parts.end());
    fuzz::CommandLine command("cmd", args);
    // first from 0 (the command's name is read as an option too) to beyond the last argument.
    const int first = data[0] % (command.argc() + 2);

    // What the header promises: arguments in order, skipped, faulty or a cluster of letters.
    std::string expectedLetters, expectedMessage;
    int expectedResult = 0;
    for (int i = first; i < command.argc() && expectedResult == 0; ++i) {
        const std::string arg = command.argv()[i];
        if (fuzz::isSkippedOption(arg))
            continue;
        if (arg[0] != '-') {
            expectedMessage = "ERROR-faulty-argument:" + arg;
            expectedResult = 8;
            break;
        }
        for (char letter : arg.substr(1)) {
            if (letters.find(letter) == std::string::npos) {
                expectedMessage =
                    "ERROR unknown option " + std::string(1, letter) + " in argument:" + arg;
                expectedResult = 8;
                break;
            }
            expectedLetters += letter;
        }
    }

    std::string applied, message;
    int result;
    {
        fuzz::QuietStreams quiet;
        quiet.captureErr();
        result = readOptionArgs(command.argc(), command.argv(), first, letters.c_str(), collect,
                                &applied);
        message = quiet.err();
    }
    FUZZ_CHECK(result == expectedResult, "result %d, expected %d", result, expectedResult);
    FUZZ_CHECK(applied == expectedLetters, "applied \"%s\", expected \"%s\"", applied.c_str(),
               expectedLetters.c_str());
    FUZZ_CHECK(message == expectedMessage, "wrote \"%s\", expected \"%s\"", message.c_str(),
               expectedMessage.c_str());
    return 0;
}
