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

// The vendor's reference of system error codes: one page for each range of numbers, named by
// the range, and an overview that lists those pages, for numbers outside all of them.
const char kErrorPages[] = "https://learn.microsoft.com/windows/win32/debug/system-error-codes";

struct ErrorPage {
    int last; // the highest number of the page; the lowest is one more than the page before
    const char* range;
};

const ErrorPage errorPages[] = {
    {499, "--0-499-"},         {999, "--500-999-"},    {1299, "--1000-1299-"},
    {1699, "--1300-1699-"},    {3999, "--1700-3999-"}, {5999, "--4000-5999-"},
    {8199, "--6000-8199-"},    {8999, "--8200-8999-"}, {11999, "--9000-11999-"},
    {15999, "--12000-15999-"},
};

// The part of the address after kErrorPages that names the page of code.
const char* errorPageRange(int code) {
    if (code >= 0)
        for (const ErrorPage& page : errorPages)
            if (code <= page.last)
                return page.range;
    return "";
}

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
    printMessage(stderr, "%s, Windows error: %d: %ls. See %s%s\n", prefix, errorCode, faultyPath,
                 kErrorPages, errorPageRange(errorCode));
}
