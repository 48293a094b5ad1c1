// The scenario runner: plays one scenario (one row of its table) against the
// real setup.exe as a user would, then checks what the program left behind
// (tests/scenarios/README.md). BUILD-DIR holds the programs of the build BUILD.
//   runner.exe [--row NAME] [--screenshots DIR] [--timing] [--verbose] BUILD-DIR BUILD SCENARIO
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
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

typedef std::vector<std::string> Fields;
typedef const Fields& Args;  // a line's fields as a step gets them

struct Run {
    std::string Row, Screenshots, BuildDir, Build, File, ProductsDir, CurrentDir;
    bool Timing = false, Verbose = false, Windows9x = false, Running = false, CaptureOutput = false;
    int Failures = 0, Shots = 0, Runs = 0;
    std::map<std::string, std::string> Places;
    const ScenarioLine* Line = nullptr;
    std::vector<std::string> Environment;
    HANDLE Job = nullptr;
    PROCESS_INFORMATION First = {};
    HWND OpenBox = nullptr;
    std::map<std::string, HANDLE> Held;
    std::map<std::string, Snapshot> Before;
    std::vector<Fields> RegistryBefore;  // key, name, value: put back at the end
    double LastAnswer = 0;               // Milliseconds(), for --timing
};

double Milliseconds() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <typename Condition>
bool Poll(DWORD timeoutMs, DWORD pauseMs, Condition done) {
    for (DWORD start = GetTickCount(); !done(); Sleep(pauseMs)) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
    }
    return true;
}

// Control characters escaped, so that a report shows a difference in line ends.
std::string Visible(const std::string& text) {
    std::string shown;
    for (unsigned char c : text) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", c);
        shown += c == '\n' ? "\\n" : c == '\r' ? "\\r" : c < 32 ? hex : std::string(1, static_cast<char>(c));
    }
    return shown;
}

bool Fail(Run& run, const std::string& what) {
    std::printf("%s:%d: %s %s\n  %s\n", run.File.c_str(), run.Line ? run.Line->Number : 0,
                run.Line ? run.Line->Keyword.c_str() : "", run.Line ? run.Line->Rest.c_str() : "", what.c_str());
    run.Failures++;
    return false;
}

bool Expect(Run& run, const char* what, const std::string& expected, const std::string& actual) {
    return expected == actual ||
           Fail(run, std::string(what) + "\n    expected: " + Visible(expected) + "\n    actual:   " + Visible(actual));
}

std::string Text(const Run& run, const std::string& raw) {
    return ExpandPlaceholders(raw, run.Places);
}

Fields Split(const Run& run, const std::string& raw) {
    Fields fields = SplitFields(raw);
    for (std::string& field : fields)
        field = Text(run, field);
    return fields;
}

std::string BodyText(const Run& run) {
    std::string text;
    for (const std::string& line : run.Line->Body)
        text += Text(run, line) + "\r\n";
    return text;
}

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

// Ends the run: what is still up would only wait for answers that never come.
bool Stop(Run& run, const std::string& what) {
    TerminateJobObject(run.Job, 1);
    return Fail(run, what);
}

bool Unexpected(Run& run, HWND window) {
    std::string text = robot::IsMessageBox(window) ? robot::MessageBoxText(window) : std::string("(a dialog)");
    return Stop(run, "unexpected window \"" + robot::WindowTitle(window) + "\": " + Visible(text));
}

// Waits until every process of the run has ended; any window on the way is
// unexpected (the progress notice too when `noWindowAtAll`).
bool Settle(Run& run, bool noWindowAtAll = false) {
    if (!run.Running)
        return true;
    run.Running = false;
    HWND window = nullptr;
    bool ended = Poll(LongWaitMs, 20, [&] {
        std::vector<DWORD> running = RunningProcesses(run);
        return running.empty() || (window = robot::FindWindowOf(running, noWindowAtAll)) != nullptr;
    });
    return window ? Unexpected(run, window)
                  : ended || Stop(run, "the run's processes are still running after a minute");
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
    std::snprintf(name, sizeof name, "%s\\%02d-%s%s.bmp", run.Screenshots.c_str(), run.Shots + 1,
                  progress ? "progress-" : "", ShortName(robot::WindowTitle(window)).c_str());
    if (IsWindowVisible(window) && robot::SaveScreenshot(name))
        run.Shots++;
}

