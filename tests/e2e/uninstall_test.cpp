// The uninstall of the real setup.exe on an installation laid out by hand:
// when it stops before undoing anything (the user declines, install.log
// lacks the product name or is missing, the event is taken or missing), and
// what it leaves behind and why: files in use during the second stage
// (retried, or queued for the next restart) and the user's own files,
// which it never touches.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/e2e_support.h"
#include "support/prefix.h"
#include "support/restart_queue.h"
#include "support/robot.h"

namespace {

using namespace e2e;

const char AppName[] = "Uninstall Test";

// An installation below a root folder, as the installer leaves it: the
// installation directory (its name holds blanks) with setup.exe,
// install.log and two product files, and a program-group folder with one
// shortcut file.
struct Installation {
    explicit Installation(const std::string& root)
        : Dir(root + "\\Uninstall Test Product"),
          Group(root + "\\Uninstall Test Group"),
          Setup(Dir + "\\setup.exe"),
          ProductFiles{Dir + "\\readme.txt", Dir + "\\data file.bin"},
          Shortcut(Group + "\\Read Me.lnk") {}

    // The install.log lines the installer writes for it, in its order.
    std::vector<std::string> LogLines() const {
        std::vector<std::string> lines = {std::string("AppName ") + AppName, "CreateDir " + Dir,
                                          "CreateFile " + Dir + "\\install.log", "CreateDir " + Group,
                                          "CreateFile " + Shortcut};
        for (const std::string& file : ProductFiles)
            lines.push_back("CreateFile " + file);
        lines.push_back("CreateFile " + Setup);
        return lines;
    }

    // Makes the folders and files, and install.log from `lines`.
    bool LayOut(const std::vector<std::string>& lines) const {
        bool made = fixture::WriteTextFile(Dir + "\\install.log", LogText(lines)) &&
                    fixture::WriteTextFile(Shortcut, "shortcut of " + ProductFiles[0]) &&
                    CopyFileA(fixture::SetupExePath().c_str(), Setup.c_str(), TRUE);
        for (const std::string& file : ProductFiles)
            made = made && fixture::WriteTextFile(file, "contents of " + file);
        return made;
    }

    std::string Dir;
    std::string Group;
    std::string Setup;                      // a copy of the tested program
    std::vector<std::string> ProductFiles;  // in the order the log lists them
    std::string Shortcut;
};

struct RefusalCase {
    const char* Name;
    bool WithoutAppName;
    bool WithoutLog;
    bool HoldEvent;            // the test holds the first stage's event
    bool CopyWithoutEvent;     // run as the second stage's copy ("-u 1234 <dir>") instead of "-u"
    ExpectedBox Box;
    int Button;
    DWORD ExitCode;
};

// Nothing is undone: the tree stays as laid out, whatever the process says.
void Refuse(const RefusalCase& c) {
    fixture::ScratchDir root;
    Installation installation(root.Path());
    std::vector<std::string> lines = installation.LogLines();
    if (c.WithoutAppName)
        lines.erase(lines.begin());
    ASSERT_TRUE(installation.LayOut(lines));
    ASSERT_TRUE(!c.WithoutLog || DeleteFileA(fixture::JoinPath(installation.Dir, "install.log").c_str()));
    HANDLE held = nullptr;
    if (c.HoldEvent) {
        held = CreateEventA(nullptr, FALSE, FALSE, SyncEventName(installation.Dir).c_str());
        ASSERT_NE(held, nullptr);
        ASSERT_EQ(GetLastError(), 0u);
    }
    fixture::TreeSnapshot before = fixture::TreeSnapshot::Take(root.Path());

    fixture::ChildProcess setup;
    ASSERT_TRUE(c.CopyWithoutEvent
                    ? setup.Start(fixture::SetupExePath(), "-u 1234 " + installation.Dir, installation.Dir)
                    : setup.Start(installation.Setup, "-u", installation.Dir));
    EXPECT_TRUE(AnswerBox(setup.ProcessId(), c.Box, c.Button));
    EXPECT_EQ(setup.WaitForExit(ExitTimeoutMs), std::optional<DWORD>(c.ExitCode));
    // No copy was started.
    EXPECT_TRUE(setup.ProcessIds().empty());
    EXPECT_TRUE(fixture::SameTree(before, fixture::TreeSnapshot::Take(root.Path())));
    // The held event is the test's own again; otherwise none is left.
    EXPECT_EQ(SyncEventExists(installation.Dir), c.HoldEvent);
    if (held)
        CloseHandle(held);
}

TEST(UninstallRefusals, StopWithoutUndoingAnything) {
    const RefusalCase cases[] = {
        {"the user answers No", false, false, false, false, UninstallQuestion(AppName), IDNO, 0},
        {"install.log without AppName", true, false, false, false,
         ErrorBox("No AppName event in install.log file"), IDOK, 0},
        {"no install.log", false, true, false, false,
         ErrorBox("Cannot open file install.log", ERROR_FILE_NOT_FOUND), IDOK, 1},
        {"a first stage for the directory runs", false, false, true, false,
         ErrorBox("Cannot create sync event", ERROR_ALREADY_EXISTS), IDOK, 1},
        {"the copy finds no event", false, false, false, true,
         ErrorBox("Cannot open sync event", ERROR_FILE_NOT_FOUND), IDOK, 1},
    };
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.Name);
        Refuse(c);
    }
}

