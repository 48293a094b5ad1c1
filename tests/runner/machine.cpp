#include "runner/machine.h"

#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

const char SessionManagerKey[] = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";

std::string FolderOf(const std::string& path) {
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool OpenKeyPath(const std::string& path, bool create, HKEY* key) {
    HKEY root = path.compare(0, 5, "HKLM\\") == 0 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    std::string rest = path.substr(5);
    REGSAM access = KEY_READ | KEY_WRITE;
    return (create ? RegCreateKeyExA(root, rest.c_str(), 0, nullptr, 0, access, nullptr, key, nullptr)
                   : RegOpenKeyExA(root, rest.c_str(), 0, access, key)) == ERROR_SUCCESS;
}

// The raw bytes and type of a value; false when there is none.
bool QueryValue(const std::string& keyPath, const std::string& name, std::string* bytes, DWORD* type) {
    HKEY key;
    if (!OpenKeyPath(keyPath, false, &key))
        return false;
    DWORD size = 0;
    LONG status = RegQueryValueExA(key, name.c_str(), nullptr, type, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        bytes->assign(size, '\0');
        status = RegQueryValueExA(key, name.c_str(), nullptr, type, reinterpret_cast<BYTE*>(&(*bytes)[0]), &size);
    }
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

// The strings of a list where each one ends with a NUL.
std::vector<std::string> NulSeparated(const std::string& bytes) {
    std::vector<std::string> strings;
    for (size_t at = 0; at < bytes.size(); at = bytes.find('\0', at) + 1)
        strings.push_back(bytes.c_str() + at);
    return strings;
}

}  // namespace

bool ReadFileBytes(const std::string& path, std::string* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (in)
        bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return static_cast<bool>(in);
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    MakeFolders(FolderOf(path));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    return out && out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool MakeFolders(const std::string& path) {
    if (path.empty() || GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return true;
    return MakeFolders(FolderOf(path)) && CreateDirectoryA(path.c_str(), nullptr);
}

void DeleteTree(const std::string& path) {
    Snapshot inside = TakeSnapshot(path);
    for (auto entry = inside.rbegin(); entry != inside.rend(); ++entry) {
        std::string full = path + "\\" + entry->first;
        SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        entry->second == "<dir>" ? RemoveDirectoryA(full.c_str()) : DeleteFileA(full.c_str());
    }
    RemoveDirectoryA(path.c_str());
}

bool PathExists(const std::string& path) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path.c_str(), &found);
    return search != INVALID_HANDLE_VALUE && FindClose(search);
}

Snapshot TakeSnapshot(const std::string& folder) {
    Snapshot snapshot;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            snapshot[name] = "<dir>";
            for (const auto& [inner, bytes] : TakeSnapshot(folder + "\\" + name))
                snapshot[name + "\\" + inner] = bytes;
        } else {
            ReadFileBytes(folder + "\\" + name, &snapshot[name]);
        }
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    return snapshot;
}

std::string SnapshotDifferences(const Snapshot& before, const Snapshot& after) {
    std::string differences;
    for (const auto& [path, bytes] : before) {
        const char* change = !after.count(path) ? "  gone: " : after.at(path) != bytes ? "  changed: " : nullptr;
        differences += change ? change + path + "\n" : "";
    }
    for (const auto& entry : after)
        differences += before.count(entry.first) ? "" : "  new: " + entry.first + "\n";
    return differences;
}

