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

#include "install_driver.h"
#include "support/prefix.h"

namespace {

using namespace install_e2e;

// The directory and group typed into the dialog; the group's folder.
struct Choice {
    std::string InstallDir;
    std::string Group;
    std::string GroupDir;
};

// One box the failure shows, and the button the user presses.
struct Step {
    ExpectedBox Box;
    int Press;
};

struct RollbackCase {
    const char* Name;
    // Changes the product, the choice or the disk before the run.
    std::function<bool(const Workspace&, Product&, Choice&)> Prepare;
    // The boxes from the end of the directories dialog to the end.
    std::function<std::vector<Step>(const Workspace&, const Choice&)> Boxes;
};

bool MakeDirectory(const std::string& path) {
    return CreateDirectoryA(path.c_str(), nullptr) != 0;
}

std::string CopyMessage(const Workspace& space, const std::string& name, const std::string& destinationDir) {
    return "Cannot copy " + space.Dist() + "\\" + name + " to " + destinationDir + "\\" + name;
}

const RollbackCase RollbackCases[] = {
    {"ExistingDirectoryNotReused",
     [](const Workspace&, Product&, Choice& choice) {
         return MakeDirectory(choice.InstallDir) && fixture::WriteTextFile(choice.InstallDir + "\\old.txt", "old");
     },
     [](const Workspace&, const Choice& choice) {
         return std::vector<Step>{{ReuseQuestion(choice.InstallDir), IDNO}};
     }},
    {"MissingParentDirectory",
     [](const Workspace& space, Product&, Choice& choice) {
         choice.InstallDir = space.Programs() + "\\missing\\E2E Product";
         return true;
     },
     [](const Workspace&, const Choice& choice) {
         return std::vector<Step>{
             {ErrorBox("Cannot create directory \"" + choice.InstallDir + "\"", ERROR_PATH_NOT_FOUND), IDOK}};
     }},
    // The dialog takes an empty directory; its creation fails.
    {"EmptyInstallDir",
     [](const Workspace&, Product&, Choice& choice) {
         choice.InstallDir.clear();
         return true;
     },
     [](const Workspace&, const Choice&) {
         return std::vector<Step>{{ErrorBox("Cannot create directory \"\"", ERROR_PATH_NOT_FOUND), IDOK}};
     }},
    // The directory is created as typed, while the log goes into the
    // expansion of the typed text, which does not exist.
    {"InstallDirTypedWithAVariable",
     [](const Workspace& space, Product&, Choice& choice) {
         choice.InstallDir = space.Programs() + "\\%AppName%";
         return true;
     },
     [](const Workspace& space, const Choice&) {
         return std::vector<Step>{
             {ErrorBox("Cannot create " + space.Programs() + "\\E2E Product\\install.log file", ERROR_PATH_NOT_FOUND),
              IDOK}};
     }},
    {"ExistingGroupNotReused",
     [](const Workspace&, Product&, Choice& choice) { return MakeDirectory(choice.GroupDir); },
     [](const Workspace&, const Choice& choice) {
         return std::vector<Step>{{ReuseQuestion(choice.GroupDir), IDNO}};
     }},
    {"GroupFolderBlockedByAFile",
     [](const Workspace&, Product&, Choice& choice) { return fixture::WriteTextFile(choice.GroupDir, "in the way"); },
     [](const Workspace&, const Choice& choice) {
         return std::vector<Step>{
             {ErrorBox("Cannot create directory \"" + choice.GroupDir + "\"", ERROR_ALREADY_EXISTS), IDOK}};
     }},
    {"ShortcutCannotBeSaved",
     [](const Workspace&, Product& product, Choice&) {
         // Its file would go into a folder of the group that nothing makes.
         product.Links.insert(product.Links.begin() + 1, {"Extras\\Guide", "%InstallDir%\\readme.txt", ""});
         return true;
     },
     [](const Workspace&, const Choice&) {
         return std::vector<Step>{
             {ErrorBox("Cannot save shortcut file", HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)), IDOK}};
     }},
    {"MissingSourceFile",
     [](const Workspace&, Product& product, Choice&) {
         product.Files.insert(product.Files.begin() + 1, {"missing.dat", "%InstallDir%", "", "", true});
         return true;
     },
     [](const Workspace& space, const Choice& choice) {
         return std::vector<Step>{
             {ErrorBox(CopyMessage(space, "missing.dat", choice.InstallDir), ERROR_FILE_NOT_FOUND), IDOK}};
     }},
    {"MissingDestinationSubdirectory",
     [](const Workspace&, Product& product, Choice&) {
         product.Files.insert(product.Files.begin() + 2, {"guide.txt", "%InstallDir%\\docs", "", "Guide\r\n"});
         return true;
     },
     [](const Workspace& space, const Choice& choice) {
         return std::vector<Step>{
             {ErrorBox(CopyMessage(space, "guide.txt", choice.InstallDir + "\\docs"), ERROR_PATH_NOT_FOUND), IDOK}};
     }},
    // The user agrees to reuse an installation directory that holds a
    // directory named install.log: the first save of the log fails, and the
    // rollback cannot remove the directory it was allowed to reuse, as it is
    // not empty.
    {"LogBlockedByADirectory",
     [](const Workspace&, Product&, Choice& choice) {
         return MakeDirectory(choice.InstallDir) && MakeDirectory(choice.InstallDir + "\\install.log");
     },
     [](const Workspace&, const Choice& choice) {
         return std::vector<Step>{
             {ReuseQuestion(choice.InstallDir), IDYES},
             {ErrorBox("Cannot create " + choice.InstallDir + "\\install.log file", ERROR_ACCESS_DENIED), IDOK},
             {ErrorBox("Cannot delete directory " + choice.InstallDir, ERROR_DIR_NOT_EMPTY), IDOK}};
     }},
};

