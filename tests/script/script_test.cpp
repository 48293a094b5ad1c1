// The setup script loader on real setup.ini files, read through the profile
// service.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/messages.h"
#include "common/setup_state.h"
#include "script/script.h"
#include "support/loaded_script.h"
#include "support/prefix.h"
#include "support/responder.h"

namespace {

const char MinimalMain[] =
    "[Main]\n"
    "AppName=Sample Product\n"
    "AppVersion=1.0\n"
    "DefaultProgramGroup=Sample Product\n"
    "DefaultInstallDir=%ProgramFilesDir%\\Sample Product\n"
    "StartMenuFolder=%CommonProgramsFolder%\n";

// "<prefix>NNN", the name of key number i.
std::string KeyName(const std::string& prefix, int i) {
    return prefix + std::to_string(1000 + i).substr(1);
}

// A section of `count` keys "<prefix>NNN" with the value "dir<prefix>NNN".
std::string EntrySection(const std::string& name, int count, const std::string& prefix) {
    std::string text = "[" + name + "]\n";
    for (int i = 0; i < count; i++)
        text += KeyName(prefix, i) + "=dir" + KeyName(prefix, i) + "\n";
    return text;
}

void ExpectOneError(const ScriptedResponder& responder, const std::string& text) {
    ASSERT_EQ(responder.Boxes().size(), 1u) << text;
    EXPECT_EQ(responder.Boxes()[0].Text, text);
    EXPECT_EQ(responder.Boxes()[0].Title, "Setup");
    EXPECT_EQ(responder.Boxes()[0].Type, static_cast<UINT>(MB_ICONERROR));
}

class ScriptTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch_.Path().empty());
        NewWorkDir();
        ::Setup.IsWindowsNT = TRUE;
        UseEntryTables(files_, links_);
    }
    void TearDown() override {
        FinishWithScript(files_, links_);
    }

    // Every script gets a folder of its own: the profile service caches a
    // file by name and time stamp, and two scripts written within one tick of
    // the file system's clock would look the same to it.
    void NewWorkDir() {
        workDir_ = scratch_.Join(std::to_string(++workDirCount_));
        ASSERT_TRUE(CreateDirectoryA(workDir_.c_str(), nullptr)) << workDir_;
    }

    std::string ScriptPath() const { return workDir_ + "\\setup.ini"; }

    // Writes setup.ini with CR LF line ends into a new work folder.
    void WriteScript(const std::string& text) {
        NewWorkDir();
        std::string crlf;
        for (char c : text)
            crlf += c == '\n' ? "\r\n" : std::string(1, c);
        ASSERT_TRUE(fixture::WriteTextFile(ScriptPath(), crlf));
    }

    // Frees what the last load stored and loads the last script written on
    // the given family.
    bool Load(bool windowsNT) {
        ReleaseLoadedScript(files_, links_);
        ::Setup.IsWindowsNT = windowsNT;
        ::Setup.WorkDir = &workDir_[0];
        return LoadSetupScript();
    }

    fixture::ScratchDir scratch_;
    std::string workDir_;
    int workDirCount_ = 0;
    EntryRecord files_[FileTableRoom];
    EntryRecord links_[LinkTableRoom];
};

void ExpectEntry(const EntryRecord& entry, const char* first, const char* second, const char* third) {
    EXPECT_STREQ(entry.First, first);
    EXPECT_STREQ(entry.Second, second);
    EXPECT_STREQ(entry.Third, third);
}

