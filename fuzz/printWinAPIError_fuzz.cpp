// printWinAPIError with a fuzzed error number, prefix and path (any 32-bit characters, or none).
// What it writes to standard error must be the one line the header describes.
//
// Input: a byte that picks a small error number (below 0x80: the next byte is the number) or a
// full one (the next 4 bytes), a flags byte (1: no path), the prefix up to a NUL, then the path
// as 4-byte characters.
#include "FuzzSupport.h"

#include "platform/platform.h"
#include "platform/posix/text.h"
#include "support/printWinAPIError.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Known {
    int code;
    const char* text;
};

// The messages the commands document.
const Known kKnown[] = {
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

// The ranges of the vendor's pages of error codes; a number outside them has the overview page.
const int kPageRanges[][2] = {{0, 499},      {500, 999},    {1000, 1299}, {1300, 1699},
                              {1700, 3999},  {4000, 5999},  {6000, 8199}, {8200, 8999},
                              {9000, 11999}, {12000, 15999}};

std::string pageOf(int code) {
    for (const auto& range : kPageRanges)
        if (code >= range[0] && code <= range[1])
            return "--" + std::to_string(range[0]) + "-" + std::to_string(range[1]) + "-";
    return "";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6 || size > 4096)
        return -1;
    int code;
    size_t at;
    if (data[0] < 0x80) {
        code = data[1];
        at = 2;
    } else {
        memcpy(&code, data + 1, 4);
        at = 5;
    }
    const bool noPath = data[at++] & 1;
    std::string prefix;
    while (at < size && data[at])
        prefix.push_back(static_cast<char>(data[at++]));
    ++at;
    std::vector<wchar_t> path;
    for (; at + 4 <= size; at += 4) {
        wchar_t c;
        memcpy(&c, data + at, 4);
        path.push_back(c);
    }
    path.push_back(0);

    std::string written;
    {
        fuzz::QuietStreams quiet;
        quiet.captureErr();
        printWinAPIError(code, noPath ? nullptr : path.data(), prefix.c_str());
        written = quiet.err();
    }

    if (code == 0) {
        FUZZ_CHECK(written.empty(), "error 0 wrote \"%s\"", written.c_str());
        return 0;
    }
    // The path as the exact bytes its characters stand for, up to one that has none.
    std::string named = noPath ? "(null)" : "";
    for (size_t i = 0; !noPath && path[i]; ++i) {
        unsigned char bytes[4];
        int n = posixEncodeChar(path[i], bytes, Wide::Message);
        if (n == 0)
            break;
        named.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(n));
    }
    std::string expected = prefix + ", Windows error: " + std::to_string(code) + ": " + named +
                           ". See https://learn.microsoft.com/windows/win32/debug/"
                           "system-error-codes" +
                           pageOf(code) + "\n";
    for (const Known& k : kKnown)
        if (k.code == code)
            expected = prefix + ", " + k.text + ": " + named + "\n";
    FUZZ_CHECK(written == expected, "wrote \"%s\"\n  expected \"%s\"", written.c_str(),
               expected.c_str());
    return 0;
}