// Opens a file as a program that uses it would: others may read it, nobody
// may delete it.
HANDLE HoldOpen(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << path;
    return file;
}

// The uninstall removes only what install.log lists: the user's own files
// stay, and a listed file that is already gone is passed over in silence.
// The second stage meets two product files in use. The first is released
// while its question shows and goes with Yes; the second stays in use and
// No queues it for the next restart. Then the directory that holds it and
// the user's file stays, no completion is shown, and the restart question
// ends the run.
TEST(UninstallLeftovers, FilesInUseAreRetriedOrQueuedAndUserFilesStay) {
    restart_queue::PendingOperationsGuard pendingGuard;
    fixture::ScratchDir root;
    Installation installation(root.Path());
    ASSERT_TRUE(fixture::WriteTextFile(fixture::JoinPath(installation.Dir, "my notes.txt"), "mine\r\n"));
    ASSERT_TRUE(fixture::WriteTextFile(root.Join("beside.txt"), "also mine\r\n"));
    fixture::TreeSnapshot before = fixture::TreeSnapshot::Take(root.Path());
    std::vector<std::string> lines = installation.LogLines();
    lines.push_back("CreateFile " + fixture::JoinPath(installation.Dir, "never made.txt"));
    ASSERT_TRUE(installation.LayOut(lines));
    // The log lists readme.txt before "data file.bin": it is undone after it.
    const std::string& queued = installation.ProductFiles[0];
    const std::string& released = installation.ProductFiles[1];
    HANDLE queuedFile = HoldOpen(queued);
    HANDLE releasedFile = HoldOpen(released);

    fixture::ChildProcess first;
    StartFirstStage(first, AppName, installation.Dir);
    TreeMember copy;
    if (!HasFatalFailure() && copy.Find(first)) {
        EXPECT_EQ(first.WaitForExit(ExitTimeoutMs), std::optional<DWORD>(0));
        // The question stays until the user answers; the file is let go
        // meanwhile, and Yes deletes it.
        EXPECT_NE(robot::FindWindowOfProcess(copy.Id(), WindowTimeoutMs), nullptr);
        CloseHandle(releasedFile);
        EXPECT_TRUE(AnswerBox(copy.Id(), FileInUseQuestion(released), IDYES));
        EXPECT_TRUE(AnswerBox(copy.Id(), FileInUseQuestion(queued), IDNO));
        ExpectedBox directoryStays = ErrorBox("Cannot delete directory " + installation.Dir, ERROR_DIR_NOT_EMPTY);
        EXPECT_TRUE(AnswerBox(copy.Id(), directoryStays, IDOK));
        EXPECT_TRUE(AnswerBox(copy.Id(), RestartQuestion(), IDNO));
        EXPECT_EQ(copy.WaitForExit(), std::optional<DWORD>(0));
        EXPECT_TRUE(WaitUntilGone(copy.Start().ImagePath, CopyGoneTimeoutMs));
    } else {
        CloseHandle(releasedFile);
    }
    EXPECT_TRUE(first.WaitForAll(ExitTimeoutMs));
    CloseHandle(queuedFile);
    EXPECT_FALSE(restart_queue::IsPending(released));
    EXPECT_TRUE(restart_queue::IsPending(queued));
    // Everything else of the installation is gone.
    EXPECT_EQ(fixture::DescribeChanges(before, fixture::TreeSnapshot::Take(root.Path())),
              "added file Uninstall Test Product\\readme.txt (" +
                  std::to_string(("contents of " + queued).size()) + " bytes)\n");
}

}  // namespace
