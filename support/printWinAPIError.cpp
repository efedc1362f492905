#include "printWinAPIError.h"

#include "../platform/platform.h"

namespace {

struct ErrorText {
    int code;
    const char* text;
};

const ErrorText errorTexts[] = {
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

} // namespace

void printWinAPIError(int errorCode, const wchar_t* faultyPath, const char* prefix) {
    if (errorCode == 0)
        return;
    for (const ErrorText& e : errorTexts) {
        if (e.code == errorCode) {
            printMessage(stderr, "%s, %s: %ls\n", prefix, e.text, faultyPath);
            return;
        }
    }
    printMessage(stderr,
                 "%s, Windows error: %d: %ls. See "
                 "https://learn.microsoft.com/windows/win32/debug/system-error-codes--0-499-"
                 "\n",
                 prefix, errorCode, faultyPath);
}
