// The setup dialogs: the licence agreement and the choice of directories
// (modal), and the progress notice shown while the device is set up.
#pragma once

#include <windows.h>

// Shows the licence file (LicenseFile in WorkDir). True when the user
// accepted it; false when declined or when the dialog could not be shown.
bool ShowLicenseDialog();

// Lets the user confirm or edit the installation directory and the program
// group name, starting from the expanded defaults. On Install stores the
// installation directory with its references expanded (a full path) in
// InstallDir and the group name as typed in ProgramGroup, and returns true.
// An empty field or a directory that is no full path is refused with a
// message, and the dialog stays open with the texts as typed.
bool ShowDirectoriesDialog();

// Puts up the progress window with `text`; the work goes on meanwhile.
// Always paired with HideProgress.
void ShowProgress(const char* text);
void HideProgress();
