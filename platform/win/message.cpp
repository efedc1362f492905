#include "../platform.h"

#include <cstdarg>

int printMessage(FILE* stream, const char* format, ...) {
    char text[2048];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n >= 0 && static_cast<size_t>(n) < sizeof text)
        return static_cast<int>(fwrite(text, 1, static_cast<size_t>(n), stream));
    // Longer than any message with a path: let the runtime write it directly.
    va_start(args, format);
    n = vfprintf(stream, format, args);
    va_end(args);
    return n;
}
