// The one process-wide record of the setup program. It lives for the whole
// process and owns every string and table in it; nothing is freed at exit.
#pragma once

#include <windows.h>

// Three owned strings. In the file table: file name, destination directory,
// source directory. In the link table: shortcut name, target path, arguments.
struct EntryRecord {
    char* First;
    char* Second;
    char* Third;
};
typedef EntryRecord FileEntry;
typedef EntryRecord LinkEntry;

// The most entries a base section and its OS twin may hold together.
const int ScriptEntryLimit = 100;
// Room in the tables: the script's entries plus the automatic ones that the
// install sequence appends (the program, devmgr16.dll; the uninstall link).
const int FileTableRoom = ScriptEntryLimit + 2;
const int LinkTableRoom = ScriptEntryLimit + 1;

// The growable text of the installation log.
struct InstallLogText {
    char* Text;      // null before the first line
    DWORD Capacity;  // bytes in the block, a multiple of 512
    DWORD Length;    // characters of text, NUL not counted
};

struct SetupState {
    // Start-up
    HINSTANCE InstanceHandle;
    BOOL IsWindowsNT;
    char* ProgramPath;
    char* ProgramDir;   // no trailing backslash
    char* ProgramName;
    char* CurrentDir;
    char* WorkDir;
    EntryRecord* FileTable;
    int FileCount;
    EntryRecord* LinkTable;
    int LinkCount;

    // System folders
    char* WindowsDir;
    char* ProgramFilesDir;
    char* LocalProgramsFolder;
    char* CommonProgramsFolder;

    // Main keys of setup.ini, as written there; null when absent
    char* AppName;
    char* AppVersion;
    char* DefaultProgramGroup;
    char* DefaultInstallDir;
    char* StartMenuFolder;
    char* DeviceName;
    char* DeviceInfFile;
    char* ReadmeFile;
    char* LicenseFile;
    char* FlushCommand;

    // Chosen in the directories dialog
    char* InstallDir;
    char* ProgramGroup;

    // Type text of the InstallDevice log line
    char* DeviceTypeText;

    InstallLogText InstallLog;
    BOOL LogFileLogged;
    BOOL RestartNeeded;        // files in use wait for deletion at the restart
    BOOL DeviceRestartNeeded;  // the driver takes effect (or goes) at the restart
    BOOL RestartHandedOver;    // the uninstall's copy offers the device's restart

    // -s: no window at all; every message goes to SETUP.LOG instead
    BOOL Unattended;
    // -s -d: the installation directory, the rest of the command line; null
    // without -d
    const char* InstallDirOption;
};

extern SetupState Setup;

// The strings of a file entry and of a link entry, by what they hold.
inline const char* FileName(const FileEntry& entry) {
    return entry.First;
}
inline const char* DestinationDir(const FileEntry& entry) {
    return entry.Second;
}
// The folder the file is copied from: the script's, or WorkDir when it
// gives none.
inline const char* SourceDir(const FileEntry& entry) {
    return entry.Third[0] ? entry.Third : Setup.WorkDir;
}
inline const char* ShortcutName(const LinkEntry& entry) {
    return entry.First;
}
inline const char* TargetPath(const LinkEntry& entry) {
    return entry.Second;
}
inline const char* Arguments(const LinkEntry& entry) {
    return entry.Third;
}

// Buffer sizes shared by the whole program.
const int PathBufferSize = 260;
const int MessageBufferSize = 256;
