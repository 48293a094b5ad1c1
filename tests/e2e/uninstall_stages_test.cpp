// The two-stage uninstall of the real setup.exe: installed by the real
// installer and removed through the Uninstall shortcut's "-u" on NT, and the
// batch-file road of Windows 9x. The tests watch both processes: the event
// of the first, the temporary copy that the second runs from, their command
// lines and exit codes, and what is left on the disk.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/uninstall_support.h"
#include "support/prefix.h"
#include "support/robot.h"

namespace {

using namespace uninstall_test;

std::string ShellFolder(HKEY root, const char* value) {
    char path[MAX_PATH] = "";
    HKEY key;
    if (RegOpenKeyExA(root, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", 0,
                      KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        DWORD size = sizeof path - 1;
        RegQueryValueExA(key, value, nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size);
        RegCloseKey(key);
    }
    EXPECT_NE(path[0], '\0') << "no Shell Folders value " << value;
    return path;
}

// The folders an uninstall may change: the installation directory's parent
// and both Start-menu program folders.
struct Snapshots {
    explicit Snapshots(const std::string& parent)
        : Parent(fixture::TreeSnapshot::Take(parent)),
          LocalPrograms(fixture::TreeSnapshot::Take(ShellFolder(HKEY_CURRENT_USER, "Programs"))),
          CommonPrograms(fixture::TreeSnapshot::Take(ShellFolder(HKEY_LOCAL_MACHINE, "Common Programs"))) {}

    void ExpectSameNow() const {
        EXPECT_TRUE(fixture::SameTree(Parent, fixture::TreeSnapshot::Take(Parent.Root())));
        EXPECT_TRUE(fixture::SameTree(LocalPrograms, fixture::TreeSnapshot::Take(LocalPrograms.Root())));
        EXPECT_TRUE(fixture::SameTree(CommonPrograms, fixture::TreeSnapshot::Take(CommonPrograms.Root())));
    }

    fixture::TreeSnapshot Parent;
    fixture::TreeSnapshot LocalPrograms;
    fixture::TreeSnapshot CommonPrograms;
};

// The program group the installer makes in the common Start menu; whatever
// a failed run leaves of it goes at the end, so that the next run finds
// the menu as it was.
class ProgramGroup {
public:
    ProgramGroup() : path_(fixture::JoinPath(ShellFolder(HKEY_LOCAL_MACHINE, "Common Programs"), AppName)) {
        EXPECT_FALSE(Exists(path_)) << path_ << " is there before the install";
    }
    ~ProgramGroup() { fixture::RemoveTree(path_); }
    ProgramGroup(const ProgramGroup&) = delete;
    ProgramGroup& operator=(const ProgramGroup&) = delete;

private:
    std::string path_;
};

// A distribution folder whose setup.ini installs two files and a shortcut
// into `installDir` and a program group of the common Start menu.
void MakeDistribution(const fixture::ScratchDir& dist, const std::string& installDir) {
    ASSERT_TRUE(dist.Write("setup.ini", std::string("[Main]\r\n"
                                                    "AppName=") + AppName + "\r\n"
                                                    "AppVersion=2.5\r\n"
                                                    "DefaultProgramGroup=" + AppName + "\r\n"
                                                    "DefaultInstallDir=" + installDir + "\r\n"
                                                    "StartMenuFolder=%CommonProgramsFolder%\r\n"
                                                    "\r\n[Files]\r\n"
                                                    "readme.txt=%InstallDir%\r\n"
                                                    "notes.txt=%InstallDir%\r\n"
                                                    "\r\n[Links]\r\n"
                                                    "Read Me=%InstallDir%\\readme.txt\r\n"));
    ASSERT_TRUE(dist.Write("readme.txt", "Read me first.\r\n"));
    ASSERT_TRUE(dist.Write("notes.txt", "Release notes.\r\n"));
    ASSERT_TRUE(CopyFileA(fixture::SetupExePath().c_str(), dist.Join("setup.exe").c_str(), TRUE));
}

// Installs through the dialogs, accepting what they offer.
void Install(const fixture::ScratchDir& dist, const std::string& installDir) {
    fixture::ChildProcess setup;
    ASSERT_TRUE(setup.Start(dist.Join("setup.exe"), "", dist.Path()));
    HWND question = setup.WaitForWindow("Setup", WindowTimeoutMs);
    ASSERT_NE(question, nullptr);
    ASSERT_TRUE(robot::PressButton(question, IDYES));
    HWND directories = setup.WaitForWindow("Choose directories", WindowTimeoutMs);
    ASSERT_NE(directories, nullptr);
    EXPECT_EQ(robot::ControlText(directories, 1001), installDir);
    ASSERT_TRUE(robot::PressButton(directories, IDOK));
    HWND complete = setup.WaitForWindow(AppName, WindowTimeoutMs);
    ASSERT_NE(complete, nullptr);
    EXPECT_EQ(robot::MessageBoxText(complete), "Installation complete.");
    ASSERT_TRUE(robot::PressButton(complete, IDOK));
    EXPECT_EQ(setup.WaitForExit(ExitTimeoutMs), std::optional<DWORD>(0));
    ASSERT_TRUE(Exists(fixture::JoinPath(installDir, "install.log")));
    ASSERT_TRUE(Exists(fixture::JoinPath(installDir, "setup.exe")));
}

// The second stage shows its completion box only after the first process
// has ended; answering it ends the copy with exit code 0.
void FinishSecondStage(const fixture::ChildProcess& first, TreeMember& copy) {
    HWND complete = robot::FindWindowOfProcess(copy.Id(), WindowTimeoutMs);
    ASSERT_NE(complete, nullptr) << "screen: " << fixture::SaveFailureScreenshot();
    EXPECT_FALSE(first.Running()) << "the second stage undid the log while the first process ran";
    EXPECT_TRUE(Exists(copy.Start().ImagePath)) << "the copy went while it ran";
    ASSERT_TRUE(AnswerBox(copy.Id(), CompletionBox()));
    DWORD code = 1;
    ASSERT_TRUE(copy.WaitForExit(ExitTimeoutMs, &code));
    EXPECT_EQ(code, 0u);
}

TEST(UninstallStages, NtRemovesWhatTheInstallerMade) {
    fixture::ScratchDir dist;
    fixture::ScratchDir parent;
    std::string installDir = parent.Join("Uninstall Test Product");
    MakeDistribution(dist, installDir);
    ProgramGroup group;
    Snapshots before(parent.Path());
    Install(dist, installDir);
    if (HasFatalFailure())
        return;

    fixture::ChildProcess first;
    StartFirstStage(first, installDir);
    if (HasFatalFailure())
        return;
    // The copy in the temporary directory, started without a program name,
    // with the first process's id and the whole directory, blanks and all.
    TreeMember copy;
    ASSERT_TRUE(copy.FindTempProgram(first, "EXE", WindowTimeoutMs));
    EXPECT_EQ(copy.Start().CommandLine, SecondStageTail(first.ProcessId(), installDir));
    EXPECT_EQ(first.WaitForExit(ExitTimeoutMs), std::optional<DWORD>(0));
    FinishSecondStage(first, copy);
    EXPECT_TRUE(WaitUntilGone(copy.Start().ImagePath, CopyGoneTimeoutMs)) << copy.Start().ImagePath;
    EXPECT_TRUE(first.WaitForAll(ExitTimeoutMs));
    EXPECT_FALSE(SyncEventExists(installDir));
    before.ExpectSameNow();
}

// On Windows 9x a hidden command interpreter runs a batch file that starts
// the copy, waits for it and deletes it and itself. Every program of the
// prefix is told it runs on Windows 98, the copy and the interpreter too, as
// they would on that system.
TEST(UninstallStages, Windows9xRunsTheCopyFromABatchFile) {
    fixture::WindowsVersion windows98("win98", nullptr);
    ASSERT_TRUE(windows98.Applied());
    fixture::ScratchDir parent;
    Snapshots before(parent.Path());
    Installation installation = InstallationBelow(parent.Path());
    ASSERT_TRUE(LayOut(installation, LogLines(installation)));

    fixture::ChildProcess first;
    StartFirstStage(first, installation.Dir);
    if (HasFatalFailure())
        return;
    TreeMember copy;
    ASSERT_TRUE(copy.FindTempProgram(first, "EXE", WindowTimeoutMs));
    char comSpec[MAX_PATH] = "";
    GetEnvironmentVariableA("ComSpec", comSpec, sizeof comSpec);
    TreeMember interpreter;
    ASSERT_TRUE(interpreter.FindProgram(first, comSpec, WindowTimeoutMs));
    EXPECT_EQ(first.WaitForExit(ExitTimeoutMs), std::optional<DWORD>(0));
    // "start" hands the tail on: the directory arrives whole.
    std::string tail = SecondStageTail(first.ProcessId(), installation.Dir);
    const std::string& copyLine = copy.Start().CommandLine;
    bool endsWithTail =
        copyLine.size() > tail.size() && copyLine.compare(copyLine.size() - tail.size(), tail.size(), tail) == 0;
    EXPECT_TRUE(endsWithTail) << copyLine;

    // The interpreter runs hidden, with the batch file as its only argument.
    const fixture::ProcessStart& shell = interpreter.Start();
    std::string prefix = std::string(comSpec) + " /c ";
    ASSERT_EQ(shell.CommandLine.compare(0, prefix.size(), prefix), 0) << shell.CommandLine;
    std::string batch = shell.CommandLine.substr(prefix.size());
    EXPECT_TRUE(IsTempFileName(batch, "BAT")) << batch;
    EXPECT_TRUE(shell.StartupFlags & STARTF_USESHOWWINDOW);
    EXPECT_EQ(shell.ShowWindow, static_cast<DWORD>(SW_HIDE));
    // Its four lines: the copy directly followed by the command tail.
    const std::string& copyPath = copy.Start().ImagePath;
    EXPECT_EQ(fixture::ReadTextFile(batch),
              "@echo off\r\nstart /w " + copyPath + tail + "\r\ndel " + copyPath + "\r\ndel " + batch + "\r\n");

    FinishSecondStage(first, copy);
    // Once the interpreter has ended, the batch file has deleted the copy
    // and itself.
    EXPECT_TRUE(first.WaitForAll(ExitTimeoutMs));
    EXPECT_FALSE(Exists(copyPath)) << copyPath;
    EXPECT_FALSE(Exists(batch)) << batch;
    before.ExpectSameNow();
}

}  // namespace
