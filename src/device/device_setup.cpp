#include "device/device_setup.h"

#include "common/messages.h"
#include "common/setup_state.h"
#include "device/device_removal.h"
#include "device/device_types.h"
#include "device/devmgr16_bridge.h"
#include "device/driver_lists.h"
#include "install/dialogs.h"

namespace {

const char ProgressSuffix[] = " device driver...";

// The progress text "<verb> <name> device driver..." fills at most
// MessageBufferSize bytes. A name that does not fit is refused before
// anything is done: a cut name would show another device.
bool NameFitsProgress(const char* verb, const char* deviceName) {
    int room = MessageBufferSize - 1 - lstrlenA(verb) - 1 - (sizeof ProgressSuffix - 1);
    int length = lstrlenA(deviceName);
    if (length <= room)
        return true;
    ReportError("Device name is too long (%d characters, at most %d): %s", length, room, deviceName);
    return false;
}

// "Installing <name> device driver..." or "Removing ...", into `text` of
// MessageBufferSize bytes.
bool FormatProgressText(char* text, bool install, const char* deviceName) {
    const char* verb = install ? "Installing" : "Removing";
    if (!NameFitsProgress(verb, deviceName))
        return false;
    wsprintfA(text, "%s %s%s", verb, deviceName, ProgressSuffix);
    return true;
}

// The 16-bit device manager takes the INF path in its short form.
bool InstallThroughDeviceManager16(const char* deviceName, const char* infPath) {
    char shortPath[PathBufferSize];
    if (!TextFits(GetShortPathNameA(infPath, shortPath, sizeof shortPath), sizeof shortPath)) {
        ReportError("Cannot get short path for %s (%s)", infPath, LastErrorText());
        return false;
    }
    return CallDeviceManager16(true, deviceName, shortPath);
}

bool InstallDevice(const char* deviceName, const char* infFile) {
    OFSTRUCT inf;
    if (!LocateInfFile(infFile, &inf))
        return false;
    if (Setup.IsWindowsNT)
        return InstallDriverNT(deviceName, inf.szPathName);
    return InstallThroughDeviceManager16(deviceName, inf.szPathName);
}

bool RemoveDevice(const char* deviceName, const char* typeText) {
    // On NT a faulty type text has been reported by the parser; the driver is
    // still removed, with no type slots to clear. Windows 9x keeps its own
    // account of the device and gets no type text and no INF path.
    if (Setup.IsWindowsNT)
        return RemoveDeviceNT(deviceName, ParseDeviceTypes(typeText));
    return CallDeviceManager16(false, deviceName, "");
}

}  // namespace

bool LocateInfFile(const char* name, OFSTRUCT* found) {
    found->cBytes = sizeof *found;
    if (OpenFile(name, found, OF_EXIST) == HFILE_ERROR) {
        // OpenFile keeps its own account of why.
        SetLastError(found->nErrCode);
        ReportError("Device INF file (%s) not found (%s)", name, LastErrorText());
        return false;
    }
    return true;
}

bool DeviceNameFits(const char* deviceName) {
    return NameFitsProgress("Installing", deviceName);
}

bool SetupDevice(bool install, const char* deviceName, const char* thirdText) {
    char progress[MessageBufferSize];
    if (!FormatProgressText(progress, install, deviceName))
        return false;
    // Every message of the device work is shown while the notice is up.
    ShowProgress(progress);
    bool result = install ? InstallDevice(deviceName, thirdText) : RemoveDevice(deviceName, thirdText);
    HideProgress();
    return result;
}
