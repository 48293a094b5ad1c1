#include "script/script.h"

#include "common/messages.h"
#include "common/variables.h"

const ScriptKeyDef MainKeyTable[] = {
    {"AppName", &SetupState::AppName, true},
    {"AppVersion", &SetupState::AppVersion, true},
    {"DefaultProgramGroup", &SetupState::DefaultProgramGroup, true},
    {"DefaultInstallDir", &SetupState::DefaultInstallDir, true},
    {"StartMenuFolder", &SetupState::StartMenuFolder, true},
    {"DeviceName", &SetupState::DeviceName, false},
    {"DeviceInfFile", &SetupState::DeviceInfFile, false},
    {"ReadmeFile", &SetupState::ReadmeFile, false},
    {"LicenseFile", &SetupState::LicenseFile, false},
    {"FlushCommand", &SetupState::FlushCommand, false},
    {nullptr, nullptr, false},
};

namespace {

// The default text of every single-key read: one character 26, which tells an
// absent key from an empty value. A value beginning with it counts as absent.
const char AbsentMarker[] = "\x1A";

// A Main value has at most 255 characters, an entry's value at most 259.
const int MainValueSize = 256;
const int EntryValueSize = PathBufferSize;

// ReadWholeValue's result for a value that does not fit; reported already.
const int ValueTooLong = -2;

// First room in the key-name list per entry of a section's limit.
const int KeyListBytesPerEntry = 50;

// The twin of `base` for the running family, in `twin` of SectionNameSize.
// The program's own section names all fit with either suffix.
void MakeTwinName(char* twin, const char* base) {
    CopyText(twin, SectionNameSize, base);
    AppendOsSuffix(twin, SectionNameSize);
}

// Splits an entry's value at its first comma: the text before it stays as it
// is (blanks included); blanks after it are skipped and the rest, further
// commas included, is the third text. Without a comma the third is empty.
const char* SplitAtFirstComma(char* value) {
    char* comma = FindAnyOf(value, ",");
    if (!*comma)
        return comma;
    *comma = '\0';
    return SkipBlanks(comma + 1);
}

// The list of the section's key names, each NUL-ended, the last followed by
// an empty name; the caller frees it. Every name is seen whole: a list that
// fills the block is read again into a block twice the size.
char* ReadKeyNames(const char* path, const char* section, int limit) {
    // Even with no room left the list holds a name, so that a section with
    // keys is seen to overflow and an empty one is not.
    DWORD size = (limit > 0 ? limit : 1) * KeyListBytesPerEntry;
    for (;;) {
        char* names = static_cast<char*>(AllocBlock(size));
        if (!names)
            return nullptr;
        // A list cut short comes back with the length size - 2.
        if (GetPrivateProfileStringA(section, nullptr, "", names, size, path) < size - 2)
            return names;
        FreeBlock(names);
        size *= 2;
    }
}

// Reads a value that must fit `size` bytes whole, into `value` of size + 1
// bytes. The profile service would cut a longer value silently, and a cut
// path or command must never be acted upon: the spare byte shows that the
// value did not fit, which is reported. ReadScriptValue's results otherwise.
int ReadWholeValue(const char* path, const char* section, const char* key, char* value, int size) {
    int length = ReadScriptValue(path, section, key, value, size + 1);
    if (length < size)
        return length;
    ReportError("Value of key %s in section %s is longer than %u characters", key, section, size - 1);
    return ValueTooLong;
}

bool AddScriptEntry(const char* path, const char* section, const char* key, EntryRecord* firstFree, int* count) {
    char value[EntryValueSize + 1];
    if (ReadWholeValue(path, section, key, value, EntryValueSize) == ValueTooLong)
        return false;
    const char* third = SplitAtFirstComma(value);
    return AddEntry(firstFree, count, key, value, third);
}

}  // namespace

bool AppendOsSuffix(char* section, int size) {
    return AppendText(section, size, Setup.IsWindowsNT ? ".NT" : ".9x");
}

int ReadScriptValue(const char* path, const char* section, const char* key, char* buffer, int size) {
    DWORD length = GetPrivateProfileStringA(section, key, AbsentMarker, buffer, size, path);
    if (buffer[0] == AbsentMarker[0]) {
        buffer[0] = '\0';
        return -1;
    }
    return static_cast<int>(length);
}

