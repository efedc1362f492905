// wcsnCopy with fuzzed capacity, count and source. The destination is a heap block with canary
// characters after the capacity (or after the most a copy of the source can take, for a capacity
// too large to allocate), so a write at or past the capacity shows as a changed canary, and one
// past the block as an AddressSanitizer report.
//
// Input: 8 bytes capacity (small unless the top byte says otherwise), 4 bytes sourceCount, one
// byte of flags (1 null destination, 2 null source), then the source as 4-byte characters.
#include "FuzzSupport.h"

#include "support/StringFnEnhancements.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr wchar_t kCanary = static_cast<wchar_t>(0x5A5A5A5A);
constexpr size_t kCanaries = 8;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 13 || size > 4096)
        return -1;
    uint64_t capacity;
    int32_t sourceCount;
    memcpy(&capacity, data, 8);
    memcpy(&sourceCount, data + 8, 4);
    if ((capacity >> 56) != 0xFF)
        capacity %= 300; // mostly capacities around the source's length
    const bool nullDest = data[12] & 1;
    const bool nullSource = data[12] & 2;
    std::vector<wchar_t> source((size - 13) / 4 + 1, 0);
    for (size_t i = 0; i + 1 < source.size(); ++i)
        memcpy(&source[i], data + 13 + 4 * i, 4);
    const wchar_t* src = nullSource ? nullptr : source.data();
    int64_t length = 0;
    while (src && src[length])
        ++length;

    // A copy writes at most length + 1 characters; more than that need not exist.
    const size_t usable = capacity < static_cast<uint64_t>(length) + 1
                              ? static_cast<size_t>(capacity)
                              : static_cast<size_t>(length) + 1;
    std::vector<wchar_t> block(usable + kCanaries, kCanary);
    wchar_t* dest = nullDest ? nullptr : block.data();

    int result = wcsnCopy(dest, capacity, src, sourceCount);

    // The header's count: 0..length from the start, more is all, negative drops from the end.
    int64_t wanted;
    if (sourceCount >= 0)
        wanted = sourceCount > length ? length : sourceCount;
    else
        wanted = length + sourceCount + 1 < 0 ? 0 : length + sourceCount + 1;
    if (capacity > 0 && static_cast<uint64_t>(wanted) > capacity - 1)
        wanted = static_cast<int64_t>(capacity - 1);

    if (!dest || capacity == 0) {
        FUZZ_CHECK(result == 0, "nothing to write into, but returned %d", result);
        for (size_t i = 0; i < block.size(); ++i)
            FUZZ_CHECK(block[i] == kCanary, "wrote at %zu without a destination", i);
        return 0;
    }
    for (size_t i = usable; i < block.size(); ++i)
        FUZZ_CHECK(block[i] == kCanary, "wrote at %zu, capacity %llu", i,
                   static_cast<unsigned long long>(capacity));
    FUZZ_CHECK(result == wanted, "returned %d, expected %lld (length %lld, count %d)", result,
               static_cast<long long>(wanted), static_cast<long long>(length), sourceCount);
    FUZZ_CHECK(block[static_cast<size_t>(result)] == 0, "no terminator at %d", result);
    for (int i = 0; i < result; ++i)
        FUZZ_CHECK(block[static_cast<size_t>(i)] == src[i], "character %d differs", i);
    return 0;
}
