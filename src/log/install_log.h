// The installation log: the in-memory text of performed actions and its file
// form install.log; whole-file reads and writes.
#pragma once

#include <windows.h>

enum EventCode {
    NoEvent = 0,
    AppNameEvent = 1,
    CreateDirEvent = 2,
    CreateFileEvent = 3,
    CreateKeyEvent = 4,
    CreateValueEvent = 5,
    InstallDeviceEvent = 6
};

typedef DWORD EventMask;

const EventMask AllEvents = 0xFFFFFFFF;

// The longest text AppendLogLine takes: with CR LF and NUL it fills 360 bytes.
const int LogLineLimit = 357;

// Appends `text` and CR LF to the log. A text over LogLineLimit characters
// is refused with a message, the log unchanged.
bool AppendLogLine(const char* text);
// Appends "<event name> <formatted arguments>"; a line over LogLineLimit
// characters is refused like AppendLogLine's.
bool LogEvent(EventCode code, const char* format, ...);
// Writes the whole log to install.log in InstallDir (logging that file itself
// after its first successful save).
bool SaveInstallLog();

const char* EventNameOf(int code);
EventCode EventCodeOf(const char* name);
EventMask EventBit(int code);

// The argument of the first line of event `code` at or after `text` (a line
// start), its length in `length`; null when there is none.
const char* FindEventLine(const char* text, EventCode code, int* length);

// The argument of the first line of event `code` in `text`, copied into
// `buffer` of `size` bytes; null when there is none (or it does not fit,
// which is reported).
char* FindEventArgument(char* buffer, int size, const char* text, EventCode code);

// Opens the file at `path` for reading, others may read it too; a failure is
// reported as "Cannot open file <name>" and gives INVALID_HANDLE_VALUE.
HANDLE OpenForReading(const char* path, const char* name);
// The whole file JoinPath(directory, name) in a new block with a NUL behind
// it; `size` (optional) receives the byte count. Free with FreeBlock.
char* ReadWholeFile(const char* directory, const char* name, DWORD* size);
