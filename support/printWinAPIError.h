// The English report of a platform error number on standard error.
#pragma once

// Writes one line to standard error: prefix, ", ", the message of errorCode, ": ", faultyPath
// and a line end; for a number without a message of its own, the number and the address of the
// platform's page of error codes that lists that number (or of the list of those pages, for a
// number outside all of them). errorCode 0 writes nothing.
void printWinAPIError(int errorCode, const wchar_t* faultyPath, const char* prefix);
