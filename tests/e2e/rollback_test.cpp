// A failed installation leaves the machine as it was: each stage of the
// real setup.exe is made to fail in turn, and the trees it touches (the
// parent of the installation directory, the Start-menu folder) are the same
// afterwards as before. Refusing the question, the licence or the
// directories ends the run at once, with nothing changed.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"
#include "support/prefix.h"

namespace {

using namespace e2e;

// The directory and group typed into the dialog; the group's folder.
struct Choice {
    std::string InstallDir;
    std::string Group;
    std::string GroupDir;
};

// One box the failure shows, and the button the user presses.
struct Step {
    ExpectedBox Box;
    int Press = IDOK;
};
typedef std::vector<Step> Steps;

struct RollbackCase {
    const char* Name;
    // Changes the product, the choice or the disk before the run and gives
    // the boxes from the end of the directories dialog to the end.
    std::function<Steps(const Workspace&, Product&, Choice&)> Prepare;
    std::vector<const char*> Versions;  // null: Wine's default, an NT version
};

bool MakeDirectory(const std::string& path) {
    return CreateDirectoryA(path.c_str(), nullptr) != 0;
}

ExpectedBox CannotCreate(const std::string& directory, DWORD code) {
    return ErrorBox("Cannot create directory \"" + directory + "\"", code);
}

ExpectedBox CannotCopy(const Workspace& space, const std::string& name, const std::string& destinationDir,
                       DWORD code) {
    return ErrorBox("Cannot copy " + space.Dist() + "\\" + name + " to " + destinationDir + "\\" + name, code);
}

const RollbackCase RollbackCases[] = {
    {"ExistingDirectoryNotReused",
     [](const Workspace&, Product&, Choice& choice) {
         EXPECT_TRUE(MakeDirectory(choice.InstallDir));
         EXPECT_TRUE(fixture::WriteTextFile(choice.InstallDir + "\\old.txt", "old"));
         return Steps{{ReuseQuestion(choice.InstallDir), IDNO}};
     },
     {nullptr, "win98"}},
    {"MissingParentDirectory",
     [](const Workspace& space, Product&, Choice& choice) {
         choice.InstallDir = space.Programs() + "\\missing\\E2E Product";
         return Steps{{CannotCreate(choice.InstallDir, ERROR_PATH_NOT_FOUND)}};
     },
     {nullptr}},
    // The dialog takes an empty directory; its creation fails.
    {"EmptyInstallDir",
     [](const Workspace&, Product&, Choice& choice) {
         choice.InstallDir.clear();
         return Steps{{CannotCreate("", ERROR_PATH_NOT_FOUND)}};
     },
     {nullptr}},
    // The directory is created as typed, while the log goes into the
    // expansion of the typed text, which does not exist.
    {"InstallDirTypedWithAVariable",
     [](const Workspace& space, Product&, Choice& choice) {
         choice.InstallDir = space.Programs() + "\\%AppName%";
         return Steps{
             {ErrorBox("Cannot create " + space.Programs() + "\\E2E Product\\install.log file", ERROR_PATH_NOT_FOUND)}};
     },
     {nullptr}},
    {"ExistingGroupNotReused",
     [](const Workspace&, Product&, Choice& choice) {
         EXPECT_TRUE(MakeDirectory(choice.GroupDir));
         return Steps{{ReuseQuestion(choice.GroupDir), IDNO}};
     },
     {nullptr}},
    {"GroupFolderBlockedByAFile",
     [](const Workspace&, Product&, Choice& choice) {
         EXPECT_TRUE(fixture::WriteTextFile(choice.GroupDir, "in the way"));
         return Steps{{CannotCreate(choice.GroupDir, ERROR_ALREADY_EXISTS)}};
     },
     {nullptr}},
    {"ShortcutCannotBeSaved",
     [](const Workspace&, Product& product, Choice&) {
         // Its file would go into a folder of the group that nothing makes.
         product.Links.insert(product.Links.begin() + 1, {"Extras\\Guide", "%InstallDir%\\readme.txt", ""});
         return Steps{{ErrorBox("Cannot save shortcut file", HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND))}};
     },
     {nullptr, "win98"}},
    {"MissingSourceFile",
     [](const Workspace& space, Product& product, Choice& choice) {
         product.Files.insert(product.Files.begin() + 1, {"missing.dat", "%InstallDir%", "", "", true});
         return Steps{{CannotCopy(space, "missing.dat", choice.InstallDir, ERROR_FILE_NOT_FOUND)}};
     },
     {nullptr, "win98"}},
    {"MissingDestinationSubdirectory",
     [](const Workspace& space, Product& product, Choice& choice) {
         product.Files.insert(product.Files.begin() + 2, {"guide.txt", "%InstallDir%\\docs", "", "Guide\r\n"});
         return Steps{{CannotCopy(space, "guide.txt", choice.InstallDir + "\\docs", ERROR_PATH_NOT_FOUND)}};
     },
     {nullptr, "nt40"}},
    // The user agrees to reuse an installation directory that holds a
    // directory named install.log: the first save of the log fails, and the
    // rollback cannot remove the directory it was allowed to reuse, as it is
    // not empty.
    {"LogBlockedByADirectory",
     [](const Workspace&, Product&, Choice& choice) {
         EXPECT_TRUE(MakeDirectory(choice.InstallDir) && MakeDirectory(choice.InstallDir + "\\install.log"));
         return Steps{{ReuseQuestion(choice.InstallDir), IDYES},
                      {ErrorBox("Cannot create " + choice.InstallDir + "\\install.log file", ERROR_ACCESS_DENIED)},
                      {ErrorBox("Cannot delete directory " + choice.InstallDir, ERROR_DIR_NOT_EMPTY)}};
     },
     {nullptr, "win98"}},
};

