// buildJunctionRecord with fuzzed names and lengths. Each name is a heap block of exactly its Ls
// or Lt characters, so reading past them shows as an AddressSanitizer report. The record starts
// dirty; after the call the size must follow the formula (in UTF-16 units), the header and names
// must be laid out as the header says, and nothing beyond the size handed to the file system may
// be non-zero.
//
// Input: 2 bytes Ls, 2 bytes Lt (each below 600), then the characters of both names, 4 bytes each
// (any value: beyond U+FFFF a character takes two units).
#include "FuzzSupport.h"

#include "mountDir/mountDir.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

unsigned u16(const unsigned char* p) {
    return static_cast<unsigned>(p[0] | p[1] << 8);
}

// The UTF-16 units of name as the record holds them.
std::vector<unsigned> units(const std::vector<wchar_t>& name) {
    std::vector<unsigned> result;
    for (wchar_t w : name) {
        uint32_t c = static_cast<uint32_t>(w);
        if (c > 0xFFFF) {
            result.push_back((0xD800 + ((c - 0x10000) >> 10)) & 0xFFFF);
            result.push_back(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            result.push_back(c);
        }
    }
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4 || size > 8192)
        return -1;
    const size_t available = (size - 4) / 4;
    size_t ls = (data[0] | data[1] << 8) % 600;
    size_t lt = (data[2] | data[3] << 8) % 600;
    if (ls > available)
        ls = available;
    if (lt > available - ls)
        lt = available - ls;
    std::vector<wchar_t> substitute(ls), print(lt);
    for (size_t i = 0; i < ls + lt; ++i)
        memcpy(i < ls ? &substitute[i] : &print[i - ls], data + 4 + 4 * i, 4);

    unsigned char record[kJunctionRecordBytes];
    memset(record, 0xA5, sizeof record);
    const int result = buildJunctionRecord(record, substitute.data(), static_cast<int>(ls),
                                           print.data(), static_cast<int>(lt));

    const std::vector<unsigned> su = units(substitute), pu = units(print);
    const size_t needed = 16 + 2 * (su.size() + 1) + 2 * (pu.size() + 1);
    if (needed > kJunctionRecordBytes) {
        FUZZ_CHECK(result == 0, "names of %zu bytes do not fit, but the size is %d", needed,
                   result);
        return 0;
    }
    FUZZ_CHECK(result == static_cast<int>(2 * su.size() + 2 * pu.size() + 20),
               "size %d for %zu and %zu units", result, su.size(), pu.size());
    if (su.size() == ls && pu.size() == lt)
        FUZZ_CHECK(result == static_cast<int>(2 * ls + 2 * lt + 20), "size %d, Ls %zu, Lt %zu",
                   result, ls, lt);
    FUZZ_CHECK(u16(record) == 0x0003 && u16(record + 2) == 0xA000, "tag");
    FUZZ_CHECK(u16(record + 4) == static_cast<unsigned>(result - 8), "data length %u, size %d",
               u16(record + 4), result);
    FUZZ_CHECK(u16(record + 6) == 0, "reserved");
    FUZZ_CHECK(u16(record + 8) == 0 && u16(record + 10) == 2 * su.size(),
               "substitute name at %u+%u", u16(record + 8), u16(record + 10));
    FUZZ_CHECK(u16(record + 12) == 2 * (su.size() + 1) && u16(record + 14) == 2 * pu.size(),
               "print name at %u+%u", u16(record + 12), u16(record + 14));
    const unsigned char* names = record + 16;
    for (size_t i = 0; i <= su.size(); ++i)
        FUZZ_CHECK(u16(names + 2 * i) == (i < su.size() ? su[i] : 0), "substitute unit %zu", i);
    names += 2 * (su.size() + 1);
    for (size_t i = 0; i <= pu.size(); ++i)
        FUZZ_CHECK(u16(names + 2 * i) == (i < pu.size() ? pu[i] : 0), "print unit %zu", i);
    for (size_t i = static_cast<size_t>(result); i < sizeof record; ++i)
        FUZZ_CHECK(record[i] == 0, "byte %zu beyond the size %d is 0x%02x", i, result, record[i]);
    return 0;
}
