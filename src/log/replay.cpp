#include "log/replay.h"

#include "common/messages.h"
#include "common/setup_state.h"
#include "common/test_seams.h"
#include "device/device_setup.h"
#include "registry/registry.h"
#include "uninstall/deferred.h"

namespace {

const char FileInUseQuestion[] =
    "The file \"%s\" being deleted is currently in use. If there are active applications, they may use this "
    "file and prevent it to be deleted. You can close some applications and retry delete operation.\n\n"
    "If all product files will be successfully deleted, no restart is required. Otherwise, Windows must be "
    "restarted to complete uninstalling.\n\nRetry delete operation?";

bool IsAlreadyGone(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Windows 9x answers 5 for a file that a running program holds; NT answers
// 32 for a file held open without delete sharing. Both mean "in use".
bool IsInUse(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

// A folder where the log names a file also answers "access denied"; it is
// not a file in use, and no retry or restart would delete it as a file.
bool IsFolder(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void RemoveLoggedDirectory(const char* path) {
    if (RemoveDirectoryA(path) || IsAlreadyGone(GetLastError()))
        return;
    ReportError("Cannot delete directory %s (%s)", path, LastErrorText());
}

// The file goes now, or, when it stays in use and the user stops retrying,
// at the next restart.
void DeleteLoggedFile(const char* path) {
    for (;;) {
        if (DeleteFileA(path) || IsAlreadyGone(GetLastError()))
            return;
        DWORD error = GetLastError();
        if (!IsInUse(error) || IsFolder(path)) {
            SetLastError(error);
            ReportError("Cannot delete file %s (%s)", path, LastErrorText());
            return;
        }
        // The question holds 1023 characters: every path that can be in use
        // (at most 259) fits in it whole.
        if (AskUser("Setup", FileInUseBox, FileInUseQuestion, path) != IDYES)
            break;
    }
    if (DeleteOnRestart(path))
        Setup.RestartNeeded = TRUE;
    else
        ReportError("Cannot queue %s to delete (%s)", path, LastErrorText());
}

void RemoveLoggedDevice(char* argument) {
    const char* typeText;
    const char* deviceName;
    SplitDeviceArgument(argument, &typeText, &deviceName);
    SetupDevice(false, deviceName, typeText);
}

// The start of the last line of the text that ends at `end`, and the place
// where that line is cut off: the CR before it (a LF right after the CR
// belongs to the line end), or the text's first character for the first
// line. Only the last line is looked at, so a whole walk reads each
// character once.
char* FindLastLine(char* text, char* end, char** cut) {
    char* line = end;
    while (line > text && line[-1] != '\r')
        line--;
    if (line == text) {
        *cut = text;
        return line;
    }
    *cut = line - 1;
    return *line == '\n' ? line + 1 : line;
}

}  // namespace

void SplitDeviceArgument(char* argument, const char** typeText, const char** deviceName) {
    char* blank = FindAnyOf(argument, " ");
    *typeText = argument;
    if (*blank) {
        *blank = '\0';
        *deviceName = blank + 1;
    } else {
        *deviceName = blank;
    }
}

namespace {

// Undoes one line (NUL-ended, no line end): "<event word> <argument>". The
// line is cut at its first blank. Failed undo actions are reported and still
// count as done; false only for a selected word without an undo action.
bool UndoEvent(char* line, EventMask mask) {
    char* blank = FindAnyOf(line, " ");
    char* argument = blank;
    if (*blank) {
        *blank = '\0';
        argument = SkipBlanks(blank + 1);
    }
    EventCode code = EventCodeOf(line);
    if ((mask & EventBit(code)) == 0)
        return true;
    switch (code) {
    case AppNameEvent:
        return true;
    case CreateDirEvent:
        RemoveLoggedDirectory(argument);
        return true;
    case CreateFileEvent:
        DeleteLoggedFile(argument);
        return true;
    case CreateKeyEvent:
        DeleteRegistryKey(argument);
        return true;
    case InstallDeviceEvent:
        RemoveLoggedDevice(argument);
        return true;
    case NoEvent:
    case CreateValueEvent:
        break;
    }
    ReportError("Unknown event %s", line);
    return false;
}

}  // namespace

bool ReplayLog(char* text, EventMask mask) {
    if (!text)
        return true;
    bool result = true;
    char* end = text + lstrlenA(text);
    for (;;) {
        char* cut;
        char* line = FindLastLine(text, end, &cut);
        if (*line && *line != ';' && !UndoEvent(line, mask))
            result = false;
        *cut = '\0';
        if (cut == text)
            return result;
        end = cut;
    }
}
