// Yes to the restart question after a rolled-back installation queued a
// file in use: the real setup.exe restarts Wine, and the file is gone
// afterwards. The restart ends every windowed program of the prefix, so
// these tests run only in a throwaway prefix of their own
// (restart_in_throwaway_prefix.sh says so through the environment) and are
// skipped in the shared one.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "files_in_use.h"

namespace {

using namespace install_e2e;

const char ThrowawayPrefixVariable[] = "SETUP_E2E_THROWAWAY_PREFIX";
// Wine ends the programs of the prefix and carries out the queued
// operations within a second or two; this leaves room for a slow machine.
const DWORD RestartTimeoutMs = 60000;

bool InThrowawayPrefix() {
    char value[8];
    return GetEnvironmentVariableA(ThrowawayPrefixVariable, value, sizeof value) > 0;
}

bool WaitUntilGone(const std::string& path, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (FileExists(path)) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(100);
    }
    return true;
}

// Queues data.bin, lets it go and answers Yes to the restart question.
void RestartAndExpectTheFileGone(FileInUseRun& run) {
    ASSERT_TRUE(run.FailWhileHoldingTheCopy());
    ASSERT_TRUE(run.DeclineRetry());
    HWND question = run.Setup().WaitForBox(RestartQuestion());
    ASSERT_NE(question, nullptr);
    ASSERT_TRUE(FileExists(run.HeldPath()));
    run.Release();
    ASSERT_TRUE(run.Setup().Press(question, IDYES));
    // The program ends by itself or with the other programs of the prefix.
    EXPECT_TRUE(run.Setup().Process().WaitForExit(RestartTimeoutMs).has_value());
    EXPECT_TRUE(WaitUntilGone(run.HeldPath(), RestartTimeoutMs)) << run.HeldPath() << " is still there";
}

TEST(InstallRestart, QueuedFileIsGoneAfterTheRestartOnNt) {
    if (!InThrowawayPrefix())
        GTEST_SKIP() << "restarts Wine: runs only in a throwaway prefix (" << ThrowawayPrefixVariable << ")";
    FileInUseRun run;
    RestartAndExpectTheFileGone(run);
}

TEST(InstallRestart, QueuedFileIsGoneAfterTheRestartOnWindows98) {
    if (!InThrowawayPrefix())
        GTEST_SKIP() << "restarts Wine: runs only in a throwaway prefix (" << ThrowawayPrefixVariable << ")";
    fixture::WindowsVersion version("win98");
    ASSERT_TRUE(version.Applied());
    FileInUseRun run;
    RestartAndExpectTheFileGone(run);
}

}  // namespace
