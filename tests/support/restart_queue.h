// What a test sees of the files queued for deletion at the next restart, and
// guards that put the queues back as they were: NT's pending operations in
// the registry and wininit.ini of the Windows directory.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/prefix.h"

namespace restart_queue {

const char SessionManagerKey[] = "System\\CurrentControlSet\\Control\\Session Manager";
const char PendingValue[] = "PendingFileRenameOperations";

// The raw PendingFileRenameOperations value; false when there is none.
inline bool ReadPendingValue(DWORD* type, std::vector<BYTE>* data) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManagerKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    bool read = RegQueryValueExA(key, PendingValue, nullptr, type, nullptr, &size) == ERROR_SUCCESS;
    if (read) {
        data->assign(size, 0);
        read = RegQueryValueExA(key, PendingValue, nullptr, type, data->data(), &size) == ERROR_SUCCESS;
        data->resize(size);
    }
    RegCloseKey(key);
    return read;
}

// The strings of the pending operations (source, target, source, ...).
inline std::vector<std::string> PendingOperations() {
    std::vector<std::string> strings;
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!ReadPendingValue(&type, &data))
        return strings;
    data.push_back(0);
    for (size_t at = 0; at + 1 < data.size(); at += strings.back().size() + 1)
        strings.push_back(reinterpret_cast<const char*>(data.data()) + at);
    return strings;
}

// True when one pending operation names `path` (ignoring case and the
// "\??\" prefix the system puts in front).
inline bool IsPending(const std::string& path) {
    for (const std::string& item : PendingOperations()) {
        if (item.size() >= path.size() && lstrcmpiA(item.c_str() + item.size() - path.size(), path.c_str()) == 0)
            return true;
    }
    return false;
}

// Puts PendingFileRenameOperations back (or removes it when it was not
// there), so that no test file is deleted or renamed at a later restart.
class PendingOperationsGuard {
public:
    PendingOperationsGuard() { had_ = ReadPendingValue(&type_, &saved_); }
    ~PendingOperationsGuard() {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManagerKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
            ADD_FAILURE() << "cannot restore " << PendingValue;
            return;
        }
        LONG result = had_ ? RegSetValueExA(key, PendingValue, 0, type_, saved_.data(), (DWORD)saved_.size())
                           : RegDeleteValueA(key, PendingValue);
        if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
            ADD_FAILURE() << "cannot restore " << PendingValue << ": " << result;
        RegCloseKey(key);
    }
    PendingOperationsGuard(const PendingOperationsGuard&) = delete;
    PendingOperationsGuard& operator=(const PendingOperationsGuard&) = delete;

private:
    bool had_ = false;
    DWORD type_ = REG_MULTI_SZ;
    std::vector<BYTE> saved_;
};

inline std::string WininitPath() {
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    return fixture::JoinPath(windows, "wininit.ini");
}

// Puts wininit.ini back as it was (or removes it when there was none), so
// that no test entry is carried out at a later restart.
class WininitGuard {
public:
    WininitGuard() : path_(WininitPath()) {
        had_ = GetFileAttributesA(path_.c_str()) != INVALID_FILE_ATTRIBUTES;
        if (had_)
            saved_ = fixture::ReadTextFile(path_);
    }
    ~WininitGuard() {
        bool restored = had_ ? fixture::WriteTextFile(path_, saved_) : fixture::RemoveTree(path_);
        if (!restored)
            ADD_FAILURE() << "cannot restore " << path_;
    }
    WininitGuard(const WininitGuard&) = delete;
    WininitGuard& operator=(const WininitGuard&) = delete;

    const std::string& Path() const { return path_; }

private:
    std::string path_;
    bool had_ = false;
    std::string saved_;
};

// One [Rename] entry "C:\NAME.TXT=C:\vvv..." of `length` characters (an
// 8-character name).
inline std::string RenameLine(const char* name, size_t length) {
    return std::string("C:\\") + name + "=C:\\" + std::string(length - 15, 'v') + "\r\n";
}

// A wininit.ini whose [Rename] section leaves `room` characters free of the
// 32,767 that the profile functions hand over for a section (each entry
// counts with its NUL; the list's own NUL is part of the room).
inline std::string RenameSectionLeaving(size_t room) {
    const size_t whole = 32767;
    std::string contents = "[Rename]\r\n";
    size_t used = 0;
    for (; whole - room - used >= 200; used += 100)
        contents += RenameLine("KEPT.TXT", 99);
    return contents + RenameLine("LAST.TXT", whole - room - used - 1);
}

// A [Rename] section longer than the profile functions hand over whole.
inline std::string OverfullRenameSection() {
    std::string contents = "[Rename]\r\n";
    for (int i = 0; i < 400; i++)
        contents += RenameLine("KEPT.TXT", 99);
    return contents;
}

// The short (8.3) form of an existing path, as wininit.ini holds it.
inline std::string ShortPathOf(const std::string& path) {
    char buffer[MAX_PATH];
    DWORD length = GetShortPathNameA(path.c_str(), buffer, sizeof buffer);
    return length && length < sizeof buffer ? std::string(buffer) : std::string();
}

}  // namespace restart_queue
