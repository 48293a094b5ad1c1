#include "support/device_instances.h"

#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

namespace device_instances {

namespace {

// Sound, video and game controllers.
const GUID MediaClass = {0x4d36e96c, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// The instance name from which the system generates the instance ids.
const char InstanceName[] = "SETUPTESTDEVICE";

// Calls `visit` (list, element, description) for each device with a
// description; stops when it returns false.
template <typename Visit>
void ForEachDevice(Visit visit) {
    HDEVINFO list = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (list == INVALID_HANDLE_VALUE)
        return;
    for (DWORD index = 0;; index++) {
        SP_DEVINFO_DATA element = {};
        element.cbSize = sizeof element;
        if (!SetupDiEnumDeviceInfo(list, index, &element))
            break;
        char description[1024] = {};
        if (!SetupDiGetDeviceRegistryPropertyA(list, &element, SPDRP_DEVICEDESC, nullptr,
                                               reinterpret_cast<BYTE*>(description), sizeof description - 1,
                                               nullptr))
            continue;
        if (!visit(list, &element, std::string(description)))
            break;
    }
    SetupDiDestroyDeviceInfoList(list);
}

}  // namespace

bool Create(const std::string& description) {
    HDEVINFO list = SetupDiCreateDeviceInfoList(&MediaClass, nullptr);
    if (list == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "SetupDiCreateDeviceInfoList: error " << GetLastError();
        return false;
    }
    SP_DEVINFO_DATA element = {};
    element.cbSize = sizeof element;
    bool made = SetupDiCreateDeviceInfoA(list, InstanceName, &MediaClass, nullptr, nullptr, DICD_GENERATE_ID,
                                         &element) &&
                SetupDiSetDeviceRegistryPropertyA(list, &element, SPDRP_DEVICEDESC,
                                                  reinterpret_cast<const BYTE*>(description.c_str()),
                                                  static_cast<DWORD>(description.size() + 1)) &&
                SetupDiRegisterDeviceInfo(list, &element, 0, nullptr, nullptr, nullptr);
    if (!made)
        ADD_FAILURE() << "cannot create device instance \"" << description << "\": error " << GetLastError();
    SetupDiDestroyDeviceInfoList(list);
    return made;
}

std::vector<std::string> Descriptions() {
    std::vector<std::string> descriptions;
    ForEachDevice([&](HDEVINFO, SP_DEVINFO_DATA*, const std::string& description) {
        descriptions.push_back(description);
        return true;
    });
    return descriptions;
}

int Count(const std::string& description) {
    int count = 0;
    for (const std::string& each : Descriptions())
        count += each == description;
    return count;
}

int RemoveAll(const std::string& description) {
    int removed = 0;
    // Removing while walking shifts the indexes: walk anew after each one.
    for (bool again = true; again;) {
        again = false;
        ForEachDevice([&](HDEVINFO list, SP_DEVINFO_DATA* element, const std::string& each) {
            if (lstrcmpiA(each.c_str(), description.c_str()) != 0)
                return true;
            if (!SetupDiRemoveDevice(list, element))
                return true;  // try the others
            removed++;
            again = true;
            return false;
        });
    }
    return removed;
}

Cleanup::Cleanup(std::vector<std::string> descriptions) : descriptions_(std::move(descriptions)) {
    for (const std::string& description : descriptions_)
        RemoveAll(description);
}

Cleanup::~Cleanup() {
    for (const std::string& description : descriptions_)
        RemoveAll(description);
}

}  // namespace device_instances
