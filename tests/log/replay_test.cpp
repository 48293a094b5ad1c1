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

TEST_F(ReplayTest, NullAndEmptyTextsDoNothing) {
    ScriptedResponder responder;
    EXPECT_TRUE(ReplayLog(nullptr, AllEvents));
    EXPECT_TRUE(Replay("", AllEvents));
    EXPECT_TRUE(responder.Boxes().empty());
}

// Newest first: the file goes before its directory, so both go. CR alone
// ends a line as CR LF does; a text without CR is one line.
TEST_F(ReplayTest, UndoesLastLineFirstWhateverTheLineEnd) {
    ScriptedResponder responder;
    for (const char* end : {"\r\n", "\r"}) {
        std::string dir = MakeDir("dir");
        std::string file = MakeFile("dir\\file.txt");
        EXPECT_TRUE(Replay("AppName P" + std::string(end) + "CreateDir " + dir + end + "CreateFile " + file + end,
                           AllEvents));
        EXPECT_FALSE(Exists(file)) << end[1];
        EXPECT_FALSE(Exists(dir)) << end[1];
    }
    std::string single = MakeFile("single.txt");
    EXPECT_TRUE(Replay("CreateFile " + single, AllEvents));
    EXPECT_FALSE(Exists(single));
    EXPECT_TRUE(responder.Boxes().empty());
}

// A bare LF does not end a line: the two lines form one, whose argument
// holds the LF and the second line, so neither file is touched.
TEST_F(ReplayTest, BareLineFeedJoinsLines) {
    ScriptedResponder responder;
    std::string a = MakeFile("a.txt");
    std::string b = MakeFile("b.txt");
    EXPECT_TRUE(Replay("CreateFile " + a + "\nCreateFile " + b + "\r\n", AllEvents));
    EXPECT_TRUE(Exists(a));
    EXPECT_TRUE(Exists(b));
}

