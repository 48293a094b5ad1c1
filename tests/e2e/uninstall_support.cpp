#include "e2e/uninstall_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "support/robot.h"

namespace uninstall_test {

namespace {

const DWORD PollMs = 50;

bool IsUpperHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

}  // namespace

std::string LogHeader() {
    return ";\r\n; Caution!\r\n; Do not delete or modify this file. It is required to product uninstallation.\r\n"
           ";\r\n\r\n";
}

Installation InstallationBelow(const std::string& root) {
    Installation installation;
    installation.Dir = fixture::JoinPath(root, "Uninstall Test Product");
    installation.Group = fixture::JoinPath(root, "Uninstall Test Group");
    installation.Setup = fixture::JoinPath(installation.Dir, "setup.exe");
    installation.ProductFiles = {fixture::JoinPath(installation.Dir, "readme.txt"),
                                 fixture::JoinPath(installation.Dir, "data file.bin")};
    installation.Shortcut = fixture::JoinPath(installation.Group, "Read Me.lnk");
    return installation;
}

std::vector<std::string> LogLines(const Installation& installation) {
    std::vector<std::string> lines = {
        std::string("AppName ") + AppName,
        "CreateDir " + installation.Dir,
        "CreateFile " + fixture::JoinPath(installation.Dir, "install.log"),
        "CreateDir " + installation.Group,
        "CreateFile " + installation.Shortcut,
    };
    for (const std::string& file : installation.ProductFiles)
        lines.push_back("CreateFile " + file);
    lines.push_back("CreateFile " + installation.Setup);
    return lines;
}

bool LayOut(const Installation& installation, const std::vector<std::string>& lines) {
    std::string log = LogHeader();
    for (const std::string& line : lines)
        log += line + "\r\n";
    bool made = fixture::WriteTextFile(fixture::JoinPath(installation.Dir, "install.log"), log) &&
                fixture::WriteTextFile(installation.Shortcut, "shortcut of " + installation.ProductFiles[0]) &&
                CopyFileA(fixture::SetupExePath().c_str(), installation.Setup.c_str(), TRUE);
    for (const std::string& file : installation.ProductFiles)
        made = made && fixture::WriteTextFile(file, "contents of " + file);
    if (!made)
        ADD_FAILURE() << "cannot lay out the installation in " << installation.Dir << ": error " << GetLastError();
    return made;
}

std::string SyncEventName(const std::string& workDir) {
    std::string name = workDir;
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

bool SyncEventExists(const std::string& workDir) {
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, SyncEventName(workDir).c_str());
    if (!event)
        return false;
    CloseHandle(event);
    return true;
}

std::string SecondStageTail(DWORD firstProcessId, const std::string& workDir) {
    char number[16];
    std::snprintf(number, sizeof number, "%08lX", static_cast<unsigned long>(firstProcessId));
    return std::string(" -u ") + number + " " + workDir;
}

std::string TempDir() {
    char temp[MAX_PATH];
    DWORD length = GetTempPathA(sizeof temp, temp);
    return length && length < sizeof temp ? std::string(temp, length) : std::string();
}

bool IsTempFileName(const std::string& path, const char* extension) {
    std::string dir = TempDir();
    std::string name = "TMPnnnn." + std::string(extension);
    if (dir.empty() || path.size() != dir.size() + name.size() || Lower(path.substr(0, dir.size())) != Lower(dir))
        return false;
    std::string file = path.substr(dir.size());
    return file.compare(0, 3, "TMP") == 0 && std::all_of(file.begin() + 3, file.begin() + 7, IsUpperHexDigit) &&
           file.substr(7) == name.substr(7);
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
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

TreeMember::~TreeMember() {
    if (process_)
        CloseHandle(process_);
}

template <typename Match>
bool TreeMember::Find(const fixture::ChildProcess& root, DWORD timeoutMs, Match match, const std::string& what) {
    DWORD start = GetTickCount();
    for (;;) {
        for (DWORD id : root.ProcessIds()) {
            HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id);
            fixture::ProcessStart started = {};
            if (process && fixture::ReadProcessStart(process, &started) && match(started)) {
                process_ = process;
                id_ = id;
                start_ = started;
                return true;
            }
            if (process)
                CloseHandle(process);
        }
        if (GetTickCount() - start >= timeoutMs)
            break;
        Sleep(PollMs);
    }
    ADD_FAILURE() << "no process " << what << " ran in the tree of process " << root.ProcessId() << " within "
                  << timeoutMs << " ms; screen: " << fixture::SaveFailureScreenshot();
    return false;
}

bool TreeMember::FindTempProgram(const fixture::ChildProcess& root, const char* extension, DWORD timeoutMs) {
    return Find(
        root, timeoutMs,
        [extension](const fixture::ProcessStart& started) { return IsTempFileName(started.ImagePath, extension); },
        std::string("from ") + TempDir() + "TMPnnnn." + extension);
}

bool TreeMember::FindProgram(const fixture::ChildProcess& root, const std::string& imagePath, DWORD timeoutMs) {
    return Find(
        root, timeoutMs,
        [&imagePath](const fixture::ProcessStart& started) {
            return lstrcmpiA(started.ImagePath.c_str(), imagePath.c_str()) == 0;
        },
        "of " + imagePath);
}

bool TreeMember::WaitForExit(DWORD timeoutMs, DWORD* code) {
    if (!process_ || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "process " << id_ << " (" << start_.ImagePath << ") did not end within " << timeoutMs
                      << " ms";
        return false;
    }
    return GetExitCodeProcess(process_, code) != 0;
}

ExpectedBox ErrorBox(const std::string& text, bool prefix) {
    return ExpectedBox{"Setup", text, prefix, MB_ICONERROR, {IDOK}, IDOK, IDOK};
}

ExpectedBox CompletionBox() {
    return ExpectedBox{"Uninstall", "Uninstallation complete.", false, MB_ICONINFORMATION, {IDOK}, IDOK, IDOK};
}

ExpectedBox ConfirmationBox(int answer) {
    return ExpectedBox{"Uninstall",
                       std::string("Do you really want to uninstall ") + AppName + "?",
                       false,
                       MB_ICONINFORMATION,
                       {IDYES, IDNO},
                       IDNO,
                       answer};
}

bool AnswerBox(DWORD processId, const ExpectedBox& expected) {
    HWND box = robot::FindWindowOfProcess(processId, WindowTimeoutMs);
    if (!box) {
        ADD_FAILURE() << "process " << processId << " showed no box \"" << expected.Text << "\" within "
                      << WindowTimeoutMs << " ms; screen: " << fixture::SaveFailureScreenshot();
        return false;
    }
    std::string title = robot::WindowTitle(box);
    std::string text = robot::MessageBoxText(box);
    bool textMatches =
        expected.Prefix ? text.compare(0, expected.Text.size(), expected.Text) == 0 : text == expected.Text;
    bool matches = title == expected.Title && textMatches;
    if (!matches) {
        ADD_FAILURE() << "expected the box \"" << expected.Title << "\": " << expected.Text << "\nbut process "
                      << processId << " showed \"" << title << "\": " << text;
        robot::Dismiss(box);
        robot::WaitGone(box);
        return false;
    }
    EXPECT_EQ(robot::WindowClass(box), "#32770");
    EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr) << text;
    EXPECT_EQ(robot::MessageBoxIconKind(box), expected.Icon) << text;
    EXPECT_EQ(robot::ButtonIds(box), expected.Buttons) << text;
    for (int button : expected.Buttons)
        EXPECT_EQ((robot::ControlStyle(box, button) & BS_DEFPUSHBUTTON) != 0, button == expected.DefaultButton)
            << "button " << button << " of " << text;
    bool pressed = robot::PressButton(box, expected.Answer);
    EXPECT_TRUE(pressed) << "cannot press " << expected.Answer << " in " << text;
    EXPECT_TRUE(robot::WaitGone(box)) << text;
    return pressed;
}

void StartFirstStage(fixture::ChildProcess& first, const std::string& installDir, const std::string& setupExe) {
    if (setupExe.empty())
        ASSERT_TRUE(first.Start(fixture::JoinPath(installDir, "setup.exe"), "-u", installDir));
    else
        ASSERT_TRUE(first.Start(setupExe, "-u 0 " + installDir));
    HWND question = first.WaitForWindow("Uninstall", WindowTimeoutMs);
    ASSERT_NE(question, nullptr);
    EXPECT_TRUE(SyncEventExists(installDir)) << "no event " << SyncEventName(installDir);
    ASSERT_TRUE(AnswerBox(first.ProcessId(), ConfirmationBox(IDYES)));
}

}  // namespace uninstall_test
