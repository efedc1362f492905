// Wide-string helpers beside the standard library's.
#pragma once

#include <cstdint>

// Bounded copy of a wide string. sourceCount from 0 up to the length of source takes that many
// characters from its start; a negative sourceCount takes the whole source less
// (-sourceCount - 1) characters at its end (-1: all of it). A count beyond the source's length
// takes the whole source. At most destCapacity - 1 characters are copied and dest is always
// terminated, unless dest is null or destCapacity is 0, when nothing is written. A null source
// counts as empty. Returns the number of characters copied (the position of the terminator).
int wcsnCopy(wchar_t* dest, uint64_t destCapacity, const wchar_t* source, int32_t sourceCount);
