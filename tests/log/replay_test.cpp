// Undoing logs on real files, directories and registry keys; the question
// for a file in use and the queue for the next restart.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/messages.h"
#include "common/setup_state.h"
#include "log/replay.h"
#include "support/prefix.h"
#include "support/responder.h"
#include "support/restart_queue.h"

namespace {

const EventMask DeviceOnly = 0x20;
const EventMask AllButDevice = ~0x20u;

const char InUseQuestion[] =
    "The file \"%s\" being deleted is currently in use. If there are active applications, they may use this "
    "file and prevent it to be deleted. You can close some applications and retry delete operation.\n\n"
    "If all product files will be successfully deleted, no restart is required. Otherwise, Windows must be "
    "restarted to complete uninstalling.\n\nRetry delete operation?";

std::string QuestionFor(const std::string& path) {
    std::string text = InUseQuestion;
    return text.replace(text.find("%s"), 2, path);
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Replays a copy of `text` and checks that the replay consumed it.
bool Replay(const std::string& text, EventMask mask) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    bool result = ReplayLog(buffer.data(), mask);
    EXPECT_EQ('\0', buffer[0]) << "the text is left empty";
    return result;
}

class ReplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::Setup.IsWindowsNT = TRUE;
        ::Setup.RestartNeeded = FALSE;
    }
    void TearDown() override {
        ::Setup.IsWindowsNT = TRUE;
        ::Setup.RestartNeeded = FALSE;
    }
    std::string MakeFile(const std::string& relative) {
        EXPECT_TRUE(scratch_.Write(relative, "contents"));
        return scratch_.Join(relative);
    }
    std::string MakeDir(const std::string& relative) {
        EXPECT_TRUE(CreateDirectoryA(scratch_.Join(relative).c_str(), nullptr));
        return scratch_.Join(relative);
    }

    fixture::ScratchDir scratch_;
};

// Nothing to undo in no text, an empty one, comments and empty lines.
TEST_F(ReplayTest, NullEmptyAndCommentTextsDoNothingUnderEveryMask) {
    ScriptedResponder responder;
    std::string file = MakeFile("kept.txt");
    EXPECT_TRUE(ReplayLog(nullptr, AllEvents));
    for (const std::string& text : {std::string(), ";\r\n; Caution!\r\n;CreateFile " + file + "\r\n\r\n;\r\n\r\r\n"}) {
        for (EventMask mask : {AllEvents, DeviceOnly, AllButDevice})
            EXPECT_TRUE(Replay(text, mask)) << text;
    }
    EXPECT_TRUE(Exists(file));
    EXPECT_TRUE(responder.Boxes().empty());
}

// Newest line first: the file goes before its directory, so both go in
// silence. CR alone ends a line as CR LF does, the last line needs no end,
// and event words ignore case. A bare LF ends no line: the two lines form
// one, whose argument holds the LF and the second line, so nothing goes.
TEST_F(ReplayTest, UndoesLastLineFirstWhateverTheLineEnd) {
    const struct {
        const char* Text;  // <D>: the directory, <F>: the file in it
        bool Undone;
        const char* Report;  // the beginning of the one box shown, if any
    } cases[] = {
        {"AppName P\r\nCreateDir <D>\r\nCreateFile <F>\r\n", true, nullptr},
        {"AppName P\rCreateDir <D>\rCreateFile <F>\r", true, nullptr},
        {"CreateDir <D>\r\nCreateFile <F>", true, nullptr},
        {"createdir <D>\r\ncreatefile <F>\r\nAPPNAME x\r\n", true, nullptr},
        {"CreateFile <F>\nCreateFile <F>\r\n", false, "Cannot delete file <F>\nCreateFile <F> ("},
    };
    for (const auto& c : cases) {
        std::string dir = MakeDir("dir");
        std::string file = MakeFile("dir\\file.txt");
        auto fill = [&](std::string text) {
            for (size_t at; (at = text.find('<')) != std::string::npos;)
                text.replace(at, 3, text[at + 1] == 'D' ? dir : file);
            return text;
        };
        std::string text = fill(c.Text);
        ScriptedResponder responder;
        EXPECT_TRUE(Replay(text, AllEvents)) << text;
        EXPECT_EQ(c.Undone, !Exists(file)) << text;
        EXPECT_EQ(c.Undone, !Exists(dir)) << text;
        ASSERT_EQ(responder.Boxes().size(), c.Report ? 1u : 0u) << text;
        if (c.Report) {
            EXPECT_EQ(0u, responder.Texts()[0].find(fill(c.Report))) << responder.Texts()[0];
        }
    }
}

