// Directories, shortcut files and file copies of an installation, made for
// real in a scratch folder, with the lines they add to the installation log.
#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>

#include <deque>
#include <string>
#include <vector>

#include "common/setup_state.h"
#include "install/file_actions.h"
#include "support/prefix.h"
#include "support/responder.h"
#include "support/shortcut_reader.h"

namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool IsDirectory(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFile(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}


class FileActionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::Setup = SetupState();  // the installation log starts empty too
        ::Setup.InstanceHandle = GetModuleHandleA(nullptr);
        CoInitialize(nullptr);
        root_ = scratch_.Path();
        ASSERT_FALSE(root_.empty());
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
    std::string root_;
    std::deque<std::string> kept_;
};

// --- Directories --------------------------------------------------------------

enum WhatIsThere { Nothing, ExistingDirectory, ExistingFile, NoParent };

struct DirectoryCase {
    const char* Name;
    WhatIsThere Before;
    std::vector<int> Answers;
    bool Created;
    const char* Box;  // the message, "%s" standing for the path; null: none
    bool BoxIsPrefix;
};

class CreateDirectoryTest : public FileActionTest, public ::testing::WithParamInterface<DirectoryCase> {};

TEST_P(CreateDirectoryTest, CreatesOrAsksAndLogs) {
    const DirectoryCase& c = GetParam();
    std::string path = At(c.Before == NoParent ? "missing\\dir" : "dir");
    if (c.Before == ExistingDirectory) {
        MakeDirectory("dir");
        ASSERT_TRUE(scratch_.Write("dir\\kept.txt", "kept"));
    }
    if (c.Before == ExistingFile) {
        ASSERT_TRUE(scratch_.Write("dir", "a file"));
    }

    ScriptedResponder responder(c.Answers);
    EXPECT_EQ(CreateLoggedDirectory(path.c_str()), c.Created);

    EXPECT_EQ(Log(), c.Created ? "CreateDir " + path + "\r\n" : "");
    if (!c.Box) {
        EXPECT_TRUE(responder.Boxes().empty());
    } else {
        ASSERT_EQ(responder.Boxes().size(), 1u);
        std::string box = c.Box;
        box.replace(box.find("%s"), 2, path);
        const RecordedBox& shown = responder.Boxes()[0];
        EXPECT_EQ(c.BoxIsPrefix ? shown.Text.substr(0, box.size()) : shown.Text, box);
        EXPECT_EQ(shown.Title, "Setup");
        // The question is Yes/No with No as the default; errors have OK only.
        EXPECT_EQ(shown.Type, c.Answers.empty() ? (UINT)MB_ICONERROR : 0x134u);
        EXPECT_EQ(shown.Owner, nullptr);
    }
    EXPECT_EQ(IsDirectory(path), c.Before == Nothing || c.Before == ExistingDirectory);
    if (c.Before == ExistingDirectory) {
        EXPECT_EQ(fixture::ReadTextFile(At("dir\\kept.txt")), "kept") << "nothing in it is touched";
    }
    EXPECT_FALSE(IsDirectory(At("missing"))) << "no parent is made";
}

const char AlreadyExists[] = "Directory \"%s\" already exists.\nDo you want to overwrite it?";

INSTANTIATE_TEST_SUITE_P(
    Cases, CreateDirectoryTest,
    ::testing::Values(DirectoryCase{"New", Nothing, {}, true, nullptr, false},
                      DirectoryCase{"ExistingYes", ExistingDirectory, {IDYES}, true, AlreadyExists, false},
                      DirectoryCase{"ExistingNo", ExistingDirectory, {IDNO}, false, AlreadyExists, false},
                      DirectoryCase{"MissingParent", NoParent, {}, false, "Cannot create directory \"%s\" (0/3 - ",
                                    true},
                      DirectoryCase{"FileOfThatName", ExistingFile, {}, false,
                                    "Cannot create directory \"%s\" (0/183 - ", true}),
    [](const ::testing::TestParamInfo<DirectoryCase>& info) { return std::string(info.param.Name); });

TEST_F(FileActionTest, ProgramGroupIsTheExpandedGroupInTheStartMenuFolder) {
    MakeDirectory("Programs");
    ::Setup.LocalProgramsFolder = Keep(At("Programs"));
    ::Setup.StartMenuFolder = Keep("%LocalProgramsFolder%");
    ::Setup.AppName = Keep("Sample");
    char directory[PathBufferSize];
    ScriptedResponder responder;
    ASSERT_TRUE(CreateProgramGroup("%AppName% Tools", directory, sizeof directory));
    EXPECT_EQ(std::string(directory), At("Programs\\Sample Tools"));
    EXPECT_TRUE(IsDirectory(directory));
    EXPECT_EQ(Log(), "CreateDir " + At("Programs\\Sample Tools") + "\r\n");

    // A group path that does not fit is reported, and nothing is made.
    std::string longName(PathBufferSize - At("Programs\\").size(), 'g');
    EXPECT_FALSE(CreateProgramGroup(longName.c_str(), directory, sizeof directory));
    ASSERT_EQ(responder.Boxes().size(), 1u);
    EXPECT_EQ(responder.Boxes()[0].Text, "Text is too long after expansion: " + longName);
    EXPECT_EQ(Log(), "CreateDir " + At("Programs\\Sample Tools") + "\r\n");
}

