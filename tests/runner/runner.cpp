// The scenario runner: plays one scenario file (one row of its table)
// against the real setup.exe, as a user at the machine would, and checks
// what the program left behind. The format is described in
// tests/scenarios/README.md.
//
//   runner.exe [--row NAME] [--screenshots DIR] [--timing] [--verbose] BUILD-DIR BUILD SCENARIO
//
// BUILD-DIR holds setup.exe and the other programs of one build; BUILD is
// its name (x86_64 or i686). Exit code 0 when every step and check held.
#include <windows.h>

#include <cstdio>
#include <cstring>
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
const int ProgressTextId = 1004;
const char LogHeader[] =
    ";\r\n; Caution!\r\n; Do not delete or modify this file. It is required to product uninstallation.\r\n;\r\n\r\n";

struct Options {
    std::string Row, Screenshots, BuildDir, Build, File, ProductsDir;
    bool Timing = false;
    bool Verbose = false;
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
    std::vector<std::vector<std::string>> RegistryBefore;  // key, name, value: put back at the end
    double LastAnswer = 0;  // Milliseconds(), for --timing
    int Shots = 0;
    int Runs = 0;
};

double Milliseconds() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

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
    for (char c : text.substr(0, 40))
        name += isalnum(static_cast<unsigned char>(c)) ? c : '-';
    return name;
}

// A progress notice may be gone a moment later: it gets less time to be
// painted, and no picture when it went meanwhile.
void Screenshot(Run& run, HWND window, bool progress) {
    if (robot::IsMessageBox(window))
        robot::MessageBoxIconKind(window);  // painted by now
    Sleep(progress ? 50 : 200);
    char name[MAX_PATH];
    std::snprintf(name, sizeof name, "%s\\%02d-%s%s.bmp", run.Given.Screenshots.c_str(), run.Shots + 1,
                  progress ? "progress-" : "", ShortName(robot::WindowTitle(window)).c_str());
    if (IsWindowVisible(window) && robot::SaveScreenshot(name))
        run.Shots++;
}