const RollbackCase* FindCase(const char* name) {
    for (const RollbackCase& c : RollbackCases) {
        if (std::string(c.Name) == name)
            return &c;
    }
    return nullptr;
}

// A case run under one Windows version (null: Wine's default, an NT one).
struct RollbackRun {
    const RollbackCase* Case;
    const char* Version;
};

class InstallRollback : public ::testing::TestWithParam<RollbackRun> {};

TEST_P(InstallRollback, LeavesTheMachineAsItWas) {
    const RollbackCase& c = *GetParam().Case;
    fixture::WindowsVersion version(GetParam().Version);
    ASSERT_TRUE(version.Applied());
    Workspace space;
    Product product = space.SampleProduct();
    std::string offeredDir = space.Programs() + "\\E2E Product";
    Choice choice = {offeredDir, "E2E Product", space.Menu() + "\\E2E Product"};
    ASSERT_TRUE(c.Prepare(space, product, choice));
    ASSERT_TRUE(space.LayOut(product));
    fixture::TreeSnapshot programsBefore = fixture::TreeSnapshot::Take(space.Programs());
    fixture::TreeSnapshot menuBefore = fixture::TreeSnapshot::Take(space.Menu());

    SetupRun run;
    ASSERT_TRUE(run.Start(space.SetupExe(), space.Root()));
    ASSERT_TRUE(run.ReachInstallation(product, offeredDir, choice.InstallDir, choice.Group));
    for (const Step& step : c.Boxes(space, choice))
        ASSERT_TRUE(run.Answer(step.Box, step.Press));
    EXPECT_EQ(run.ExitWithoutFurtherWindow(), std::optional<DWORD>(1));

    EXPECT_TRUE(fixture::SameTree(programsBefore, fixture::TreeSnapshot::Take(space.Programs())));
    EXPECT_TRUE(fixture::SameTree(menuBefore, fixture::TreeSnapshot::Take(space.Menu())));
}

std::vector<RollbackRun> RunsUnder(const char* version, const std::vector<const char*>& names) {
    std::vector<RollbackRun> runs;
    for (const char* name : names)
        runs.push_back({FindCase(name), version});
    return runs;
}

std::vector<RollbackRun> EveryCase() {
    std::vector<RollbackRun> runs;
    for (const RollbackCase& c : RollbackCases)
        runs.push_back({&c, nullptr});
    return runs;
}

std::string RunName(const ::testing::TestParamInfo<RollbackRun>& info) {
    return std::string(info.param.Case->Name) + (info.param.Version ? std::string("_") + info.param.Version : "");
}

