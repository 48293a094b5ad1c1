#include "uninstall/deferred.h"

#include "common/messages.h"
#include "common/setup_state.h"

namespace {

// NT lets a process restart the system only with the shutdown privilege
// enabled. Any failure here is silent: the restart is asked for anyway.
void EnableShutdownPrivilege() {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return;
    TOKEN_PRIVILEGES privileges;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid))
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    CloseHandle(token);
}

}  // namespace

void RestartWindows() {
    if (Setup.IsWindowsNT)
        EnableShutdownPrivilege();
    if (!ExitWindowsEx(EWX_REBOOT, 0))
        ShowMessageBox(nullptr, "Cannot restart Windows automatically. Please do it manually.", "Setup",
                       MB_ICONWARNING);
}
