// What a scenario reads and writes on the machine: files, folder snapshots,
// profile entries, registry values, shortcuts, queued deletions.
#pragma once

#include <windows.h>

#include <map>
#include <string>

bool ReadFileBytes(const std::string& path, std::string* bytes);
// Makes the missing folders first.
bool WriteFileBytes(const std::string& path, const std::string& bytes);
bool MakeFolders(const std::string& path);
void DeleteTree(const std::string& path);
// '*' and '?' in the last part match as for FindFirstFile.
bool PathExists(const std::string& path);

// Relative path of everything below a folder: "<dir>" or a file's contents.
typedef std::map<std::string, std::string> Snapshot;
Snapshot TakeSnapshot(const std::string& folder);
std::string SnapshotDifferences(const Snapshot& before, const Snapshot& after);

// Keys as "HKLM\..." or "HKCU\..."; values as text, "dword:N" or "absent".
bool SetRegistryValue(const std::string& keyPath, const std::string& name, const std::string& data);
std::string RegistryValue(const std::string& keyPath, const std::string& name);
std::string ProfileValue(const std::string& file, const std::string& section, const std::string& key);

struct ShortcutFields {
    std::string Target, Arguments, WorkingDir, Description;
};
bool ReadShortcut(const std::string& path, ShortcutFields* fields);

// A deletion at restart queued the way the posed family queues it.
bool DeletionQueued(const std::string& path, bool windows9x);
// No deletion queued; no control.ini, no wave or mixer entry in [drivers32],
// no control of the sample driver.
void ResetQueuesAndDrivers(const std::string& windowsDir);
