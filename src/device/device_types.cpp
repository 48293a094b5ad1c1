#include "device/device_types.h"

#include "common/messages.h"

const DeviceTypeDef DeviceTypeTable[DeviceTypeCount] = {
    {"wave", 1},
    {"mixer", 2},
};

namespace {

const DeviceTypeDef* FindDeviceType(const char* name) {
    for (int i = 0; i < DeviceTypeCount; i++) {
        if (lstrcmpiA(DeviceTypeTable[i].Name, name) == 0)
            return &DeviceTypeTable[i];
    }
    return nullptr;
}

// The row of the item of `length` characters at `item`, or none. An item
// that does not fit the item buffer is longer than any type name.
const DeviceTypeDef* FindDeviceTypeItem(const char* item, int length, char* itemBuffer) {
    int kept = length < DeviceTypeItemSize ? length : DeviceTypeItemSize - 1;
    for (int i = 0; i < kept; i++)
        itemBuffer[i] = item[i];
    itemBuffer[kept] = '\0';
    if (kept < length)
        return nullptr;
    return FindDeviceType(itemBuffer);
}

}  // namespace

TypeMask ParseDeviceTypes(const char* typeText) {
    if (*FindAnyOf(typeText, " ")) {
        ReportError("Space in the \"%s\" is not allowed", typeText);
        return 0;
    }
    TypeMask mask = 0;
    const char* rest = typeText;
    while (*rest) {
        const char* end = FindAnyOf(rest, ",");
        char item[DeviceTypeItemSize];
        const DeviceTypeDef* type = FindDeviceTypeItem(rest, (int)(end - rest), item);
        rest = *end ? end + 1 : end;
        if (!type) {
            // A cut item is shown as far as it was kept.
            ReportError("Invalid device type \"%s\"", item);
            return 0;
        }
        mask |= type->Bit;
    }
    if (mask == 0)
        ReportError("No device type specified");
    return mask;
}

namespace {

// The character that ends each field of the driver line when it is not
// quoted: key=disk:file,types,description
const char FieldTerminators[5] = {'=', ':', ',', ',', ','};

// Reads one field starting at `*position`: cuts it off in place and moves
// `*position` past its end, its blanks and one terminator with the blanks
// after it. The field runs to the end of the line when no stop follows.
char* ReadDriverField(char** position, char terminator) {
    char* at = *position;
    char stops[4] = {terminator, ' ', '\t', '\0'};
    if (*at == '"') {
        at++;
        stops[0] = '"';
        stops[1] = '\0';
    }
    char* field = at;
    at = FindAnyOf(at, stops);
    if (*at) {
        *at = '\0';
        at = SkipBlanks(at + 1);
        if (*at == terminator)
            at = SkipBlanks(at + 1);
    }
    *position = at;
    return field;
}

}  // namespace

bool ParseDriverLine(char* line, DriverLine* fields) {
    char** targets[5] = {&fields->DriverKey, &fields->Disk, &fields->DriverFile, &fields->TypeText,
                         &fields->Description};
    char* position = SkipBlanks(line);
    int count = 0;
    while (count < 5 && *position) {
        *targets[count] = ReadDriverField(&position, FieldTerminators[count]);
        count++;
    }
    if (count < 5 || (*position && *position != ',')) {
        ReportError("Syntax error in installable driver string");
        return false;
    }
    return true;
}