// The next window of the run; the progress notices on the way photographed for --screenshots.
HWND NextWindow(Run& run) {
    HWND progress = nullptr, window = nullptr;
    std::vector<DWORD> running;
    Poll(WindowTimeoutMs, 10, [&] {
        running = RunningProcesses(run);
        HWND notice = run.Screenshots.empty() ? nullptr : robot::FindWindowOf(running, true);
        if (notice && notice != progress && robot::ButtonIds(notice).empty())
            Screenshot(run, progress = notice, true);
        return running.empty() || (window = robot::FindWindowOf(running)) != nullptr;
    });
    if (!window)
        Fail(run, running.empty() ? "the program ended without showing this window" : "no window came within 20 s");
    else if (run.Timing)
        std::printf("timing %d %s %.1f\n", run.Line->Number, run.Line->Keyword.c_str(),
                    Milliseconds() - run.LastAnswer);
    if (window && !run.Screenshots.empty())
        Screenshot(run, window, false);
    return window;
}

bool Answer(Run& run, HWND window, const std::string& answer) {
    static const std::map<std::string, int> buttons = {{"ok", IDOK}, {"cancel", IDCANCEL}, {"yes", IDYES}, {"no", IDNO},
        {"retry", IDRETRY}, {"accept", IDOK}, {"decline", IDCANCEL}, {"install", IDOK}};
    run.LastAnswer = Milliseconds();
    if (answer == "enter" || answer == "escape")
        robot::PressKey(window, answer == "enter" ? VK_RETURN : VK_ESCAPE);
    else if (!buttons.count(answer) || !robot::PressButton(window, buttons.at(answer)))
        return Fail(run, "cannot answer " + answer);
    return true;
}

bool AnswerAndWait(Run& run, HWND window, const std::string& answer) {
    return Answer(run, window, answer) && (robot::WaitGone(window) || Fail(run, "the window stays after " + answer));
}

// "text -> answer" split; the answer is empty when none is given.
std::pair<std::string, std::string> SplitAnswer(const std::string& rest) {
    size_t arrow = rest.rfind(" -> ");
    return {rest.substr(0, arrow), arrow == std::string::npos ? std::string() : Trim(rest.substr(arrow + 4))};
}

std::string IconName(UINT kind) {
    static const std::map<UINT, std::string> names = {{MB_ICONERROR, "error"}, {MB_ICONWARNING, "warning"},
        {MB_ICONQUESTION, "question"}, {MB_ICONINFORMATION, "information"}};
    return names.count(kind) ? names.at(kind) : "none";
}

std::string ButtonsOf(HWND window) {
    static const char* names[] = {"", "ok", "cancel", "abort", "retry", "ignore", "yes", "no"};
    std::string shown;
    int preset = robot::DefaultButton(window);
    for (int id : robot::ButtonIds(window))
        shown += std::string(shown.empty() ? "" : " ") + (id > 0 && id < 8 ? names[id] : "?") +
                 (id == preset ? "*" : "");
    return shown;
}

// The scenario's entries in front of the runner's environment, as CreateProcess takes it.
std::string EnvironmentBlock(const Run& run) {
    std::string block;
    for (const std::string& entry : run.Environment)
        block += entry + '\0';
    char* own = GetEnvironmentStringsA();
    for (const char* entry = own; *entry; entry += lstrlenA(entry) + 1)
        block += std::string(entry) + '\0';
    FreeEnvironmentStringsA(own);
    return block + '\0';
}

