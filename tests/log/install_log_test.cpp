// The in-memory installation log, install.log, the argument search and the
// whole-file routines, on real files. Lines at and over the line limit are
// in the reliability tests.
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

// Lines are kept NUL-ended in one block; the first save writes the log
// without its own line and then logs install.log, the next saves it with that
// line once (behind the lines before it).
TEST_F(InstallLogTest, FirstSaveLacksItsOwnLineSecondHasItAfterInstallDir) {
    fixture::ScratchDir scratch;
    SetInstallDir(scratch.Path());
    std::string logPath = scratch.Join("install.log");
    ASSERT_TRUE(AppendLogLine(Header));
    ASSERT_TRUE(LogEvent(AppNameEvent, "%s", "Sample"));
    ASSERT_TRUE(LogEvent(CreateDirEvent, "%s", scratch.Path().c_str()));
    std::string firstState = std::string(Header) + "\r\nAppName Sample\r\nCreateDir " + scratch.Path() + "\r\n";
    EXPECT_EQ(firstState, LogText());
    EXPECT_EQ('\0', ::Setup.InstallLog.Text[::Setup.InstallLog.Length]);

    ASSERT_TRUE(SaveInstallLog());
    EXPECT_EQ(firstState, fixture::ReadTextFile(logPath));
    EXPECT_TRUE(::Setup.LogFileLogged);
    std::string selfLine = "CreateFile " + logPath + "\r\n";
    EXPECT_EQ(firstState + selfLine, LogText());

    ASSERT_TRUE(LogEvent(CreateDirEvent, "%s", scratch.Join("Group").c_str()));
    ASSERT_TRUE(SaveInstallLog());
    std::string expected = firstState + selfLine + "CreateDir " + scratch.Join("Group") + "\r\n";
    EXPECT_EQ(expected, fixture::ReadTextFile(logPath));
    EXPECT_EQ(expected, LogText());
}

// The first line takes 512 bytes; a line grows the block by 512 exactly when
// it and its NUL do not fit in what is left.
TEST_F(InstallLogTest, BlockGrowsBy512WhenLineAndNulDoNotFit) {
    struct Case {
        int secondLine;  // characters of the second text
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
        {nullptr, AppNameEvent, nullptr},
    };
    for (const Case& c : cases) {
        char buffer[64] = "untouched";
        char* found = FindEventArgument(buffer, sizeof buffer, c.text, c.code);
        const char* label = c.text ? c.text : "(null)";
        if (c.expected) {
            EXPECT_EQ(buffer, found) << label;
            EXPECT_STREQ(c.expected, buffer) << label;
        } else {
            EXPECT_EQ(nullptr, found) << label;
        }
    }
}

// Data with a NUL in it, and no data at all, replace what the file held and
// come back whole with a NUL behind; the directory's variables are expanded.
TEST_F(InstallLogTest, WholeFileRoundTripReplacesOlderContents) {
    fixture::ScratchDir scratch;
    SetInstallDir(scratch.Path());
    for (const std::string& data : {std::string("line\r\nwith\0nul\r\n", 16), std::string()}) {
        ASSERT_TRUE(scratch.Write("data.bin", std::string(5000, 'o')));
        ASSERT_TRUE(WriteWholeFile(scratch.Join("data.bin").c_str(), data.data(), (DWORD)data.size()));
        EXPECT_EQ(data, fixture::ReadTextFile(scratch.Join("data.bin")));
        for (const char* directory : {scratch.Path().c_str(), "%InstallDir%"}) {
            DWORD size = 12345;
            char* block = ReadWholeFile(directory, "data.bin", &size);
            ASSERT_NE(nullptr, block) << directory;
            EXPECT_EQ(data, std::string(block, size)) << directory;
            EXPECT_EQ('\0', block[size]);
            FreeBlock(block);
        }
    }
}

// Reading names the bare file, writing the full path; a failed save leaves
// the log as it was and install.log unlogged, and an unknown event is
// refused.
TEST_F(InstallLogTest, FailuresAreReportedAndChangeNothing) {
    ScriptedResponder responder;
    fixture::ScratchDir scratch;
    DWORD size = 77;
    EXPECT_EQ(nullptr, ReadWholeFile(scratch.Path().c_str(), "install.log", &size));
    EXPECT_EQ(77u, size);

    SetInstallDir(scratch.Join("missing"));
    ASSERT_TRUE(AppendLogLine(Header));
    std::string before = LogText();
    EXPECT_FALSE(SaveInstallLog());
    EXPECT_FALSE(LogEvent(static_cast<EventCode>(7), "%s", "x"));
    EXPECT_FALSE(::Setup.LogFileLogged);
    EXPECT_EQ(before, LogText());

    // A file held without read sharing cannot be opened.
    ASSERT_TRUE(scratch.Write("held.txt", "x"));
    HANDLE held = CreateFileA(scratch.Join("held.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(nullptr, ReadWholeFile(scratch.Path().c_str(), "held.txt", nullptr));
    CloseHandle(held);

    std::vector<std::string> texts = responder.Texts();
    ASSERT_EQ(4u, texts.size());
    EXPECT_EQ(0u, texts[0].find("Cannot open file install.log (0/2 - ")) << texts[0];
    std::string created = "Cannot create " + scratch.Join("missing\\install.log") + " file (0/3 - ";
    EXPECT_EQ(0u, texts[1].find(created)) << texts[1];
    EXPECT_EQ("Unknown event 7", texts[2]);
    EXPECT_EQ(0u, texts[3].find("Cannot open file held.txt (0/32 - ")) << texts[3];
    for (const RecordedBox& box : responder.Boxes()) {
        EXPECT_EQ("Setup", box.Title);
        EXPECT_EQ((UINT)MB_ICONERROR, box.Type);
    }
}

}  // namespace
