// Mutated inputs by the ten thousand: setup scripts, driver lines and type
// texts, and installation logs replayed under the mask of all events. Each
// case ends without a crash or a hang, every message shown is one of the
// program's own texts, and a replay changes nothing outside its scratch area.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/setup_state.h"
#include "device/device_types.h"
#include "log/replay.h"
#include "reliability/program_texts.h"
#include "script/script.h"
#include "support/loaded_script.h"
#include "support/prefix.h"
#include "support/responder.h"
#include "support/restart_queue.h"

namespace {

const int CaseCount = 10000;

// xorshift32 from a fixed start value: every run mutates the same way.
struct FixedRandom {
    uint32_t State;
    // 0 .. bound - 1 (bound > 0).
    size_t Below(size_t bound) {
        State ^= State << 13;
        State ^= State >> 17;
        State ^= State << 5;
        return State % bound;
    }
};

// Flips a character (2 in 5), inserts one (2 in 5) or inserts a run of 200 to
// 699 characters: beyond every buffer of the program.
void MutateCharacters(std::string& text, const std::string& characters, FixedRandom& random) {
    size_t kind = random.Below(5);
    if (kind < 2 && !text.empty())
        text[random.Below(text.size())] = characters[random.Below(characters.size())];
    else if (kind >= 2 && kind < 4)
        text.insert(random.Below(text.size() + 1), 1, characters[random.Below(characters.size())]);
    else if (kind == 4)
        text.insert(random.Below(text.size() + 1), 200 + random.Below(500), "xyzv"[random.Below(4)]);
}

// 1 to 4 mutations of the lines, joined with CR LF after: delete, duplicate
// or swap lines, mutate the characters of one (3 in 6), or insert a header of
// one of `sections` (1 in 7, none when it is empty).
std::string Mutate(std::vector<std::string> lines, const std::string& characters,
                   const std::vector<std::string>& sections, FixedRandom& random) {
    size_t mutations = 1 + random.Below(4);
    for (size_t m = 0; m < mutations && !lines.empty(); m++) {
        size_t at = random.Below(lines.size());
        size_t kind = random.Below(sections.empty() ? 6 : 7);
        if (kind == 0)
            lines.erase(lines.begin() + at);
        else if (kind == 1)
            lines.insert(lines.begin() + at, lines[at]);
        else if (kind == 2)
            std::swap(lines[at], lines[random.Below(lines.size())]);
        else if (kind < 6)
            MutateCharacters(lines[at], characters, random);
        else
            lines.insert(lines.begin() + at, "[" + sections[random.Below(sections.size())] + "]");
    }
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}

// 1 to 3 character mutations of one line.
std::string MutateLine(std::string line, const std::string& characters, FixedRandom& random) {
    size_t mutations = 1 + random.Below(3);
    for (size_t m = 0; m < mutations; m++)
        MutateCharacters(line, characters, random);
    return line;
}

// Every byte but NUL: a script may hold anything a file can.
std::string AllCharacters() {
    std::string characters = "%=,\" \t%=,\" \t";
    for (int c = 1; c < 256; c++)
        characters += static_cast<char>(c);
    return characters;
}

// Guard bytes behind what the program is given, in a pattern it never writes.
const unsigned char GuardByte = 0xA5;

bool GuardIntact(const void* guard, size_t size) {
    const unsigned char* bytes = static_cast<const unsigned char*>(guard);
    return std::all_of(bytes, bytes + size, [](unsigned char byte) { return byte == GuardByte; });
}

// Each script gets a time stamp of its own, so that the profile service never
// answers from the previous one.
bool WriteStamped(const std::string& path, const std::string& bytes, ULONGLONG stamp) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    FILETIME time = {static_cast<DWORD>(stamp), static_cast<DWORD>(stamp >> 32)};
    DWORD written = 0;
    bool done = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                written == bytes.size() && SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
    return done;
}

// Records past the tables' room, all guard bytes.
const int GuardRecords = 4;

class ScriptMutationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch_.Path().empty());
        workDir_ = scratch_.Path();
        memset(files_, GuardByte, sizeof files_);
        memset(links_, GuardByte, sizeof links_);
        ::Setup.WorkDir = &workDir_[0];
        UseEntryTables(files_, links_);
    }
    void TearDown() override {
        FinishWithScript(files_, links_);
        ::Setup.IsWindowsNT = FALSE;
    }

    fixture::ScratchDir scratch_;
    std::string workDir_;
    EntryRecord files_[FileTableRoom + GuardRecords];
    EntryRecord links_[LinkTableRoom + GuardRecords];
};

