// The main job's user: installs and uninstalls the sample product with
// setup.exe under Wine, answering every question as a user would, and saves
// a screenshot of each dialog and message box, and of the progress window
// of the device when it catches it.
//
//   main_job.exe install <distribution folder> <screenshot folder>
//   main_job.exe uninstall <installation folder> <screenshot folder>
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>

#include "support/robot.h"

namespace {

std::string ScreenshotFolder;
int ScreenshotCount;

PROCESS_INFORMATION Start(const std::string& commandLine, const std::string& folder) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup, &process))
        std::printf("cannot start %s (error %lu)\n", commandLine.c_str(), GetLastError());
    return process;
}

void Screenshot(const char* name, DWORD paintWaitMs = 300) {
    Sleep(paintWaitMs);  // let the window paint
    char path[MAX_PATH];
    std::snprintf(path, sizeof path, "%s\\%02d-%s.bmp", ScreenshotFolder.c_str(), ++ScreenshotCount, name);
    if (!robot::SaveScreenshot(path))
        std::printf("  (screenshot %s failed)\n", path);
}

// Waits for the window, shows what it says, saves a picture and presses the
// button. Any process may own it: the uninstaller's second stage is another
// process than the one started.
bool Answer(const char* title, const char* shotName, int button, const char* buttonName) {
    HWND window = robot::FindWindowByTitle(title, 0, 30000);
    if (!window) {
        std::printf("! no window \"%s\" appeared\n", title);
        return false;
    }
    std::printf("[%s]\n", title);
    for (const std::string& text : robot::ReadTexts(window)) {
        if (!text.empty())
            std::printf("  | %s\n", text.size() > 300 ? (text.substr(0, 300) + "...").c_str() : text.c_str());
    }
    Screenshot(shotName);
    std::printf("  -> %s\n", buttonName);
    robot::PressButton(window, button);
    return robot::WaitGone(window, 10000);
}

const int ProgressTextId = 1004;

BOOL CALLBACK MatchProgressWindow(HWND window, LPARAM parameter) {
    if (IsWindowVisible(window) && robot::WindowTitle(window) == "Setup" &&
        robot::HasControl(window, ProgressTextId)) {
        *reinterpret_cast<HWND*>(parameter) = window;
        return FALSE;
    }
    return TRUE;
}

std::string KeptText(HWND control) {
    wchar_t wide[256];
    int length = InternalGetWindowText(control, wide, 256);
    char text[512];
    int size = WideCharToMultiByte(CP_ACP, 0, wide, length, text, sizeof text, nullptr, nullptr);
    return std::string(text, size > 0 ? size : 0);
}

// The progress window of the device work ("Setup", with its text control)
// is up only for a moment: it is looked for until `over` says the moment has
// passed. When caught with its text, the text is shown and the screen saved
// at once (the window paints itself before the work starts).
void CatchProgress(const char* shotName, const std::function<bool()>& over) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 30000 && !over()) {
        HWND window = nullptr;
        EnumWindows(MatchProgressWindow, reinterpret_cast<LPARAM>(&window));
        // Its program handles no messages while the device work runs, so the
        // text is read as the window manager keeps it, without asking the
        // window. The window shows before its text is set.
        std::string text = window ? KeptText(GetDlgItem(window, ProgressTextId)) : std::string();
        if (!text.empty()) {
            Screenshot(shotName, 0);
            std::printf("[Setup] (progress window)\n  | %s\n", text.c_str());
            return;
        }
    }
    std::printf("  (the progress window of the device was up too briefly to be caught)\n");
}

DWORD WaitForExit(const PROCESS_INFORMATION& process) {
    DWORD code = 1;
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

// The installation directory as the directories dialog offers it.
std::string OfferedInstallDir() {
    HWND dialog = robot::FindWindowByTitle("Choose directories", 0, 30000);
    return dialog ? robot::ControlText(dialog, 1001) : std::string();
}

bool Install(const std::string& dist, std::string* installDir) {
    std::printf("== Install: %s\\setup.exe\n", dist.c_str());
    PROCESS_INFORMATION setup = Start("\"" + dist + "\\setup.exe\"", dist);
    if (!setup.hProcess)
        return false;
    bool answered = Answer("Setup", "install-question", IDYES, "Yes") &&
                    Answer("License agreement", "license", IDOK, "Accept");
    if (answered)
        *installDir = OfferedInstallDir();
    answered = answered && Answer("Choose directories", "directories", IDOK, "Install");
    if (answered)
        CatchProgress("device-progress", [] { return robot::FindWindowByTitle("Sample Product", 0, 0) != nullptr; });
    answered = answered && Answer("Sample Product", "installation-complete", IDOK, "OK");
    DWORD code = WaitForExit(setup);
    std::printf("setup.exe exit code: %lu\n", code);
    return answered && code == 0;
}

bool Uninstall(const std::string& installDir) {
    std::printf("== Uninstall: %s\\setup.exe -u (as the Uninstall shortcut does)\n", installDir.c_str());
    PROCESS_INFORMATION first = Start("\"" + installDir + "\\setup.exe\" -u", installDir);
    if (!first.hProcess)
        return false;
    bool asked = Answer("Uninstall", "uninstall-question", IDYES, "Yes");
    if (asked)
        CatchProgress("device-removal-progress",
                      [&] { return WaitForSingleObject(first.hProcess, 0) == WAIT_OBJECT_0; });
    DWORD code = WaitForExit(first);
    std::printf("exit code of the installed setup.exe (it hands over to its temporary copy): %lu\n", code);
    bool completed = asked && Answer("Uninstall", "uninstallation-complete", IDOK, "OK");
    return completed && code == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::printf("usage: main_job.exe install|uninstall <folder> <screenshot folder>\n");
        return 2;
    }
    std::string action = argv[1];
    ScreenshotFolder = argv[3];
    CreateDirectoryA(ScreenshotFolder.c_str(), nullptr);
    ScreenshotCount = action == "install" ? 0 : 10;
    if (action == "install") {
        std::string installDir;
        bool installed = Install(argv[2], &installDir);
        std::printf("INSTALL_DIR=%s\n", installDir.c_str());
        return installed ? 0 : 1;
    }
    return Uninstall(argv[2]) ? 0 : 1;
}