// Which lines each caller's mask acts on, and which words it reports.
TEST_F(ReplayTest, MasksSelectTheLinesToUndo) {
    struct Case {
        EventMask mask;
        bool result;
        bool fileDeleted;
        std::vector<std::string> messages;
    } cases[] = {
        {AllEvents, false, true,
         {"Unknown event CreateValue", "Unknown event ", "Unknown event Bogus"}},
        {AllButDevice, false, true,
         {"Unknown event CreateValue", "Unknown event ", "Unknown event Bogus"}},
        {DeviceOnly, true, false, {}},
        {EventBit(CreateFileEvent), true, true, {}},
        {EventBit(CreateValueEvent), false, false, {"Unknown event CreateValue"}},
    };
    for (const Case& c : cases) {
        ScriptedResponder responder;
        std::string file = MakeFile("selected.txt");
        std::string text = "AppName P\r\nBogus word\r\nCreateFile " + file + "\r\n  CreateFile " + file +
                           "\r\nCreateValue HKCU\\Software\\x\r\n";
        EXPECT_EQ(c.result, Replay(text, c.mask)) << std::hex << c.mask;
        EXPECT_EQ(c.fileDeleted, !Exists(file)) << std::hex << c.mask;
        EXPECT_EQ(c.messages, responder.Texts()) << std::hex << c.mask;
        for (const RecordedBox& box : responder.Boxes()) {
            EXPECT_EQ("Setup", box.Title);
            EXPECT_EQ((UINT)MB_ICONERROR, box.Type);
        }
    }
}

// What is already gone is passed over in silence; a directory that still
// holds a file is reported and stays.
// A folder where the log names a file is reported as it is, not asked about
// as a file in use (no retry or restart would delete it as a file).
TEST_F(ReplayTest, GoneIsSilentNonEmptyDirectoryAndFolderAsFileAreReported) {
    ScriptedResponder responder;
    std::string full = MakeDir("full");
    MakeFile("full\\left.txt");
    std::string folder = MakeDir("folder");
    std::string text = "CreateFile " + folder + "\r\nCreateDir " + full + "\r\nCreateDir " + scratch_.Join("gone") +
                       "\r\nCreateFile " + scratch_.Join("gone.txt") + "\r\nCreateFile " +
                       scratch_.Join("no dir\\gone.txt") + "\r\n";
    EXPECT_TRUE(Replay(text, AllEvents));
    EXPECT_TRUE(Exists(full));
    EXPECT_TRUE(Exists(folder));
    ASSERT_EQ(2u, responder.Boxes().size());
    const std::string expected[] = {"Cannot delete directory " + full + " (0/145 - ",
                                    "Cannot delete file " + folder + " (0/5 - "};
    for (size_t i = 0; i < 2; i++) {
        EXPECT_EQ(0u, responder.Boxes()[i].Text.find(expected[i])) << responder.Boxes()[i].Text;
        EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), responder.Boxes()[i].Type);
    }
    EXPECT_FALSE(::Setup.RestartNeeded);
}

TEST_F(ReplayTest, CreateKeyDeletesTheKeyAndReportsAMissingOne) {
    ScriptedResponder responder;
    std::string subkey = "Software\\SetupReplayTest" + std::to_string(GetCurrentProcessId());
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, subkey.c_str(), &key));
    RegCloseKey(key);
    EXPECT_TRUE(Replay("CreateKey hkcu\\" + subkey + "\r\n", AllEvents));
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyA(HKEY_CURRENT_USER, subkey.c_str(), &key));
    EXPECT_TRUE(responder.Boxes().empty());

    // Gone already: the registry's own message, and the line still counts.
    EXPECT_TRUE(Replay("CreateKey HKCU\\" + subkey + "\r\n", AllEvents));
    EXPECT_EQ(1u, responder.Boxes().size());
}

// The first stage hands the device line, and only it, to the device code,
// which has its say about a device that is not there; the second stage
// passes the line over.
TEST_F(ReplayTest, DeviceLineGoesToTheDeviceCodeInTheFirstStageOnly) {
    std::string file = MakeFile("stays.txt");
    std::string text = "AppName P\r\nCreateFile " + file + "\r\nInstallDevice ? Replay Test Device\r\n";
    {
        ScriptedResponder responder;
        EXPECT_TRUE(Replay(text, AllButDevice));
        EXPECT_TRUE(responder.Boxes().empty());
        EXPECT_FALSE(Exists(file));
    }
    MakeFile("stays.txt");
    ScriptedResponder responder;
    EXPECT_TRUE(Replay(text, DeviceOnly));
    EXPECT_FALSE(responder.Boxes().empty());
    EXPECT_TRUE(Exists(file));
}

TEST_F(ReplayTest, DeviceArgumentSplitsAtFirstBlank) {
    struct Case {
        const char* argument;
        const char* typeText;
        const char* deviceName;
    } cases[] = {
        {"wave,mixer Sample Device", "wave,mixer", "Sample Device"},
        {"? Two  Blanks ", "?", "Two  Blanks "},
        {"wave  Leading", "wave", " Leading"},
        {"wave", "wave", ""},
        {"? ", "?", ""},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        std::string argument = c.argument;
        const char* typeText = nullptr;
        const char* deviceName = nullptr;
        SplitDeviceArgument(&argument[0], &typeText, &deviceName);
        EXPECT_STREQ(c.typeText, typeText) << c.argument;
        EXPECT_STREQ(c.deviceName, deviceName) << c.argument;
    }
}

