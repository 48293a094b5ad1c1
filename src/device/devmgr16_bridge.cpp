#include "device/devmgr16_bridge.h"

#include "common/messages.h"
#include "common/setup_state.h"
#include "common/test_seams.h"
#include "common/variables.h"

namespace {

const char ThunkServiceName[] = "QT_Thunk";

}  // namespace

#if defined(__i386__)

// The 16-bit module services of the Windows 9x KERNEL32. It exports them by
// ordinal only (35, 36, 37), and its GetProcAddress refuses ordinals into
// KERNEL32, so they are imported by number: the 32-bit build links an import
// library made from devmgr16_kernel32.def (see CMakeLists.txt). Only Windows
// 9x has them under these numbers; the program calls them nowhere else.
extern "C" {
// A 16-bit module handle, or a loader error code below 32.
WORD WINAPI LoadLibrary16(const char* path);
void WINAPI FreeLibrary16(WORD module);
// The 16:16 address of the export, or 0.
DWORD WINAPI GetProcAddress16(WORD module, const char* name);

// Calls the 16-bit routine at `target` (16:16) through `qtThunk` with the
// ManagerArgumentAreaSize bytes at `area` as its stack arguments and returns
// the low byte of its 16-bit result.
BYTE CallThunked16(const BYTE* area, DWORD target, FARPROC qtThunk);
}

// QT_Thunk finds the 16-bit routine's arguments through the caller's frame:
// it passes on the EBP - ESP - 0x40 bytes that lie at ESP, and keeps its own
// state in the 0x40 bytes directly below EBP. So the routine builds a frame
// whose lowest part is the 800-byte argument area, with the 0x40 bytes of
// scratch space between it and EBP, and copies the parameter block to the
// start of the area: its first byte is the lowest address, where the called
// routine finds its first argument. The registers that C code expects kept
// are saved above the frame, out of QT_Thunk's scratch space.
asm(R"(
    .text
    .globl _CallThunked16
    .def _CallThunked16; .scl 2; .type 32; .endef
_CallThunked16:
    .intel_syntax noprefix
    push ebx
    push esi
    push edi
    push ebp
    mov ebp, esp
    # The arguments lie above the four saved registers and the return address.
    mov esi, [ebp + 20]          # area
    mov edx, [ebp + 24]          # 16:16 target: QT_Thunk takes it in EDX
    mov eax, [ebp + 28]          # QT_Thunk
    sub esp, 0x40 + 800          # scratch space, then the argument area on top
    mov edi, esp
    mov ecx, 800
    rep movsb                    # the whole area, parameter block first
    call eax
    movzx eax, al                # only the low byte of the result counts
    # A 16-bit routine of the Pascal convention pops its arguments, and
    # QT_Thunk moves ESP by what it popped: the frame gives the area back
    # whatever that was.
    mov esp, ebp
    pop ebp
    pop edi
    pop esi
    pop ebx
    ret
    .att_syntax prefix
)");

namespace {

const char ManagerModuleName[] = "devmgr16.dll";
const char ManagerEntryName[] = "_manager";

// Loads devmgr16.dll from the program's own directory, calls its _manager
// with the prepared argument area and frees the module again.
bool CallManagerModule(const BYTE* area, FARPROC qtThunk) {
    char path[PathBufferSize];
    if (!JoinPath(path, sizeof path, Setup.ProgramDir, ManagerModuleName))
        return false;
    WORD module = LoadLibrary16(path);
    if (module < 32) {
        ReportError("Cannot load 16-bit module %s (%u)", path, module);
        return false;
    }
    bool result = false;
    DWORD manager = GetProcAddress16(module, ManagerEntryName);
    if (manager)
        result = CallThunked16(area, manager, qtThunk) != 0;
    else
        ReportError("Cannot get address of %s (%s)", ManagerEntryName, LastErrorText());
    FreeLibrary16(module);
    return result;
}

}  // namespace

#else

namespace {

// A 64-bit program cannot run 16-bit code, and a 64-bit KERNEL32 has no
// QT_Thunk, so the lookup before this has failed already. Should a system
// ever offer the name, it is refused rather than called.
bool CallManagerModule(const BYTE*, FARPROC) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    ReportError("Cannot get address of %s (%s)", ThunkServiceName, LastErrorText());
    return false;
}

}  // namespace

#endif

int BuildManagerParams(BYTE* block, int size, bool install, const char* deviceName, const char* infShortPath) {
    const int wordSize = 2;
    int nameSize = lstrlenA(deviceName) + 1;
    int pathSize = lstrlenA(infShortPath) + 1;
    int length = wordSize + nameSize + pathSize;
    if (length > size)
        return 0;
    block[0] = install ? 1 : 0;
    block[1] = 0;
    lstrcpyA(reinterpret_cast<char*>(block + wordSize), deviceName);
    lstrcpyA(reinterpret_cast<char*>(block + wordSize + nameSize), infShortPath);
    return length;
}

bool CallDeviceManager16(bool install, const char* deviceName, const char* infShortPath) {
    // The block is laid out before anything is looked up or loaded, so a
    // text that does not fit the argument area changes nothing. The rest of
    // the area is zero.
    BYTE area[ManagerArgumentAreaSize] = {};
    if (!BuildManagerParams(area, sizeof area, install, deviceName, infShortPath)) {
        ReportError("Device name and INF file path do not fit the %d bytes of arguments of the 16-bit device manager",
                    ManagerArgumentAreaSize);
        return false;
    }
    HMODULE kernel = GetModuleHandleA("KERNEL32");
    if (!kernel) {
        ReportError("Cannot get KERNEL32 handle (%s)", LastErrorText());
        return false;
    }
    FARPROC qtThunk = GetProcAddress(kernel, ThunkServiceName);
    if (!qtThunk) {
        ReportError("Cannot get address of %s (%s)", ThunkServiceName, LastErrorText());
        return false;
    }
    return CallManagerModule(area, qtThunk);
}
