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
#include "support/guarded_buffer.h"
#include "support/prefix.h"
#include "support/loaded_script.h"
#include "support/responder.h"

namespace {

void ExpectOnlyProgramTexts(const ScriptedResponder& responder, size_t count, const std::string& what) {
    EXPECT_EQ(responder.Boxes().size(), count) << what;
    EXPECT_EQ(ForeignTexts(responder.Boxes()), "") << what;
}

class LongInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch_.Path().empty());
        ::Setup.IsWindowsNT = TRUE;
        UseEntryTables(files_, links_);
        ::Setup.InstallDir = nullptr;
        ::Setup.WorkDir = nullptr;
        ::Setup.InstallLog = InstallLogText{};
        ::Setup.LogFileLogged = FALSE;
    }
    void TearDown() override {
        FinishWithScript(files_, links_);
        FreeBlock(::Setup.InstallLog.Text);
        ::Setup.InstallLog = InstallLogText{};
        ::Setup.LogFileLogged = FALSE;
        ::Setup.InstallDir = nullptr;
    }

    // A folder in the scratch folder whose path has exactly `length`
    // characters.
    std::string FolderOfLength(size_t length) {
        std::string base = scratch_.Path() + "\\";
        std::string path = base + std::string(length - base.size(), 'd');
        EXPECT_TRUE(CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) << path;
        return path;
    }

    // The log with one line in it, as an install has it before its saves.
    void StartLog() {
        FreeBlock(::Setup.InstallLog.Text);
        ::Setup.InstallLog = InstallLogText{};
        ::Setup.LogFileLogged = FALSE;
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
    const struct {
        size_t MainLength;
        size_t EntryLength;
        const char* Refusal;
    } cases[] = {
        {255, 259, nullptr},
        {256, 259, "Value of key DefaultInstallDir in section Main is longer than 255 characters"},
        {1000, 259, "Value of key DefaultInstallDir in section Main is longer than 255 characters"},
        {255, 260, "Value of key f in section Files.NT is longer than 259 characters"},
        {255, 1000, "Value of key f in section Files.NT is longer than 259 characters"},
    };
    int folder = 0;
    for (const auto& c : cases) {
        std::string workDir = scratch_.Join("script" + std::to_string(folder++));
        std::string mainValue(c.MainLength, 'm');
        std::string entryValue(c.EntryLength, 'e');
        ASSERT_TRUE(fixture::WriteTextFile(
            workDir + "\\setup.ini",
            "[Main]\r\nAppName=A\r\nAppVersion=1\r\nDefaultProgramGroup=G\r\nDefaultInstallDir=" + mainValue +
                "\r\nStartMenuFolder=S\r\n[Files.NT]\r\nf=" + entryValue + "\r\n"));
        ReleaseLoadedScript(files_, links_);
        ::Setup.WorkDir = &workDir[0];
        ScriptedResponder responder;
        bool loaded = LoadSetupScript();
        EXPECT_EQ(loaded, !c.Refusal) << c.MainLength << "/" << c.EntryLength;
        EXPECT_EQ(responder.Texts(), c.Refusal ? std::vector<std::string>{c.Refusal} : std::vector<std::string>{});
        if (loaded) {
            EXPECT_EQ(std::string(::Setup.DefaultInstallDir), mainValue);
            ASSERT_EQ(::Setup.FileCount, 1);
            EXPECT_EQ(std::string(files_[0].Second), entryValue);
        }
    }
}

