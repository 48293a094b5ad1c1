// Mutated and over-long inputs by the thousand. Every case ends without a
// crash or a hang, shows only error reports in the program's own texts,
// writes nothing past a buffer, never keeps a cut text and changes nothing
// outside its area.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/setup_state.h"
#include "common/variables.h"
#include "device/device_setup.h"
#include "device/device_types.h"
#include "log/replay.h"
#include "runner/pattern.h"
#include "script/script.h"
#include "unit/tables.h"

namespace fs = std::filesystem;

namespace {

// The string literals of the setup.exe beside this program: texts between
// NULs that hold a blank and at least 8 characters besides their conversions
// (a text made mostly of conversions, such as a log line's, is no message).
std::vector<std::string> ProgramTexts() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::ifstream file(fs::path(path).parent_path() / "setup.exe", std::ios::binary);
    std::vector<std::string> texts;
    std::string run;
    for (char c; file.get(c);) {
        if ((c >= ' ' && c <= '~') || c == '\t' || c == '\r' || c == '\n') {
            run += c;
            continue;
        }
        size_t own = 0;
        for (const char* f = run.c_str(); *f; own++)
            f += *f != '%' || !f[1] ? 1 : f[1] == '%' ? 2 : 2 + strspn(f + 1, "0123456789lh");
        if (c == '\0' && own >= 8 && run.find(' ') != std::string::npos)
            texts.push_back(run);
        run.clear();
    }
    return texts;
}

// Each box shown that is not an error report in one of the program's texts;
// a text of 255 characters, the most a report keeps, may end anywhere.
std::string ForeignBoxes() {
    static const std::vector<std::string> texts = ProgramTexts();
    std::string foreign;
    for (const ShownBox& box : BoxRecorder::Boxes) {
        bool cut = box.Text.size() == 255;
        bool own = box.IsReport() && std::any_of(texts.begin(), texts.end(), [&](const std::string& format) {
                       return pattern::Matches(box.Text.c_str(), format.c_str(), pattern::Printf, cut);
                   });
        foreign += own ? "" : box.Title + " " + std::to_string(box.Type) + ": " + box.Text + "\n";
    }
    return foreign;
}

// xorshift32 from each kind's fixed start value: every run mutates the same way.
uint32_t State;
size_t Below(size_t bound) {
    State ^= State << 13;
    State ^= State >> 17;
    State ^= State << 5;
    return State % bound;
}

typedef std::vector<std::string> Lines;

struct Outcome {
    bool Accepted;
    std::string Kept, Fault;  // what the program kept of the input; a broken rule, if any
};

struct Kind {
    const char* Name;
    std::vector<Lines> Valid;  // valid inputs, taken in turn
    std::string Characters;    // what a mutation puts in
    Lines Sections;            // headers a mutation of a script inserts
    uint32_t Seed;
    int Count;       // mutated cases
    bool OneReport;  // a refusal shows one box, an acceptance none
    Outcome (*Run)(const std::string& input, int index);
    // Over-long inputs: the line with a run of random letters for its '@' (in
    // a kind of many-line inputs it replaces the lines of the last valid input
    // that start like it). Such an input is accepted exactly when the run has
    // at most the limit of characters, and the run is then kept whole.
    std::vector<std::pair<const char*, size_t>> Long;
};

// Flips a character (2 in 5), inserts one (2 in 5) or inserts a run of 200 to
// 699 characters: beyond every buffer of the program.
void ChangeCharacters(std::string& text, const std::string& characters) {
    size_t what = Below(5);
    if (what < 2 && !text.empty())
        text[Below(text.size())] = characters[Below(characters.size())];
    else if (what >= 2 && what < 4)
        text.insert(Below(text.size() + 1), 1, characters[Below(characters.size())]);
    else if (what == 4)
        text.insert(Below(text.size() + 1), 200 + Below(500), "xyzv"[Below(4)]);
}

