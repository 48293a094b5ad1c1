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

// Every file and folder below a folder by relative path: "<dir>" for a
// folder, the contents for a file.
typedef std::map<std::string, std::string> Snapshot;
Snapshot TakeSnapshot(const std::string& folder);
// The differences, one per line; "" when equal.
std::string SnapshotDifferences(const Snapshot& before, const Snapshot& after);

// Keys as "HKLM\..." or "HKCU\..."; values as text, "dword:N" or "absent".
bool SetRegistryValue(const std::string& keyPath, const std::string& name, const std::string& data);
std::string RegistryValue(const std::string& keyPath, const std::string& name);
std::string ProfileValue(const std::string& file, const std::string& section, const std::string& key);

struct ShortcutFields {
    std::string Target, Arguments, WorkingDir, Description;
};
bool ReadShortcut(const std::string& path, ShortcutFields* fields);

// Whether a deletion at the next restart is queued the way the posed family
// queues it.
bool DeletionQueued(const std::string& path, bool windows9x);
void ClearQueuedDeletions(const std::string& windowsDir);
// The driver lists as a fresh system keeps them (no control.ini, no wave or
// mixer entry in [drivers32]) and no control of the sample driver.
void ResetDriverLists(const std::string& windowsDir);