TEST_F(ScriptMutationTest, MutatedScriptsLoadOrFailWithTheProgramsTexts) {
    const std::vector<std::string> sections = {"Main",  "Main.NT", "Main.9x", "Files", "Files.NT", "Files.9x",
                                               "Links", "Links.NT", "Links.9x", "main", "FILES", "Junk", "",
                                               " Main ", std::string(40, 'S'), "Main.NT.NT", "%Main%"};
    const std::vector<std::string> valid = {
        "[Main]", "AppName=Sample Product", "AppVersion=1.0", "DefaultProgramGroup=Sample Product",
        "DefaultInstallDir=%ProgramFilesDir%\\Sample Product", "StartMenuFolder=%CommonProgramsFolder%",
        "DeviceName=Sample Wave Device", "DeviceInfFile=sample.inf",
        "[Main.NT]", "ReadmeFile=readme.txt",
        "[Main.9x]", "LicenseFile=license.txt",
        "[Files]", "app.exe=%InstallDir%", "readme.txt=%InstallDir% , docs",
        "[Files.NT]", "drv.sys=%WindowsDir%\\system32",
        "[Files.9x]", "drv.vxd=%WindowsDir%\\system",
        "[Links]", "Sample=%InstallDir%\\app.exe, -a, -b",
        "[Links.9x]", "Readme=%InstallDir%\\readme.txt"};
    // A section of 120 keys now and then, beyond the limit of 100 entries.
    std::vector<std::string> many = valid;
    many.push_back("[Links.NT]");
    for (int i = 0; i < 120; i++)
        many.push_back("link" + std::to_string(i) + "=target" + std::to_string(i));
    const std::string characters = AllCharacters();
    std::string path = fixture::JoinPath(workDir_, "setup.ini");
    FixedRandom random{0x2545F491u};
    ULONGLONG stamp = 130000000000000000ull;
    int loaded = 0;
    for (int i = 0; i < CaseCount; i++) {
        std::string text = Mutate(i % 50 == 0 ? many : valid, characters, sections, random);
        stamp += 20000000ull;
        ASSERT_TRUE(WriteStamped(path, text, stamp)) << path;
        ReleaseLoadedScript(files_, links_);
        ::Setup.IsWindowsNT = i % 2 == 0;
        ScriptedResponder responder;
        bool result = LoadSetupScript();
        ASSERT_EQ(ForeignTexts(responder.Boxes()), "") << "case " << i << ":\n" << text;
        // A failed load says why; a good one says nothing.
        ASSERT_EQ(responder.Boxes().size(), result ? 0u : 1u) << "case " << i << ":\n" << text;
        ASSERT_TRUE(GuardIntact(files_ + FileTableRoom, GuardRecords * sizeof(EntryRecord)) &&
                    GuardIntact(links_ + LinkTableRoom, GuardRecords * sizeof(EntryRecord)))
            << "case " << i;
        ASSERT_LE(::Setup.FileCount, ScriptEntryLimit);
        ASSERT_LE(::Setup.LinkCount, ScriptEntryLimit);
        if (!result)
            continue;
        loaded++;
        for (const ScriptKeyDef* key = MainKeyTable; key->Name; key++) {
            const char* value = ::Setup.*(key->Field);
            ASSERT_TRUE(!key->Required || value) << key->Name << " in case " << i;
            ASSERT_TRUE(!value || (value[0] && lstrlenA(value) <= 255)) << key->Name << " in case " << i;
        }
    }
    // The mutations leave many scripts valid and break many others.
    EXPECT_GT(loaded, CaseCount / 10);
    EXPECT_LT(loaded, CaseCount - CaseCount / 10);
}

