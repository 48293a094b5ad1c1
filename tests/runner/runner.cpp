// The scenario runner: plays one scenario file (one row of its table)
// against the real setup.exe, as a user at the machine would, and checks
// what the program left behind. The format is described in
// tests/scenarios/README.md.
//
//   runner.exe [--row NAME] [--screenshots DIR] [--timing] BUILD-DIR BUILD SCENARIO
//
// BUILD-DIR holds setup.exe and the other programs of one build; BUILD is
// its name (x86_64 or i686). Exit code 0 when every step and check held.
#include <windows.h>

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "robot/robot.h"
#include "runner/machine.h"
#include "runner/scenario.h"

namespace {

const DWORD WindowTimeoutMs = 20000;
const DWORD ExitTimeoutMs = 30000;
const DWORD LongWaitMs = 60000;
const char LogHeader[] =
    ";\r\n; Caution!\r\n; Do not delete or modify this file. It is required to product uninstallation.\r\n;\r\n\r\n";

struct Options {
    std::string Row, Screenshots, BuildDir, Build, File, ProductsDir;
    bool Timing = false;
};

// Everything one scenario run holds.
struct Run {
    Options Given;
    std::map<std::string, std::string> Places;
    const ScenarioLine* Line = nullptr;
    int Failures = 0;
    bool Windows9x = false;
    std::string CurrentDir;
    std::vector<std::string> Environment;
    HANDLE Job = nullptr;
    PROCESS_INFORMATION First = {};
    bool Running = false;
    bool CaptureOutput = false;
    HWND OpenBox = nullptr;
    std::map<std::string, HANDLE> Held;
    std::map<std::string, Snapshot> Before;
    DWORD LastAnswer = 0;
    int Shots = 0;
};

std::string Visible(const std::string& text) {
    std::string shown;
    for (char c : text) {
        if (c == '\n')
            shown += "\\n";
        else if (c == '\r')
            shown += "\\r";
        else if (static_cast<unsigned char>(c) < 32) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
            shown += hex;
        } else
            shown += c;
    }
    return shown;
}

bool Fail(Run& run, const std::string& what) {
    std::printf("%s:%d: %s %s\n  %s\n", run.Given.File.c_str(), run.Line ? run.Line->Number : 0,
                run.Line ? run.Line->Keyword.c_str() : "", run.Line ? run.Line->Rest.c_str() : "", what.c_str());
    run.Failures++;
    return false;
}

bool Expect(Run& run, const char* what, const std::string& expected, const std::string& actual) {
    if (expected == actual)
        return true;
    return Fail(run, std::string(what) + "\n    expected: " + Visible(expected) + "\n    actual:   " + Visible(actual));
}

std::string Text(const Run& run, const std::string& raw) {
    return ExpandPlaceholders(raw, run.Places);
}

std::vector<std::string> Fields(const Run& run, const std::string& raw) {
    std::vector<std::string> fields = SplitFields(raw);
    for (std::string& field : fields)
        field = Text(run, field);
    return fields;
}

// A body's lines, each ended by CR LF.
std::string BodyText(const Run& run) {
    std::string text;
    for (const std::string& line : run.Line->Body)
        text += Text(run, line) + "\r\n";
    return text;
}

// --- The processes of a run -------------------------------------------------

std::vector<DWORD> RunningProcesses(const Run& run) {
    struct {
        JOBOBJECT_BASIC_PROCESS_ID_LIST List;
        ULONG_PTR More[63];
    } ids = {};
    ids.List.NumberOfAssignedProcesses = 64;
    std::vector<DWORD> running;
    if (run.Job && QueryInformationJobObject(run.Job, JobObjectBasicProcessIdList, &ids, sizeof ids, nullptr)) {
        for (DWORD i = 0; i < ids.List.NumberOfProcessIdsInList; i++)
            running.push_back(static_cast<DWORD>(ids.List.ProcessIdList[i]));
    }
    return running;
}

// A window the scenario did not expect: reported, then the run is ended.
bool Unexpected(Run& run, HWND window) {
    std::string text = robot::IsMessageBox(window) ? robot::MessageBoxText(window) : std::string("(a dialog)");
    TerminateJobObject(run.Job, 1);
    return Fail(run, "unexpected window \"" + robot::WindowTitle(window) + "\": " + Visible(text));
}

