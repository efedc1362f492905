// walkFinalPath in both modes with a fuzzed final path, buffer size, conversion letters and (for
// comparing) the caller's path. The buffer is a heap block of exactly the characters the caller
// owns: size characters to read into, the terminated path to compare with. Compare mode must
// never write it; read mode must leave what the header says.
//
// Input: a flags byte (1 compare), the case and slash letters, 2 bytes size, then the final path
// bytes, a NUL, and the caller's path bytes (UTF-8; invalid bytes are carried as the platform
// carries them).
#include "FuzzSupport.h"

#include "finalName/finalName.h"
#include "platform/platform.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The character a final path character becomes in read mode (only ASCII is converted).
wchar_t converted(wchar_t c, char caseConv, char slashConv) {
    if (caseConv == 'a' && c >= L'A' && c <= L'Z')
        return c + 32;
    if (caseConv == 'A' && c >= L'a' && c <= L'z')
        return c - 32;
    if (slashConv == '/' && c == L'\\')
        return L'/';
    return c;
}

// Whether the caller's character stands for the final path's one in compare mode: itself, a
// slash for a backslash when slashes are asked for, and where the platform ignores the case of
// letters, the same ASCII letter in the other case.
bool stands(wchar_t caller, wchar_t original, char slashConv) {
    if (caller == original)
        return true;
    if (original == L'\\' && slashConv == '/' && caller == L'/')
        return true;
    auto letter = [](wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); };
    return kPathLettersIgnoreCase && letter(caller) && letter(original) &&
           (caller | 32) == (original | 32);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5 || size > 2048)
        return -1;
    const bool compare = data[0] & 1;
    const char caseConv = static_cast<char>(data[1]);
    const char slashConv = static_cast<char>(data[2]);
    // Callers own at least one character; the commands pass 260.
    const int bufferSize = 1 + (data[3] | data[4] << 8) % 600;
    std::string finalPath(reinterpret_cast<const char*>(data + 5), size - 5);
    std::string callerBytes;
    size_t nul = finalPath.find('\0');
    if (nul != std::string::npos) {
        callerBytes = finalPath.substr(nul + 1);
        callerBytes = callerBytes.substr(0, callerBytes.find('\0'));
        finalPath.resize(nul);
    }

    // The final path as characters, as the platform's code page makes them; usable when it fits
    // and came whole.
    std::vector<wchar_t> text(4 * MAX_PATH + 8);
    const int textLength = MultiByteToWideChar(CP_ACP, 0, finalPath.c_str(), -1, text.data(),
                                               static_cast<int>(text.size())) -
                           1;
    const bool textUsable =
        textLength >= 0 && textLength < MAX_PATH && narrowTextIsWhole(text.data());

    if (compare) {
        std::vector<wchar_t> caller(4 * MAX_PATH + 8);
        int callerLength = MultiByteToWideChar(CP_ACP, 0, callerBytes.c_str(), -1, caller.data(),
                                               static_cast<int>(caller.size()));
        caller.resize(static_cast<size_t>(callerLength)); // exactly the terminated path
        const std::vector<wchar_t> before = caller;
        int result =
            walkFinalPath(finalPath.c_str(), caller.data(), bufferSize, 1, caseConv, slashConv);
        FUZZ_CHECK(caller == before, "compare mode wrote the caller's path");
        int expected = 2;
        if (textUsable) {
            for (int pos = 0; pos < bufferSize; ++pos) {
                if (!stands(caller[static_cast<size_t>(pos)], text[static_cast<size_t>(pos)],
                            slashConv)) {
                    expected = 1;
                    break;
                }
                if (text[static_cast<size_t>(pos)] == 0) {
                    expected = 0;
                    break;
                }
            }
        }
        FUZZ_CHECK(result == expected, "compare gave %d, expected %d", result, expected);
        return 0;
    }

    const wchar_t kUnwritten = static_cast<wchar_t>(0x5A5A5A5A);
    std::vector<wchar_t> buffer(static_cast<size_t>(bufferSize), kUnwritten);
    int result =
        walkFinalPath(finalPath.c_str(), buffer.data(), bufferSize, 0, caseConv, slashConv);
    if (!textUsable) {
        FUZZ_CHECK(result == 2, "a final path of %zu bytes gave %d", finalPath.size(), result);
        return 0;
    }
    const int copied = textLength < bufferSize ? textLength : bufferSize - 1;
    FUZZ_CHECK(result == (textLength < bufferSize ? 0 : 2),
               "read gave %d for %d characters into %d", result, textLength, bufferSize);
    for (int i = 0; i < copied; ++i)
        FUZZ_CHECK(buffer[static_cast<size_t>(i)] ==
                       converted(text[static_cast<size_t>(i)], caseConv, slashConv),
                   "character %d differs", i);
    FUZZ_CHECK(buffer[static_cast<size_t>(copied)] == 0, "no terminator at %d", copied);
    return 0;
}
