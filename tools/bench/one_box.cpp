// The benchmark's trivial program: shows one message box and ends. Linked
// without a runtime, as setup.exe is, so that its start-up is the least a
// Windows program with one window can have.
#include <windows.h>

extern "C" void WINAPI OneBoxEntry() {
    MessageBoxA(nullptr, "One box.", "One box", MB_OK);
    ExitProcess(0);
}
