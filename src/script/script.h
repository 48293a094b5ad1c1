// The setup script setup.ini: its Main keys, its file and link entries, and
// the OS twin of each section (".NT" or ".9x", for the running family only).
// Values are stored as written; references in them are expanded where used.
#pragma once

#include "common/setup_state.h"

// One Main key: its name, the field that receives its value, and whether the
// script must give it (in Main or in the twin).
struct ScriptKeyDef {
    const char* Name;
    char* SetupState::*Field;
    bool Required;
};

// The Main keys in the order they are read and tested; ends with a null row.
extern const ScriptKeyDef MainKeyTable[];

// Section names, twin suffix included, are built in buffers of this size.
const int SectionNameSize = 20;

// Reads setup.ini from WorkDir into the setup state. Every failure is
// reported; values stored before it stay.
bool LoadSetupScript();

// Reads one key through the profile service into `buffer` of `size` bytes (a
// longer value is cut by the service). -1 when the key is absent (the buffer
// then holds the empty text), otherwise the length of the value (0: empty).
int ReadScriptValue(const char* path, const char* section, const char* key, char* buffer, int size);

// Appends a record of copies of the three texts at `table[*count]` and counts
// it; on failure the table is unchanged. The caller makes sure there is room.
bool AddEntry(EntryRecord* table, int* count, const char* first, const char* second, const char* third);

// Appends ".NT" or ".9x" for the running family to the section name in
// `section` of `size` bytes; false when the name would not fit.
bool AppendOsSuffix(char* section, int size);
