// Deletion at the next restart, temporary files, and the restart itself.
#pragma once

#include <windows.h>

// Restarts Windows; a refusal is shown to the user.
void RestartWindows();
