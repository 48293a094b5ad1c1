// Deletion at the next restart, temporary files, and the restart itself.
#pragma once

#include <windows.h>

// Queues `path` for deletion when Windows next starts: on NT by the system's
// delayed file operations, on Windows 9x by an entry "NUL=<short path>" in
// the [Rename] section of wininit.ini. Reports nothing when the system
// refuses (the last error tells why); a full [Rename] section is reported.
bool DeleteOnRestart(const char* path);

// The temporary directory without a trailing backslash (C:\TEMP\ gives
// C:\TEMP, C:\ gives C:) in `buffer` of `size` bytes.
bool GetTempDir(char* buffer, int size);

// Creates a new empty file "TMP%04X.<extension>" in the temporary directory,
// open for writing and shared with nobody; its full path goes to `buffer` of
// `size` bytes. Numbers come from NextTempNumber, seeded with the tick
// count. INVALID_HANDLE_VALUE on failure (reported). The caller closes it.
HANDLE CreateTempFile(char* buffer, int size, const char* extension);

// Restarts Windows; a refusal is shown to the user.
void RestartWindows();
