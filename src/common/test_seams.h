// Test seams: the functions that, beyond the file that defines and uses
// them, only the tables of pure functions (tests/unit) call. Nothing else
// of the program calls them from outside their own file.
#pragma once

#include <windows.h>

struct ProfileSection;  // device/driver_lists.h

// startup/startup.cpp: the command line.

// The argument text of a whole process command line: what follows the
// program name (quoted, or ended by the first space), blanks skipped.
const char* ArgumentTextOf(const char* commandLine);

enum SetupMode { InstallMode, UninstallMode, CheckMode };

struct CommandLineChoice {
    SetupMode Mode;
    DWORD ProcessId;            // uninstall mode only
    const char* DirectoryText;  // the chosen working directory
};

// Interprets the argument text. Reports an invalid command line and returns
// false; otherwise fills `choice`, taking `currentDir` for "-c" and
// `programDir` when no directory is given ("-t" takes the rest of the text,
// if any, as the directory to check).
bool InterpretCommandLine(const char* arguments, const char* currentDir, const char* programDir,
                          CommandLineChoice* choice);

// device/devmgr16_bridge.cpp: writes the parameter block of _manager into
// `block` of `size` bytes: the install word (1 install, 0 remove,
// little-endian), the device name with its NUL, the INF short path with its
// NUL ("" on removal). Returns the number of bytes written, or 0 when the
// block would not fit (nothing is reported).
int BuildManagerParams(BYTE* block, int size, bool install, const char* deviceName, const char* infShortPath);

// device/driver_lists.cpp: a cursor over one section of a profile file, and
// the slot ("wave1" ... "wave9") that the type's next driver goes into: the
// first empty one, else the last of several slots holding wdmaud.drv (the
// first of them is never taken), written into `slot` of `size` bytes.
void OpenProfileSection(ProfileSection* section, const char* fileName, const char* sectionName);
bool FindFreeSlot(const char* typeName, char* slot, int size, const ProfileSection* list);

// log/replay.cpp: splits the argument of an InstallDevice line at its first
// blank: the type text before it, the device name (further blanks kept)
// after it. Without a blank the whole argument is the type text and the
// device name is empty.
void SplitDeviceArgument(char* argument, const char** typeText, const char** deviceName);

// uninstall/deferred.cpp: the state of the temporary-name generator, which
// CreateTempFile sets to the tick count, and the file "TMP%04X.<extension>"
// in `directory` with the numbers that follow it. A name that exists makes
// it try the next number; when all 32,768 names exist it stops with a
// message.
extern DWORD TempNameSeed;
HANDLE CreateNumberedFile(char* buffer, int size, const char* directory, const char* extension);
