// Creating, emptying and removing directory trees without following the links inside them.
//
// Each operation returns 0 or a platform error number and, on failure, copies the one path
// concerned into the caller's faulty-path buffer (when it is not null). They print nothing.
// Numbers chosen here rather than taken from the platform: 2 (a path to remove or an
// enumeration that cannot be opened), 15 (nothing of the path exists), 80 (a file stands at the
// path), 206 (a path does not fit into 260 characters), 267 (not a directory) and 8347 (more
// than 50 missing levels).
#pragma once

// The number createDir returns when more than 50 levels are missing.
constexpr int kMoreThan50MissingLevels = 8347;

// Makes the directory at path with every missing parent (at most 50 levels). With replaceFile
// set, a file or file link standing at path is deleted first. A directory or directory link
// already there is success.
int createDir(const wchar_t* path, int replaceFile, wchar_t* faultyPath, int faultyPathCapacity);

// Deletes what is inside the directory at path; links inside are removed, never followed. With
// keepDirs set, only files and file links go. A link given as path is entered.
int cleanDirContent(const wchar_t* path, int keepDirs, wchar_t* faultyPath, int faultyPathCapacity);

// Empties the directory at path as cleanDirContent does, then (keepDirs clear) removes it.
int removeDirTree(const wchar_t* path, int keepDirs, wchar_t* faultyPath, int faultyPathCapacity);

// createDir, then cleanDirContent on the same path.
int createCleanDir(const wchar_t* path, int replaceFile, int keepDirs, wchar_t* faultyPath,
                   int faultyPathCapacity);

// The prepFolder command: argv[1] the directory, argv[2] optionally "-D". Returns the exit code:
// 0 prepared (or usage shown), 1 the preparation failed, 2 an argument error.
int createCleanDirCmd(int argc, char** argv);
