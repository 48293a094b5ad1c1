// The scenario runner: plays one scenario (one row of its table) against the
// real setup.exe as a user would, then checks what the program left behind
// (tests/scenarios/README.md). BUILD-DIR holds the programs of the build BUILD.
//   runner.exe [--row NAME] [--screenshots DIR] [--timing] [--verbose] BUILD-DIR BUILD SCENARIO
#include <objbase.h>
#include <shlobj.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "resource.h"  // the program's control identifiers
#include "robot/robot.h"

namespace {

const DWORD WindowTimeoutMs = 20000;
const DWORD ExitTimeoutMs = 30000;
const DWORD LongWaitMs = 60000;
const char LogHeader[] =
    ";\r\n; Caution!\r\n; Do not delete or modify this file. It is required to product uninstallation.\r\n;\r\n\r\n";
const char SessionManagerKey[] = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";

typedef std::vector<std::string> Fields;
typedef const Fields& Args;  // a line's fields as a step gets them
// Relative path of everything below a folder: "<dir>" or a file's contents.
typedef std::map<std::string, std::string> Snapshot;

struct ScenarioLine {
    int Number;                     // in the file, for messages
    std::string Keyword;            // the first word
    std::string Rest;               // placeholders other than the columns not yet expanded
    std::vector<std::string> Body;  // the lines up to "end", for keywords that take one
    bool Now;                       // "now <check>": the check made at once
};

struct Run {
    std::string Row, Screenshots, BuildDir, Build, File, Tests, CurrentDir;
    bool Timing = false, Verbose = false, Windows9x = false, Running = false, CaptureOutput = false;
    int Failures = 0, Shots = 0, Runs = 0;
    std::vector<ScenarioLine> Lines;  // those of this build and row
    std::map<std::string, std::string> Columns, Places;
    const ScenarioLine* Line = nullptr;
    HANDLE Job = nullptr;
    PROCESS_INFORMATION First = {};
    HWND OpenBox = nullptr;
    std::map<std::string, HANDLE> Held;
    std::map<std::string, Snapshot> Before;
    std::vector<Fields> RegistryBefore;  // key, name, value: put back at the end
    double LastAnswer = 0;               // Milliseconds(), for --timing
};

std::string Trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r");
    return first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The parts of a text between bars, each trimmed; a bar within one is {x7C}.
Fields SplitFields(const std::string& text) {
    Fields fields;
    size_t start = 0;
    for (size_t bar; (bar = text.find('|', start)) != std::string::npos; start = bar + 1)
        fields.push_back(Trim(text.substr(start, bar - start)));
    fields.push_back(Trim(text.substr(start)));
    return fields;
}

// {name} by its value, {nl} {cr} {tab} and {xNN} by characters (unless
// `characters` is false), {text*N} by N times the text; unknown names stay.
std::string ExpandPlaceholders(const std::string& text, const std::map<std::string, std::string>& values,
                               bool characters = true) {
    static const std::map<std::string, std::string> characterNames = {{"nl", "\n"}, {"cr", "\r"}, {"tab", "\t"}};
    std::string result;
    for (size_t i = 0; i < text.size(); i++) {
        size_t close = text[i] == '{' ? text.find('}', i) : std::string::npos;
        std::string name = close == std::string::npos ? std::string() : text.substr(i + 1, close - i - 1);
        size_t star = name.rfind('*');
        if (values.count(name))
            result += values.at(name);
        else if (characters && characterNames.count(name))
            result += characterNames.at(name);
        else if (characters && name.size() == 3 && name[0] == 'x' && isxdigit(name[1]) && isxdigit(name[2]))
            result += static_cast<char>(std::stoi(name.substr(1), nullptr, 16));
        else if (star != std::string::npos && star > 0 && star + 1 < name.size() &&
                 name.find_first_not_of("0123456789", star + 1) == std::string::npos) {
            for (unsigned long n = std::stoul(name.substr(star + 1)); n > 0; n--)
                result += name.substr(0, star);
        } else {
            result += text[i];
            continue;
        }
        i = close;
    }
    return result;
}

bool Refuse(const std::string& path, int number, const std::string& why) {
    std::fprintf(stderr, "%s:%d: %s\n", path.c_str(), number, why.c_str());
    return false;
}

typedef std::vector<std::pair<int, std::string>> Numbered;  // each line with its number in the file

// Scenario files are UTF-8; the program reads and writes ANSI text in the
// code page of the scenario's locale, and so does the runner.
std::string InCodePage(const std::string& utf8) {
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0],
                                    static_cast<int>(wide.size())));
    std::string text(wide.size() * 2, '\0');
    text.resize(WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &text[0],
                                    static_cast<int>(text.size()), nullptr, nullptr));
    return text;
}

