// The scenario runner's parts, by role, each in the file its section names.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

// ---- scenario.cpp: reading a scenario (tests/scenarios/README.md): its
// lines and included ones, the columns of the row chosen from its table, the
// lines the build and the row keep, and the placeholders in a text.

typedef std::vector<std::string> Fields;
typedef std::map<std::string, std::string> Placeholders;  // name without braces, value

struct ScenarioLine {
    int Number;           // in the file, for messages
    std::string Keyword;  // the first word
    std::string Rest;     // placeholders other than the columns not yet expanded
    Fields Body;          // the lines up to "end", for keywords that take one
    bool Now;             // "now <check>": the check made at once
};

struct Scenario {
    std::string File, Build, Row;     // Row is empty for a file without a table
    std::string Tests;                // the folder of scenarios/ (what "include" names) and products/
    std::vector<ScenarioLine> Lines;  // those of this build and row, their columns expanded
    Placeholders Columns;             // of this row
};

std::string Trim(const std::string& text);

// The parts of a text between bars, each trimmed; a bar within one is {x7C}.
Fields SplitFields(const std::string& text);

// {name} by its value, {nl} {cr} {tab} and {xNN} by characters (unless
// `characters` is false), {text*N} by N times the text; unknown names stay.
std::string ExpandPlaceholders(const std::string& text, const Placeholders& values, bool characters = true);

// False, said on standard error, for a file unread, a row not in the table, a body without "end".
bool ReadScenario(Scenario& scenario);

// ---- machine.cpp: the machine's state as scenarios set it and check it:
// files, snapshots of folders, shortcuts, registry values ("HKLM\..." or
// "HKCU\..." keys; text, "dword:N" or "absent"), profile entries and
// deletions queued for a restart.

// The relative path of everything below a folder: "<dir>" or a file's bytes.
typedef std::map<std::string, std::string> Snapshot;

std::string FolderOf(const std::string& path);
bool MakeFolders(const std::string& path);
bool ReadFileBytes(const std::string& path, std::string* bytes);
bool WriteFileBytes(const std::string& path, const std::string& bytes);  // makes the missing folders first
// What FindFirstFile finds ('*' and '?' in the last part), but "." and "..".
std::vector<WIN32_FIND_DATAA> Find(const std::string& pattern);
// The full paths of what it finds.
std::vector<std::string> FoundPaths(const std::string& pattern);
Snapshot TakeSnapshot(const std::string& folder);
void DeleteTree(const std::string& path);
// A text as a file name: letters and digits, '-' for the rest, 40 at most.
std::string ShortName(const std::string& text);

// A shortcut's target, arguments, working directory and description.
bool ReadShortcut(const std::string& path, std::vector<std::string>* fields);

bool SetRegistryValue(const std::string& key, const std::string& name, const std::string& value);
std::string RegistryValue(const std::string& key, const std::string& name);
std::string ProfileValue(const std::string& file, const std::string& section, const std::string& key);

// Whether a deletion at the next restart is queued as the posed family queues it.
bool DeletionQueued(const std::string& path, bool windows9x, const std::string& windows);

// The pose, queued deletions, temporary copies, SETUP.LOG, the sample driver's control
// key, the driver lists (control.ini, system.ini's wave and mixer) and the
// Add/Remove Programs entries as before any run.
void ForgetEarlierRuns(const std::string& windows, const std::string& temp);

// ---- runner.cpp: one play of a scenario: what its steps share, how a step
// reads its line and reports. A failure is printed at once, "<file>:<line>:
// <the line>" and what differs; the play goes on after a failed state check
// only.

const DWORD ExitTimeoutMs = 30000;
const DWORD LongWaitMs = 60000;

struct Run : Scenario {
    std::string Screenshots, BuildDir;
    bool Timing = false, Verbose = false, Windows9x = false, Running = false, CaptureOutput = false;
    int Failures = 0, Shots = 0, Runs = 0;
    Placeholders Places;                 // every placeholder a line may name: the columns, "let" ones, {dist} ...
    const ScenarioLine* Line = nullptr;  // the one played
    HANDLE Job = nullptr;                // the processes of the last run
    PROCESS_INFORMATION First = {};      // the one it started itself
    HWND OpenBox = nullptr;              // a box left up for "answer"
    std::map<std::string, HANDLE> Held;
    std::map<std::string, Snapshot> Before;
    std::vector<Fields> RegistryBefore;  // key, name, value: put back at the end
    double LastAnswer = 0;               // Milliseconds(), for --timing
};

typedef const Fields& Args;  // a line's fields as a step gets them

bool Fail(Run& run, const std::string& what);
bool Expect(Run& run, const char* what, const std::string& expected, const std::string& actual);
// Control characters escaped, so that a report shows a difference in line ends.
std::string Visible(const std::string& text);

// A text of the line, the fields of one and the body's lines (each ended
// CR LF), their placeholders expanded now.
inline std::string Text(const Run& run, const std::string& raw) { return ExpandPlaceholders(raw, run.Places); }

inline Fields Split(const Run& run, const std::string& raw) {
    Fields fields = SplitFields(raw);
    for (std::string& field : fields)
        field = Text(run, field);
    return fields;
}

inline std::string BodyText(const Run& run) {
    std::string text;
    for (const std::string& line : run.Line->Body)
        text += Text(run, line) + "\r\n";
    return text;
}

inline double Milliseconds() {
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

// ---- windows.cpp: the windows of a run's processes, worked through the
// robot as a user would: each box or dialog expected, answered or left up,
// the progress notice, screenshots, and the end of the run. An unexpected
// window ends it.

// Until the run's processes end; a window is unexpected (a progress notice too if `noWindowAtAll`).
bool Settle(Run& run, bool noWindowAtAll = false);

// "box", "license" and "directories"; "answer", "exit", "progress", "no-window".
bool ExpectWindow(Run& run, Args);
bool AnswerOpenBox(Run& run, Args f);
bool ExpectExit(Run& run, Args f);
bool CheckProgress(Run& run, Args f);
bool ExpectNoWindow(Run& run, Args);