// The running family's twin gives StartMenuFolder; absent keys stay null. On
// 9x the device type text is "?", device or not; on NT the driver
// registration sets it later.
TEST_F(ScriptTest, LoadsTheSampleScriptOnEitherFamily) {
    const struct {
        bool WindowsNT;
        bool Device;
        const char* StartMenuFolder;
        const char* DeviceTypeText;
    } cases[] = {{true, true, "%CommonProgramsFolder%", nullptr},
                 {false, true, "%LocalProgramsFolder%", "?"},
                 {false, false, "%LocalProgramsFolder%", "?"}};
    for (const auto& c : cases) {
        WriteScript(std::string("[Main]\n"
                                "AppName=Sample Product\n"
                                "AppVersion=1.0\n"
                                "DefaultProgramGroup=Sample Product\n"
                                "DefaultInstallDir=%ProgramFilesDir%\\Sample Product\n") +
                    (c.Device ? "DeviceName=Wave Device\nDeviceInfFile=wave.inf\n" : "") +
                    "[Main.NT]\n"
                    "StartMenuFolder=%CommonProgramsFolder%\n"
                    "[Main.9x]\n"
                    "StartMenuFolder=%LocalProgramsFolder%\n"
                    "[Files]\n"
                    "sample.exe=%InstallDir%\n"
                    "license.txt=%InstallDir%, D:\\Extras\n"
                    "[Links]\n"
                    "Sample Product=%InstallDir%\\sample.exe, -start\n");
        SCOPED_TRACE(std::string(c.WindowsNT ? "NT" : "9x") + (c.Device ? " with device" : ""));
        ScriptedResponder responder;
        ASSERT_TRUE(Load(c.WindowsNT));
        EXPECT_TRUE(responder.Boxes().empty());
        EXPECT_STREQ(::Setup.AppName, "Sample Product");
        EXPECT_STREQ(::Setup.AppVersion, "1.0");
        EXPECT_STREQ(::Setup.DefaultProgramGroup, "Sample Product");
        EXPECT_STREQ(::Setup.DefaultInstallDir, "%ProgramFilesDir%\\Sample Product");
        EXPECT_STREQ(::Setup.StartMenuFolder, c.StartMenuFolder);
        EXPECT_STREQ(::Setup.DeviceName, c.Device ? "Wave Device" : nullptr);
        EXPECT_STREQ(::Setup.DeviceInfFile, c.Device ? "wave.inf" : nullptr);
        EXPECT_STREQ(::Setup.DeviceTypeText, c.DeviceTypeText);
        for (const char* absent : {::Setup.ReadmeFile, ::Setup.LicenseFile, ::Setup.FlushCommand})
            EXPECT_EQ(absent, nullptr);
        ASSERT_EQ(::Setup.FileCount, 2);
        ExpectEntry(files_[0], "sample.exe", "%InstallDir%", "");
        ExpectEntry(files_[1], "license.txt", "%InstallDir%", "D:\\Extras");
        ASSERT_EQ(::Setup.LinkCount, 1);
        ExpectEntry(links_[0], "Sample Product", "%InstallDir%\\sample.exe", "-start");
    }
}

TEST_F(ScriptTest, TwinOfTheOtherFamilyIsNeverRead) {
    // Each family's twin holds a duplicate AppName and one file; only the
    // running family's twin may be seen.
    WriteScript(std::string(MinimalMain) +
                "[Main.NT]\nAppName=NT Name\n[Main.9x]\nReadmeFile=readme9x.txt\n"
                "[Files.NT]\nnt.dll=%WindowsDir%\n[Files.9x]\nwin9x.dll=%WindowsDir%\n" +
                EntrySection("Links.9x", 150, "link"));
    {
        ScriptedResponder responder;
        EXPECT_FALSE(Load(true));
        ExpectOneError(responder, "Duplicate key AppName");
    }
    {
        ScriptedResponder responder;
        ASSERT_FALSE(Load(false));
        ExpectOneError(responder, "Links.9x section has more than 100 entries");
        EXPECT_STREQ(::Setup.AppName, "Sample Product");
        EXPECT_STREQ(::Setup.ReadmeFile, "readme9x.txt");
        ASSERT_EQ(::Setup.FileCount, 1);
        EXPECT_STREQ(files_[0].First, "win9x.dll");
    }
    WriteScript(std::string(MinimalMain) + "[Main.9x]\nAppName=9x Name\n[Files.9x]\nwin9x.dll=%WindowsDir%\n" +
                "[Files.NT]\nnt.dll=%WindowsDir%\n");
    ScriptedResponder responder;
    ASSERT_TRUE(Load(true));
    EXPECT_TRUE(responder.Boxes().empty());
    EXPECT_STREQ(::Setup.AppName, "Sample Product");
    ASSERT_EQ(::Setup.FileCount, 1);
    EXPECT_STREQ(files_[0].First, "nt.dll");
}

