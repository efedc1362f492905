// Formatted messages, written by us rather than by the runtime's printf family.
//
// The commands use a handful of conversions. mingw's own printf would link its whole formatting
// engine (floating point included) into every command, and msvcrt's drops the rest of the
// message when a %ls argument holds a character it cannot convert; glibc's %ls, in the start-up
// "C" locale, stops the whole message at the first non-ASCII character. Here a wide string is
// written character by character (a surrogate pair as one) in its narrow form (narrow.h: on
// Windows the process code page, on POSIX the bytes it was decoded from): the first character
// without one ends that argument, and the rest of the message is still written.
#include "platform.h"

#include "narrow.h"

#include <cstdarg>
#include <cstring>

namespace {

// Collects the message and hands it to the stream in one write (more only beyond its size).
struct Out {
    FILE* stream;
    size_t used;
    int total;
    char text[2048];

    void put(const char* s, size_t n) {
        while (n > 0) {
            if (used == sizeof text)
                flush();
            size_t take = n < sizeof text - used ? n : sizeof text - used;
            memcpy(text + used, s, take);
            used += take, s += take, n -= take;
            total += static_cast<int>(take);
        }
    }
    void flush() {
        fwrite(text, 1, used, stream);
        used = 0;
    }
};

void putUnsigned(Out& out, unsigned long long v, bool negative) {
    char digits[24];
    size_t n = 0;
    do {
        digits[sizeof digits - 1 - n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    if (negative)
        digits[sizeof digits - 1 - n++] = '-';
    out.put(digits + sizeof digits - n, n);
}

void putWide(Out& out, const wchar_t* ws) {
    if (!ws) {
        out.put("(null)", 6);
        return;
    }
    mbstate_t state{};
    for (; *ws; ++ws) {
        char bytes[kNarrowCharacterBytes];
        int n = narrowCharacter(*ws, bytes, state);
        if (n == 0)
            return; // like the runtime's %ls: the rest of this argument is dropped
        if (n > 0)
            out.put(bytes, static_cast<size_t>(n)); // else held for the next character
    }
}

} // namespace

int printMessage(FILE* stream, const char* format, ...) {
    Out out{stream, 0, 0, {}};
    va_list args;
    va_start(args, format);
    for (const char* f = format; *f; ++f) {
        if (*f != '%') {
            const char* run = f;
            while (f[1] && f[1] != '%')
                ++f;
            out.put(run, static_cast<size_t>(f - run + 1));
            continue;
        }
        ++f;
        if (*f == 's') {
            const char* s = va_arg(args, const char*);
            s = s ? s : "(null)";
            out.put(s, strlen(s));
        } else if (f[0] == 'l' && f[1] == 's') {
            ++f;
            putWide(out, va_arg(args, const wchar_t*));
        } else if (*f == 'd') {
            int v = va_arg(args, int);
            putUnsigned(out, v < 0 ? 0ull - static_cast<unsigned long long>(v) : v, v < 0);
        } else if (f[0] == 'l' && f[1] == 'u') {
            ++f;
            putUnsigned(out, va_arg(args, unsigned long), false);
        } else if (*f == 'c') {
            char c = static_cast<char>(va_arg(args, int));
            out.put(&c, 1);
        } else if (*f == '%') {
            out.put("%", 1);
        } else {
            break; // no other conversion is used; stop rather than misread the arguments
        }
    }
    va_end(args);
    out.flush();
    return out.total;
}
