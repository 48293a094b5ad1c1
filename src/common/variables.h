// %Name% references in texts of the setup script, and path joining.
//
// A reference is '%', a name of 1 to 20 characters without '%', and '%'. The
// names (compared with case) are WindowsDir, ProgramFilesDir,
// LocalProgramsFolder, CommonProgramsFolder, InstallDir and AppName; each
// stands for the current text of the SetupState field of that name (the empty
// text while the field is null). Anything else, '%' included, is copied.
#pragma once

enum ExpandResult {
    ExpandFailed = -1,       // the result did not fit; reported
    NothingExpanded = 0,     // no reference was replaced
    SomethingExpanded = 1    // at least one reference was replaced
};

// Writes `text` with its references replaced into `output` of `size` bytes
// (NUL included). A result that does not fit is never cut: the operation
// reports "Text is too long after expansion: %s" naming `text`, leaves the
// output empty and fails. A reference to an empty value still counts as
// replaced.
ExpandResult ExpandVariables(char* output, int size, const char* text);

// Expands `directory` and `name` and joins them with one backslash (none
// after an empty or backslash-ended directory). Returns `output`, or null
// when the path does not fit (reported like ExpandVariables, naming the
// directory or the name, whichever did not fit; the output is left empty).
char* JoinPath(char* output, int size, const char* directory, const char* name);

// The first backslash of the text, or null. Paths are walked character by
// character (CharNextA): in a double-byte code page (Japanese, Chinese) the
// second byte of a character can be the byte of a backslash.
char* FindBackslash(const char* text);
// The last backslash of the text, found the same way, or null.
char* FindLastBackslash(const char* text);

// The path up to its last backslash, in a buffer shared by all calls; the
// empty text for a path without a backslash (or with a directory of 260
// characters or more, which no path of the program has).
const char* DirectoryOf(const char* path);
