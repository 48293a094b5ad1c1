#include "install/file_actions.h"

#include <objbase.h>
#include <shlobj.h>

#include "common/files.h"
#include "common/messages.h"
#include "common/setup_state.h"
#include "common/system_library.h"
#include "common/variables.h"
#include "log/install_log.h"

namespace {

// The shell's shortcut object and the two interfaces the program uses.
const CLSID ShellLinkClass = {0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID ShellLinkInterface = {0x000214EE, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID PersistFileInterface = {0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

const char ShortcutExtension[] = ".lnk";

bool IsExistingDirectory(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A failed COM call is reported like a failed system call: its HRESULT
// becomes the last error that the message shows.
bool Succeeded(HRESULT result, const char* message) {
    if (SUCCEEDED(result))
        return true;
    SetLastError(static_cast<DWORD>(result));
    ReportError(message, LastErrorText());
    return false;
}

bool SaveShortcutFile(IPersistFile* file, const char* path) {
    // A path of at most 259 bytes never needs more than 260 wide characters.
    WCHAR widePath[PathBufferSize];
    MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, PathBufferSize);
    return Succeeded(file->Save(widePath, TRUE), "Cannot save shortcut file (%s)");
}

// True only when the system says the destination does not exist: a file
// that cannot be seen for any other reason is treated as somebody's.
bool IsMissingFile(const char* path) {
    return GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND;
}

typedef DWORD(WINAPI* VersionInfoSizeFunction)(const char*, DWORD*);
typedef BOOL(WINAPI* VersionInfoFunction)(const char*, DWORD, DWORD, void*);
typedef BOOL(WINAPI* QueryValueFunction)(const void*, const char*, void**, UINT*);

// Filled from version.dll, which is loaded only to compare two files.
SystemFunction VersionInfoSizeSlot;
SystemFunction VersionInfoSlot;
SystemFunction QueryValueSlot;

const SystemFunctionDef VersionFunctionTable[] = {
    {"GetFileVersionInfoSizeA", &VersionInfoSizeSlot},
    {"GetFileVersionInfoA", &VersionInfoSlot},
    {"VerQueryValueA", &QueryValueSlot},
};
const int VersionFunctionCount = sizeof VersionFunctionTable / sizeof VersionFunctionTable[0];

// The file version of the file's version resource; false when it has none.
bool ReadFileVersion(const char* path, ULARGE_INTEGER* version) {
    DWORD unused;
    DWORD size = reinterpret_cast<VersionInfoSizeFunction>(VersionInfoSizeSlot)(path, &unused);
    void* block = size ? AllocBlock(size) : nullptr;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    bool found = block && reinterpret_cast<VersionInfoFunction>(VersionInfoSlot)(path, 0, size, block) &&
                 reinterpret_cast<QueryValueFunction>(QueryValueSlot)(block, "\\", reinterpret_cast<void**>(&info),
                                                                      &length) &&
                 length >= sizeof *info;
    if (found) {
        version->HighPart = info->dwFileVersionMS;
        version->LowPart = info->dwFileVersionLS;
    }
    FreeBlock(block);
    return found;
}

// Whether both files have a version and the existing one's is the newer.
bool IsNewerFile(const char* existing, const char* source) {
    HMODULE library = LoadSystemLibrary("version.dll", VersionFunctionTable, VersionFunctionCount);
    if (!library)
        return false;
    ULARGE_INTEGER existingVersion, sourceVersion;
    bool newer = ReadFileVersion(existing, &existingVersion) && ReadFileVersion(source, &sourceVersion) &&
                 existingVersion.QuadPart > sourceVersion.QuadPart;
    FreeLibrary(library);
    return newer;
}

// A new file is logged, and the log saved, before its copy starts: a copy
// that fails or is cut off (a kill, a power cut) leaves nothing that the
// rollback or the uninstall does not know. A file that exists is somebody's:
// one with a newer version than the source's stays as it is, unlogged (an
// older copy would break the programs that use it); another is overwritten,
// and logged then only inside the installation directory, whose reuse the
// user agreed to. Elsewhere (the system directory, say) it belongs to
// Windows or to another program, and neither the rollback nor the uninstall
// may delete it.
bool CopyFileEntry(const FileEntry& entry) {
    char source[PathBufferSize];
    char destination[PathBufferSize];
    if (!ResolveFileEntry(entry, source, destination))
        return false;
    bool isNew = IsMissingFile(destination);
    if (!isNew && IsNewerFile(destination, source))
        return true;
    if (isNew && (!LogEvent(CreateFileEvent, "%s", destination) || !SaveInstallLog()))
        return false;
    if (!CopyWritableFile(source, destination)) {
        ReportError("Cannot copy %s to %s (%s)", source, destination, LastErrorText());
        return false;
    }
    return isNew || !IsInInstallDir(destination) || LogEvent(CreateFileEvent, "%s", destination);
}

}  // namespace

bool IsInInstallDir(const char* path) {
    int length = lstrlenA(Setup.InstallDir);
    return CompareNoCase(path, Setup.InstallDir, length) == 0 && path[length] == '\\';
}

bool ResolveFileEntry(const FileEntry& entry, char* source, char* destination) {
    // The installation directory was expanded once, when it was chosen, and
    // is inserted as it is.
    return JoinPath(source, PathBufferSize, SourceDir(entry), FileName(entry)) &&
           JoinPath(destination, PathBufferSize, DestinationDir(entry), FileName(entry));
}

bool ShortcutPath(char* path, const char* directory, const char* name) {
    // The joined path keeps room for the extension, so the file path is
    // never cut.
    if (!JoinPath(path, PathBufferSize - lstrlenA(ShortcutExtension), directory, name))
        return false;
    lstrcatA(path, ShortcutExtension);
    return true;
}

bool CreateLoggedDirectory(const char* path) {
    if (!CreateDirectoryA(path, nullptr)) {
        // Asked by what is there rather than by the error code: Windows 95
        // does not always answer ERROR_ALREADY_EXISTS, and a file of that
        // name is no directory to reuse.
        DWORD error = GetLastError();
        if (!IsExistingDirectory(path)) {
            SetLastError(error);
            ReportError("Cannot create directory \"%s\" (%s)", path, LastErrorText());
            return false;
        }
        // Nothing in the directory is touched: it is only logged as created.
        if (AskUser("Setup", MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2,
                    "Directory \"%s\" already exists.\nDo you want to overwrite it?", path) != IDYES)
            return false;
    }
    return LogEvent(CreateDirEvent, "%s", path);
}

bool ProgramGroupPath(const char* groupName, char* directory, int size) {
    return JoinPath(directory, size, Setup.StartMenuFolder, groupName) != nullptr;
}

namespace {

// Creates StartMenuFolder\<groupName> (both expanded) and leaves its path in
// `directory` of `size` bytes.
bool CreateProgramGroup(const char* groupName, char* directory, int size) {
    return ProgramGroupPath(groupName, directory, size) && CreateLoggedDirectory(directory);
}

// Saves <directory>\<name>.lnk (directory and name expanded) pointing at
// `target` (already expanded) with `arguments` and the description `name`
// as written; the working directory is the target's directory.
bool CreateShortcut(const char* directory, const char* name, const char* target, const char* arguments) {
    char path[PathBufferSize];
    if (!ShortcutPath(path, directory, name))
        return false;

    IShellLinkA* link = nullptr;
    IPersistFile* file = nullptr;
    // The description is the name as written ("Uninstall %AppName%"), the
    // arguments are not expanded.
    bool saved =
        Succeeded(CoCreateInstance(ShellLinkClass, nullptr, CLSCTX_INPROC_SERVER, ShellLinkInterface,
                                   reinterpret_cast<void**>(&link)),
                  "Cannot create IShellLink instance (%s)") &&
        Succeeded(link->SetPath(target), "Cannot set shortcut object path (%s)") &&
        Succeeded(link->SetArguments(arguments), "Cannot set shortcut object arguments (%s)") &&
        Succeeded(link->SetDescription(name), "Cannot set shortcut description (%s)") &&
        Succeeded(link->SetWorkingDirectory(DirectoryOf(target)), "Cannot set shortcut working directory (%s)") &&
        Succeeded(link->QueryInterface(PersistFileInterface, reinterpret_cast<void**>(&file)),
                  "Cannot get IPersistFile interface (%s)") &&
        SaveShortcutFile(file, path);
    if (file)
        file->Release();
    if (link)
        link->Release();
    return saved && LogEvent(CreateFileEvent, "%s", path);
}

}  // namespace

bool CreateLinks() {
    char groupDirectory[PathBufferSize];
    if (!CreateProgramGroup(Setup.ProgramGroup, groupDirectory, sizeof groupDirectory))
        return false;
    for (int i = 0; i < Setup.LinkCount; i++) {
        const LinkEntry& entry = Setup.LinkTable[i];
        char target[PathBufferSize];
        if (ExpandVariables(target, sizeof target, TargetPath(entry)) == ExpandFailed ||
            !CreateShortcut(groupDirectory, ShortcutName(entry), target, Arguments(entry)))
            return false;
    }
    return true;
}

bool CopyFiles() {
    for (int i = 0; i < Setup.FileCount; i++) {
        if (!CopyFileEntry(Setup.FileTable[i]))
            return false;
    }
    return true;
}