// A Main key takes a non-empty value from Main or from its twin, not from
// both; then the first required key without a value is named.
TEST_F(ScriptTest, MainKeysComeFromMainOrItsTwinOnce) {
    const std::string rest = "AppVersion=1\nDefaultProgramGroup=G\nDefaultInstallDir=D\nStartMenuFolder=S\n";
    struct Case {
        std::string Script;
        std::string Error;    // empty: loads
        const char* AppName;  // after a load
    };
    std::vector<Case> cases = {
        {"[Main]\nAppName=Base\n" + rest + "[Main.NT]\nAppName=Twin\n", "Duplicate key AppName", nullptr},
        {"[Main]\nAppName=\n" + rest + "[Main.NT]\nAppName=Twin\n", "", "Twin"},
        {"[Main]\nAppName=Base\n" + rest + "[Main.NT]\nAppName=\n", "", "Base"},
        {"[Main]\nAppName=Base\nLicenseFile=a.txt\n" + rest + "[Main.NT]\nAppName=\nLicenseFile=b.txt\n",
         "Duplicate key LicenseFile", nullptr},
        // Twice in one section: the profile service gives the first value.
        {"[Main]\nAppName=Base\nAppName=Again\n" + rest, "", "Base"},
        // No Main at all: only the first is named.
        {"[Files]\na.txt=dir\n", "Key AppName must be present", nullptr},
        {"[Main]\nAppName=A\nAppVersion=\nDefaultProgramGroup=G\nDefaultInstallDir=D\nStartMenuFolder=S\n"
         "[Main.NT]\nAppVersion=\n",
         "Key AppVersion must be present", nullptr},
        // A value beginning with character 26 cannot be told from an absent
        // key. Quoted, since Wine's profile service trims a bare character 26
        // as a blank.
        {"[Main]\nAppName=\"\x1A" "Product\"\n" + rest, "Key AppName must be present", nullptr},
    };
    const char* required[] = {"AppName", "AppVersion", "DefaultProgramGroup", "DefaultInstallDir",
                              "StartMenuFolder"};
    for (const char* key : required) {
        std::string main = "[Main]\n";
        for (const char* other : required) {
            if (other != key)
                main += std::string(other) + "=value\n";
        }
        cases.push_back({main, "Key " + std::string(key) + " must be present", nullptr});
    }
    for (const Case& c : cases) {
        WriteScript(c.Script);
        ScriptedResponder responder;
        bool loaded = Load(true);
        EXPECT_EQ(loaded, c.Error.empty()) << c.Script;
        if (!loaded) {
            ExpectOneError(responder, c.Error);
            continue;
        }
        EXPECT_TRUE(responder.Boxes().empty());
        EXPECT_STREQ(::Setup.AppName, c.AppName);
    }
}

TEST_F(ScriptTest, ReadScriptValueTellsAbsentFromEmpty) {
    WriteScript("[Main]\nEmpty=\nValue=Some text\nQuoted=\"quoted text\"\nMarker=\"\x1Atext\"\n"
                "Inner=a\x1A" "b\n");
    const struct {
        const char* Key;
        int Result;
        const char* Text;
    } cases[] = {
        {"Missing", -1, ""}, {"Empty", 0, ""},    {"Value", 9, "Some text"}, {"Quoted", 11, "quoted text"},
        {"Marker", -1, ""},  {"Inner", 3, "a\x1A" "b"},
    };
    for (const auto& c : cases) {
        char buffer[64];
        lstrcpyA(buffer, "untouched");
        EXPECT_EQ(ReadScriptValue(ScriptPath().c_str(), "Main", c.Key, buffer, sizeof buffer), c.Result) << c.Key;
        EXPECT_STREQ(buffer, c.Text) << c.Key;
    }
}

TEST_F(ScriptTest, BaseSectionAndTwinShareOneLimitOf100) {
    const struct {
        bool WindowsNT;
        const char* Section;  // Files or Links
        int BaseKeys;
        int TwinKeys;  // -1: no twin section; 0: a twin section without keys
        const char* Error;
    } cases[] = {
        {true, "Files", 100, -1, nullptr},
        {true, "Files", 101, -1, "Files section has more than 100 entries"},
        {true, "Files", 60, 40, nullptr},
        {true, "Files", 60, 41, "Files.NT section has more than 40 entries"},
        {true, "Files", 0, 101, "Files.NT section has more than 100 entries"},
        {true, "Files", 100, 1, "Files.NT section has more than 0 entries"},
        {true, "Files", 100, 0, nullptr},
        {false, "Files", 100, 1, "Files.9x section has more than 0 entries"},
        {false, "Links", 99, 1, nullptr},
        {false, "Links", 99, 2, "Links.9x section has more than 1 entries"},
    };
    for (const auto& c : cases) {
        std::string twin = std::string(c.Section) + (c.WindowsNT ? ".NT" : ".9x");
        std::string script = std::string(MinimalMain) + EntrySection(c.Section, c.BaseKeys, "base");
        if (c.TwinKeys >= 0)
            script += EntrySection(twin, c.TwinKeys, "twin");
        WriteScript(script);
        ScriptedResponder responder;
        bool loaded = Load(c.WindowsNT);
        std::string label = twin + " " + std::to_string(c.BaseKeys) + "+" + std::to_string(c.TwinKeys);
        if (c.Error) {
            EXPECT_FALSE(loaded) << label;
            ExpectOneError(responder, c.Error);
            continue;
        }
        ASSERT_TRUE(loaded) << label;
        EXPECT_TRUE(responder.Boxes().empty());
        bool files = std::string(c.Section) == "Files";
        int count = files ? ::Setup.FileCount : ::Setup.LinkCount;
        EntryRecord* table = files ? files_ : links_;
        int twinKeys = c.TwinKeys > 0 ? c.TwinKeys : 0;
        ASSERT_EQ(count, c.BaseKeys + twinKeys) << label;
        // The base section fills the table from its start, the twin behind it.
        EXPECT_STREQ(table[0].First, "base000");
        EXPECT_EQ(table[c.BaseKeys - 1].Second, "dir" + KeyName("base", c.BaseKeys - 1));
        if (twinKeys > 0) {
            EXPECT_STREQ(table[c.BaseKeys].First, "twin000");
        }
    }
}

