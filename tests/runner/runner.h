// One play of a scenario: what its steps share, how a step reads its line
// and reports. A failure is printed at once, "<file>:<line>: <the line>" and
// what differs; the play goes on after a failed state check only.
#pragma once

#include <windows.h>

#include "runner/machine.h"
#include "runner/scenario.h"

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
