// The setup dialogs: the licence agreement and the choice of directories
// (modal), and the progress notice shown while the device is set up.
#pragma once

// Shows the licence file (LicenseFile in WorkDir). True when the user
// accepted it; false when declined or when the dialog could not be shown.
bool ShowLicenseDialog();

// Lets the user confirm or edit the installation directory and the program
// group name, starting from the expanded defaults. On Install stores the texts
// as typed in InstallDir and ProgramGroup and returns true.
bool ShowDirectoriesDialog();

// Puts up the progress window with `text`; the work goes on meanwhile.
// Always paired with HideProgress.
void ShowProgress(const char* text);
void HideProgress();