bool StartRun(Run& run, Args) {
    if (!Settle(run))
        return false;
    Fields fields = Split(run, run.Line->Rest);
    std::string exe = fields.size() > 1 ? fields[0] : run.Places["dist"] + "\\setup.exe";
    std::string tail = fields.size() > 1 ? fields[1] : fields[0];
    std::string commandLine = "\"" + exe + "\"" + (tail.empty() ? "" : " " + tail);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = run.CaptureOutput ? STARTF_USESTDHANDLES : 0;
    std::string output = run.Places["scratch"] + "\\stdout.txt";
    if (run.CaptureOutput)
        startup.hStdOutput = startup.hStdError =
            CreateFileA(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    std::string environment = EnvironmentBlock(run);
    run.Job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(run.Job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    bool started = CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, run.CaptureOutput, CREATE_SUSPENDED,
                                  &environment[0], run.CurrentDir.empty() ? nullptr : run.CurrentDir.c_str(), &startup,
                                  &run.First);
    if (run.CaptureOutput)
        CloseHandle(startup.hStdOutput);
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

bool AnswerOpenBox(Run& run, Args f) {
    HWND box = run.OpenBox;
    run.OpenBox = nullptr;
    return box ? AnswerAndWait(run, box, f[0]) : Fail(run, "no box is up");
}

// What a window shows, named as a report names it: a box (no `ids`) its title,
// text, icon and buttons, a dialog its title, the text of `ids` and buttons.
std::vector<std::pair<const char*, std::string>> Shown(HWND window, const std::vector<int>& ids) {
    std::vector<std::pair<const char*, std::string>> shown = {{"title", robot::WindowTitle(window)}};
    if (ids.empty()) {
        shown.push_back({"text", robot::MessageBoxText(window)});
        shown.push_back({"icon", IconName(robot::MessageBoxIconKind(window))});
    }
    for (int id : ids)
        shown.push_back({"field", robot::ControlText(window, id)});
    shown.push_back({"buttons", ButtonsOf(window)});
    return shown;
}

// A dialog's fields typed, then the answer; the dialog may stay, with a box
// in front of it, when the choice is refused.
bool TypeAndAnswer(Run& run, HWND dialog, const std::vector<int>& ids, const Fields& typed, const std::string& answer) {
    for (size_t i = 0; i < ids.size(); i++) {
        if (typed.size() != ids.size() || !robot::SetEditText(dialog, ids[i], typed[i].c_str()))
            return Fail(run, "cannot type dir | group");
    }
    if (!Answer(run, dialog, answer))
        return false;
    Poll(WindowTimeoutMs, 10, [&] {
        HWND front = robot::FindWindowOf(RunningProcesses(run));
        return !IsWindowVisible(dialog) || (front && front != dialog);
    });
    return true;
}

// "<fields> -> <answer>" for the next window, which must show them (the run
// ends when it differs): a box's four, or a dialog's `ids` with this title
// and buttons. Without an answer a box stays up; "install <dir> | <group>"
// (or "enter ...") types a dialog's fields first.
bool ExpectWindow(Run& run, const char* title, const std::vector<int>& ids, const char* buttons) {
    auto [line, answer] = SplitAnswer(run.Line->Rest);
    Fields expected = ids.size() == 1 ? Fields{Text(run, line)} : Split(run, line);
    if (ids.size() == 1 && expected[0][0] == '@' && !ReadFileBytes(expected[0].substr(1), &expected[0]))
        return Fail(run, "cannot read " + expected[0]);
    if (expected.size() != (ids.empty() ? 4 : ids.size()))
        return Fail(run, ids.empty() ? "a box needs title | text | icon | buttons" : "directories need dir | group");
    HWND window = NextWindow(run);
    if (!window || (ids.empty() && !robot::IsMessageBox(window)))
        return window && Unexpected(run, window);
    if (!ids.empty()) {
        expected.insert(expected.begin(), title);
        expected.push_back(buttons);
    }
    std::vector<std::pair<const char*, std::string>> shown = Shown(window, ids);
    bool same = true;
    for (size_t i = 0; i < shown.size(); i++)
        same &= Expect(run, shown[i].first, expected[i], shown[i].second);
    if (!same)
        return Stop(run, ids.empty() ? "the box differs" : "the dialog differs");
    if (ids.empty())
        run.OpenBox = window;
    size_t space = answer.find(' ');
    if (ids.empty() || space == std::string::npos)
        return (ids.empty() && answer.empty()) || AnswerAndWait(run, window, answer);
    return TypeAndAnswer(run, window, ids, Split(run, answer.substr(space + 1)), answer.substr(0, space));
}

bool ExpectExit(Run& run, Args f) {
    HWND window = nullptr;
    bool ended = Poll(ExitTimeoutMs, 0, [&] {
        return WaitForSingleObject(run.First.hProcess, 20) != WAIT_TIMEOUT ||
               (window = robot::FindWindowOf({run.First.dwProcessId})) != nullptr;
    });
    if (window || !ended)
        return window ? Unexpected(run, window) : Stop(run, "the program is still running after 30 s");
    if (run.Timing)
        std::printf("timing %d exit %.1f\n", run.Line->Number, Milliseconds() - run.LastAnswer);
    DWORD code = 0;
    GetExitCodeProcess(run.First.hProcess, &code);
    return Expect(run, "exit code", f[0], std::to_string(code));
}

bool KillWhen(Run& run, Args f) {
    if (!Poll(LongWaitMs, 1, [&] { return PathExists(f[0]); }))
        return Fail(run, "it never appeared");
    TerminateJobObject(run.Job, 9);
    WaitForSingleObject(run.First.hProcess, ExitTimeoutMs);
    run.Running = false;
    return true;
}

// The progress notice one of the run's processes shows now: a window without
// buttons with the notice's text field, whatever box is up in front of it.
bool CheckProgress(Run& run, Args f) {
    std::vector<DWORD> running = RunningProcesses(run);
    std::string text;
    for (HWND window = nullptr; text.empty() && (window = FindWindowExA(nullptr, window, nullptr, nullptr));) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (std::count(running.begin(), running.end(), owner) && IsWindowVisible(window) &&
            robot::ButtonIds(window).empty())
            text = robot::ControlText(window, ProgressTextId);
    }
    return Expect(run, "progress notice", f[0], text);
}

// "file <path> | <times>" writes the body that many times, {i} counting from
// 0: into one file, or into one file each when the path holds {i}.
bool WriteFileStep(Run& run, Args) {
    Fields fields = SplitFields(run.Line->Rest);
    int times = fields.size() > 1 ? std::atoi(fields[1].c_str()) : 1;
    std::map<std::string, std::string> files;
    for (int i = 0; i < times; i++) {
        run.Places["i"] = std::to_string(i);
        files[Text(run, fields[0])] += BodyText(run);
    }
    run.Places.erase("i");
    for (const auto& [path, bytes] : files) {
        if (!WriteFileBytes(path, bytes))
            return Fail(run, "cannot write " + path);
    }
    return true;
}

// A product's files have placeholders too.
bool CopyProduct(Run& run, Args f) {
    std::string from = f[0].find('\\') == std::string::npos ? run.ProductsDir + "\\" + f[0] : f[0];
    Snapshot files = TakeSnapshot(from);
    if (files.empty())
        return Fail(run, "no such product");
    for (const auto& [name, bytes] : files) {
        std::string target = run.Places["dist"] + "\\" + name;
        if (!(bytes == "<dir>" ? MakeFolders(target) : WriteFileBytes(target, Text(run, bytes))))
            return Fail(run, "cannot copy " + name);
    }
    return true;
}

// "NAME = TEXT" or "NAME = short PATH" (its 8.3 form).
bool Let(Run& run, Args f) {
    size_t equals = f[0].find(" = ");
    if (equals == std::string::npos)
        return Fail(run, "let NAME = TEXT");
    std::string value = f[0].substr(equals + 3);
    if (value.compare(0, 6, "short ") == 0) {
        char path[MAX_PATH];
        DWORD length = GetShortPathNameA(value.c_str() + 6, path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return Fail(run, "no short path");
        value = path;
    }
    run.Places[f[0].substr(0, equals)] = value;
    return true;
}

bool WriteKeys(Run&, Args f) {
    for (int i = 1; i <= std::atoi(f[2].c_str()); i++) {
        char number[8];
        std::snprintf(number, sizeof number, "%d", i);
        if (!WritePrivateProfileStringA(f[1].c_str(), (f[3] + number).c_str(), "x", f[0].c_str()))
            return false;
    }
    return true;
}

bool Hold(Run& run, Args f) {
    HANDLE file = CreateFileA(f[0].c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    return file != INVALID_HANDLE_VALUE && (run.Held[f[0]] = file);
}

bool Release(Run& run, Args f) {
    auto held = run.Held.find(f[0]);
    return held != run.Held.end() && CloseHandle(held->second) && run.Held.erase(f[0]);
}

bool Pose(Run& run, Args f) {
    run.Windows9x = f[0] == "win95" || f[0] == "win98" || f[0] == "winme";
    return SetRegistryValue("HKCU\\Software\\Wine", "Version", f[0]);
}

bool CopyStep(Run& run, Args f) {
    MakeFolders(f[1].substr(0, f[1].rfind('\\')));
    return CopyFileA(f[0].c_str(), f[1].c_str(), FALSE) ||
           Fail(run, "cannot copy: error " + std::to_string(GetLastError()));
}

bool SetValue(Run& run, Args f) {
    run.RegistryBefore.push_back({f[0], f[1], RegistryValue(f[0], f[1])});
    return SetRegistryValue(f[0], f[1], f[2]);
}

bool WriteEntry(Run&, Args f) {
    const char* value = f[3] != "absent" ? f[3].c_str() : nullptr;
    return WritePrivateProfileStringA(f[1].c_str(), f[2].c_str(), value, f[0].c_str());
}

// Whether `text` matches `pattern`: {*} any text, {?} one character, {#} one digit.
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

// Each line, ended by CR LF, matches the pattern's line of its place.
bool LinesMatch(const std::string& expected, const std::string& actual) {
    bool same = true;
    for (size_t a = 0, e = 0; same && (a < actual.size() || e < expected.size());) {
        size_t aEnd = actual.find("\r\n", a), eEnd = expected.find("\r\n", e);
        same = aEnd != std::string::npos && eEnd != std::string::npos &&
               Matches(expected.substr(e, eEnd - e).c_str(), actual.substr(a, aEnd - a).c_str());
        a = aEnd + 2;
        e = eEnd + 2;
    }
    return same;
}

// "content <path> = <text>", "content <path>" or "lines <path>" with a body, "log <dir>".
bool CheckContent(Run& run, Args) {
    const ScenarioLine& line = *run.Line;
    size_t equals = line.Keyword == "lines" ? std::string::npos : line.Rest.find(" = ");
    std::string path = Text(run, line.Rest.substr(0, equals));
    std::string expected = equals == std::string::npos ? BodyText(run) : Text(run, line.Rest.substr(equals + 3));
    if (line.Keyword == "log") {
        path += "\\install.log";
        expected = LogHeader + expected;
    }
    std::string actual;
    if (!ReadFileBytes(path, &actual))
        return Fail(run, "cannot read " + path);
    if (line.Keyword == "lines")
        return LinesMatch(expected, actual) || Expect(run, "lines", expected, actual);
    return Expect(run, "content", expected, actual);
}

bool CheckSame(Run& run, Args f) {
    std::string first, second;
    if (!ReadFileBytes(f[0], &first) || !ReadFileBytes(f[1], &second))
        return Fail(run, "cannot read both");
    return first == second || Fail(run, "they differ");
}

bool CheckShortcut(Run& run, Args f) {
    ShortcutFields read;
    if (!ReadShortcut(f[0], &read))
        return Fail(run, "cannot read the shortcut");
    return Expect(run, "target", f[1], read.Target) & Expect(run, "arguments", f[2], read.Arguments) &
           Expect(run, "working directory", f[3], read.WorkingDir) & Expect(run, "description", f[4], read.Description);
}

// The first "unchanged" of a folder takes its snapshot, the next compares.
bool CheckUnchanged(Run& run, Args f) {
    if (!run.Before.count(f[0])) {
        run.Before[f[0]] = TakeSnapshot(f[0]);
        return true;
    }
    std::string differences = SnapshotDifferences(run.Before[f[0]], TakeSnapshot(f[0]));
    return differences.empty() || Fail(run, "it changed:\n" + differences);
}

bool CheckOutput(Run& run, Args f) {
    std::string output;
    ReadFileBytes(run.Places["scratch"] + "\\stdout.txt", &output);
    return output.find(f[0]) != std::string::npos || Fail(run, "standard output was:\n" + Visible(output));
}

bool CheckNow(Run& run, Args);

enum Phase { SetUp, Windows, State };

struct Keyword {
    const char* Name;
    Phase When;
    int Count;  // the fields of a line: 1 the whole rest; 0 the step reads the line itself
    bool (*Step)(Run&, Args);        // none for the lines read by the test list and run-scenario.sh
    const char* Failed = "failed";  // reported when the step returns false, unless it reported itself
};

const Keyword Keywords[] = {
    {"pose", SetUp, 1, Pose, "cannot pose"},
    {"builds", SetUp, 0, nullptr},
    {"restarts", SetUp, 0, nullptr},
    {"dlls", SetUp, 0, nullptr},
    {"dist", SetUp, 1, [](Run& run, Args f) { return run.Places["dist"] = f[0], true; }},
    {"product", SetUp, 1, CopyProduct},
    {"file", SetUp, 0, WriteFileStep},
    {"mkdir", SetUp, 1, [](Run&, Args f) { return MakeFolders(f[0]); }, "cannot make it"},
    {"copy", SetUp, 2, CopyStep},
    {"readonly", SetUp, 1, [](Run&, Args f) { return !!SetFileAttributesA(f[0].c_str(), FILE_ATTRIBUTE_READONLY); },
     "cannot"},
    {"hold", SetUp, 1, Hold, "cannot open it"},
    {"let", SetUp, 1, Let},
    {"delete", SetUp, 1,
     [](Run&, Args f) { return DeleteFileA(f[0].c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND; },
     "cannot delete it"},
    {"release", Windows, 1, Release, "not held"},
    {"reg", SetUp, 3, SetValue, "cannot set it"},
    {"ini", SetUp, 4, WriteEntry, "cannot write it"},
    {"keys", SetUp, 4, WriteKeys, "cannot write them"},
    {"env", SetUp, 1, [](Run& run, Args f) { return run.Environment.push_back(f[0]), true; }},
    {"cd", SetUp, 1, [](Run& run, Args f) { return run.CurrentDir = f[0], true; }},
    {"unchanged", State, 1, CheckUnchanged},
    {"run", Windows, 0, StartRun},
    {"box", Windows, 0, [](Run& run, Args) { return ExpectWindow(run, nullptr, {}, nullptr); }},
    {"answer", Windows, 1, AnswerOpenBox},
    {"license", Windows, 0,
     [](Run& run, Args) { return ExpectWindow(run, "License agreement", {1000}, "ok cancel*"); }},
    {"directories", Windows, 0,
     [](Run& run, Args) { return ExpectWindow(run, "Choose directories", {1001, 1002}, "ok* cancel"); }},
    {"kill-when", Windows, 1, KillWhen},
    {"exit", Windows, 1, ExpectExit},
    {"progress", Windows, 1, CheckProgress},
    {"no-window", Windows, 0, [](Run& run, Args) { return Settle(run, true); }},
    {"exists", State, 1, [](Run&, Args f) { return PathExists(f[0]); }, "it is not there"},
    {"absent", State, 1, [](Run&, Args f) { return !PathExists(f[0]); }, "it is still there"},
    {"gone", State, 1, [](Run&, Args f) { return Poll(LongWaitMs, 50, [&] { return !PathExists(f[0]); }); },
     "it is still there"},
    {"content", State, 0, CheckContent},
    {"log", State, 0, CheckContent},
    {"same", State, 2, CheckSame},
    {"shortcut", State, 5, CheckShortcut},
    {"ini-is", State, 4, [](Run& run, Args f) { return Expect(run, "entry", f[3], ProfileValue(f[0], f[1], f[2])); }},
    {"reg-is", State, 3, [](Run& run, Args f) { return Expect(run, "value", f[2], RegistryValue(f[0], f[1])); }},
    {"pending", State, 1, [](Run& run, Args f) { return DeletionQueued(f[0], run.Windows9x); },
     "no deletion is queued"},
    {"stdout", State, 1, CheckOutput},
    {"lines", State, 0, CheckContent},
    {"now", Windows, 0, CheckNow},
};

const Keyword* FindKeyword(const std::string& name) {
    auto found = std::find_if(std::begin(Keywords), std::end(Keywords),
                              [&](const Keyword& keyword) { return name == keyword.Name; });
    return found == std::end(Keywords) ? nullptr : found;
}

bool Perform(Run& run, const Keyword& keyword) {
    const std::string& rest = run.Line->Rest;
    Fields fields = keyword.Count == 1 ? Fields{Text(run, rest)} : keyword.Count > 1 ? Split(run, rest) : Fields();
    if (fields.size() != static_cast<size_t>(keyword.Count))
        return Fail(run, std::to_string(keyword.Count) + " fields are needed");
    int failures = run.Failures;
    if (!keyword.Step || keyword.Step(run, fields))
        return true;
    if (run.Failures == failures)
        Fail(run, keyword.Failed);
    return false;
}

// A state check made at once, while a box is up or what the run started may still run.
bool CheckNow(Run& run, Args) {
    ScenarioLine inner = *run.Line;
    size_t space = inner.Rest.find(' ');
    inner.Keyword = inner.Rest.substr(0, space);
    inner.Rest = space == std::string::npos ? std::string() : inner.Rest.substr(space + 1);
    const Keyword* keyword = FindKeyword(inner.Keyword);
    if (!keyword || keyword->When != State)
        return Fail(run, "not a state check");
    const ScenarioLine* outer = run.Line;
    run.Line = &inner;
    Perform(run, *keyword);
    run.Line = outer;
    return true;
}

std::string WindowsPath(const std::string& path) {
    std::string windows = path[0] == '/' ? "Z:" + path : path;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
}

// The folders of the run, emptied, and what earlier runs may have left on the
// machine put back: the pose, queued deletions, temporary copies.
void PrepareMachine(Run& run, const Scenario& scenario) {
    std::map<std::string, std::string>& places = run.Places;
    char path[MAX_PATH];
    places["windows"] = std::string(path, GetWindowsDirectoryA(path, MAX_PATH));
    places["system"] = std::string(path, GetSystemDirectoryA(path, MAX_PATH));
    DWORD length = GetTempPathA(MAX_PATH, path);
    places["temp"] = std::string(path, length > 0 ? length - 1 : 0);
    places["build"] = run.BuildDir;
    std::string name = scenario.Path.substr(scenario.Path.find_last_of('\\') + 1);
    std::string row = run.Row.empty() ? std::string() : "-" + run.Row;
    places["scratch"] = "C:\\tests\\" + ShortName(name.substr(0, name.rfind('.')) + row);
    DeleteTree(places["scratch"]);
    for (const char* place : {"dist", "extra", "programs", "menu"})
        MakeFolders(places[place] = places["scratch"] + "\\" + place);
    DeleteFileA((places["temp"] + "\\SETUP.LOG").c_str());
    places["stamp"] = "{#}{#}{#}{#}-{#}{#}-{#}{#} {#}{#}:{#}{#}:{#}{#}";
    places["anypid"] = "{?}{?}{?}{?}{?}{?}{?}{?}";
    ResetQueuesAndDrivers(places["windows"]);
    SetRegistryValue("HKCU\\Software\\Wine", "Version", "winxp");
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((places["temp"] + "\\TMP*.*").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found))
        DeleteFileA((places["temp"] + "\\" + found.cFileName).c_str());
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    const std::string folders = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    places["commonprograms"] = RegistryValue("HKLM" + folders, "Common Programs");
    places["localprograms"] = RegistryValue("HKCU" + folders, "Programs");
    places["programfiles"] = RegistryValue("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir");
    places["source"] = run.ProductsDir.substr(0, run.ProductsDir.rfind("\\tests\\"));
    for (const auto& column : scenario.Columns)
        places[column.first] = column.second;
    for (const ScenarioLine& line : scenario.Lines)
        run.CaptureOutput |= line.Keyword == "stdout";
}

bool Play(Run& run, const Scenario& scenario) {
    PrepareMachine(run, scenario);
    bool setupDone = false;
    for (const ScenarioLine& line : scenario.Lines) {
        run.Line = &line;
        const Keyword* keyword = FindKeyword(line.Keyword);
        if (line.Keyword == "#")
            continue;
        if (!keyword)
            return Fail(run, "unknown keyword");
        if (!setupDone && keyword->When != SetUp) {
            // Every run starts from the distribution with this build's program.
            setupDone = true;
            MakeFolders(run.Places["dist"]);
            if (!CopyFileA((run.BuildDir + "\\setup.exe").c_str(), (run.Places["dist"] + "\\setup.exe").c_str(), FALSE))
                return Fail(run, "cannot copy setup.exe into the distribution");
        }
        if (keyword->When == State && !Settle(run))
            return false;
        if (run.Verbose)
            std::printf("%4d %s %s\n", line.Number, line.Keyword.c_str(), Text(run, line.Rest).c_str());
        if (!Perform(run, *keyword) && keyword->When != State)
            return false;
    }
    run.Line = nullptr;
    return Settle(run);
}

// Which Wine played it: the two builds run under different ones.
const char* WineVersion() {
    void* version = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version"));
    return version ? reinterpret_cast<const char* (*)()>(version)() : "?";
}

}  // namespace

int main(int argc, char** argv) {
    Run run;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; i++) {
        std::string argument = argv[i];
        if ((argument == "--row" || argument == "--screenshots") && i + 1 < argc)
            (argument == "--row" ? run.Row : run.Screenshots) = argv[++i];
        else if (argument == "--timing" || argument == "--verbose")
            (argument == "--timing" ? run.Timing : run.Verbose) = true;
        else
            positional.push_back(argument);
    }
    if (positional.size() != 3) {
        std::fprintf(stderr, "usage: runner [--row NAME] [--screenshots DIR] [--timing] [--verbose] BUILD-DIR BUILD"
                             " SCENARIO\n");
        return 2;
    }
    run.Screenshots = WindowsPath(run.Screenshots);
    run.BuildDir = WindowsPath(positional[0]);
    run.Build = positional[1];
    run.File = WindowsPath(positional[2]);
    run.ProductsDir = run.File.substr(0, run.File.rfind("\\scenarios\\")) + "\\products";
    Scenario scenario;
    if (!ReadScenario(run.File, run.Row, run.Build, &scenario))
        return 2;
    Play(run, scenario);
    if (run.Job)
        TerminateJobObject(run.Job, 1);
    // The machine's own values come back for the scenarios after this one.
    for (auto value = run.RegistryBefore.rbegin(); value != run.RegistryBefore.rend(); ++value)
        SetRegistryValue((*value)[0], (*value)[1], (*value)[2]);
    std::printf("%s%s [%s, Wine %s]: %s\n", positional[2].c_str(), run.Row.empty() ? "" : ("/" + run.Row).c_str(),
                run.Build.c_str(), WineVersion(), run.Failures ? "FAILED" : "passed");
    std::fflush(stdout);
    return run.Failures ? 1 : 0;
}
