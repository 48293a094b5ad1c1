// Deletion at the next restart, temporary files, and the restart itself.
#pragma once

#include <windows.h>

// Queues `path` for deletion when Windows next starts: on NT by the system's
// delayed file operations, on Windows 9x by an entry "NUL=<short path>" in
// the [Rename] section of wininit.ini. Reports nothing when the system
// refuses (the last error tells why); a full [Rename] section is reported.
bool DeleteOnRestart(const char* path);

// Windows 9x: appends "destination=source" to [Rename] of wininit.ini (in the
// Windows directory), both in short (8.3) form, behind the entries already
// there. The destination "NUL" (delete the source) is written as it is; any
// other name must exist, like the source, to have a short form. An entry
// that does not fit in the 32,767 characters of the section is refused with
// a message (the last error is then ERROR_INSUFFICIENT_BUFFER).
bool AddRenameEntry(const char* destination, const char* source);

// The temporary directory without a trailing backslash (C:\TEMP\ gives
// C:\TEMP, C:\ gives C:) in `buffer` of `size` bytes.
bool GetTempDir(char* buffer, int size);

// Creates a new empty file "TMP%04X.<extension>" in the temporary directory,
// open for writing and shared with nobody; its full path goes to `buffer` of
// `size` bytes. Numbers come from NextTempNumber, seeded with the tick
// count. INVALID_HANDLE_VALUE on failure (reported). The caller closes it.
HANDLE CreateTempFile(char* buffer, int size, const char* extension);

// The same in `directory`, with the numbers that follow the current
// TempNameSeed. A name that exists makes it try the next number; when all
// 32,768 names exist it stops with a message.
HANDLE CreateNumberedFile(char* buffer, int size, const char* directory, const char* extension);

// State of the temporary-name generator; CreateTempFile sets it to the tick
// count.
extern DWORD TempNameSeed;

// The next number of the generator: 0 to 0x7FFF.
int NextTempNumber();

// Restarts Windows; a refusal is shown to the user.
void RestartWindows();
