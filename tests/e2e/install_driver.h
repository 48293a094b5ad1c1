// What the end-to-end tests of the installer share: a product of the test's
// making laid out in a scratch distribution folder, the real setup.exe
// started from it, the robot's answers to each window the installation
// shows, and readers of what it leaves behind (shortcuts, install.log).
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "support/prefix.h"
#include "support/shortcut_reader.h"

namespace install_e2e {

const DWORD WindowTimeoutMs = 20000;
const DWORD ExitTimeoutMs = 30000;

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

    // The sample: "E2E Product" 2.5 with a licence, three files (one from
    // the extra folder) and two links, installed by default into
    // programs\E2E Product with the group "E2E Product" in menu.
    Product SampleProduct() const;

    // Writes setup.ini, the licence and the files of `product`, and copies
    // setup.exe into the distribution folder.
    bool LayOut(const Product& product) const;

    std::string SetupExe() const { return fixture::JoinPath(Dist(), "setup.exe"); }

private:
    fixture::ScratchDir scratch_;
};

// `text` with %InstallDir% and %AppName% replaced (all the tests' scripts
// use of the variables, besides the Start-menu folders).
std::string Expand(const std::string& text, const std::string& installDir, const std::string& appName);

// The install.log that a complete installation of `product` into
// `installDir` with the program group `groupDir` leaves.
std::string ExpectedInstallLog(const Product& product, const std::string& installDir, const std::string& groupDir);

// The shortcut files of a complete installation, in the order they are
// made: the script's links, then "Uninstall <AppName>.lnk".
std::vector<std::string> ExpectedShortcutNames(const Product& product);

// A message box the installation is expected to show.
struct ExpectedBox {
    std::string Title;
    std::string Text;  // the whole text, or its start when ErrorCode is set
    UINT Icon;         // MB_ICONINFORMATION, ...
    std::vector<int> Buttons;
    int DefaultButton;               // the one with BS_DEFPUSHBUTTON; 0: not looked at
    std::optional<DWORD> ErrorCode;  // the text goes on " (<facility>/<code> - <system text>)"
};

// Error box "<message> (<facility>/<code> - ...)" with the error icon and OK.
ExpectedBox ErrorBox(const std::string& message, DWORD code);
// "<AppName> <AppVersion> will be installed on your computer..."
ExpectedBox InstallQuestion(const Product& product);
// The reuse question for an existing directory.
ExpectedBox ReuseQuestion(const std::string& directory);
// The question for a file that the rollback cannot delete because it is in use.
ExpectedBox FileInUseQuestion(const std::string& path);
// The question asked at the end when a file was queued for deletion.
ExpectedBox RestartQuestion();

// Read by lnkinfo (liblnk-utils), a Linux program that knows nothing of
// Wine: started natively from here, its output collected through a file in
// `scratchDir`. Adds a failure and gives nothing when it cannot be run.
std::optional<ShortcutFields> ReadShortcutWithLnkinfo(const std::string& path, const std::string& scratchDir);

// setup.exe of a distribution folder, started by the test and answered
// window by window. Each step adds failures that say what went wrong and
// returns false when the run cannot go on.
class SetupRun {
public:
    // `setupExe` without arguments, from another current directory, so that
    // the program's own folder is where it finds setup.ini.
    bool Start(const std::string& setupExe, const std::string& currentDir);

    fixture::ChildProcess& Process() { return process_; }

    // Waits for the box, checks it against `expected`, presses `press` and
    // waits until it is gone.
    bool Answer(const ExpectedBox& expected, int press);
    // The same, pressing Enter or Escape instead of a button.
    bool AnswerWithKey(const ExpectedBox& expected, WORD key);
    // Waits for the box and checks it; the caller answers it.
    HWND WaitForBox(const ExpectedBox& expected);

    // "<AppName> <AppVersion> will be installed on your computer..."
    bool AnswerInstallQuestion(const Product& product, int press);
    // The licence dialog: checks its text and buttons and returns it.
    HWND WaitForLicense(const std::string& licenseText);
    // The directories dialog: checks the offered defaults and returns it.
    HWND WaitForDirectories(const std::string& offeredDir, const std::string& offeredGroup);
    // Types the directory and the group into the dialog's edits.
    bool TypeDirectories(HWND dialog, const std::string& installDir, const std::string& group);
    // Types them and presses Install.
    bool ChooseDirectories(HWND dialog, const std::string& installDir, const std::string& group);
    // The question, the licence and the directories dialog answered so that
    // the installation runs into `installDir` with `group`.
    bool ReachInstallation(const Product& product, const std::string& offeredDir, const std::string& installDir,
                           const std::string& group);
    // "Installation complete." titled with the product name.
    bool ConfirmCompletion(const Product& product);

    // Presses a button (or key) of a dialog and waits until it is gone.
    bool Press(HWND window, int id);
    bool PressKey(HWND window, WORD key);

    // Expects the process to end without showing any further window; its
    // exit code, or nothing (with failures that name what it showed).
    std::optional<DWORD> ExitWithoutFurtherWindow();

private:
    fixture::ChildProcess process_;
};

// Removes a folder (a program group in the real Start menu) when it goes.
class RemoveOnExit {
public:
    explicit RemoveOnExit(std::string path) : path_(std::move(path)) {}
    ~RemoveOnExit();
    RemoveOnExit(const RemoveOnExit&) = delete;
    RemoveOnExit& operator=(const RemoveOnExit&) = delete;

private:
    std::string path_;
};

// A value of "Software\...\Explorer\Shell Folders" ("Programs" of HKCU,
// "Common Programs" of HKLM); empty when it is not there.
std::string ShellFolder(HKEY root, const char* name);

bool FileExists(const std::string& path);

}  // namespace install_e2e
