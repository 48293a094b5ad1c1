#include "support/prefix.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <sstream>

#include "support/robot.h"

namespace fixture {

namespace {

const char WineKey[] = "Software\\Wine";
const char AppDefaultsKey[] = "Software\\Wine\\AppDefaults\\";

// Exit code of a process that a test killed, recognisable in a failure.
const UINT KilledExitCode = 0xDEAD;
const DWORD KillWaitMs = 5000;

std::string ErrorCodeText(DWORD code) {
    return "error " + std::to_string(code);
}

bool IsDotEntry(const WIN32_FIND_DATAA& found) {
    return lstrcmpA(found.cFileName, ".") == 0 || lstrcmpA(found.cFileName, "..") == 0;
}

// Calls `visit` for each entry of the folder except "." and "..".
template <typename Visit>
void ForEachEntry(const std::string& dir, Visit visit) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(JoinPath(dir, "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!IsDotEntry(found))
            visit(found);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

bool CreateParentDirs(const std::string& path) {
    for (size_t slash = path.find('\\', 3); slash != std::string::npos; slash = path.find('\\', slash + 1)) {
        if (!CreateDirectoryA(path.substr(0, slash).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    return true;
}

// The whole file, shared with whoever has it open; false when it cannot be
// read to its end.
bool ReadWholeFile(const std::string& path, std::string* contents) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char chunk[65536];
    DWORD read = 0;
    bool ok;
    while ((ok = ReadFile(file, chunk, sizeof chunk, &read, nullptr) != 0) && read > 0)
        contents->append(chunk, read);
    CloseHandle(file);
    return ok;
}

// FNV-1a over the whole file.
bool HashFile(const std::string& path, unsigned long long* hash) {
    std::string contents;
    if (!ReadWholeFile(path, &contents))
        return false;
    *hash = 14695981039346656037ull;
    for (unsigned char byte : contents) {
        *hash ^= byte;
        *hash *= 1099511628211ull;
    }
    return true;
}

void CollectTree(const std::string& root, const std::string& relative, std::vector<TreeEntry>* entries) {
    std::string dir = relative.empty() ? root : JoinPath(root, relative);
    ForEachEntry(dir, [&](const WIN32_FIND_DATAA& found) {
        TreeEntry entry = {};
        entry.RelativePath = relative.empty() ? found.cFileName : JoinPath(relative, found.cFileName);
        entry.IsDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.Readable = true;
        if (!entry.IsDirectory) {
            entry.Size = (static_cast<unsigned long long>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
            entry.Readable = HashFile(JoinPath(root, entry.RelativePath), &entry.Hash);
        }
        entries->push_back(entry);
        if (entry.IsDirectory && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            CollectTree(root, entry.RelativePath, entries);
    });
}

std::string Describe(const TreeEntry& entry) {
    std::ostringstream text;
    if (entry.IsDirectory)
        text << "folder " << entry.RelativePath;
    else
        text << "file " << entry.RelativePath << " (" << entry.Size << " bytes)";
    return text.str();
}

// The change of one entry present in both trees; empty when there is none.
std::string DescribeChange(const TreeEntry& before, const TreeEntry& after) {
    std::ostringstream text;
    if (before.IsDirectory != after.IsDirectory) {
        text << "replaced " << Describe(before) << " by a " << (after.IsDirectory ? "folder" : "file");
    } else if (before.IsDirectory) {
        return std::string();
    } else if (before.Size != after.Size) {
        text << "changed file " << after.RelativePath << ": " << before.Size << " -> " << after.Size << " bytes";
    } else if (before.Readable != after.Readable) {
        text << "file " << after.RelativePath << " could not be read " << (before.Readable ? "after" : "before");
    } else if (before.Readable && before.Hash != after.Hash) {
        text << "changed file " << after.RelativePath << ": contents differ (" << after.Size << " bytes)";
    }
    return text.str();
}

std::string SafeFileName(std::string name) {
    for (char& c : name) {
        if (!isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-')
            c = '_';
    }
    return name;
}

}  // namespace

std::string TestProgramDir() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return std::string();
    std::string program(path, length);
    return program.substr(0, program.rfind('\\'));
}

std::string SetupExePath() {
    return JoinPath(TestProgramDir(), "setup.exe");
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty() || dir.back() == '\\')
        return dir + name;
    return dir + "\\" + name;
}

WindowsVersion::WindowsVersion(const char* version, const char* programName) {
    if (!version) {
        applied_ = true;  // Wine's own default version stays
        return;
    }
    keyPath_ = programName ? std::string(AppDefaultsKey) + programName : std::string(WineKey);
    HKEY key;
    DWORD disposition = 0;
    LONG status = RegCreateKeyExA(HKEY_CURRENT_USER, keyPath_.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE,
                                  nullptr, &key, &disposition);
    if (status != ERROR_SUCCESS) {
        ADD_FAILURE() << "cannot open HKCU\\" << keyPath_ << ": " << ErrorCodeText(status);
        return;
    }
    createdKey_ = disposition == REG_CREATED_NEW_KEY;
    char previous[64];
    DWORD size = sizeof previous;
    DWORD type = 0;
    if (RegQueryValueExA(key, "Version", nullptr, &type, reinterpret_cast<BYTE*>(previous), &size) ==
            ERROR_SUCCESS &&
        type == REG_SZ) {
        hadValue_ = true;
        previous_.assign(previous, strnlen(previous, std::min<size_t>(size, sizeof previous)));
    }
    status = RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                            static_cast<DWORD>(strlen(version) + 1));
    RegCloseKey(key);
    applied_ = status == ERROR_SUCCESS;
    if (!applied_)
        ADD_FAILURE() << "cannot set the Windows version " << version << ": " << ErrorCodeText(status);
}

WindowsVersion::~WindowsVersion() {
    if (keyPath_.empty())
        return;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath_.c_str(), 0, KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS)
        return;
    if (hadValue_)
        RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(previous_.c_str()),
                       static_cast<DWORD>(previous_.size() + 1));
    else
        RegDeleteValueA(key, "Version");
    RegCloseKey(key);
    if (createdKey_)
        RegDeleteKeyA(HKEY_CURRENT_USER, keyPath_.c_str());
}

ChildProcess::~ChildProcess() {
    Kill();
    if (process_)
        CloseHandle(process_);
    if (job_)
        CloseHandle(job_);
}

bool ChildProcess::Start(const std::string& program, const std::string& arguments, const std::string& currentDir) {
    std::string commandLine = "\"" + program + "\"";
    if (!arguments.empty())
        commandLine += " " + arguments;
    return StartCommandLine(program, commandLine, currentDir);
}

bool ChildProcess::StartCommandLine(const std::string& program, const std::string& commandLine,
                                    const std::string& currentDir) {
    if (process_) {
        ADD_FAILURE() << "a ChildProcess runs one program";
        return false;
    }
    job_ = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!job_ || !SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        ADD_FAILURE() << "cannot make a job object: " << ErrorCodeText(GetLastError());
        return false;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    // Suspended until it is in the job, so that nothing it starts escapes.
    if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        currentDir.empty() ? nullptr : currentDir.c_str(), &startup, &started)) {
        ADD_FAILURE() << "cannot start " << commandLine << ": " << ErrorCodeText(GetLastError());
        return false;
    }
    process_ = started.hProcess;
    processId_ = started.dwProcessId;
    bool assigned = AssignProcessToJobObject(job_, process_) != 0;
    DWORD error = GetLastError();
    ResumeThread(started.hThread);
    CloseHandle(started.hThread);
    if (!assigned) {
        ADD_FAILURE() << "cannot put " << commandLine << " into a job: " << ErrorCodeText(error);
        TerminateProcess(process_, KilledExitCode);
        return false;
    }
    return true;
}

HWND ChildProcess::WaitForWindow(const char* title, DWORD timeoutMs) {
    const char* shownTitle = title ? title : "(any)";
    DWORD start = GetTickCount();
    for (;;) {
        HWND window = robot::FindWindowByTitle(title, processId_, 0);
        if (window)
            return window;
        if (!Running()) {
            DWORD code = 0;
            GetExitCodeProcess(process_, &code);
            ADD_FAILURE() << "process " << processId_ << " ended with code " << code << " before showing a window titled "
                          << shownTitle;
            return nullptr;
        }
        if (GetTickCount() - start >= timeoutMs) {
            ADD_FAILURE() << "no window titled " << shownTitle << " of process " << processId_ << " within " << timeoutMs
                          << " ms; screen: " << SaveFailureScreenshot();
            return nullptr;
        }
        Sleep(50);
    }
}

std::optional<DWORD> ChildProcess::WaitForExit(DWORD timeoutMs) {
    if (!process_) {
        ADD_FAILURE() << "no process was started";
        return std::nullopt;
    }
    if (WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) {
        KillAfterTimeOut("process", "was", timeoutMs);
        return std::nullopt;
    }
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return code;
}

bool ChildProcess::WaitForAll(DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
        if (!job_ || !QueryInformationJobObject(job_, JobObjectBasicAccountingInformation, &accounting,
                                                sizeof accounting, nullptr)) {
            ADD_FAILURE() << "cannot query the job of process " << processId_;
            return false;
        }
        if (accounting.ActiveProcesses == 0)
            return true;
        if (GetTickCount() - start >= timeoutMs)
            break;
        Sleep(50);
    }
    KillAfterTimeOut("processes started from", "were", timeoutMs);
    return false;
}

