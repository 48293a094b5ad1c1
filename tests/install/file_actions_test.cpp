// Directories, shortcut files and file copies of an installation, made for
// real in a scratch folder, with the lines they add to the installation log.
// The real setup.exe makes them in tests/e2e (install_test.cpp), which also
// fails each of them there (rollback_test.cpp); here are the edges.
#include <gtest/gtest.h>

#include <objbase.h>

#include <deque>
#include <string>
#include <vector>

#include "common/setup_state.h"
#include "install/file_actions.h"
#include "support/prefix.h"
#include "support/responder.h"
#include "support/shortcut_reader.h"

namespace {

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class FileActionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::Setup = SetupState();  // the installation log starts empty too
        ::Setup.InstanceHandle = GetModuleHandleA(nullptr);
        CoInitialize(nullptr);
    }
    void TearDown() override { CoUninitialize(); }

    // Owned text for a field of the setup state or a table entry.
    char* Keep(const std::string& text) {
        kept_.push_back(text);
        return &kept_.back()[0];
    }
    std::string At(const std::string& relative) const { return scratch_.Join(relative); }
    void MakeDirectory(const std::string& relative) const {
        ASSERT_TRUE(CreateDirectoryA(At(relative).c_str(), nullptr)) << At(relative);
    }
    std::string Log() const {
        return ::Setup.InstallLog.Text ? std::string(::Setup.InstallLog.Text, ::Setup.InstallLog.Length) : "";
    }
    void UseTables(std::vector<EntryRecord>* files, std::vector<EntryRecord>* links) {
        ::Setup.FileTable = files->data();
        ::Setup.FileCount = static_cast<int>(files->size());
        ::Setup.LinkTable = links->data();
        ::Setup.LinkCount = static_cast<int>(links->size());
    }

    fixture::ScratchDir scratch_;
    std::deque<std::string> kept_;
};

// An existing directory is reused only on Yes to the question (No is the
// default); nothing in it is touched, and only then is it logged.
TEST_F(FileActionTest, ExistingDirectoryIsReusedOnlyOnYes) {
    MakeDirectory("dir");
    ASSERT_TRUE(scratch_.Write("dir\\kept.txt", "kept"));
    const std::string path = At("dir");
    for (int answer : {IDNO, IDYES}) {
        SCOPED_TRACE(answer == IDYES ? "Yes" : "No");
        ScriptedResponder responder({answer});
        EXPECT_EQ(answer == IDYES, CreateLoggedDirectory(path.c_str()));
        ASSERT_EQ(1u, responder.Boxes().size());
        const RecordedBox& box = responder.Boxes()[0];
        EXPECT_EQ("Directory \"" + path + "\" already exists.\nDo you want to overwrite it?", box.Text);
        EXPECT_EQ("Setup", box.Title);
        EXPECT_EQ(static_cast<UINT>(MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2), box.Type);
        EXPECT_EQ(nullptr, box.Owner);
        EXPECT_EQ(answer == IDYES ? "CreateDir " + path + "\r\n" : "", Log());
        EXPECT_EQ("kept", fixture::ReadTextFile(At("dir\\kept.txt")));
    }
}

// A group path that does not fit is reported before anything is made. The
// links then go into the group one by one until the first that fails: a
// bare file name as target has no working directory, and the arguments are
// kept as written.
TEST_F(FileActionTest, LinksAreSavedUntilTheFirstFailure) {
    MakeDirectory("Programs");
    ::Setup.StartMenuFolder = Keep(At("Programs"));
    ::Setup.AppName = Keep("Sample");
    ::Setup.WindowsDir = Keep(std::string(200, 'w'));
    std::vector<EntryRecord> files;
    std::vector<EntryRecord> links = {
        {Keep("Notepad"), Keep("notepad.exe"), Keep("%AppName%.txt")},
        {Keep("Too long"), Keep("%WindowsDir%\\%WindowsDir%"), Keep("")},
        {Keep("Third"), Keep("C:\\third.exe"), Keep("")},
    };
    UseTables(&files, &links);
    const std::string longGroup(PathBufferSize - At("Programs\\").size(), 'g');
    ::Setup.ProgramGroup = Keep(longGroup);
    {
        ScriptedResponder responder;
        EXPECT_FALSE(CreateLinks());
        EXPECT_EQ(std::vector<std::string>{"Text is too long after expansion: " + longGroup}, responder.Texts());
        EXPECT_EQ("", Log());
        EXPECT_TRUE(fixture::TreeSnapshot::Take(At("Programs")).Entries().empty());
    }

    ::Setup.ProgramGroup = Keep("Group");
    ScriptedResponder responder;
    EXPECT_FALSE(CreateLinks());
    EXPECT_EQ(std::vector<std::string>{"Text is too long after expansion: %WindowsDir%\\%WindowsDir%"},
              responder.Texts());
    std::string group = At("Programs\\Group");
    EXPECT_EQ("CreateDir " + group + "\r\nCreateFile " + group + "\\Notepad.lnk\r\n", Log());
    std::optional<ShortcutFields> notepad = ReadShortcutWithShell(group + "\\Notepad.lnk");
    ASSERT_TRUE(notepad);
    EXPECT_EQ("%AppName%.txt", notepad->Arguments);
    EXPECT_EQ("", notepad->WorkingDirectory);
    EXPECT_EQ("Notepad", notepad->Description);
    EXPECT_FALSE(Exists(group + "\\Third.lnk"));
}

