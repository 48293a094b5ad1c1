#include "install/dialogs.h"

#include "common/messages.h"
#include "common/setup_state.h"
#include "common/variables.h"
#include "log/install_log.h"
#include "resource.h"

namespace {

// The progress window while one is shown.
HWND ProgressWindow;

// Set by the procedure of a modal dialog once its window exists.
// DialogBoxParamA ends with 0 both for a dialog the user closed and for one
// that could not be created without an owner; only this tells them apart.
bool DialogCreated;

bool RunModalDialog(int templateId, DLGPROC procedure) {
    DialogCreated = false;
    INT_PTR result =
        DialogBoxParamA(Setup.InstanceHandle, MAKEINTRESOURCEA(templateId), nullptr, procedure, 0);
    if (result == -1 || !DialogCreated) {
        ReportError("Cannot create dialog (%s)", LastErrorText());
        return false;
    }
    return result != 0;
}

void FailDialogInit(HWND dialog) {
    ReportErrorOwned(dialog, "Cannot init dialog");
    EndDialog(dialog, 0);
}

bool SetControlText(HWND dialog, int id, const char* text) {
    return SendDlgItemMessageA(dialog, id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) != 0;
}

bool PutLicenseText(HWND dialog) {
    char* text = ReadWholeFile(Setup.WorkDir, Setup.LicenseFile, nullptr);
    if (!text)
        return false;
    bool shown = SetControlText(dialog, IDC_LICENSE_TEXT, text);
    FreeBlock(text);
    return shown;
}

INT_PTR CALLBACK LicenseProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        DialogCreated = true;
        if (!PutLicenseText(dialog))
            FailDialogInit(dialog);
        // Decline, the default button, keeps the focus: Enter declines.
        SetFocus(GetDlgItem(dialog, IDCANCEL));
        return FALSE;
    }
    if (message == WM_COMMAND) {
        switch (LOWORD(wParam)) {
        case IDOK:
            return EndDialog(dialog, 1);
        case IDCANCEL:  // also Escape and the close box
            return EndDialog(dialog, 0);
        }
    }
    return FALSE;
}

bool StoreText(char** field, const char* text) {
    char* copy = DuplicateString(text);
    if (!copy)
        return false;
    FreeBlock(*field);
    *field = copy;
    return true;
}

// Takes the directories as the dialog (or an unattended run) gives them: the
// installation directory, its references expanded once, is the one full path
// that every stage uses (creation, the reuse question, the log, the copies,
// the shortcuts); the group name is kept as typed. A directory that is no
// full path (an empty one included) or an empty group is refused with a
// message owned by `owner` that says what to enter, and the id of its field
// is returned. Otherwise IDOK once both are stored in InstallDir and
// ProgramGroup, IDCANCEL when they cannot be (reported).
int StoreDirectoryChoice(HWND owner, const char* directory, const char* group) {
    char expanded[PathBufferSize];
    if (ExpandVariables(expanded, sizeof expanded, directory) == ExpandFailed)
        return IDC_INSTALL_DIR;
    // A full path begins at a drive's root (C:\) or at a network share
    // (\\server\share); anything else would be resolved against whatever
    // the current directory is, at install and again at uninstall.
    char drive = static_cast<char>(expanded[0] | 0x20);
    if (!(drive >= 'a' && drive <= 'z' && expanded[1] == ':' && expanded[2] == '\\') &&
        !(expanded[0] == '\\' && expanded[1] == '\\')) {
        ReportErrorOwned(owner, "Please enter the installation directory as a full path, such as %s\\%s.",
                         Setup.ProgramFilesDir, Setup.AppName);
        return IDC_INSTALL_DIR;
    }
    // An empty name would make the Start-menu folder itself the group.
    if (*SkipBlanks(group) == '\0') {
        ReportErrorOwned(owner, "Please enter the program group name.");
        return IDC_PROGRAM_GROUP;
    }
    return StoreText(&Setup.InstallDir, expanded) && StoreText(&Setup.ProgramGroup, group) ? IDOK : IDCANCEL;
}