void ChildProcess::KillAfterTimeOut(const char* what, const char* verb, DWORD timeoutMs) {
    std::string screenshot = SaveFailureScreenshot();
    Kill();
    ADD_FAILURE() << what << " " << processId_ << " still ran after " << timeoutMs << " ms and " << verb
                  << " killed; screen: " << screenshot;
}

std::vector<DWORD> ChildProcess::ProcessIds() const {
    std::vector<DWORD> ids;
    if (!job_)
        return ids;
    // Room for far more processes than a test starts.
    const DWORD room = 64;
    std::vector<BYTE> buffer(sizeof(JOBOBJECT_BASIC_PROCESS_ID_LIST) + room * sizeof(ULONG_PTR));
    auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(buffer.data());
    if (!QueryInformationJobObject(job_, JobObjectBasicProcessIdList, list, static_cast<DWORD>(buffer.size()),
                                   nullptr))
        return ids;
    for (DWORD i = 0; i < list->NumberOfProcessIdsInList; i++)
        ids.push_back(static_cast<DWORD>(list->ProcessIdList[i]));
    return ids;
}

void ChildProcess::Kill() {
    if (!job_)
        return;
    TerminateJobObject(job_, KilledExitCode);
    if (process_)
        WaitForSingleObject(process_, KillWaitMs);
}