// Waits until every process of the run has ended; any window on the way is
// unexpected (the progress notice too when `noWindowAtAll`).
bool Settle(Run& run, bool noWindowAtAll = false) {
    if (!run.Running)
        return true;
    run.Running = false;
    for (DWORD start = GetTickCount();; Sleep(20)) {
        std::vector<DWORD> running = RunningProcesses(run);
        if (running.empty())
            return true;
        if (HWND window = robot::FindWindowOf(running, noWindowAtAll))
            return Unexpected(run, window);
        if (GetTickCount() - start >= LongWaitMs) {
            TerminateJobObject(run.Job, 1);
            return Fail(run, "the run's processes are still running after a minute");
        }
    }
}

std::string ShortName(const std::string& text) {
    std::string name;
    for (char c : text.substr(0, 24))
        name += isalnum(static_cast<unsigned char>(c)) ? c : '-';
    return name;
}

// The next window of the run (the progress notice left out), checked to be
// what `kind` expects by `matches`; null, with a failure, otherwise.
HWND NextWindow(Run& run) {
    for (DWORD start = GetTickCount();; Sleep(10)) {
        std::vector<DWORD> running = RunningProcesses(run);
        if (HWND window = robot::FindWindowOf(running)) {
            if (run.Given.Timing)
                std::printf("timing %d %s %lu\n", run.Line->Number, run.Line->Keyword.c_str(),
                            GetTickCount() - run.LastAnswer);
            if (!run.Given.Screenshots.empty()) {
                if (robot::IsMessageBox(window))
                    robot::MessageBoxIconKind(window);  // painted by now
                Sleep(200);
                char name[MAX_PATH];
                std::snprintf(name, sizeof name, "%s\\%02d-%s.bmp", run.Given.Screenshots.c_str(), ++run.Shots,
                              ShortName(robot::WindowTitle(window)).c_str());
                robot::SaveScreenshot(name);
            }
            return window;
        }
        if (running.empty()) {
            Fail(run, "the program ended without showing this window");
            return nullptr;
        }
        if (GetTickCount() - start >= WindowTimeoutMs) {
            Fail(run, "no window came within 20 s");
            return nullptr;
        }
    }
}

bool Answer(Run& run, HWND window, const std::string& answer) {
    static const std::map<std::string, int> buttons = {{"ok", IDOK},         {"cancel", IDCANCEL}, {"yes", IDYES},
                                                       {"no", IDNO},         {"retry", IDRETRY},   {"accept", IDOK},
                                                       {"decline", IDCANCEL}, {"install", IDOK}};
    run.LastAnswer = GetTickCount();
    if (answer == "enter" || answer == "escape") {
        robot::PressKey(window, answer == "enter" ? VK_RETURN : VK_ESCAPE);
    } else if (!buttons.count(answer) || !robot::PressButton(window, buttons.at(answer))) {
        return Fail(run, "cannot answer " + answer);
    }
    return true;
}

bool AnswerAndWait(Run& run, HWND window, const std::string& answer) {
    if (!Answer(run, window, answer))
        return false;
    return robot::WaitGone(window) || Fail(run, "the window stays after " + answer);
}

// "text -> answer" split; the answer is empty when none is given.
std::pair<std::string, std::string> SplitAnswer(const std::string& rest) {
    size_t arrow = rest.rfind(" -> ");
    if (arrow == std::string::npos)
        return {rest, std::string()};
    return {rest.substr(0, arrow), Trim(rest.substr(arrow + 4))};
}

std::string IconName(UINT kind) {
    switch (kind) {
    case MB_ICONERROR: return "error";
    case MB_ICONWARNING: return "warning";
    case MB_ICONQUESTION: return "question";
    case MB_ICONINFORMATION: return "information";
    default: return "none";
    }
}

std::string ButtonsOf(HWND window) {
    static const char* names[] = {"", "ok", "cancel", "abort", "retry", "ignore", "yes", "no"};
    std::string shown;
    int preset = robot::DefaultButton(window);
    for (int id : robot::ButtonIds(window))
        shown += std::string(shown.empty() ? "" : " ") + (id > 0 && id < 8 ? names[id] : "?") + (id == preset ? "*" : "");
    return shown;
}