// The file's lines; "include <file>" brings in the lines of a file under
// `root`, numbered as the include.
bool ReadLines(const std::string& path, const std::string& root, int includedAt, Numbered* lines) {
    std::ifstream in(path);
    if (!in)
        return Refuse(path, includedAt, "cannot read it");
    std::string text;
    for (int number = 1; std::getline(in, text); number++) {
        int at = includedAt ? includedAt : number;
        if (Trim(text).compare(0, 8, "include ") != 0)
            lines->push_back({at, InCodePage(text)});
        else if (!ReadLines(root + "\\" + Trim(Trim(text).substr(8)), root, at, lines))
            return false;
    }
    return true;
}

// The lines after the one at `*at` up to "end", where `*at` is left, each
// without the indentation of two; false when no "end" comes.
bool UpToEnd(const Numbered& lines, size_t* at, Fields* texts) {
    for (std::string text; ++*at < lines.size() && Trim(text = lines[*at].second) != "end";)
        texts->push_back(text.substr(std::min({text.find_first_not_of(' '), text.size(), size_t(2)})));
    return *at < lines.size();
}

// The columns of the chosen row and the lines of this build and row: a
// "[word, ...]" in front of a line names the builds and rows it is for.
// False, with a message on standard error, when the file cannot be read, the
// row is not in its table or a body has no "end".
bool ReadScenario(Run& run) {
    Numbered lines;
    if (!ReadLines(run.File, run.Tests + "\\scenarios", 0, &lines))
        return false;
    for (size_t at = 0; at < lines.size(); at++) {
        std::string text = Trim(lines[at].second);
        if (text == "table") {
            Fields body, header;
            UpToEnd(lines, &at, &body);
            for (const std::string& row : body) {
                Fields cells = SplitFields(row);  // "| a | b |": empty before the first bar and after the last
                if (cells.size() < 3 || Trim(row)[0] == '#')
                    continue;
                if (header.empty()) {
                    header.assign(cells.begin() + 1, cells.end() - 1);
                } else if (cells[1] == run.Row) {
                    for (size_t i = 0; i + 2 < cells.size() && i < header.size(); i++)
                        run.Columns[header[i]] = cells[i + 1];
                }
            }
            continue;
        }
        if (text.empty() || text[0] == '#')
            continue;
        bool played = text[0] != '[';
        if (!played) {
            std::string tags = text.substr(1, text.find(']') - 1);
            text = Trim(text.substr(text.find(']') + 1));
            std::replace(tags.begin(), tags.end(), ',', ' ');
            std::istringstream list(tags);
            played = tags.empty() ||
                     std::any_of(std::istream_iterator<std::string>(list), {},
                                 [&](const std::string& word) { return word == run.Build || word == run.Row; });
        }
        bool now = text.compare(0, 4, "now ") == 0;
        if (now)
            text = Trim(text.substr(4));
        size_t space = std::min(text.find(' '), text.size());
        ScenarioLine line = {lines[at].first, text.substr(0, space), Trim(text.substr(space)), {}, now};
        bool body = line.Keyword == "file" || line.Keyword == "log" || line.Keyword == "lines" ||
                    (line.Keyword == "content" && line.Rest.find(" = ") == std::string::npos);
        if (body && !UpToEnd(lines, &at, &line.Body))
            return Refuse(run.File, line.Number, "no \"end\" after the body of " + line.Keyword);
        if (played)
            run.Lines.push_back(line);
    }
    if (!run.Row.empty() && run.Columns.empty())  // a row found has a column at least: its name
        return Refuse(run.File, 0, "no row \"" + run.Row + "\" in the table");
    for (ScenarioLine& line : run.Lines) {
        // Characters only once the fields are split: {x7C} is no bar, {x20} survives trimming.
        line.Keyword = ExpandPlaceholders(line.Keyword, run.Columns, false);  // a column may name it: exists or absent
        line.Rest = ExpandPlaceholders(line.Rest, run.Columns, false);
        for (std::string& body : line.Body)
            body = ExpandPlaceholders(body, run.Columns, false);
    }
    return true;
}

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
    const ScenarioLine* line = run.Line;
    std::printf("%s:%d: %s%s %s\n  %s\n", run.File.c_str(), line ? line->Number : 0, line && line->Now ? "now " : "",
                line ? line->Keyword.c_str() : "", line ? line->Rest.c_str() : "", what.c_str());
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

