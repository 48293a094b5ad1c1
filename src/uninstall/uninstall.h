// The two-stage uninstall.
#pragma once

#include <windows.h>

// 0 runs the first stage; FFFFFFFF the second without synchronisation; any
// other value the second stage, waiting for that process.
bool RunUninstall(DWORD processId);