// --- Steps ------------------------------------------------------------------

bool StartRun(Run& run) {
    if (!Settle(run))
        return false;
    std::vector<std::string> fields = Fields(run, run.Line->Rest);
    std::string exe = fields.size() > 1 ? fields[0] : run.Places["dist"] + "\\setup.exe";
    std::string tail = fields.size() > 1 ? fields[1] : fields[0];
    std::string commandLine = "\"" + exe + "\"" + (tail.empty() ? "" : " " + tail);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE output = INVALID_HANDLE_VALUE;
    if (run.CaptureOutput) {
        output = CreateFileA((run.Places["scratch"] + "\\stdout.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                             &inherit, CREATE_ALWAYS, 0, nullptr);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output;
        startup.hStdError = output;
    }
    std::string environment;
    for (const std::string& entry : run.Environment)
        environment += entry + '\0';
    char* block = GetEnvironmentStringsA();
    for (const char* entry = block; *entry; entry += lstrlenA(entry) + 1)
        environment += std::string(entry) + '\0';
    FreeEnvironmentStringsA(block);
    environment += '\0';
    run.Job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(run.Job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    bool started = CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, run.CaptureOutput, CREATE_SUSPENDED,
                                  &environment[0], run.CurrentDir.empty() ? nullptr : run.CurrentDir.c_str(), &startup,
                                  &run.First);
    if (output != INVALID_HANDLE_VALUE)
        CloseHandle(output);
    if (!started)
        return Fail(run, "cannot start " + commandLine + ": error " + std::to_string(GetLastError()));
    AssignProcessToJobObject(run.Job, run.First.hProcess);
    ResumeThread(run.First.hThread);
    char pid[16];
    std::snprintf(pid, sizeof pid, "%08lX", run.First.dwProcessId);
    run.Places["pid"] = pid;
    run.Running = true;
    run.LastAnswer = GetTickCount();
    return true;
}

bool ExpectBox(Run& run) {
    auto [expected, answer] = SplitAnswer(run.Line->Rest);
    std::vector<std::string> fields = Fields(run, expected);
    if (fields.size() != 4)
        return Fail(run, "a box needs title | text | icon | buttons");
    HWND box = NextWindow(run);
    if (!box)
        return false;
    if (!robot::IsMessageBox(box))
        return Unexpected(run, box);
    bool same = Expect(run, "title", fields[0], robot::WindowTitle(box)) &
                Expect(run, "text", fields[1], robot::MessageBoxText(box)) &
                Expect(run, "icon", fields[2], IconName(robot::MessageBoxIconKind(box))) &
                Expect(run, "buttons", fields[3], ButtonsOf(box));
    if (!same) {
        TerminateJobObject(run.Job, 1);
        return false;
    }
    run.OpenBox = box;
    return answer.empty() || AnswerAndWait(run, box, answer);
}

bool AnswerOpenBox(Run& run) {
    HWND box = run.OpenBox;
    run.OpenBox = nullptr;
    return box ? AnswerAndWait(run, box, run.Line->Rest) : Fail(run, "no box is up");
}

bool ExpectDialog(Run& run, const char* title, std::vector<std::pair<int, std::string>> texts, HWND* dialog) {
    *dialog = NextWindow(run);
    if (!*dialog)
        return false;
    bool same = Expect(run, "title", title, robot::WindowTitle(*dialog));
    for (const auto& text : texts)
        same &= Expect(run, "field", text.second, robot::ControlText(*dialog, text.first));
    if (!same)
        TerminateJobObject(run.Job, 1);
    return same;
}

bool ExpectLicense(Run& run) {
    auto [expected, answer] = SplitAnswer(run.Line->Rest);
    std::string text = Text(run, expected);
    if (text[0] == '@' && !ReadFileBytes(text.substr(1), &text))
        return Fail(run, "cannot read " + text);
    HWND dialog;
    return ExpectDialog(run, "License agreement", {{1000, text}}, &dialog) &&
           Expect(run, "buttons", "ok cancel*", ButtonsOf(dialog)) && AnswerAndWait(run, dialog, answer);
}

// "install <dir> | <group>" (or "enter ...") types both first. After Install the dialog may
// stay with a box in front of it when the choice is refused.
bool ExpectDirectories(Run& run) {
    auto [expected, answer] = SplitAnswer(run.Line->Rest);
    std::vector<std::string> offered = Fields(run, expected);
    HWND dialog;
    if (offered.size() != 2 || !ExpectDialog(run, "Choose directories", {{1001, offered[0]}, {1002, offered[1]}}, &dialog))
        return run.Failures || Fail(run, "directories need dir | group");
    if (!Expect(run, "buttons", "ok* cancel", ButtonsOf(dialog)))
        return false;
    size_t space = answer.find(' ');
    if (space == std::string::npos)
        return AnswerAndWait(run, dialog, answer);
    std::vector<std::string> typed = Fields(run, answer.substr(space + 1));
    if (typed.size() != 2 || !robot::SetEditText(dialog, 1001, typed[0].c_str()) ||
        !robot::SetEditText(dialog, 1002, typed[1].c_str()))
        return Fail(run, "cannot type dir | group");
    if (!Answer(run, dialog, answer.substr(0, space)))
        return false;
    for (DWORD start = GetTickCount(); IsWindowVisible(dialog); Sleep(10)) {
        HWND front = robot::FindWindowOf(RunningProcesses(run));
        if ((front && front != dialog) || GetTickCount() - start >= WindowTimeoutMs)
            break;
    }
    return true;
}

bool ExpectExit(Run& run) {
    for (DWORD start = GetTickCount(); WaitForSingleObject(run.First.hProcess, 20) == WAIT_TIMEOUT;) {
        if (HWND window = robot::FindWindowOf({run.First.dwProcessId}))
            return Unexpected(run, window);
        if (GetTickCount() - start >= ExitTimeoutMs) {
            TerminateJobObject(run.Job, 1);
            return Fail(run, "the program is still running after 30 s");
        }
    }
    if (run.Given.Timing)
        std::printf("timing %d exit %lu\n", run.Line->Number, GetTickCount() - run.LastAnswer);
    DWORD code = 0;
    GetExitCodeProcess(run.First.hProcess, &code);
    return Expect(run, "exit code", Text(run, run.Line->Rest), std::to_string(code));
}

bool KillWhen(Run& run) {
    std::string path = Text(run, run.Line->Rest);
    for (DWORD start = GetTickCount(); !PathExists(path); Sleep(1)) {
        if (GetTickCount() - start >= LongWaitMs)
            return Fail(run, "it never appeared");
    }
    TerminateJobObject(run.Job, 9);
    WaitForSingleObject(run.First.hProcess, ExitTimeoutMs);
    run.Running = false;
    return true;
}

// --- Set-up -----------------------------------------------------------------

bool Pose(Run& run) {
    std::string version = Text(run, run.Line->Rest);
    run.Windows9x = version == "win95" || version == "win98" || version == "winme";
    return SetRegistryValue("HKCU\\Software\\Wine", "Version", version) || Fail(run, "cannot pose");
}

bool WriteFileStep(Run& run) {
    return WriteFileBytes(Text(run, run.Line->Rest), BodyText(run)) || Fail(run, "cannot write it");
}

bool CopyProduct(Run& run) {
    std::string from = run.Given.ProductsDir + "\\" + Text(run, run.Line->Rest);
    Snapshot files = TakeSnapshot(from);
    if (files.empty())
        return Fail(run, "no such product");
    for (const auto& file : files) {
        std::string target = run.Places["dist"] + "\\" + file.first;
        if (!(file.second == "<dir>" ? MakeFolders(target) : WriteFileBytes(target, Text(run, file.second))))
            return Fail(run, "cannot copy " + file.first);
    }
    return true;
}

bool CopyStep(Run& run) {
    std::vector<std::string> paths = Fields(run, run.Line->Rest);
    MakeFolders(paths[1].substr(0, paths[1].rfind('\\')));
    return (paths.size() == 2 && CopyFileA(paths[0].c_str(), paths[1].c_str(), FALSE)) ||
           Fail(run, "cannot copy: error " + std::to_string(GetLastError()));
}

// "<file> | <section> | <count> | <prefix>": keys <prefix>001 ... each with the value "x".
bool WriteKeys(Run& run) {
    std::vector<std::string> f = Fields(run, run.Line->Rest);
    if (f.size() != 4)
        return Fail(run, "keys need file | section | count | prefix");
    for (int i = 1; i <= std::stoi(f[2]); i++) {
        char number[8];
        std::snprintf(number, sizeof number, "%03d", i);
        if (!WritePrivateProfileStringA(f[1].c_str(), (f[3] + number).c_str(), "x", f[0].c_str()))
            return Fail(run, "cannot write them");
    }
    return true;
}

bool Hold(Run& run) {
    std::string path = Text(run, run.Line->Rest);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Fail(run, "cannot open it");
    run.Held[path] = file;
    return true;
}

bool Release(Run& run) {
    std::string path = Text(run, run.Line->Rest);
    if (!run.Held.count(path))
        return Fail(run, "not held");
    CloseHandle(run.Held[path]);
    run.Held.erase(path);
    return true;
}

// --- State afterwards ---------------------------------------------------------

bool CheckPresence(Run& run, bool wanted, DWORD waitMs) {
    std::string path = Text(run, run.Line->Rest);
    for (DWORD start = GetTickCount(); PathExists(path) != wanted; Sleep(50)) {
        if (GetTickCount() - start >= waitMs)
            return Fail(run, wanted ? "it is not there" : "it is still there");
    }
    return true;
}

bool CheckContent(Run& run) {
    size_t equals = run.Line->Rest.find(" = ");
    std::string path = Text(run, run.Line->Rest.substr(0, equals));
    std::string expected = equals == std::string::npos ? BodyText(run) : Text(run, run.Line->Rest.substr(equals + 3));
    if (run.Line->Keyword == "log") {
        path += "\\install.log";
        expected = LogHeader + expected;
    }
    std::string actual;
    if (!ReadFileBytes(path, &actual))
        return Fail(run, "cannot read " + path);
    return Expect(run, "content", expected, actual);
}

bool CheckSame(Run& run) {
    std::vector<std::string> paths = Fields(run, run.Line->Rest);
    std::string first, second;
    if (!ReadFileBytes(paths[0], &first) || !ReadFileBytes(paths[1], &second))
        return Fail(run, "cannot read both");
    return first == second || Fail(run, "they differ");
}

bool CheckShortcut(Run& run) {
    std::vector<std::string> fields = Fields(run, run.Line->Rest);
    ShortcutFields read;
    if (fields.size() != 5 || !ReadShortcut(fields[0], &read))
        return Fail(run, "cannot read the shortcut");
    return Expect(run, "target", fields[1], read.Target) & Expect(run, "arguments", fields[2], read.Arguments) &
           Expect(run, "working directory", fields[3], read.WorkingDir) &
           Expect(run, "description", fields[4], read.Description);
}

bool CheckIni(Run& run) {
    std::vector<std::string> fields = Fields(run, run.Line->Rest);
    return Expect(run, "entry", fields[3], ProfileValue(fields[0], fields[1], fields[2]));
}

bool CheckRegistry(Run& run) {
    std::vector<std::string> fields = Fields(run, run.Line->Rest);
    return Expect(run, "value", fields[2], RegistryValue(fields[0], fields[1]));
}

bool CheckUnchanged(Run& run) {
    std::string folder = Text(run, run.Line->Rest);
    if (!run.Before.count(folder)) {
        run.Before[folder] = TakeSnapshot(folder);
        return true;
    }
    std::string differences = SnapshotDifferences(run.Before[folder], TakeSnapshot(folder));
    return differences.empty() || Fail(run, "it changed:\n" + differences);
}

bool CheckOutput(Run& run) {
    std::string output;
    ReadFileBytes(run.Places["scratch"] + "\\stdout.txt", &output);
    return output.find(Text(run, run.Line->Rest)) != std::string::npos ||
           Fail(run, "standard output was:\n" + Visible(output));
}

// --- The table of keywords ----------------------------------------------------

enum Phase { SetUp, Windows, State };

struct Keyword {
    const char* Name;
    Phase When;
    std::function<bool(Run&)> Step;
};

const std::vector<Keyword>& Keywords() {
    static const std::vector<Keyword> keywords = {
        {"pose", SetUp, Pose},
        {"builds", SetUp, [](Run&) { return true; }},    // read by the test list
        {"restarts", SetUp, [](Run&) { return true; }},  // read by run-scenario.sh
        {"dist", SetUp, [](Run& run) { return run.Places["dist"] = Text(run, run.Line->Rest), true; }},
        {"product", SetUp, CopyProduct},
        {"file", SetUp, WriteFileStep},
        {"mkdir", SetUp, [](Run& run) { return MakeFolders(Text(run, run.Line->Rest)) || Fail(run, "cannot make it"); }},
        {"copy", SetUp, CopyStep},
        {"readonly", SetUp, [](Run& run) {
             return SetFileAttributesA(Text(run, run.Line->Rest).c_str(), FILE_ATTRIBUTE_READONLY) || Fail(run, "cannot");
         }},
        {"hold", SetUp, Hold},
        {"release", Windows, Release},
        {"reg", SetUp, [](Run& run) {
             std::vector<std::string> f = Fields(run, run.Line->Rest);
             return (f.size() == 3 && SetRegistryValue(f[0], f[1], f[2])) || Fail(run, "cannot set it");
         }},
        {"ini", SetUp, [](Run& run) {
             std::vector<std::string> f = Fields(run, run.Line->Rest);
             const char* value = f.size() == 4 && f[3] != "absent" ? f[3].c_str() : nullptr;
             return (f.size() == 4 && WritePrivateProfileStringA(f[1].c_str(), f[2].c_str(), value, f[0].c_str())) ||
                    Fail(run, "cannot write it");
         }},
        {"keys", SetUp, WriteKeys},
        {"env", SetUp, [](Run& run) { return run.Environment.push_back(Text(run, run.Line->Rest)), true; }},
        {"let", SetUp, [](Run& run) {
             size_t equals = run.Line->Rest.find(" = ");
             return equals != std::string::npos &&
                    (run.Places[run.Line->Rest.substr(0, equals)] = Text(run, run.Line->Rest.substr(equals + 3)), true);
         }},
        {"cd", SetUp, [](Run& run) { return run.CurrentDir = Text(run, run.Line->Rest), true; }},
        {"unchanged", State, CheckUnchanged},
        {"run", Windows, StartRun},
        {"box", Windows, ExpectBox},
        {"answer", Windows, AnswerOpenBox},
        {"license", Windows, ExpectLicense},
        {"directories", Windows, ExpectDirectories},
        {"kill-when", Windows, KillWhen},
        {"exit", Windows, ExpectExit},
        {"no-window", Windows, [](Run& run) { return Settle(run, true); }},
        {"exists", State, [](Run& run) { return CheckPresence(run, true, 0); }},
        {"absent", State, [](Run& run) { return CheckPresence(run, false, 0); }},
        {"gone", State, [](Run& run) { return CheckPresence(run, false, LongWaitMs); }},
        {"content", State, CheckContent},
        {"log", State, CheckContent},
        {"same", State, CheckSame},
        {"shortcut", State, CheckShortcut},
        {"ini-is", State, CheckIni},
        {"reg-is", State, CheckRegistry},
        {"pending", State, [](Run& run) {
             return DeletionQueued(Text(run, run.Line->Rest), run.Windows9x) || Fail(run, "no deletion is queued");
         }},
        {"stdout", State, CheckOutput},
    };
    return keywords;
}

std::string WindowsPath(const std::string& path) {
    std::string windows = path[0] == '/' ? "Z:" + path : path;
    for (char& c : windows)
        c = c == '/' ? '\\' : c;
    return windows;
}

std::string SystemPlace(UINT (WINAPI* query)(LPSTR, UINT)) {
    char path[MAX_PATH];
    UINT length = query(path, MAX_PATH);
    return std::string(path, length);
}

std::string ShellFolders(const char* root) {
    return std::string(root) + "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
}

// The folders of the run, emptied, and what earlier runs may have left on the
// machine put back: the pose, queued deletions, temporary copies.
void PrepareMachine(Run& run, const Scenario& scenario) {
    char temp[MAX_PATH];
    DWORD length = GetTempPathA(MAX_PATH, temp);
    run.Places["temp"] = std::string(temp, length > 0 ? length - 1 : 0);
    run.Places["windows"] = SystemPlace(GetWindowsDirectoryA);
    run.Places["system"] = SystemPlace(GetSystemDirectoryA);
    run.Places["build"] = run.Given.BuildDir;
    std::string name = scenario.Path.substr(scenario.Path.find_last_of('\\') + 1);
    std::string scratch = "C:\\tests\\" + ShortName(name.substr(0, name.rfind('.')) + "-" + run.Given.Row);
    DeleteTree(scratch);
    run.Places["scratch"] = scratch;
    for (const char* place : {"dist", "extra", "programs", "menu"}) {
        run.Places[place] = scratch + "\\" + place;
        MakeFolders(run.Places[place]);
    }
    ClearQueuedDeletions(run.Places["windows"]);
    SetRegistryValue("HKCU\\Software\\Wine", "Version", "winxp");
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((run.Places["temp"] + "\\TMP*.*").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found))
        DeleteFileA((run.Places["temp"] + "\\" + found.cFileName).c_str());
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    run.Places["commonprograms"] = RegistryValue(ShellFolders("HKLM"), "Common Programs");
    run.Places["localprograms"] = RegistryValue(ShellFolders("HKCU"), "Programs");
    for (const auto& column : scenario.Columns)
        run.Places[column.first] = column.second;
    for (const ScenarioLine& line : scenario.Lines)
        run.CaptureOutput |= line.Keyword == "stdout";
}

bool Play(Run& run, const Scenario& scenario) {
    PrepareMachine(run, scenario);
    bool setupDone = false;
    for (const ScenarioLine& line : scenario.Lines) {
        run.Line = &line;
        if (line.Keyword == "#")
            continue;
        const Keyword* keyword = nullptr;
        for (const Keyword& candidate : Keywords())
            keyword = line.Keyword == candidate.Name ? &candidate : keyword;
        if (!keyword)
            return Fail(run, "unknown keyword");
        if (!setupDone && keyword->When != SetUp) {
            // Every run starts from the distribution with this build's program.
            setupDone = true;
            MakeFolders(run.Places["dist"]);
            if (!CopyFileA((run.Given.BuildDir + "\\setup.exe").c_str(), (run.Places["dist"] + "\\setup.exe").c_str(), FALSE))
                return Fail(run, "cannot copy setup.exe into the distribution");
        }
        if (keyword->When == State && !Settle(run))
            return false;
        if (!keyword->Step(run) && keyword->When != State)
            return false;
    }
    run.Line = nullptr;
    return Settle(run);
}

}  // namespace