bool SetRegistryValue(const std::string& keyPath, const std::string& name, const std::string& data) {
    HKEY key;
    if (!OpenKeyPath(keyPath, true, &key))
        return false;
    bool dword = data.compare(0, 6, "dword:") == 0;
    DWORD number = dword ? std::stoul(data.substr(6), nullptr, 0) : 0;
    const BYTE* bytes = dword ? reinterpret_cast<const BYTE*>(&number) : reinterpret_cast<const BYTE*>(data.c_str());
    DWORD size = dword ? sizeof number : static_cast<DWORD>(data.size() + 1);
    LONG status = data == "absent" ? RegDeleteValueA(key, name.c_str())
                                   : RegSetValueExA(key, name.c_str(), 0, dword ? REG_DWORD : REG_SZ, bytes, size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS || (data == "absent" && status == ERROR_FILE_NOT_FOUND);
}

std::string RegistryValue(const std::string& keyPath, const std::string& name) {
    std::string bytes;
    DWORD type = 0;
    if (!QueryValue(keyPath, name, &bytes, &type))
        return "absent";
    if (type == REG_DWORD && bytes.size() == 4)
        return "dword:" + std::to_string(*reinterpret_cast<const DWORD*>(bytes.data()));
    return bytes.substr(0, bytes.find('\0'));
}

std::string ProfileValue(const std::string& file, const std::string& section, const std::string& key) {
    char value[1024];
    GetPrivateProfileStringA(section.c_str(), key.c_str(), "\x01", value, sizeof value, file.c_str());
    return std::string(value) == "\x01" ? "absent" : value;
}

bool ReadShortcut(const std::string& path, ShortcutFields* fields) {
    CoInitialize(nullptr);
    IShellLinkA* link = nullptr;
    IPersistFile* file = nullptr;
    WCHAR widePath[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath, MAX_PATH);
    bool read = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                           reinterpret_cast<void**>(&link))) &&
                SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
                SUCCEEDED(file->Load(widePath, STGM_READ));
    char text[4][MAX_PATH] = {};
    if (read) {
        link->GetPath(text[0], MAX_PATH, nullptr, SLGP_RAWPATH);
        link->GetArguments(text[1], MAX_PATH);
        link->GetWorkingDirectory(text[2], MAX_PATH);
        link->GetDescription(text[3], MAX_PATH);
        *fields = {text[0], text[1], text[2], text[3]};
    }
    if (file)
        file->Release();
    if (link)
        link->Release();
    return read;
}

// Windows 9x queues "NUL=<short path>" in wininit.ini's [Rename]; NT pairs
// of names, source and target, in PendingFileRenameOperations, an empty
// target a deletion: both read here as "<target>=<source>".
bool DeletionQueued(const std::string& path, bool windows9x) {
    std::vector<std::string> queued;
    std::string wanted = "=\\??\\" + path;
    if (windows9x) {
        char shortPath[MAX_PATH] = "", windows[MAX_PATH];
        GetShortPathNameA(path.c_str(), shortPath, MAX_PATH);
        GetWindowsDirectoryA(windows, MAX_PATH);
        std::string section(32768, '\0');
        section.resize(GetPrivateProfileSectionA("Rename", &section[0], static_cast<DWORD>(section.size()),
                                                 (std::string(windows) + "\\wininit.ini").c_str()));
        queued = NulSeparated(section);
        wanted = "NUL=" + std::string(shortPath);
    } else {
        std::string bytes;
        DWORD type = 0;
        QueryValue(SessionManagerKey, "PendingFileRenameOperations", &bytes, &type);
        std::vector<std::string> names = NulSeparated(bytes);
        for (size_t i = 0; i + 1 < names.size(); i += 2)
            queued.push_back(names[i + 1] + "=" + names[i]);
    }
    return std::any_of(queued.begin(), queued.end(),
                       [&](const std::string& entry) { return lstrcmpiA(entry.c_str(), wanted.c_str()) == 0; });
}

void ResetQueuesAndDrivers(const std::string& windowsDir) {
    SetRegistryValue(SessionManagerKey, "PendingFileRenameOperations", "absent");
    DeleteFileA((windowsDir + "\\wininit.ini").c_str());
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\SetupTests");
    DeleteFileA((windowsDir + "\\control.ini").c_str());
    std::string systemIni = windowsDir + "\\system.ini";
    char keys[8192];
    DWORD length = GetPrivateProfileStringA("drivers32", nullptr, "", keys, sizeof keys, systemIni.c_str());
    for (const char* key = keys; key < keys + length; key += lstrlenA(key) + 1) {
        if (_strnicmp(key, "wave", 4) == 0 || _strnicmp(key, "mixer", 5) == 0)
            WritePrivateProfileStringA("drivers32", key, nullptr, systemIni.c_str());
    }
}
