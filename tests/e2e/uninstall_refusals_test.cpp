// The uninstall of the real setup.exe when it stops or does less: the user
// declines, install.log lacks the product name or is missing, the event is
// taken or missing, and the second stage started without synchronisation.
// Each case lays out an installation by hand and proves with a snapshot what
// was undone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/uninstall_support.h"
#include "support/prefix.h"

namespace {

using namespace uninstall_test;

std::vector<std::string> LinesWithout(const Installation& installation, const std::string& start) {
    std::vector<std::string> lines;
    for (const std::string& line : LogLines(installation)) {
        if (line.compare(0, start.size(), start) != 0)
            lines.push_back(line);
    }
    return lines;
}

struct RefusalCase {
    const char* Name;
    bool WithoutAppName;
    bool WithoutLog;
    bool HoldEvent;           // the test holds the first stage's event
    const char* Arguments;    // behind the program; "<dir>" stands for the installation directory
    bool InstalledProgram;    // run the installed copy (else the one beside the test)
    std::vector<ExpectedBox> Boxes;
    DWORD ExitCode;
};

std::string Expand(const std::string& arguments, const std::string& dir) {
    std::string result = arguments;
    size_t at = result.find("<dir>");
    if (at != std::string::npos)
        result.replace(at, 5, dir);
    return result;
}

// Nothing is undone: the tree stays as laid out, whatever the process says.
TEST(UninstallRefusals, StopWithoutUndoingAnything) {
    const RefusalCase cases[] = {
        {"the user answers No", false, false, false, "-u", true, {ConfirmationBox(IDNO)}, 0},
        {"install.log without AppName", true, false, false, "-u", true,
         {ErrorBox("No AppName event in install.log file")}, 0},
        {"no install.log", false, true, false, "-u", true, {ErrorBox("Cannot open file install.log (0/2 - ", true)}, 1},
        {"a first stage for the directory runs", false, false, true, "-u", true,
         {ErrorBox("Cannot create sync event (0/183 - ", true)}, 1},
        {"the copy finds no event", false, false, false, "-u 1234 <dir>", false,
         {ErrorBox("Cannot open sync event (0/2 - ", true)}, 1},
    };
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.Name);
        fixture::ScratchDir root;
        Installation installation = InstallationBelow(root.Path());
        ASSERT_TRUE(LayOut(installation, c.WithoutAppName ? LinesWithout(installation, "AppName ")
                                                          : LogLines(installation)));
        if (c.WithoutLog) {
            ASSERT_TRUE(DeleteFileA(fixture::JoinPath(installation.Dir, "install.log").c_str()));
        }
        HANDLE held = nullptr;
        if (c.HoldEvent) {
            held = CreateEventA(nullptr, FALSE, FALSE, SyncEventName(installation.Dir).c_str());
            ASSERT_NE(held, nullptr);
            ASSERT_EQ(GetLastError(), 0u);
        }
        fixture::TreeSnapshot before = fixture::TreeSnapshot::Take(root.Path());

        fixture::ChildProcess setup;
        std::string program = c.InstalledProgram ? installation.Setup : fixture::SetupExePath();
        ASSERT_TRUE(setup.Start(program, Expand(c.Arguments, installation.Dir), installation.Dir));
        for (const ExpectedBox& box : c.Boxes)
            AnswerBox(setup.ProcessId(), box);
        EXPECT_EQ(setup.WaitForExit(ExitTimeoutMs), std::optional<DWORD>(c.ExitCode));
        // No copy was started.
        EXPECT_TRUE(setup.ProcessIds().empty());
        EXPECT_TRUE(fixture::SameTree(before, fixture::TreeSnapshot::Take(root.Path())));
        // The held event is the test's own again; otherwise none is left.
        EXPECT_EQ(SyncEventExists(installation.Dir), c.HoldEvent);
        if (held)
            CloseHandle(held);
    }
}

// "-u FFFFFFFF" is the second stage at once: no event, no waiting, and the
// device stays: an InstallDevice line is not the second stage's to undo.
// Were the device code called for this device, which no driver list knows,
// it would show its progress and report it as not installed; the only box
// is the completion.
TEST(UninstallRefusals, SecondStageWithoutSynchronisationLeavesTheDevice) {
    fixture::ScratchDir root;
    fixture::TreeSnapshot before = fixture::TreeSnapshot::Take(root.Path());
    Installation installation = InstallationBelow(root.Path());
    std::vector<std::string> lines = LogLines(installation);
    lines.push_back("InstallDevice wave Uninstall Test Wave Device");
    ASSERT_TRUE(LayOut(installation, lines));

    fixture::ChildProcess setup;
    // Started from elsewhere: a current directory inside the installation
    // would keep it from being removed.
    ASSERT_TRUE(setup.Start(fixture::SetupExePath(), "-u FFFFFFFF " + installation.Dir));
    HWND box = setup.WaitForWindow(nullptr, WindowTimeoutMs);
    ASSERT_NE(box, nullptr);
    EXPECT_FALSE(SyncEventExists(installation.Dir));
    ASSERT_TRUE(AnswerBox(setup.ProcessId(), CompletionBox()));
    EXPECT_EQ(setup.WaitForExit(ExitTimeoutMs), std::optional<DWORD>(0));
    EXPECT_TRUE(setup.ProcessIds().empty());
    EXPECT_TRUE(fixture::SameTree(before, fixture::TreeSnapshot::Take(root.Path())));
}

}  // namespace
