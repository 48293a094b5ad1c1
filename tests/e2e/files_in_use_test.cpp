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

#include "files_in_use.h"
#include "support/restart_queue.h"

namespace {

using namespace install_e2e;

// The [Rename] entries of wininit.ini, in file order.
std::vector<std::string> RenameEntries() {
    std::vector<char> section(32767, '\0');
    DWORD length = GetPrivateProfileSectionA("Rename", section.data(), static_cast<DWORD>(section.size()),
                                             restart_queue::WininitPath().c_str());
    std::vector<std::string> entries;
    for (DWORD at = 0; at < length;) {
        std::string entry(section.data() + at);
        entries.push_back(entry);
        at += static_cast<DWORD>(entry.size()) + 1;
    }
    return entries;
}

TEST(InstallFilesInUse, RetryDeletesTheFileOnceReleased) {
    restart_queue::PendingOperationsGuard pending;
    FileInUseRun run;
    ASSERT_TRUE(run.FailWhileHoldingTheCopy());
    // Still held: the question comes again.
    ASSERT_TRUE(run.Setup().Answer(FileInUseQuestion(run.HeldPath()), IDYES));
    HWND again = run.Setup().WaitForBox(FileInUseQuestion(run.HeldPath()));
    ASSERT_NE(again, nullptr);
    run.Release();
    ASSERT_TRUE(run.Setup().Press(again, IDYES));
    EXPECT_EQ(run.Setup().ExitWithoutFurtherWindow(), std::optional<DWORD>(1));
    EXPECT_TRUE(run.MachineAsBefore());
    EXPECT_FALSE(restart_queue::IsPending(run.HeldPath()));
}

TEST(InstallFilesInUse, DeclinedRetryQueuesTheFileOnNt) {
    fixture::WindowsVersion version("winxp");
    ASSERT_TRUE(version.Applied());
    restart_queue::PendingOperationsGuard pending;
    FileInUseRun run;
    ASSERT_TRUE(run.FailWhileHoldingTheCopy());
    ASSERT_TRUE(run.DeclineRetry());
    ASSERT_TRUE(run.Setup().Answer(RestartQuestion(), IDNO));
    EXPECT_EQ(run.Setup().ExitWithoutFurtherWindow(), std::optional<DWORD>(1));
    EXPECT_TRUE(restart_queue::IsPending(run.HeldPath()));
    EXPECT_TRUE(run.OnlyTheHeldFileStays());
}

TEST(InstallFilesInUse, DeclinedRetryQueuesTheFileInWininitOnWindows98) {
    fixture::WindowsVersion version("win98");
    ASSERT_TRUE(version.Applied());
    restart_queue::PendingOperationsGuard pending;
    restart_queue::WininitGuard wininit;
    ASSERT_TRUE(fixture::WriteTextFile(wininit.Path(), "[Rename]\r\nNUL=C:\\KEPT.TXT\r\n"));
    FileInUseRun run;
    ASSERT_TRUE(run.FailWhileHoldingTheCopy());
    std::string shortPath = restart_queue::ShortPathOf(run.HeldPath());
    ASSERT_FALSE(shortPath.empty());
    ASSERT_TRUE(run.DeclineRetry());
    ASSERT_TRUE(run.Setup().Answer(RestartQuestion(), IDNO));
    EXPECT_EQ(run.Setup().ExitWithoutFurtherWindow(), std::optional<DWORD>(1));
    EXPECT_EQ(RenameEntries(), (std::vector<std::string>{"NUL=C:\\KEPT.TXT", "NUL=" + shortPath}));
    EXPECT_FALSE(restart_queue::IsPending(run.HeldPath()));
    EXPECT_TRUE(run.OnlyTheHeldFileStays());
}

}  // namespace
