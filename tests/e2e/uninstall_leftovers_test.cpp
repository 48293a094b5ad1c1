// What the two-stage uninstall of the real setup.exe leaves behind, and why:
// files in use during the second stage (retried, or queued for the next
// restart), and the user's own files, which it never touches.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/uninstall_support.h"
#include "support/prefix.h"
#include "support/restart_queue.h"
#include "support/robot.h"

namespace {

using namespace uninstall_test;

const char RestartQuestion[] =
    "Uninstaller cannot delete some files because they are in use.\n"
    "To properly delete them, Windows must be restarted. If you choose\n"
    "to restart later, you must not try to install this product until\n"
    "the files will be deleted.\n\nRestart Windows now?";

ExpectedBox InUseQuestion(const std::string& path, int answer) {
    return ExpectedBox{"Setup",
                       "The file \"" + path +
                           "\" being deleted is currently in use. If there are active applications, they may use "
                           "this file and prevent it to be deleted. You can close some applications and retry delete "
                           "operation.\n\nIf all product files will be successfully deleted, no restart is required. "
                           "Otherwise, Windows must be restarted to complete uninstalling.\n\nRetry delete operation?",
                       false,
                       MB_ICONERROR,
                       {IDYES, IDNO},
                       IDYES,
                       answer};
}

ExpectedBox DirectoryStaysBox(const std::string& dir) {
    return ErrorBox("Cannot delete directory " + dir + " (0/145 - ", true);
}

// Opens a file as a program that uses it would: others may read it, nobody
// may delete it.
HANDLE HoldOpen(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << path;
    return file;
}

// The second stage meets two product files in use. The first is released
// while its question shows and goes with Yes; the second stays in use and
// No queues it for the next restart. Then the directory that holds it
// stays, no completion is shown, and the restart question ends the run.
TEST(UninstallLeftovers, FilesInUseAreRetriedOrQueuedForRestart) {
    restart_queue::PendingOperationsGuard pendingGuard;
    fixture::ScratchDir root;
    Installation installation = InstallationBelow(root.Path());
    ASSERT_TRUE(LayOut(installation, LogLines(installation)));
    // The log lists readme.txt before "data file.bin": it is undone after it.
    const std::string& queued = installation.ProductFiles[0];
    const std::string& released = installation.ProductFiles[1];
    HANDLE queuedFile = HoldOpen(queued);
    HANDLE releasedFile = HoldOpen(released);

    fixture::ChildProcess first;
    StartFirstStage(first, installation.Dir);
    TreeMember copy;
    if (!HasFatalFailure() && copy.FindTempProgram(first, "EXE", WindowTimeoutMs)) {
        EXPECT_EQ(first.WaitForExit(ExitTimeoutMs), std::optional<DWORD>(0));
        // The question stays until the user answers; the file is let go
        // meanwhile, and Yes deletes it.
        EXPECT_NE(robot::FindWindowOfProcess(copy.Id(), WindowTimeoutMs), nullptr);
        CloseHandle(releasedFile);
        releasedFile = INVALID_HANDLE_VALUE;
        AnswerBox(copy.Id(), InUseQuestion(released, IDYES));
        AnswerBox(copy.Id(), InUseQuestion(queued, IDNO));
        AnswerBox(copy.Id(), DirectoryStaysBox(installation.Dir));
        AnswerBox(copy.Id(),
                  ExpectedBox{"Setup", RestartQuestion, false, MB_ICONWARNING, {IDYES, IDNO}, IDYES, IDNO});
        DWORD code = 1;
        EXPECT_TRUE(copy.WaitForExit(ExitTimeoutMs, &code));
        EXPECT_EQ(code, 0u);
        EXPECT_TRUE(WaitUntilGone(copy.Start().ImagePath, CopyGoneTimeoutMs));
    }
    EXPECT_FALSE(Exists(released));
    EXPECT_TRUE(Exists(queued));
    EXPECT_TRUE(restart_queue::IsPending(queued));
    EXPECT_FALSE(restart_queue::IsPending(released));
    // Everything else of the installation is gone.
    for (const std::string& path : {installation.Setup, fixture::JoinPath(installation.Dir, "install.log"),
                                    installation.Shortcut, installation.Group})
        EXPECT_FALSE(Exists(path)) << path;
    if (releasedFile != INVALID_HANDLE_VALUE)
        CloseHandle(releasedFile);
    CloseHandle(queuedFile);
}

// The uninstall removes only what install.log lists: the user's own file in
// the installation directory stays, and with it the directory, which is
// reported; a listed file that is already gone is passed over in silence.
// Afterwards the tree is as it was before the installation.
TEST(UninstallLeftovers, UserFilesAndTheirDirectoryStay) {
    fixture::ScratchDir root;
    Installation installation = InstallationBelow(root.Path());
    ASSERT_TRUE(fixture::WriteTextFile(fixture::JoinPath(installation.Dir, "my notes.txt"), "mine\r\n"));
    ASSERT_TRUE(fixture::WriteTextFile(root.Join("beside.txt"), "also mine\r\n"));
    fixture::TreeSnapshot before = fixture::TreeSnapshot::Take(root.Path());
    std::vector<std::string> lines = LogLines(installation);
    lines.push_back("CreateFile " + fixture::JoinPath(installation.Dir, "never made.txt"));
    ASSERT_TRUE(LayOut(installation, lines));

    fixture::ChildProcess first;
    StartFirstStage(first, installation.Dir);
    TreeMember copy;
    if (!HasFatalFailure() && copy.FindTempProgram(first, "EXE", WindowTimeoutMs)) {
        AnswerBox(copy.Id(), DirectoryStaysBox(installation.Dir));
        AnswerBox(copy.Id(), CompletionBox());
        DWORD code = 1;
        EXPECT_TRUE(copy.WaitForExit(ExitTimeoutMs, &code));
        EXPECT_EQ(code, 0u);
    }
    EXPECT_TRUE(first.WaitForAll(ExitTimeoutMs));
    EXPECT_EQ(first.WaitForExit(0), std::optional<DWORD>(0));
    EXPECT_TRUE(fixture::SameTree(before, fixture::TreeSnapshot::Take(root.Path())));
}

}  // namespace