// A one-line input gets 1 to 3 character changes. Other inputs get 1 to 4 of:
// delete, duplicate or swap lines, change the characters of one (3 in 6),
// insert a section header (1 in 7, for a kind that has some).
std::string Mutate(Lines lines, const Kind& kind) {
    if (lines.size() == 1) {
        for (size_t m = 0, count = 1 + Below(3); m < count; m++)
            ChangeCharacters(lines[0], kind.Characters);
        return lines[0];
    }
    for (size_t m = 0, count = 1 + Below(4); m < count && !lines.empty(); m++) {
        size_t at = Below(lines.size()), what = Below(kind.Sections.empty() ? 6 : 7);
        if (what == 0)
            lines.erase(lines.begin() + at);
        else if (what == 1)
            lines.insert(lines.begin() + at, lines[at]);
        else if (what == 2)
            std::swap(lines[at], lines[Below(lines.size())]);
        else if (what < 6)
            ChangeCharacters(lines[at], kind.Characters);
        else
            lines.insert(lines.begin() + at, "[" + kind.Sections[Below(kind.Sections.size())] + "]");
    }
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}

// The test's own folder in the temp folder, the replayed area in it, and the
// key below HKCU the logs name.
std::string Scratch, Area, TestKey;

// Guard bytes behind every buffer, and four records behind each entry table.
const char Guard = '\xA5';
bool GuardIntact(const void* bytes, size_t size) {
    return std::string(static_cast<const char*>(bytes), size) == std::string(size, Guard);
}
EntryRecord Files[FileTableRoom + 4], Links[LinkTableRoom + 4];

// Even cases run on NT, odd ones on 9x. The profile service lets go of the
// last script, so that it never answers from it. What the load stored is
// kept as one text a line, and freed.
Outcome LoadScript(const std::string& text, int index) {
    std::ofstream(Scratch + "\\setup.ini", std::ios::binary) << text;
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, (Scratch + "\\setup.ini").c_str());
    ::Setup.IsWindowsNT = index % 2 == 0;
    Outcome outcome = {LoadSetupScript(), "", ""};
    if (!GuardIntact(Files + FileTableRoom, sizeof(EntryRecord) * 4) ||
        !GuardIntact(Links + LinkTableRoom, sizeof(EntryRecord) * 4) ||
        ::Setup.FileCount > ScriptEntryLimit || ::Setup.LinkCount > ScriptEntryLimit)
        outcome.Fault = "beyond the entry tables";
    std::vector<char**> texts = {&::Setup.DeviceTypeText};
    for (const ScriptKeyDef* key = MainKeyTable; key->Name; key++)
        texts.push_back(&(::Setup.*(key->Field)));
    for (auto [table, count] : {std::pair{Files, &::Setup.FileCount}, std::pair{Links, &::Setup.LinkCount}}) {
        for (; *count > 0; --*count)
            texts.insert(texts.end(), {&table[*count - 1].First, &table[*count - 1].Second, &table[*count - 1].Third});
    }
    for (char** text : texts) {
        outcome.Kept += *text ? std::string(*text) + "\n" : "";
        FreeBlock(*text);
        *text = nullptr;
    }
    return outcome;
}

// The files below the temp folder outside the replayed area, and the number
// of keys of HKCU\Software.
std::string OutsideTheArea() {
    std::string world;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(fs::temp_directory_path(), error)) {
        if (entry.path().string().rfind(Area, 0) != 0)
            world += entry.path().string() + " " + (entry.is_regular_file() ? std::to_string(entry.file_size()) : "");
    }
    HKEY software;
    DWORD keys = 0;
    RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &software);
    RegQueryInfoKeyA(software, nullptr, nullptr, nullptr, &keys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(software);
    return world + "\n" + std::to_string(keys);
}

