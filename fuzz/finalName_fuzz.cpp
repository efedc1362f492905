// finalName_cmd over the fake file system: the arguments and the tree come from the input (see
// FakeFs.h). The command must never try to change the tree. On success it prints exactly the
// path its argument resolves to, converted by its options; otherwise it prints nothing on
// standard output. Without injected faults, a path that resolves to fewer than 260 bytes, with
// valid options, must succeed.
#include "CommandLine.h"
#include "FakeFs.h"
#include "FuzzSupport.h"

#include "finalName/finalName.h"
#include "platform/platform.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::forbidFileSystemChanges();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using fuzz::FakeFs;
    if (size > 4096)
        return -1;
    FakeFs fs;
    const std::vector<std::string> args = fs.load(data, size, 5);
    fuzz::CommandLine command("finalName", args);
    fs.forbidChanges();

    const bool usage = args.empty() || args[0].empty();
    std::string letters;
    const bool optionsRead = !usage && fuzz::optionLetters(args, 1, "aA/", letters);
    const std::string path = usage ? std::string() : fuzz::layerPath(args[0]);
    wchar_t wide[MAX_PATH];
    const bool pathFits =
        !usage && MultiByteToWideChar(CP_ACP, 0, args[0].c_str(), -1, wide, MAX_PATH) != 0;

    int exitCode;
    std::string out;
    fs.install();
    {
        fuzz::QuietStreams quiet(true);
        exitCode = finalName_cmd(command.argc(), command.argv());
        out = quiet.out();
    }
    fs.uninstall();

    FUZZ_CHECK(exitCode == 0 || exitCode == 2 || exitCode == 3 || exitCode == 6 || exitCode == 8,
               "exit code %d", exitCode);
    FUZZ_CHECK(fs.openDescriptors() == 0, "%d descriptors left open", fs.openDescriptors());
    if (usage) {
        FUZZ_CHECK(exitCode == 0, "usage: exit %d", exitCode);
        return 0;
    }
    FUZZ_CHECK(exitCode == 0 || out.empty(), "exit %d printed \"%s\"", exitCode, out.c_str());
    if (!pathFits)
        FUZZ_CHECK(exitCode == 6, "a path of 260 characters or more gave exit %d", exitCode);
    else if (!optionsRead)
        FUZZ_CHECK(exitCode == 8, "an option error gave exit %d", exitCode);

    FakeFs::Found reached = fs.resolve(path, true);
    std::string expected = reached.err ? std::string() : fs.pathOf(reached.node);
    char caseConv = 0;
    for (char letter : letters)
        if (letter != '/')
            caseConv = letter;
    // The separators here are "/" already: a backslash is part of a name and stays.
    for (char& c : expected) {
        if (caseConv == 'a' && c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
        else if (caseConv == 'A' && c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    }
    if (exitCode == 0)
        FUZZ_CHECK(reached.err == 0 && out == expected,
                   "printed \"%s\", resolved \"%s\" (errno %d)", out.c_str(), expected.c_str(),
                   reached.err);
    if (pathFits && optionsRead && reached.err == 0 && expected.size() < 260 && !fs.hasFaults())
        FUZZ_CHECK(exitCode == 0, "%s resolves to %s, but exit %d", path.c_str(), expected.c_str(),
                   exitCode);
    return 0;
}