int main(int argc, char** argv) {
    Run run;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; i++) {
        std::string argument = argv[i];
        if (argument == "--row" && i + 1 < argc)
            run.Given.Row = argv[++i];
        else if (argument == "--screenshots" && i + 1 < argc)
            run.Given.Screenshots = WindowsPath(argv[++i]);
        else if (argument == "--timing")
            run.Given.Timing = true;
        else
            positional.push_back(argument);
    }
    if (positional.size() != 3) {
        std::fprintf(stderr, "usage: runner [--row NAME] [--screenshots DIR] [--timing] BUILD-DIR BUILD SCENARIO\n");
        return 2;
    }
    run.Given.BuildDir = WindowsPath(positional[0]);
    run.Given.Build = positional[1];
    run.Given.File = WindowsPath(positional[2]);
    std::string scenarios = run.Given.File.substr(0, run.Given.File.rfind("\\scenarios\\"));
    run.Given.ProductsDir = scenarios + "\\products";
    Scenario scenario;
    if (!ReadScenario(run.Given.File, run.Given.Row, run.Given.Build, &scenario))
        return 2;
    Play(run, scenario);
    if (run.Job)
        TerminateJobObject(run.Job, 1);
    std::printf("%s%s [%s]: %s\n", positional[2].c_str(), run.Given.Row.empty() ? "" : ("/" + run.Given.Row).c_str(),
                run.Given.Build.c_str(), run.Failures ? "FAILED" : "passed");
    std::fflush(stdout);
    return run.Failures ? 1 : 0;
}
