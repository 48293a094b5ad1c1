// The benchmark's user (tools/bench.sh): runs setup.exe under Wine the way
// a user would, answering its questions with the UI robot, and times the
// part of each run that the benchmark compares. Every command prints one
// line "MS=<milliseconds>" (fractions included) when it succeeded.
//
//   bench_driver.exe install <distribution folder>
//       Yes to the question, Install in the directories dialog; timed from
//       the Install press to the completion box. Prints INSTALL_DIR= too.
//   bench_driver.exe uninstall <installation folder>
//       setup.exe -u from there; timed from the Yes press to the
//       completion box of the second stage.
//   bench_driver.exe copy <source folder> <target folder> <pattern>
//   bench_driver.exe delete <folder> <pattern>
//       CopyFileA / DeleteFileA of the matching files, timed in this process.
//   bench_driver.exe undo <setup.exe> <folder>
//       setup.exe -u FFFFFFFF <folder>; timed from the process start to
//       "Uninstallation complete.".
//   bench_driver.exe first-window <program> [folder]
//       timed from the process start to its first visible window, which
//       is then dismissed.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/robot.h"

namespace {

const DWORD WindowTimeoutMs = 60000;
const DWORD PollIntervalMs = 10;

double Now() {
    LARGE_INTEGER frequency, count;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&count);
    return 1000.0 * static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The robot's own search polls every 50 ms, too coarse to time with: this
// one looks again every 10 ms. Looking every millisecond made the timed
// program slower: each look is a round of wineserver calls, which compete
// with the program's own on two cores (uninstall 1.47x instead of 1.22x of
// the plain delete in one run). `except` is a window that does not count
// (a box of the same title that is on its way out).
HWND WaitForWindow(const char* title, DWORD processId, HWND except = nullptr) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < WindowTimeoutMs) {
        HWND window = title ? robot::FindWindowByTitle(title, processId, 0)
                            : robot::FindWindowOfProcess(processId, 0);
        if (window && window != except)
            return window;
        Sleep(PollIntervalMs);
    }
    std::printf("! no window \"%s\" appeared\n", title ? title : "(any)");
    return nullptr;
}

PROCESS_INFORMATION Start(const std::string& commandLine, const std::string& folder) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &process))
        std::printf("! cannot start %s (error %lu)\n", commandLine.c_str(), GetLastError());
    return process;
}

DWORD WaitForExit(const PROCESS_INFORMATION& process) {
    DWORD code = 1;
    if (WaitForSingleObject(process.hProcess, WindowTimeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

bool Press(HWND window, int button) {
    return window && robot::PressButton(window, button) && robot::WaitGone(window, WindowTimeoutMs);
}

void PrintElapsed(double ms) {
    std::printf("MS=%.1f\n", ms);
}

int Install(const std::string& dist) {
    PROCESS_INFORMATION setup = Start("\"" + dist + "\\setup.exe\"", dist);
    if (!setup.hProcess)
        return 1;
    bool answered = Press(WaitForWindow("Setup", 0), IDYES);
    HWND directories = answered ? WaitForWindow("Choose directories", 0) : nullptr;
    std::string installDir = directories ? robot::ControlText(directories, 1001) : std::string();
    double start = Now();
    answered = directories && robot::PressButton(directories, IDOK);
    HWND complete = answered ? WaitForWindow("Bench", 0) : nullptr;
    double elapsed = Now() - start;
    answered = Press(complete, IDOK);
    DWORD code = WaitForExit(setup);
    if (!answered || code != 0) {
        std::printf("! install failed (exit code %lu)\n", code);
        return 1;
    }
    std::printf("INSTALL_DIR=%s\n", installDir.c_str());
    PrintElapsed(elapsed);
    return 0;
}

int Uninstall(const std::string& installDir) {
    PROCESS_INFORMATION first = Start("\"" + installDir + "\\setup.exe\" -u", installDir);
    if (!first.hProcess)
        return 1;
    HWND question = WaitForWindow("Uninstall", first.dwProcessId);
    double start = Now();
    bool answered = Press(question, IDYES);
    HWND complete = answered ? WaitForWindow("Uninstall", 0, question) : nullptr;
    double elapsed = Now() - start;
    DWORD code = WaitForExit(first);
    answered = Press(complete, IDOK);
    if (!answered || code != 0) {
        std::printf("! uninstall failed (first stage exit code %lu)\n", code);
        return 1;
    }
    PrintElapsed(elapsed);
    return 0;
}

std::vector<std::string> MatchingFiles(const std::string& folder, const std::string& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\" + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

int Copy(const std::string& source, const std::string& target, const std::string& pattern) {
    std::vector<std::string> names = MatchingFiles(source, pattern);
    CreateDirectoryA(target.c_str(), nullptr);
    double start = Now();
    for (const std::string& name : names) {
        if (!CopyFileA((source + "\\" + name).c_str(), (target + "\\" + name).c_str(), FALSE)) {
            std::printf("! cannot copy %s (error %lu)\n", name.c_str(), GetLastError());
            return 1;
        }
    }
    PrintElapsed(Now() - start);
    return names.empty() ? 1 : 0;
}

int Delete(const std::string& folder, const std::string& pattern) {
    std::vector<std::string> names = MatchingFiles(folder, pattern);
    double start = Now();
    for (const std::string& name : names) {
        if (!DeleteFileA((folder + "\\" + name).c_str())) {
            std::printf("! cannot delete %s (error %lu)\n", name.c_str(), GetLastError());
            return 1;
        }
    }
    PrintElapsed(Now() - start);
    return names.empty() ? 1 : 0;
}

int Undo(const std::string& setupPath, const std::string& folder) {
    double start = Now();
    PROCESS_INFORMATION setup = Start("\"" + setupPath + "\" -u FFFFFFFF " + folder, folder);
    if (!setup.hProcess)
        return 1;
    HWND complete = WaitForWindow("Uninstall", setup.dwProcessId);
    double elapsed = Now() - start;
    std::string text = complete ? robot::MessageBoxText(complete) : std::string();
    bool answered = Press(complete, IDOK);
    DWORD code = WaitForExit(setup);
    if (!answered || code != 0 || text != "Uninstallation complete.") {
        std::printf("! undo failed (exit code %lu, box \"%s\")\n", code, text.c_str());
        return 1;
    }
    PrintElapsed(elapsed);
    return 0;
}

int FirstWindow(const std::string& program, const std::string& folder) {
    double start = Now();
    PROCESS_INFORMATION process = Start("\"" + program + "\"", folder);
    if (!process.hProcess)
        return 1;
    HWND window = WaitForWindow(nullptr, process.dwProcessId);
    double elapsed = Now() - start;
    if (window)
        robot::Dismiss(window);
    WaitForExit(process);
    if (!window)
        return 1;
    PrintElapsed(elapsed);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string command = argc > 1 ? argv[1] : "";
    int status = 2;
    if (command == "install" && argc == 3)
        status = Install(argv[2]);
    else if (command == "uninstall" && argc == 3)
        status = Uninstall(argv[2]);
    else if (command == "copy" && argc == 5)
        status = Copy(argv[2], argv[3], argv[4]);
    else if (command == "delete" && argc == 4)
        status = Delete(argv[2], argv[3]);
    else if (command == "undo" && argc == 4)
        status = Undo(argv[2], argv[3]);
    else if (command == "first-window" && (argc == 3 || argc == 4))
        status = FirstWindow(argv[2], argc == 4 ? argv[3] : "");
    else
        std::printf("usage: bench_driver.exe install|uninstall|copy|delete|undo|first-window ...\n");
    std::fflush(stdout);
    return status;
}
