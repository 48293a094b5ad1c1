#include "e2e/e2e_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

#include "resource.h"
#include "support/robot.h"

namespace e2e {

namespace {

const DWORD PollMs = 50;

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string ScriptText(const Product& product) {
    std::string text = "[Main]\r\nAppName=" + product.AppName + "\r\nAppVersion=" + product.AppVersion +
                       "\r\nDefaultProgramGroup=" + product.DefaultProgramGroup +
                       "\r\nDefaultInstallDir=" + product.DefaultInstallDir + "\r\n" + product.MoreMainKeys;
    if (!product.License.empty())
        text += "LicenseFile=license.txt\r\n";
    text += "\r\n[Main.NT]\r\nStartMenuFolder=" + product.StartMenuFolderNt + "\r\n";
    text += "\r\n[Main.9x]\r\nStartMenuFolder=" + product.StartMenuFolder9x + "\r\n";
    text += "\r\n[Files]\r\n";
    for (const ProductFile& file : product.Files)
        text += file.Name + "=" + file.Destination + (file.SourceDir.empty() ? "" : ", " + file.SourceDir) + "\r\n";
    text += "\r\n[Links]\r\n";
    for (const ProductLink& link : product.Links)
        text += link.Name + "=" + link.Target + (link.Arguments.empty() ? "" : ", " + link.Arguments) + "\r\n";
    return text;
}

std::string Describe(const ExpectedBox& box) {
    return "box \"" + box.Title + "\" saying \"" + box.Text + (box.ErrorCode ? "...\"" : "\"");
}

bool TextMatches(const std::string& text, const ExpectedBox& expected) {
    if (!expected.ErrorCode)
        return text == expected.Text;
    DWORD code = *expected.ErrorCode;
    std::ostringstream start;
    start << expected.Text << " (" << ((code >> 16) & 0x1FFF) << "/" << (code & 0xFFFF) << " - ";
    return text.compare(0, start.str().size(), start.str()) == 0 && text.size() > start.str().size() &&
           text.back() == ')';
}

struct WindowSearch {
    DWORD ProcessId;
    bool ProgressNotice;
    HWND Found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter) {
    WindowSearch* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->ProcessId || !IsWindowVisible(window) ||
        robot::HasControl(window, IDC_PROGRESS_TEXT) != search->ProgressNotice)
        return TRUE;
    search->Found = window;
    return FALSE;
}

// A visible top-level window of the process: its progress notice, or any
// other.
HWND FindWindowOf(DWORD processId, bool progressNotice) {
    WindowSearch search = {processId, progressNotice, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

ExpectedBox Question(const std::string& title, const std::string& text, UINT icon, int defaultButton) {
    return {title, text, icon, {IDYES, IDNO}, defaultButton, std::nullopt};
}

}  // namespace

ExpectedBox ErrorBox(const std::string& message, std::optional<DWORD> code) {
    return {"Setup", message, MB_ICONERROR, {IDOK}, IDOK, code};
}

ExpectedBox InstallQuestion(const std::string& appName, const std::string& appVersion) {
    return Question("Setup",
                    appName + " " + appVersion + " will be installed on your computer.\nDo you want to continue?",
                    MB_ICONINFORMATION, IDNO);
}

ExpectedBox InstallComplete(const std::string& appName) {
    return {appName, "Installation complete.", MB_ICONINFORMATION, {IDOK}, IDOK, std::nullopt};
}

ExpectedBox ReuseQuestion(const std::string& directory) {
    return Question("Setup", "Directory \"" + directory + "\" already exists.\nDo you want to overwrite it?",
                    MB_ICONWARNING, IDNO);
}

ExpectedBox FileInUseQuestion(const std::string& path) {
    return Question("Setup",
                    "The file \"" + path +
                        "\" being deleted is currently in use. If there are active applications, they may use this "
                        "file and prevent it to be deleted. You can close some applications and retry delete "
                        "operation.\n\nIf all product files will be successfully deleted, no restart is required. "
                        "Otherwise, Windows must be restarted to complete uninstalling.\n\nRetry delete operation?",
                    MB_ICONERROR, IDYES);
}

ExpectedBox RestartQuestion() {
    return Question("Setup",
                    "Uninstaller cannot delete some files because they are in use.\n"
                    "To properly delete them, Windows must be restarted. If you choose\n"
                    "to restart later, you must not try to install this product until\n"
                    "the files will be deleted.\n\nRestart Windows now?",
                    MB_ICONWARNING, IDYES);
}

ExpectedBox UninstallQuestion(const std::string& appName) {
    return Question("Uninstall", "Do you really want to uninstall " + appName + "?", MB_ICONINFORMATION, IDNO);
}

ExpectedBox UninstallComplete() {
    return {"Uninstall", "Uninstallation complete.", MB_ICONINFORMATION, {IDOK}, IDOK, std::nullopt};
}

HWND WaitForBox(DWORD processId, const ExpectedBox& expected) {
    HWND box = FindWindowOf(processId, false);
    for (DWORD start = GetTickCount(); !box && GetTickCount() - start < WindowTimeoutMs;) {
        Sleep(PollMs);
        box = FindWindowOf(processId, false);
    }
    if (!box) {
        ADD_FAILURE() << "process " << processId << " showed no " << Describe(expected)
                      << "; screen: " << fixture::SaveFailureScreenshot();
        return nullptr;
    }
    std::string title = robot::WindowTitle(box);
    std::string text = robot::MessageBoxText(box);
    if (title != expected.Title || !TextMatches(text, expected)) {
        ADD_FAILURE() << "expected the " << Describe(expected) << "\nbut process " << processId << " showed \""
                      << title << "\": " << text;
        robot::Dismiss(box);
        robot::WaitGone(box);
        return nullptr;
    }
    SCOPED_TRACE(Describe(expected));
    EXPECT_EQ(robot::WindowClass(box), "#32770");
    EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr) << "the box has an owner";
    EXPECT_EQ(robot::MessageBoxIconKind(box), expected.Icon);
    EXPECT_EQ(robot::ButtonIds(box), expected.Buttons);
    for (int id : expected.Buttons) {
        bool isDefault = (robot::ControlStyle(box, id) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
        EXPECT_EQ(isDefault, id == expected.DefaultButton) << "button " << id;
    }
    return box;
}

std::string ProgressText(DWORD processId) {
    HWND notice = FindWindowOf(processId, true);
    return notice ? robot::ControlText(notice, IDC_PROGRESS_TEXT) : std::string();
}

bool AnswerBox(DWORD processId, const ExpectedBox& expected, int button) {
    HWND box = WaitForBox(processId, expected);
    return box && Press(box, button);
}

namespace {

bool GoneAfter(HWND window, const std::string& what) {
    bool gone = robot::WaitGone(window, WindowTimeoutMs);
    EXPECT_TRUE(gone) << "\"" << robot::WindowTitle(window) << "\" stays after " << what;
    return gone;
}

}  // namespace

bool Press(HWND window, int button) {
    bool pressed = robot::PressButton(window, button);
    EXPECT_TRUE(pressed) << "cannot press button " << button << " of \"" << robot::WindowTitle(window) << "\"";
    return pressed && GoneAfter(window, "button " + std::to_string(button));
}

bool PressKey(HWND window, WORD key) {
    if (key == VK_RETURN)
        robot::PressEnter(window);
    else
        robot::PressEscape(window);
    return GoneAfter(window, "key " + std::to_string(key));
}

Workspace::Workspace() {
    for (const std::string& folder : {Dist(), Extra(), Programs(), Menu()}) {
        if (!CreateDirectoryA(folder.c_str(), nullptr))
            ADD_FAILURE() << "cannot make " << folder;
    }
}

Product Workspace::SampleProduct() const {
    Product product;
    product.AppName = "E2E Product";
    product.AppVersion = "2.5";
    product.DefaultInstallDir = Programs() + "\\%AppName%";
    product.DefaultProgramGroup = "%AppName%";
    product.StartMenuFolderNt = Menu();
    product.StartMenuFolder9x = Menu();
    product.License =
        "E2E Product licence agreement\r\n"
        "\r\n"
        "1. \"Quoted\" terms, 100% as written: %AppName% stays.\r\n"
        "\tAn indented line; symbols <>&|!\r\n"
        "2. The last line.\r\n";
    product.Files = {
        {"app.exe", "%InstallDir%", "", "MZ pretend program\r\n"},
        {"readme.txt", "%InstallDir%", "", "Read me first.\r\n"},
        {"notes.txt", "%InstallDir%", Extra(), "Notes from the second source folder.\r\n"},
    };
    // The name of the first link holds a variable: its file name is
    // expanded, its description is not.
    product.Links = {
        {"%AppName%", "%InstallDir%\\app.exe", "-start --verbose"},
        {"Read Me", "%InstallDir%\\readme.txt", ""},
    };
    return product;
}

bool Workspace::LayOut(const Product& product) const {
    bool written = fixture::WriteTextFile(fixture::JoinPath(Dist(), "setup.ini"), ScriptText(product)) &&
                   (product.License.empty() ||
                    fixture::WriteTextFile(fixture::JoinPath(Dist(), "license.txt"), product.License)) &&
                   CopyFileA(fixture::SetupExePath().c_str(), SetupExe().c_str(), FALSE);
    for (const ProductFile& file : product.Files) {
        std::string source = fixture::JoinPath(file.SourceDir.empty() ? Dist() : file.SourceDir, file.Name);
        written = written && (file.Missing || fixture::WriteTextFile(source, file.Contents));
    }
    return written;
}

std::string Expand(const std::string& text, const std::string& installDir, const std::string& appName) {
    return ReplaceAll(ReplaceAll(text, "%InstallDir%", installDir), "%AppName%", appName);
}

std::string LogText(const std::vector<std::string>& lines) {
    std::string text =
        ";\r\n; Caution!\r\n; Do not delete or modify this file. It is required to product uninstallation.\r\n;\r\n"
        "\r\n";
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}

std::vector<std::string> LogLinesIn(const std::string& installDir) {
    std::istringstream text(fixture::ReadTextFile(fixture::JoinPath(installDir, "install.log")));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

HWND SetupRun::WaitForLicense(const std::string& licenseText) {
    HWND dialog = WaitForWindow("License agreement", WindowTimeoutMs);
    if (!dialog)
        return nullptr;
    EXPECT_EQ(robot::WindowClass(dialog), "#32770");
    EXPECT_EQ(robot::ControlText(dialog, 1000), licenseText);
    EXPECT_EQ(robot::ButtonIds(dialog), (std::vector<int>{IDOK, IDCANCEL}));
    EXPECT_EQ(robot::ControlStyle(dialog, IDCANCEL) & BS_TYPEMASK, BS_DEFPUSHBUTTON) << "Decline is the default";
    EXPECT_EQ(robot::ControlStyle(dialog, IDOK) & BS_TYPEMASK, BS_PUSHBUTTON) << "Accept is not the default";
    return dialog;
}

HWND SetupRun::WaitForDirectories(const std::string& offeredDir, const std::string& offeredGroup) {
    HWND dialog = WaitForWindow("Choose directories", WindowTimeoutMs);
    if (!dialog)
        return nullptr;
    EXPECT_EQ(robot::ControlText(dialog, 1001), offeredDir);
    EXPECT_EQ(robot::ControlText(dialog, 1002), offeredGroup);
    return dialog;
}

bool TypeDirectories(HWND dialog, const std::string& installDir, const std::string& group) {
    if (robot::SetEditText(dialog, 1001, installDir.c_str()) && robot::SetEditText(dialog, 1002, group.c_str()))
        return true;
    ADD_FAILURE() << "cannot type into the directories dialog";
    return false;
}

bool SetupRun::ReachInstallation(const Product& product, const std::string& installDir, const std::string& group) {
    if (!Answer(InstallQuestion(product.AppName, product.AppVersion), IDYES))
        return false;
    if (!product.License.empty()) {
        HWND license = WaitForLicense(product.License);
        if (!license || !Press(license, IDOK))
            return false;
    }
    HWND directories = WaitForDirectories(Expand(product.DefaultInstallDir, "", product.AppName),
                                          Expand(product.DefaultProgramGroup, "", product.AppName));
    return directories && TypeDirectories(directories, installDir, group) && Press(directories, IDOK);
}

std::optional<DWORD> SetupRun::ExitWithoutFurtherWindow() {
    std::vector<robot::SeenWindow> seen;
    bool ended = robot::DismissUntilExit(Process(), ProcessId(), ExitTimeoutMs, &seen);
    for (const robot::SeenWindow& window : seen)
        ADD_FAILURE() << "unexpected window \"" << window.Title << "\": " << window.Text;
    return WaitForExit(ended ? ExitTimeoutMs : 0);
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::set<std::string> NamesIn(const std::string& dir) {
    std::set<std::string> names;
    fixture::TreeSnapshot snapshot = fixture::TreeSnapshot::Take(dir);
    for (const fixture::TreeEntry& entry : snapshot.Entries())
        names.insert(entry.RelativePath);
    return names;
}

bool WaitUntilGone(const std::string& path, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (Exists(path)) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(PollMs);
    }
    return true;
}

std::string SyncEventName(const std::string& workDir) {
    std::string name = workDir;
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

bool SyncEventExists(const std::string& workDir) {
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, SyncEventName(workDir).c_str());
    if (event)
        CloseHandle(event);
    return event != nullptr;
}

std::string SecondStageTail(DWORD firstProcessId, const std::string& workDir) {
    char number[16];
    std::snprintf(number, sizeof number, "%08lX", static_cast<unsigned long>(firstProcessId));
    return std::string(" -u ") + number + " " + workDir;
}

bool IsTempFileName(const std::string& path, const char* extension) {
    char temp[MAX_PATH];
    DWORD length = GetTempPathA(sizeof temp, temp);
    std::string name = std::string(".") + extension;
    if (!length || length >= sizeof temp || path.size() != length + 7 + name.size() ||
        lstrcmpiA(path.substr(0, length).c_str(), temp) != 0 || path.compare(length, 3, "TMP") != 0)
        return false;
    for (size_t at = length + 3; at < length + 7; at++) {
        if (!std::isxdigit(static_cast<unsigned char>(path[at])) || std::islower(static_cast<unsigned char>(path[at])))
            return false;
    }
    return path.compare(length + 7, std::string::npos, name) == 0;
}

TreeMember::~TreeMember() {
    if (process_)
        CloseHandle(process_);
}

bool TreeMember::Find(const fixture::ChildProcess& root, const std::string& imagePath) {
    DWORD start = GetTickCount();
    do {
        for (DWORD id : root.ProcessIds()) {
            HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id);
            fixture::ProcessStart started = {};
            if (process && fixture::ReadProcessStart(process, &started) &&
                (imagePath.empty() ? IsTempFileName(started.ImagePath, "EXE")
                                   : lstrcmpiA(started.ImagePath.c_str(), imagePath.c_str()) == 0)) {
                process_ = process;
                id_ = id;
                start_ = started;
                return true;
            }
            if (process)
                CloseHandle(process);
        }
        Sleep(PollMs);
    } while (GetTickCount() - start < WindowTimeoutMs);
    ADD_FAILURE() << "no process of " << (imagePath.empty() ? "TMPnnnn.EXE" : imagePath)
                  << " ran in the tree of process " << root.ProcessId()
                  << "; screen: " << fixture::SaveFailureScreenshot();
    return false;
}

std::optional<DWORD> TreeMember::WaitForExit() {
    DWORD code = 0;
    if (!process_ || WaitForSingleObject(process_, ExitTimeoutMs) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process_, &code)) {
        ADD_FAILURE() << "process " << id_ << " (" << start_.ImagePath << ") did not end";
        return std::nullopt;
    }
    return code;
}

void StartFirstStage(fixture::ChildProcess& first, const std::string& appName, const std::string& installDir,
                     const std::string& setupExe) {
    if (setupExe.empty())
        ASSERT_TRUE(first.Start(fixture::JoinPath(installDir, "setup.exe"), "-u", installDir));
    else
        ASSERT_TRUE(first.Start(setupExe, "-u 0 " + installDir));
    HWND question = WaitForBox(first.ProcessId(), UninstallQuestion(appName));
    ASSERT_NE(question, nullptr);
    EXPECT_TRUE(SyncEventExists(installDir)) << "no event " << SyncEventName(installDir);
    ASSERT_TRUE(Press(question, IDYES));
}

}  // namespace e2e
