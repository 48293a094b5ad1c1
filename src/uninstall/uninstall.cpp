#include "uninstall/uninstall.h"

#include "common/messages.h"

// The uninstaller is not part of this build yet.
bool RunUninstall(DWORD) {
    ReportError("Uninstall mode is not built yet");
    return false;
}
