#include "device/driver_lists.h"

#include <mmsystem.h>

#include "common/messages.h"
#include "common/setup_state.h"
#include "common/system_library.h"
#include "common/test_seams.h"
#include "log/install_log.h"

// ---- Profile sections

void OpenProfileSection(ProfileSection* section, const char* fileName, const char* sectionName) {
    section->FileName = fileName;
    section->SectionName = sectionName;
    section->KeyList = nullptr;
    section->Cursor = nullptr;
}

namespace {

// Room for the key names of one section; a longer list is cut by the system.
const DWORD KeyListSize = 0x8000;

void FreeKeys(ProfileSection* section) {
    if (!section->KeyList)
        return;
    FreeBlock(section->KeyList);
    section->KeyList = nullptr;
    section->Cursor = nullptr;
}

// Reads all key names of the section; false when the block cannot be had
// (reported by the allocator).
bool LoadKeys(ProfileSection* section) {
    FreeKeys(section);
    char* list = static_cast<char*>(AllocBlock(KeyListSize));
    if (!list)
        return false;
    DWORD length = GetPrivateProfileStringA(section->SectionName, nullptr, "", list, KeyListSize,
                                            section->FileName);
    // The list always ends with an empty name, even where the system cut it.
    if (length > KeyListSize - 2)
        length = KeyListSize - 2;
    list[length] = '\0';
    list[length + 1] = '\0';
    section->KeyList = list;
    section->Cursor = list;
    return true;
}

// The next key name, or null at the end of the list.
const char* NextKey(ProfileSection* section) {
    if (!section->Cursor || !*section->Cursor)
        return nullptr;
    const char* key = section->Cursor;
    section->Cursor += lstrlenA(key) + 1;
    return key;
}

// The key's value ("" for a missing key); false when it filled the buffer of
// `size` bytes and so may have been cut: such a value equals no name.
bool ReadValue(const ProfileSection* section, const char* key, char* buffer, int size) {
    DWORD length = GetPrivateProfileStringA(section->SectionName, key, "", buffer, size, section->FileName);
    return (int)length < size - 1;
}

// A null value deletes the key.
bool WriteValue(const ProfileSection* section, const char* key, const char* value) {
    return WritePrivateProfileStringA(section->SectionName, key, value, section->FileName) != FALSE;
}

}  // namespace

// ---- The three lists

namespace {

struct DriverListDef {
    const char* FileName;
    const char* SectionName;
};

const DriverListDef DriverListTable[DriverSectionCount] = {
    {"system.ini", "Drivers32"},
    {"control.ini", "Userinstallable.drivers"},
    {"control.ini", "drivers.desc"},
};

}  // namespace

void OpenDriverSections(DriverSections* sections) {
    for (int i = 0; i < DriverSectionCount; i++)
        OpenProfileSection(&sections->Lists[i], DriverListTable[i].FileName, DriverListTable[i].SectionName);
}

void ReleaseDriverSections(DriverSections* sections) {
    for (int i = DriverSectionCount - 1; i >= 0; i--)
        FreeKeys(&sections->Lists[i]);
}

// ---- Lookups

namespace {

typedef bool (*EntryTest)(const char* key, const char* value, const void* context);

// Copies the first key of the section whose entry passes the test into `key`
// of `size` bytes. A fresh key list is read for each walk, so the walk sees
// what was written a moment before. Values that may have been cut, and keys
// that do not fit the output, match nothing.
bool FindFirstEntry(ProfileSection* section, EntryTest test, const void* context, char* key, int size) {
    if (!LoadKeys(section))
        return false;
    bool found = false;
    while (!found) {
        const char* name = NextKey(section);
        if (!name)
            break;
        char value[ListTextSize];
        if (ReadValue(section, name, value, sizeof value) && test(name, value, context))
            found = CopyText(key, size, name);
    }
    FreeKeys(section);
    return found;
}

bool HoldsDeviceName(const char*, const char* value, const void* deviceName) {
    return lstrcmpiA(value, static_cast<const char*>(deviceName)) == 0;
}

struct TypeEntryWanted {
    const char* TypeName;
    const char* DriverFile;
};

bool IsTypeEntryOf(const char* key, const char* value, const void* context) {
    const TypeEntryWanted* wanted = static_cast<const TypeEntryWanted*>(context);
    return CompareNoCase(key, wanted->TypeName, lstrlenA(wanted->TypeName)) == 0 &&
           lstrcmpiA(value, wanted->DriverFile) == 0;
}

// "wave1" ... "wave9": the type name and one digit.
bool MakeSlotName(char* slot, int size, const char* typeName, UINT number) {
    char digit[2] = {static_cast<char>('0' + number), '\0'};
    return CopyText(slot, size, typeName) && AppendText(slot, size, digit);
}

const UINT SlotsPerType = 9;

// The first key of the driver list that begins with the type name and holds
// the driver file, copied into `key` of `size` bytes. Keys that do not fit
// there are passed over.
bool FindTypeEntry(const char* typeName, const char* driverFile, ProfileSection* list, char* key, int size) {
    TypeEntryWanted wanted = {typeName, driverFile};
    return FindFirstEntry(list, IsTypeEntryOf, &wanted, key, size);
}

}  // namespace