// --- Shortcuts ------------------------------------------------------------------

TEST_F(FileActionTest, LinksAreSavedInTheProgramGroupAndLogged) {
    MakeDirectory("Programs");
    ::Setup.LocalProgramsFolder = Keep(At("Programs"));
    ::Setup.StartMenuFolder = Keep("%LocalProgramsFolder%");
    ::Setup.ProgramGroup = Keep("Sample Group");
    ::Setup.AppName = Keep("Sample");
    ::Setup.InstallDir = Keep(At("Install"));
    std::vector<EntryRecord> files;
    std::vector<EntryRecord> links = {
        {Keep("Read me"), Keep("%InstallDir%\\readme.txt"), Keep("")},
        {Keep("Notepad"), Keep("notepad.exe"), Keep("%AppName%.txt")},
        {Keep("Uninstall %AppName%"), Keep("%InstallDir%\\setup.exe"), Keep("-u")},
    };
    UseTables(&files, &links);
    ScriptedResponder responder;
    ASSERT_TRUE(CreateLinks());

    std::string group = At("Programs\\Sample Group");
    EXPECT_EQ(Log(), "CreateDir " + group + "\r\n" + "CreateFile " + group + "\\Read me.lnk\r\n" + "CreateFile " +
                         group + "\\Notepad.lnk\r\n" + "CreateFile " + group + "\\Uninstall Sample.lnk\r\n");

    std::optional<ShortcutFields> readme = ReadShortcutWithShell(group + "\\Read me.lnk");
    ASSERT_TRUE(readme);
    EXPECT_EQ(readme->Target, At("Install\\readme.txt"));
    EXPECT_EQ(readme->Arguments, "");
    EXPECT_EQ(readme->WorkingDirectory, At("Install"));
    EXPECT_EQ(readme->Description, "Read me");

    // Arguments are kept as written, not expanded.
    std::optional<ShortcutFields> notepad = ReadShortcutWithShell(group + "\\Notepad.lnk");
    ASSERT_TRUE(notepad);
    EXPECT_EQ(notepad->Arguments, "%AppName%.txt");
    EXPECT_EQ(notepad->WorkingDirectory, "") << "a bare file name has no directory";

    // The file name is expanded, the description is not.
    std::optional<ShortcutFields> uninstall = ReadShortcutWithShell(group + "\\Uninstall Sample.lnk");
    ASSERT_TRUE(uninstall);
    EXPECT_EQ(uninstall->Target, At("Install\\setup.exe"));
    EXPECT_EQ(uninstall->Arguments, "-u");
    EXPECT_EQ(uninstall->WorkingDirectory, At("Install"));
    EXPECT_EQ(uninstall->Description, "Uninstall %AppName%");
}

TEST_F(FileActionTest, LinksStopAtTheFirstFailure) {
    MakeDirectory("Programs");
    ::Setup.StartMenuFolder = Keep(At("Programs"));
    ::Setup.ProgramGroup = Keep("Group");
    ::Setup.WindowsDir = Keep(std::string(200, 'w'));
    std::vector<EntryRecord> files;
    std::vector<EntryRecord> links = {
        {Keep("First"), Keep("C:\\first.exe"), Keep("")},
        {Keep("Too long"), Keep("%WindowsDir%\\%WindowsDir%"), Keep("")},
        {Keep("Third"), Keep("C:\\third.exe"), Keep("")},
    };
    UseTables(&files, &links);
    ScriptedResponder responder;
    EXPECT_FALSE(CreateLinks());
    ASSERT_EQ(responder.Boxes().size(), 1u);
    EXPECT_EQ(responder.Boxes()[0].Text, "Text is too long after expansion: %WindowsDir%\\%WindowsDir%");
    std::string group = At("Programs\\Group");
    EXPECT_EQ(Log(), "CreateDir " + group + "\r\nCreateFile " + group + "\\First.lnk\r\n");
    EXPECT_TRUE(IsFile(group + "\\First.lnk"));
    EXPECT_FALSE(IsFile(group + "\\Third.lnk"));
}

TEST_F(FileActionTest, ShortcutIntoAMissingFolderIsReported) {
    ScriptedResponder responder;
    EXPECT_FALSE(CreateShortcut(At("missing").c_str(), "Name", "C:\\target.exe", ""));
    ASSERT_EQ(responder.Boxes().size(), 1u);
    EXPECT_TRUE(StartsWith(responder.Boxes()[0].Text, "Cannot save shortcut file (7/3 - "))
        << responder.Boxes()[0].Text;
    EXPECT_EQ(Log(), "");
}

