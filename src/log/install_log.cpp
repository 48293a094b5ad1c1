#include "log/install_log.h"

#include "common/messages.h"
#include "common/setup_state.h"
#include "common/variables.h"

namespace {

struct EventDef {
    const char* Name;
    EventCode Code;
};

const EventDef EventTable[] = {
    {"AppName", AppNameEvent},
    {"CreateDir", CreateDirEvent},
    {"CreateFile", CreateFileEvent},
    {"CreateKey", CreateKeyEvent},
    {"CreateValue", CreateValueEvent},
    {"InstallDevice", InstallDeviceEvent},
    {nullptr, NoEvent},
};

// The log block grows in steps of this size; one step always holds a whole
// line (LogLineLimit + CR LF + NUL).
const DWORD LogGrowthStep = 512;

const char LogFileName[] = "install.log";

// Makes room for `needed` more bytes behind the text: the first line gets a
// new block, later ones grow it by one step. The log is unchanged on failure.
bool ReserveLogRoom(DWORD needed) {
    InstallLogText& log = Setup.InstallLog;
    if (log.Capacity - log.Length >= needed)
        return true;
    DWORD capacity = log.Capacity + LogGrowthStep;
    void* block = log.Text ? ReallocBlock(log.Text, capacity) : AllocBlock(capacity);
    if (!block)
        return false;
    log.Text = static_cast<char*>(block);
    log.Capacity = capacity;
    return true;
}

// The end of the line that starts at `line`: the next CR LF pair or the end
// of the text. A lone CR or LF belongs to the line.
const char* EndOfLine(const char* line) {
    while (*line && !(line[0] == '\r' && line[1] == '\n'))
        line++;
    return line;
}

// The line is "<name> <argument>", the name in any case.
bool LineHasEvent(const char* line, const char* lineEnd, const char* name, int nameLength) {
    return lineEnd - line > nameLength && line[nameLength] == ' ' && CompareNoCase(line, name, nameLength) == 0;
}

// The size of an open file, when a block can hold it with a NUL behind it.
bool GetBlockSizedFileSize(HANDLE file, const char* name, DWORD* size) {
    DWORD high = 0;
    SetLastError(NO_ERROR);  // a size of FFFFFFFF leaves it alone
    *size = GetFileSize(file, &high);
    bool failed = *size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR;
    if (!failed && (high != 0 || *size == INVALID_FILE_SIZE)) {
        SetLastError(ERROR_FILE_TOO_LARGE);  // no block holds it and its NUL
        failed = true;
    }
    if (failed)
        ReportError("Cannot get size of %s file (%s)", name, LastErrorText());
    return !failed;
}

// The whole file in a new block with a NUL behind it, or null (reported).
char* ReadIntoNewBlock(HANDLE file, const char* name, DWORD size) {
    char* block = static_cast<char*>(AllocBlock(size + 1));
    if (!block)
        return nullptr;
    DWORD read = 0;
    BOOL done = ReadFile(file, block, size, &read, nullptr);
    if (done && read != size)
        SetLastError(ERROR_HANDLE_EOF);  // a short read without an error
    if (!done || read != size) {
        ReportError("Cannot read %u bytes from %s file (%s)", size, name, LastErrorText());
        FreeBlock(block);
        return nullptr;
    }
    block[size] = '\0';
    return block;
}

bool WriteWholeFile(const char* path, const void* data, DWORD size) {
    // Written over in place and cut to size afterwards, never emptied first:
    // the log only grows between saves (or loses its last line), so a kill
    // or a power cut during a save leaves at worst the newest line cut.
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        ReportError("Cannot create %s file (%s)", path, LastErrorText());
        return false;
    }
    DWORD written = 0;
    BOOL done = (size == 0 || WriteFile(file, data, size, &written, nullptr)) && SetEndOfFile(file);
    if (done && written != size)
        SetLastError(ERROR_DISK_FULL);  // a short write without an error
    bool complete = done && written == size;
    if (!complete)
        ReportError("Cannot write %u bytes to %s file (%s)", size, path, LastErrorText());
    CloseHandle(file);
    return complete;
}

}  // namespace

