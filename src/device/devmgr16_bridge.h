// Windows 9x: the 16-bit device manager module devmgr16.dll does the device
// work; this is the call into it.
#pragma once

#include <windows.h>

// The 16-bit entry _manager gets its parameter block as its stack arguments:
// the program reserves this many bytes on top of its stack for the call.
const int ManagerArgumentAreaSize = 800;

// Installs (with the short path of the INF file) or removes (with an empty
// path) the device through _manager of devmgr16.dll beside the program.
// Failures of the bridge are reported; a failure that _manager returns is
// left to what the module itself told the user.
bool CallDeviceManager16(bool install, const char* deviceName, const char* infShortPath);