bool FindDriverByDescription(const char* deviceName, char* driverFile, int size, ProfileSection* descriptions) {
    return FindFirstEntry(descriptions, HoldsDeviceName, deviceName, driverFile, size);
}

bool FindFreeSlot(const char* typeName, char* slot, int size, const ProfileSection* list) {
    // The system's own wdmaud.drv may stand in several slots; all but the
    // first of them are duplicates that a new driver may take over.
    UINT firstWdmaud = 0;
    UINT laterWdmaud = 0;
    for (UINT number = 1; number <= SlotsPerType; number++) {
        if (!MakeSlotName(slot, size, typeName, number))
            return false;
        char value[ListTextSize];
        if (!ReadValue(list, slot, value, sizeof value))
            continue;  // too long to be empty or wdmaud.drv
        if (value[0] == '\0')
            return true;
        if (lstrcmpiA(value, "wdmaud.drv") == 0) {
            if (firstWdmaud == 0)
                firstWdmaud = number;
            else
                laterWdmaud = number;
        }
    }
    return laterWdmaud != 0 && MakeSlotName(slot, size, typeName, laterWdmaud);
}

void RemoveDriverTraces(const char* driverFile, TypeMask mask, DriverSections* sections) {
    WriteValue(&sections->Lists[DescriptionList], driverFile, nullptr);
    for (int type = 0; type < DeviceTypeCount; type++) {
        if (!(mask & DeviceTypeTable[type].Bit))
            continue;
        for (int list = 0; list < SlotListCount; list++) {
            char key[ListTextSize];
            if (FindTypeEntry(DeviceTypeTable[type].Name, driverFile, &sections->Lists[list], key, sizeof key))
                WriteValue(&sections->Lists[list], key, nullptr);
        }
    }
}

// ---- Driver messages

namespace {

// The system directory, a backslash and the driver file as a wide path in
// `path` of `size` characters; a path that does not fit is reported. The
// name comes from the INF file as ANSI text and the copy stage wrote the
// file under it: read as OEM text, a Cyrillic or Greek name names another
// file.
bool BuildDriverPath(const char* driverFile, WCHAR* path, UINT size) {
    UINT length = GetSystemDirectoryW(path, size);
    if (length == 0 || length >= size) {
        ReportError("Cannot get system directory (%s)", LastErrorText());
        return false;
    }
    path[length++] = L'\\';
    if (length >= size ||
        MultiByteToWideChar(CP_ACP, 0, driverFile, -1, path + length, (int)(size - length)) == 0) {
        path[length - 1] = L'\0';
        ReportError("Driver module path is too long (%S\\%s)", path, driverFile);
        return false;
    }
    return true;
}

typedef HDRVR(WINAPI* OpenDriverFunction)(LPCWSTR, LPCWSTR, LPARAM);
typedef LRESULT(WINAPI* DriverCallFunction)(HDRVR, UINT, LPARAM, LPARAM);
typedef LRESULT(WINAPI* CloseDriverFunction)(HDRVR, LPARAM, LPARAM);

// Filled from winmm.dll, which is loaded only to tell a driver.
SystemFunction OpenDriverSlot;
SystemFunction SendDriverMessageSlot;
SystemFunction CloseDriverSlot;

const SystemFunctionDef WinmmFunctionTable[] = {
    {"OpenDriver", &OpenDriverSlot},
    {"SendDriverMessage", &SendDriverMessageSlot},
    {"CloseDriver", &CloseDriverSlot},
};
const int WinmmFunctionCount = sizeof WinmmFunctionTable / sizeof WinmmFunctionTable[0];

// Opens the driver, tells it the message and closes it again. A refusal is
// reported while the driver is still open.
bool TellDriver(const WCHAR* path, UINT message) {
    HDRVR driver = reinterpret_cast<OpenDriverFunction>(OpenDriverSlot)(path, nullptr, 0);
    if (!driver) {
        ReportError("Cannot open driver module %S", path);
        return false;
    }
    // The driver does its install or remove work inside this call. A driver
    // that answers DRVCNF_RESTART has done it too: the change takes effect
    // when Windows restarts.
    LRESULT answer = reinterpret_cast<DriverCallFunction>(SendDriverMessageSlot)(driver, message, 0, 0);
    bool done = answer == DRVCNF_OK || answer == DRVCNF_RESTART;
    if (answer == DRVCNF_RESTART)
        Setup.DeviceRestartNeeded = TRUE;
    else if (!done)
        ReportError("Driver failed processing message 0x%X (code 0x%X)", message, (unsigned)answer);
    reinterpret_cast<CloseDriverFunction>(CloseDriverSlot)(driver, 0, 0);
    return done;
}

}  // namespace

