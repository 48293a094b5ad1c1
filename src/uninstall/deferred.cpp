#include "uninstall/deferred.h"

#include "common/messages.h"
#include "common/setup_state.h"
#include "common/test_seams.h"
#include "common/variables.h"

DWORD TempNameSeed;

namespace {

const char WininitFile[] = "wininit.ini";
const char RenameSection[] = "Rename";
// The most the profile functions hand over for one section.
const DWORD RenameSectionSize = 32767;
// The destination of an entry that deletes its source at the next start.
const char DeletionKey[] = "NUL";

// Temporary names carry a 15-bit number.
const int TempNameCount = 0x8000;

// The name as wininit.ini wants it: the short form of an existing file, or
// the device NUL as it is (the key that deletes a file; it is no file name
// and needs no conversion). False when there is no short form; the last
// error tells why.
bool RenameEntryName(const char* name, char* buffer, int size) {
    if (lstrcmpiA(name, DeletionKey) == 0)
        return CopyText(buffer, size, DeletionKey);
    return TextFits(GetShortPathNameA(name, buffer, size), size);
}

// Appends the entry behind the `used` characters of the section list in
// `section` and writes the whole list back. A list that would not fit is
// refused with a message.
bool WriteExtendedSection(char* section, DWORD used, const char* entry) {
    DWORD entryLength = lstrlenA(entry);
    // The entry, its NUL and the NUL that closes the list.
    if (used + entryLength + 2 > RenameSectionSize) {
        ReportError("Cannot add %s to the [%s] section of %s: the section is full", entry, RenameSection,
                    WininitFile);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    lstrcpyA(section + used, entry);
    section[used + entryLength + 1] = '\0';
    return WritePrivateProfileSectionA(RenameSection, section, WininitFile) != FALSE;
}

// Formats "<directory>\TMP<number>.<extension>" into `buffer`; false when it
// does not fit (reported).
bool FormatTempPath(char* buffer, int size, const char* directory, int number, const char* extension) {
    char name[16];
    wsprintfA(name, "\\TMP%04X.", number);
    if (CopyText(buffer, size, directory) && AppendText(buffer, size, name) && AppendText(buffer, size, extension))
        return true;
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    ReportError("Cannot create %s%s%s (%s)", directory, name, extension, LastErrorText());
    return false;
}

// NT lets a process restart the system only with the shutdown privilege
// enabled. Any failure here is silent: the restart is asked for anyway.
void EnableShutdownPrivilege() {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return;
    TOKEN_PRIVILEGES privileges;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid))
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    CloseHandle(token);
}

// Windows 9x: appends "destination=source" to [Rename] of wininit.ini (in the
// Windows directory), both in short (8.3) form, behind the entries already
// there. The destination "NUL" (delete the source) is written as it is; any
// other name must exist, like the source, to have a short form. An entry
// that does not fit in the 32,767 characters of the section is refused with
// a message (the last error is then ERROR_INSUFFICIENT_BUFFER).
bool AddRenameEntry(const char* destination, const char* source) {
    // "destination=source": two short names and the equals sign.
    char entry[2 * PathBufferSize];
    char shortSource[PathBufferSize];
    if (!RenameEntryName(destination, entry, PathBufferSize) ||
        !RenameEntryName(source, shortSource, sizeof shortSource))
        return false;
    lstrcatA(entry, "=");
    lstrcatA(entry, shortSource);
    char* section = static_cast<char*>(AllocBlock(RenameSectionSize));
    if (!section)
        return false;
    // The count leaves out the NUL that closes the list: the new entry
    // starts there. No section (or no file) gives 0.
    DWORD used = GetPrivateProfileSectionA(RenameSection, section, RenameSectionSize, WininitFile);
    bool written = WriteExtendedSection(section, used, entry);
    DWORD error = GetLastError();
    FreeBlock(section);
    SetLastError(error);
    return written;
}

// The next number of the generator: 0 to 0x7FFF.
int NextTempNumber() {
    TempNameSeed = TempNameSeed * 214013 + 2531011;
    return (TempNameSeed >> 16) & 0x7FFF;
}

}  // namespace

bool DeleteOnRestart(const char* path) {
    if (Setup.IsWindowsNT)
        return MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
    return AddRenameEntry(DeletionKey, path);
}

bool GetTempDir(char* buffer, int size) {
    if (!TextFits(GetTempPathA(size, buffer), size)) {
        ReportError("Cannot get temporary dir (%s)", LastErrorText());
        return false;
    }
    char* last = FindLastBackslash(buffer);
    if (last && !last[1])
        *last = '\0';
    return true;
}

HANDLE CreateNumberedFile(char* buffer, int size, const char* directory, const char* extension) {
    // Numbers already found taken: the generator repeats them long before it
    // has given every one, and once all are taken the search is over.
    BYTE taken[TempNameCount / 8] = {};
    int takenCount = 0;
    while (takenCount < TempNameCount) {
        int number = NextTempNumber();
        BYTE bit = (BYTE)(1 << (number % 8));
        if (taken[number / 8] & bit)
            continue;
        if (!FormatTempPath(buffer, size, directory, number, extension))
            return INVALID_HANDLE_VALUE;
        HANDLE file = CreateFileA(buffer, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            return file;
        if (GetLastError() != ERROR_FILE_EXISTS) {
            ReportError("Cannot create %s (%s)", buffer, LastErrorText());
            return INVALID_HANDLE_VALUE;
        }
        taken[number / 8] |= bit;
        takenCount++;
    }
    ReportError("Cannot create a temporary file in %s: all names TMP0000.%s to TMP7FFF.%s exist", directory,
                extension, extension);
    return INVALID_HANDLE_VALUE;
}

HANDLE CreateTempFile(char* buffer, int size, const char* extension) {
    char directory[PathBufferSize];
    if (!GetTempDir(directory, sizeof directory))
        return INVALID_HANDLE_VALUE;
    TempNameSeed = GetTickCount();
    return CreateNumberedFile(buffer, size, directory, extension);
}

void RestartWindows() {
    if (Setup.IsWindowsNT)
        EnableShutdownPrivilege();
    if (!ExitWindowsEx(EWX_REBOOT, 0))
        ShowMessageBox(nullptr, "Cannot restart Windows automatically. Please do it manually.", "Setup",
                       MB_ICONWARNING);
}
