// Multimedia device types and the driver line of an INF file.
#pragma once

#include <windows.h>

// Bit set of device types.
typedef BYTE TypeMask;

struct DeviceTypeDef {
    const char* Name;
    TypeMask Bit;
};

// wave, then mixer: every walk goes over both rows in this order, and the
// row index is the type index.
const int DeviceTypeCount = 2;
extern const DeviceTypeDef DeviceTypeTable[DeviceTypeCount];

// "wave,mixer" and the like; 0 on failure (reported). Items longer than
// DeviceTypeItemSize - 1 characters name no type.
const int DeviceTypeItemSize = 128;
TypeMask ParseDeviceTypes(const char* typeText);

// The five fields of the first line of [Installable.Drivers], as views into
// the line, which the parser cuts in place.
struct DriverLine {
    char* DriverKey;
    char* Disk;
    char* DriverFile;
    char* TypeText;
    char* Description;
};

// A field may be enclosed in double quotes, which keeps its blanks and
// commas. After the description only the end of the line or a comma (the
// customary empty trailing fields) may follow. A malformed line is reported.
bool ParseDriverLine(char* line, DriverLine* fields);
