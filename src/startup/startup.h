// Process entry, start-up checks, command line and mode dispatch.
#pragma once

#include <windows.h>

extern "C" void WINAPI ProgramEntry();

int WINAPI SetupMain(HINSTANCE instance, HINSTANCE previous, const char* arguments, int showCommand);

bool InitializeCom();

// Reads a number at the start of `text`; `end` receives the first character
// not taken. Digits beyond 32 bits stay in the text.
DWORD ParseNumber(const char* text, unsigned radix, const char** end);

// The argument text of a whole process command line: what follows the
// program name (quoted, or ended by the first space), blanks skipped.
const char* ArgumentTextOf(const char* commandLine);

enum SetupMode { InstallMode, UninstallMode, CheckMode };

struct CommandLineChoice {
    SetupMode Mode;
    DWORD ProcessId;          // uninstall mode only
    const char* DirectoryText; // the chosen working directory
};

// Interprets the argument text. Reports an invalid command line and returns
// false; otherwise fills `choice`, taking `currentDir` for "-c" and
// `programDir` when no directory is given ("-t" takes the rest of the text,
// if any, as the directory to check).
bool InterpretCommandLine(const char* arguments, const char* currentDir, const char* programDir,
                          CommandLineChoice* choice);

// The question asked at the end when files wait for deletion at restart.
extern const char RestartQuestion[];
