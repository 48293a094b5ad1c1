// The real setup.exe under Wine, worked by the robot from outside: command
// line refusals, the Windows versions it runs on, and the OS twin of the
// Main section that it reads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/prefix.h"
#include "support/robot.h"

namespace {

const DWORD WindowTimeoutMs = 20000;
const DWORD ExitTimeoutMs = 20000;

// Expects the started program's one error box with `text`, presses OK and
// expects exit code 1.
void ExpectRefusal(fixture::ChildProcess& setup, const std::string& text) {
    HWND box = setup.WaitForWindow("Setup", WindowTimeoutMs);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(robot::WindowClass(box), "#32770");
    EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr);
    EXPECT_EQ(robot::MessageBoxText(box), text);
    EXPECT_EQ(robot::MessageBoxIconKind(box), static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(robot::ButtonIds(box), std::vector<int>{IDOK});
    for (int id : {IDCANCEL, IDYES, IDNO})
        EXPECT_FALSE(robot::HasControl(box, id)) << "button " << id;
    ASSERT_TRUE(robot::PressButton(box, IDOK));
    EXPECT_TRUE(robot::WaitGone(box));
    EXPECT_EQ(setup.WaitForExit(ExitTimeoutMs), std::optional<DWORD>(1));
}

void ExpectRefusal(const std::string& arguments, const std::string& currentDir, const std::string& text) {
    fixture::ChildProcess setup;
    ASSERT_TRUE(setup.Start(fixture::SetupExePath(), arguments, currentDir));
    ExpectRefusal(setup, text);
}

TEST(SetupExe, RefusesAnInvalidCommandLine) {
    const struct {
        const char* Arguments;
        const char* Text;
    } cases[] = {
        {"-x", "Invalid command line switch \"x\""},
        {"-U", "Invalid command line switch \"U\""},
        {"/u", "Invalid command line \"/u\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Arguments);
        ExpectRefusal(c.Arguments, "", c.Text);
    }
}

// The program name may be quoted and hold blanks, or be empty, as in the
// command line that the first uninstall stage gives its copy.
TEST(SetupExe, FindsTheArgumentsBehindAnyProgramName) {
    fixture::ScratchDir scratch;
    std::string copy = scratch.Join("Product Disk\\setup.exe");
    ASSERT_TRUE(CreateDirectoryA(scratch.Join("Product Disk").c_str(), nullptr));
    ASSERT_TRUE(CopyFileA(fixture::SetupExePath().c_str(), copy.c_str(), TRUE));
    const struct {
        std::string CommandLine;
        const char* Text;
    } cases[] = {
        {"\"" + copy + "\" -x", "Invalid command line switch \"x\""},
        {"\"" + copy + "\"  \t/c", "Invalid command line \"/c\""},
        {" -U", "Invalid command line switch \"U\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.CommandLine);
        fixture::ChildProcess setup;
        ASSERT_TRUE(setup.StartCommandLine(copy, c.CommandLine));
        ExpectRefusal(setup, c.Text);
    }
}

TEST(SetupExe, RefusesWindowsVersionsBefore4) {
    for (const char* version : {"win31", "nt351"}) {
        SCOPED_TRACE(version);
        fixture::WindowsVersion pretend(version);
        ASSERT_TRUE(pretend.Applied());
        // The version is checked before the command line is read.
        ExpectRefusal("-x", "", "OS versions before 4.0 are not supported");
    }
}

TEST(SetupExe, StartsOnWindows9xAndNt4AndLater) {
    for (const char* version : {"win95", "win98", "winme", "nt40", "win2k", "winxp"}) {
        SCOPED_TRACE(version);
        fixture::WindowsVersion pretend(version);
        ASSERT_TRUE(pretend.Applied());
        // Start-up passed when the command line is what it complains about.
        ExpectRefusal("-x", "", "Invalid command line switch \"x\"");
    }
}

// A setup.ini whose AppVersion stands only in [Main.9x]; the other required
// keys are in [Main]. Everything it names lies in the scratch folder.
std::string ScriptWithAppVersionIn9xTwin(const std::string& scratch) {
    return "[Main]\r\n"
           "AppName=Twin Test\r\n"
           "DefaultProgramGroup=Twin Test\r\n"
           "DefaultInstallDir=" + scratch + "\\installed\r\n"
           "StartMenuFolder=" + scratch + "\\menu\r\n"
           "\r\n"
           "[Main.9x]\r\n"
           "AppVersion=1.0\r\n";
}

const char MissingAppVersion[] = "Key AppVersion must be present";

TEST(SetupExe, NtReadsTheNtTwinOfMainOnly) {
    for (const char* version : {"nt40", "winxp"}) {
        SCOPED_TRACE(version);
        fixture::WindowsVersion pretend(version);
        ASSERT_TRUE(pretend.Applied());
        fixture::ScratchDir scratch;
        ASSERT_TRUE(scratch.Write("setup.ini", ScriptWithAppVersionIn9xTwin(scratch.Path())));
        fixture::TreeSnapshot before = fixture::TreeSnapshot::Take(scratch.Path());
        ExpectRefusal("-c", scratch.Path(), MissingAppVersion);
        EXPECT_TRUE(fixture::SameTree(before, fixture::TreeSnapshot::Take(scratch.Path())));
    }
}

TEST(SetupExe, Windows9xReadsThe9xTwinOfMain) {
    fixture::WindowsVersion pretend("win98");
    ASSERT_TRUE(pretend.Applied());
    fixture::ScratchDir scratch;
    ASSERT_TRUE(scratch.Write("setup.ini", ScriptWithAppVersionIn9xTwin(scratch.Path())));
    fixture::ChildProcess setup;
    ASSERT_TRUE(setup.Start(fixture::SetupExePath(), "-c", scratch.Path()));
    // The script loads; whatever the install shows next is declined.
    std::vector<robot::SeenWindow> seen;
    EXPECT_TRUE(robot::DismissUntilExit(setup.Process(), setup.ProcessId(), ExitTimeoutMs, &seen));
    EXPECT_TRUE(setup.WaitForExit(ExitTimeoutMs).has_value());
    EXPECT_FALSE(seen.empty()) << "the install shows something after loading the script";
    for (const robot::SeenWindow& window : seen)
        EXPECT_NE(window.Text, MissingAppVersion) << "window \"" << window.Title << "\"";
}

}  // namespace
