#include "runner/runner.h"

#include <objbase.h>
#include <shlobj.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace {

const char SessionManagerKey[] = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";

HKEY RootOf(const std::string& key) {
    return key.compare(0, 5, "HKLM\\") == 0 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// The raw bytes and (unless `type` is null) type of a value; false when there is none.
bool QueryValue(const std::string& key, const std::string& name, std::string* bytes, DWORD* type) {
    DWORD size = 65536;
    bytes->resize(size);
    bool found = RegGetValueA(RootOf(key), key.c_str() + 5, name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, type,
                              &(*bytes)[0], &size) == ERROR_SUCCESS;
    bytes->resize(found ? size : 0);
    return found;
}

}  // namespace

// Walked by characters: in a double-byte code page a second byte can be "\".
std::string FolderOf(const std::string& path) {
    const char* slash = nullptr;
    for (const char* p = path.c_str(); *p; p = CharNextA(p))
        slash = *p == '\\' ? p : slash;
    return slash ? path.substr(0, slash - path.c_str()) : std::string();
}

bool MakeFolders(const std::string& path) {
    if (path.empty() || GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return true;
    return MakeFolders(FolderOf(path)) && CreateDirectoryA(path.c_str(), nullptr);
}

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

std::vector<WIN32_FIND_DATAA> Find(const std::string& pattern) {
    std::vector<WIN32_FIND_DATAA> entries;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
        if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0)
            entries.push_back(found);
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    return entries;
}

std::vector<std::string> FoundPaths(const std::string& pattern) {
    std::vector<std::string> paths;
    for (const WIN32_FIND_DATAA& found : Find(pattern))
        paths.push_back(FolderOf(pattern) + "\\" + found.cFileName);
    return paths;
}

Snapshot TakeSnapshot(const std::string& folder) {
    Snapshot snapshot;
    for (const WIN32_FIND_DATAA& found : Find(folder + "\\*")) {
        std::string name = found.cFileName;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            snapshot[name] = "<dir>";
            for (const auto& [inner, bytes] : TakeSnapshot(folder + "\\" + name))
                snapshot[name + "\\" + inner] = bytes;
        } else {
            ReadFileBytes(folder + "\\" + name, &snapshot[name]);
        }
    }
    return snapshot;
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

std::string ShortName(const std::string& text) {
    std::string name;
    for (char c : text.substr(0, 40))
        name += isalnum(static_cast<unsigned char>(c)) ? c : '-';
    return name;
}

bool ReadShortcut(const std::string& path, std::vector<std::string>* fields) {
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
    }
    if (file)
        file->Release();
    if (link)
        link->Release();
    fields->assign(std::begin(text), std::end(text));
    return read;
}

bool SetRegistryValue(const std::string& key, const std::string& name, const std::string& value) {
    if (value == "absent") {
        LONG status = RegDeleteKeyValueA(RootOf(key), key.c_str() + 5, name.c_str());
        return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
    }
    bool dword = value.compare(0, 6, "dword:") == 0;
    DWORD number = dword ? std::stoul(value.substr(6), nullptr, 0) : 0;
    const void* bytes = dword ? static_cast<const void*>(&number) : value.c_str();
    DWORD size = dword ? sizeof number : static_cast<DWORD>(value.size() + 1);
    return RegSetKeyValueA(RootOf(key), key.c_str() + 5, name.c_str(), dword ? REG_DWORD : REG_SZ, bytes, size) ==
           ERROR_SUCCESS;
}

std::string RegistryValue(const std::string& key, const std::string& name) {
    std::string bytes;
    DWORD type = 0;
    if (!QueryValue(key, name, &bytes, &type))
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

// Windows 9x queues "NUL=<short path>" in wininit.ini's [Rename]; NT pairs
// of names, source and target, in PendingFileRenameOperations, an empty
// target a deletion. Each name ends with a NUL.
bool DeletionQueued(const std::string& path, bool windows9x, const std::string& windows) {
    std::string entries(32768, '\0'), wanted = "\\??\\" + path;
    if (windows9x) {
        entries.resize(GetPrivateProfileSectionA("Rename", &entries[0], static_cast<DWORD>(entries.size()),
                                                 (windows + "\\wininit.ini").c_str()));
        char shortPath[MAX_PATH] = "";
        GetShortPathNameA(path.c_str(), shortPath, MAX_PATH);
        wanted = "NUL=" + std::string(shortPath);
    } else {
        QueryValue(SessionManagerKey, "PendingFileRenameOperations", &entries, nullptr);
    }
    std::vector<std::string> names;
    for (size_t at = 0; at < entries.size(); at = entries.find('\0', at) + 1)
        names.push_back(entries.c_str() + at);
    for (size_t i = 0; i < names.size(); i += windows9x ? 1 : 2) {
        bool deletion = windows9x || (i + 1 < names.size() && names[i + 1].empty());
        if (deletion && lstrcmpiA(names[i].c_str(), wanted.c_str()) == 0)
            return true;
    }
    return false;
}

void ForgetEarlierRuns(const std::string& windows, const std::string& temp) {
    DeleteFileA((temp + "\\SETUP.LOG").c_str());
    for (const WIN32_FIND_DATAA& found : Find(temp + "\\TMP*.*"))
        DeleteFileA((temp + "\\" + found.cFileName).c_str());
    SetRegistryValue("HKCU\\Software\\Wine", "Version", "winxp");
    SetRegistryValue(SessionManagerKey, "PendingFileRenameOperations", "absent");
    DeleteFileA((windows + "\\wininit.ini").c_str());
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\SetupTests");
    HKEY uninstall;  // the products' Add/Remove Programs entries
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", 0, KEY_ALL_ACCESS,
                      &uninstall) == ERROR_SUCCESS) {
        RegDeleteTreeA(uninstall, nullptr);
        RegCloseKey(uninstall);
    }
    DeleteFileA((windows + "\\control.ini").c_str());
    std::string systemIni = windows + "\\system.ini";
    char keys[8192];
    DWORD length = GetPrivateProfileStringA("drivers32", nullptr, "", keys, sizeof keys, systemIni.c_str());
    for (const char* key = keys; key < keys + length; key += lstrlenA(key) + 1) {
        if (_strnicmp(key, "wave", 4) == 0 || _strnicmp(key, "mixer", 5) == 0)
            WritePrivateProfileStringA("drivers32", key, nullptr, systemIni.c_str());
    }
}
