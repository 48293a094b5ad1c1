// The single entry through which the product's multimedia device is
// installed or removed.
#pragma once

#include <windows.h>

// Installs (the third text is the INF file name of the script) or removes
// (the third text is the type text recorded in the log) the device.
bool SetupDevice(bool install, const char* deviceName, const char* thirdText);

// True when the device's progress text can hold the name; otherwise the
// name is refused with a message. The install sequence asks before it
// changes anything.
bool DeviceNameFits(const char* deviceName);

// Finds the INF file as the platform finds a file name: a name without a
// directory is searched for in the program's, the current and the system
// directories. On success `found` holds the full path (at most 127
// characters); a file not found is reported.
bool LocateInfFile(const char* name, OFSTRUCT* found);
