// An installation stopped hard in the middle of its copy stage, as by the
// task manager or a power cut. install.log on the disk is the one saved
// after the last finished stage: it lists only what exists, and an
// uninstall from it removes all it lists. What it cannot know of stays:
// the files copied since that save, and the directory that holds them.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"
#include "support/prefix.h"

namespace {

using namespace e2e;

// Enough data that the copy stage is still running when the test sees its
// first file.
const int DataFileCount = 60;
const size_t DataFileSize = 2u << 20;

std::string DataFileName(int i) {
    return "data" + std::to_string(100 + i).substr(1) + ".bin";
}

TEST(KilledInstallation, LogListsOnlyWhatExistsAndItsUninstallRemovesAllItLists) {
    Workspace space;
    Product product = space.SampleProduct();
    product.Files.clear();
    for (int i = 0; i < DataFileCount; i++)
        product.Files.push_back({DataFileName(i), "%InstallDir%", "", std::string(DataFileSize, 'a' + i % 26)});
    ASSERT_TRUE(space.LayOut(product));
    std::string installDir = fixture::JoinPath(space.Programs(), product.AppName);
    fixture::TreeSnapshot menuBefore = fixture::TreeSnapshot::Take(space.Menu());

    SetupRun run;
    ASSERT_TRUE(run.Start(space.SetupExe(), "", space.Root()));
    ASSERT_TRUE(run.ReachInstallation(product, installDir, product.AppName));
    // Watching as closely as it can for the first copy.
    std::string first = fixture::JoinPath(installDir, DataFileName(0));
    for (DWORD start = GetTickCount(); !Exists(first) && run.Running() && GetTickCount() - start < WindowTimeoutMs;)
        Sleep(0);
    ASSERT_TRUE(Exists(first)) << "the copy stage did not begin";
    run.Kill();
    ASSERT_EQ(WaitForSingleObject(run.Process(), ExitTimeoutMs), WAIT_OBJECT_0);
    // The program copies itself last: without it, the kill came within the
    // copy stage.
    ASSERT_FALSE(Exists(fixture::JoinPath(installDir, "setup.exe"))) << "the copy stage ended before the kill";

    std::vector<std::string> logged;
    for (const std::string& line : LogLinesIn(installDir)) {
        for (const std::string event : {"CreateDir ", "CreateFile "}) {
            if (line.compare(0, event.size(), event) == 0)
                logged.push_back(line.substr(event.size()));
        }
    }
    std::set<std::string> listed(logged.begin(), logged.end());
    EXPECT_EQ(listed.count(installDir), 1u);
    EXPECT_EQ(listed.count(fixture::JoinPath(installDir, "install.log")), 1u);
    for (const std::string& path : logged)
        EXPECT_TRUE(Exists(path)) << "listed but not there: " << path;
    std::set<std::string> copied;
    for (int i = 0; i < DataFileCount; i++) {
        std::string path = fixture::JoinPath(installDir, DataFileName(i));
        EXPECT_EQ(listed.count(path), 0u) << "listed before the copy stage ended: " << path;
        if (Exists(path))
            copied.insert(DataFileName(i));
    }

    // The uninstall, from the distribution's setup.exe: the directory stays,
    // as the copied files that the log does not list are still in it; the
    // completion follows the error.
    fixture::ChildProcess firstStage;
    StartFirstStage(firstStage, product.AppName, installDir, space.SetupExe());
    TreeMember copy;
    ASSERT_TRUE(copy.Find(firstStage));
    EXPECT_TRUE(AnswerBox(copy.Id(), ErrorBox("Cannot delete directory " + installDir, ERROR_DIR_NOT_EMPTY), IDOK));
    EXPECT_TRUE(AnswerBox(copy.Id(), UninstallComplete(), IDOK));
    EXPECT_EQ(copy.WaitForExit(), std::optional<DWORD>(0));
    for (const std::string& path : logged)
        EXPECT_TRUE(path == installDir || !Exists(path)) << "left behind: " << path;
    EXPECT_EQ(NamesIn(installDir), copied);
    EXPECT_TRUE(fixture::SameTree(menuBefore, fixture::TreeSnapshot::Take(space.Menu())));
}

}  // namespace
