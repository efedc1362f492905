#include "support/StringFnEnhancements.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr wchar_t kCanary = L'#';

struct CopyCase {
    const wchar_t* source;
    uint64_t capacity;
    int32_t count;
    const wchar_t* expected; // nullptr: nothing written at all
    int result;
};

// The buffer is filled with canaries first, so that a write past capacity or a missing
// terminator shows.
TEST(WcsnCopy, CopiesTheCountedPartWithinCapacity) {
    const CopyCase cases[] = {
        {L"abc", 260, -1, L"abc", 3}, {L"abc", 260, -2, L"ab", 2},  {L"abc", 260, -4, L"", 0},
        {L"abc", 260, -5, L"", 0},    {L"abc", 260, -1000, L"", 0}, {L"abc", 260, 0, L"", 0},
        {L"abc", 260, 2, L"ab", 2},   {L"abc", 260, 3, L"abc", 3},  {L"abc", 3, -1, L"ab", 2},
        {L"abc", 4, -1, L"abc", 3},   {L"abc", 2, -1, L"a", 1},     {L"abc", 1, -1, L"", 0},
        {L"abc", 1, 3, L"", 0},       {nullptr, 260, -1, L"", 0},   {L"abc", 260, 7, L"abc", 3},
        {nullptr, 260, 5, L"", 0},    {L"abc", 0, -1, nullptr, 0},
    };
    for (size_t row = 0; row < sizeof cases / sizeof cases[0]; ++row) {
        const CopyCase& c = cases[row];
        wchar_t dest[8];
        std::wmemset(dest, kCanary, 8);
        int result = wcsnCopy(dest, c.capacity, c.source, c.count);
        EXPECT_EQ(c.result, result) << "row " << row;
        if (!c.expected) {
            EXPECT_EQ(kCanary, dest[0]) << "row " << row;
            continue;
        }
        EXPECT_EQ(std::wstring(c.expected), std::wstring(dest)) << "row " << row;
        size_t used = std::wcslen(c.expected) + 1;
        for (size_t i = used; i < 8; ++i)
            EXPECT_EQ(kCanary, dest[i]) << "row " << row << " position " << i;
    }
}

TEST(WcsnCopy, NullDestinationWritesNothing) {
    EXPECT_EQ(0, wcsnCopy(nullptr, 260, L"abc", -1));
}

TEST(WcsnCopy, LongPathKeepsItsFirst259Characters) {
    std::wstring path(300, L'p');
    path[258] = L'x';
    path[259] = L'y';
    wchar_t buffer[261];
    buffer[260] = kCanary;
    EXPECT_EQ(259, wcsnCopy(buffer, 260, path.c_str(), -1));
    EXPECT_EQ(path.substr(0, 259), std::wstring(buffer));
    EXPECT_EQ(kCanary, buffer[260]);
}

} // namespace
