// Helpers for tests that run the real program in the test prefix: the
// Windows version Wine reports to it, starting it and waiting for it with a
// time-out, scratch folders, and snapshots of directory trees that prove a
// run left the disk as it was.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace fixture {

// The folder of the running test program (no trailing backslash); the
// build puts setup.exe there too.
std::string TestProgramDir();
std::string SetupExePath();

// "<dir>\<name>" (no doubled backslash when `dir` ends in one).
std::string JoinPath(const std::string& dir, const std::string& name);

// Makes Wine report another Windows version to one program, for its
// processes started while the object lives:
// HKCU\Software\Wine\AppDefaults\<program>\Version = "win98", "nt40",
// "winxp", "win31", "nt351"... The value that was there before (usually
// none) is put back afterwards. A null `programName` sets it for every
// program of the prefix (HKCU\Software\Wine\Version), such as a copy of
// the program under another name and the programs it starts. A null
// `version` changes nothing (Wine's default, an NT version).
class WindowsVersion {
public:
    explicit WindowsVersion(const char* version, const char* programName = "setup.exe");
    ~WindowsVersion();
    WindowsVersion(const WindowsVersion&) = delete;
    WindowsVersion& operator=(const WindowsVersion&) = delete;

    bool Applied() const { return applied_; }

private:
    std::string keyPath_;
    bool createdKey_ = false;
    bool applied_ = false;
    bool hadValue_ = false;
    std::string previous_;
};

// A child process and every process it starts (they share a job object).
// Whatever still runs when the object goes is killed, so a failed test
// leaves no window behind for the next one.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Runs `program` with the command line "\"program\" arguments" (just the
    // quoted program when `arguments` is empty) in `currentDir` (empty: the
    // test's own). Adds a failure and returns false when it cannot start.
    bool Start(const std::string& program, const std::string& arguments, const std::string& currentDir = "");
    // The same with a whole command line of the caller's making.
    bool StartCommandLine(const std::string& program, const std::string& commandLine,
                          const std::string& currentDir = "");

    DWORD ProcessId() const { return processId_; }
    // The processes of the tree that still run (the program and all it
    // started), by id; empty when there are none or the job cannot tell.
    std::vector<DWORD> ProcessIds() const;
    HANDLE Process() const { return process_; }
    bool Running() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

    // A visible top-level window of the process with exactly this title
    // (null: any window of it). Null, with a failure added that tells why,
    // when the process ends first or nothing appears within `timeoutMs`.
    HWND WaitForWindow(const char* title, DWORD timeoutMs);

    // The exit code once the process has ended. After `timeoutMs` the process
    // and all it started are killed, a failure is added and the result is
    // empty.
    std::optional<DWORD> WaitForExit(DWORD timeoutMs);
    // Waits until no process of the tree runs any more (such as a copy of the
    // program that it started); on time-out kills them all, adds a failure
    // and returns false.
    bool WaitForAll(DWORD timeoutMs);
    // Kills the process and all it started.
    void Kill();

private:
    // Kills the tree and adds a failure with a screenshot: "<what> <id>
    // still ran after <timeoutMs> ms and <verb> killed".
    void KillAfterTimeOut(const char* what, const char* verb, DWORD timeoutMs);

    HANDLE job_ = nullptr;
    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
};

// What a running process was started with, read from its process
// parameters: the program file, the command line as the starter passed it,
// and the flags and show-window value of its STARTUPINFO.
struct ProcessStart {
    std::string ImagePath;
    std::string CommandLine;
    DWORD StartupFlags;
    DWORD ShowWindow;
};

// Reads them from a process opened with PROCESS_QUERY_INFORMATION and
// PROCESS_VM_READ; false when it cannot (the process has ended, say).
bool ReadProcessStart(HANDLE process, ProcessStart* start);

// Writes `contents` as the whole file (binary: "\r\n" where the text has
// it), creating its folder if needed.
bool WriteTextFile(const std::string& path, const std::string& contents);
// The whole file; empty when it cannot be read.
std::string ReadTextFile(const std::string& path);
// Deletes a folder and everything in it (read-only files too); true when it
// is gone (or was never there).
bool RemoveTree(const std::string& path);

// A new empty folder under the Wine temp directory (GetTempPathA), removed
// with its contents when the object goes.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // Empty when the folder could not be made (a failure has been added).
    const std::string& Path() const { return path_; }
    std::string Join(const std::string& relative) const { return JoinPath(path_, relative); }
    bool Write(const std::string& relative, const std::string& contents) const {
        return WriteTextFile(Join(relative), contents);
    }

private:
    std::string path_;
};

// One file or folder of a snapshot.
struct TreeEntry {
    std::string RelativePath;  // below the snapshot's root, "sub\file.txt"
    bool IsDirectory;
    unsigned long long Size;   // files only
    unsigned long long Hash;   // FNV-1a of the contents; files only
    bool Readable;             // false when the file could not be read
};

// What a directory tree holds: every file and folder below the root with the
// sizes and contents of the files, sorted by path. A root that does not
// exist is recorded as missing, so a snapshot taken before a folder is
// created compares unequal to one taken after.
class TreeSnapshot {
public:
    static TreeSnapshot Take(const std::string& root);

    const std::string& Root() const { return root_; }
    bool RootExists() const { return rootExists_; }
    const std::vector<TreeEntry>& Entries() const { return entries_; }

private:
    std::string root_;
    bool rootExists_ = false;
    std::vector<TreeEntry> entries_;
};

// The differences from `before` to `after`, one line each ("added file
// x.txt (12 bytes)", "removed folder sub", "changed file y.ini: 10 -> 14
// bytes"...); empty when the trees are the same.
std::string DescribeChanges(const TreeSnapshot& before, const TreeSnapshot& after);

// For EXPECT_TRUE(fixture::SameTree(before, TreeSnapshot::Take(root))): the
// failure lists the changes.
::testing::AssertionResult SameTree(const TreeSnapshot& before, const TreeSnapshot& after);

// Saves the screen beside the test program as "<suite>.<test>.bmp" and
// returns the path, for a failure message when an expected window did not
// appear; empty when it could not be saved.
std::string SaveFailureScreenshot();

}  // namespace fixture
