// The program of the sample product: shows one message and ends.
#include <windows.h>

extern "C" void WINAPI SampleEntry() {
    MessageBoxA(nullptr, "Sample Product 1.0 is installed and runs.", "Sample Product", MB_ICONINFORMATION);
    ExitProcess(0);
}
