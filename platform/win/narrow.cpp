// Windows: the runtime's own conversion, wcrtomb, in the runtime's locale (the "C" locale unless
// the program changes it, in which characters up to 0xFF are written as that byte).
#include "../narrow.h"

#include <climits>
#include <cwchar>

static_assert(MB_LEN_MAX <= kNarrowCharacterBytes);

int narrowCharacter(wchar_t c, char (&out)[kNarrowCharacterBytes], mbstate_t& state) {
    size_t n = wcrtomb(out, c, &state);
    return n == static_cast<size_t>(-1) ? 0 : static_cast<int>(n);
}
