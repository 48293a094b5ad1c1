#include "device/device_removal.h"

#include <mmsystem.h>
#include <setupapi.h>

#include "common/messages.h"
#include "common/system_library.h"
#include "device/driver_lists.h"

namespace {

typedef BOOL(WINAPI* EnumDeviceInfoFunction)(HDEVINFO, DWORD, PSP_DEVINFO_DATA);
typedef BOOL(WINAPI* GetDevicePropertyFunction)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD, PDWORD);
typedef HDEVINFO(WINAPI* GetClassDevsFunction)(const GUID*, PCSTR, HWND, DWORD);
typedef BOOL(WINAPI* RemoveDeviceFunction)(HDEVINFO, PSP_DEVINFO_DATA);
typedef BOOL(WINAPI* DestroyDeviceInfoListFunction)(HDEVINFO);

// Filled from setupapi.dll at each removal.
SystemFunction EnumDeviceInfoSlot;
SystemFunction GetDevicePropertySlot;
SystemFunction GetClassDevsSlot;
SystemFunction RemoveDeviceSlot;
SystemFunction DestroyDeviceInfoListSlot;

// Room for a description and its NUL.
const int DescriptionSize = 260;

// The system checks the size field against its own structure for the
// caller's code: 28 bytes for 32-bit code, 32 for 64-bit code.
static_assert(sizeof(SP_DEVINFO_DATA) == (sizeof(void*) == 4 ? 28 : 32), "SP_DEVINFO_DATA size");

// An element ready for the next call, sized for this build.
void ResetElement(SP_DEVINFO_DATA* element) {
    ZeroMemory(element, sizeof *element);
    element->cbSize = sizeof *element;
}

// The device's description in `description` (DescriptionSize bytes, always
// NUL-ended); false for a device without one or with a longer one.
bool ReadDescription(HDEVINFO list, SP_DEVINFO_DATA* element, char* description) {
    ZeroMemory(description, DescriptionSize);
    GetDevicePropertyFunction getProperty = reinterpret_cast<GetDevicePropertyFunction>(GetDevicePropertySlot);
    return getProperty(list, element, SPDRP_DEVICEDESC, nullptr, reinterpret_cast<BYTE*>(description),
                       DescriptionSize - 1, nullptr) != FALSE;
}

// setupapi.dll is not imported: the removal loads it from the system
// directory for its own step only and finds these entry points in it, in
// this order.
const int SetupApiFunctionCount = 5;
const SystemFunctionDef SetupApiFunctionTable[SetupApiFunctionCount] = {
    {"SetupDiEnumDeviceInfo", &EnumDeviceInfoSlot},
    {"SetupDiGetDeviceRegistryPropertyA", &GetDevicePropertySlot},
    {"SetupDiGetClassDevsA", &GetClassDevsSlot},
    {"SetupDiRemoveDevice", &RemoveDeviceSlot},
    {"SetupDiDestroyDeviceInfoList", &DestroyDeviceInfoListSlot},
};

// Walks the device list for the first device whose description is the
// device name; `element` then describes it. Needs the entry points resolved.
bool FindDeviceInstance(HDEVINFO list, const char* deviceName, SP_DEVINFO_DATA* element) {
    EnumDeviceInfoFunction enumDeviceInfo = reinterpret_cast<EnumDeviceInfoFunction>(EnumDeviceInfoSlot);
    for (DWORD index = 0;; index++) {
        ResetElement(element);
        // The walk ends at ERROR_NO_MORE_ITEMS or at any other failure.
        if (!enumDeviceInfo(list, index, element))
            return false;
        char description[DescriptionSize];
        if (ReadDescription(list, element, description) && lstrcmpiA(description, deviceName) == 0)
            return true;
    }
}

// Deletes the first device instance of the system whose description is the
// device name (ignoring case). Best effort: every failure is silent.
void RemoveDeviceInstance(const char* deviceName) {
    HMODULE library = LoadSystemLibrary("setupapi.dll", SetupApiFunctionTable, SetupApiFunctionCount);
    if (!library)
        return;
    HDEVINFO list =
        reinterpret_cast<GetClassDevsFunction>(GetClassDevsSlot)(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (list != INVALID_HANDLE_VALUE) {
        SP_DEVINFO_DATA element;
        if (FindDeviceInstance(list, deviceName, &element))
            reinterpret_cast<RemoveDeviceFunction>(RemoveDeviceSlot)(list, &element);
        reinterpret_cast<DestroyDeviceInfoListFunction>(DestroyDeviceInfoListSlot)(list);
    }
    FreeLibrary(library);
}

}  // namespace

bool RemoveDeviceNT(const char* deviceName, TypeMask mask) {
    DriverSections sections;
    OpenDriverSections(&sections);
    char driverFile[ListTextSize];
    bool installed =
        FindDriverByDescription(deviceName, driverFile, sizeof driverFile, &sections.Lists[DescriptionList]);
    if (!installed) {
        ReportError("Device not installed");
    } else {
        // A driver that cannot be told still loses its entries and instance.
        SendDriverCommand(driverFile, DRV_REMOVE);
        RemoveDriverTraces(driverFile, mask, &sections);
        RemoveDeviceInstance(deviceName);
    }
    ReleaseDriverSections(&sections);
    return installed;
}
