#include "uninstall/uninstall.h"

#include "common/files.h"
#include "common/messages.h"
#include "common/setup_state.h"
#include "common/variables.h"
#include "log/install_log.h"
#include "log/replay.h"
#include "uninstall/deferred.h"

namespace {

const DWORD ProcessIdWithoutSync = 0xFFFFFFFF;
const DWORD SignalTimeout = 10000;
const DWORD PrimaryExitTimeout = 30000;
const DWORD ConnectFailurePause = 10000;

// Room for " -s -u XXXXXXXX " and a working directory the size of a path.
const int CommandTailSize = PathBufferSize + 16;

// COMMAND.COM, which runs the Windows 9x batch file, cuts longer lines.
const int BatchLineLimit = 127;
const char StartCommand[] = "start /w ";

// Everything StartDetachedCopy made, so that a failure can take it back.
struct DetachedCopy {
    char CopyPath[PathBufferSize];
    char BatchPath[PathBufferSize];
    bool BatchCreated;
    HANDLE DeleteOnClose;
    HANDLE BatchFile;
};

// The event's name is the working directory with "/" for every "\", which
// a kernel object name may not hold.
bool SyncEventName(char* name, int size) {
    if (!CopyText(name, size, Setup.WorkDir)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    for (char* p = FindBackslash(name); p; p = FindBackslash(p + 1))
        *p = '/';
    return true;
}

// An unattended first stage hands its -s on to the second.
bool FormatCommandTail(char* tail, int size) {
    wsprintfA(tail, Setup.Unattended ? " -s -u %08X " : " -u %08X ", GetCurrentProcessId());
    if (AppendText(tail, size, Setup.WorkDir))
        return true;
    ReportError("Installation directory path is too long: %s", Setup.WorkDir);
    return false;
}

bool CopyRunningProgram(DetachedCopy* copy) {
    if (CopyWritableFile(Setup.ProgramPath, copy->CopyPath))
        return true;
    ReportError("Cannot copy setup file to %s (%s)", copy->CopyPath, LastErrorText());
    return false;
}

// NT removes the copy by itself once the last handle is closed and the
// process running from it has ended.
void MarkCopyForDeletion(DetachedCopy* copy) {
    copy->DeleteOnClose = CreateFileA(copy->CopyPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (copy->DeleteOnClose == INVALID_HANDLE_VALUE)
        DeleteOnRestart(copy->CopyPath);
}

// Windows 9x has no delete-on-close for a running program: a hidden batch
// file waits for the copy to end and then deletes it and itself. Its lines
// name both files by their short forms, as the tail names the installation
// directory: so the start line keeps within what COMMAND.COM reads, and no
// name holds a blank.
bool WriteBatchFile(DetachedCopy* copy, const char* tail) {
    copy->BatchFile = CreateTempFile(copy->BatchPath, sizeof copy->BatchPath, "BAT");
    if (copy->BatchFile == INVALID_HANDLE_VALUE)
        return false;
    copy->BatchCreated = true;
    GetShortForm(copy->BatchPath, copy->BatchPath);
    GetShortForm(copy->CopyPath, copy->CopyPath);
    if (lstrlenA(StartCommand) + lstrlenA(copy->CopyPath) + lstrlenA(tail) > BatchLineLimit) {
        ReportError("Installation directory path is too long for the command interpreter: %s", Setup.WorkDir);
        return false;
    }
    char text[4 * PathBufferSize + CommandTailSize + 64];
    wsprintfA(text, "@echo off\r\n%s", StartCommand);
    const char* parts[] = {copy->CopyPath, tail, "\r\ndel ", copy->CopyPath, "\r\ndel ", copy->BatchPath, "\r\n"};
    for (const char* part : parts)
        AppendText(text, sizeof text, part);
    DWORD length = lstrlenA(text);
    DWORD written = 0;
    if (!WriteFile(copy->BatchFile, text, length, &written, nullptr) || written != length) {
        ReportError("Cannot write text to %s (%s)", copy->BatchPath, LastErrorText());
        return false;
    }
    CloseHandle(copy->BatchFile);
    copy->BatchFile = INVALID_HANDLE_VALUE;
    return true;
}

bool BatchCommandLine(const DetachedCopy* copy, char* commandLine, int size) {
    char interpreter[PathBufferSize];
    SetLastError(ERROR_SUCCESS);
    DWORD length = GetEnvironmentVariableA("ComSpec", interpreter, sizeof interpreter);
    if (length == 0 && GetLastError() == ERROR_SUCCESS)
        SetLastError(ERROR_ENVVAR_NOT_FOUND);  // an empty value names no interpreter either
    if (!TextFits(length, sizeof interpreter)) {
        ReportError("Cannot get command interpreter path (%s)", LastErrorText());
        return false;
    }
    CopyText(commandLine, size, interpreter);
    AppendText(commandLine, size, " /c ");
    AppendText(commandLine, size, copy->BatchPath);
    return true;
}

bool StartCopyProcess(const char* application, char* commandLine, WORD showWindow) {
    char currentDir[PathBufferSize];
    if (!GetTempDir(currentDir, sizeof currentDir))
        return false;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (showWindow == SW_HIDE) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
    }
    PROCESS_INFORMATION process;
    if (!CreateProcessA(application, commandLine, nullptr, nullptr, FALSE, CREATE_DEFAULT_ERROR_MODE, nullptr,
                        currentDir, &startup, &process)) {
        ReportError("Cannot start fork process (%s)", LastErrorText());
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

bool LaunchCopy(DetachedCopy* copy) {
    char tail[CommandTailSize];
    if (!FormatCommandTail(tail, sizeof tail))
        return false;
    if (Setup.IsWindowsNT) {
        MarkCopyForDeletion(copy);
        return StartCopyProcess(copy->CopyPath, tail, SW_SHOWDEFAULT);
    }
    char commandLine[2 * PathBufferSize + 8];
    return WriteBatchFile(copy, tail) && BatchCommandLine(copy, commandLine, sizeof commandLine) &&
           StartCopyProcess(nullptr, commandLine, SW_HIDE);
}

bool WaitForSignal(HANDLE event) {
    DWORD result = WaitForSingleObject(event, SignalTimeout);
    if (result == WAIT_OBJECT_0)
        return true;
    if (result == WAIT_TIMEOUT)
        ReportError("Cannot get answer from EXE copy");
    else
        ReportError("Error waiting for event (%s)", LastErrorText());
    return false;
}

void FinishDetachedCopy(DetachedCopy* copy, bool succeeded) {
    if (copy->DeleteOnClose != INVALID_HANDLE_VALUE)
        CloseHandle(copy->DeleteOnClose);
    if (copy->BatchFile != INVALID_HANDLE_VALUE)
        CloseHandle(copy->BatchFile);
    if (succeeded)
        return;
    DeleteFileA(copy->CopyPath);
    if (copy->BatchCreated)
        DeleteFileA(copy->BatchPath);
}

// Creates (first stage) or opens (second stage) the event named after the
// working directory; null when it cannot (reported).
HANDLE AcquireSyncEvent(bool open) {
    char name[PathBufferSize];
    HANDLE event = nullptr;
    DWORD error = ERROR_FILENAME_EXCED_RANGE;
    if (SyncEventName(name, sizeof name)) {
        SetLastError(ERROR_SUCCESS);
        event = CreateEventA(nullptr, FALSE, FALSE, name);
        error = GetLastError();
        if (event && error == (open ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS))
            return event;
        // Opening found no event of the first stage: say so, not "success".
        if (event && open)
            error = ERROR_FILE_NOT_FOUND;
    }
    if (event)
        CloseHandle(event);
    SetLastError(error);
    ReportError("Cannot %s sync event (%s)", open ? "open" : "create", LastErrorText());
    return nullptr;
}

// Starts the temporary copy as the second stage and waits for its signal.
bool StartDetachedCopy(HANDLE event) {
    DetachedCopy copy = {};
    copy.DeleteOnClose = INVALID_HANDLE_VALUE;
    copy.BatchFile = INVALID_HANDLE_VALUE;
    HANDLE file = CreateTempFile(copy.CopyPath, sizeof copy.CopyPath, "EXE");
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    bool succeeded = CopyRunningProgram(&copy) && LaunchCopy(&copy) && WaitForSignal(event);
    FinishDetachedCopy(&copy, succeeded);
    return succeeded;
}

// The product name is taken whole, however long a hand-edited log made it:
// a buffer the size of the whole text always holds it.
bool ConfirmUninstall(const char* text) {
    DWORD size = lstrlenA(text) + 1;
    char* name = static_cast<char*>(AllocBlock(size));
    if (!name)
        return false;
    bool confirmed = false;
    if (!FindEventArgument(name, size, text, AppNameEvent))
        ReportError("No %s event in %s file", EventNameOf(AppNameEvent), "install.log");
    else
        confirmed = AskUser("Uninstall", ConfirmationBox, "Do you really want to uninstall %s?", name) == IDYES;
    FreeBlock(name);
    return confirmed;
}

// Everything but the device, then the completion message unless a file
// waits for the restart.
void RemoveAllButDevice(char* text) {
    ReplayLog(text, ~EventBit(InstallDeviceEvent));
    if (!Setup.RestartNeeded)
        ShowMessageBox(nullptr, "Uninstallation complete.", "Uninstall", MB_ICONINFORMATION);
}

// An unattended run from outside the installation needs no copy of itself:
// this process removes the device and then everything else, so whoever
// started it can wait for the whole uninstall. Each replay cuts up the text
// it walks, so the device gets a copy.
void RunInOneProcess(char* text) {
    char* copy = DuplicateString(text);
    if (copy && ReplayLog(copy, EventBit(InstallDeviceEvent)))
        RemoveAllButDevice(text);
    FreeBlock(copy);
}

// Whether the CreateFile lines of the log `text` name the running program,
// which then cannot remove itself and hands over to a temporary copy.
bool LogListsRunningProgram(const char* text) {
    char running[PathBufferSize];
    // Short forms, so that two names of one file compare equal.
    if (!GetShortForm(Setup.ProgramPath, running))
        return true;  // unknown: the copy is the safe way
    int length;
    for (const char* argument = text; (argument = FindEventLine(argument, CreateFileEvent, &length));
         argument += length) {
        char logged[PathBufferSize];
        char loggedShort[PathBufferSize];
        if (length >= PathBufferSize)
            continue;  // no path of a running program is that long
        for (int i = 0; i < length; i++)
            logged[i] = argument[i];
        logged[length] = '\0';
        if (GetShortForm(logged, loggedShort) && lstrcmpiA(loggedShort, running) == 0)
            return true;
    }
    return false;
}

// A restart that the removed device asked for is offered by the copy, once
// everything else is gone; it learns of it from this process's exit code.
void HandOverDeviceRestart() {
    Setup.RestartHandedOver = Setup.DeviceRestartNeeded;
    Setup.DeviceRestartNeeded = FALSE;
}

void RunFirstStage(char* text, HANDLE event) {
    if (!ConfirmUninstall(text))
        return;
    if (Setup.Unattended && !LogListsRunningProgram(text))
        RunInOneProcess(text);
    else if (ReplayLog(text, EventBit(InstallDeviceEvent)) && StartDetachedCopy(event))
        HandOverDeviceRestart();
}

// The first process is opened before it is signalled: it ends as soon as it
// sees the signal, with 3010 when its device asked for a restart.
void SynchronizeWithFirstStage(DWORD processId, HANDLE event) {
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, processId);
    DWORD openError = GetLastError();
    if (!SetEvent(event))
        ReportError("Cannot set sync event (%s)", LastErrorText());
    if (process) {
        DWORD code;
        if (WaitForSingleObject(process, PrimaryExitTimeout) == WAIT_OBJECT_0 && GetExitCodeProcess(process, &code) &&
            code == ERROR_SUCCESS_REBOOT_REQUIRED)
            Setup.DeviceRestartNeeded = TRUE;
        CloseHandle(process);
        return;
    }
    SetLastError(openError);
    ReportError("Cannot connect to primary process (%s)", LastErrorText());
    Sleep(ConnectFailurePause);
}

void RunSecondStage(char* text, DWORD processId, HANDLE event) {
    if (processId != ProcessIdWithoutSync)
        SynchronizeWithFirstStage(processId, event);
    RemoveAllButDevice(text);
}

// On Windows 9x the second stage gets the directory through a batch line
// that COMMAND.COM cuts at 127 characters: both stages take its short form,
// and name their event from it.
void TakeShortWorkDir() {
    char shortDir[PathBufferSize];
    char* copy;
    if (!Setup.IsWindowsNT && GetShortForm(Setup.WorkDir, shortDir) && (copy = DuplicateString(shortDir))) {
        FreeBlock(Setup.WorkDir);
        Setup.WorkDir = copy;
    }
}

}  // namespace

bool RunUninstall(DWORD processId) {
    TakeShortWorkDir();
    HANDLE event = nullptr;
    if (processId != ProcessIdWithoutSync) {
        event = AcquireSyncEvent(processId != 0);
        if (!event)
            return false;
    }
    char* text = ReadWholeFile(Setup.WorkDir, "install.log", nullptr);
    if (text) {
        if (processId == 0)
            RunFirstStage(text, event);
        else
            RunSecondStage(text, processId, event);
        FreeBlock(text);
    }
    if (event)
        CloseHandle(event);
    return text != nullptr;
}
