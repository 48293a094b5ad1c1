#include "startup/startup.h"

#include <objbase.h>

#include "common/messages.h"
#include "common/setup_state.h"
#include "common/test_seams.h"
#include "common/variables.h"
#include "install/check.h"
#include "install/install_sequence.h"
#include "registry/registry.h"
#include "startup/unattended.h"
#include "uninstall/deferred.h"
#include "uninstall/uninstall.h"

SetupState Setup;

const char* ArgumentTextOf(const char* commandLine) {
    const char* end;
    if (*commandLine == '"') {
        end = commandLine + 1;
        while (*end && *end != '"')
            end++;
    } else {
        end = commandLine;
        while (*end && *end != ' ')
            end++;
    }
    if (!*end)
        return end;
    return SkipBlanks(end + 1);
}

namespace {

// Digit value of a character, or a value no radix accepts.
unsigned DigitValue(char c) {
    char upper[1] = {c};
    CharUpperBuffA(upper, 1);
    if (upper[0] >= '0' && upper[0] <= '9')
        return upper[0] - '0';
    if (upper[0] >= 'A' && upper[0] <= 'Z')
        return upper[0] - 'A' + 10;
    return 36;
}

// Reads a number at the start of `text`; `end` receives the first character
// not taken. Digits beyond 32 bits stay in the text.
DWORD ParseNumber(const char* text, unsigned radix, const char** end) {
    DWORD value = 0;
    for (;; text++) {
        unsigned digit = DigitValue(*text);
        if (digit >= radix)
            break;
        unsigned long long next = (unsigned long long)value * radix + digit;
        if (next > 0xFFFFFFFFull)
            break;
        value = (DWORD)next;
    }
    *end = text;
    return value;
}

}  // namespace

bool InterpretCommandLine(const char* arguments, const char* currentDir, const char* programDir,
                          CommandLineChoice* choice) {
    choice->Mode = InstallMode;
    choice->ProcessId = 0;
    choice->DirectoryText = nullptr;
    if (arguments[0] == '-') {
        char selector = arguments[1];
        if (selector == 'c') {
            choice->DirectoryText = currentDir;
        } else if (selector == 't') {
            choice->Mode = CheckMode;
            choice->DirectoryText = SkipBlanks(arguments + 2);
        } else if (selector == 'u') {
            const char* rest = SkipBlanks(arguments + 2);
            choice->Mode = UninstallMode;
            choice->ProcessId = ParseNumber(rest, 16, &rest);
            choice->DirectoryText = SkipBlanks(rest);
        } else {
            ReportError("Invalid command line switch \"%c\"", selector);
            return false;
        }
    } else if (arguments[0]) {
        ReportError("Invalid command line \"%s\"", arguments);
        return false;
    }
    if (!choice->DirectoryText || !choice->DirectoryText[0])
        choice->DirectoryText = programDir;
    return true;
}

namespace {

const char RestartQuestion[] =
    "Uninstaller cannot delete some files because they are in use.\n"
    "To properly delete them, Windows must be restarted. If you choose\n"
    "to restart later, you must not try to install this product until\n"
    "the files will be deleted.\n\nRestart Windows now?";

bool InitializeCom() {
    HRESULT result = CoInitialize(nullptr);
    if (FAILED(result)) {
        SetLastError(result);
        ReportError("Cannot initialize COM (%s)", LastErrorText());
        return false;
    }
    return true;
}

bool CheckOsVersion() {
    OSVERSIONINFOA version;
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) {
        // Without a version the program cannot know the system supports it.
        ReportError("OS versions before 4.0 are not supported (%s)", LastErrorText());
        return false;
    }
    if (version.dwMajorVersion < 4) {
        ReportError("OS versions before 4.0 are not supported");
        return false;
    }
    Setup.IsWindowsNT = version.dwPlatformId == VER_PLATFORM_WIN32_NT;
    return true;
}

