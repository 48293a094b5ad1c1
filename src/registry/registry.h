// Registry reads, key deletion and the system folders.
#pragma once

#include <windows.h>

// Fills WindowsDir, LocalProgramsFolder, CommonProgramsFolder and
// ProgramFilesDir of the setup state. False after the first failure.
bool LoadSystemFolders();

// Deletes the key named by "HKLM\path" or "HKCU\path" (prefix in any case).
bool DeleteRegistryKey(const char* text);
