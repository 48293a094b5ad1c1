// Before the first test: wait until programs started from here can show
// windows. Wine closes its desktop about a second after the last program of
// the previous test run ended; a program that starts while it closes fails
// on its first window (an X "BadWindow" error) and ends without showing it,
// until a new desktop is up. Once this program has used the desktop, it
// stays up for the rest of the run.
#include <gtest/gtest.h>

#include "support/prefix.h"
#include "support/robot.h"

namespace {

const DWORD ProbeWindowMs = 10000;
const DWORD ReadyTimeoutMs = 30000;

// setup.exe -x shows one box and ends when it is answered.
bool ProbeShowsAWindow() {
    fixture::ChildProcess probe;
    if (!probe.Start(fixture::SetupExePath(), "-x"))
        return false;
    DWORD start = GetTickCount();
    while (probe.Running() && GetTickCount() - start < ProbeWindowMs) {
        HWND box = robot::FindWindowOfProcess(probe.ProcessId(), 50);
        if (box) {
            robot::Dismiss(box);
            return true;
        }
    }
    return false;
}

class DesktopReady : public ::testing::Environment {
public:
    void SetUp() override {
        DWORD start = GetTickCount();
        while (!ProbeShowsAWindow()) {
            if (GetTickCount() - start >= ReadyTimeoutMs) {
                FAIL() << "no program started from here could show a window within " << ReadyTimeoutMs << " ms";
            }
            Sleep(500);
        }
    }
};

::testing::Environment* const Ready = ::testing::AddGlobalTestEnvironment(new DesktopReady);

}  // namespace
