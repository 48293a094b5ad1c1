// Process entry, start-up checks, command line and mode dispatch.
#pragma once

#include <windows.h>

// The entry point the linker names: the argument text, SetupMain, and
// ExitProcess with its result.
extern "C" void WINAPI ProgramEntry();
