// What the uninstall tests share: an installation laid out by hand as the
// installer leaves it, the processes of an uninstall, and the message boxes
// they show, worked from outside as a user would.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/prefix.h"

namespace uninstall_test {

const DWORD WindowTimeoutMs = 20000;
const DWORD ExitTimeoutMs = 20000;
// The second stage ends soon after its last box; its copy goes a moment
// after that.
const DWORD CopyGoneTimeoutMs = 5000;

const char AppName[] = "Uninstall Test";

// The comment header that every install.log begins with.
std::string LogHeader();

// An installation below a root folder: the installation directory (its name
// holds blanks) with setup.exe, install.log and two product files, and a
// program-group folder with one shortcut file.
struct Installation {
    std::string Dir;
    std::string Group;
    std::string Setup;                     // Dir\setup.exe, a copy of the tested program
    std::vector<std::string> ProductFiles; // in the order the log lists them
    std::string Shortcut;
};

// The paths of an installation below `root` (nothing made yet).
Installation InstallationBelow(const std::string& root);

// The install.log lines the installer writes for it, in its order.
std::vector<std::string> LogLines(const Installation& installation);

// Makes the folders and files and writes install.log from `lines` (each
// ended by CR LF behind the header). Adds a failure and returns false when
// something cannot be made.
bool LayOut(const Installation& installation, const std::vector<std::string>& lines);

// The SyncEvent's name for a working directory: "\" becomes "/".
std::string SyncEventName(const std::string& workDir);
bool SyncEventExists(const std::string& workDir);

// The command tail of the second stage, " -u %08X <dir>".
std::string SecondStageTail(DWORD firstProcessId, const std::string& workDir);

// The temporary directory of the test (and of the programs it starts), with
// a trailing backslash.
std::string TempDir();
// Whether `path` is "<temp dir>\TMPnnnn.<extension>" with four upper-case
// hexadecimal digits.
bool IsTempFileName(const std::string& path, const char* extension);

bool Exists(const std::string& path);
// Waits until `path` is gone; false on time-out.
bool WaitUntilGone(const std::string& path, DWORD timeoutMs);

// One process that a started program started in turn (the copy, the
// command interpreter), found by its program file among the running
// processes of the tree and held open: its id, how it was started, and its
// exit code, which stays readable after it has ended.
class TreeMember {
public:
    TreeMember() = default;
    ~TreeMember();
    TreeMember(const TreeMember&) = delete;
    TreeMember& operator=(const TreeMember&) = delete;

    // The first process of the tree that runs "<temp dir>\TMPnnnn.<extension>",
    // or `imagePath`; a failure and false when none runs within `timeoutMs`.
    bool FindTempProgram(const fixture::ChildProcess& root, const char* extension, DWORD timeoutMs);
    bool FindProgram(const fixture::ChildProcess& root, const std::string& imagePath, DWORD timeoutMs);

    DWORD Id() const { return id_; }
    const fixture::ProcessStart& Start() const { return start_; }
    // The exit code once it has ended; a failure when it runs on after
    // `timeoutMs`.
    bool WaitForExit(DWORD timeoutMs, DWORD* code);

private:
    template <typename Match>
    bool Find(const fixture::ChildProcess& root, DWORD timeoutMs, Match match, const std::string& what);

    HANDLE process_ = nullptr;
    DWORD id_ = 0;
    fixture::ProcessStart start_ = {};
};

// One message box as a test expects it.
struct ExpectedBox {
    std::string Title;
    std::string Text;        // exact, or the start of it when Prefix is set
    bool Prefix;
    UINT Icon;               // MB_ICONERROR, MB_ICONINFORMATION...
    std::vector<int> Buttons;
    int DefaultButton;       // the button with BS_DEFPUSHBUTTON
    int Answer;
};

ExpectedBox ErrorBox(const std::string& text, bool prefix = false);
ExpectedBox CompletionBox();
ExpectedBox ConfirmationBox(int answer);

// Waits for the next window of process `processId` (so no other window of
// it may come first), checks it against `expected` and answers it. A
// failure and false when none comes or it differs in title or text (it is
// then dismissed).
bool AnswerBox(DWORD processId, const ExpectedBox& expected);

// Starts the installed program in `installDir` as the Uninstall shortcut
// does ("-u"), or another copy of the program, `setupExe`, for that
// installation ("-u 0 <installDir>"); checks that the event exists while it
// asks, and answers Yes.
void StartFirstStage(fixture::ChildProcess& first, const std::string& installDir, const std::string& setupExe = "");

}  // namespace uninstall_test
