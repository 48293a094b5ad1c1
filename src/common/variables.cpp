#include "common/variables.h"

#include "common/messages.h"
#include "common/setup_state.h"

namespace {

// The longest variable name, CommonProgramsFolder; a longer name between two
// '%' is never a reference.
const int LongestVariableName = 20;

struct VariableDef {
    const char* Name;
    char* SetupState::*Value;  // its current text is read at each expansion
};

// Searched in this order; ends with a null row.
const VariableDef VariableTable[] = {
    {"WindowsDir", &SetupState::WindowsDir},
    {"ProgramFilesDir", &SetupState::ProgramFilesDir},
    {"LocalProgramsFolder", &SetupState::LocalProgramsFolder},
    {"CommonProgramsFolder", &SetupState::CommonProgramsFolder},
    {"InstallDir", &SetupState::InstallDir},
    {"AppName", &SetupState::AppName},
    {nullptr, nullptr},
};

// An output buffer being filled: Length never goes beyond Size - 1, so the
// NUL always has its place.
struct OutputText {
    char* Buffer;
    int Size;
    int Length;
};

bool AppendChars(OutputText* output, const char* chars, int count) {
    if (count > output->Size - 1 - output->Length)
        return false;
    for (int i = 0; i < count; i++)
        output->Buffer[output->Length++] = chars[i];
    return true;
}

// The row named by the `length` characters at `name` (compared with case),
// or null.
const VariableDef* FindVariable(const char* name, int length) {
    char wanted[LongestVariableName + 1];
    for (int i = 0; i < length; i++)
        wanted[i] = name[i];
    wanted[length] = '\0';
    for (const VariableDef* row = VariableTable; row->Name; row++) {
        if (lstrcmpA(row->Name, wanted) == 0)
            return row;
    }
    return nullptr;
}

// Appends `text` with its references replaced; `replaced` is set when one
// was. False when the output is full. A '%' that opens no known reference is
// copied, and the search goes on at the character after it, so the closing
// '%' of an unknown name may open the next reference.
bool AppendExpanded(OutputText* output, const char* text, bool* replaced) {
    const char* next = text;
    while (*next) {
        if (*next == '%') {
            const char* name = next + 1;
            const char* closing = FindAnyOf(name, "%");
            int length = static_cast<int>(closing - name);
            if (*closing == '%' && length >= 1 && length <= LongestVariableName) {
                const VariableDef* variable = FindVariable(name, length);
                if (variable) {
                    // A value is inserted as it is: a '%' in it opens nothing.
                    const char* value = Setup.*(variable->Value);
                    if (value && !AppendChars(output, value, lstrlenA(value)))
                        return false;
                    *replaced = true;
                    next = closing + 1;
                    continue;
                }
            }
        }
        if (!AppendChars(output, next, 1))
            return false;
        next++;
    }
    return true;
}

// A result that does not fit is never cut: the output is left empty and the
// text whose expansion did not fit is named.
void FailTooLong(OutputText* output, const char* text) {
    if (output->Size > 0)
        output->Buffer[0] = '\0';
    ReportError("Text is too long after expansion: %s", text);
}

bool AppendExpandedOrFail(OutputText* output, const char* text, bool* replaced) {
    if (output->Size > 0 && AppendExpanded(output, text, replaced))
        return true;
    FailTooLong(output, text);
    return false;
}

char DirectoryBuffer[PathBufferSize];

}  // namespace

ExpandResult ExpandVariables(char* output, int size, const char* text) {
    OutputText expanded = {output, size, 0};
    bool replaced = false;
    if (!AppendExpandedOrFail(&expanded, text, &replaced))
        return ExpandFailed;
    output[expanded.Length] = '\0';
    return replaced ? SomethingExpanded : NothingExpanded;
}

char* JoinPath(char* output, int size, const char* directory, const char* name) {
    OutputText path = {output, size, 0};
    bool replaced = false;
    if (!AppendExpandedOrFail(&path, directory, &replaced))
        return nullptr;
    // The directory decides the separator: none after an empty directory or
    // one that ends in a backslash; a name's own leading backslash stays.
    output[path.Length] = '\0';
    const char* lastBackslash = FindLastBackslash(output);
    bool needsSeparator = path.Length > 0 && !(lastBackslash && !lastBackslash[1]);
    if (needsSeparator && !AppendChars(&path, "\\", 1)) {
        FailTooLong(&path, name);
        return nullptr;
    }
    if (!AppendExpandedOrFail(&path, name, &replaced))
        return nullptr;
    output[path.Length] = '\0';
    return output;
}

char* FindBackslash(const char* text) {
    for (; *text; text = CharNextA(text)) {
        if (*text == '\\')
            return const_cast<char*>(text);
    }
    return nullptr;
}

char* FindLastBackslash(const char* text) {
    char* last = nullptr;
    for (char* next = FindBackslash(text); next; next = FindBackslash(next + 1))
        last = next;
    return last;
}

const char* DirectoryOf(const char* path) {
    const char* lastBackslash = FindLastBackslash(path);
    int length = lastBackslash ? static_cast<int>(lastBackslash - path) : 0;
    // Every path of the program comes from a 260-character buffer, so its
    // directory fits; anything longer gives no directory rather than a cut one.
    if (length >= PathBufferSize)
        length = 0;
    for (int i = 0; i < length; i++)
        DirectoryBuffer[i] = path[i];
    DirectoryBuffer[length] = '\0';
    return DirectoryBuffer;
}
