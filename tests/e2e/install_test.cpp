// The real setup.exe installs a product of the test's making from a scratch
// distribution folder, answered by the robot as a user would: on the NT
// family into the common Start menu, on Windows 98 into the user's own. The
// test reads back everything the installation made, then uninstalls it as
// the Uninstall shortcut does and watches both stages: the event of the
// first, the temporary copy that the second runs from (on Windows 9x started
// by a batch file), and the machine as it was before the installation.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"
#include "support/prefix.h"
#include "support/shortcut_reader.h"

namespace {

using namespace e2e;

// lnkinfo normally answers in a few milliseconds.
const DWORD LnkinfoTimeoutMs = 20000;

// The value of the first "\t<label>\t...: <value>" line of lnkinfo's output;
// "" when there is none.
std::string LnkinfoField(const std::string& output, const std::string& label) {
    size_t colon = output.find(':', output.find("\t" + label + "\t"));
    if (colon == std::string::npos)
        return std::string();
    std::string value = output.substr(colon + 1, output.find_first_of("\r\n", colon) - colon - 1);
    return value.empty() ? value : value.substr(1);
}

// A value of the Shell Folders key ("Programs" of HKCU, "Common Programs" of
// HKLM); empty when it is not there.
std::string ShellFolder(HKEY root, const char* name) {
    char value[MAX_PATH] = "";
    DWORD size = sizeof value;
    return RegGetValueA(root, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", name,
                        RRF_RT_REG_SZ, nullptr, value, &size) == ERROR_SUCCESS
               ? value
               : "";
}

// Wine's own path conversions, which only a program under Wine has.
template <typename Function>
Function WineFunction(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
}

std::string UnixPathOf(const std::string& windowsPath) {
    auto convert = WineFunction<char*(CDECL*)(const WCHAR*)>("wine_get_unix_file_name");
    WCHAR wide[MAX_PATH];
    char* unixPath = convert && MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide, MAX_PATH) ? convert(wide)
                                                                                                     : nullptr;
    if (!unixPath)
        return std::string();
    std::string result = unixPath;
    HeapFree(GetProcessHeap(), 0, unixPath);
    return result;
}

std::string DosPathOf(const char* unixPath) {
    auto convert = WineFunction<WCHAR*(CDECL*)(const char*)>("wine_get_dos_file_name");
    WCHAR* dosPath = convert ? convert(unixPath) : nullptr;
    char narrow[MAX_PATH] = "";
    if (dosPath) {
        WideCharToMultiByte(CP_ACP, 0, dosPath, -1, narrow, sizeof narrow, nullptr, nullptr);
        HeapFree(GetProcessHeap(), 0, dosPath);
    }
    return narrow;
}

