#include "install/check.h"

#include "common/messages.h"
#include "common/setup_state.h"
#include "common/variables.h"
#include "device/device_setup.h"
#include "device/driver_lists.h"
#include "install/file_actions.h"
#include "install/install_sequence.h"
#include "install/uninstall_entry.h"
#include "log/install_log.h"
#include "script/script.h"

namespace {

// The box holds the report up to this size; the rest of it is only counted,
// so that a long report never grows the box beyond the screen.
const int ReportBoxSize = 1024;
// Room kept for the count of lines left out and the totals.
const int ReportEndRoom = 96;

struct CheckReport {
    const char* Family;              // "NT" or "9x"
    char Place[MessageBufferSize];   // where the step being checked looks
    bool Quiet;                      // set while a step is repeated
    int Errors;
    int Warnings;
    int LeftOut;                     // lines that did not fit the box
    HANDLE Output;                   // the caller's standard output, or null
    char WorkDir[PathBufferSize];
    char ScriptPath[PathBufferSize];
    char InstallDir[MessageBufferSize];
    char ProgramGroup[MessageBufferSize];
    char Box[ReportBoxSize];
};

CheckReport Report;

// Writes the line to the caller's output and adds it to the box while the
// box has room within `boxLimit` bytes; once a line is left out, so are all
// after it, keeping the box in order.
void AddLine(int boxLimit, const char* format, ...) {
    char line[MessageBufferSize + 2 * PathBufferSize];
    va_list args;
    va_start(args, format);
    int length = FormatBounded(line, sizeof line - 2, format, args);
    va_end(args);
    lstrcpyA(line + length, "\r\n");
    DWORD written;
    if (Report.Output)
        WriteFile(Report.Output, line, length + 2, &written, nullptr);
    int boxLength = lstrlenA(Report.Box);
    if (!Report.LeftOut && AppendText(Report.Box, boxLimit, line))
        return;
    Report.Box[boxLength] = '\0';
    Report.LeftOut++;
}

// Takes the place of the message box while the check runs: each message
// becomes a report line, an error unless it came with the warning icon.
int CollectMessage(HWND, const char* text, const char*, UINT type) {
    if (!Report.Quiet) {
        bool warning = (type & MB_ICONMASK) == MB_ICONWARNING;
        ++(warning ? Report.Warnings : Report.Errors);
        AddLine(ReportBoxSize - ReportEndRoom, "%s %s %s: %s", Report.Family, warning ? "warning" : "error",
                Report.Place, text);
    }
    return IDOK;
}

void SetPlace(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatBounded(Report.Place, sizeof Report.Place, format, args);
    va_end(args);
}

bool GivesKey(const char* section, const char* key, int shortest) {
    char value[PathBufferSize + 1];
    return ReadScriptValue(Report.ScriptPath, section, key, value, sizeof value) >= shortest;
}

// Names the section that gives `key`: the base one or its twin (a Main key
// counts where its value is not empty); a key in neither is one of the
// installer's own entries and is named alone.
void PlaceKey(const char* base, const char* key, int shortest) {
    char section[SectionNameSize];
    CopyText(section, sizeof section, base);
    if (!GivesKey(section, key, shortest)) {
        AppendOsSuffix(section, sizeof section);
        if (!GivesKey(section, key, shortest)) {
            SetPlace("%s", key);
            return;
        }
    }
    SetPlace("[%s] %s", section, key);
}

// A path that a file entry does not produce is only a warning: the file may
// come from elsewhere. The entries were checked already, so they are
// resolved again without a word.
void WarnUnlessCopied(const char* path) {
    bool copied = false;
    Report.Quiet = true;
    for (int i = 0; i < Setup.FileCount; i++) {
        char source[PathBufferSize];
        char destination[PathBufferSize];
        if (ResolveFileEntry(Setup.FileTable[i], source, destination) && lstrcmpiA(destination, path) == 0)
            copied = true;
    }
    Report.Quiet = false;
    if (!copied)
        ReportWarning("No file entry copies %s", path);
}

void CheckFiles() {
    for (int i = 0; i < Setup.FileCount; i++) {
        const FileEntry& entry = Setup.FileTable[i];
        char source[PathBufferSize];
        char destination[PathBufferSize];
        PlaceKey("Files", FileName(entry), 0);
        if (!ResolveFileEntry(entry, source, destination))
            continue;
        HANDLE file = OpenForReading(source, source);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
}

void CheckLinks() {
    char group[PathBufferSize];
    PlaceKey("Main", "StartMenuFolder", 1);
    if (!ProgramGroupPath(Setup.ProgramGroup, group, sizeof group))
        return;
    for (int i = 0; i < Setup.LinkCount; i++) {
        const LinkEntry& entry = Setup.LinkTable[i];
        char target[PathBufferSize];
        char path[PathBufferSize];
        PlaceKey("Links", ShortcutName(entry), 0);
        if (ExpandVariables(target, sizeof target, TargetPath(entry)) != ExpandFailed &&
            ShortcutPath(path, group, ShortcutName(entry)) && IsInInstallDir(target))
            WarnUnlessCopied(target);
    }
}

// The INF file is found and read as the device step finds and reads it. On
// NT the driver is loaded from the system directory, where a file entry is
// to put it.
void CheckDevice() {
    PlaceKey("Main", "DeviceInfFile", 1);
    OFSTRUCT inf;
    if (!LocateInfFile(Setup.DeviceInfFile, &inf))
        return;
    SetPlace("%s", Setup.DeviceInfFile);
    char text[InfSectionSize];
    DriverLine line;
    if (!ReadDriverLine(inf.szPathName, Setup.DeviceName, text, sizeof text, &line) ||
        !DriverLineTypes(&line, Setup.DeviceName) || !Setup.IsWindowsNT)
        return;
    char system[PathBufferSize];
    char driver[PathBufferSize];
    GetSystemDirectoryA(system, sizeof system);
    if (JoinPath(driver, sizeof driver, system, line.DriverFile))
        WarnUnlessCopied(driver);
}

// The directories dialog starts from the expanded defaults, expanded before
// either is chosen; the check takes them as the user's choice.
bool ChooseDefaults() {
    PlaceKey("Main", "DefaultInstallDir", 1);
    if (ExpandVariables(Report.InstallDir, sizeof Report.InstallDir, Setup.DefaultInstallDir) == ExpandFailed)
        return false;
    PlaceKey("Main", "DefaultProgramGroup", 1);
    if (ExpandVariables(Report.ProgramGroup, sizeof Report.ProgramGroup, Setup.DefaultProgramGroup) ==
        ExpandFailed)
        return false;
    Setup.InstallDir = Report.InstallDir;
    Setup.ProgramGroup = Report.ProgramGroup;
    return true;
}

// Add/Remove Programs lists the product under a key named after AppName.
void CheckUninstallKeyName() {
    char name[MessageBufferSize];
    if (UninstallKeyName(name))
        return;
    PlaceKey("Main", "AppName", 1);
    ReportWarning("A registry key name cannot hold a backslash: the product's Add/Remove Programs key is %s", name);
}

// One family: the script as loaded for it, then each step that would use
// it. What one family loaded is forgotten before the next loads.
void CheckFamily() {
    for (const ScriptKeyDef* key = MainKeyTable; key->Name; key++)
        Setup.*(key->Field) = nullptr;
    Setup.InstallDir = nullptr;
    Setup.ProgramGroup = nullptr;
    Setup.FileCount = 0;
    Setup.LinkCount = 0;
    SetPlace("setup.ini");
    if (!PrepareScript() || !JoinPath(Report.ScriptPath, sizeof Report.ScriptPath, Setup.WorkDir, "setup.ini") ||
        !ChooseDefaults())
        return;
    CheckUninstallKeyName();
    if (Setup.LicenseFile) {
        PlaceKey("Main", "LicenseFile", 1);
        FreeBlock(ReadWholeFile(Setup.WorkDir, Setup.LicenseFile, nullptr));
    }
    CheckFiles();
    CheckLinks();
    if (Setup.DeviceName)
        CheckDevice();
}

}  // namespace

bool RunCheck() {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (GetFileType(output) != FILE_TYPE_UNKNOWN)
        Report.Output = output;
    // The distribution's own setup.exe is the one that would install: the
    // installer's entries for itself come from the folder checked, and the
    // INF file is found there as beside the program, the folder being the
    // current directory. Its full path names the files in the report.
    if (SetCurrentDirectoryA(Setup.WorkDir)) {
        DWORD length = GetCurrentDirectoryA(sizeof Report.WorkDir, Report.WorkDir);
        if (length && length < sizeof Report.WorkDir)
            Setup.WorkDir = Report.WorkDir;
    }
    Setup.ProgramDir = Setup.WorkDir;
    // An unattended check (-s -t) hands its report to the unattended
    // responder, which records it instead of showing it.
    MessageBoxResponder previous = SetMessageBoxResponder(CollectMessage);
    Report.Family = "NT";
    Setup.IsWindowsNT = TRUE;
    CheckFamily();
    Report.Family = "9x";
    Setup.IsWindowsNT = FALSE;
    CheckFamily();
    SetMessageBoxResponder(previous);
    if (Report.LeftOut) {
        wsprintfA(Report.Box + lstrlenA(Report.Box), "(%u more lines do not fit here)\r\n", Report.LeftOut);
        Report.LeftOut = 0;
    }
    AddLine(ReportBoxSize, "%u errors, %u warnings", Report.Errors, Report.Warnings);
    Report.Box[lstrlenA(Report.Box) - 2] = '\0';  // the totals end the box
    ShowMessageBox(nullptr, Report.Box, "Setup",
                   Report.Errors ? MB_ICONERROR : Report.Warnings ? MB_ICONWARNING : MB_ICONINFORMATION);
    return Report.Errors == 0;
}
