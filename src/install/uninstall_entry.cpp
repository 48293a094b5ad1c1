#include "install/uninstall_entry.h"

#include "common/messages.h"
#include "common/setup_state.h"
#include "common/variables.h"
#include "log/install_log.h"

namespace {

const char UninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// UninstallString: the installed program in quotes (its path may hold
// blanks) and -u, as the Uninstall shortcut starts it.
bool FormatUninstallCommand(char* command, int size) {
    char program[PathBufferSize];
    if (!JoinPath(program, sizeof program, "%InstallDir%", Setup.ProgramName))
        return false;
    return CopyText(command, size, "\"") && AppendText(command, size, program) && AppendText(command, size, "\" -u");
}

bool SetTextValue(HKEY key, const char* name, const char* text) {
    LONG result = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), lstrlenA(text) + 1);
    SetLastError(result);
    return result == ERROR_SUCCESS;
}

void SetEntryValues(HKEY key, const char* path) {
    char command[PathBufferSize + 8];
    if (!FormatUninstallCommand(command, sizeof command))
        return;
    if (!SetTextValue(key, "DisplayName", Setup.AppName) || !SetTextValue(key, "DisplayVersion", Setup.AppVersion) ||
        !SetTextValue(key, "UninstallString", command))
        ReportWarning("Warning: cannot set the values of registry key HKLM\\%s (%s)", path, LastErrorText());
}

}  // namespace

bool UninstallKeyName(char* name) {
    CopyText(name, MessageBufferSize, Setup.AppName);
    bool whole = true;
    for (char* backslash = FindBackslash(name); backslash; backslash = FindBackslash(backslash + 1)) {
        *backslash = '_';
        whole = false;
    }
    return whole;
}

bool CreateUninstallEntry() {
    char name[MessageBufferSize];
    char path[sizeof UninstallKey + MessageBufferSize];
    UninstallKeyName(name);
    CopyText(path, sizeof path, UninstallKey);
    AppendText(path, sizeof path, name);
    HKEY key;
    DWORD disposition;
    LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                                  nullptr, &key, &disposition);
    if (result != ERROR_SUCCESS) {
        SetLastError(result);
        ReportWarning("Warning: cannot create registry key HKLM\\%s (%s)", path, LastErrorText());
        return true;
    }
    // Logged and saved the moment it exists, before it holds anything, so
    // that the rollback and the uninstall know it; a key that the log
    // cannot name is not left behind.
    bool created = disposition == REG_CREATED_NEW_KEY;
    bool logged = !created || LogEvent(CreateKeyEvent, "HKLM\\%s", path);
    bool saved = logged && (!created || SaveInstallLog());
    if (created && saved)
        SetEntryValues(key, path);
    RegCloseKey(key);
    if (!logged)
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, path);
    return saved;
}
