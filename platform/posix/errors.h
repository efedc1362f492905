// The last error of the layer, in Win32 numbers, and the translation of errno into them.
#pragma once

#include "winapi.h"

// The Win32 number for errno value err (one table, catch-all ERROR_GEN_FAILURE).
DWORD posixErrorNumber(int err);

// Sets the last error from err after a call on path failed. ENOENT becomes
// ERROR_PATH_NOT_FOUND when the parent of path is missing too, as Windows tells the two apart.
void posixSetLastError(int err, const char* path);
