// The machine's state as scenarios set it and check it: files, snapshots of
// folders, shortcuts, registry values ("HKLM\..." or "HKCU\..." keys; text,
// "dword:N" or "absent"), profile entries and deletions queued for a restart.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

// The relative path of everything below a folder: "<dir>" or a file's bytes.
typedef std::map<std::string, std::string> Snapshot;

std::string FolderOf(const std::string& path);
bool MakeFolders(const std::string& path);
bool ReadFileBytes(const std::string& path, std::string* bytes);
bool WriteFileBytes(const std::string& path, const std::string& bytes);  // makes the missing folders first
// What FindFirstFile finds ('*' and '?' in the last part), but "." and "..".
std::vector<WIN32_FIND_DATAA> Find(const std::string& pattern);
Snapshot TakeSnapshot(const std::string& folder);
void DeleteTree(const std::string& path);
// A text as a file name: letters and digits, '-' for the rest, 40 at most.
std::string ShortName(const std::string& text);

// A shortcut's target, arguments, working directory and description.
bool ReadShortcut(const std::string& path, std::vector<std::string>* fields);

bool SetRegistryValue(const std::string& key, const std::string& name, const std::string& value);
std::string RegistryValue(const std::string& key, const std::string& name);
std::string ProfileValue(const std::string& file, const std::string& section, const std::string& key);

// Whether a deletion at the next restart is queued as the posed family queues it.
bool DeletionQueued(const std::string& path, bool windows9x, const std::string& windows);

// The pose, queued deletions, temporary copies, SETUP.LOG, the sample driver's control
// key, the driver lists (control.ini, system.ini's wave and mixer) and the
// Add/Remove Programs entries as before any run.
void ForgetEarlierRuns(const std::string& windows, const std::string& temp);
