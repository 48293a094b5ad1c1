// Values, names and paths at and beyond every buffer of the program: each
// either fits whole or ends in one of the program's messages; nothing is
// done with a cut path and nothing is written past a buffer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/messages.h"
#include "common/setup_state.h"
#include "common/variables.h"
#include "device/device_setup.h"
#include "install/file_actions.h"
#include "log/install_log.h"
#include "reliability/program_texts.h"
#include "script/script.h"
#include "support/prefix.h"
#include "support/loaded_script.h"
#include "support/responder.h"

namespace {

const char GuardByte = '\x5A';
const int GuardLength = 32;

// A buffer of `size` bytes handed to the program, with guard bytes behind it.
class GuardedBuffer {
public:
    explicit GuardedBuffer(int size) : size_(size), bytes_(size + GuardLength, GuardByte) {}
    char* Data() { return bytes_.data(); }
    int Size() const { return size_; }
    bool GuardIntact() const {
        for (int i = size_; i < size_ + GuardLength; i++) {
            if (bytes_[i] != GuardByte)
                return false;
        }
        return true;
    }

private:
    int size_;
    std::vector<char> bytes_;
};

void ExpectOnlyProgramTexts(const ScriptedResponder& responder, size_t count, const std::string& what) {
    EXPECT_EQ(responder.Boxes().size(), count) << what;
    EXPECT_EQ(ForeignTexts(responder.Boxes()), "") << what;
}

class LongInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch_.Path().empty());
        ::Setup.IsWindowsNT = TRUE;
        ::Setup.FileTable = files_;
        ::Setup.LinkTable = links_;
        ::Setup.FileCount = 0;
        ::Setup.LinkCount = 0;
        ::Setup.InstallDir = nullptr;
        ::Setup.WorkDir = nullptr;
        ::Setup.InstallLog = InstallLogText{};
        ::Setup.LogFileLogged = FALSE;
    }
    void TearDown() override {
        ReleaseScript();
        FreeBlock(::Setup.InstallLog.Text);
        ::Setup.InstallLog = InstallLogText{};
        ::Setup.LogFileLogged = FALSE;
        ::Setup.FileTable = nullptr;
        ::Setup.LinkTable = nullptr;
        ::Setup.InstallDir = nullptr;
        ::Setup.WorkDir = nullptr;
    }

    void ReleaseScript() {
        ReleaseLoadedScript(files_, links_);
    }

    // A folder in the scratch folder whose path has exactly `length`
    // characters.
    std::string FolderOfLength(size_t length) {
        std::string base = scratch_.Path() + "\\";
        std::string path = base + std::string(length - base.size(), 'd');
        EXPECT_TRUE(CreateDirectoryA(path.c_str(), nullptr)) << path << " " << GetLastError();
        return path;
    }

    // The log with one line in it, as an install has it before its saves.
    void StartLog() {
        ASSERT_TRUE(AppendLogLine("AppName Sample"));
    }
    std::string LogText() const {
        return ::Setup.InstallLog.Text ? ::Setup.InstallLog.Text : "";
    }

    fixture::ScratchDir scratch_;
    EntryRecord files_[FileTableRoom];
    EntryRecord links_[LinkTableRoom];
};

// Main values hold 255 characters, entry values 259 (a path with its end); a
// longer value is refused with a message naming it, never used cut.
TEST_F(LongInputTest, ScriptValuesAtAndBeyondTheirBuffers) {
    struct Case {
        size_t MainLength;
        size_t EntryLength;
        const char* Refusal;
    };
    const Case cases[] = {
        {255, 259, nullptr},
        {256, 259, "Value of key DefaultInstallDir in section Main is longer than 255 characters"},
        {1000, 259, "Value of key DefaultInstallDir in section Main is longer than 255 characters"},
        {255, 260, "Value of key f in section Files.NT is longer than 259 characters"},
        {255, 1000, "Value of key f in section Files.NT is longer than 259 characters"},
    };
    int folder = 0;
    for (const Case& c : cases) {
        std::string workDir = scratch_.Join("script" + std::to_string(folder++));
        std::string mainValue(c.MainLength, 'm');
        std::string entryValue(c.EntryLength, 'e');
        ASSERT_TRUE(fixture::WriteTextFile(
            workDir + "\\setup.ini",
            "[Main]\r\nAppName=A\r\nAppVersion=1\r\nDefaultProgramGroup=G\r\nDefaultInstallDir=" + mainValue +
                "\r\nStartMenuFolder=S\r\n[Files.NT]\r\nf=" + entryValue + "\r\n"));
        ReleaseScript();
        ::Setup.WorkDir = &workDir[0];
        ScriptedResponder responder;
        bool loaded = LoadSetupScript();
        ExpectOnlyProgramTexts(responder, c.Refusal ? 1 : 0, "load");
        if (c.Refusal) {
            EXPECT_FALSE(loaded);
            ASSERT_EQ(responder.Boxes().size(), 1u);
            EXPECT_EQ(responder.Boxes()[0].Text, c.Refusal);
            continue;
        }
        ASSERT_TRUE(loaded);
        EXPECT_EQ(std::string(::Setup.DefaultInstallDir), mainValue);
        ASSERT_EQ(::Setup.FileCount, 1);
        EXPECT_EQ(std::string(files_[0].Second), entryValue);
    }
}

