#include "common/system_library.h"

#include "common/messages.h"
#include "common/setup_state.h"

namespace {

bool ResolveFunctions(HMODULE library, const SystemFunctionDef* table, int count) {
    for (int i = 0; i < count; i++) {
        *table[i].Slot = reinterpret_cast<SystemFunction>(GetProcAddress(library, table[i].Name));
        if (!*table[i].Slot)
            return false;
    }
    return true;
}

}  // namespace

HMODULE LoadSystemLibrary(const char* name, const SystemFunctionDef* table, int count) {
    char path[PathBufferSize];
    if (!TextFits(GetSystemDirectoryA(path, sizeof path), sizeof path))
        return nullptr;
    if (!AppendText(path, sizeof path, "\\") || !AppendText(path, sizeof path, name)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    // With a full path, the altered search order looks for the DLL's own
    // imports in its directory rather than in the program's.
    HMODULE library = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library && !ResolveFunctions(library, table, count)) {
        DWORD error = GetLastError();
        FreeLibrary(library);
        SetLastError(error);
        library = nullptr;
    }
    return library;
}
