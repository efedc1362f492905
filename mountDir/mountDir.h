// Directory junctions made idempotently.
#pragma once

constexpr int kJunctionRecordBytes = 1088;

// Fills record with the mount-point reparse record for substituteName ("\??\" and the full
// target path, Ls characters) and printName (the full target path, Lt characters): all little
// endian, the names in UTF-16 with their terminators. Returns the number of bytes to hand to the
// file system (2·Ls + 2·Lt + 20), or 0 when the names do not fit into the record (only possible
// where a character needs two UTF-16 units).
int buildJunctionRecord(unsigned char (&record)[kJunctionRecordBytes],
                        const wchar_t* substituteName, int Ls, const wchar_t* printName, int Lt);

// Makes fullLinkPath a junction to fullTargetPath: creates the link directory (one already there
// is fine), opens it, sets the record, closes it. When opening or setting fails, a link
// directory that this call created is removed again (only while it is an empty ordinary
// directory; one it cannot remove is named in a second line). Reports on standard error;
// returns 0 set, 3 the link directory cannot be created, 1 it cannot be opened or the record
// cannot be set.
int createJunction(const wchar_t* fullLinkPath, const wchar_t* substituteName, int Ls,
                   const wchar_t* fullTargetPath, int Lt);

// The mountDir command: argv[1] the link path, argv[2] the target path, then option letters
// F (force), L (link), T (target). Returns the exit code, 0 to 9.
int mountDirCmd(int argc, char** argv);