bool LoadProgramPaths() {
    char path[PathBufferSize];
    if (!TextFits(GetModuleFileNameA(nullptr, path, sizeof path), sizeof path)) {
        ReportError("Cannot get process module name (%s)", LastErrorText());
        return false;
    }
    Setup.ProgramPath = DuplicateString(path);
    if (!Setup.ProgramPath)
        return false;
    // The system gives a full path, which always has a backslash.
    char* lastBackslash = FindLastBackslash(path);
    Setup.ProgramName = DuplicateString(lastBackslash ? lastBackslash + 1 : path);
    if (!Setup.ProgramName)
        return false;
    *(lastBackslash ? lastBackslash : path) = '\0';
    Setup.ProgramDir = DuplicateString(path);
    return Setup.ProgramDir != nullptr;
}

bool LoadCurrentDir() {
    char path[PathBufferSize];
    if (!TextFits(GetCurrentDirectoryA(sizeof path, path), sizeof path)) {
        ReportError("Cannot get current directory path (%s)", LastErrorText());
        return false;
    }
    Setup.CurrentDir = DuplicateString(path);
    return Setup.CurrentDir != nullptr;
}

bool AllocateTables() {
    Setup.FileTable = static_cast<EntryRecord*>(AllocBlock(FileTableRoom * sizeof(EntryRecord)));
    Setup.LinkTable = static_cast<EntryRecord*>(AllocBlock(LinkTableRoom * sizeof(EntryRecord)));
    return Setup.FileTable && Setup.LinkTable;
}

bool StartUp(HINSTANCE instance) {
    Setup.InstanceHandle = instance;
    return CheckOsVersion() && LoadProgramPaths() && LoadCurrentDir() && InitializeCom() &&
           LoadSystemFolders() && AllocateTables();
}

const char DeviceInstalledQuestion[] =
    "The device driver has been installed. Windows must be restarted before the device can be used.\n\n"
    "Restart Windows now?";
const char DeviceRemovedQuestion[] =
    "The device driver has been removed. Windows must be restarted to complete its removal.\n\n"
    "Restart Windows now?";

// The question about the restart that the run needs, or null. Files in use
// are the weightier reason: their text asks not to install meanwhile.
const char* RestartQuestionFor(bool installed) {
    if (Setup.RestartNeeded)
        return RestartQuestion;
    if (Setup.DeviceRestartNeeded)
        return installed ? DeviceInstalledQuestion : DeviceRemovedQuestion;
    return nullptr;
}

void OfferRestart(const char* question) {
    if (ShowMessageBox(nullptr, question, "Setup", MB_ICONWARNING | MB_YESNO) == IDYES)
        RestartWindows();
}

// An uninstall's first stage that handed a device's restart over to its
// copy tells it so by ending with 3010.
int ExitCodeOf(bool succeeded) {
    if (Setup.Unattended)
        return UnattendedExitCode(succeeded);
    return !succeeded ? 1 : Setup.RestartHandedOver ? ERROR_SUCCESS_REBOOT_REQUIRED : 0;
}

int WINAPI SetupMain(HINSTANCE instance, HINSTANCE, const char* arguments, int) {
    arguments = TakeUnattendedSwitches(arguments);
    if (!arguments || !StartUp(instance))
        return ExitCodeOf(false);
    CommandLineChoice choice;
    if (!InterpretCommandLine(arguments, Setup.CurrentDir, Setup.ProgramDir, &choice))
        return ExitCodeOf(false);
    Setup.WorkDir = DuplicateString(choice.DirectoryText);
    if (!Setup.WorkDir)
        return ExitCodeOf(false);
    bool succeeded = choice.Mode == CheckMode     ? RunCheck()
                     : choice.Mode == InstallMode ? RunInstall()
                                                  : RunUninstall(choice.ProcessId);
    // An unattended run never asks about the restart: its exit code tells.
    const char* question = RestartQuestionFor(choice.Mode == InstallMode && succeeded);
    if (question && !Setup.Unattended)
        OfferRestart(question);
    return ExitCodeOf(succeeded);
}

}  // namespace

extern "C" void WINAPI ProgramEntry() {
    STARTUPINFOA startup;
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    const char* arguments = ArgumentTextOf(GetCommandLineA());
    ExitProcess(SetupMain(GetModuleHandleA(nullptr), nullptr, arguments, startup.wShowWindow));
}
