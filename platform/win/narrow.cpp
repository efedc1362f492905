// Windows: the process code page (CP_ACP), the one the arguments arrive in and the narrow
// final-path call writes, so that a path a command prints can be handed back to any command.
// Under the commands' manifest that is UTF-8; older Windows keeps the ANSI code page.
#include "../narrow.h"

#include <windows.h>

#include <cstring>

static_assert(sizeof(mbstate_t) >= sizeof(wchar_t));

namespace {

bool isHighSurrogate(wchar_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

bool isLowSurrogate(wchar_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// The bytes of one character (one UTF-16 unit, or a surrogate pair) in the process code page, or
// 0 when it has no form there. UTF-8 has one for every character but a lone surrogate; another
// code page must neither put its default character nor a "best fit" look-alike, either of which
// would name another path.
int encode(const wchar_t* units, int count, char (&out)[kNarrowCharacterBytes]) {
    if (GetACP() == CP_UTF8)
        return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, units, count, out, sizeof out,
                                   nullptr, nullptr);
    BOOL usedDefault = FALSE;
    int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, units, count, out, sizeof out,
                                nullptr, &usedDefault);
    return usedDefault ? 0 : n;
}

} // namespace

int narrowCharacter(wchar_t c, char (&out)[kNarrowCharacterBytes], mbstate_t& state) {
    wchar_t pending; // the first half of a pair, kept in the state's first bytes (0: none)
    memcpy(&pending, &state, sizeof pending);
    if (pending != 0) {
        memset(&state, 0, sizeof state);
        const wchar_t pair[2] = {pending, c};
        return isLowSurrogate(c) ? encode(pair, 2, out) : 0; // a lone first half ends here
    }
    if (static_cast<unsigned>(c) < 0x80) { // ASCII is itself in every Windows code page
        out[0] = static_cast<char>(c);
        return 1;
    }
    if (isHighSurrogate(c)) {
        memcpy(&state, &c, sizeof c);
        return -1;
    }
    return encode(&c, 1, out);
}
