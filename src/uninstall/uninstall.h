// The two-stage uninstall: the installed program removes the device and
// hands over to a temporary copy of itself, which removes everything else.
#pragma once

#include <windows.h>

// 0 runs the first stage; FFFFFFFF the second without synchronisation; any
// other value the second stage, for the first stage of that process id.
bool RunUninstall(DWORD processId);
