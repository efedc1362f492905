// The one place where narrow bytes and wide characters meet on POSIX.
//
// Narrow text is UTF-8. A byte that is not part of a valid sequence becomes U+DC00 + byte
// (U+DC80..U+DCFF), and converts back to that byte, so any file name survives both ways. U+F05C
// stands for a backslash inside a name: a name read from a directory escapes the valid encoding
// of U+F05C like an invalid byte, while other text (arguments, a final path) takes it as U+F05C,
// which is how the final path keeps a backslash of a name apart from a separator.
#pragma once

#include <cstddef>

constexpr wchar_t kNameBackslash = 0xF05C;
// How the name of a link that the layer makes under a temporary name, before it takes its place,
// begins; the process id follows.
constexpr char kTemporaryLinkPrefix[] = ".junction-";
// A wide path of MAX_PATH characters needs at most 4 bytes each as UTF-8.
constexpr size_t kPosixPathBytes = 4 * 260;

enum class Narrow {
    Argument, // a backslash stays a backslash (a separator to the commands)
    Name,     // a backslash inside a name becomes U+F05C
};

// Decodes len bytes of src (len < 0: up to and with its terminator) into dst. Returns the number
// of wide characters written, or needed when dst is null; -1 when cap is too small.
int posixDecode(const char* src, int len, wchar_t* dst, int cap, Narrow kind);

enum class Wide {
    Path,    // for the file system: a backslash becomes "/"
    Message, // for a message: a backslash stays
};

// The bytes of one wide character into out; 0 when it has none (a surrogate other than an
// escape, or beyond U+10FFFF).
int posixEncodeChar(wchar_t c, unsigned char (&out)[4], Wide kind);

// Encodes the zero-terminated src into dst with a terminator and returns the bytes written
// without it. At a character with no byte form (a surrogate other than an escape, or beyond
// U+10FFFF) it stops, terminates and returns -1 - bytes written so far.
int posixEncode(const wchar_t* src, char* dst, size_t cap, Wide kind);

// The length of the parent of path[0..length) in the file system's bytes ("/" the only
// separator): the last name and the separators before it go, a leading "/" stays.
size_t posixParentLength(const char* path, size_t length);

// A wide path for the file system calls: false when a character has no byte form.
bool posixPath(const wchar_t* path, char (&out)[kPosixPathBytes + 1]);