bool AddEntry(EntryRecord* table, int* count, const char* first, const char* second, const char* third) {
    // All three copies are attempted; a failed one has reported itself.
    EntryRecord record = {DuplicateString(first), DuplicateString(second), DuplicateString(third)};
    if (!record.First || !record.Second || !record.Third) {
        FreeBlock(record.First);
        FreeBlock(record.Second);
        FreeBlock(record.Third);
        return false;
    }
    table[*count] = record;
    ++*count;
    return true;
}

namespace {

// Reads every Main key of one section; a non-empty value for a key that is
// already set is a duplicate. Values over 255 characters are refused whole.
bool ReadMainKeys(const char* path, const char* section) {
    for (const ScriptKeyDef* key = MainKeyTable; key->Name; key++) {
        char value[MainValueSize + 1];
        int length = ReadWholeValue(path, section, key->Name, value, MainValueSize);
        if (length == ValueTooLong)
            return false;
        if (length <= 0)
            continue;
        char*& field = Setup.*(key->Field);
        if (field) {
            ReportError("Duplicate key %s", key->Name);
            return false;
        }
        field = DuplicateString(value);
        if (!field)
            return false;
    }
    return true;
}

// Main, then its twin; then the first required key without a value fails.
bool LoadMainSection(const char* path) {
    char twin[SectionNameSize];
    MakeTwinName(twin, "Main");
    if (!ReadMainKeys(path, "Main") || !ReadMainKeys(path, twin))
        return false;
    // Only a non-empty value sets a field, so a required key without one has
    // its field still null.
    for (const ScriptKeyDef* key = MainKeyTable; key->Name; key++) {
        if (key->Required && !(Setup.*(key->Field))) {
            ReportError("Key %s must be present", key->Name);
            return false;
        }
    }
    return true;
}

// Reads every key of the section as one entry into the records from
// `firstFree` on, at most `limit`; a value over 259 characters is refused.
// The number read, or -1 on failure.
int ReadEntrySection(const char* path, const char* section, EntryRecord* firstFree, int limit) {
    char* names = ReadKeyNames(path, section, limit);
    if (!names)
        return -1;
    int count = 0;
    for (const char* key = names; *key; key += lstrlenA(key) + 1) {
        if (count == limit) {
            ReportError("%s section has more than %u entries", section, limit);
            count = -1;
            break;
        }
        if (!AddScriptEntry(path, section, key, firstFree, &count)) {
            count = -1;
            break;
        }
    }
    FreeBlock(names);
    return count;
}

// The base section and its twin into `table` from its start, sharing one limit
// of ScriptEntryLimit entries; `count` receives the number loaded.
bool LoadEntrySections(const char* path, const char* baseSection, EntryRecord* table, int* count) {
    char twin[SectionNameSize];
    MakeTwinName(twin, baseSection);
    int baseCount = ReadEntrySection(path, baseSection, table, ScriptEntryLimit);
    if (baseCount < 0)
        return false;
    *count = baseCount;
    int twinCount = ReadEntrySection(path, twin, table + baseCount, ScriptEntryLimit - baseCount);
    if (twinCount < 0)
        return false;
    *count = baseCount + twinCount;
    return true;
}

}  // namespace

bool LoadSetupScript() {
    char path[PathBufferSize];
    if (!JoinPath(path, sizeof path, Setup.WorkDir, "setup.ini"))
        return false;
    // Only a test that the script exists and nobody else holds it open; the
    // profile service does all the reading.
    HANDLE file = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        ReportError("Cannot open file %s (%s)", path, LastErrorText());
        return false;
    }
    CloseHandle(file);
    if (!LoadMainSection(path) || !LoadEntrySections(path, "Files", Setup.FileTable, &Setup.FileCount) ||
        !LoadEntrySections(path, "Links", Setup.LinkTable, &Setup.LinkCount))
        return false;
    // On NT the driver registration sets the device type text; the 9x
    // family has none to give.
    if (!Setup.IsWindowsNT) {
        Setup.DeviceTypeText = DuplicateString("?");
        if (!Setup.DeviceTypeText)
            return false;
    }
    return true;
}