// The next window of the run; the progress notices on the way are only
// photographed when screenshots are asked for.
HWND NextWindow(Run& run) {
    HWND progress = nullptr;
    for (DWORD start = GetTickCount();; Sleep(10)) {
        std::vector<DWORD> running = RunningProcesses(run);
        HWND notice = run.Given.Screenshots.empty() ? nullptr : robot::FindWindowOf(running, true);
        if (notice && notice != progress && robot::ButtonIds(notice).empty())
            Screenshot(run, progress = notice, true);
        if (HWND window = robot::FindWindowOf(running)) {
            if (run.Given.Timing)
                std::printf("timing %d %s %.1f\n", run.Line->Number, run.Line->Keyword.c_str(),
                            Milliseconds() - run.LastAnswer);
            if (!run.Given.Screenshots.empty())
                Screenshot(run, window, false);
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
    run.LastAnswer = Milliseconds();
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
    run.Places["pid"] = run.Places["pid" + std::to_string(++run.Runs)] = pid;
    run.Running = true;
    run.LastAnswer = Milliseconds();
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
        std::printf("timing %d exit %.1f\n", run.Line->Number, Milliseconds() - run.LastAnswer);
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

// "file <path> | <times>" writes the body that many times, {i} counting from
// 0: into one file, or into one file each when the path holds {i}.
bool WriteFileStep(Run& run) {
    std::vector<std::string> fields = SplitFields(run.Line->Rest);
    int times = fields.size() > 1 ? std::atoi(fields[1].c_str()) : 1;
    std::map<std::string, std::string> files;
    for (int i = 0; i < times; i++) {
        run.Places["i"] = std::to_string(i);
        files[Text(run, fields[0])] += BodyText(run);
    }
    run.Places.erase("i");
    for (const auto& file : files) {
        if (!WriteFileBytes(file.first, file.second))
            return Fail(run, "cannot write " + file.first);
    }
    return true;
}

bool CopyProduct(Run& run) {
    std::string name = Text(run, run.Line->Rest);
    std::string from = name.find('\\') == std::string::npos ? run.Given.ProductsDir + "\\" + name : name;
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

// "let NAME = TEXT" makes {NAME}; "let NAME = short PATH" gives the path's
// 8.3 form, "let NAME = hex TEXT" the text's bytes as upper-case hex pairs.
bool Let(Run& run) {
    std::string rest = Text(run, run.Line->Rest);
    size_t equals = rest.find(" = ");
    if (equals == std::string::npos)
        return Fail(run, "let NAME = TEXT");
    size_t space = rest.find(' ', equals + 3);
    std::string function = space == std::string::npos ? "" : rest.substr(equals + 3, space - equals - 3);
    std::string argument = space == std::string::npos ? "" : rest.substr(space + 1);
    std::string value;
    if (function == "short") {
        char path[MAX_PATH];
        DWORD length = GetShortPathNameA(argument.c_str(), path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return Fail(run, "no short path");
        value = path;
    } else if (function == "hex") {
        for (unsigned char c : argument) {
            char pair[4];
            std::snprintf(pair, sizeof pair, "%02X", c);
            value += std::string(value.empty() ? "" : " ") + pair;
        }
    } else {
        value = rest.substr(equals + 3);
    }
    run.Places[rest.substr(0, equals)] = value;
    return true;
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

// Whether `text` matches `pattern`, where {*} stands for any text, {?} for
// one character and {#} for one digit.
bool Matches(const char* pattern, const char* text) {
    if (!*pattern)
        return !*text;
    if (!strncmp(pattern, "{*}", 3))
        return Matches(pattern + 3, text) || (*text && Matches(pattern, text + 1));
    if (!strncmp(pattern, "{?}", 3))
        return *text && Matches(pattern + 3, text + 1);
    if (!strncmp(pattern, "{#}", 3))
        return isdigit(static_cast<unsigned char>(*text)) && Matches(pattern + 3, text + 1);
    return *pattern == *text && Matches(pattern + 1, text + 1);
}

// Each line of the file matches the body's line of its place.
bool CheckLines(Run& run) {
    std::string path = Text(run, run.Line->Rest), actual;
    if (!ReadFileBytes(path, &actual))
        return Fail(run, "cannot read it");
    std::string expected = BodyText(run);
    bool same = true;
    for (size_t a = 0, e = 0; same && (a < actual.size() || e < expected.size());) {
        size_t aEnd = actual.find("\r\n", a), eEnd = expected.find("\r\n", e);
        same = aEnd != std::string::npos && eEnd != std::string::npos &&
               Matches(expected.substr(e, eEnd - e).c_str(), actual.substr(a, aEnd - a).c_str());
        a = aEnd + 2;
        e = eEnd + 2;
    }
    return same || Expect(run, "lines", expected, actual);
}

// A state line checked the moment the started process has ended, while
// the processes it started may still run.
bool CheckNow(Run& run);

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

struct ProgressSearch {
    std::vector<DWORD> Ids;
    std::string Text;
};

BOOL CALLBACK FindProgressNotice(HWND window, LPARAM parameter) {
    ProgressSearch* search = reinterpret_cast<ProgressSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    bool ours = false;
    for (DWORD id : search->Ids)
        ours = ours || id == owner;
    if (ours && IsWindowVisible(window) && robot::ButtonIds(window).empty())
        search->Text = robot::ControlText(window, ProgressTextId);
    return search->Text.empty();
}

// The progress notice one of the run's processes shows now ("" when none):
// a window without buttons whose text field is the notice's, whatever box
// is up beside it.
bool CheckProgress(Run& run) {
    ProgressSearch search = {RunningProcesses(run), ""};
    EnumWindows(FindProgressNotice, reinterpret_cast<LPARAM>(&search));
    return Expect(run, "progress notice", Text(run, run.Line->Rest), search.Text);
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
        {"dlls", SetUp, [](Run&) { return true; }},      // read by run-scenario.sh
        {"dist", SetUp, [](Run& run) { return run.Places["dist"] = Text(run, run.Line->Rest), true; }},
        {"product", SetUp, CopyProduct},
        {"file", SetUp, WriteFileStep},
        {"mkdir", SetUp, [](Run& run) { return MakeFolders(Text(run, run.Line->Rest)) || Fail(run, "cannot make it"); }},
        {"copy", SetUp, CopyStep},
        {"readonly", SetUp, [](Run& run) {
             return SetFileAttributesA(Text(run, run.Line->Rest).c_str(), FILE_ATTRIBUTE_READONLY) || Fail(run, "cannot");
         }},
        {"hold", SetUp, Hold},
        {"let", SetUp, Let},
        {"delete", SetUp, [](Run& run) {
             return DeleteFileA(Text(run, run.Line->Rest).c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND ||
                    Fail(run, "cannot delete it");
         }},
        {"release", Windows, Release},
        {"reg", SetUp, [](Run& run) {
             std::vector<std::string> f = Fields(run, run.Line->Rest);
             if (f.size() == 3)
                 run.RegistryBefore.push_back({f[0], f[1], RegistryValue(f[0], f[1])});
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
        {"cd", SetUp, [](Run& run) { return run.CurrentDir = Text(run, run.Line->Rest), true; }},
        {"unchanged", State, CheckUnchanged},
        {"run", Windows, StartRun},
        {"box", Windows, ExpectBox},
        {"answer", Windows, AnswerOpenBox},
        {"license", Windows, ExpectLicense},
        {"directories", Windows, ExpectDirectories},
        {"kill-when", Windows, KillWhen},
        {"exit", Windows, ExpectExit},
        {"progress", Windows, CheckProgress},
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
        {"lines", State, CheckLines},
        {"now", Windows, CheckNow},
    };
    return keywords;
}

bool CheckNow(Run& run) {
    ScenarioLine inner = *run.Line;
    size_t space = inner.Rest.find(' ');
    inner.Keyword = inner.Rest.substr(0, space);
    inner.Rest = space == std::string::npos ? std::string() : inner.Rest.substr(space + 1);
    for (const Keyword& keyword : Keywords()) {
        if (keyword.When == State && inner.Keyword == keyword.Name) {
            const ScenarioLine* outer = run.Line;
            run.Line = &inner;
            keyword.Step(run);
            run.Line = outer;
            return true;
        }
    }
    return Fail(run, "not a state check");
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
    std::string row = run.Given.Row.empty() ? std::string() : "-" + run.Given.Row;
    std::string scratch = "C:\\tests\\" + ShortName(name.substr(0, name.rfind('.')) + row);
    DeleteTree(scratch);
    run.Places["scratch"] = scratch;
    for (const char* place : {"dist", "extra", "programs", "menu"}) {
        run.Places[place] = scratch + "\\" + place;
        MakeFolders(run.Places[place]);
    }
    ClearQueuedDeletions(run.Places["windows"]);
    DeleteFileA((run.Places["temp"] + "\\SETUP.LOG").c_str());
    run.Places["stamp"] = "{#}{#}{#}{#}-{#}{#}-{#}{#} {#}{#}:{#}{#}:{#}{#}";
    run.Places["anypid"] = "{?}{?}{?}{?}{?}{?}{?}{?}";
    ResetDriverLists(run.Places["windows"]);
    SetRegistryValue("HKCU\\Software\\Wine", "Version", "winxp");
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((run.Places["temp"] + "\\TMP*.*").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found))
        DeleteFileA((run.Places["temp"] + "\\" + found.cFileName).c_str());
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    run.Places["commonprograms"] = RegistryValue(ShellFolders("HKLM"), "Common Programs");
    run.Places["localprograms"] = RegistryValue(ShellFolders("HKCU"), "Programs");
    run.Places["programfiles"] = RegistryValue("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir");
    run.Places["source"] = run.Given.ProductsDir.substr(0, run.Given.ProductsDir.rfind("\\tests\\"));
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
        if (run.Given.Verbose)
            std::printf("%4d %s %s\n", line.Number, line.Keyword.c_str(), Text(run, line.Rest).c_str());
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
        else if (argument == "--verbose")
            run.Given.Verbose = true;
        else
            positional.push_back(argument);
    }
    if (positional.size() != 3) {
        std::fprintf(stderr, "usage: runner [--row NAME] [--screenshots DIR] [--timing] [--verbose] BUILD-DIR BUILD SCENARIO\n");
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
    // The machine's own values come back for the scenarios after this one.
    for (auto value = run.RegistryBefore.rbegin(); value != run.RegistryBefore.rend(); ++value)
        SetRegistryValue((*value)[0], (*value)[1], (*value)[2]);
    // Which Wine played it: the two builds run under different ones.
    typedef const char*(CDECL * VersionFunction)();
    auto version = reinterpret_cast<VersionFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")));
    std::printf("%s%s [%s, Wine %s]: %s\n", positional[2].c_str(),
                run.Given.Row.empty() ? "" : ("/" + run.Given.Row).c_str(), run.Given.Build.c_str(),
                version ? version() : "?", run.Failures ? "FAILED" : "passed");
    std::fflush(stdout);
    return run.Failures ? 1 : 0;
}
