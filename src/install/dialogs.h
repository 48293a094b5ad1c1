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

// Takes the directories as the dialog (or an unattended run) gives them: the
// installation directory, its references expanded once, is the one full path
// that every stage uses (creation, the reuse question, the log, the copies,
// the shortcuts); the group name is kept as typed. A directory that is no
// full path (an empty one included) or an empty group is refused with a
// message owned by `owner` that says what to enter, and the id of its field
// is returned. Otherwise IDOK once both are stored in InstallDir and
// ProgramGroup, IDCANCEL when they cannot be (reported).
int StoreDirectoryChoice(HWND owner, const char* directory, const char* group);

// Puts up the progress window with `text`; the work goes on meanwhile.
// Always paired with HideProgress.
void ShowProgress(const char* text);
void HideProgress();
