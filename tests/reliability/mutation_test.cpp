// Mutated inputs by the ten thousand: setup scripts, installation logs,
// driver lines and type texts. Each case ends without a crash or a hang, and
// every message shown is one of the program's own texts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/messages.h"
#include "common/setup_state.h"
#include "device/device_types.h"
#include "log/replay.h"
#include "reliability/mutation.h"
#include "reliability/program_texts.h"
#include "script/script.h"
#include "support/prefix.h"
#include "support/loaded_script.h"
#include "support/responder.h"

namespace {

const int CaseCount = 10000;
const uint32_t FixedStart = 0x2545F491u;

// Every byte but NUL: a script may hold anything a file can.
std::string AllCharacters() {
    std::string characters = "%=,\" \t%=,\" \t";
    for (int c = 1; c < 256; c++)
        characters += static_cast<char>(c);
    return characters;
}

std::vector<std::string> ValidScript() {
    return {"[Main]",
            "AppName=Sample Product",
            "AppVersion=1.0",
            "DefaultProgramGroup=Sample Product",
            "DefaultInstallDir=%ProgramFilesDir%\\Sample Product",
            "StartMenuFolder=%CommonProgramsFolder%",
            "DeviceName=Sample Wave Device",
            "DeviceInfFile=sample.inf",
            "[Main.NT]",
            "ReadmeFile=readme.txt",
            "[Main.9x]",
            "LicenseFile=license.txt",
            "[Files]",
            "app.exe=%InstallDir%",
            "readme.txt=%InstallDir% , docs",
            "[Files.NT]",
            "drv.sys=%WindowsDir%\\system32",
            "[Files.9x]",
            "drv.vxd=%WindowsDir%\\system",
            "[Links]",
            "Sample=%InstallDir%\\app.exe, -a, -b",
            "[Links.9x]",
            "Readme=%InstallDir%\\readme.txt"};
}

bool WriteBytes(const std::string& path, const std::string& bytes, const FILETIME* stamp) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool done = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                written == bytes.size() && (!stamp || SetFileTime(file, nullptr, nullptr, stamp));
    CloseHandle(file);
    return done;
}

// Records past the tables' room, filled with a pattern that no load writes.
const int GuardRecords = 4;
const unsigned char GuardByte = 0xA5;

class ScriptMutationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch_.Path().empty());
        workDir_ = scratch_.Path();
        memset(files_, GuardByte, sizeof files_);
        memset(links_, GuardByte, sizeof links_);
        ::Setup.WorkDir = &workDir_[0];
        ::Setup.FileTable = files_;
        ::Setup.LinkTable = links_;
        ::Setup.FileCount = 0;
        ::Setup.LinkCount = 0;
    }
    void TearDown() override {
        Release();
        ::Setup.WorkDir = nullptr;
        ::Setup.FileTable = nullptr;
        ::Setup.LinkTable = nullptr;
        ::Setup.IsWindowsNT = FALSE;
    }

    void Release() {
        ReleaseLoadedScript(files_, links_);
    }

    static bool GuardsIntact(const EntryRecord* table, int room) {
        const unsigned char* guard = reinterpret_cast<const unsigned char*>(table + room);
        for (size_t i = 0; i < GuardRecords * sizeof(EntryRecord); i++) {
            if (guard[i] != GuardByte)
                return false;
        }
        return true;
    }

    fixture::ScratchDir scratch_;
    std::string workDir_;
    EntryRecord files_[FileTableRoom + GuardRecords];
    EntryRecord links_[LinkTableRoom + GuardRecords];
};

TEST_F(ScriptMutationTest, MutatedScriptsLoadOrFailWithTheProgramsTexts) {
    MutationAlphabet alphabet{AllCharacters(),
                              {"Main", "Main.NT", "Main.9x", "Files", "Files.NT", "Files.9x", "Links", "Links.NT",
                               "Links.9x", "main", "FILES", "Junk", "", " Main ", std::string(40, 'S'),
                               "Main.NT.NT", "%Main%"}};
    std::vector<std::string> valid = ValidScript();
    // A section of 120 keys now and then, beyond the limit of 100 entries.
    std::vector<std::string> many = valid;
    many.push_back("[Links.NT]");
    for (int i = 0; i < 120; i++)
        many.push_back("link" + std::to_string(i) + "=target" + std::to_string(i));
    std::string path = fixture::JoinPath(workDir_, "setup.ini");
    FixedRandom random(FixedStart);
    // Each script has a time stamp of its own, so the profile service never
    // answers from the previous one.
    ULARGE_INTEGER stamp;
    stamp.QuadPart = 130000000000000000ull;
    int loaded = 0;
    for (int i = 0; i < CaseCount; i++) {
        std::string text = Mutate(i % 50 == 0 ? many : valid, alphabet, random);
        stamp.QuadPart += 20000000ull;
        FILETIME time = {stamp.LowPart, stamp.HighPart};
        ASSERT_TRUE(WriteBytes(path, text, &time)) << path;
        Release();
        ::Setup.IsWindowsNT = i % 2 == 0;
        bool result;
        {
            ScriptedResponder responder;
            result = LoadSetupScript();
            ASSERT_EQ(ForeignTexts(responder.Boxes()), "") << "case " << i << ":\n" << text;
            // A failed load says why; a good one says nothing.
            ASSERT_EQ(responder.Boxes().size(), result ? 0u : 1u) << "case " << i << ":\n" << text;
        }
        ASSERT_TRUE(GuardsIntact(files_, FileTableRoom) && GuardsIntact(links_, LinkTableRoom)) << "case " << i;
        ASSERT_LE(::Setup.FileCount, ScriptEntryLimit);
        ASSERT_LE(::Setup.LinkCount, ScriptEntryLimit);
        if (result) {
            loaded++;
            for (const ScriptKeyDef* key = MainKeyTable; key->Name; key++) {
                const char* value = ::Setup.*(key->Field);
                ASSERT_TRUE(!key->Required || value) << key->Name << " in case " << i;
                ASSERT_TRUE(!value || (value[0] && lstrlenA(value) <= 255)) << key->Name << " in case " << i;
            }
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
    FixedRandom random(FixedStart);
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
        for (size_t g = line.size() + 1; g < buffer.size(); g++)
            ASSERT_EQ(static_cast<unsigned char>(buffer[g]), GuardByte) << line;
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

}  // namespace
