// The real setup.exe under Wine, worked by the robot from outside: command
// line refusals, the Windows versions it runs on, and the OS twin of the
// Main section that it reads.
#include <gtest/gtest.h>

#include <string>

#include "e2e/e2e_support.h"
#include "support/prefix.h"

namespace {

using namespace e2e;

const char SwitchX[] = "Invalid command line switch \"x\"";
const char MissingAppVersion[] = "Key AppVersion must be present";

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

// Each refusal is one error box with OK and exit code 1, and changes
// nothing. The program name may be quoted and hold blanks, or be empty, as
// in the command line that the first uninstall stage gives its copy. The
// version is checked before the command line is read; NT reads only the NT
// twin of [Main].
TEST(SetupExe, RefusesWithOneErrorBox) {
    fixture::ScratchDir scratch;
    std::string copy = scratch.Join("Product Disk\\setup.exe");
    ASSERT_TRUE(CreateDirectoryA(scratch.Join("Product Disk").c_str(), nullptr));
    ASSERT_TRUE(CopyFileA(fixture::SetupExePath().c_str(), copy.c_str(), TRUE));
    ASSERT_TRUE(scratch.Write("setup.ini", ScriptWithAppVersionIn9xTwin(scratch.Path())));
    fixture::TreeSnapshot before = fixture::TreeSnapshot::Take(scratch.Path());
    std::string quoted = "\"" + copy + "\"";
    const struct {
        const char* Version;  // null: Wine's default, an NT version
        std::string CommandLine;
        const char* Text;
    } cases[] = {
        {nullptr, quoted + " -x", SwitchX},
        {nullptr, quoted + " -U", "Invalid command line switch \"U\""},
        {nullptr, quoted + " /u", "Invalid command line \"/u\""},
        {nullptr, quoted + "  \t/c", "Invalid command line \"/c\""},
        {nullptr, " -U", "Invalid command line switch \"U\""},
        {"win31", quoted + " -x", "OS versions before 4.0 are not supported"},
        {"nt351", quoted + " -x", "OS versions before 4.0 are not supported"},
        {"win95", quoted + " -x", SwitchX},
        {"win98", quoted + " -x", SwitchX},
        {"winme", quoted + " -x", SwitchX},
        {"nt40", quoted + " -x", SwitchX},
        {"win2k", quoted + " -x", SwitchX},
        {"winxp", quoted + " -x", SwitchX},
        {"nt40", quoted + " -c", MissingAppVersion},
        {"winxp", quoted + " -c", MissingAppVersion},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Version ? c.Version : "Wine's default") + ": " + c.CommandLine);
        fixture::WindowsVersion version(c.Version);
        ASSERT_TRUE(version.Applied());
        fixture::ChildProcess setup;
        ASSERT_TRUE(setup.StartCommandLine(copy, c.CommandLine, scratch.Path()));
        EXPECT_TRUE(AnswerBox(setup.ProcessId(), ErrorBox(c.Text), IDOK));
        EXPECT_EQ(setup.WaitForExit(ExitTimeoutMs), std::optional<DWORD>(1));
        EXPECT_TRUE(fixture::SameTree(before, fixture::TreeSnapshot::Take(scratch.Path())));
    }
}

// Windows 9x finds AppVersion in its twin: the question names it.
TEST(SetupExe, Windows9xReadsThe9xTwinOfMain) {
    fixture::WindowsVersion pretend("win98");
    ASSERT_TRUE(pretend.Applied());
    fixture::ScratchDir scratch;
    ASSERT_TRUE(scratch.Write("setup.ini", ScriptWithAppVersionIn9xTwin(scratch.Path())));
    SetupRun setup;
    ASSERT_TRUE(setup.Start(fixture::SetupExePath(), "-c", scratch.Path()));
    EXPECT_TRUE(setup.Answer(InstallQuestion("Twin Test", "1.0"), IDNO));
    EXPECT_EQ(setup.ExitWithoutFurtherWindow(), std::optional<DWORD>(1));
}

}  // namespace
