// What a test sees of the files queued for deletion at the next restart, and
// guards that put the queues back as they were: NT's pending operations in
// the registry and wininit.ini of the Windows directory.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/prefix.h"

namespace restart_queue {

inline const char* SessionManagerKey() { return "System\\CurrentControlSet\\Control\\Session Manager"; }
inline const char* PendingValue() { return "PendingFileRenameOperations"; }

// The strings of the pending operations (source, target, source, ...).
inline std::vector<std::string> PendingOperations() {
    std::vector<std::string> strings;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManagerKey(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return strings;
    DWORD size = 0;
    if (RegQueryValueExA(key, PendingValue(), nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
        std::vector<char> data(size + 2, '\0');
        if (RegQueryValueExA(key, PendingValue(), nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &size) ==
            ERROR_SUCCESS) {
            for (size_t at = 0; at < size;) {
                std::string item(data.data() + at);
                strings.push_back(item);
                at += item.size() + 1;
            }
        }
    }
    RegCloseKey(key);
    return strings;
}

// True when one pending operation names `path` (ignoring case and the
// "\??\" prefix the system puts in front).
inline bool IsPending(const std::string& path) {
    for (const std::string& item : PendingOperations()) {
        size_t at = item.size() >= path.size() ? item.size() - path.size() : std::string::npos;
        if (at != std::string::npos && lstrcmpiA(item.c_str() + at, path.c_str()) == 0)
            return true;
    }
    return false;
}

// Puts PendingFileRenameOperations back (or removes it when it was not
// there), so that no test file is deleted or renamed at a later restart.
class PendingOperationsGuard {
public:
    PendingOperationsGuard() {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManagerKey(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
            return;
        DWORD size = 0;
        if (RegQueryValueExA(key, PendingValue(), nullptr, &type_, nullptr, &size) == ERROR_SUCCESS) {
            saved_.resize(size);
            had_ = RegQueryValueExA(key, PendingValue(), nullptr, &type_, saved_.data(), &size) == ERROR_SUCCESS;
        }
        RegCloseKey(key);
    }
    ~PendingOperationsGuard() {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManagerKey(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
            ADD_FAILURE() << "cannot restore " << PendingValue();
            return;
        }
        LONG result = had_ ? RegSetValueExA(key, PendingValue(), 0, type_, saved_.data(), (DWORD)saved_.size())
                           : RegDeleteValueA(key, PendingValue());
        if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
            ADD_FAILURE() << "cannot restore " << PendingValue() << ": " << result;
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

// A wininit.ini whose [Rename] section leaves `room` characters free of the
// 32,767 that the profile functions hand over for a section (each entry
// counts with its NUL; the list's own NUL is part of the room).
inline std::string RenameSectionLeaving(size_t room) {
    const size_t whole = 32767;
    std::string contents = "[Rename]\r\n";
    size_t used = 0;
    while (whole - room - used >= 200) {
        contents += "C:\\KEPT.TXT=C:\\" + std::string(99 - 15, 'v') + "\r\n";  // 99 characters
        used += 100;
    }
    size_t last = whole - room - used - 1;
    contents += "C:\\LAST.TXT=C:\\" + std::string(last - 15, 'w') + "\r\n";
    return contents;
}

// A [Rename] section longer than the profile functions hand over whole.
inline std::string OverfullRenameSection() {
    std::string contents = "[Rename]\r\n";
    for (int i = 0; i < 400; i++)
        contents += "C:\\KEPT.TXT=C:\\" + std::string(99 - 15, 'v') + "\r\n";
    return contents;
}

// The short (8.3) form of an existing path, as wininit.ini holds it.
inline std::string ShortPathOf(const std::string& path) {
    char buffer[MAX_PATH];
    DWORD length = GetShortPathNameA(path.c_str(), buffer, sizeof buffer);
    return length && length < sizeof buffer ? std::string(buffer) : std::string();
}

}  // namespace restart_queue
