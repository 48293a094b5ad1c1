// An installation stopped hard in the middle of its copy stage, as by the
// task manager or a power cut. install.log on the disk is the one saved
// after the last finished stage: it lists only what exists, and an
// uninstall from it removes all it lists. What it cannot know of stays:
// the files copied since that save, and the directory that holds them.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/install_driver.h"
#include "e2e/uninstall_support.h"
#include "support/prefix.h"

namespace {

// Enough data that the copy stage is still running when the test sees its
// first file.
const int DataFileCount = 60;
const size_t DataFileSize = 2u << 20;
const DWORD CopyStageTimeoutMs = 20000;

std::string DataFileName(int i) {
    return "data" + std::to_string(100 + i).substr(1) + ".bin";
}

// The paths of the CreateDir and CreateFile lines of a log, in its order.
std::vector<std::string> LoggedPaths(const std::string& logText) {
    std::vector<std::string> paths;
    std::istringstream lines(logText);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        for (const std::string event : {"CreateDir ", "CreateFile "}) {
            if (line.compare(0, event.size(), event) == 0)
                paths.push_back(line.substr(event.size()));
        }
    }
    return paths;
}

// Waits, watching as closely as it can, until `path` exists; false when the
// process ends first or the time is up.
bool WaitUntilMade(const std::string& path, const fixture::ChildProcess& process) {
    DWORD start = GetTickCount();
    while (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (!process.Running() || GetTickCount() - start > CopyStageTimeoutMs)
            return false;
        Sleep(0);
    }
    return true;
}

std::set<std::string> NamesIn(const std::string& dir) {
    std::set<std::string> names;
    fixture::TreeSnapshot snapshot = fixture::TreeSnapshot::Take(dir);
    for (const fixture::TreeEntry& entry : snapshot.Entries())
        names.insert(entry.RelativePath);
    return names;
}

TEST(KilledInstallation, LogListsOnlyWhatExistsAndItsUninstallRemovesAllItLists) {
    install_e2e::Workspace space;
    install_e2e::Product product = space.SampleProduct();
    product.AppName = uninstall_test::AppName;
    product.Files.clear();
    for (int i = 0; i < DataFileCount; i++)
        product.Files.push_back({DataFileName(i), "%InstallDir%", "", std::string(DataFileSize, static_cast<char>('a' + i % 26))});
    ASSERT_TRUE(space.LayOut(product));
    std::string installDir = fixture::JoinPath(space.Programs(), product.AppName);
    fixture::TreeSnapshot menuBefore = fixture::TreeSnapshot::Take(space.Menu());

    install_e2e::SetupRun run;
    ASSERT_TRUE(run.Start(space.SetupExe(), space.Root()));
    ASSERT_TRUE(run.ReachInstallation(product, installDir, installDir, product.AppName));
    ASSERT_TRUE(WaitUntilMade(fixture::JoinPath(installDir, DataFileName(0)), run.Process()))
        << "the copy stage did not begin";
    run.Process().Kill();
    ASSERT_EQ(WaitForSingleObject(run.Process().Process(), install_e2e::ExitTimeoutMs), WAIT_OBJECT_0);
    // The program copies itself last: without it, the kill came within the
    // copy stage.
    ASSERT_FALSE(install_e2e::FileExists(fixture::JoinPath(installDir, "setup.exe")))
        << "the copy stage ended before the kill";

    std::vector<std::string> logged = LoggedPaths(fixture::ReadTextFile(fixture::JoinPath(installDir, "install.log")));
    std::set<std::string> listed(logged.begin(), logged.end());
    EXPECT_EQ(listed.count(installDir), 1u);
    EXPECT_EQ(listed.count(fixture::JoinPath(installDir, "install.log")), 1u);
    for (const std::string& path : logged)
        EXPECT_TRUE(install_e2e::FileExists(path)) << "listed but not there: " << path;
    std::set<std::string> copied;
    for (int i = 0; i < DataFileCount; i++) {
        std::string path = fixture::JoinPath(installDir, DataFileName(i));
        EXPECT_EQ(listed.count(path), 0u) << "listed before the copy stage ended: " << path;
        if (install_e2e::FileExists(path))
            copied.insert(DataFileName(i));
    }

    // The uninstall, from the distribution's setup.exe: the directory stays,
    // as the copied files that the log does not list are still in it.
    fixture::ChildProcess first;
    uninstall_test::StartFirstStage(first, installDir, space.SetupExe());
    uninstall_test::TreeMember copy;
    ASSERT_TRUE(copy.FindTempProgram(first, "EXE", uninstall_test::WindowTimeoutMs));
    EXPECT_TRUE(uninstall_test::AnswerBox(
        copy.Id(), uninstall_test::ErrorBox("Cannot delete directory " + installDir + " (0/145 - ", true)));
    EXPECT_TRUE(uninstall_test::AnswerBox(copy.Id(), uninstall_test::CompletionBox()));
    DWORD code = 1;
    EXPECT_TRUE(copy.WaitForExit(uninstall_test::ExitTimeoutMs, &code));
    EXPECT_EQ(code, 0u);

    for (const std::string& path : logged) {
        if (path != installDir) {
            EXPECT_FALSE(install_e2e::FileExists(path)) << "left behind: " << path;
        }
    }
    EXPECT_EQ(NamesIn(installDir), copied);
    EXPECT_TRUE(fixture::SameTree(menuBefore, fixture::TreeSnapshot::Take(space.Menu())));
}

}  // namespace