// WorkDir plus "\setup.ini" at 259 characters is looked for whole; at 260 and
// beyond the path is refused before any file is opened.
TEST_F(LongInputTest, WorkDirNearThePathBuffer) {
    const size_t joinedLengths[] = {259, 260, 261, 400};
    for (size_t joined : joinedLengths) {
        std::string workDir = scratch_.Path() + "\\" + std::string(joined - scratch_.Path().size() - 11, 'w');
        ::Setup.WorkDir = &workDir[0];
        ScriptedResponder responder;
        EXPECT_FALSE(LoadSetupScript()) << joined;
        ExpectOnlyProgramTexts(responder, 1, std::to_string(joined));
        const char* expected = joined < 260 ? "Cannot open file " : "Text is too long after expansion: ";
        ASSERT_FALSE(responder.Boxes().empty());
        EXPECT_EQ(responder.Boxes()[0].Text.rfind(expected, 0), 0u) << responder.Boxes()[0].Text;
        EXPECT_EQ(::Setup.AppName, nullptr);
    }
}

// install.log beside an InstallDir of 247 characters is saved; one more
// character and the save is refused whole: no file at a cut path.
TEST_F(LongInputTest, InstallLogPathAtThePathBuffer) {
    for (size_t length : {size_t(247), size_t(248)}) {
        std::string installDir = FolderOfLength(length);
        ::Setup.InstallDir = &installDir[0];
        ::Setup.LogFileLogged = FALSE;
        FreeBlock(::Setup.InstallLog.Text);
        ::Setup.InstallLog = InstallLogText{};
        StartLog();
        std::string before = LogText();
        fixture::TreeSnapshot folder = fixture::TreeSnapshot::Take(installDir);
        ScriptedResponder responder;
        bool saved = SaveInstallLog();
        std::string path = installDir + "\\install.log";
        if (length == 247) {
            EXPECT_TRUE(saved);
            ExpectOnlyProgramTexts(responder, 0, path);
            EXPECT_EQ(fixture::ReadTextFile(path), before);
            EXPECT_EQ(LogText(), before + "CreateFile " + path + "\r\n");
        } else {
            EXPECT_FALSE(saved);
            ExpectOnlyProgramTexts(responder, 1, path);
            EXPECT_TRUE(fixture::SameTree(folder, fixture::TreeSnapshot::Take(installDir)));
            EXPECT_EQ(LogText(), before);
        }
    }
}

// A file copied to "%InstallDir%\<name>": 259 characters in all are copied
// and logged, 260 and more are refused with nothing copied.
TEST_F(LongInputTest, CopyDestinationAtThePathBuffer) {
    std::string installDir = FolderOfLength(248);
    std::string sourceDir = scratch_.Join("src");
    ::Setup.InstallDir = &installDir[0];
    StartLog();
    for (size_t nameLength : {size_t(10), size_t(11), size_t(40)}) {
        std::string name(nameLength, 'n');
        ASSERT_TRUE(fixture::WriteTextFile(sourceDir + "\\" + name, "payload"));
        ReleaseEntries(files_, &::Setup.FileCount);
        ASSERT_TRUE(AddEntry(files_, &::Setup.FileCount, name.c_str(), "%InstallDir%", sourceDir.c_str()));
        std::string before = LogText();
        fixture::TreeSnapshot folder = fixture::TreeSnapshot::Take(installDir);
        ScriptedResponder responder;
        bool copied = CopyFiles();
        std::string destination = installDir + "\\" + name;
        if (destination.size() <= 259) {
            EXPECT_TRUE(copied);
            ExpectOnlyProgramTexts(responder, 0, destination);
            EXPECT_EQ(fixture::ReadTextFile(destination), "payload");
            EXPECT_EQ(LogText(), before + "CreateFile " + destination + "\r\n");
            ASSERT_TRUE(DeleteFileA(destination.c_str()));
        } else {
            EXPECT_FALSE(copied) << destination.size();
            ExpectOnlyProgramTexts(responder, 1, destination);
            EXPECT_TRUE(fixture::SameTree(folder, fixture::TreeSnapshot::Take(installDir)));
            EXPECT_EQ(LogText(), before);
        }
    }
}