// Read by lnkinfo (liblnk-utils), a Linux program that knows nothing of
// Wine, started natively through the Linux shell. Its process handle need
// not tell when it ends: the script renames its output file when it is
// complete.
std::optional<ShortcutFields> ReadShortcutWithLnkinfo(const std::string& path, const std::string& scratchDir) {
    static int runs;
    std::string name = fixture::JoinPath(scratchDir, "lnkinfo-" + std::to_string(++runs));
    std::string unixPath = UnixPathOf(path), unixOutput = UnixPathOf(name + ".out");
    std::string unixScript = UnixPathOf(name + ".sh"), shell = DosPathOf("/bin/sh");
    if (unixPath.empty() || unixPath.find('\'') != std::string::npos || unixOutput.empty() || unixScript.empty() ||
        shell.empty()) {
        ADD_FAILURE() << "no plain Linux path for " << path << " or " << scratchDir;
        return std::nullopt;
    }
    std::string script = "PATH=/usr/bin:/bin\nexport PATH\n{\nlnkinfo '" + unixPath +
                         "'\necho \"lnkinfo exit code $?\"\n} >'" + unixOutput + ".part' 2>&1\nmv '" + unixOutput +
                         ".part' '" + unixOutput + "'\n";
    std::string commandLine = "sh \"" + unixScript + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!fixture::WriteTextFile(name + ".sh", script) ||
        !CreateProcessA(shell.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        ADD_FAILURE() << "cannot run " << name << ".sh: error " << GetLastError();
        return std::nullopt;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (DWORD start = GetTickCount(); !Exists(name + ".out"); Sleep(20)) {
        if (GetTickCount() - start >= LnkinfoTimeoutMs) {
            ADD_FAILURE() << "lnkinfo gave no output within " << LnkinfoTimeoutMs << " ms";
            return std::nullopt;
        }
    }
    std::string output = fixture::ReadTextFile(name + ".out");
    if (output.find("lnkinfo exit code 0") == std::string::npos) {
        ADD_FAILURE() << "lnkinfo failed on " << path << ":\n" << output;
        return std::nullopt;
    }
    return ShortcutFields{LnkinfoField(output, "Local path"), LnkinfoField(output, "Command line arguments"),
                          LnkinfoField(output, "Working directory"), LnkinfoField(output, "Description")};
}

// Removes the program group from the real Start menu should a failed run
// leave it.
struct GroupGuard {
    std::string Path;
    ~GroupGuard() { fixture::RemoveTree(Path); }
};

void ExpectTheShortcutsAndFiles(const Workspace& space, const Product& product, const std::string& installDir,
                                const std::string& groupDir) {
    // The chosen directory holds the copies and the log; the offered default
    // was never made.
    EXPECT_EQ(NamesIn(space.Programs()),
              (std::set<std::string>{"Chosen Place", "Chosen Place\\app.exe", "Chosen Place\\install.log",
                                     "Chosen Place\\notes.txt", "Chosen Place\\readme.txt",
                                     "Chosen Place\\setup.exe"}));
    for (const ProductFile& file : product.Files)
        EXPECT_EQ(fixture::ReadTextFile(installDir + "\\" + file.Name), file.Contents) << file.Name;
    EXPECT_EQ(fixture::ReadTextFile(installDir + "\\setup.exe"), fixture::ReadTextFile(space.SetupExe()));

    // The group holds a shortcut per link, named after it: the link's
    // expanded target, its arguments as written, the installation directory
    // as working directory, and its name as written as description; then the
    // uninstall shortcut, which starts the installed program with -u. Both
    // the shell and an independent reader see them so; the log lists them in
    // the order they were made.
    std::vector<std::pair<std::string, ShortcutFields>> shortcuts;
    for (const ProductLink& link : product.Links)
        shortcuts.push_back(
            {Expand(link.Name, "", product.AppName) + ".lnk",
             {Expand(link.Target, installDir, product.AppName), link.Arguments, installDir, link.Name}});
    shortcuts.push_back({"Uninstall " + product.AppName + ".lnk",
                         {installDir + "\\setup.exe", "-u", installDir, "Uninstall %AppName%"}});
    std::vector<std::string> log = {"AppName " + product.AppName, "CreateDir " + installDir,
                                    "CreateFile " + installDir + "\\install.log", "CreateDir " + groupDir};
    std::set<std::string> names;
    for (const auto& shortcut : shortcuts) {
        SCOPED_TRACE(shortcut.first);
        std::string path = groupDir + "\\" + shortcut.first;
        log.push_back("CreateFile " + path);
        names.insert(shortcut.first);
        EXPECT_EQ(ReadShortcutWithShell(path), std::optional<ShortcutFields>(shortcut.second));
        EXPECT_EQ(ReadShortcutWithLnkinfo(path, space.Root()), std::optional<ShortcutFields>(shortcut.second));
    }
    EXPECT_EQ(NamesIn(groupDir), names);
    for (const ProductFile& file : product.Files)
        log.push_back("CreateFile " + installDir + "\\" + file.Name);
    log.push_back("CreateFile " + installDir + "\\setup.exe");
    EXPECT_EQ(fixture::ReadTextFile(installDir + "\\install.log"), LogText(log));
}

// On Windows 9x a hidden command interpreter runs a batch file that starts
// the copy, waits for it and deletes it and itself. Returns the batch file.
std::string ExpectTheBatchFile(const fixture::ChildProcess& first, const TreeMember& copy, const std::string& tail) {
    char comSpec[MAX_PATH] = "";
    GetEnvironmentVariableA("ComSpec", comSpec, sizeof comSpec);
    TreeMember interpreter;
    if (!interpreter.Find(first, comSpec))
        return "";
    // "start" hands the tail on: the directory arrives whole.
    const std::string& copyLine = copy.Start().CommandLine;
    EXPECT_TRUE(copyLine.size() > tail.size() && copyLine.substr(copyLine.size() - tail.size()) == tail) << copyLine;
    // The interpreter runs hidden, with the batch file as its only argument.
    const fixture::ProcessStart& shell = interpreter.Start();
    std::string prefix = std::string(comSpec) + " /c ";
    EXPECT_EQ(shell.CommandLine.compare(0, prefix.size(), prefix), 0) << shell.CommandLine;
    std::string batch = shell.CommandLine.substr(std::min(prefix.size(), shell.CommandLine.size()));
    EXPECT_TRUE(IsTempFileName(batch, "BAT")) << batch;
    EXPECT_TRUE(shell.StartupFlags & STARTF_USESHOWWINDOW);
    EXPECT_EQ(shell.ShowWindow, static_cast<DWORD>(SW_HIDE));
    // Its four lines: the copy directly followed by the command tail.
    const std::string& copyPath = copy.Start().ImagePath;
    EXPECT_EQ(fixture::ReadTextFile(batch),
              "@echo off\r\nstart /w " + copyPath + tail + "\r\ndel " + copyPath + "\r\ndel " + batch + "\r\n");
    return batch;
}

void Uninstall(const std::string& appName, const std::string& installDir, bool windows9x) {
    fixture::ChildProcess first;
    StartFirstStage(first, appName, installDir);
    TreeMember copy;
    if (::testing::Test::HasFatalFailure() || !copy.Find(first))
        return;
    // The copy in the temporary directory, started without a program name,
    // with the first process's id and the whole directory, blanks and all.
    std::string tail = SecondStageTail(first.ProcessId(), installDir);
    std::string batch;
    if (windows9x) {
        batch = ExpectTheBatchFile(first, copy, tail);
    } else {
        EXPECT_EQ(copy.Start().CommandLine, tail);
    }
    // The second stage undoes the log only once the first process has ended.
    HWND complete = WaitForBox(copy.Id(), UninstallComplete());
    EXPECT_FALSE(first.Running()) << "the second stage undid the log while the first process ran";
    EXPECT_EQ(first.WaitForExit(0), std::optional<DWORD>(0));
    EXPECT_TRUE(Exists(copy.Start().ImagePath)) << "the copy went while it ran";
    ASSERT_TRUE(complete && Press(complete, IDOK));
    EXPECT_EQ(copy.WaitForExit(), std::optional<DWORD>(0));
    EXPECT_TRUE(first.WaitForAll(ExitTimeoutMs));
    // The copy goes a moment after it has ended; on Windows 9x the batch
    // file has deleted it and itself before the interpreter ended.
    EXPECT_TRUE(WaitUntilGone(copy.Start().ImagePath, windows9x ? 0 : CopyGoneTimeoutMs)) << copy.Start().ImagePath;
    EXPECT_FALSE(windows9x && Exists(batch)) << batch;
    EXPECT_FALSE(SyncEventExists(installDir));
}

struct Family {
    const char* Version;  // null: Wine's own default, an NT version
    bool Windows9x;
    const char* TypedGroup;     // typed into the dialog (variables are expanded at use)
    bool LeaveDialogWithEnter;  // Enter presses Install, the default button
};

const Family Families[] = {
    {nullptr, false, "E2E Chosen Group", false},
    {"winxp", false, "E2E Chosen Group", true},
    {"nt40", false, "%AppName% Group", false},
    {"win98", true, "%AppName% Group", true},
};

void InstallAndUninstall(const Family& family) {
    // For every program of the prefix: the temporary copy and the command
    // interpreter run on the same system as the installed program.
    fixture::WindowsVersion version(family.Version, nullptr);
    ASSERT_TRUE(version.Applied());
    Workspace space;
    Product product = space.SampleProduct();
    product.StartMenuFolderNt = "%CommonProgramsFolder%";
    product.StartMenuFolder9x = "%LocalProgramsFolder%";
    ASSERT_TRUE(space.LayOut(product));
    std::string localPrograms = ShellFolder(HKEY_CURRENT_USER, "Programs");
    std::string commonPrograms = ShellFolder(HKEY_LOCAL_MACHINE, "Common Programs");
    ASSERT_FALSE(localPrograms.empty() || commonPrograms.empty());
    std::string typedGroup = family.TypedGroup + std::string(" ") + std::to_string(GetCurrentProcessId());
    GroupGuard group{(family.Windows9x ? localPrograms : commonPrograms) + "\\" +
                     Expand(typedGroup, "", product.AppName)};
    ASSERT_FALSE(Exists(group.Path)) << group.Path;
    std::string installDir = space.Programs() + "\\Chosen Place";
    std::vector<fixture::TreeSnapshot> before;
    for (const std::string& root : {space.Dist(), space.Programs(), localPrograms, commonPrograms})
        before.push_back(fixture::TreeSnapshot::Take(root));

    SetupRun run;
    // Started from another folder: setup.ini is found beside the program.
    ASSERT_TRUE(run.Start(space.SetupExe(), "", space.Root()));
    ASSERT_TRUE(run.Answer(InstallQuestion(product.AppName, product.AppVersion), IDYES));
    HWND license = run.WaitForLicense(product.License);
    ASSERT_TRUE(license && Press(license, IDOK));
    HWND directories = run.WaitForDirectories(space.Programs() + "\\E2E Product", "E2E Product");
    ASSERT_TRUE(directories && TypeDirectories(directories, installDir, typedGroup));
    ASSERT_TRUE(family.LeaveDialogWithEnter ? PressKey(directories, VK_RETURN) : Press(directories, IDOK));
    ASSERT_TRUE(run.Answer(InstallComplete(product.AppName), IDOK));
    EXPECT_EQ(run.ExitWithoutFurtherWindow(), std::optional<DWORD>(0));
    ExpectTheShortcutsAndFiles(space, product, installDir, group.Path);

    Uninstall(product.AppName, installDir, family.Windows9x);
    for (const fixture::TreeSnapshot& snapshot : before)
        EXPECT_TRUE(fixture::SameTree(snapshot, fixture::TreeSnapshot::Take(snapshot.Root())));
}

TEST(InstallAndUninstall, LeaveTheMachineAsItWasOnEachFamily) {
    for (const Family& family : Families) {
        SCOPED_TRACE(family.Version ? family.Version : "Wine's default");
        InstallAndUninstall(family);
    }
}

}  // namespace