// Walked by characters: in a double-byte code page a second byte can be "\".
std::string FolderOf(const std::string& path) {
    const char* slash = nullptr;
    for (const char* p = path.c_str(); *p; p = CharNextA(p))
        slash = *p == '\\' ? p : slash;
    return slash ? path.substr(0, slash - path.c_str()) : std::string();
}

bool MakeFolders(const std::string& path) {
    if (path.empty() || GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return true;
    return MakeFolders(FolderOf(path)) && CreateDirectoryA(path.c_str(), nullptr);
}

bool ReadFileBytes(const std::string& path, std::string* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (in)
        bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return static_cast<bool>(in);
}

// Makes the missing folders first.
bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    MakeFolders(FolderOf(path));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    return out && out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// What FindFirstFile finds ('*' and '?' in the last part), but "." and "..".
std::vector<WIN32_FIND_DATAA> Find(const std::string& pattern) {
    std::vector<WIN32_FIND_DATAA> entries;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
        if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0)
            entries.push_back(found);
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    return entries;
}

Snapshot TakeSnapshot(const std::string& folder) {
    Snapshot snapshot;
    for (const WIN32_FIND_DATAA& found : Find(folder + "\\*")) {
        std::string name = found.cFileName;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            snapshot[name] = "<dir>";
            for (const auto& [inner, bytes] : TakeSnapshot(folder + "\\" + name))
                snapshot[name + "\\" + inner] = bytes;
        } else {
            ReadFileBytes(folder + "\\" + name, &snapshot[name]);
        }
    }
    return snapshot;
}

void DeleteTree(const std::string& path) {
    Snapshot inside = TakeSnapshot(path);
    for (auto entry = inside.rbegin(); entry != inside.rend(); ++entry) {
        std::string full = path + "\\" + entry->first;
        SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        entry->second == "<dir>" ? RemoveDirectoryA(full.c_str()) : DeleteFileA(full.c_str());
    }
    RemoveDirectoryA(path.c_str());
}

