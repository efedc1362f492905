#include "finalName.h"

#include "../platform/pathText.h"
#include "../platform/platform.h"
#include "../support/printWinAPIError.h"
#include "../support/readOptionArgs.h"
#include "version.h"

#include <cstring>

namespace {

bool isAsciiLetter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

// At most one conversion applies, in this order: case, then slash. Only ASCII is converted.
wchar_t convert(wchar_t c, char caseConv, char slashConv) {
    if (caseConv == 'a' && c >= L'A' && c <= L'Z')
        return c + 32;
    if (caseConv == 'A' && c >= L'a' && c <= L'z')
        return c - 32;
    if (slashConv == '/' && c == L'\\')
        return L'/';
    return c;
}

bool matches(wchar_t caller, wchar_t original, char caseConv, char slashConv) {
    if (original == L'\\' && caller == L'\\')
        return true;
    if (!kPathLettersIgnoreCase)
        return caller == convert(original, 0, slashConv); // case as the platform gave it
    wchar_t converted = convert(original, caseConv, slashConv);
    return caller == converted ||
           (isAsciiLetter(caller) && isAsciiLetter(converted) && (caller | 32) == (converted | 32));
}

struct Conversion {
    char caseConv = 0;
    char slashConv = 0;
};

void applyLetter(char letter, void* context) {
    Conversion* conversion = static_cast<Conversion*>(context);
    if (letter == '/')
        conversion->slashConv = '/';
    else
        conversion->caseConv = letter;
}

const char usageText[] =
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

} // namespace

int walkFinalPath(const char* finalPath, wchar_t* pathBuf, int size, int compareFlag, char caseConv,
                  char slashConv) {
    // Bytes become characters through the code page the platform wrote them in, the one the
    // arguments arrive in (on Windows under the commands' manifest UTF-8, a character beyond the
    // BMP a surrogate pair as in the caller's path); ASCII maps to itself, so the conversions and
    // matches below work on the same values as on bytes. A path the platform could not give
    // whole is no final path.
    wchar_t text[kPathCapacity];
    if (size < 1 || MultiByteToWideChar(CP_ACP, 0, finalPath, -1, text, kPathCapacity) == 0 ||
        !narrowTextIsWhole(text))
        return 2;
    for (int pos = 0; pos < size; ++pos) {
        wchar_t original = text[pos];
        if (compareFlag) {
            if (!matches(pathBuf[pos], original, caseConv, slashConv))
                return 1;
        } else {
            pathBuf[pos] = convert(original, caseConv, slashConv);
        }
        if (original == 0)
            return 0;
    }
    if (!compareFlag)
        pathBuf[size - 1] = 0;
    return 2;
}

int readCmpLink(const wchar_t* path, wchar_t* pathBuf, int size, int compareFlag, char caseConv,
                char slashConv) {
    if (!strchr("aA", caseConv) || (slashConv != 0 && slashConv != '/'))
        return 6;
    HANDLE object = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (object == INVALID_HANDLE_VALUE)
        return 3;
    char finalPath[kPathCapacity];
    DWORD length = GetFinalPathNameByHandleA(object, finalPath, kPathCapacity, 0);
    DWORD error = length == 0 ? GetLastError() : DWORD(ERROR_FILENAME_EXCED_RANGE);
    CloseHandle(object);
    if (length == 0 || length >= kPathCapacity) {
        SetLastError(error);
        return 2;
    }
    const char* start = strncmp(finalPath, "\\\\?\\", 4) == 0 ? finalPath + 4 : finalPath;
    if (!isAbsoluteFinalPath(start))
        return 2; // a text such as a device's name, no path to print or compare
    return walkFinalPath(start, pathBuf, size, compareFlag, caseConv, slashConv);
}

int finalName_cmd(int argc, char** argv) {
    if (argc <= 1 || argv[1][0] == 0) {
        fputs(usageText, stdout);
        return 0;
    }
    wchar_t path[kPathCapacity];
    if (MultiByteToWideChar(CP_ACP, 0, argv[1], -1, path, kPathCapacity) == 0) {
        fputs("ERROR-invalid-link path-length\n", stderr);
        return 6;
    }
    Conversion conversion;
    int optionResult = readOptionArgs(argc, argv, 2, "aA/", applyLetter, &conversion);
    if (optionResult != 0)
        return optionResult;

    wchar_t finalPath[kPathCapacity];
    int result =
        readCmpLink(path, finalPath, kPathCapacity, 0, conversion.caseConv, conversion.slashConv);
    if (result != 0) {
        // Nothing was resolved: report it rather than print an unwritten buffer.
        printWinAPIError(static_cast<int>(GetLastError()), path, "ERROR-final-path");
        return result;
    }
    printMessage(stdout, "%ls", finalPath);
    return 0;
}