// WorkDir plus "\setup.ini" at 259 characters is looked for whole; at 260 and
// beyond the path is refused before any file is opened.
TEST_F(LongInputTest, WorkDirNearThePathBuffer) {
    for (size_t joined : {259, 260, 261, 400}) {
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

// install.log saved into InstallDir and a file copied to
// "%InstallDir%\<name>": 259 characters in all are written and logged; 260
// and more are refused whole, with no file at a cut path.
TEST_F(LongInputTest, WrittenFilesAtThePathBuffer) {
    const struct {
        size_t DirLength;
        bool Copy;  // false: install.log is saved
        std::string Name;
    } cases[] = {{247, false, "install.log"},
                 {248, false, "install.log"},
                 {248, true, std::string(10, 'n')},
                 {248, true, std::string(11, 'n')},
                 {248, true, std::string(40, 'n')}};
    std::string sourceDir = scratch_.Join("src");
    for (const auto& c : cases) {
        std::string installDir = FolderOfLength(c.DirLength);
        ::Setup.InstallDir = &installDir[0];
        std::string destination = installDir + "\\" + c.Name;
        StartLog();
        std::string before = LogText();
        fixture::TreeSnapshot folder = fixture::TreeSnapshot::Take(installDir);
        ScriptedResponder responder;
        bool written;
        if (c.Copy) {
            ASSERT_TRUE(fixture::WriteTextFile(sourceDir + "\\" + c.Name, "payload"));
            ReleaseEntries(files_, &::Setup.FileCount);
            ASSERT_TRUE(AddEntry(files_, &::Setup.FileCount, c.Name.c_str(), "%InstallDir%", sourceDir.c_str()));
            written = CopyFiles();
        } else {
            written = SaveInstallLog();
        }
        bool fits = destination.size() <= 259;
        EXPECT_EQ(written, fits) << destination.size();
        ExpectOnlyProgramTexts(responder, fits ? 0 : 1, destination);
        if (fits) {
            EXPECT_EQ(fixture::ReadTextFile(destination), c.Copy ? "payload" : before);
            EXPECT_EQ(LogText(), before + "CreateFile " + destination + "\r\n");
            ASSERT_TRUE(DeleteFileA(destination.c_str()));
        } else {
            EXPECT_TRUE(fixture::SameTree(folder, fixture::TreeSnapshot::Take(installDir)));
            EXPECT_EQ(LogText(), before);
        }
    }
}

// The progress text "Installing <name> device driver..." has room for 227
// characters of name; a longer name is refused before anything is done.
TEST_F(LongInputTest, DeviceNamesAtTheProgressText) {
    for (size_t length : {227, 228, 229, 600}) {
        std::string name(length, 'v');
        ScriptedResponder responder;
        bool fits = DeviceNameFits(name.c_str());
        EXPECT_EQ(fits, length <= 227) << length;
        ExpectOnlyProgramTexts(responder, fits ? 0 : 1, name);
        if (fits)
            continue;
        ScriptedResponder installResponder;
        EXPECT_FALSE(SetupDevice(true, name.c_str(), "missing_reliability.inf"));
        ExpectOnlyProgramTexts(installResponder, 1, name);
        ASSERT_FALSE(installResponder.Boxes().empty());
        EXPECT_EQ(installResponder.Boxes()[0].Text.rfind("Device name is too long (", 0), 0u);
    }
}

// Log lines of 357 characters are taken, longer ones refused whole with the
// line named; "CreateFile " and 346 characters are just at the limit.
TEST_F(LongInputTest, LogLinesAtTheLineLimit) {
    StartLog();
    const struct {
        const char* Event;  // null: the text goes to AppendLogLine as it is
        size_t Length;
    } cases[] = {{nullptr, 357}, {nullptr, 358}, {nullptr, 1200},
                 {"CreateFile ", 346}, {"CreateFile ", 347}, {"CreateFile ", 1000}};
    for (const auto& c : cases) {
        std::string argument(c.Length, 'l');
        std::string line = (c.Event ? c.Event : "") + argument;
        std::string before = LogText();
        ScriptedResponder responder;
        bool added = c.Event ? LogEvent(CreateFileEvent, "%s", argument.c_str()) : AppendLogLine(line.c_str());
        EXPECT_EQ(added, line.size() <= 357) << line.size();
        EXPECT_EQ(LogText(), added ? before + line + "\r\n" : before);
        std::vector<std::string> refusal;
        if (line.size() > 357)
            refusal.push_back(
                ("Cannot add a line longer than 357 characters to the installation log: " + line).substr(0, 255));
        EXPECT_EQ(responder.Texts(), refusal);
    }
}

// The test's own buffers given to the bounded writers: a result of size - 1
// characters fits, one more is refused and nothing lands past the buffer.
TEST_F(LongInputTest, BoundedWritersStayInsideTheCallersBuffer) {
    for (int extra : {0, 1, 50}) {
        GuardedBuffer path(PathBufferSize);
        std::string directory(PathBufferSize - 1 - 1 - 4 + extra, 'p');
        ScriptedResponder responder;
        char* joined = JoinPath(path.Data(), path.Size, directory.c_str(), "name");
        EXPECT_EQ(joined != nullptr, extra == 0);
        EXPECT_TRUE(path.GuardIntact()) << extra;
        EXPECT_EQ(std::string(path.Data()), extra == 0 ? directory + "\\name" : "");
        ExpectOnlyProgramTexts(responder, extra == 0 ? 0 : 1, "JoinPath");

        GuardedBuffer argument(64);
        std::string value(63 + extra, 'a');
        ScriptedResponder argumentResponder;
        char* found = FindEventArgument(argument.Data(), argument.Size, ("AppName " + value + "\r\n").c_str(),
                                        AppNameEvent);
        EXPECT_EQ(std::string(found ? found : "(none)"), extra == 0 ? value : "(none)");
        EXPECT_TRUE(argument.GuardIntact()) << extra;
        std::vector<std::string> refusal;
        if (extra > 0)
            refusal.push_back("The argument of the AppName event is too long (" + std::to_string(value.size()) +
                              " characters, at most 63 fit)");
        EXPECT_EQ(argumentResponder.Texts(), refusal);
    }
}

}  // namespace
