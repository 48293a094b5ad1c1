// What the end-to-end tests share: the real setup.exe started by the test
// and worked from outside as a user would, the message boxes it is expected
// to show, a product of the test's making in a scratch distribution folder,
// and the processes of the two-stage uninstall.
#pragma once

#include <windows.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "support/prefix.h"

namespace e2e {

const DWORD WindowTimeoutMs = 20000;
const DWORD ExitTimeoutMs = 30000;
// The second uninstall stage ends soon after its last box; its copy goes a
// moment after that.
const DWORD CopyGoneTimeoutMs = 5000;

// A message box the program is expected to show.
struct ExpectedBox {
    std::string Title;
    std::string Text;  // the whole text, or its start when ErrorCode is set
    UINT Icon;         // MB_ICONINFORMATION, ...
    std::vector<int> Buttons;
    int DefaultButton;               // the one with BS_DEFPUSHBUTTON
    std::optional<DWORD> ErrorCode;  // the text goes on " (<facility>/<code> - <system text>)"
};

// "Setup" with the error icon and OK.
ExpectedBox ErrorBox(const std::string& message, std::optional<DWORD> code = std::nullopt);
ExpectedBox InstallQuestion(const std::string& appName, const std::string& appVersion);
// "Installation complete." titled with the product name.
ExpectedBox InstallComplete(const std::string& appName);
ExpectedBox ReuseQuestion(const std::string& directory);
ExpectedBox FileInUseQuestion(const std::string& path);
ExpectedBox RestartQuestion();
ExpectedBox UninstallQuestion(const std::string& appName);
ExpectedBox UninstallComplete();

// Waits for the next window of the process (no other may come first; its
// progress notice does not count) and checks it against `expected`. Null,
// with failures, when none comes or it is another one (which is then
// dismissed).
HWND WaitForBox(DWORD processId, const ExpectedBox& expected);
// The same, then presses `button` and waits until the box is gone.
bool AnswerBox(DWORD processId, const ExpectedBox& expected, int button);
// The text of the progress notice of the process; "" when none is up.
std::string ProgressText(DWORD processId);
// A button or a key (VK_RETURN, VK_ESCAPE) of a dialog, then waits until it
// is gone.
bool Press(HWND window, int button);
bool PressKey(HWND window, WORD key);

// One [Files] entry and the file behind it.
struct ProductFile {
    std::string Name;         // the key, as written
    std::string Destination;  // as written ("%InstallDir%", ...)
    std::string SourceDir;    // as written; empty: beside setup.ini
    std::string Contents;
    bool Missing = false;  // listed, but left out of the distribution
};

// One [Links] entry.
struct ProductLink {
    std::string Name;       // as written ("Read Me", ...)
    std::string Target;     // as written ("%InstallDir%\\readme.txt", ...)
    std::string Arguments;  // as written; empty: no comma in the entry
};

// What setup.ini says, and the files beside it.
struct Product {
    std::string AppName;
    std::string AppVersion;
    std::string DefaultInstallDir;
    std::string DefaultProgramGroup;
    std::string StartMenuFolderNt;  // [Main.NT]
    std::string StartMenuFolder9x;  // [Main.9x]
    std::string License;            // text of license.txt (LicenseFile key)
    std::string MoreMainKeys;       // "Key=Value\r\n" lines added to [Main]
    std::vector<ProductFile> Files;
    std::vector<ProductLink> Links;
};

// A scratch folder holding the distribution (dist), a second source folder
// (extra), the parent of the installation directories (programs) and a
// Start-menu folder (menu); all of it goes with the object.
class Workspace {
public:
    Workspace();

    const std::string& Root() const { return scratch_.Path(); }
    std::string Dist() const { return scratch_.Join("dist"); }
    std::string Extra() const { return scratch_.Join("extra"); }
    std::string Programs() const { return scratch_.Join("programs"); }
    std::string Menu() const { return scratch_.Join("menu"); }
    std::string SetupExe() const { return scratch_.Join("dist\\setup.exe"); }

    // The sample: "E2E Product" 2.5 with a licence, three files (one from
    // the extra folder) and two links, installed by default into
    // programs\E2E Product with the group "E2E Product" in menu.
    Product SampleProduct() const;

    // Writes setup.ini, the licence and the files of `product`, and copies
    // setup.exe into the distribution folder (again, for another product).
    bool LayOut(const Product& product) const;

private:
    fixture::ScratchDir scratch_;
};

// `text` with %InstallDir% and %AppName% replaced.
std::string Expand(const std::string& text, const std::string& installDir, const std::string& appName);

// The text of an install.log: its comment header and `lines`, each ended by
// CR LF.
std::string LogText(const std::vector<std::string>& lines);
// The lines of install.log in `installDir`, without their line ends.
std::vector<std::string> LogLinesIn(const std::string& installDir);

// setup.exe started by the test and answered window by window. Each step
// adds failures that say what went wrong and returns false when the run
// cannot go on.
class SetupRun : public fixture::ChildProcess {
public:
    HWND WaitForBox(const ExpectedBox& expected) { return e2e::WaitForBox(ProcessId(), expected); }
    bool Answer(const ExpectedBox& expected, int button) { return AnswerBox(ProcessId(), expected, button); }
    // The licence dialog and the directories dialog, checked and returned.
    HWND WaitForLicense(const std::string& licenseText);
    HWND WaitForDirectories(const std::string& offeredDir, const std::string& offeredGroup);
    // Yes to the question, Accept to the licence and Install with
    // `installDir` and `group` typed into the directories dialog.
    bool ReachInstallation(const Product& product, const std::string& installDir, const std::string& group);
    // Expects the process to end without showing any further window; its
    // exit code, or nothing (with failures that name what it showed).
    std::optional<DWORD> ExitWithoutFurtherWindow();
};

bool TypeDirectories(HWND dialog, const std::string& installDir, const std::string& group);

bool Exists(const std::string& path);
// The paths of everything below `dir`, relative to it.
std::set<std::string> NamesIn(const std::string& dir);
// Waits until `path` is gone; false on time-out.
bool WaitUntilGone(const std::string& path, DWORD timeoutMs);

// The SyncEvent's name for a working directory: "\" becomes "/".
std::string SyncEventName(const std::string& workDir);
bool SyncEventExists(const std::string& workDir);
// The command tail of the second stage, " -u %08X <dir>".
std::string SecondStageTail(DWORD firstProcessId, const std::string& workDir);
// Whether `path` is "<temp dir>\TMPnnnn.<extension>" with four upper-case
// hexadecimal digits.
bool IsTempFileName(const std::string& path, const char* extension);

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

    // The first process of the tree that runs `imagePath`, or the temporary
    // copy "<temp dir>\TMPnnnn.EXE" when it is empty; a failure and false
    // when none runs within the time.
    bool Find(const fixture::ChildProcess& root, const std::string& imagePath = "");

    DWORD Id() const { return id_; }
    const fixture::ProcessStart& Start() const { return start_; }
    // The exit code once it has ended; nothing, with a failure, when it runs
    // on.
    std::optional<DWORD> WaitForExit();

private:
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
    fixture::ProcessStart start_ = {};
};

// Starts the installed program in `installDir` as the Uninstall shortcut
// does ("-u"), or another copy of the program, `setupExe`, for that
// installation ("-u 0 <installDir>"); checks that the event exists while it
// asks, and answers Yes.
void StartFirstStage(fixture::ChildProcess& first, const std::string& appName, const std::string& installDir,
                     const std::string& setupExe = "");

}  // namespace e2e