bool SendDriverCommand(const char* driverFile, UINT message) {
    WCHAR path[PathBufferSize];
    if (!BuildDriverPath(driverFile, path, PathBufferSize))
        return false;
    HMODULE winmm = LoadSystemLibrary("winmm.dll", WinmmFunctionTable, WinmmFunctionCount);
    if (!winmm) {
        ReportError("Cannot load winmm.dll (%s)", LastErrorText());
        return false;
    }
    bool told = TellDriver(path, message);
    FreeLibrary(winmm);
    return told;
}

// ---- NT install

namespace {

const char AlreadyRegisteredQuestion[] =
    "Device \"%s\" is already registered in the system. If you forgot to uninstall a previous version, please "
    "click Cancel to exit Setup and uninstall it as described in the manual.\n\n"
    "If you have installed a previous version via New Hardware Wizard and have uninstalled it via Control "
    "Panel too, there may rest some traces of a previous version. Due to its bugs, Windows NT4/2000/XP "
    "sometimes cannot delete legacy devices properly.\n\n"
    "If you have PROPERLY uninstalled a previous version and restarted Windows after it, click OK to remove "
    "old device traces and install the new device.";

// What an install has written so far, so that a failure can take it back:
// the slot names by type index and driver list, and whether the
// description went in. Fixed buffers: recording a write can never fail.
struct InstallTraces {
    char Slots[DeviceTypeCount][SlotListCount][ListTextSize];
    bool DescriptionWritten;
};

void ClearTraces(InstallTraces* traces) {
    for (int type = 0; type < DeviceTypeCount; type++) {
        for (int list = 0; list < SlotListCount; list++)
            traces->Slots[type][list][0] = '\0';
    }
    traces->DescriptionWritten = false;
}

// Deletes the entries the install wrote: the description first, then the
// slots. Old traces removed on the user's word are not brought back.
void RollBack(const InstallTraces* traces, const char* driverFile, DriverSections* sections) {
    if (traces->DescriptionWritten)
        WriteValue(&sections->Lists[DescriptionList], driverFile, nullptr);
    for (int type = 0; type < DeviceTypeCount; type++) {
        for (int list = 0; list < SlotListCount; list++) {
            if (traces->Slots[type][list][0])
                WriteValue(&sections->Lists[list], traces->Slots[type][list], nullptr);
        }
    }
}

// The first line of [Installable.Drivers] of the INF file, in `text`.
bool ReadDriverSection(const char* infPath, char* text, DWORD size) {
    DWORD length = GetPrivateProfileSectionA("Installable.Drivers", text, size, infPath);
    if (length == 0) {
        ReportError("No driver section found");
        return false;
    }
    // A section cut by the system (size - 2 characters) whose first line
    // reaches the cut: that line is not whole.
    if (length >= size - 2 && lstrlenA(text) >= (int)length) {
        ReportError("Installable driver string is too long");
        return false;
    }
    return true;
}

// A device already in the description list: on the user's word its old
// entries go, and the install goes on.
bool ClearOldRegistration(const char* deviceName, TypeMask mask, DriverSections* sections) {
    char oldDriver[ListTextSize];
    if (!FindDriverByDescription(deviceName, oldDriver, sizeof oldDriver, &sections->Lists[DescriptionList]))
        return true;
    if (AskUser("Setup device manager", MB_OKCANCEL | MB_ICONWARNING, AlreadyRegisteredQuestion, deviceName) !=
        IDOK)
        return false;
    RemoveDriverTraces(oldDriver, mask, sections);
    return true;
}

// One slot per type of the mask in each driver list, wave before mixer.
bool WriteSlots(const char* driverFile, TypeMask mask, DriverSections* sections, InstallTraces* traces) {
    for (int type = 0; type < DeviceTypeCount; type++) {
        if (!(mask & DeviceTypeTable[type].Bit))
            continue;
        for (int list = 0; list < SlotListCount; list++) {
            ProfileSection* section = &sections->Lists[list];
            char slot[ListTextSize];
            if (!FindFreeSlot(DeviceTypeTable[type].Name, slot, sizeof slot, section)) {
                ReportError("Cannot find free %s entry in %s", DeviceTypeTable[type].Name, section->SectionName);
                return false;
            }
            if (!WriteValue(section, slot, driverFile))
                return false;
            CopyText(traces->Slots[type][list], ListTextSize, slot);
        }
    }
    return true;
}

bool KeepTypeText(const char* typeText) {
    char* copy = DuplicateString(typeText);
    if (!copy)
        return false;
    FreeBlock(Setup.DeviceTypeText);
    Setup.DeviceTypeText = copy;
    return true;
}

// The install sequence logs the device as "InstallDevice <type text>
// <device name>", and the uninstaller knows of the device only through that
// line: a driver whose line would not fit the log is refused before anything
// is written.
bool FitsInstallLog(const char* typeText, const char* deviceName) {
    int length = lstrlenA(EventNameOf(InstallDeviceEvent)) + 1 + lstrlenA(typeText) + 1 + lstrlenA(deviceName);
    if (length <= LogLineLimit)
        return true;
    ReportError("Device type text \"%s\" is too long for the installation log", typeText);
    return false;
}

bool RegisterDriver(const char* deviceName, const DriverLine* line, DriverSections* sections,
                    InstallTraces* traces) {
    TypeMask mask = DriverLineTypes(line, deviceName);
    if (!mask || !ClearOldRegistration(deviceName, mask, sections) ||
        !WriteSlots(line->DriverFile, mask, sections, traces))
        return false;
    if (!WriteValue(&sections->Lists[DescriptionList], line->DriverFile, deviceName))
        return false;
    traces->DescriptionWritten = true;
    return SendDriverCommand(line->DriverFile, DRV_INSTALL) && KeepTypeText(line->TypeText);
}

}  // namespace

bool ReadDriverLine(const char* infPath, const char* deviceName, char* text, DWORD size, DriverLine* line) {
    if (!ReadDriverSection(infPath, text, size) || !ParseDriverLine(text, line))
        return false;
    if (lstrcmpiA(line->Description, deviceName) == 0)
        return true;
    ReportError("Device name in the INF file is not \"%s\"", deviceName);
    return false;
}

TypeMask DriverLineTypes(const DriverLine* line, const char* deviceName) {
    TypeMask mask = ParseDeviceTypes(line->TypeText);
    return mask && FitsInstallLog(line->TypeText, deviceName) ? mask : 0;
}

bool InstallDriverNT(const char* deviceName, const char* infPath) {
    DriverSections sections;
    OpenDriverSections(&sections);
    InstallTraces traces;
    ClearTraces(&traces);
    char text[InfSectionSize];
    DriverLine line;
    bool installed = false;
    if (ReadDriverLine(infPath, deviceName, text, sizeof text, &line)) {
        installed = RegisterDriver(deviceName, &line, &sections, &traces);
        if (!installed)
            RollBack(&traces, line.DriverFile, &sections);
    }
    ReleaseDriverSections(&sections);
    return installed;
}