namespace {

// The parts of a process's environment block and process parameters that
// ReadProcessStart reads; the layout is the system's, for the build's
// pointer size.
struct RemoteString {
    USHORT Length;  // bytes
    USHORT MaximumLength;
    WCHAR* Buffer;
};

struct RemoteParameters {
    ULONG MaximumLength;
    ULONG Length;
    ULONG Flags;
    ULONG DebugFlags;
    HANDLE ConsoleHandle;
    ULONG ConsoleFlags;
    HANDLE StandardInput;
    HANDLE StandardOutput;
    HANDLE StandardError;
    RemoteString CurrentDirectory;
    HANDLE CurrentDirectoryHandle;
    RemoteString DllPath;
    RemoteString ImagePathName;
    RemoteString CommandLine;
    void* Environment;
    ULONG StartingX;
    ULONG StartingY;
    ULONG CountX;
    ULONG CountY;
    ULONG CountCharsX;
    ULONG CountCharsY;
    ULONG FillAttribute;
    ULONG WindowFlags;
    ULONG ShowWindowFlags;
};

struct RemotePebStart {
    BYTE Flags[4];
    void* Mutant;
    void* ImageBaseAddress;
    void* Loader;
    RemoteParameters* ProcessParameters;
};

struct BasicProcessInformation {
    LONG_PTR ExitStatus;
    RemotePebStart* PebBaseAddress;
    ULONG_PTR AffinityMask;
    LONG_PTR BasePriority;
    ULONG_PTR UniqueProcessId;
    ULONG_PTR InheritedFromUniqueProcessId;
};

template <typename T>
bool ReadRemote(HANDLE process, const void* address, T* value) {
    SIZE_T read = 0;
    return ReadProcessMemory(process, address, value, sizeof *value, &read) && read == sizeof *value;
}

bool ReadRemoteString(HANDLE process, const RemoteString& remote, std::string* text) {
    std::wstring wide(remote.Length / sizeof(WCHAR), L'\0');
    SIZE_T read = 0;
    if (!wide.empty() &&
        (!ReadProcessMemory(process, remote.Buffer, &wide[0], remote.Length, &read) || read != remote.Length))
        return false;
    text->clear();
    if (wide.empty())
        return true;
    int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                    nullptr);
    text->resize(bytes);
    return WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &(*text)[0], bytes, nullptr,
                               nullptr) == bytes;
}

}  // namespace

