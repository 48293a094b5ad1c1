// The scenario runner: plays one scenario (one row of its table) against the
// real setup.exe as a user would, then checks what the program left behind
// (tests/scenarios/README.md), by a step for each keyword or family of them.
// BUILD-DIR holds the programs of the build BUILD.
//   runner.exe [--row NAME] [--screenshots DIR] [--timing] [--verbose] BUILD-DIR BUILD SCENARIO
#include <algorithm>
#include <cstdio>

#include "runner/pattern.h"
#include "runner/runner.h"

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

std::string Visible(const std::string& text) {
    std::string shown;
    for (unsigned char c : text) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", c);
        shown += c == '\n' ? "\\n" : c == '\r' ? "\\r" : c < 32 ? hex : std::string(1, static_cast<char>(c));
    }
    return shown;
}

namespace {

const char LogHeader[] =
    ";\r\n; Caution!\r\n; Do not delete or modify this file. It is required to product uninstallation.\r\n;\r\n\r\n";

// Set-up

// Every distribution holds this build's program from the start, so that
// set-up lines can change it (make it read-only, say) before the first run.
bool PlaceProgram(Run& run, const std::string& dist) {
    std::string program = run.BuildDir + "\\setup.exe", copy = dist + "\\setup.exe";
    return (MakeFolders(dist) && CopyFileA(program.c_str(), copy.c_str(), FALSE)) ||
           Fail(run, "cannot copy setup.exe into " + dist);
}

// "dist <path>", "cd <dir>": the distribution, the next runs' current directory.
bool SetPlace(Run& run, Args f) {
    run.Places[run.Line->Keyword] = f[0];
    return run.Line->Keyword != "dist" || PlaceProgram(run, f[0]);
}

bool Pose(Run& run, Args f) {
    run.Windows9x = f[0] == "win95" || f[0] == "win98" || f[0] == "winme";
    return SetRegistryValue("HKCU\\Software\\Wine", "Version", f[0]);
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

// "file <path> | <times>" writes the body that many times, {i} counting from
// 0: into one file, or into one file each when the path holds {i}.
bool WriteFileStep(Run& run, Args) {
    Fields fields = SplitFields(run.Line->Rest);
    std::map<std::string, std::string> files;
    for (int i = 0; i < (fields.size() > 1 ? std::atoi(fields[1].c_str()) : 1); i++) {
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

bool MakeFolder(Run&, Args f) { return MakeFolders(f[0]); }

bool CopyStep(Run& run, Args f) {
    MakeFolders(FolderOf(f[1]));
    return CopyFileA(f[0].c_str(), f[1].c_str(), FALSE) ||
           Fail(run, "cannot copy: error " + std::to_string(GetLastError()));
}

// Every file the path names ('*' and '?' in its last part).
bool MakeReadOnly(Run&, Args f) {
    std::vector<std::string> found = FoundPaths(f[0]);
    return !found.empty() && std::all_of(found.begin(), found.end(), [](const std::string& path) {
        return SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    });
}

bool DeleteStep(Run&, Args f) { return DeleteFileA(f[0].c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND; }

bool Hold(Run& run, Args f) {
    HANDLE file = CreateFileA(f[0].c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    return file != INVALID_HANDLE_VALUE && (run.Held[f[0]] = file);
}

bool Release(Run& run, Args f) { return run.Held.count(f[0]) && CloseHandle(run.Held[f[0]]) && run.Held.erase(f[0]); }

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

bool SetValue(Run& run, Args f) {
    run.RegistryBefore.push_back({f[0], f[1], RegistryValue(f[0], f[1])});
    return SetRegistryValue(f[0], f[1], f[2]);
}

bool WriteEntry(Run&, Args f) {
    const char* value = f[3] != "absent" ? f[3].c_str() : nullptr;
    return WritePrivateProfileStringA(f[1].c_str(), f[2].c_str(), value, f[0].c_str());
}

bool WriteKeys(Run&, Args f) {
    for (int i = 1; i <= std::atoi(f[2].c_str()); i++) {
        if (!WritePrivateProfileStringA(f[1].c_str(), (f[3] + std::to_string(i)).c_str(), "x", f[0].c_str()))
            return false;
    }
    return true;
}

// The program inherits the runner's environment.
bool SetEnvironment(Run&, Args f) {
    size_t equals = f[0].find('=');
    return equals != std::string::npos &&
           SetEnvironmentVariableA(f[0].substr(0, equals).c_str(), f[0].c_str() + equals + 1);
}

// Runs

bool StartRun(Run& run, Args f) {
    if (!Settle(run))
        return false;
    std::string exe = f.size() > 1 ? f[0] : run.Places["dist"] + "\\setup.exe";
    std::string commandLine = "\"" + exe + "\"" + (f.back().empty() ? "" : " " + f.back());
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE output = !run.CaptureOutput ? nullptr
                                       : CreateFileA((run.Places["scratch"] + "\\stdout.txt").c_str(), GENERIC_WRITE,
                                                     FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = output ? STARTF_USESTDHANDLES : 0;
    startup.hStdOutput = startup.hStdError = output;
    run.Job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(run.Job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    const char* currentDir = run.Places.count("cd") ? run.Places["cd"].c_str() : nullptr;
    bool started = CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, output != nullptr, CREATE_SUSPENDED,
                                  nullptr, currentDir, &startup, &run.First);
    if (output)
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

bool KillWhen(Run& run, Args f) {
    if (!Poll(LongWaitMs, 1, [&] { return !Find(f[0]).empty(); }))
        return Fail(run, "it never appeared");
    TerminateJobObject(run.Job, 9);
    WaitForSingleObject(run.First.hProcess, ExitTimeoutMs);
    run.Running = false;
    return true;
}

// State afterwards

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

// "exists", "absent", or "gone" (absent within a minute).
bool CheckPresence(Run& run, Args f) {
    bool wanted = run.Line->Keyword == "exists";
    auto as = [&] { return Find(f[0]).empty() != wanted; };
    return (run.Line->Keyword == "gone" ? Poll(LongWaitMs, 50, as) : as()) ||
           Fail(run, wanted ? "it is not there" : "it is still there");
}

// "content <path> = <text>", "content <path>" or "lines <path>" with a body, "log <dir>".
bool CheckContent(Run& run, Args) {
    const ScenarioLine& line = *run.Line;
    size_t equals = line.Keyword == "lines" ? std::string::npos : line.Rest.find(" = ");
    std::string path = Text(run, line.Rest.substr(0, equals));
    std::vector<std::string> found = FoundPaths(path);  // a file with a number in its name: '*' or '?'
    if (found.size() == 1)
        path = found[0];
    std::string expected = equals == std::string::npos ? BodyText(run) : Text(run, line.Rest.substr(equals + 3));
    if (line.Keyword == "log") {
        path += "\\install.log";
        expected = LogHeader + expected;
    }
    std::string actual;
    if (!ReadFileBytes(path, &actual))
        return Fail(run, "cannot read " + path);
    if (line.Keyword == "lines" && pattern::Matches(actual.c_str(), expected.c_str(), pattern::Braces))
        return true;
    return Expect(run, line.Keyword == "lines" ? "lines" : "content", expected, actual);
}

bool CheckSame(Run& run, Args f) {
    std::string first, second;
    bool read = ReadFileBytes(f[0], &first) && ReadFileBytes(f[1], &second);
    return (read && first == second) || Fail(run, read ? "they differ" : "cannot read both");
}

bool CheckShortcut(Run& run, Args f) {
    Fields shown;
    if (!ReadShortcut(f[0], &shown))
        return Fail(run, "cannot read the shortcut");
    return Expect(run, "target", f[1], shown[0]) & Expect(run, "arguments", f[2], shown[1]) &
           Expect(run, "working directory", f[3], shown[2]) & Expect(run, "description", f[4], shown[3]);
}

bool CheckProfileEntry(Run& run, Args f) { return Expect(run, "entry", f[3], ProfileValue(f[0], f[1], f[2])); }

bool CheckRegistryValue(Run& run, Args f) { return Expect(run, "value", f[2], RegistryValue(f[0], f[1])); }

bool CheckPending(Run& run, Args f) { return DeletionQueued(f[0], run.Windows9x, run.Places["windows"]); }

bool CheckOutput(Run& run, Args f) {
    std::string output;
    ReadFileBytes(run.Places["scratch"] + "\\stdout.txt", &output);
    return output.find(f[0]) != std::string::npos || Fail(run, "standard output was:\n" + Visible(output));
}

enum Phase { SetUp, Windows, State };

struct Keyword {
    const char* Names;  // of the keyword or of each in its family
    Phase When;
    int Count;  // the fields of a line: 1 the whole rest; 0 any number, or the step reads the line itself
    bool (*Step)(Run&, Args);       // none for the lines read by the test list and run-scenario.sh
    const char* Failed = "failed";  // reported when the step returns false, unless it reported itself
};

const Keyword Keywords[] = {
    {"pose", SetUp, 1, Pose, "cannot pose"},
    {"builds restarts dlls locale", SetUp, 0, nullptr},
    {"dist cd", SetUp, 1, SetPlace},
    {"product", SetUp, 1, CopyProduct},
    {"file", SetUp, 0, WriteFileStep},
    {"mkdir", SetUp, 1, MakeFolder, "cannot make it"},
    {"copy", SetUp, 2, CopyStep},
    {"readonly", SetUp, 1, MakeReadOnly, "cannot"},
    {"hold", SetUp, 1, Hold, "cannot open it"},
    {"release", Windows, 1, Release, "not held"},
    {"let", SetUp, 1, Let},
    {"delete", SetUp, 1, DeleteStep, "cannot delete it"},
    {"reg", SetUp, 3, SetValue, "cannot set it"},
    {"ini", SetUp, 4, WriteEntry, "cannot write it"},
    {"keys", SetUp, 4, WriteKeys, "cannot write them"},
    {"env", SetUp, 1, SetEnvironment, "env NAME=value"},
    {"run", Windows, 0, StartRun},
    {"box license directories", Windows, 0, ExpectWindow},
    {"answer", Windows, 1, AnswerOpenBox},
    {"kill-when", Windows, 1, KillWhen},
    {"exit", Windows, 1, ExpectExit},
    {"progress", Windows, 1, CheckProgress},
    {"no-window", Windows, 0, ExpectNoWindow},
    {"unchanged", State, 1, CheckUnchanged},
    {"exists absent gone", State, 1, CheckPresence},
    {"content log lines", State, 0, CheckContent},
    {"same", State, 2, CheckSame},
    {"shortcut", State, 5, CheckShortcut},
    {"ini-is", State, 4, CheckProfileEntry},
    {"reg-is", State, 3, CheckRegistryValue},
    {"pending", State, 1, CheckPending, "no deletion is queued"},
    {"stdout", State, 1, CheckOutput},
};

std::string WindowsPath(const std::string& path) {
    std::string windows = path[0] == '/' ? "Z:" + path : path;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
}

// The places a scenario names besides its columns, the folders of its own
// emptied ({scratch} and those in it).
void SetPlaces(Run& run) {
    Placeholders& places = run.Places;
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
    places["stamp"] = "{#}{#}{#}{#}-{#}{#}-{#}{#} {#}{#}:{#}{#}:{#}{#}";
    places["anypid"] = "{?}{?}{?}{?}{?}{?}{?}{?}";
    const std::string folders = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    places["commonprograms"] = RegistryValue("HKLM" + folders, "Common Programs");
    places["localprograms"] = RegistryValue("HKCU" + folders, "Programs");
    places["programfiles"] = RegistryValue("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir");
    places["source"] = run.Tests.substr(0, run.Tests.find_last_of('\\'));
    for (const auto& column : run.Columns)
        places[column.first] = column.second;
}

bool Play(Run& run) {
    if (!PlaceProgram(run, run.Places["dist"]))
        return false;
    for (const ScenarioLine& line : run.Lines) {
        run.Line = &line;
        auto keyword = std::find_if(std::begin(Keywords), std::end(Keywords), [&](const Keyword& keyword) {
            return (" " + std::string(keyword.Names) + " ").find(" " + line.Keyword + " ") != std::string::npos;
        });
        if (keyword == std::end(Keywords))
            return Fail(run, "unknown keyword");
        if (line.Now && keyword->When != State)
            return Fail(run, "not a state check");
        if (keyword->When == State && !line.Now && !Settle(run))
            return false;
        if (run.Verbose)  // the main job's account of each step
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
    SetPlaces(run);
    ForgetEarlierRuns(run.Places["windows"], run.Places["temp"]);
    run.CaptureOutput = std::any_of(run.Lines.begin(), run.Lines.end(),
                                    [](const ScenarioLine& line) { return line.Keyword == "stdout"; });
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