// The progress text "Installing <name> device driver..." has room for 227
// characters of name; a longer name is refused before anything is done.
TEST_F(LongInputTest, DeviceNamesAtTheProgressText) {
    for (size_t length : {size_t(227), size_t(228), size_t(229), size_t(600)}) {
        std::string name(length, 'v');
        ScriptedResponder responder;
        bool fits = DeviceNameFits(name.c_str());
        EXPECT_EQ(fits, length <= 227) << length;
        ExpectOnlyProgramTexts(responder, fits ? 0 : 1, name);
        if (!fits) {
            ScriptedResponder installResponder;
            EXPECT_FALSE(SetupDevice(true, name.c_str(), "missing_reliability.inf"));
            ExpectOnlyProgramTexts(installResponder, 1, name);
            ASSERT_FALSE(installResponder.Boxes().empty());
            EXPECT_EQ(installResponder.Boxes()[0].Text.rfind("Device name is too long (", 0), 0u);
        }
    }
}

// Log lines of 357 characters are taken, longer ones refused whole.
TEST_F(LongInputTest, LogLinesAtTheLineLimit) {
    StartLog();
    for (size_t length : {size_t(357), size_t(358), size_t(1200)}) {
        std::string line(length, 'l');
        std::string before = LogText();
        ScriptedResponder responder;
        bool added = AppendLogLine(line.c_str());
        EXPECT_EQ(added, length <= 357);
        ExpectOnlyProgramTexts(responder, added ? 0 : 1, std::to_string(length));
        EXPECT_EQ(LogText(), added ? before + line + "\r\n" : before);
        ScriptedResponder eventResponder;
        added = LogEvent(CreateFileEvent, "%s", line.c_str());
        EXPECT_FALSE(added) << length;  // "CreateFile " makes every one too long
        ExpectOnlyProgramTexts(eventResponder, 1, std::to_string(length));
    }
}

// The test's own buffers given to the bounded writers: a result of size - 1
// characters fits, one more is refused and nothing lands past the buffer.
TEST_F(LongInputTest, BoundedWritersStayInsideTheCallersBuffer) {
    for (int extra : {0, 1, 50}) {
        GuardedBuffer path(PathBufferSize);
        std::string directory(PathBufferSize - 1 - 1 - 4 + extra, 'p');
        ScriptedResponder responder;
        char* joined = JoinPath(path.Data(), path.Size(), directory.c_str(), "name");
        EXPECT_EQ(joined != nullptr, extra == 0);
        EXPECT_TRUE(path.GuardIntact()) << extra;
        EXPECT_EQ(std::string(path.Data()), extra == 0 ? directory + "\\name" : "");
        ExpectOnlyProgramTexts(responder, extra == 0 ? 0 : 1, "JoinPath");

        GuardedBuffer argument(64);
        std::string text = "AppName " + std::string(63 + extra, 'a') + "\r\n";
        ScriptedResponder argumentResponder;
        char* found = FindEventArgument(argument.Data(), argument.Size(), text.c_str(), AppNameEvent);
        EXPECT_EQ(found != nullptr, extra == 0);
        EXPECT_TRUE(argument.GuardIntact()) << extra;
        ExpectOnlyProgramTexts(argumentResponder, extra == 0 ? 0 : 1, "FindEventArgument");
    }
}

// ReadScriptValue into the test's buffer: the profile service never writes
// past the size it is given.
TEST_F(LongInputTest, ScriptValueReadStaysInsideTheCallersBuffer) {
    std::string path = scratch_.Join("values\\setup.ini");
    ASSERT_TRUE(fixture::WriteTextFile(path, "[Main]\r\nAppName=" + std::string(700, 'q') + "\r\n"));
    for (int size : {1, 2, 256, 260}) {
        GuardedBuffer value(size);
        int length = ReadScriptValue(path.c_str(), "Main", "AppName", value.Data(), value.Size());
        EXPECT_EQ(length, size - 1) << size;
        EXPECT_EQ(std::string(value.Data()), std::string(size - 1, 'q'));
        EXPECT_TRUE(value.GuardIntact()) << size;
    }
}

}  // namespace
