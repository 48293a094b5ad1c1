#include "startup/unattended.h"

#include "common/messages.h"
#include "common/setup_state.h"
#include "uninstall/deferred.h"

namespace {

const char LogFileName[] = "\\SETUP.LOG";

// Empty when the temporary directory is unknown: the lines then go to
// standard output only.
char LogPath[PathBufferSize];
// Standard output when the caller redirected it to a file or a pipe, else
// null.
HANDLE RedirectedOutput;
bool ErrorReported;

const DWORD LogOpenTries = 100;
const DWORD LogOpenPause = 10;

// Room for a line: the date, time and process id, a title and a message
// (the longest, the check's report, holds 1,024 bytes).
const int LineSize = 1200;

// Appends the text and CR LF to the start of the line in `line` of LineSize
// bytes, every line break of the text (LF or CR LF) written as " / ", so
// that one message is one line. A longer line is cut between two
// characters, never overrun.
DWORD EndLine(char* line, const char* text) {
    DWORD length = lstrlenA(line);
    for (const char* next; *text; text = next) {
        next = CharNextA(text);
        if (*text == '\r' && text[1] == '\n')
            continue;  // the LF that follows stands for both
        bool lineBreak = *text == '\n' || *text == '\r';
        const char* piece = lineBreak ? " / " : text;
        DWORD width = lineBreak ? 3 : static_cast<DWORD>(next - text);
        if (length + width > LineSize - 3)
            break;  // CR LF and the NUL keep their room
        for (DWORD i = 0; i < width; i++)
            line[length++] = piece[i];
    }
    lstrcpyA(line + length, "\r\n");
    return length + 2;
}

// Output failures are not reported: there is no one to report them to.
void WriteLine(HANDLE target, const char* line, DWORD length) {
    DWORD written;
    WriteFile(target, line, length, &written, nullptr);
}

// Both uninstall stages write to the file; the one that holds it for its
// line makes the other wait, so that lines never mix.
HANDLE OpenLogFile() {
    for (DWORD tries = 0; tries < LogOpenTries; tries++) {
        HANDLE file = CreateFileA(LogPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION)
            return file;
        Sleep(LogOpenPause);
    }
    return INVALID_HANDLE_VALUE;
}

// Appends one line, begun with the local date and time, the process id and
// the title (its first 64 characters).
void RecordLine(const char* title, const char* text) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char line[LineSize];
    wsprintfA(line, "%04u-%02u-%02u %02u:%02u:%02u %08X %.64s: ", now.wYear, now.wMonth, now.wDay, now.wHour,
              now.wMinute, now.wSecond, GetCurrentProcessId(), title);
    DWORD length = EndLine(line, text);
    if (LogPath[0]) {
        HANDLE file = OpenLogFile();
        if (file != INVALID_HANDLE_VALUE) {
            SetFilePointer(file, 0, nullptr, FILE_END);
            WriteLine(file, line, length);
            CloseHandle(file);
        }
    }
    if (RedirectedOutput)
        WriteLine(RedirectedOutput, line, length);
}

// The responder of an unattended run. The program's boxes are OK, OK/Cancel
// and Yes/No; the first button of each is IDOK or IDYES, and the second
// follows it (IDCANCEL, IDNO).
int AnswerUnattended(HWND, const char* text, const char* title, UINT type) {
    RecordLine(title, text);
    if (type == MB_ICONERROR)
        ErrorReported = true;
    if (type == ConfirmationBox)
        return IDYES;
    if (type == FileInUseBox)
        return IDNO;
    int first = (type & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
    return (type & MB_DEFBUTTON2) ? first + 1 : first;
}

}  // namespace

const char* TakeUnattendedSwitches(const char* arguments) {
    if (arguments[0] != '-' || arguments[1] != 's')
        return arguments;
    Setup.Unattended = TRUE;
    SetMessageBoxResponder(AnswerUnattended);
    // A disk file (1) or a pipe (3) is a redirection; a console (2) or no
    // handle at all (0) is not.
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (GetFileType(output) & FILE_TYPE_DISK)
        RedirectedOutput = output;
    // Without a record the run does not start; its one message goes to
    // standard output.
    if (!GetTempDir(LogPath, sizeof LogPath - (sizeof LogFileName - 1))) {
        LogPath[0] = '\0';
        return nullptr;
    }
    lstrcatA(LogPath, LogFileName);
    arguments = SkipBlanks(arguments + 2);
    if (arguments[0] == '-' && arguments[1] == 'd') {
        Setup.InstallDirOption = SkipBlanks(arguments + 2);
        return "";  // an install from the program's folder
    }
    return arguments;
}

int UnattendedExitCode(bool succeeded) {
    // A file queued for the restart leaves its folder behind with an error
    // of its own: the restart still is what finishes the job.
    bool restart = Setup.RestartNeeded || Setup.DeviceRestartNeeded || Setup.RestartHandedOver;
    int code = !succeeded ? 1 : restart ? ERROR_SUCCESS_REBOOT_REQUIRED : ErrorReported ? 1 : 0;
    char text[24];
    wsprintfA(text, "Exit code %u", code);
    RecordLine("Setup", text);
    return code;
}