TEST_F(FileActionTest, ShortcutPathWithItsExtensionMustFitAPath) {
    // A folder whose path leaves room for a name of exactly `room` characters
    // before the 259 of a whole path: path + "\" + name + ".lnk".
    std::string folder = At(std::string(200 - root_.size() - 1, 'f'));
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    size_t room = PathBufferSize - 1 - folder.size() - 1 - 4;
    std::string fits(room, 'n');
    std::string tooLong(room + 1, 'n');
    ScriptedResponder responder;
    EXPECT_TRUE(CreateShortcut(folder.c_str(), fits.c_str(), "C:\\target.exe", ""));
    std::string saved = folder + "\\" + fits + ".lnk";
    EXPECT_EQ(saved.size(), static_cast<size_t>(PathBufferSize - 1));
    EXPECT_TRUE(IsFile(saved));
    EXPECT_EQ(Log(), "CreateFile " + saved + "\r\n");

    EXPECT_FALSE(CreateShortcut(folder.c_str(), tooLong.c_str(), "C:\\target.exe", ""));
    ASSERT_EQ(responder.Boxes().size(), 1u);
    EXPECT_EQ(responder.Boxes()[0].Text, "Text is too long after expansion: " + tooLong);
    EXPECT_EQ(Log(), "CreateFile " + saved + "\r\n");
}

// --- File copies ----------------------------------------------------------------

TEST_F(FileActionTest, FilesAreCopiedOverExistingOnesAndLogged) {
    MakeDirectory("work");
    MakeDirectory("source");
    MakeDirectory("install");
    ASSERT_TRUE(scratch_.Write("work\\a.txt", "from the work folder"));
    ASSERT_TRUE(scratch_.Write("source\\b.dll", "from its own folder"));
    ASSERT_TRUE(scratch_.Write("install\\b.dll", "an older copy"));
    ::Setup.WorkDir = Keep(At("work"));
    ::Setup.WindowsDir = Keep(root_);
    // Typed with a reference: the destination is expanded once more.
    ::Setup.InstallDir = Keep("%WindowsDir%\\install");
    std::vector<EntryRecord> files = {
        {Keep("a.txt"), Keep("%InstallDir%"), Keep("")},
        {Keep("b.dll"), Keep("%InstallDir%"), Keep(At("source"))},
    };
    std::vector<EntryRecord> links;
    UseTables(&files, &links);
    ScriptedResponder responder;
    ASSERT_TRUE(CopyFiles());
    EXPECT_EQ(fixture::ReadTextFile(At("install\\a.txt")), "from the work folder");
    EXPECT_EQ(fixture::ReadTextFile(At("install\\b.dll")), "from its own folder");
    EXPECT_EQ(Log(), "CreateFile " + At("install\\a.txt") + "\r\nCreateFile " + At("install\\b.dll") + "\r\n");
    EXPECT_TRUE(responder.Boxes().empty());
}

TEST_F(FileActionTest, CopiesStopAtTheFirstFailure) {
    MakeDirectory("work");
    MakeDirectory("install");
    ASSERT_TRUE(scratch_.Write("work\\first.txt", "1"));
    ASSERT_TRUE(scratch_.Write("work\\last.txt", "3"));
    ::Setup.WorkDir = Keep(At("work"));
    ::Setup.InstallDir = Keep(At("install"));
    struct Failure {
        const char* File;
        const char* Destination;  // as the script gives it
        const char* CopiedTo;     // below the scratch folder
        const char* Code;
    };
    // A missing source; a destination folder that nothing created.
    const Failure failures[] = {{"missing.txt", "%InstallDir%", "install\\missing.txt", "0/2 - "},
                                {"last.txt", "%InstallDir%\\sub", "install\\sub\\last.txt", "0/3 - "}};
    for (const Failure& failure : failures) {
        ::Setup.InstallLog = InstallLogText();
        DeleteFileA(At("install\\first.txt").c_str());
        std::vector<EntryRecord> files = {
            {Keep("first.txt"), Keep("%InstallDir%"), Keep("")},
            {Keep(failure.File), Keep(failure.Destination), Keep("")},
            {Keep("last.txt"), Keep("%InstallDir%"), Keep("")},
        };
        std::vector<EntryRecord> links;
        UseTables(&files, &links);
        ScriptedResponder responder;
        EXPECT_FALSE(CopyFiles());
        std::string source = At("work\\") + failure.File;
        std::string destination = At(failure.CopiedTo);
        ASSERT_EQ(responder.Boxes().size(), 1u);
        EXPECT_TRUE(StartsWith(responder.Boxes()[0].Text,
                               "Cannot copy " + source + " to " + destination + " (" + failure.Code))
            << responder.Boxes()[0].Text;
        EXPECT_EQ(Log(), "CreateFile " + At("install\\first.txt") + "\r\n");
        EXPECT_TRUE(IsFile(At("install\\first.txt")));
        EXPECT_FALSE(IsFile(At("install\\last.txt")));
        EXPECT_FALSE(IsDirectory(At("install\\sub"))) << "no folder is made for a copy";
    }
}

}  // namespace
