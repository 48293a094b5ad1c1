// The real setup.exe installs a product of the test's making from a scratch
// distribution folder, answered by the robot as a user would: on the NT
// family into the common Start menu, on Windows 98 into the user's own.
// Afterwards the test reads back everything the installation made.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "install_driver.h"
#include "support/prefix.h"

namespace {

using namespace install_e2e;

struct Family {
    const char* Name;
    const char* Version;  // null: Wine's own default, an NT version
    HKEY StartMenuRoot;   // where the family's Start-menu folder is named
    const char* StartMenuValue;
    const char* TypedGroup;     // typed into the dialog (variables are expanded at use)
    bool LeaveDialogWithEnter;  // Enter presses Install, the default button
};

const Family NtFamily = {"NT", nullptr, HKEY_LOCAL_MACHINE, "Common Programs", "E2E Chosen Group", false};
const Family Windows98 = {"Windows 98", "win98", HKEY_CURRENT_USER, "Programs", "%AppName% Group", true};

std::vector<std::string> SortedNames(const fixture::TreeSnapshot& snapshot) {
    std::vector<std::string> names;
    for (const fixture::TreeEntry& entry : snapshot.Entries())
        names.push_back(entry.RelativePath);
    std::sort(names.begin(), names.end());
    return names;
}

// The shortcuts an installation into `installDir` is expected to make, by
// file name: each link's expanded target, its arguments as written, the
// target's folder as working directory, and its name as written as
// description; the uninstall shortcut starts the installed program with -u.
std::vector<std::pair<std::string, ShortcutFields>> ExpectedShortcuts(const Product& product,
                                                                      const std::string& installDir) {
    std::vector<std::pair<std::string, ShortcutFields>> shortcuts;
    std::vector<std::string> names = ExpectedShortcutNames(product);
    for (size_t i = 0; i < product.Links.size(); i++) {
        const ProductLink& link = product.Links[i];
        shortcuts.push_back(
            {names[i], {Expand(link.Target, installDir, product.AppName), link.Arguments, installDir, link.Name}});
    }
    shortcuts.push_back({names.back(), {installDir + "\\setup.exe", "-u", installDir, "Uninstall %AppName%"}});
    return shortcuts;
}

void InstallAndCheck(const Family& family) {
    fixture::WindowsVersion version(family.Version);
    ASSERT_TRUE(version.Applied());
    Workspace space;
    Product product = space.SampleProduct();
    product.StartMenuFolderNt = "%CommonProgramsFolder%";
    product.StartMenuFolder9x = "%LocalProgramsFolder%";
    ASSERT_TRUE(space.LayOut(product));

    std::string startMenu = ShellFolder(family.StartMenuRoot, family.StartMenuValue);
    ASSERT_FALSE(startMenu.empty()) << family.StartMenuValue;
    std::string typedGroup = family.TypedGroup + std::string(" ") + std::to_string(GetCurrentProcessId());
    std::string groupDir = startMenu + "\\" + Expand(typedGroup, "", product.AppName);
    ASSERT_FALSE(FileExists(groupDir)) << groupDir;
    RemoveOnExit removeGroup(groupDir);
    std::string installDir = space.Programs() + "\\Chosen Place";
    fixture::TreeSnapshot distBefore = fixture::TreeSnapshot::Take(space.Dist());

    SetupRun run;
    // Started from another folder: setup.ini is found beside the program.
    ASSERT_TRUE(run.Start(space.SetupExe(), space.Root()));
    ASSERT_TRUE(run.AnswerInstallQuestion(product, IDYES));
    HWND license = run.WaitForLicense(product.License);
    ASSERT_TRUE(license && run.Press(license, IDOK));
    HWND directories = run.WaitForDirectories(space.Programs() + "\\E2E Product", "E2E Product");
    ASSERT_NE(directories, nullptr);
    if (family.LeaveDialogWithEnter) {
        ASSERT_TRUE(run.TypeDirectories(directories, installDir, typedGroup));
        ASSERT_TRUE(run.PressKey(directories, VK_RETURN));
    } else {
        ASSERT_TRUE(run.ChooseDirectories(directories, installDir, typedGroup));
    }
    ASSERT_TRUE(run.ConfirmCompletion(product));
    EXPECT_EQ(run.ExitWithoutFurtherWindow(), std::optional<DWORD>(0));

    // The chosen directory holds the copies and the log; the offered default
    // was never made.
    EXPECT_EQ(
        SortedNames(fixture::TreeSnapshot::Take(space.Programs())),
        (std::vector<std::string>{"Chosen Place", "Chosen Place\\app.exe", "Chosen Place\\install.log",
                                  "Chosen Place\\notes.txt", "Chosen Place\\readme.txt", "Chosen Place\\setup.exe"}));
    for (const ProductFile& file : product.Files)
        EXPECT_EQ(fixture::ReadTextFile(installDir + "\\" + file.Name), file.Contents) << file.Name;
    EXPECT_EQ(fixture::ReadTextFile(installDir + "\\setup.exe"), fixture::ReadTextFile(space.SetupExe()));
    EXPECT_EQ(fixture::ReadTextFile(installDir + "\\install.log"), ExpectedInstallLog(product, installDir, groupDir));
    EXPECT_TRUE(fixture::SameTree(distBefore, fixture::TreeSnapshot::Take(space.Dist())));

    // The group holds one shortcut per link and the uninstall shortcut, as
    // both the shell and an independent reader see them.
    std::vector<std::pair<std::string, ShortcutFields>> shortcuts = ExpectedShortcuts(product, installDir);
    std::vector<std::string> names;
    for (const auto& shortcut : shortcuts)
        names.push_back(shortcut.first);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(SortedNames(fixture::TreeSnapshot::Take(groupDir)), names);
    for (const auto& shortcut : shortcuts) {
        SCOPED_TRACE(shortcut.first);
        std::string path = groupDir + "\\" + shortcut.first;
        EXPECT_EQ(ReadShortcutWithShell(path), std::optional<ShortcutFields>(shortcut.second));
        EXPECT_EQ(ReadShortcutWithLnkinfo(path, space.Root()), std::optional<ShortcutFields>(shortcut.second));
    }
}

TEST(Install, InstallsTheProductOnTheNtFamily) {
    InstallAndCheck(NtFamily);
}

TEST(Install, InstallsTheProductOnWindows98) {
    InstallAndCheck(Windows98);
}

}  // namespace
