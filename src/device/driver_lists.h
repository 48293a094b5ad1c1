// The NT driver lists of system.ini and control.ini, and the installable-
// driver messages.
#pragma once

#include <windows.h>

#include "device/device_types.h"

// A cursor over the key names of one section of a profile file. The file is
// a plain name such as "system.ini", which the system finds in the Windows
// directory.
struct ProfileSection {
    const char* FileName;     // not owned
    const char* SectionName;  // not owned
    char* KeyList;            // owned; names each NUL-ended, then an empty name; null when not loaded
    char* Cursor;             // next name to hand out; null when not loaded
};

// Slot names, driver file names and every value read from the lists.
const int ListTextSize = 260;

// The three lists, always in this order.
enum DriverListIndex {
    Drivers32List = 0,          // system.ini [Drivers32]
    UserInstallableList = 1,    // control.ini [Userinstallable.drivers]
    DescriptionList = 2,        // control.ini [drivers.desc]
    DriverSectionCount = 3
};
// The two lists that hold one slot per device type.
const int SlotListCount = 2;

struct DriverSections {
    ProfileSection Lists[DriverSectionCount];
};

void OpenDriverSections(DriverSections* sections);
void ReleaseDriverSections(DriverSections* sections);

// Tells the driver (a file of the system directory) DRV_INSTALL or
// DRV_REMOVE. DRVCNF_OK is success, DRVCNF_RESTART too, setting
// DeviceRestartNeeded; any other answer is a failure (reported).
bool SendDriverCommand(const char* driverFile, UINT message);

// Room for the INF section [Installable.Drivers] whose first line is read.
const int InfSectionSize = 1024;

// The first line of [Installable.Drivers] of the INF file, read into `text`
// of `size` bytes and parsed into `line`; its description must be the device
// name. Every failure is reported.
bool ReadDriverLine(const char* infPath, const char* deviceName, char* text, DWORD size, DriverLine* line);

// The types of the driver line; 0 when they do not parse or the InstallDevice
// log line would not fit (reported).
TypeMask DriverLineTypes(const DriverLine* line, const char* deviceName);

// Enters the driver of the INF file into the three lists and tells it
// DRV_INSTALL; on success DeviceTypeText holds its type text.
bool InstallDriverNT(const char* deviceName, const char* infPath);

// The key of the first entry of the description list whose value is the
// device name, copied into `driverFile` of `size` bytes. Keys that do not fit
// there are passed over.
bool FindDriverByDescription(const char* deviceName, char* driverFile, int size, ProfileSection* descriptions);

// Deletes the driver file's description and, for each type of the mask, its
// first slot in each driver list.
void RemoveDriverTraces(const char* driverFile, TypeMask mask, DriverSections* sections);
