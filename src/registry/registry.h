// Registry reads, key deletion and the system folders.
#pragma once

#include <windows.h>

struct RegistryKey {
    HKEY Handle;  // null while closed
};

// Fills WindowsDir, LocalProgramsFolder, CommonProgramsFolder and
// ProgramFilesDir of the setup state. False after the first failure.
bool LoadSystemFolders();

// The value as an owned string, or null (reported unless the value is
// missing and not required; the last error then stays ERROR_FILE_NOT_FOUND).
char* ReadRegistryString(HKEY root, const char* keyPath, const char* valueName, bool required);

bool OpenRegistryKey(RegistryKey* key, HKEY root, const char* keyPath);
// `buffer` holds 260 bytes.
bool QueryStringValue(RegistryKey* key, const char* valueName, char* buffer, bool required);
void CloseRegistryKey(RegistryKey* key);

// Deletes the key named by "HKLM\path" or "HKCU\path" (prefix in any case).
bool DeleteRegistryKey(const char* text);
