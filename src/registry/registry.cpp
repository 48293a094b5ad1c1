#include "registry/registry.h"

#include "common/messages.h"
#include "common/setup_state.h"

namespace {

struct RegistryKey {
    HKEY Handle;  // null while closed
};

bool OpenRegistryKey(RegistryKey* key, HKEY root, const char* keyPath) {
    LONG result = RegOpenKeyA(root, keyPath, &key->Handle);
    SetLastError(result);
    if (result != ERROR_SUCCESS) {
        key->Handle = nullptr;
        ReportError("Cannot open registry key \"%s\" (%s)", keyPath, LastErrorText());
        SetLastError(result);  // kept for the caller, whatever the box did
        return false;
    }
    return true;
}

// Reports a value that cannot be used and leaves `error` as the last error,
// whatever the box did: the caller tells a missing value by it.
bool RefuseValue(const char* format, const char* valueName, DWORD error) {
    SetLastError(error);
    ReportError(format, valueName, LastErrorText());
    SetLastError(error);
    return false;
}

// `buffer` holds 260 bytes.
bool QueryStringValue(RegistryKey* key, const char* valueName, char* buffer, bool required) {
    DWORD type = 0;
    DWORD size = PathBufferSize;
    LONG result = RegQueryValueExA(key->Handle, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    SetLastError(result);
    if (result == ERROR_SUCCESS) {
        if (type != REG_SZ)
            return RefuseValue("Registry value \"%s\" hasn't string type", valueName, result);
        // A stored string need not end in NUL; the buffer must.
        if (size == 0 || buffer[size - 1] != '\0') {
            if (size >= PathBufferSize)
                return RefuseValue("Cannot query registry value \"%s\" (%s)", valueName, ERROR_MORE_DATA);
            buffer[size] = '\0';
        }
        return true;
    }
    if (result == ERROR_FILE_NOT_FOUND && !required)
        return false;
    return RefuseValue("Cannot query registry value \"%s\" (%s)", valueName, result);
}

void CloseRegistryKey(RegistryKey* key) {
    if (key->Handle) {
        RegCloseKey(key->Handle);
        key->Handle = nullptr;
    }
}

// The value as an owned string, or null (reported unless the value is
// missing and not required; the last error then stays ERROR_FILE_NOT_FOUND).
char* ReadRegistryString(HKEY root, const char* keyPath, const char* valueName, bool required) {
    RegistryKey key = {nullptr};
    if (!OpenRegistryKey(&key, root, keyPath))
        return nullptr;
    char value[PathBufferSize];
    bool found = QueryStringValue(&key, valueName, value, required);
    DWORD error = GetLastError();
    CloseRegistryKey(&key);
    SetLastError(error);  // the caller tells a missing value by it
    return found ? DuplicateString(value) : nullptr;
}

const char ShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char CurrentVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";

bool LoadWindowsDir() {
    char path[PathBufferSize];
    if (!TextFits(GetWindowsDirectoryA(path, sizeof path), sizeof path)) {
        ReportError("Cannot get Windows directory (%s)", LastErrorText());
        return false;
    }
    Setup.WindowsDir = DuplicateString(path);
    return Setup.WindowsDir != nullptr;
}

// The all-users folder falls back to the user's own when its value or its
// whole key is missing (a missing key has been reported; the user's folder
// still serves). Any other failure has been reported and stops start-up.
bool LoadCommonProgramsFolder() {
    Setup.CommonProgramsFolder = ReadRegistryString(HKEY_LOCAL_MACHINE, ShellFoldersKey, "Common Programs", false);
    if (Setup.CommonProgramsFolder)
        return true;
    if (GetLastError() != ERROR_FILE_NOT_FOUND)
        return false;
    Setup.CommonProgramsFolder = DuplicateString(Setup.LocalProgramsFolder);
    return Setup.CommonProgramsFolder != nullptr;
}

}  // namespace

bool LoadSystemFolders() {
    if (!LoadWindowsDir())
        return false;
    Setup.LocalProgramsFolder = ReadRegistryString(HKEY_CURRENT_USER, ShellFoldersKey, "Programs", true);
    if (!Setup.LocalProgramsFolder || !LoadCommonProgramsFolder())
        return false;
    Setup.ProgramFilesDir = ReadRegistryString(HKEY_LOCAL_MACHINE, CurrentVersionKey, "ProgramFilesDir", true);
    return Setup.ProgramFilesDir != nullptr;
}

bool DeleteRegistryKey(const char* text) {
    LONG result = ERROR_FILE_NOT_FOUND;
    if (CompareNoCase(text, "HKLM\\", 5) == 0)
        result = RegDeleteKeyA(HKEY_LOCAL_MACHINE, text + 5);
    else if (CompareNoCase(text, "HKCU\\", 5) == 0)
        result = RegDeleteKeyA(HKEY_CURRENT_USER, text + 5);
    if (result == ERROR_SUCCESS)
        return true;
    SetLastError(result);
    ReportError("Cannot delete key %s (%s)", text, LastErrorText());
    return false;
}
