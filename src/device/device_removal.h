// Removal of the device on NT: driver message, list entries, device instance.
#pragma once

#include <windows.h>

#include "device/device_types.h"

bool RemoveDeviceNT(const char* deviceName, TypeMask mask);