bool ReadProcessStart(HANDLE process, ProcessStart* start) {
    typedef LONG(WINAPI * QueryFunction)(HANDLE, int, void*, ULONG, ULONG*);
    auto query = reinterpret_cast<QueryFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
    const int ProcessBasicInformation = 0;
    BasicProcessInformation basic = {};
    if (!query || query(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0)
        return false;
    RemotePebStart peb;
    RemoteParameters parameters;
    if (!ReadRemote(process, basic.PebBaseAddress, &peb) ||
        !ReadRemote(process, peb.ProcessParameters, &parameters))
        return false;
    start->StartupFlags = parameters.WindowFlags;
    start->ShowWindow = parameters.ShowWindowFlags;
    return ReadRemoteString(process, parameters.ImagePathName, &start->ImagePath) &&
           ReadRemoteString(process, parameters.CommandLine, &start->CommandLine);
}

bool WriteTextFile(const std::string& path, const std::string& contents) {
    if (!CreateParentDirs(path))
        return false;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr) &&
              written == contents.size();
    return CloseHandle(file) && ok;
}

std::string ReadTextFile(const std::string& path) {
    std::string contents;
    return ReadWholeFile(path, &contents) ? contents : std::string();
}

bool RemoveTree(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return DeleteFileA(path.c_str()) != 0;
    // A folder link goes without what it points to.
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        ForEachEntry(path, [&](const WIN32_FIND_DATAA& found) { RemoveTree(JoinPath(path, found.cFileName)); });
    return RemoveDirectoryA(path.c_str()) != 0;
}

ScratchDir::ScratchDir() {
    char temp[MAX_PATH];
    DWORD length = GetTempPathA(sizeof temp, temp);
    if (length == 0 || length >= sizeof temp) {
        ADD_FAILURE() << "no temp directory: " << ErrorCodeText(GetLastError());
        return;
    }
    static unsigned counter;
    for (int attempt = 0; attempt < 100; attempt++) {
        std::ostringstream name;
        name << "setup-test-" << GetCurrentProcessId() << "-" << ++counter;
        std::string candidate = JoinPath(temp, name.str());
        if (CreateDirectoryA(candidate.c_str(), nullptr)) {
            path_ = candidate;
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    ADD_FAILURE() << "cannot make a scratch folder in " << temp << ": " << ErrorCodeText(GetLastError());
}

ScratchDir::~ScratchDir() {
    if (path_.empty())
        return;
    // A process killed a moment ago may still hold a file for a while.
    for (int attempt = 0; attempt < 50; attempt++) {
        if (RemoveTree(path_))
            return;
        Sleep(100);
    }
    ADD_FAILURE() << "cannot remove the scratch folder " << path_;
}

TreeSnapshot TreeSnapshot::Take(const std::string& root) {
    TreeSnapshot snapshot;
    snapshot.root_ = root;
    DWORD attributes = GetFileAttributesA(root.c_str());
    snapshot.rootExists_ = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (snapshot.rootExists_)
        CollectTree(root, std::string(), &snapshot.entries_);
    std::sort(snapshot.entries_.begin(), snapshot.entries_.end(),
              [](const TreeEntry& a, const TreeEntry& b) { return a.RelativePath < b.RelativePath; });
    return snapshot;
}

std::string DescribeChanges(const TreeSnapshot& before, const TreeSnapshot& after) {
    std::ostringstream text;
    if (before.RootExists() != after.RootExists())
        text << "folder " << after.Root() << (after.RootExists() ? " was created" : " was removed") << "\n";
    std::map<std::string, const TreeEntry*> earlier;
    for (const TreeEntry& entry : before.Entries())
        earlier[entry.RelativePath] = &entry;
    for (const TreeEntry& entry : after.Entries()) {
        auto match = earlier.find(entry.RelativePath);
        if (match == earlier.end()) {
            text << "added " << Describe(entry) << "\n";
            continue;
        }
        std::string change = DescribeChange(*match->second, entry);
        if (!change.empty())
            text << change << "\n";
        earlier.erase(match);
    }
    for (const auto& gone : earlier)
        text << "removed " << Describe(*gone.second) << "\n";
    return text.str();
}

::testing::AssertionResult SameTree(const TreeSnapshot& before, const TreeSnapshot& after) {
    std::string changes = DescribeChanges(before, after);
    if (changes.empty())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the tree " << after.Root() << " changed:\n" << changes;
}

std::string SaveFailureScreenshot() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = test ? std::string(test->test_suite_name()) + "." + test->name() : "no-test";
    std::string path = JoinPath(TestProgramDir(), SafeFileName(name) + ".bmp");
    return robot::SaveScreenshot(path.c_str()) ? path : std::string();
}

}  // namespace fixture
