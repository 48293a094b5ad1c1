#include "install/install_sequence.h"

#include "common/messages.h"
#include "common/setup_state.h"
#include "common/variables.h"
#include "device/device_setup.h"
#include "install/dialogs.h"
#include "install/file_actions.h"
#include "install/uninstall_entry.h"
#include "log/install_log.h"
#include "log/replay.h"
#include "script/script.h"

namespace {

const char LogHeader[] =
    ";\r\n; Caution!\r\n; Do not delete or modify this file. It is required to product uninstallation.\r\n;\r\n";

// The device name may use variables; %InstallDir% has no value yet here.
bool ExpandDeviceName() {
    char expanded[MessageBufferSize];
    if (ExpandVariables(expanded, sizeof expanded, Setup.DeviceName) == ExpandFailed)
        return false;
    FreeBlock(Setup.DeviceName);
    Setup.DeviceName = DuplicateString(expanded);
    return Setup.DeviceName != nullptr;
}

bool PrepareDevice() {
    if (!Setup.DeviceName)
        return true;
    if (!Setup.DeviceInfFile) {
        ReportError("Device INF file name not specified");
        return false;
    }
    return ExpandDeviceName() && DeviceNameFits(Setup.DeviceName);
}

// The program copies itself into the installation directory, where it
// serves as the uninstaller; on Windows 9x the 16-bit device manager goes
// beside it. Both come from the running program's own directory.
bool AppendAutomaticEntries() {
    if (!AddEntry(Setup.FileTable, &Setup.FileCount, Setup.ProgramName, "%InstallDir%", Setup.ProgramDir))
        return false;
    if (!Setup.IsWindowsNT && Setup.DeviceName &&
        !AddEntry(Setup.FileTable, &Setup.FileCount, "devmgr16.dll", "%InstallDir%", Setup.ProgramDir))
        return false;
    // Room for the prefix and any program name the system can report.
    char target[PathBufferSize + 16];
    CopyText(target, sizeof target, "%InstallDir%\\");
    AppendText(target, sizeof target, Setup.ProgramName);
    return AddEntry(Setup.LinkTable, &Setup.LinkCount, "Uninstall %AppName%", target, "-u");
}

bool UserConfirms() {
    return AskUser("Setup", ConfirmationBox,
                   "%s %s will be installed on your computer.\nDo you want to continue?", Setup.AppName,
                   Setup.AppVersion) == IDYES;
}

bool ChooseDirectories() {
    if (Setup.LicenseFile && !ShowLicenseDialog())
        return false;
    return ShowDirectoriesDialog();
}

// The flush command runs minimised and is waited for; one that cannot start
// is only a warning.
void RunFlushCommand() {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_MINIMIZE;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(nullptr, Setup.FlushCommand, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        ReportWarning("Warning: cannot start \"%s\" (%s)", Setup.FlushCommand, LastErrorText());
        return;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

// The device stage: installs the device and logs it.
bool InstallDeviceStep() {
    if (!SetupDevice(true, Setup.DeviceName, Setup.DeviceInfFile))
        return false;
    return LogEvent(InstallDeviceEvent, "%s %s", Setup.DeviceTypeText, Setup.DeviceName);
}

bool DeviceStage() {
    if (!Setup.DeviceName)
        return true;
    if (Setup.FlushCommand)
        RunFlushCommand();
    return InstallDeviceStep();
}

bool StartLog() {
    return AppendLogLine(LogHeader) && LogEvent(AppNameEvent, "%s", Setup.AppName);
}

bool RunStages() {
    return StartLog() && CreateLoggedDirectory(Setup.InstallDir) && SaveInstallLog() && CreateLinks() &&
           SaveInstallLog() && CopyFiles() && SaveInstallLog() && CreateUninstallEntry() && DeviceStage() &&
           SaveInstallLog();
}

}  // namespace

bool PrepareScript() {
    return LoadSetupScript() && PrepareDevice() && AppendAutomaticEntries();
}

bool RunInstall() {
    bool succeeded = PrepareScript() && UserConfirms() && ChooseDirectories() && RunStages();
    if (succeeded) {
        ShowMessageBox(nullptr, "Installation complete.", Setup.AppName, MB_ICONINFORMATION);
        return true;
    }
    // Undo everything logged so far, newest first; before the log was
    // started there is nothing to undo.
    ReplayLog(Setup.InstallLog.Text, AllEvents);
    return false;
}
