// Removal of the device on NT: driver message, list entries, device instance.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include "common/system_library.h"
#include "device/device_types.h"

bool RemoveDeviceNT(const char* deviceName, TypeMask mask);

// setupapi.dll is not imported: the removal loads it from the system
// directory for its own step only and finds these entry points in it, in
// this order.
const int SetupApiFunctionCount = 5;
extern const SystemFunctionDef SetupApiFunctionTable[SetupApiFunctionCount];

// Deletes the first device instance of the system whose description is the
// device name (ignoring case). Best effort: every failure is silent.
void RemoveDeviceInstance(const char* deviceName);

// Walks the device list for the first device whose description is the
// device name; `element` then describes it. Needs the entry points resolved.
bool FindDeviceInstance(HDEVINFO list, const char* deviceName, SP_DEVINFO_DATA* element);