TEST_F(ScriptTest, LongKeyNamesAreAllSeenWhole) {
    // 100 names of 70 characters are more than the first key list holds; no
    // name may be missed or cut. With no room left, one long name in the twin
    // still shows the twin has an entry too many.
    std::string script = std::string(MinimalMain) + "[Files]\n";
    for (int i = 0; i < 100; i++)
        script += std::string(64, 'k') + std::to_string(100000 + i) + "=dir\n";
    WriteScript(script);
    {
        ScriptedResponder responder;
        ASSERT_TRUE(Load(true));
        EXPECT_TRUE(responder.Boxes().empty());
        ASSERT_EQ(::Setup.FileCount, 100);
        EXPECT_EQ(std::string(files_[99].First), std::string(64, 'k') + "100099");
        EXPECT_STREQ(files_[99].Second, "dir");
    }
    WriteScript(script + "[Files.NT]\n" + std::string(200, 't') + "=dir\n");
    ScriptedResponder responder;
    EXPECT_FALSE(Load(true));
    ExpectOneError(responder, "Files.NT section has more than 0 entries");
}

TEST_F(ScriptTest, EntryValueIsSplitAtItsFirstComma) {
    const struct {
        const char* Value;
        const char* Second;
        const char* Third;
    } cases[] = {
        {"%InstallDir% , docs", "%InstallDir% ", "docs"},
        {"C:\\Tools\\tool.exe, -a, -b", "C:\\Tools\\tool.exe", "-a, -b"},
        {"", "", ""},
        {"%InstallDir%", "%InstallDir%", ""},
        {"dir,\t \tdocs", "dir", "docs"},
        {",source", "", "source"},
        {"dir,", "dir", ""},
        {"dir,,x", "dir", ",x"},
    };
    std::string script = std::string(MinimalMain) + "[Links]\n";
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++)
        script += "key" + std::to_string(i) + "=" + cases[i].Value + "\n";
    WriteScript(script);
    ScriptedResponder responder;
    ASSERT_TRUE(Load(true));
    ASSERT_EQ(::Setup.LinkCount, static_cast<int>(sizeof cases / sizeof cases[0]));
    for (int i = 0; i < ::Setup.LinkCount; i++) {
        EXPECT_EQ(links_[i].First, "key" + std::to_string(i));
        EXPECT_STREQ(links_[i].Second, cases[i].Second) << cases[i].Value;
        EXPECT_STREQ(links_[i].Third, cases[i].Third) << cases[i].Value;
    }
}

// A script that is missing, or held open by another program, is refused
// with the system's reason before anything is read.
TEST_F(ScriptTest, ScriptThatCannotBeOpenedExclusivelyFails) {
    for (bool held : {false, true}) {
        HANDLE holder = INVALID_HANDLE_VALUE;
        if (held) {
            WriteScript(MinimalMain);
            holder = CreateFileA(ScriptPath().c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
            ASSERT_NE(holder, INVALID_HANDLE_VALUE);
        }
        ScriptedResponder responder;
        EXPECT_FALSE(Load(true));
        if (held)
            CloseHandle(holder);
        ASSERT_EQ(responder.Boxes().size(), 1u);
        const std::string& text = responder.Boxes()[0].Text;
        EXPECT_EQ(text.rfind("Cannot open file " + ScriptPath() + (held ? " (0/32 - " : " (0/2 - "), 0), 0u) << text;
        EXPECT_EQ(text.back(), ')');
        EXPECT_EQ(::Setup.AppName, nullptr);
    }
}

TEST_F(ScriptTest, TwinNameMustFitItsBuffer) {
    WriteScript("[SixteenCharsName]\na=b\n[SixteenCharsName.NT]\nc=d\n");
    int count = 0;
    ScriptedResponder responder;
    ASSERT_TRUE(LoadEntrySections(ScriptPath().c_str(), "SixteenCharsName", files_, &count));
    ::Setup.FileCount = count;  // freed by the fixture
    EXPECT_EQ(count, 2);
    EXPECT_FALSE(LoadEntrySections(ScriptPath().c_str(), "SeventeenCharName", links_, &count));
    ExpectOneError(responder, "Section name SeventeenCharName is too long");
}

}  // namespace