// The logged things are made anew for each case; every 1000 cases what lies
// outside the area is compared with what lay there before.
Outcome Replay(const std::string& log, int index) {
    static std::string before;
    if (index % 1000 == 0 && index > 0 && OutsideTheArea() != before)
        return {false, "", "changed outside the area before case " + std::to_string(index)};
    for (const char* dir : {"", "\\d0", "\\d0\\d1"})
        CreateDirectoryA((Area + dir).c_str(), nullptr);
    for (const char* file : {"\\d0\\f0.txt", "\\d0\\f1.txt", "\\d0\\d1\\f2.txt"})
        std::ofstream(Area + file) << "x";
    HKEY key;
    RegCreateKeyA(HKEY_CURRENT_USER, (TestKey + "\\k0\\k1").c_str(), &key);
    RegCloseKey(key);
    before = index % 1000 == 0 ? OutsideTheArea() : before;
    ::Setup.IsWindowsNT = TRUE;
    ::Setup.RestartNeeded = FALSE;
    std::string text = log;
    bool undone = ReplayLog(&text[0], AllEvents);
    return {undone, "", text[0] || ::Setup.RestartNeeded ? "log not consumed, or a restart needed" : ""};
}

// The line is cut in place: guard bytes behind its NUL, the fields inside it.
Outcome ParseLine(const std::string& line, int) {
    std::string buffer = line + '\0' + std::string(16, Guard);
    const char* begin = buffer.c_str();
    DriverLine f = {};
    Outcome outcome = {ParseDriverLine(&buffer[0], &f), "", GuardIntact(begin + line.size() + 1, 16) ? "" : "past it"};
    for (const char* field : {f.DriverKey, f.Disk, f.DriverFile, f.TypeText, f.Description})
        outcome.Fault += outcome.Accepted && (field < begin || field > begin + line.size()) ? " a field outside" : "";
    return outcome;
}

Outcome ParseTypes(const std::string& text, int) {
    TypeMask mask = ParseDeviceTypes(text.c_str());
    return {mask != 0, text, mask & ~3 ? "an unknown type bit" : ""};
}

// "CreateFile <text>" goes through LogEvent, any other text is the line.
Outcome AddLogLine(const std::string& line, int) {
    FreeBlock(::Setup.InstallLog.Text);
    ::Setup.InstallLog = InstallLogText{};
    bool event = line.rfind("CreateFile ", 0) == 0;
    bool added = event ? LogEvent(CreateFileEvent, "%s", line.c_str() + 11) : AppendLogLine(line.c_str());
    std::string log = ::Setup.InstallLog.Text ? ::Setup.InstallLog.Text : "";
    return {added, log, log == (added ? line + "\r\n" : "") ? "" : "another line in the log"};
}

// A bounded writer, JoinPath of "directory|name" or the AppName argument of
// a log, given the first bytes of a larger buffer.
template <int Size, bool Join>
Outcome Bounded(const std::string& input, int) {
    std::vector<std::string> f = Fields(input);
    std::string buffer(Size + 16, Guard);
    bool accepted = Join ? JoinPath(&buffer[0], Size, f[0].c_str(), f[1].c_str())
                         : FindEventArgument(&buffer[0], Size, input.c_str(), AppNameEvent);
    return {accepted, buffer.c_str(), GuardIntact(&buffer[Size], 16) ? "" : "written past the buffer"};
}

Outcome DeviceName(const std::string& name, int) { return {DeviceNameFits(name.c_str()), name, ""}; }