bool AppendLogLine(const char* text) {
    int textLength = lstrlenA(text);
    if (textLength > LogLineLimit) {
        ReportError("Cannot add a line longer than %u characters to the installation log: %s", LogLineLimit,
                    text);
        return false;
    }
    DWORD lineLength = textLength + 2;  // CR LF
    if (!ReserveLogRoom(lineLength + 1))
        return false;
    InstallLogText& log = Setup.InstallLog;
    char* end = log.Text + log.Length;
    lstrcpyA(end, text);
    lstrcpyA(end + textLength, "\r\n");
    log.Length += lineLength;
    return true;
}

bool LogEvent(EventCode code, const char* format, ...) {
    const char* name = EventNameOf(code);
    if (!name) {
        ReportError("Unknown event %d", (int)code);
        return false;
    }
    // One character more than a line may hold, so that AppendLogLine sees a
    // line that is too long and refuses it whole.
    char line[LogLineLimit + 2];
    CopyText(line, sizeof line, name);
    AppendText(line, sizeof line, " ");
    int prefixLength = lstrlenA(line);
    va_list args;
    va_start(args, format);
    FormatBounded(line + prefixLength, sizeof line - prefixLength, format, args);
    va_end(args);
    return AppendLogLine(line);
}

bool SaveInstallLog() {
    char path[PathBufferSize];
    // Through the reference, the installation directory is inserted as the
    // dialog stored it: the same path as every other stage's.
    if (!JoinPath(path, sizeof path, "%InstallDir%", LogFileName))
        return false;
    if (!WriteWholeFile(path, Setup.InstallLog.Text, Setup.InstallLog.Length))
        return false;
    // The file records its own removal: its line reaches the disk with the
    // next save. When logging it fails, the next save tries again.
    if (!Setup.LogFileLogged) {
        if (!LogEvent(CreateFileEvent, "%s", path))
            return false;
        Setup.LogFileLogged = TRUE;
    }
    return true;
}

const char* EventNameOf(int code) {
    for (const EventDef* event = EventTable; event->Name; event++) {
        if (event->Code == code)
            return event->Name;
    }
    return nullptr;
}

EventCode EventCodeOf(const char* name) {
    for (const EventDef* event = EventTable; event->Name; event++) {
        if (lstrcmpiA(event->Name, name) == 0)
            return event->Code;
    }
    return NoEvent;
}

EventMask EventBit(int code) {
    return (EventMask)1 << ((DWORD)(code - 1) % 32);
}

const char* FindEventLine(const char* text, EventCode code, int* length) {
    const char* name = EventNameOf(code);
    if (!text || !name)
        return nullptr;
    int nameLength = lstrlenA(name);
    for (const char* line = text; *line;) {
        const char* lineEnd = EndOfLine(line);
        if (LineHasEvent(line, lineEnd, name, nameLength)) {
            const char* argument = SkipBlanks(line + nameLength + 1);
            *length = (int)(lineEnd - argument);
            return argument;
        }
        line = *lineEnd ? lineEnd + 2 : lineEnd;
    }
    return nullptr;
}

char* FindEventArgument(char* buffer, int size, const char* text, EventCode code) {
    int length;
    const char* argument = FindEventLine(text, code, &length);
    if (!argument)
        return nullptr;
    if (length >= size) {
        ReportError("The argument of the %s event is too long (%u characters, at most %u fit)", EventNameOf(code),
                    length, size - 1);
        return nullptr;
    }
    for (int i = 0; i < length; i++)
        buffer[i] = argument[i];
    buffer[length] = '\0';
    return buffer;
}

HANDLE OpenForReading(const char* path, const char* name) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        ReportError("Cannot open file %s (%s)", name, LastErrorText());
    return file;
}

char* ReadWholeFile(const char* directory, const char* name, DWORD* size) {
    char path[PathBufferSize];
    if (!JoinPath(path, sizeof path, directory, name))
        return nullptr;
    HANDLE file = OpenForReading(path, name);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    char* block = nullptr;
    DWORD fileSize;
    if (GetBlockSizedFileSize(file, name, &fileSize))
        block = ReadIntoNewBlock(file, name, fileSize);
    CloseHandle(file);
    if (block && size)
        *size = fileSize;
    return block;
}