INSTANTIATE_TEST_SUITE_P(Nt, InstallRollback, ::testing::ValuesIn(EveryCase()), RunName);
INSTANTIATE_TEST_SUITE_P(OtherVersions, InstallRollback, ::testing::ValuesIn([] {
                             std::vector<RollbackRun> runs =
                                 RunsUnder("win98", {"ExistingDirectoryNotReused", "ShortcutCannotBeSaved",
                                                     "MissingSourceFile", "LogBlockedByADirectory"});
                             for (const RollbackRun& run : RunsUnder("nt40", {"MissingDestinationSubdirectory"}))
                                 runs.push_back(run);
                             return runs;
                         }()),
                         RunName);

// How the user says no, and at which window.
enum class Refusal {
    NoToQuestion,
    EnterOnQuestion,
    Decline,
    EnterOnLicense,
    EscapeOnLicense,
    Cancel,
    EscapeOnDirectories
};

struct RefusalRun {
    const char* Name;
    Refusal How;
    const char* Version;
};

class InstallRefusal : public ::testing::TestWithParam<RefusalRun> {};

// No, Decline and Cancel, by button or key, end the run with exit code 1,
// without another window and without a change anywhere.
TEST_P(InstallRefusal, EndsWithoutChangeOrFurtherWindow) {
    Refusal how = GetParam().How;
    fixture::WindowsVersion version(GetParam().Version);
    ASSERT_TRUE(version.Applied());
    Workspace space;
    Product product = space.SampleProduct();
    ASSERT_TRUE(space.LayOut(product));
    fixture::TreeSnapshot before = fixture::TreeSnapshot::Take(space.Root());

    SetupRun run;
    ASSERT_TRUE(run.Start(space.SetupExe(), space.Root()));
    if (how == Refusal::NoToQuestion || how == Refusal::EnterOnQuestion) {
        ASSERT_TRUE(how == Refusal::NoToQuestion ? run.Answer(InstallQuestion(product), IDNO)
                                                 : run.AnswerWithKey(InstallQuestion(product), VK_RETURN));
    } else {
        ASSERT_TRUE(run.AnswerInstallQuestion(product, IDYES));
        HWND license = run.WaitForLicense(product.License);
        ASSERT_NE(license, nullptr);
        if (how == Refusal::Decline) {
            ASSERT_TRUE(run.Press(license, IDCANCEL));
        } else if (how == Refusal::EnterOnLicense || how == Refusal::EscapeOnLicense) {
            ASSERT_TRUE(run.PressKey(license, how == Refusal::EnterOnLicense ? VK_RETURN : VK_ESCAPE));
        } else {
            ASSERT_TRUE(run.Press(license, IDOK));
            HWND directories = run.WaitForDirectories(space.Programs() + "\\E2E Product", "E2E Product");
            ASSERT_NE(directories, nullptr);
            ASSERT_TRUE(how == Refusal::Cancel ? run.Press(directories, IDCANCEL)
                                               : run.PressKey(directories, VK_ESCAPE));
        }
    }
    EXPECT_EQ(run.ExitWithoutFurtherWindow(), std::optional<DWORD>(1));
    EXPECT_TRUE(fixture::SameTree(before, fixture::TreeSnapshot::Take(space.Root())));
}

const RefusalRun RefusalRuns[] = {
    {"NoToQuestion", Refusal::NoToQuestion, nullptr},
    {"EnterOnQuestion", Refusal::EnterOnQuestion, nullptr},
    {"Decline", Refusal::Decline, nullptr},
    {"EnterOnLicense", Refusal::EnterOnLicense, nullptr},
    {"EscapeOnLicense", Refusal::EscapeOnLicense, nullptr},
    {"Cancel", Refusal::Cancel, nullptr},
    {"EscapeOnDirectories", Refusal::EscapeOnDirectories, nullptr},
    {"NoToQuestion_win98", Refusal::NoToQuestion, "win98"},
    {"EnterOnLicense_win98", Refusal::EnterOnLicense, "win98"},
    {"Cancel_win98", Refusal::Cancel, "win98"},
};

INSTANTIATE_TEST_SUITE_P(AllWays, InstallRefusal, ::testing::ValuesIn(RefusalRuns),
                         [](const ::testing::TestParamInfo<RefusalRun>& info) { return std::string(info.param.Name); });

}  // namespace
