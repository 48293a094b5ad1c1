// A file in use when the rollback of the real setup.exe wants to delete it:
// the copy stage fails after data.bin was copied, and the test holds the
// copy open without delete sharing, so its deletion fails with a sharing
// violation. Yes retries; No queues the file for deletion at the next
// restart (NT's pending operations, wininit.ini on Windows 9x) and the
// restart question comes at the end.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"
#include "support/prefix.h"
#include "support/restart_queue.h"

namespace {

using namespace e2e;

const char HeldContents[] = "data held open by the test\r\n";

// The product: data.bin, then missing.dat, which is not there.
struct FileInUseRun {
    FileInUseRun() {
        Sample.Files = {{"data.bin", "%InstallDir%", "", HeldContents}, {"missing.dat", "%InstallDir%", "", "", true}};
        EXPECT_TRUE(Space.LayOut(Sample));
        ProgramsBefore = fixture::TreeSnapshot::Take(Space.Programs());
        MenuBefore = fixture::TreeSnapshot::Take(Space.Menu());
    }
    ~FileInUseRun() { Release(); }

    // Installs up to the error about missing.dat, then opens the copied
    // data.bin and presses OK: the rollback starts and comes to data.bin.
    bool FailWhileHoldingTheCopy() {
        if (!Setup.Start(Space.SetupExe(), "", Space.Root()) ||
            !Setup.ReachInstallation(Sample, InstallDir, "E2E Product"))
            return false;
        HWND copyError = Setup.WaitForBox(ErrorBox(
            "Cannot copy " + Space.Dist() + "\\missing.dat to " + InstallDir + "\\missing.dat", ERROR_FILE_NOT_FOUND));
        Held = CreateFileA(HeldPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(Held, INVALID_HANDLE_VALUE) << "cannot open " << HeldPath << ": error " << GetLastError();
        return copyError && Held != INVALID_HANDLE_VALUE && Press(copyError, IDOK);
    }
    // No to the retry question: the file is queued, the rollback goes on and
    // cannot remove the installation directory, which still holds the file.
    bool DeclineRetry() {
        return Setup.Answer(FileInUseQuestion(HeldPath), IDNO) &&
               Setup.Answer(ErrorBox("Cannot delete directory " + InstallDir, ERROR_DIR_NOT_EMPTY), IDOK);
    }
    void Release() {
        if (Held != INVALID_HANDLE_VALUE)
            CloseHandle(Held);
        Held = INVALID_HANDLE_VALUE;
    }
    // What changed in the installation directory's parent and the
    // Start-menu folder since before the run.
    std::string Changes() const {
        return fixture::DescribeChanges(ProgramsBefore, fixture::TreeSnapshot::Take(Space.Programs())) +
               fixture::DescribeChanges(MenuBefore, fixture::TreeSnapshot::Take(Space.Menu()));
    }

    Workspace Space;
    Product Sample = Space.SampleProduct();
    const std::string InstallDir = Space.Programs() + "\\E2E Product";
    const std::string HeldPath = InstallDir + "\\data.bin";
    fixture::TreeSnapshot ProgramsBefore;
    fixture::TreeSnapshot MenuBefore;
    HANDLE Held = INVALID_HANDLE_VALUE;
    SetupRun Setup;
};

const std::string OnlyTheHeldFileStays =
    "added folder E2E Product\nadded file E2E Product\\data.bin (" + std::to_string(sizeof HeldContents - 1) +
    " bytes)\n";

// The [Rename] entries of wininit.ini, in file order.
std::vector<std::string> RenameEntries() {
    std::vector<char> section(32767, '\0');
    DWORD length = GetPrivateProfileSectionA("Rename", section.data(), static_cast<DWORD>(section.size()),
                                             restart_queue::WininitPath().c_str());
    std::vector<std::string> entries;
    for (DWORD at = 0; at < length; at += static_cast<DWORD>(entries.back().size()) + 1)
        entries.push_back(section.data() + at);
    return entries;
}

TEST(InstallFilesInUse, RetryDeletesTheFileOnceReleased) {
    restart_queue::PendingOperationsGuard pending;
    FileInUseRun run;
    ASSERT_TRUE(run.FailWhileHoldingTheCopy());
    // Still held: the question comes again.
    ASSERT_TRUE(run.Setup.Answer(FileInUseQuestion(run.HeldPath), IDYES));
    HWND again = run.Setup.WaitForBox(FileInUseQuestion(run.HeldPath));
    ASSERT_NE(again, nullptr);
    run.Release();
    ASSERT_TRUE(Press(again, IDYES));
    EXPECT_EQ(run.Setup.ExitWithoutFurtherWindow(), std::optional<DWORD>(1));
    EXPECT_EQ(run.Changes(), "");
    EXPECT_FALSE(restart_queue::IsPending(run.HeldPath));
}

// NT queues the file among its pending operations, Windows 9x behind the
// entries of wininit.ini that were there.
void DeclineTheRetry(const char* versionName, bool windows9x) {
    fixture::WindowsVersion version(versionName);
    ASSERT_TRUE(version.Applied());
    restart_queue::PendingOperationsGuard pending;
    restart_queue::WininitGuard wininit;
    ASSERT_TRUE(fixture::WriteTextFile(wininit.Path(), "[Rename]\r\nNUL=C:\\KEPT.TXT\r\n"));
    FileInUseRun run;
    ASSERT_TRUE(run.FailWhileHoldingTheCopy());
    std::string shortPath = restart_queue::ShortPathOf(run.HeldPath);
    ASSERT_FALSE(shortPath.empty());
    ASSERT_TRUE(run.DeclineRetry());
    ASSERT_TRUE(run.Setup.Answer(RestartQuestion(), IDNO));
    EXPECT_EQ(run.Setup.ExitWithoutFurtherWindow(), std::optional<DWORD>(1));
    EXPECT_EQ(restart_queue::IsPending(run.HeldPath), !windows9x);
    std::vector<std::string> entries = {"NUL=C:\\KEPT.TXT"};
    if (windows9x)
        entries.push_back("NUL=" + shortPath);
    EXPECT_EQ(RenameEntries(), entries);
    EXPECT_EQ(run.Changes(), OnlyTheHeldFileStays);
}

TEST(InstallFilesInUse, DeclinedRetryQueuesTheFileForTheRestart) {
    for (bool windows9x : {false, true}) {
        SCOPED_TRACE(windows9x ? "Windows 98" : "Windows XP");
        DeclineTheRetry(windows9x ? "win98" : "winxp", windows9x);
    }
}

// Yes to the restart question restarts Wine, and the queued file is gone
// afterwards. The restart ends every windowed program of the prefix, so
// these tests run only in a throwaway prefix of their own
// (restart_in_throwaway_prefix.sh says so through the environment) and are
// skipped in the shared one.
const char ThrowawayPrefixVariable[] = "SETUP_E2E_THROWAWAY_PREFIX";
// Wine ends the programs of the prefix and carries out the queued
// operations within a second or two; this leaves room for a slow machine.
const DWORD RestartTimeoutMs = 60000;

void RestartAndExpectTheFileGone(const char* versionName) {
    char value[8];
    if (!GetEnvironmentVariableA(ThrowawayPrefixVariable, value, sizeof value))
        GTEST_SKIP() << "restarts Wine: runs only in a throwaway prefix (" << ThrowawayPrefixVariable << ")";
    fixture::WindowsVersion version(versionName);
    ASSERT_TRUE(version.Applied());
    FileInUseRun run;
    ASSERT_TRUE(run.FailWhileHoldingTheCopy());
    ASSERT_TRUE(run.DeclineRetry());
    HWND question = run.Setup.WaitForBox(RestartQuestion());
    ASSERT_NE(question, nullptr);
    ASSERT_TRUE(Exists(run.HeldPath));
    run.Release();
    ASSERT_TRUE(Press(question, IDYES));
    // The program ends by itself or with the other programs of the prefix.
    EXPECT_TRUE(run.Setup.WaitForExit(RestartTimeoutMs).has_value());
    EXPECT_TRUE(WaitUntilGone(run.HeldPath, RestartTimeoutMs)) << run.HeldPath << " is still there";
}

TEST(InstallRestart, QueuedFileIsGoneAfterTheRestartOnNt) {
    RestartAndExpectTheFileGone(nullptr);
}

TEST(InstallRestart, QueuedFileIsGoneAfterTheRestartOnWindows98) {
    RestartAndExpectTheFileGone("win98");
}

}  // namespace
