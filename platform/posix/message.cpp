// Formatted messages for POSIX. glibc's %ls converts through the locale and, in the start-up
// "C" locale, stops the whole message at the first non-ASCII character; here a wide path is
// written as the exact bytes it was decoded from instead.
#include "../platform.h"
#include "text.h"

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
            const wchar_t* ws = va_arg(args, const wchar_t*);
            if (!ws) {
                out.put("(null)", 6);
                continue;
            }
            for (; *ws; ++ws) {
                unsigned char bytes[4];
                int n = posixEncodeChar(*ws, bytes, Wide::Message);
                if (n == 0)
                    break; // like the runtime's %ls: the rest of this argument is dropped
                out.put(reinterpret_cast<const char*>(bytes), static_cast<size_t>(n));
            }
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
