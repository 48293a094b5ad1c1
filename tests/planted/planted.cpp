// A planted DLL: built as winmm.dll and as setupapi.dll (PLANTED_NAME) and
// put where a program's bare-name search would find it first, such as the
// distribution folder or the temporary directory. If it is ever loaded, it
// leaves planted-<name>.txt in its own folder and refuses to attach, so
// nothing of it is used.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
    while (length > 0 && path[length - 1] != '\\')
        length--;
    const char marker[] = "planted-" PLANTED_NAME ".txt";
    if (length > 0 && length + sizeof marker <= MAX_PATH) {
        lstrcpyA(path + length, marker);
        HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
    return FALSE;
}