// Driver lines and type texts go through the INF parsers.
TEST(DriverTextMutationTest, MutatedDriverLinesAndTypeTextsParseOrFailWithTheProgramsTexts) {
    const std::vector<std::string> lines = {
        "wavedrv=1:sampledrv.dll,wave,\"Sample Wave Device\"",
        "\"key one\" = 2 : \"drv file.dll\" , \"wave,mixer\" , \"Desc, with comma\",,",
        "mixdrv=1:mix.drv,mixer,Mixer Device,",
        "  k=d:f,t,\"\"",
    };
    const std::vector<std::string> types = {"wave", "mixer", "wave,mixer", "mixer,wave,", "WAVE", ""};
    std::string characters = AllCharacters() + ":,,,\"\"";
    // Type texts mostly get letters of the type names, so that many stay
    // valid ("mixer,,wave", "WAVE") and many name no type.
    std::string typeCharacters = AllCharacters().substr(0, 40) + "waveWAVEmixerMIXER,,,,,,,,waveWAVEmixerMIXER";
    FixedRandom random{0x2545F491u};
    int parsedLines = 0;
    int parsedTypes = 0;
    for (int i = 0; i < CaseCount; i++) {
        std::string line = MutateLine(lines[i % lines.size()], characters, random);
        // The parser cuts the line in place: it gets a buffer with guard
        // bytes behind the NUL.
        std::vector<char> buffer(line.begin(), line.end());
        buffer.push_back('\0');
        buffer.insert(buffer.end(), 16, static_cast<char>(GuardByte));
        const char* const begin = buffer.data();
        const char* const end = begin + line.size();
        DriverLine fields = {};
        ScriptedResponder responder;
        bool parsed = ParseDriverLine(buffer.data(), &fields);
        ASSERT_EQ(ForeignTexts(responder.Boxes()), "") << line;
        ASSERT_EQ(responder.Boxes().size(), parsed ? 0u : 1u) << line;
        ASSERT_TRUE(GuardIntact(end + 1, 16)) << line;
        if (parsed) {
            parsedLines++;
            for (const char* field : {fields.DriverKey, fields.Disk, fields.DriverFile, fields.TypeText,
                                      fields.Description})
                ASSERT_TRUE(field >= begin && field <= end) << line;
        }

        std::string typeText = MutateLine(types[i % types.size()], typeCharacters, random);
        ScriptedResponder typeResponder;
        TypeMask mask = ParseDeviceTypes(typeText.c_str());
        ASSERT_EQ(ForeignTexts(typeResponder.Boxes()), "") << typeText;
        ASSERT_EQ(typeResponder.Boxes().size(), mask ? 0u : 1u) << typeText;
        ASSERT_EQ(mask & ~3, 0) << typeText;
        if (mask)
            parsedTypes++;
    }
    EXPECT_GT(parsedLines, CaseCount / 20);
    EXPECT_GT(parsedTypes, CaseCount / 200);
}

// The sub-keys of a key, in order: a snapshot of one registry level.
std::vector<std::string> SubKeys(HKEY root, const char* path) {
    std::vector<std::string> names;
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    char name[256];
    for (DWORD i = 0;; i++) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.push_back(name);
    }
    RegCloseKey(key);
    return names;
}

// The files and folders of the temp folder outside the scratch folder, with
// sizes and contents.
std::string OutsideScratch(const std::string& tempDir, const std::string& scratchName) {
    std::string text;
    fixture::TreeSnapshot snapshot = fixture::TreeSnapshot::Take(tempDir);
    for (const fixture::TreeEntry& entry : snapshot.Entries()) {
        if (entry.RelativePath != scratchName && entry.RelativePath.rfind(scratchName + "\\", 0) != 0)
            text += entry.RelativePath + " " + std::to_string(entry.Size) + " " + std::to_string(entry.Hash) + "\n";
    }
    return text;
}

// The logs name only paths inside a scratch area, paths that do not exist
// and keys under a throwaway registry key; nothing else may change.
class ReplayMutationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::Setup.IsWindowsNT = TRUE;
        ::Setup.RestartNeeded = FALSE;
        ASSERT_FALSE(scratch_.Path().empty());
        area_ = scratch_.Join("area");
        testKey_ = "Software\\SetupReliabilityTest" + std::to_string(GetCurrentProcessId());
        ASSERT_TRUE(scratch_.Write("beside\\keep.txt", "outside the replayed area"));
    }
    void TearDown() override {
        RegDeleteKeyA(HKEY_CURRENT_USER, (testKey_ + "\\k0\\k1").c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, (testKey_ + "\\k0").c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, testKey_.c_str());
        ::Setup.RestartNeeded = FALSE;
    }

    // The folders, files and keys that the valid log names, made anew.
    void MakeLoggedThings() {
        CreateDirectoryA(area_.c_str(), nullptr);
        CreateDirectoryA((area_ + "\\d0").c_str(), nullptr);
        CreateDirectoryA((area_ + "\\d0\\d1").c_str(), nullptr);
        for (const char* file : {"\\d0\\f0.txt", "\\d0\\f1.txt", "\\d0\\d1\\f2.txt"})
            ASSERT_TRUE(fixture::WriteTextFile(area_ + file, "x"));
        HKEY key;
        ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, (testKey_ + "\\k0\\k1").c_str(), &key), ERROR_SUCCESS);
        RegCloseKey(key);
    }

    fixture::ScratchDir scratch_;
    std::string area_;
    std::string testKey_;
};