// Keys as "HKLM\..." or "HKCU\..."; values as text, "dword:N" or "absent".
HKEY RootOf(const std::string& key) {
    return key.compare(0, 5, "HKLM\\") == 0 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

bool SetRegistryValue(const std::string& key, const std::string& name, const std::string& data) {
    if (data == "absent") {
        LONG status = RegDeleteKeyValueA(RootOf(key), key.c_str() + 5, name.c_str());
        return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
    }
    bool dword = data.compare(0, 6, "dword:") == 0;
    DWORD number = dword ? std::stoul(data.substr(6), nullptr, 0) : 0;
    const void* bytes = dword ? static_cast<const void*>(&number) : data.c_str();
    DWORD size = dword ? sizeof number : static_cast<DWORD>(data.size() + 1);
    return RegSetKeyValueA(RootOf(key), key.c_str() + 5, name.c_str(), dword ? REG_DWORD : REG_SZ, bytes, size) ==
           ERROR_SUCCESS;
}

// The raw bytes and (unless `type` is null) type of a value; false when there is none.
bool QueryValue(const std::string& key, const std::string& name, std::string* bytes, DWORD* type) {
    const DWORD flags = RRF_RT_ANY | RRF_NOEXPAND;
    DWORD size = 0;
    if (RegGetValueA(RootOf(key), key.c_str() + 5, name.c_str(), flags, type, nullptr, &size) != ERROR_SUCCESS)
        return false;
    bytes->assign(size, '\0');
    return RegGetValueA(RootOf(key), key.c_str() + 5, name.c_str(), flags, type, &(*bytes)[0], &size) == ERROR_SUCCESS;
}

std::string RegistryValue(const std::string& key, const std::string& name) {
    std::string bytes;
    DWORD type = 0;
    if (!QueryValue(key, name, &bytes, &type))
        return "absent";
    if (type == REG_DWORD && bytes.size() == 4)
        return "dword:" + std::to_string(*reinterpret_cast<const DWORD*>(bytes.data()));
    return bytes.substr(0, bytes.find('\0'));
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

bool StartRun(Run& run, Args f) {
    if (!Settle(run))
        return false;
    std::string exe = f.size() > 1 ? f[0] : run.Places["dist"] + "\\setup.exe";
    const std::string& tail = f[f.size() > 1];
    std::string commandLine = "\"" + exe + "\"" + (tail.empty() ? "" : " " + tail);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = run.CaptureOutput ? STARTF_USESTDHANDLES : 0;
    std::string output = run.Places["scratch"] + "\\stdout.txt";
    if (run.CaptureOutput)
        startup.hStdOutput = startup.hStdError =
            CreateFileA(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    run.Job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(run.Job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    bool started =
        CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, run.CaptureOutput, CREATE_SUSPENDED, nullptr,
                       run.CurrentDir.empty() ? nullptr : run.CurrentDir.c_str(), &startup, &run.First);
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

// "<fields> -> <answer>" for the next window, which must show them (the run
// ends when it differs): a box's title | text | icon | buttons, or a dialog's
// `ids` with this title and buttons. Without an answer a box stays up;
// "install <dir> | <group>" (or "enter ...") types a dialog's fields first.
bool ExpectWindow(Run& run, const char* title, const std::vector<int>& ids, const char* buttons) {
    const std::string& rest = run.Line->Rest;
    size_t arrow = rest.rfind(" -> ");
    std::string answer = arrow == std::string::npos ? std::string() : Trim(rest.substr(arrow + 4));
    bool box = ids.empty();
    Fields expected = ids.size() == 1 ? Fields{Text(run, rest.substr(0, arrow))} : Split(run, rest.substr(0, arrow));
    if (ids.size() == 1 && expected[0][0] == '@' && !ReadFileBytes(expected[0].substr(1), &expected[0]))
        return Fail(run, "cannot read " + expected[0]);
    if (expected.size() != (box ? 4 : ids.size()))
        return Fail(run, box ? "a box needs title | text | icon | buttons" : "directories need dir | group");
    HWND window = NextWindow(run);
    if (!window || (box && !robot::IsMessageBox(window)))
        return window && Unexpected(run, window);
    static const std::map<UINT, std::string> icons = {{MB_ICONERROR, "error"}, {MB_ICONWARNING, "warning"},
        {MB_ICONQUESTION, "question"}, {MB_ICONINFORMATION, "information"}};
    bool same = Expect(run, "title", box ? expected[0] : title, robot::WindowTitle(window));
    if (box) {
        same &= Expect(run, "text", expected[1], robot::MessageBoxText(window));
        UINT icon = robot::MessageBoxIconKind(window);
        same &= Expect(run, "icon", expected[2], icons.count(icon) ? icons.at(icon) : "none");
    }
    for (size_t i = 0; i < ids.size(); i++)
        same &= Expect(run, "field", expected[i], robot::ControlText(window, ids[i]));
    static const char* buttonNames[] = {"", "ok", "cancel", "abort", "retry", "ignore", "yes", "no"};
    std::string shown;
    int preset = robot::DefaultButton(window);
    for (int id : robot::ButtonIds(window))
        shown += std::string(shown.empty() ? "" : " ") + (id > 0 && id < 8 ? buttonNames[id] : "?") +
                 (id == preset ? "*" : "");
    if (!(Expect(run, "buttons", box ? expected[3] : buttons, shown) & same))
        return Stop(run, box ? "the box differs" : "the dialog differs");
    if (box && answer.empty()) {
        run.OpenBox = window;
        return true;
    }
    size_t space = answer.find(' ');
    if (box || space == std::string::npos)
        return AnswerAndWait(run, window, answer);
    Fields typed = Split(run, answer.substr(space + 1));
    for (size_t i = 0; i < ids.size(); i++) {
        if (typed.size() != ids.size() || !robot::SetEditText(window, ids[i], typed[i].c_str()))
            return Fail(run, "cannot type dir | group");
    }
    if (!Answer(run, window, answer.substr(0, space)))
        return false;
    // The dialog may stay, with a box in front of it, when the choice is refused.
    Poll(WindowTimeoutMs, 10, [&] {
        HWND front = robot::FindWindowOf(RunningProcesses(run));
        return !IsWindowVisible(window) || (front && front != window);
    });
    return true;
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
    if (!Poll(LongWaitMs, 1, [&] { return !Find(f[0]).empty(); }))
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
            text = robot::ControlText(window, IDC_PROGRESS_TEXT);
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

// Every distribution starts with this build's program, so that set-up lines
// can change it (make it read-only, say) before the first run.
bool PlaceProgram(Run& run, const std::string& dist) {
    return (MakeFolders(dist) && CopyFileA((run.BuildDir + "\\setup.exe").c_str(), (dist + "\\setup.exe").c_str(), FALSE)) ||
           Fail(run, "cannot copy setup.exe into " + dist);
}

// A product's files have placeholders too.
bool CopyProduct(Run& run, Args f) {
    std::string from = f[0].find('\\') == std::string::npos ? run.Tests + "\\products\\" + f[0] : f[0];
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
        if (!WritePrivateProfileStringA(f[1].c_str(), (f[3] + std::to_string(i)).c_str(), "x", f[0].c_str()))
            return false;
    }
    return true;
}

// Every file the path names ('*' and '?' in its last part).
bool MakeReadOnly(Run&, Args f) {
    std::vector<WIN32_FIND_DATAA> found = Find(f[0]);
    return !found.empty() && std::all_of(found.begin(), found.end(), [&](const WIN32_FIND_DATAA& file) {
        return SetFileAttributesA((FolderOf(f[0]) + "\\" + file.cFileName).c_str(), FILE_ATTRIBUTE_READONLY);
    });
}

bool Hold(Run& run, Args f) {
    HANDLE file = CreateFileA(f[0].c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    return file != INVALID_HANDLE_VALUE && (run.Held[f[0]] = file);
}

bool Pose(Run& run, Args f) {
    run.Windows9x = f[0] == "win95" || f[0] == "win98" || f[0] == "winme";
    return SetRegistryValue("HKCU\\Software\\Wine", "Version", f[0]);
}

bool CopyStep(Run& run, Args f) {
    MakeFolders(FolderOf(f[1]));
    return CopyFileA(f[0].c_str(), f[1].c_str(), FALSE) ||
           Fail(run, "cannot copy: error " + std::to_string(GetLastError()));
}

bool WriteEntry(Run&, Args f) {
    const char* value = f[3] != "absent" ? f[3].c_str() : nullptr;
    return WritePrivateProfileStringA(f[1].c_str(), f[2].c_str(), value, f[0].c_str());
}

// The program inherits the runner's environment.
bool SetEnvironment(Run&, Args f) {
    size_t equals = f[0].find('=');
    return equals != std::string::npos &&
           SetEnvironmentVariableA(f[0].substr(0, equals).c_str(), f[0].c_str() + equals + 1);
}

bool SetValue(Run& run, Args f) {
    run.RegistryBefore.push_back({f[0], f[1], RegistryValue(f[0], f[1])});
    return SetRegistryValue(f[0], f[1], f[2]);
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
    std::vector<WIN32_FIND_DATAA> found = Find(path);  // a file with a number in its name: '*' or '?'
    if (found.size() == 1)
        path = FolderOf(path) + "\\" + found[0].cFileName;
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
    CoInitialize(nullptr);
    IShellLinkA* link = nullptr;
    IPersistFile* file = nullptr;
    WCHAR widePath[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, f[0].c_str(), -1, widePath, MAX_PATH);
    bool read = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                           reinterpret_cast<void**>(&link))) &&
                SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
                SUCCEEDED(file->Load(widePath, STGM_READ));
    char text[4][MAX_PATH] = {};
    if (read) {
        link->GetPath(text[0], MAX_PATH, nullptr, SLGP_RAWPATH);
        link->GetArguments(text[1], MAX_PATH);
        link->GetWorkingDirectory(text[2], MAX_PATH);
        link->GetDescription(text[3], MAX_PATH);
    }
    if (file)
        file->Release();
    if (link)
        link->Release();
    if (!read)
        return Fail(run, "cannot read the shortcut");
    return Expect(run, "target", f[1], text[0]) & Expect(run, "arguments", f[2], text[1]) &
           Expect(run, "working directory", f[3], text[2]) & Expect(run, "description", f[4], text[3]);
}

// The first "unchanged" of a folder takes its snapshot, the next compares.
bool CheckUnchanged(Run& run, Args f) {
    if (!run.Before.count(f[0])) {
        run.Before[f[0]] = TakeSnapshot(f[0]);
        return true;
    }
    Snapshot& before = run.Before[f[0]];
    Snapshot after = TakeSnapshot(f[0]);
    std::string differences;
    for (const auto& [path, bytes] : before) {
        const char* change = !after.count(path) ? "  gone: " : after[path] != bytes ? "  changed: " : nullptr;
        differences += change ? change + path + "\n" : "";
    }
    for (const auto& entry : after)
        differences += before.count(entry.first) ? "" : "  new: " + entry.first + "\n";
    return differences.empty() || Fail(run, "it changed:\n" + differences);
}

bool CheckOutput(Run& run, Args f) {
    std::string output;
    ReadFileBytes(run.Places["scratch"] + "\\stdout.txt", &output);
    return output.find(f[0]) != std::string::npos || Fail(run, "standard output was:\n" + Visible(output));
}

// Windows 9x queues "NUL=<short path>" in wininit.ini's [Rename]; NT pairs
// of names, source and target, in PendingFileRenameOperations, an empty
// target a deletion.
bool DeletionQueued(Run& run, Args f) {
    std::string entries;
    char shortPath[MAX_PATH] = "";
    if (run.Windows9x) {
        GetShortPathNameA(f[0].c_str(), shortPath, MAX_PATH);
        entries.resize(32768);
        entries.resize(GetPrivateProfileSectionA("Rename", &entries[0], static_cast<DWORD>(entries.size()),
                                                 (run.Places["windows"] + "\\wininit.ini").c_str()));
    } else {
        QueryValue(SessionManagerKey, "PendingFileRenameOperations", &entries, nullptr);
    }
    Fields names;  // each ended by a NUL
    for (size_t at = 0; at < entries.size(); at = entries.find('\0', at) + 1)
        names.push_back(entries.c_str() + at);
    std::string wanted = run.Windows9x ? "NUL=" + std::string(shortPath) : "\\??\\" + f[0];
    for (size_t i = 0; i < names.size(); i += run.Windows9x ? 1 : 2) {
        bool deletion = run.Windows9x || (i + 1 < names.size() && names[i + 1].empty());
        if (deletion && lstrcmpiA(names[i].c_str(), wanted.c_str()) == 0)
            return true;
    }
    return false;
}

std::string ProfileValue(const std::string& file, const std::string& section, const std::string& key) {
    char value[1024];
    GetPrivateProfileStringA(section.c_str(), key.c_str(), "\x01", value, sizeof value, file.c_str());
    return std::string(value) == "\x01" ? "absent" : value;
}

enum Phase { SetUp, Windows, State };

struct Keyword {
    const char* Name;
    Phase When;
    int Count;  // the fields of a line: 1 the whole rest; 0 any number, or the step reads the line itself
    bool (*Step)(Run&, Args);        // none for the lines read by the test list and run-scenario.sh
    const char* Failed = "failed";  // reported when the step returns false, unless it reported itself
};

const Keyword Keywords[] = {
    {"pose", SetUp, 1, Pose, "cannot pose"},
    {"builds", SetUp, 0, nullptr},
    {"restarts", SetUp, 0, nullptr},
    {"dlls", SetUp, 0, nullptr},
    {"locale", SetUp, 0, nullptr},
    {"dist", SetUp, 1, [](Run& run, Args f) { return PlaceProgram(run, run.Places["dist"] = f[0]); }},
    {"product", SetUp, 1, CopyProduct},
    {"file", SetUp, 0, WriteFileStep},
    {"mkdir", SetUp, 1, [](Run&, Args f) { return MakeFolders(f[0]); }, "cannot make it"},
    {"copy", SetUp, 2, CopyStep},
    {"readonly", SetUp, 1, MakeReadOnly, "cannot"},
    {"hold", SetUp, 1, Hold, "cannot open it"},
    {"let", SetUp, 1, Let},
    {"delete", SetUp, 1,
     [](Run&, Args f) { return DeleteFileA(f[0].c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND; },
     "cannot delete it"},
    {"release", Windows, 1,
     [](Run& run, Args f) { return run.Held.count(f[0]) && CloseHandle(run.Held[f[0]]) && run.Held.erase(f[0]); },
     "not held"},
    {"reg", SetUp, 3, SetValue, "cannot set it"},
    {"ini", SetUp, 4, WriteEntry, "cannot write it"},
    {"keys", SetUp, 4, WriteKeys, "cannot write them"},
    {"env", SetUp, 1, SetEnvironment, "env NAME=value"},
    {"cd", SetUp, 1, [](Run& run, Args f) { return run.CurrentDir = f[0], true; }},
    {"unchanged", State, 1, CheckUnchanged},
    {"run", Windows, 0, StartRun},
    {"box", Windows, 0, [](Run& run, Args) { return ExpectWindow(run, nullptr, {}, nullptr); }},
    {"answer", Windows, 1,
     [](Run& run, Args f) {
         HWND box = run.OpenBox;
         run.OpenBox = nullptr;
         return box ? AnswerAndWait(run, box, f[0]) : Fail(run, "no box is up");
     }},
    {"license", Windows, 0,
     [](Run& run, Args) { return ExpectWindow(run, "License agreement", {IDC_LICENSE_TEXT}, "ok cancel*"); }},
    {"directories", Windows, 0,
     [](Run& run, Args) {
         return ExpectWindow(run, "Choose directories", {IDC_INSTALL_DIR, IDC_PROGRAM_GROUP}, "ok* cancel");
     }},
    {"kill-when", Windows, 1, KillWhen},
    {"exit", Windows, 1, ExpectExit},
    {"progress", Windows, 1, CheckProgress},
    {"no-window", Windows, 0, [](Run& run, Args) { return Settle(run, true); }},
    {"exists", State, 1, [](Run&, Args f) { return !Find(f[0]).empty(); }, "it is not there"},
    {"absent", State, 1, [](Run&, Args f) { return Find(f[0]).empty(); }, "it is still there"},
    {"gone", State, 1, [](Run&, Args f) { return Poll(LongWaitMs, 50, [&] { return Find(f[0]).empty(); }); },
     "it is still there"},
    {"content", State, 0, CheckContent},
    {"log", State, 0, CheckContent},
    {"same", State, 2, CheckSame},
    {"shortcut", State, 5, CheckShortcut},
    {"ini-is", State, 4, [](Run& run, Args f) { return Expect(run, "entry", f[3], ProfileValue(f[0], f[1], f[2])); }},
    {"reg-is", State, 3, [](Run& run, Args f) { return Expect(run, "value", f[2], RegistryValue(f[0], f[1])); }},
    {"pending", State, 1, DeletionQueued, "no deletion is queued"},
    {"stdout", State, 1, CheckOutput},
    {"lines", State, 0, CheckContent},
};

// The folders of the run, emptied, and what earlier runs may have left on the
// machine put back: the pose, queued deletions, temporary copies, the sample
// driver's control, the driver lists and the Add/Remove Programs entries.
void PrepareMachine(Run& run) {
    std::map<std::string, std::string>& places = run.Places;
    char path[MAX_PATH];
    places["windows"] = std::string(path, GetWindowsDirectoryA(path, MAX_PATH));
    places["system"] = std::string(path, GetSystemDirectoryA(path, MAX_PATH));
    DWORD length = GetTempPathA(MAX_PATH, path);
    places["temp"] = std::string(path, length > 0 ? length - 1 : 0);
    places["build"] = run.BuildDir;
    std::string name = run.File.substr(run.File.find_last_of('\\') + 1);
    std::string row = run.Row.empty() ? std::string() : "-" + run.Row;
    places["scratch"] = "C:\\tests\\" + ShortName(name.substr(0, name.rfind('.')) + row);
    DeleteTree(places["scratch"]);
    for (const char* place : {"dist", "extra", "programs", "menu"})
        MakeFolders(places[place] = places["scratch"] + "\\" + place);
    DeleteFileA((places["temp"] + "\\SETUP.LOG").c_str());
    for (const WIN32_FIND_DATAA& found : Find(places["temp"] + "\\TMP*.*"))
        DeleteFileA((places["temp"] + "\\" + found.cFileName).c_str());
    places["stamp"] = "{#}{#}{#}{#}-{#}{#}-{#}{#} {#}{#}:{#}{#}:{#}{#}";
    places["anypid"] = "{?}{?}{?}{?}{?}{?}{?}{?}";
    SetRegistryValue("HKCU\\Software\\Wine", "Version", "winxp");
    SetRegistryValue(SessionManagerKey, "PendingFileRenameOperations", "absent");
    DeleteFileA((places["windows"] + "\\wininit.ini").c_str());
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\SetupTests");
    HKEY uninstall;  // the products' Add/Remove Programs entries
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", 0, KEY_ALL_ACCESS,
                      &uninstall) == ERROR_SUCCESS) {
        RegDeleteTreeA(uninstall, nullptr);
        RegCloseKey(uninstall);
    }
    DeleteFileA((places["windows"] + "\\control.ini").c_str());
    std::string systemIni = places["windows"] + "\\system.ini";
    char keys[8192];
    length = GetPrivateProfileStringA("drivers32", nullptr, "", keys, sizeof keys, systemIni.c_str());
    for (const char* key = keys; key < keys + length; key += lstrlenA(key) + 1) {
        if (_strnicmp(key, "wave", 4) == 0 || _strnicmp(key, "mixer", 5) == 0)
            WritePrivateProfileStringA("drivers32", key, nullptr, systemIni.c_str());
    }
    const std::string folders = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    places["commonprograms"] = RegistryValue("HKLM" + folders, "Common Programs");
    places["localprograms"] = RegistryValue("HKCU" + folders, "Programs");
    places["programfiles"] = RegistryValue("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir");
    places["source"] = run.Tests.substr(0, run.Tests.find_last_of('\\'));
    for (const auto& column : run.Columns)
        places[column.first] = column.second;
    for (const ScenarioLine& line : run.Lines)
        run.CaptureOutput |= line.Keyword == "stdout";
}

bool Play(Run& run) {
    if (!PlaceProgram(run, run.Places["dist"]))
        return false;
    for (const ScenarioLine& line : run.Lines) {
        run.Line = &line;
        auto keyword = std::find_if(std::begin(Keywords), std::end(Keywords),
                                    [&](const Keyword& keyword) { return line.Keyword == keyword.Name; });
        if (keyword == std::end(Keywords))
            return Fail(run, "unknown keyword");
        if (line.Now && keyword->When != State)
            return Fail(run, "not a state check");
        if (keyword->When == State && !line.Now && !Settle(run))
            return false;
        if (run.Verbose)
            std::printf("%4d %s%s %s\n", line.Number, line.Now ? "now " : "", line.Keyword.c_str(),
                        Text(run, line.Rest).c_str());
        Fields fields = keyword->Count == 1 ? Fields{Text(run, line.Rest)} : Split(run, line.Rest);
        int failures = run.Failures;
        bool done = keyword->Count && fields.size() != static_cast<size_t>(keyword->Count)
                        ? Fail(run, std::to_string(keyword->Count) + " fields are needed")
                        : !keyword->Step || keyword->Step(run, fields);
        if (!done && run.Failures == failures)
            Fail(run, keyword->Failed);
        if (!done && keyword->When != State)
            return false;
    }
    run.Line = nullptr;
    return Settle(run);
}

std::string WindowsPath(const std::string& path) {
    std::string windows = path[0] == '/' ? "Z:" + path : path;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
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
    run.Tests = run.File.substr(0, run.File.rfind("\\scenarios\\"));  // with the scenarios and the products
    if (!ReadScenario(run))
        return 2;
    PrepareMachine(run);
    Play(run);
    if (run.Job)
        TerminateJobObject(run.Job, 1);
    // The machine's own values come back for the scenarios after this one.
    for (auto value = run.RegistryBefore.rbegin(); value != run.RegistryBefore.rend(); ++value)
        SetRegistryValue((*value)[0], (*value)[1], (*value)[2]);
    void* version = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version"));
    std::printf("%s%s [%s, Wine %s]: %s\n", positional[2].c_str(), run.Row.empty() ? "" : ("/" + run.Row).c_str(),
                run.Build.c_str(), version ? reinterpret_cast<const char* (*)()>(version)() : "?",
                run.Failures ? "FAILED" : "passed");
    std::fflush(stdout);
    return run.Failures ? 1 : 0;
}