std::vector<Kind> Kinds() {
    Lines script = Fields("[Main]|AppName=Sample Product|AppVersion=1.0|DefaultProgramGroup=Sample Product|"
                          "DefaultInstallDir=%ProgramFilesDir%\\Sample Product|StartMenuFolder=%CommonProgramsFolder%|"
                          "DeviceName=Sample Wave Device|DeviceInfFile=sample.inf|[Main.NT]|ReadmeFile=readme.txt|"
                          "[Main.9x]|LicenseFile=license.txt|[Files]|app.exe=%InstallDir%|readme.txt=%InstallDir% , "
                          "docs|[Files.NT]|drv.sys=%WindowsDir%\\system32|[Files.9x]|drv.vxd=%WindowsDir%\\system|"
                          "[Links]|Sample=%InstallDir%\\app.exe, -a, -b|[Links.9x]|Readme=%InstallDir%\\readme.txt");
    // One script in 50, on NT, has 120 entries in a section, beyond the limit of 100.
    std::vector<Lines> scripts(50, script);
    scripts[0].push_back("[Links.NT]");
    for (int i = 0; i < 120; i++)
        scripts[0].push_back("link" + std::to_string(i) + "=target" + std::to_string(i));
    std::string a = Area, k = "HKCU\\" + TestKey;
    Lines log = {"; Installation log", ";", "AppName Sample Product", "CreateDir " + a + "\\d0",
                 "CreateFile " + a + "\\d0\\f0.txt", "CreateFile " + a + "\\d0\\f1.txt", "CreateDir " + a + "\\d0\\d1",
                 "CreateFile " + a + "\\d0\\d1\\f2.txt", "CreateKey " + k + "\\k0", "CreateKey " + k + "\\k0\\k1",
                 "CreateValue " + k + "\\k0 Value", "CreateDir C:\\setup_reliability_missing",
                 "CreateFile C:\\setup_reliability_missing\\gone.txt", "CreateFile " + a + "\\missing\\gone.txt", ""};
    // A script file may hold every byte but NUL. Log lines never get a line
    // end put into them, so no path is ever cut to a folder above the area;
    // profile lines (INF) have none either.
    std::string anyByte = "%=,\" \t%=,\" \t", logCharacters = "%=,\" \tabcXYZ019;", lineCharacters;
    for (int c = 1; c < 256; c++) {
        anyByte += static_cast<char>(c);
        lineCharacters += c == '\r' || c == '\n' ? '\t' : static_cast<char>(c);
        logCharacters += c < 32 && c != '\r' && c != '\n' ? std::string(1, static_cast<char>(c)) : "";
    }
    std::string typeCharacters =
        anyByte.substr(0, 12) + lineCharacters.substr(0, 28) + "waveWAVEmixerMIXER,,,,,,,,waveWAVEmixerMIXER";
    Lines sections = Fields("Main|Main.NT|Main.9x|Files|Files.NT|Files.9x|Links|Links.NT|Links.9x|main|FILES|Junk||"
                            " Main |" + std::string(40, 'S') + "|Main.NT.NT|%Main%");
    return {
        {"setup.ini", scripts, anyByte, sections, 0x2545F491u, 5000, true, LoadScript,
         {{"DefaultInstallDir=@", 255}, {"app.exe=@", 259}}},  // a Main value; an entry's value, a path
        {"install.log", {log}, logCharacters, {}, 0x9E3779B9u, 5000, false, Replay, {}},
        {"driver line",
         {{"wavedrv=1:sampledrv.dll,wave,\"Sample Wave Device\""},
          {"\"key one\" = 2 : \"drv file.dll\" , \"wave,mixer\" , \"Desc, with comma\",,"},
          {"mixdrv=1:mix.drv,mixer,Mixer Device,"}, {"  k=d:f,t,\"\""}},
         lineCharacters + ":,,,\"\"", {}, 0x2545F491u, 10000, true, ParseLine, {}},
        {"type text", {{"wave"}, {"mixer"}, {"wave,mixer"}, {"mixer,wave,"}, {"WAVE"}, {""}}, typeCharacters, {},
         0x2545F491u, 10000, true, ParseTypes, {}},
        {"log line", {{""}}, "", {}, 1, 0, true, AddLogLine,
         {{"@", LogLineLimit}, {"CreateFile @", LogLineLimit - 11}}},
        // The script of a working directory; a file of the installation directory.
        {"path", {{""}}, "", {}, 1, 0, true, Bounded<PathBufferSize, true>,
         {{"@|setup.ini", PathBufferSize - 1 - 10}, {"C:\\Product|@", PathBufferSize - 1 - 11}}},
        {"event argument", {{""}}, "", {}, 1, 0, true, Bounded<64, false>, {{"AppName @", 63}}},
        // In "Installing <name> device driver...".
        {"device name", {{""}}, "", {}, 1, 0, true, DeviceName, {{"@", 227}}},
    };
}

