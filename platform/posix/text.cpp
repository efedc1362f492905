#include "text.h"

#include "../narrow.h"

#include "errors.h"
#include "winapi.h"

#include <cstring>

namespace {

constexpr wchar_t kEscapeBase = 0xDC00;

// Length of the valid UTF-8 sequence at s (up to end), or 0 when s[0] starts none.
int sequenceLength(const unsigned char* s, const unsigned char* end, wchar_t* out, Narrow kind) {
    unsigned char b = s[0];
    if (b < 0x80) {
        *out = b;
        return 1;
    }
    int n;
    wchar_t c, min;
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2, c = b & 0x1F, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3, c = b & 0x0F, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4, c = b & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (end - s < n)
        return 0;
    for (int i = 1; i < n; ++i) {
        if ((s[i] & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (s[i] & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    if (c == kNameBackslash && kind == Narrow::Name)
        return 0;
    *out = c;
    return n;
}

} // namespace

int posixDecode(const char* src, int len, wchar_t* dst, int cap, Narrow kind) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(src);
    size_t total = len < 0 ? __builtin_strlen(src) + 1 : static_cast<size_t>(len);
    const unsigned char* end = s + total;
    int written = 0;
    while (s < end) {
        if (*s < 0x80 && *s != '\\' && (!dst || written < cap)) { // ASCII, by far the most common
            if (dst)
                dst[written] = *s;
            ++written;
            ++s;
            continue;
        }
        wchar_t c;
        int n = sequenceLength(s, end, &c, kind);
        if (n == 0) {
            c = kEscapeBase + *s;
            n = 1;
        } else if (c == L'\\' && kind == Narrow::Name) {
            c = kNameBackslash;
        }
        if (dst) {
            if (written >= cap)
                return -1;
            dst[written] = c;
        }
        ++written;
        s += n;
    }
    return written;
}

int posixEncodeChar(wchar_t wc, unsigned char (&out)[4], Wide kind) {
    unsigned long c = static_cast<unsigned long>(wc);
    if (c >= 0xDC80 && c <= 0xDCFF) {
        out[0] = static_cast<unsigned char>(c - kEscapeBase);
        return 1;
    }
    if (c == static_cast<unsigned long>(kNameBackslash)) {
        out[0] = '\\';
        return 1;
    }
    if (c == '\\' && kind == Wide::Path) {
        out[0] = '/';
        return 1;
    }
    if (c < 0x80) {
        out[0] = static_cast<unsigned char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
        out[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000 && (c < 0xD800 || c > 0xDFFF)) {
        out[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
        out[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        return 3;
    }
    if (c >= 0x10000 && c <= 0x10FFFF) {
        out[0] = static_cast<unsigned char>(0xF0 | (c >> 18));
        out[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        out[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        return 4;
    }
    return 0;
}

int posixEncode(const wchar_t* src, char* dst, size_t cap, Wide kind) {
    size_t used = 0;
    int result = 0;
    for (; *src; ++src) {
        if (*src > 0 && *src < 0x80 && *src != L'\\' && used + 1 < cap) {
            dst[used++] = static_cast<char>(*src); // ASCII, by far the most common
            result = static_cast<int>(used);
            continue;
        }
        unsigned char bytes[4];
        int n = posixEncodeChar(*src, bytes, kind);
        if (n == 0 || used + static_cast<size_t>(n) >= cap) {
            result = -1 - static_cast<int>(used);
            break;
        }
        for (int i = 0; i < n; ++i)
            dst[used++] = static_cast<char>(bytes[i]);
        result = static_cast<int>(used);
    }
    if (cap > 0)
        dst[used < cap ? used : cap - 1] = 0;
    return result;
}

namespace {

bool isDotComponent(const char* c) {
    return c[0] == '.' && (c[1] == 0 || c[1] == '/' || (c[1] == '.' && (c[2] == 0 || c[2] == '/')));
}

bool hasDotComponent(const char* path) {
    for (const char* c = path; *c; ++c)
        if ((c == path || c[-1] == '/') && isDotComponent(c))
            return true;
    return false;
}

// Removes "." and ".." components by text, as Windows does before the file system sees a path:
// "t/lnk/.." is "t" whatever "lnk" is, where the kernel would climb from the link's target.
// ".." never climbs above the root and stays at the start of a relative path; runs of separators
// between components become one; a trailing separator stays.
void removeDotComponents(char* path) {
    if (!hasDotComponent(path))
        return;
    char* out = path;
    while (*out == '/')
        ++out; // the root, as given
    char* const start = out;
    const char* in = out;
    bool trailing = false;
    while (*in) {
        const char* name = in;
        while (*in && *in != '/')
            ++in;
        size_t n = static_cast<size_t>(in - name);
        trailing = *in == '/';
        while (*in == '/')
            ++in;
        if (n == 1 && name[0] == '.')
            continue;
        if (n == 2 && name[0] == '.' && name[1] == '.') {
            char* last = out;
            while (last > start && last[-1] != '/')
                --last; // the component written last
            bool climbable = last < out && !(out - last == 2 && last[0] == '.' && last[1] == '.');
            if (climbable) {
                out = last > start ? last - 1 : start;
                continue;
            }
            if (start > path)
                continue; // above the root is the root
        }
        if (out > start)
            *out++ = '/';
        memmove(out, name, n);
        out += n;
    }
    if (out == start && start == path)
        *out++ = '.'; // a relative path that climbed back to where it began
    if (trailing && out > path && out[-1] != '/')
        *out++ = '/';
    *out = 0;
}

} // namespace

size_t posixParentLength(const char* path, size_t length) {
    while (length > 0 && path[length - 1] == '/')
        --length;
    while (length > 0 && path[length - 1] != '/')
        --length;
    while (length > 1 && path[length - 1] == '/')
        --length;
    return length;
}

bool posixPath(const wchar_t* path, char (&out)[kPosixPathBytes + 1]) {
    if (posixEncode(path, out, sizeof out, Wide::Path) < 0)
        return false;
    removeDotComponents(out);
    return true;
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int cbMultiByte,
                        LPWSTR wideChar, int cchWideChar) {
    if (codePage != CP_ACP || flags != 0 || !multiByte || cbMultiByte == 0 || cchWideChar < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int n = posixDecode(multiByte, cbMultiByte, cchWideChar ? wideChar : nullptr, cchWideChar,
                        Narrow::Argument);
    if (n < 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return n;
}

// Messages name paths as the exact bytes they were decoded from, whatever the locale.
int narrowCharacter(wchar_t c, char (&out)[kNarrowCharacterBytes], mbstate_t&) {
    unsigned char bytes[4];
    int n = posixEncodeChar(c, bytes, Wide::Message);
    for (int i = 0; i < n; ++i)
        out[i] = static_cast<char>(bytes[i]);
    return n;
}
