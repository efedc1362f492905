#include "StringFnEnhancements.h"

int wcsnCopy(wchar_t* dest, uint64_t destCapacity, const wchar_t* source, int32_t sourceCount) {
    if (destCapacity == 0 || !dest)
        return 0;
    int32_t length = 0;
    if (source)
        while (source[length])
            ++length;
    int32_t n;
    if (sourceCount > length)
        n = length; // never read past the terminator
    else if (sourceCount >= 0)
        n = sourceCount;
    else
        n = length + sourceCount + 1;
    if (n > 0 && static_cast<uint64_t>(n) >= destCapacity)
        n = static_cast<int32_t>(destCapacity - 1);
    if (n < 0)
        n = 0;
    for (int32_t i = 0; i < n; ++i)
        dest[i] = source[i];
    dest[n] = 0;
    return n;
}