// `line` with `run` for its '@'; in a many-line input it replaces the lines
// of `valid` that start like it.
std::string LongInput(const Lines& valid, std::string line, const std::string& run) {
    std::string start = line.substr(0, line.find('@')), text;
    line.replace(start.size(), 1, run);
    for (size_t i = 0; i < valid.size() && valid.size() > 1; i++)
        text += (valid[i].rfind(start, 0) == 0 ? line : valid[i]) + "\r\n";
    return valid.size() == 1 ? line : text;
}

// One loop over every kind of input, every mutation of it and every
// over-long input of it: at the limit, one beyond and four times it.
TEST(Reliability, MutatedAndOverLongInputs) {
    Scratch = (fs::temp_directory_path() / ("reliability" + std::to_string(GetCurrentProcessId()))).string();
    Area = Scratch + "\\area";
    TestKey = "Software\\SetupReliabilityTest" + std::to_string(GetCurrentProcessId());
    fs::create_directories(Scratch + "\\beside");
    std::ofstream(Scratch + "\\beside\\keep.txt") << "outside the replayed area";
    ::Setup.WorkDir = &Scratch[0];
    ::Setup.FileTable = Files;
    ::Setup.LinkTable = Links;
    memset(Files, Guard, sizeof Files);
    memset(Links, Guard, sizeof Links);
    for (const Kind& kind : Kinds()) {
        State = kind.Seed;
        int accepted = 0;
        for (size_t i = 0; i < kind.Count + 3 * kind.Long.size(); i++) {
            std::string input, run;
            size_t limit = 0, longRow = i - kind.Count;
            if (i < (size_t)kind.Count) {
                input = Mutate(kind.Valid[i % kind.Valid.size()], kind);
            } else {
                limit = kind.Long[longRow / 3].second;
                for (size_t n = longRow % 3 == 0 ? limit : longRow % 3 == 1 ? limit + 1 : limit * 4; n > 0; n--)
                    run += static_cast<char>('a' + Below(26));
                input = LongInput(kind.Valid.back(), kind.Long[longRow / 3].first, run);
            }
            BoxRecorder boxes;
            Outcome outcome = kind.Run(input, (int)i);
            std::string what = std::string(kind.Name) + " case " + std::to_string(i) + ":\n" + input;
            ASSERT_EQ(ForeignBoxes(), "") << what;
            ASSERT_EQ(outcome.Fault, "") << what;
            ASSERT_TRUE(!kind.OneReport || boxes.Boxes.size() == (outcome.Accepted ? 0u : 1u)) << what;
            ASSERT_TRUE(run.empty() || outcome.Accepted == (run.size() <= limit)) << what;
            ASSERT_TRUE(!outcome.Accepted || outcome.Kept.find(run) != std::string::npos) << what;
            accepted += outcome.Accepted && i < (size_t)kind.Count;
        }
        // The mutations reach both the acceptance and the refusal.
        EXPECT_TRUE(kind.Count == 0 || (accepted > 0 && accepted < kind.Count)) << kind.Name;
    }
    EXPECT_EQ(Replay("", 5000).Fault, "");  // the last batch outside the area
    for (const char* key : {"\\k0\\k1", "\\k0", ""})
        RegDeleteKeyA(HKEY_CURRENT_USER, (TestKey + key).c_str());
    fs::remove_all(Scratch);
}

}  // namespace
