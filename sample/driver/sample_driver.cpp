// The sample installable driver; its control and record files are described
// in sample_driver.h.
#include <windows.h>
#include <mmsystem.h>

#include "sample_driver.h"

namespace {

HINSTANCE ModuleHandle;

// Opens the driver's own control key: SAMPLE_DRIVER_KEY\<file name>.
HKEY OpenControlKey() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(ModuleHandle, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return nullptr;
    const char* name = path;
    for (const char* at = path; *at; at++) {
        if (*at == '\\' || *at == '/')
            name = at + 1;
    }
    char keyName[MAX_PATH + sizeof SAMPLE_DRIVER_KEY + 1];
    wsprintfA(keyName, "%s\\%s", SAMPLE_DRIVER_KEY, name);
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyName, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

DWORD ReadAnswer(const char* valueName) {
    DWORD answer = DRVCNF_OK;
    HKEY key = OpenControlKey();
    if (!key)
        return answer;
    DWORD value;
    DWORD size = sizeof value;
    DWORD type;
    if (RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
            ERROR_SUCCESS &&
        type == REG_DWORD)
        answer = value;
    RegCloseKey(key);
    return answer;
}

const char* MessageName(UINT message) {
    switch (message) {
    case DRV_LOAD: return "DRV_LOAD";
    case DRV_ENABLE: return "DRV_ENABLE";
    case DRV_OPEN: return "DRV_OPEN";
    case DRV_CLOSE: return "DRV_CLOSE";
    case DRV_DISABLE: return "DRV_DISABLE";
    case DRV_FREE: return "DRV_FREE";
    case DRV_CONFIGURE: return "DRV_CONFIGURE";
    case DRV_QUERYCONFIGURE: return "DRV_QUERYCONFIGURE";
    case DRV_INSTALL: return "DRV_INSTALL";
    case DRV_REMOVE: return "DRV_REMOVE";
    case DRV_EXITSESSION: return "DRV_EXITSESSION";
    case DRV_POWER: return "DRV_POWER";
    default: return nullptr;
    }
}

void Record(UINT message) {
    HKEY key = OpenControlKey();
    if (!key)
        return;
    char path[MAX_PATH];
    DWORD size = sizeof path - 1;
    DWORD type;
    LONG status = RegQueryValueExA(key, SAMPLE_DRIVER_RECORD_FILE, nullptr, &type, reinterpret_cast<BYTE*>(path),
                                   &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ)
        return;
    path[size] = '\0';
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    char line[32];
    const char* name = MessageName(message);
    int length = name ? wsprintfA(line, "%s\r\n", name) : wsprintfA(line, "0x%04X\r\n", message);
    DWORD written;
    WriteFile(file, line, length, &written, nullptr);
    CloseHandle(file);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        ModuleHandle = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" __declspec(dllexport) LRESULT CALLBACK DriverProc(DWORD_PTR id, HDRVR driver, UINT message, LPARAM p1,
                                                             LPARAM p2) {
    Record(message);
    switch (message) {
    case DRV_INSTALL:
        return ReadAnswer(SAMPLE_DRIVER_INSTALL_ANSWER);
    case DRV_REMOVE:
        return ReadAnswer(SAMPLE_DRIVER_REMOVE_ANSWER);
    case DRV_QUERYCONFIGURE:
        return 0;
    case DRV_LOAD:
    case DRV_ENABLE:
    case DRV_OPEN:
    case DRV_CLOSE:
    case DRV_DISABLE:
    case DRV_FREE:
    case DRV_CONFIGURE:
    case DRV_POWER:
    case DRV_EXITSESSION:
        return 1;
    default:
        return DefDriverProc(id, driver, message, p1, p2);
    }
}
