#include "readOptionArgs.h"

#include "../platform/platform.h"

#include <cstring>

int readOptionArgs(int argc, char** argv, int first, const char* letters, OptionLetterFn apply,
                   void* context) {
    for (int i = first; i < argc; ++i) {
        const char* arg = argv[i];
        if (strncmp(arg, "---", 3) == 0 || arg[0] == 0)
            continue;
        if (arg[0] != '-') {
            printMessage(stderr, "ERROR-faulty-argument:%s", arg);
            return kOptionError;
        }
        for (const char* letter = arg + 1; *letter; ++letter) {
            if (!strchr(letters, *letter)) {
                printMessage(stderr, "ERROR unknown option %c in argument:%s", *letter, arg);
                return kOptionError;
            }
            apply(*letter, context);
        }
    }
    return 0;
}
