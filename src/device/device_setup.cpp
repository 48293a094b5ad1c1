#include "device/device_setup.h"

#include "common/messages.h"

// Multimedia device support is not part of this build yet.
bool SetupDevice(bool, const char*, const char*) {
    ReportError("Multimedia devices are not supported by this version of Setup");
    return false;
}