TEST_F(ReplayMutationTest, MutatedLogsReplayOnlyInsideTheScratchArea) {
    char temp[MAX_PATH];
    ASSERT_NE(GetTempPathA(sizeof temp, temp), 0u);
    std::string scratchName = scratch_.Path().substr(scratch_.Path().find_last_of('\\') + 1);
    std::string keyPath = "HKCU\\" + testKey_;
    const std::vector<std::string> valid = {
        "; Installation log", ";", "AppName Sample Product",
        "CreateDir " + area_ + "\\d0", "CreateFile " + area_ + "\\d0\\f0.txt", "CreateFile " + area_ + "\\d0\\f1.txt",
        "CreateDir " + area_ + "\\d0\\d1", "CreateFile " + area_ + "\\d0\\d1\\f2.txt",
        "CreateKey " + keyPath + "\\k0", "CreateKey " + keyPath + "\\k0\\k1", "CreateValue " + keyPath + "\\k0 Value",
        "CreateDir C:\\setup_reliability_missing", "CreateFile C:\\setup_reliability_missing\\gone.txt",
        "CreateFile " + area_ + "\\missing\\gone.txt", ""};
    // Control characters other than CR and LF and the marks of the other
    // texts: a log line never gets a line end put into it, so no path is
    // ever cut to a folder above the scratch area.
    std::string characters = "%=,\" \tabcXYZ019;";
    for (char c = 1; c < 32; c++) {
        if (c != '\r' && c != '\n')
            characters += c;
    }
    FixedRandom random{0x9E3779B9u};
    int failed = 0;
    int undone = 0;
    // The throwaway key is there from the start: it is part of the "before".
    MakeLoggedThings();
    const int batchSize = 1000;
    for (int batch = 0; batch < CaseCount / batchSize; batch++) {
        std::string outsideBefore = OutsideScratch(temp, scratchName);
        fixture::TreeSnapshot besideBefore = fixture::TreeSnapshot::Take(scratch_.Join("beside"));
        std::vector<std::string> softwareBefore = SubKeys(HKEY_CURRENT_USER, "Software");
        // The queue of deletions at restart, which an answered file-in-use
        // question would extend.
        std::vector<std::string> pendingBefore = restart_queue::PendingOperations();
        for (int i = batch * batchSize; i < (batch + 1) * batchSize; i++) {
            MakeLoggedThings();
            std::string text = Mutate(valid, characters, {}, random);
            std::vector<char> buffer(text.begin(), text.end());
            buffer.push_back('\0');
            ScriptedResponder responder;
            if (!ReplayLog(buffer.data(), AllEvents))
                failed++;
            ASSERT_EQ(ForeignTexts(responder.Boxes()), "") << "case " << i << ":\n" << text;
            ASSERT_EQ(buffer[0], '\0') << "case " << i;  // the text is consumed
            ASSERT_FALSE(::Setup.RestartNeeded) << "case " << i << ":\n" << text;
            if (GetFileAttributesA((area_ + "\\d0\\f0.txt").c_str()) == INVALID_FILE_ATTRIBUTES)
                undone++;
        }
        ASSERT_EQ(OutsideScratch(temp, scratchName), outsideBefore) << "batch " << batch;
        ASSERT_TRUE(fixture::SameTree(besideBefore, fixture::TreeSnapshot::Take(scratch_.Join("beside"))));
        ASSERT_EQ(SubKeys(HKEY_CURRENT_USER, "Software"), softwareBefore) << "batch " << batch;
        ASSERT_EQ(restart_queue::PendingOperations(), pendingBefore) << "batch " << batch;
    }
    // Unknown event words (a mutated word, CreateValue) fail the replay; the
    // valid words do not.
    EXPECT_GT(failed, 0);
    EXPECT_LT(failed, CaseCount);
    // Most logs still name the logged file and delete it.
    EXPECT_GT(undone, CaseCount / 2);
}

}  // namespace