// The shortcut's path with its ".lnk" must fit the 259 characters of a path.
TEST_F(FileActionTest, ShortcutPathWithItsExtensionMustFitAPath) {
    // A folder whose path leaves room for a name of exactly `room` characters:
    // path + "\" + name + ".lnk".
    std::string folder = At(std::string(200 - scratch_.Path().size() - 1, 'f'));
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    size_t room = PathBufferSize - 1 - folder.size() - 1 - 4;
    std::string fits(room, 'n');
    std::string tooLong(room + 1, 'n');
    ScriptedResponder responder;
    EXPECT_TRUE(CreateShortcut(folder.c_str(), fits.c_str(), "C:\\target.exe", ""));
    std::string saved = folder + "\\" + fits + ".lnk";
    EXPECT_EQ(static_cast<size_t>(PathBufferSize - 1), saved.size());
    EXPECT_TRUE(Exists(saved));
    EXPECT_EQ("CreateFile " + saved + "\r\n", Log());

    EXPECT_FALSE(CreateShortcut(folder.c_str(), tooLong.c_str(), "C:\\target.exe", ""));
    EXPECT_EQ(std::vector<std::string>{"Text is too long after expansion: " + tooLong}, responder.Texts());
    EXPECT_EQ("CreateFile " + saved + "\r\n", Log());
}

// Files come from their own folder or the work folder, replace older copies,
// and go to a destination expanded once more (an InstallDir typed with a
// reference); the copies stop at the first failure.
TEST_F(FileActionTest, FilesAreCopiedOverOlderOnesUntilTheFirstFailure) {
    for (const char* folder : {"work", "source", "install"})
        MakeDirectory(folder);
    ASSERT_TRUE(scratch_.Write("work\\a.txt", "from the work folder"));
    ASSERT_TRUE(scratch_.Write("work\\last.txt", "never copied"));
    ASSERT_TRUE(scratch_.Write("source\\b.dll", "from its own folder"));
    ASSERT_TRUE(scratch_.Write("install\\b.dll", "an older copy"));
    ::Setup.WorkDir = Keep(At("work"));
    ::Setup.WindowsDir = Keep(scratch_.Path());
    ::Setup.InstallDir = Keep("%WindowsDir%\\install");
    std::vector<EntryRecord> files = {
        {Keep("a.txt"), Keep("%InstallDir%"), Keep("")},
        {Keep("b.dll"), Keep("%InstallDir%"), Keep(At("source"))},
        {Keep("missing.txt"), Keep("%InstallDir%"), Keep("")},
        {Keep("last.txt"), Keep("%InstallDir%"), Keep("")},
    };
    std::vector<EntryRecord> links;
    UseTables(&files, &links);
    ScriptedResponder responder;
    EXPECT_FALSE(CopyFiles());
    ASSERT_EQ(1u, responder.Boxes().size());
    const std::string message =
        "Cannot copy " + At("work\\missing.txt") + " to " + At("install\\missing.txt") + " (0/2 - ";
    EXPECT_EQ(message, responder.Boxes()[0].Text.substr(0, message.size()));
    EXPECT_EQ("from the work folder", fixture::ReadTextFile(At("install\\a.txt")));
    EXPECT_EQ("from its own folder", fixture::ReadTextFile(At("install\\b.dll")));
    EXPECT_FALSE(Exists(At("install\\last.txt")));
    EXPECT_EQ("CreateFile " + At("install\\a.txt") + "\r\nCreateFile " + At("install\\b.dll") + "\r\n", Log());
}

}  // namespace
