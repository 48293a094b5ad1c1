// DLLs of the system that are not KnownDLLs on every supported Windows
// (winmm, setupapi). They are loaded by their full path in the system
// directory, and only for the step that needs them: a DLL of the same name
// beside the program (a Downloads folder, the temporary directory where the
// uninstall's second stage runs) is never loaded, and never runs with the
// rights of whoever runs the installation.
#pragma once

#include <windows.h>

typedef void (*SystemFunction)();

// One entry point to resolve and the slot that receives its address.
struct SystemFunctionDef {
    const char* Name;
    SystemFunction* Slot;
};

// Loads <system directory>\<name> (its own dependencies are searched for
// from there too) and fills the slots of the `count` rows in table order.
// Null, with nothing reported and the last error telling why, when the DLL
// or one of its entry points is missing; the DLL is not kept then.
HMODULE LoadSystemLibrary(const char* name, const SystemFunctionDef* table, int count);
