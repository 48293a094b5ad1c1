// The in-memory installation log, install.log, the argument search and the
// whole-file routines, on real files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/messages.h"
#include "common/setup_state.h"
#include "log/install_log.h"
#include "support/prefix.h"
#include "support/responder.h"

namespace {

const char Header[] =
    ";\r\n; Caution!\r\n; Do not delete or modify this file. It is required to product uninstallation.\r\n;\r\n";

// Each test starts with an empty log and no install.log logged yet.
class InstallLogTest : public ::testing::Test {
protected:
    void SetUp() override { ResetLog(); }
    void TearDown() override {
        ResetLog();
        FreeBlock(::Setup.InstallDir);
        ::Setup.InstallDir = nullptr;
    }
    static void ResetLog() {
        FreeBlock(::Setup.InstallLog.Text);
        ::Setup.InstallLog = InstallLogText{nullptr, 0, 0};
        ::Setup.LogFileLogged = FALSE;
    }
    static std::string LogText() {
        return std::string(::Setup.InstallLog.Text, ::Setup.InstallLog.Length);
    }
    static void SetInstallDir(const std::string& path) {
        FreeBlock(::Setup.InstallDir);
        ::Setup.InstallDir = DuplicateString(path.c_str());
    }
};

TEST_F(InstallLogTest, HeaderAndAppNameLineAreExact) {
    ASSERT_TRUE(AppendLogLine(Header));
    ASSERT_TRUE(LogEvent(AppNameEvent, "%s", "Sample Product"));
    std::string expected = std::string(Header) + "\r\n" + "AppName Sample Product\r\n";
    EXPECT_EQ(expected, LogText());
    EXPECT_EQ(98u, sizeof Header - 1);
    EXPECT_EQ(expected.size(), ::Setup.InstallLog.Length);
    EXPECT_EQ('\0', ::Setup.InstallLog.Text[::Setup.InstallLog.Length]);
    EXPECT_EQ(512u, ::Setup.InstallLog.Capacity);
}

// The first line takes 512 bytes; a line grows the block by 512 exactly when
// it and its NUL do not fit in what is left.
TEST_F(InstallLogTest, BlockGrowsBy512WhenLineAndNulDoNotFit) {
    struct Case {
        int secondLine;        // characters of the second text
        DWORD capacityAfter;
    } cases[] = {
        {150, 512},   // 359 + 152 + NUL = 512: fits exactly
        {151, 1024},  // the line fits, its NUL does not
    };
    for (const Case& c : cases) {
        ResetLog();
        std::string first(LogLineLimit, 'a');
        std::string second(c.secondLine, 'b');
        ASSERT_TRUE(AppendLogLine(first.c_str()));
        EXPECT_EQ(512u, ::Setup.InstallLog.Capacity);
        ASSERT_TRUE(AppendLogLine(second.c_str()));
        EXPECT_EQ(c.capacityAfter, ::Setup.InstallLog.Capacity) << c.secondLine;
        EXPECT_EQ(first + "\r\n" + second + "\r\n", LogText());
    }
}

TEST_F(InstallLogTest, LineOverLimitIsRefusedAndLogUnchanged) {
    ScriptedResponder responder;
    ASSERT_TRUE(AppendLogLine("AppName P"));
    std::string before = LogText();
    std::string tooLong(LogLineLimit + 1, 'x');
    EXPECT_FALSE(AppendLogLine(tooLong.c_str()));
    std::string argument(1000, 'y');
    EXPECT_FALSE(LogEvent(CreateFileEvent, "%s", argument.c_str()));
    EXPECT_EQ(before, LogText());
    ASSERT_EQ(2u, responder.Boxes().size());
    for (const RecordedBox& box : responder.Boxes()) {
        EXPECT_EQ(0u, box.Text.find("Cannot add a line longer than 357 characters to the installation log: "))
            << box.Text;
        EXPECT_EQ("Setup", box.Title);
        EXPECT_EQ((UINT)MB_ICONERROR, box.Type);
    }
    // "CreateFile " and 346 characters: just at the limit.
    std::string longest(LogLineLimit - 11, 'z');
    EXPECT_TRUE(LogEvent(CreateFileEvent, "%s", longest.c_str()));
    EXPECT_EQ(before + "CreateFile " + longest + "\r\n", LogText());
}

TEST_F(InstallLogTest, FirstSaveLacksItsOwnLineSecondHasItAfterInstallDir) {
    fixture::ScratchDir scratch;
    SetInstallDir(scratch.Path());
    std::string logPath = scratch.Join("install.log");
    ASSERT_TRUE(AppendLogLine(Header));
    ASSERT_TRUE(LogEvent(AppNameEvent, "%s", "Sample"));
    ASSERT_TRUE(LogEvent(CreateDirEvent, "%s", scratch.Path().c_str()));
    std::string firstState = LogText();

    ASSERT_TRUE(SaveInstallLog());
    EXPECT_EQ(firstState, fixture::ReadTextFile(logPath));
    EXPECT_TRUE(::Setup.LogFileLogged);
    std::string selfLine = "CreateFile " + logPath + "\r\n";
    EXPECT_EQ(firstState + selfLine, LogText());

    ASSERT_TRUE(LogEvent(CreateDirEvent, "%s", scratch.Join("Group").c_str()));
    ASSERT_TRUE(SaveInstallLog());
    std::string expected = firstState + selfLine + "CreateDir " + scratch.Join("Group") + "\r\n";
    EXPECT_EQ(expected, fixture::ReadTextFile(logPath));
    EXPECT_EQ(expected, LogText());  // logged once only
}

TEST_F(InstallLogTest, SaveIntoMissingDirectoryFailsWithFullPath) {
    ScriptedResponder responder;
    fixture::ScratchDir scratch;
    SetInstallDir(scratch.Join("missing"));
    ASSERT_TRUE(AppendLogLine(Header));
    std::string before = LogText();
    EXPECT_FALSE(SaveInstallLog());
    EXPECT_FALSE(::Setup.LogFileLogged);
    EXPECT_EQ(before, LogText());
    ASSERT_EQ(1u, responder.Boxes().size());
    std::string expected = "Cannot create " + scratch.Join("missing\\install.log") + " file (0/3 - ";
    EXPECT_EQ(expected, responder.Boxes()[0].Text.substr(0, expected.size()));
}

// The argument of the first line of an event, found ignoring the name's case.
TEST_F(InstallLogTest, FindEventArgumentCases) {
    struct Case {
        const char* text;
        EventCode code;
        const char* expected;  // null: no match
    } cases[] = {
        {"appname Product\r\n", AppNameEvent, "Product"},
        {"APPNAME Product", AppNameEvent, "Product"},
        {"AppName   Product  \r\n", AppNameEvent, "Product  "},
        {"AppName \t Product\r\n", AppNameEvent, "Product"},
        {"AppName \r\n", AppNameEvent, ""},
        {"AppNameX Product\r\n", AppNameEvent, nullptr},
        {"AppName\r\nAppName\r\n", AppNameEvent, nullptr},
        {"AppName\tProduct\r\n", AppNameEvent, nullptr},
        {"; AppName Product\r\nAppName Real\r\n", AppNameEvent, "Real"},
        {";\r\nAppName First\r\nAppName Second\r\n", AppNameEvent, "First"},
        {"AppName a\rb\nc\r\n", AppNameEvent, "a\rb\nc"},
        {"CreateDir C:\\a\nAppName P\n", AppNameEvent, nullptr},
        {"CreateDir C:\\a\nAppName P\n", CreateDirEvent, "C:\\a\nAppName P\n"},
        {"AppName P\r\nInstallDevice wave My Device\r\n", InstallDeviceEvent, "wave My Device"},
        {"AppName P\r\n", CreateFileEvent, nullptr},
        {"", AppNameEvent, nullptr},
    };
    for (const Case& c : cases) {
        char buffer[64] = "untouched";
        char* found = FindEventArgument(buffer, sizeof buffer, c.text, c.code);
        if (c.expected) {
            EXPECT_EQ(buffer, found) << c.text;
            EXPECT_STREQ(c.expected, buffer) << c.text;
        } else {
            EXPECT_EQ(nullptr, found) << c.text;
        }
    }
    char buffer[8];
    EXPECT_EQ(nullptr, FindEventArgument(buffer, sizeof buffer, nullptr, AppNameEvent));
}

TEST_F(InstallLogTest, FindEventArgumentRefusesWhatDoesNotFit) {
    ScriptedResponder responder;
    char buffer[11];
    EXPECT_STREQ("0123456789", FindEventArgument(buffer, sizeof buffer, "AppName 0123456789\r\n", AppNameEvent));
    EXPECT_TRUE(responder.Boxes().empty());
    EXPECT_EQ(nullptr, FindEventArgument(buffer, sizeof buffer, "AppName 0123456789A\r\n", AppNameEvent));
    ASSERT_EQ(1u, responder.Boxes().size());
    EXPECT_NE(std::string::npos, responder.Boxes()[0].Text.find("AppName")) << responder.Boxes()[0].Text;
}

TEST_F(InstallLogTest, WholeFileRoundTripReplacesOlderContents) {
    fixture::ScratchDir scratch;
    ASSERT_TRUE(scratch.Write("data.bin", std::string(5000, 'o')));
    const std::string data("line\r\nwith\0nul\r\n", 16);
    ASSERT_TRUE(WriteWholeFile(scratch.Join("data.bin").c_str(), data.data(), (DWORD)data.size()));
    EXPECT_EQ(data, fixture::ReadTextFile(scratch.Join("data.bin")));

    DWORD size = 12345;
    char* block = ReadWholeFile(scratch.Path().c_str(), "data.bin", &size);
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(data.size(), size);
    EXPECT_EQ(data, std::string(block, size));
    EXPECT_EQ('\0', block[size]);
    FreeBlock(block);

    // The directory's variables are expanded.
    SetInstallDir(scratch.Path());
    block = ReadWholeFile("%InstallDir%", "data.bin", nullptr);
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(0, memcmp(block, data.data(), data.size()));
    FreeBlock(block);
}

TEST_F(InstallLogTest, EmptyFileIsWrittenAndReadAsNulOnly) {
    fixture::ScratchDir scratch;
    ASSERT_TRUE(scratch.Write("empty.txt", "old contents"));
    ASSERT_TRUE(WriteWholeFile(scratch.Join("empty.txt").c_str(), "", 0));
    DWORD size = 99;
    char* block = ReadWholeFile(scratch.Path().c_str(), "empty.txt", &size);
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(0u, size);
    EXPECT_EQ('\0', block[0]);
    FreeBlock(block);
}

TEST_F(InstallLogTest, FailuresNameTheBareFileWhenReadingAndTheFullPathWhenWriting) {
    ScriptedResponder responder;
    fixture::ScratchDir scratch;
    DWORD size = 77;
    EXPECT_EQ(nullptr, ReadWholeFile(scratch.Path().c_str(), "install.log", &size));
    EXPECT_EQ(77u, size);
    std::string missingDir = scratch.Join("no such dir");
    EXPECT_FALSE(WriteWholeFile(fixture::JoinPath(missingDir, "out.txt").c_str(), "x", 1));

    // A file held without read sharing cannot be opened.
    ASSERT_TRUE(scratch.Write("held.txt", "x"));
    HANDLE held = CreateFileA(scratch.Join("held.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(nullptr, ReadWholeFile(scratch.Path().c_str(), "held.txt", nullptr));
    CloseHandle(held);

    std::vector<std::string> texts = responder.Texts();
    ASSERT_EQ(3u, texts.size());
    EXPECT_EQ(0u, texts[0].find("Cannot open file install.log (0/2 - ")) << texts[0];
    std::string created = "Cannot create " + fixture::JoinPath(missingDir, "out.txt") + " file (0/3 - ";
    EXPECT_EQ(0u, texts[1].find(created)) << texts[1];
    EXPECT_EQ(0u, texts[2].find("Cannot open file held.txt (0/32 - ")) << texts[2];
}

TEST_F(InstallLogTest, EventTableLookups) {
    struct Row {
        const char* name;
        EventCode code;
        EventMask bit;
    } rows[] = {
        {"AppName", AppNameEvent, 0x01},       {"CreateDir", CreateDirEvent, 0x02},
        {"CreateFile", CreateFileEvent, 0x04}, {"CreateKey", CreateKeyEvent, 0x08},
        {"CreateValue", CreateValueEvent, 0x10}, {"InstallDevice", InstallDeviceEvent, 0x20},
    };
    for (const Row& row : rows) {
        EXPECT_STREQ(row.name, EventNameOf(row.code));
        EXPECT_EQ(row.code, EventCodeOf(row.name));
        std::string lower(row.name), upper(row.name);
        CharLowerBuffA(&lower[0], (DWORD)lower.size());
        CharUpperBuffA(&upper[0], (DWORD)upper.size());
        EXPECT_EQ(row.code, EventCodeOf(lower.c_str())) << lower;
        EXPECT_EQ(row.code, EventCodeOf(upper.c_str())) << upper;
        EXPECT_EQ(row.bit, EventBit(row.code));
    }
    for (const char* unknown : {"", "App", "AppNameX", "Create File", " AppName"})
        EXPECT_EQ(NoEvent, EventCodeOf(unknown)) << unknown;
    for (int code : {0, 7, -1, 32, 100})
        EXPECT_EQ(nullptr, EventNameOf(code)) << code;
    EXPECT_EQ(0x80000000u, EventBit(NoEvent));
    EXPECT_EQ(0x01u, EventBit(33));
}

}  // namespace