// Many lines, a few real files among them at the start, in the middle and
// at the end: each line is undone once and all of them are reached.
TEST_F(ReplayTest, LargeLogIsUndoneWhole) {
    ScriptedResponder responder;
    std::vector<std::string> files;
    std::string text = ";\r\n";
    const int lines = 200000;
    for (int i = 0; i < lines; i++) {
        if (i % 20000 == 0 || i == lines - 1) {
            files.push_back(MakeFile("big" + std::to_string(i) + ".txt"));
            text += "CreateFile " + files.back() + "\r\n";
        } else {
            text += "AppName Line " + std::to_string(i) + "\r\n";
        }
    }
    EXPECT_TRUE(Replay(text, AllEvents));
    for (const std::string& file : files)
        EXPECT_FALSE(Exists(file)) << file;
    EXPECT_TRUE(responder.Boxes().empty());
}

// A file held open without delete sharing, as a running program would, is
// asked about at each try (the longest path that can exist, whole). Yes
// retries and deletes the file once it is let go; No queues it for the
// restart on either family; a queue that refuses it is reported and no
// restart is needed.
TEST_F(ReplayTest, FileInUseIsRetriedOrQueued) {
    restart_queue::PendingOperationsGuard pendingGuard;
    restart_queue::WininitGuard wininitGuard;
    std::string longPath = MakeDir(std::string(240 - scratch_.Path().size() - 1, 'd'));
    longPath += "\\" + std::string(259 - longPath.size() - 1, 'f');
    ASSERT_EQ(259u, longPath.size());
    std::string path = scratch_.Join("queued.txt");
    const std::string renames = "[Rename]\r\nNUL=C:\\OLD1.TXT\r\nNUL=C:\\OLD2.TXT\r\n";
    const struct {
        const char* Name;
        bool WindowsNT;
        std::string Path;
        std::string Wininit;
        std::vector<int> Answers;
        size_t Questions;
        std::vector<std::string> Reports;  // beginnings of the boxes after the questions
        bool Queued;
    } cases[] = {
        {"Yes until free", true, longPath, "", {IDYES, IDYES}, 2, {}, false},
        {"No on 9x", false, path, renames, {IDNO}, 1, {}, true},
        {"queue refuses", false, path, restart_queue::OverfullRenameSection(), {IDNO, IDOK, IDOK}, 1,
         {"Cannot add NUL=", "Cannot queue " + path + " to delete (0/122 - "}, false},
        {"No on NT", true, longPath, "", {IDNO}, 1, {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ::Setup.IsWindowsNT = c.WindowsNT;
        ::Setup.RestartNeeded = FALSE;
        ASSERT_TRUE(fixture::WriteTextFile(c.Path, "in use"));
        ASSERT_TRUE(fixture::WriteTextFile(wininitGuard.Path(), c.Wininit));
        HANDLE held = CreateFileA(c.Path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, held);
        // The held file is let go while the second box is up.
        size_t shown = 0;
        ScriptedResponder responder(c.Answers, [&](const RecordedBox&) {
            if (++shown == 2) {
                CloseHandle(held);
                held = INVALID_HANDLE_VALUE;
            }
        });
        EXPECT_TRUE(Replay("CreateFile " + c.Path + "\r\n", AllButDevice));
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);

        const std::vector<RecordedBox>& boxes = responder.Boxes();
        ASSERT_EQ(c.Questions + c.Reports.size(), boxes.size());
        for (size_t i = 0; i < c.Questions; i++) {
            EXPECT_EQ(QuestionFor(c.Path), boxes[i].Text);
            EXPECT_EQ("Setup", boxes[i].Title);
            EXPECT_EQ((UINT)(MB_YESNO | MB_ICONERROR), boxes[i].Type);  // Yes is the default button
            EXPECT_EQ(nullptr, boxes[i].Owner);
        }
        for (size_t i = 0; i < c.Reports.size(); i++)
            EXPECT_EQ(0u, boxes[c.Questions + i].Text.find(c.Reports[i])) << boxes[c.Questions + i].Text;
        EXPECT_EQ(c.Queued, (bool)::Setup.RestartNeeded);
        EXPECT_EQ(c.Answers[0] == IDYES, !Exists(c.Path));
        EXPECT_EQ(c.Queued && c.WindowsNT, restart_queue::IsPending(c.Path));
        std::string queuedEntry = c.Queued ? "NUL=" + restart_queue::ShortPathOf(c.Path) + "\r\n" : "";
        EXPECT_EQ(c.Wininit + (c.WindowsNT ? "" : queuedEntry), fixture::ReadTextFile(wininitGuard.Path()));
    }
}

}  // namespace
