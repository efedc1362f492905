// Where a path really leads: its final path with every link and junction on the way resolved.
#pragma once

// Opens path (links followed), reads the final path of what it reaches and drops the "\\?\"
// prefix. Read mode (compareFlag 0) writes it into pathBuf (size characters), converted:
// caseConv 'a' lowers and 'A' raises ASCII letters, slashConv '/' turns backslashes into
// slashes. Compare mode (compareFlag set) compares it with the zero-terminated pathBuf instead,
// which is only read: a backslash of the final path is matched by a backslash, or by a slash
// when slashConv is '/'; ASCII letters match without regard to case where the platform's paths
// do (kPathLettersIgnoreCase), and only when equal elsewhere.
// Returns 0 (read: pathBuf complete; compare: equal), 1 (compare: different), 2 (no final path,
// or one that is no absolute path (isAbsoluteFinalPath), or longer than 259 bytes, or not given
// whole by the platform (narrowTextIsWhole: on Windows a character its code page lacks), or longer
// than size - 1 characters; read mode then leaves the first size - 1 characters, terminated), 3
// (path cannot be opened), 6 (a conversion letter other than 0, 'a', 'A' / 0, '/', before any
// file-system access). After 2 and 3 the platform's last error tells why.
int readCmpLink(const wchar_t* path, wchar_t* pathBuf, int size, int compareFlag, char caseConv,
                char slashConv);

// The walk of readCmpLink over the platform's final path text (without prefix), on its own.
int walkFinalPath(const char* finalPath, wchar_t* pathBuf, int size, int compareFlag, char caseConv,
                  char slashConv);

// The finalName command: prints the final path of argv[1], converted by the option letters a, A
// and /, with no line end. Returns 0, 6 (path too long), 8 (option error), or 3 or 2 when the
// path cannot be resolved (readCmpLink's result, reported on standard error).
int finalName_cmd(int argc, char** argv);
