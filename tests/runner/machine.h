// What a scenario reads and writes on the machine: files, folder snapshots,
// profile entries, registry values, shortcuts, queued deletions.
#pragma once

#include <windows.h>

#include <map>
#include <string>

bool ReadFileBytes(const std::string& path, std::string* bytes);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
// Creates the folder and every missing parent.
bool MakeFolders(const std::string& path);
void DeleteTree(const std::string& path);
bool CopyTree(const std::string& from, const std::string& to);
// Whether something matches the path; '*' and '?' in its last part match as
// for FindFirstFile.
bool PathExists(const std::string& path);

// Every file and folder below `folder` by relative path: a folder maps to
// "<dir>", a file to its contents.
typedef std::map<std::string, std::string> Snapshot;
Snapshot TakeSnapshot(const std::string& folder);
// The first differences between two snapshots, one per line; "" when equal.
std::string SnapshotDifferences(const Snapshot& before, const Snapshot& after);

// "HKLM\..." or "HKCU\..." split into a root and the rest.
bool OpenKeyPath(const std::string& path, bool create, HKEY* key);
// "dword:N" sets a number, "absent" deletes the value, anything else sets a
// string.
bool SetRegistryValue(const std::string& keyPath, const std::string& name, const std::string& data);
// A string or "dword:N"; "absent" when there is no such value.
std::string RegistryValue(const std::string& keyPath, const std::string& name);
std::string ProfileValue(const std::string& file, const std::string& section, const std::string& key);

struct ShortcutFields {
    std::string Target, Arguments, WorkingDir, Description;
};
bool ReadShortcut(const std::string& path, ShortcutFields* fields);

// Whether a deletion of `path` at the next restart is queued the way the
// posed family queues it.
bool DeletionQueued(const std::string& path, bool windows9x);
// Clears what earlier runs queued for the restart.
void ClearQueuedDeletions(const std::string& windowsDir);

// The driver lists as a fresh system keeps them (no control.ini, no wave or
// mixer entry in [drivers32]) and no control of the sample driver.
void ResetDriverLists(const std::string& windowsDir);