TEST_F(ReplayTest, CommentsAndEmptyLinesAreSkippedUnderEveryMask) {
    ScriptedResponder responder;
    std::string file = MakeFile("kept.txt");
    std::string text = ";\r\n; Caution!\r\n;CreateFile " + file + "\r\n\r\n;\r\n\r\r\n";
    for (EventMask mask : {AllEvents, DeviceOnly, AllButDevice})
        EXPECT_TRUE(Replay(text, mask));
    EXPECT_TRUE(Exists(file));
    EXPECT_TRUE(responder.Boxes().empty());
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

TEST_F(ReplayTest, EventWordsIgnoreCase) {
    ScriptedResponder responder;
    std::string dir = MakeDir("lower");
    std::string file = MakeFile("lower\\f.txt");
    EXPECT_TRUE(Replay("createdir " + dir + "\r\ncreatefile " + file + "\r\nAPPNAME x\r\n", AllButDevice));
    EXPECT_FALSE(Exists(file));
    EXPECT_FALSE(Exists(dir));
    EXPECT_TRUE(responder.Boxes().empty());
}

// What is already gone is passed over in silence; a directory that still
// holds a file is reported and stays.
TEST_F(ReplayTest, GoneIsSilentNonEmptyDirectoryIsReported) {
    ScriptedResponder responder;
    std::string full = MakeDir("full");
    MakeFile("full\\left.txt");
    std::string text = "CreateDir " + full + "\r\nCreateDir " + scratch_.Join("gone") + "\r\nCreateFile " +
                       scratch_.Join("gone.txt") + "\r\nCreateFile " + scratch_.Join("no dir\\gone.txt") + "\r\n";
    EXPECT_TRUE(Replay(text, AllEvents));
    EXPECT_TRUE(Exists(full));
    ASSERT_EQ(1u, responder.Boxes().size());
    std::string expected = "Cannot delete directory " + full + " (0/145 - ";
    EXPECT_EQ(0u, responder.Boxes()[0].Text.find(expected)) << responder.Boxes()[0].Text;
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

// Holds a file open without delete sharing, as a running program would.
class HeldFile {
public:
    explicit HeldFile(const std::string& path)
        : handle_(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr)) {
        EXPECT_NE(INVALID_HANDLE_VALUE, handle_);
    }
    ~HeldFile() { Release(); }
    void Release() {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle_;
};

// Answers the retry question: Yes as long as the script says so, releasing
// the file at the answer that says to.
struct RetryScript {
    std::vector<int> answers;
    int releaseAt = -1;  // index of the answer before which the file is let go
    HeldFile* held = nullptr;
    std::vector<RecordedBox> boxes;
};
RetryScript* CurrentScript;

int AnswerRetry(HWND owner, const char* text, const char* title, UINT type) {
    RetryScript& script = *CurrentScript;
    int index = (int)script.boxes.size();
    script.boxes.push_back(RecordedBox{owner, text, title, type});
    if (index == script.releaseAt)
        script.held->Release();
    if (index < (int)script.answers.size())
        return script.answers[index];
    ADD_FAILURE() << "unexpected box: " << text;
    return IDNO;
}

class FileInUseTest : public ReplayTest {
protected:
    // Replays one CreateFile line while the file is held, answering by the
    // script; returns the replay's result.
    bool ReplayHeld(const std::string& path, RetryScript& script) {
        HeldFile held(path);
        script.held = &held;
        CurrentScript = &script;
        SetMessageBoxResponder(&AnswerRetry);
        bool result = Replay("CreateFile " + path + "\r\n", AllButDevice);
        SetMessageBoxResponder(nullptr);
        return result;
    }
    void ExpectQuestions(const RetryScript& script, const std::string& path, size_t count) {
        ASSERT_EQ(count, script.boxes.size());
        for (const RecordedBox& box : script.boxes) {
            EXPECT_EQ(QuestionFor(path), box.Text);
            EXPECT_EQ("Setup", box.Title);
            EXPECT_EQ((UINT)(MB_YESNO | MB_ICONERROR), box.Type);  // Yes is the default button
            EXPECT_EQ(nullptr, box.Owner);
        }
    }
};

// Yes retries as long as the file is held; once it is let go the retry
// deletes it. The longest path that can exist is asked about whole.
TEST_F(FileInUseTest, YesRetriesUntilTheFileIsFree) {
    std::string dir = scratch_.Path() + "\\";
    dir += std::string(240 - dir.size(), 'd');
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    std::string path = dir + "\\" + std::string(259 - dir.size() - 1, 'f');
    ASSERT_EQ(259u, path.size());
    ASSERT_TRUE(fixture::WriteTextFile(path, "in use"));

    RetryScript script;
    script.answers = {IDYES, IDYES};
    script.releaseAt = 1;
    EXPECT_TRUE(ReplayHeld(path, script));
    ExpectQuestions(script, path, 2);
    EXPECT_FALSE(Exists(path));
    EXPECT_FALSE(::Setup.RestartNeeded);
}

TEST_F(FileInUseTest, NoQueuesTheFileForRestartOnNT) {
    restart_queue::PendingOperationsGuard guard;
    std::string path = MakeFile("queued.txt");
    RetryScript script;
    script.answers = {IDNO};
    EXPECT_TRUE(ReplayHeld(path, script));
    ExpectQuestions(script, path, 1);
    EXPECT_TRUE(restart_queue::IsPending(path));
    EXPECT_TRUE(::Setup.RestartNeeded);
    EXPECT_TRUE(Exists(path));
}

TEST_F(FileInUseTest, NoAddsARenameEntryOnWindows9x) {
    restart_queue::WininitGuard guard;
    ASSERT_TRUE(fixture::WriteTextFile(guard.Path(), "[Rename]\r\nNUL=C:\\OLD1.TXT\r\nNUL=C:\\OLD2.TXT\r\n"));
    ::Setup.IsWindowsNT = FALSE;
    std::string path = MakeFile("queued9x.txt");
    RetryScript script;
    script.answers = {IDNO};
    EXPECT_TRUE(ReplayHeld(path, script));
    ExpectQuestions(script, path, 1);
    EXPECT_TRUE(::Setup.RestartNeeded);
    std::string expected = "[Rename]\r\nNUL=C:\\OLD1.TXT\r\nNUL=C:\\OLD2.TXT\r\nNUL=" +
                           restart_queue::ShortPathOf(path) + "\r\n";
    EXPECT_EQ(expected, fixture::ReadTextFile(guard.Path()));
}

// The user declines, and the queue refuses the file: both are said.
TEST_F(FileInUseTest, QueueThatRefusesIsReported) {
    restart_queue::WininitGuard guard;
    ASSERT_TRUE(fixture::WriteTextFile(guard.Path(), restart_queue::OverfullRenameSection()));
    ::Setup.IsWindowsNT = FALSE;
    std::string path = MakeFile("refused.txt");
    RetryScript script;
    script.answers = {IDNO, IDOK, IDOK};
    EXPECT_TRUE(ReplayHeld(path, script));
    ASSERT_EQ(3u, script.boxes.size());
    EXPECT_EQ(QuestionFor(path), script.boxes[0].Text);
    EXPECT_EQ(0u, script.boxes[1].Text.find("Cannot add NUL=")) << script.boxes[1].Text;
    std::string queued = "Cannot queue " + path + " to delete (0/122 - ";
    EXPECT_EQ(0u, script.boxes[2].Text.find(queued)) << script.boxes[2].Text;
    EXPECT_FALSE(::Setup.RestartNeeded);
}

}  // namespace