void RunRollbackCase(const RollbackCase& c, const char* versionName) {
    fixture::WindowsVersion version(versionName);
    ASSERT_TRUE(version.Applied());
    Workspace space;
    Product product = space.SampleProduct();
    Choice choice = {space.Programs() + "\\E2E Product", "E2E Product", space.Menu() + "\\E2E Product"};
    Steps steps = c.Prepare(space, product, choice);
    ASSERT_TRUE(space.LayOut(product));
    fixture::TreeSnapshot programsBefore = fixture::TreeSnapshot::Take(space.Programs());
    fixture::TreeSnapshot menuBefore = fixture::TreeSnapshot::Take(space.Menu());

    SetupRun run;
    ASSERT_TRUE(run.Start(space.SetupExe(), "", space.Root()));
    ASSERT_TRUE(run.ReachInstallation(product, choice.InstallDir, choice.Group));
    for (const Step& step : steps)
        ASSERT_TRUE(run.Answer(step.Box, step.Press));
    EXPECT_EQ(run.ExitWithoutFurtherWindow(), std::optional<DWORD>(1));
    EXPECT_TRUE(fixture::SameTree(programsBefore, fixture::TreeSnapshot::Take(space.Programs())));
    EXPECT_TRUE(fixture::SameTree(menuBefore, fixture::TreeSnapshot::Take(space.Menu())));
}

TEST(InstallRollback, LeavesTheMachineAsItWas) {
    for (const RollbackCase& c : RollbackCases) {
        for (const char* version : c.Versions) {
            SCOPED_TRACE(std::string(c.Name) + " on " + (version ? version : "Wine's default"));
            RunRollbackCase(c, version);
        }
    }
}

// Where the user says no: the window, and the button or key.
enum Window { Question, License, Directories };
struct Refusal {
    const char* Name;
    Window At;
    int Button;  // 0: the key
    WORD Key;
    const char* Version;
};

const Refusal Refusals[] = {
    {"No to the question", Question, IDNO, 0, nullptr},
    {"Enter on the question", Question, 0, VK_RETURN, nullptr},
    {"Decline", License, IDCANCEL, 0, nullptr},
    {"Enter on the licence", License, 0, VK_RETURN, nullptr},
    {"Escape on the licence", License, 0, VK_ESCAPE, nullptr},
    {"Cancel", Directories, IDCANCEL, 0, nullptr},
    {"Escape on the directories", Directories, 0, VK_ESCAPE, nullptr},
    {"No to the question", Question, IDNO, 0, "win98"},
    {"Enter on the licence", License, 0, VK_RETURN, "win98"},
    {"Cancel", Directories, IDCANCEL, 0, "win98"},
};

void Refuse(const Refusal& refusal) {
    fixture::WindowsVersion version(refusal.Version);
    ASSERT_TRUE(version.Applied());
    Workspace space;
    Product product = space.SampleProduct();
    ASSERT_TRUE(space.LayOut(product));
    fixture::TreeSnapshot before = fixture::TreeSnapshot::Take(space.Root());

    SetupRun run;
    ASSERT_TRUE(run.Start(space.SetupExe(), "", space.Root()));
    HWND window = run.WaitForBox(InstallQuestion(product.AppName, product.AppVersion));
    if (window && refusal.At != Question) {
        ASSERT_TRUE(Press(window, IDYES));
        window = run.WaitForLicense(product.License);
        if (window && refusal.At != License) {
            ASSERT_TRUE(Press(window, IDOK));
            window = run.WaitForDirectories(space.Programs() + "\\E2E Product", "E2E Product");
        }
    }
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(refusal.Button ? Press(window, refusal.Button) : PressKey(window, refusal.Key));
    EXPECT_EQ(run.ExitWithoutFurtherWindow(), std::optional<DWORD>(1));
    EXPECT_TRUE(fixture::SameTree(before, fixture::TreeSnapshot::Take(space.Root())));
}

// No, Decline and Cancel, by button or key, end the run with exit code 1,
// without another window and without a change anywhere.
TEST(InstallRefusal, EndsWithoutChangeOrFurtherWindow) {
    for (const Refusal& refusal : Refusals) {
        SCOPED_TRACE(std::string(refusal.Name) + " on " + (refusal.Version ? refusal.Version : "Wine's default"));
        Refuse(refusal);
    }
}

}  // namespace