// Starts an edit with the expansion of a default. The user may type up to a
// whole path, never more.
bool PutExpandedDefault(HWND dialog, int id, const char* text) {
    char expanded[MessageBufferSize];
    SendDlgItemMessageA(dialog, id, EM_LIMITTEXT, PathBufferSize - 1, 0);
    return ExpandVariables(expanded, sizeof expanded, text) != ExpandFailed &&
           SetControlText(dialog, id, expanded);
}

// Reads the edit into `text` of PathBufferSize + 1 bytes. A text longer than a
// path (only a program, not the keyboard, can put one there) is refused
// rather than cut.
bool ReadEditText(HWND dialog, int id, char* text) {
    text[0] = '\0';
    LRESULT length = SendDlgItemMessageA(dialog, id, WM_GETTEXT, PathBufferSize + 1, reinterpret_cast<LPARAM>(text));
    if (length <= PathBufferSize - 1)
        return true;
    ReportErrorOwned(dialog, "The text is too long (at most %u characters are allowed)", PathBufferSize - 1);
    return false;
}

INT_PTR CALLBACK DirectoriesProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        DialogCreated = true;
        if (!PutExpandedDefault(dialog, IDC_INSTALL_DIR, Setup.DefaultInstallDir) ||
            !PutExpandedDefault(dialog, IDC_PROGRAM_GROUP, Setup.DefaultProgramGroup))
            FailDialogInit(dialog);
        return FALSE;
    }
    if (message == WM_COMMAND) {
        switch (LOWORD(wParam)) {
        case IDOK: {
            char directory[PathBufferSize + 1];
            char group[PathBufferSize + 1];
            if (!ReadEditText(dialog, IDC_INSTALL_DIR, directory) || !ReadEditText(dialog, IDC_PROGRAM_GROUP, group))
                return TRUE;
            int result = StoreDirectoryChoice(dialog, directory, group);
            if (result == IDOK || result == IDCANCEL)
                return EndDialog(dialog, result == IDOK);
            // Refused: the dialog stays open at that field, its text selected.
            SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, result)), TRUE);
            return TRUE;
        }
        case IDCANCEL:  // also Escape and the close box
            return EndDialog(dialog, 0);
        }
    }
    return FALSE;
}

// The progress window is a notice: it handles nothing itself.
INT_PTR CALLBACK PassiveProcedure(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

// What the dialogs take in an unattended run: the licence counts as
// accepted once it can be read; the installation directory is -d's
// directory or DefaultInstallDir, the group DefaultProgramGroup expanded,
// both checked as the dialog checks what the user typed.
bool AcceptLicenseUnattended() {
    char* text = ReadWholeFile(Setup.WorkDir, Setup.LicenseFile, nullptr);
    FreeBlock(text);
    return text != nullptr;
}

bool TakeDirectoriesUnattended() {
    // The dialog would start from the expanded default group.
    char group[PathBufferSize];
    const char* directory = Setup.InstallDirOption ? Setup.InstallDirOption : Setup.DefaultInstallDir;
    return ExpandVariables(group, sizeof group, Setup.DefaultProgramGroup) != ExpandFailed &&
           StoreDirectoryChoice(nullptr, directory, group) == IDOK;
}

}  // namespace

// An unattended run creates no window: the dialogs take their defaults.
bool ShowLicenseDialog() {
    if (Setup.Unattended)
        return AcceptLicenseUnattended();
    return RunModalDialog(IDD_LICENSE, LicenseProcedure);
}

bool ShowDirectoriesDialog() {
    if (Setup.Unattended)
        return TakeDirectoriesUnattended();
    return RunModalDialog(IDD_DIRECTORIES, DirectoriesProcedure);
}

void ShowProgress(const char* text) {
    HideProgress();  // never two at a time
    if (Setup.Unattended)
        return;
    // A window that cannot be created leaves the device work unaffected.
    ProgressWindow =
        CreateDialogParamA(Setup.InstanceHandle, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, PassiveProcedure, 0);
    SetControlText(ProgressWindow, IDC_PROGRESS_TEXT, text);
    // No message loop runs while the device work goes on: paint the text now.
    UpdateWindow(ProgressWindow);
}

void HideProgress() {
    if (ProgressWindow)
        DestroyWindow(ProgressWindow);
    ProgressWindow = nullptr;
}
