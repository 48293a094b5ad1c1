#include "e2e/device_flow.h"

#include <gtest/gtest.h>

#include "resource.h"
#include "support/robot.h"
#include "support/sample_driver_files.h"

namespace device_flow {

namespace {

const DWORD RunTimeoutMs = 60000;
const DWORD ExitTimeoutMs = 20000;
const DWORD GoneTimeoutMs = 10000;
const DWORD PollMs = 20;

struct WindowSearch {
    bool WantProgress;
    HWND Found;
};

bool IsProgressNotice(HWND window) {
    return robot::WindowTitle(window) == "Setup" && robot::HasControl(window, IDC_PROGRESS_TEXT);
}

// Visible dialogs and boxes of the programs under test (not of this one).
BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter) {
    WindowSearch* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == GetCurrentProcessId() || !IsWindowVisible(window) || robot::WindowClass(window) != "#32770")
        return TRUE;
    if (IsProgressNotice(window) != search->WantProgress)
        return TRUE;
    search->Found = window;
    return FALSE;
}

HWND FindWindowToWork() {
    WindowSearch search = {false, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

// The progress notice is read from outside, as the robot sees it: the text
// of its static control, while its program waits on a box.
std::string ProgressText() {
    WindowSearch search = {true, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.Found ? robot::ControlText(search.Found, IDC_PROGRESS_TEXT) : std::string();
}

bool IsConfirmation(const SeenBox& box) {
    const std::string installQuestion = "Do you want to continue?";
    if (box.Title == "Setup" && box.Text.size() >= installQuestion.size())
        return box.Text.compare(box.Text.size() - installQuestion.size(), std::string::npos, installQuestion) == 0;
    return box.Title == "Uninstall" && box.Text.rfind("Do you really want to uninstall ", 0) == 0;
}

SeenBox Look(HWND box) {
    return SeenBox{robot::WindowTitle(box), robot::MessageBoxText(box), robot::MessageBoxIconKind(box),
                   ProgressText()};
}

int AnswerFor(HWND box, const SeenBox& seen) {
    for (int id : robot::ButtonIds(box)) {
        if (id == IDYES)
            return IsConfirmation(seen) ? IDYES : IDNO;
    }
    return IDOK;
}

std::string ShellFolder(HKEY root, const char* name) {
    char path[MAX_PATH + 1] = "";
    HKEY key;
    if (RegOpenKeyExA(root, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", 0,
                      KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return std::string();
    DWORD size = MAX_PATH;
    RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size);
    RegCloseKey(key);
    return path;
}

}  // namespace

std::vector<std::string> Outcome::Texts() const {
    std::vector<std::string> texts;
    for (const SeenBox& box : Boxes)
        texts.push_back(box.Text);
    return texts;
}

Outcome Run(const std::string& program, const std::string& arguments, const std::string& currentDir,
            const std::string& finalText, const BoxHook& hook) {
    Outcome outcome;
    fixture::ChildProcess child;
    if (!child.Start(program, arguments, currentDir))
        return outcome;
    bool finalSeen = finalText.empty();
    DWORD start = GetTickCount();
    for (;;) {
        if (GetTickCount() - start >= RunTimeoutMs) {
            ADD_FAILURE() << "the run did not end within " << RunTimeoutMs << " ms; screen: "
                          << fixture::SaveFailureScreenshot();
            child.Kill();
            return outcome;
        }
        HWND window = FindWindowToWork();
        if (!window) {
            if (!child.Running() && finalSeen)
                break;
            Sleep(PollMs);
            continue;
        }
        if (robot::HasControl(window, IDC_INSTALL_DIR)) {
            // The directories dialog: the offered directories are taken.
            robot::PressButton(window, IDOK);
        } else {
            SeenBox seen = Look(window);
            if (hook)
                hook(seen);
            outcome.Boxes.push_back(seen);
            finalSeen = finalSeen || seen.Text == finalText;
            robot::PressButton(window, AnswerFor(window, seen));
        }
        EXPECT_TRUE(robot::WaitGone(window, GoneTimeoutMs)) << robot::WindowTitle(window);
    }
    outcome.ExitCode = child.WaitForExit(ExitTimeoutMs);
    if (!finalText.empty())
        child.WaitForAll(ExitTimeoutMs);
    return outcome;
}

std::string Script::Text() const {
    std::string text = "[Main]\r\n"
                       "AppName=" + std::string(AppName) + "\r\n"
                       "AppVersion=1.0\r\n"
                       "DefaultProgramGroup=" + GroupName + "\r\n"
                       "DefaultInstallDir=" + InstallDir + "\r\n";
    const struct {
        const char* Key;
        const std::string& Value;
    } optional[] = {{"DeviceName", DeviceName}, {"DeviceInfFile", DeviceInfFile}, {"FlushCommand", FlushCommand}};
    for (const auto& entry : optional) {
        if (!entry.Value.empty())
            text += std::string(entry.Key) + "=" + entry.Value + "\r\n";
    }
    return text + "\r\n[Main.NT]\r\nStartMenuFolder=%CommonProgramsFolder%\r\n"
                  "\r\n[Main.9x]\r\nStartMenuFolder=%LocalProgramsFolder%\r\n"
                  "\r\n[Files]\r\nreadme.txt=%InstallDir%\r\n";
}

std::string InfText(const std::string& driverFile, const std::string& deviceName) {
    return "[Version]\r\nSignature=\"$CHICAGO$\"\r\nClass=MEDIA\r\n\r\n[Installable.Drivers]\r\n"
           "e2esnd = 1:" + driverFile + ", \"wave,mixer\", \"" + deviceName + "\", , ,\r\n";
}

std::string CommonProgramsFolder() {
    return ShellFolder(HKEY_LOCAL_MACHINE, "Common Programs");
}

std::string LocalProgramsFolder() {
    return ShellFolder(HKEY_CURRENT_USER, "Programs");
}

SystemState SystemState::Take(const std::string& installParent, const std::string& startMenu) {
    SystemState state;
    state.systemIni_ = fixture::ReadTextFile(profile_files::WindowsFile("system.ini"));
    state.controlIni_ = fixture::ReadTextFile(profile_files::WindowsFile("control.ini"));
    state.installParent_ = fixture::TreeSnapshot::Take(installParent);
    state.startMenu_ = fixture::TreeSnapshot::Take(startMenu);
    return state;
}

::testing::AssertionResult SystemState::Same(const SystemState& after) const {
    std::string changes;
    if (systemIni_ != after.systemIni_)
        changes += "system.ini changed:\n" + after.systemIni_ + "\n";
    if (controlIni_ != after.controlIni_)
        changes += "control.ini changed:\n" + after.controlIni_ + "\n";
    changes += fixture::DescribeChanges(installParent_, after.installParent_);
    changes += fixture::DescribeChanges(startMenu_, after.startMenu_);
    if (changes.empty())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << changes;
}

std::vector<std::string> LogLines(const std::string& installDir) {
    std::string text = fixture::ReadTextFile(fixture::JoinPath(installDir, "install.log"));
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

}  // namespace device_flow
