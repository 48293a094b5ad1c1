// The fixture helpers that the end-to-end tests stand on: tree snapshots,
// scratch folders, the per-program Windows version and child processes.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <string>

#include "support/prefix.h"
#include "support/robot.h"

namespace {

TEST(TreeSnapshot, DescribesEveryKindOfChange) {
    fixture::ScratchDir scratch;
    ASSERT_TRUE(scratch.Write("a.txt", "abc"));
    ASSERT_TRUE(scratch.Write("sub\\b.txt", "12345"));
    ASSERT_TRUE(scratch.Write("sub\\deep\\c.txt", ""));
    ASSERT_TRUE(scratch.Write("swap", "x"));
    ASSERT_TRUE(CreateDirectoryA(scratch.Join("empty").c_str(), nullptr));
    fixture::TreeSnapshot before = fixture::TreeSnapshot::Take(scratch.Path());
    ASSERT_EQ(before.Entries().size(), 7u);
    EXPECT_TRUE(fixture::SameTree(before, fixture::TreeSnapshot::Take(scratch.Path())));

    ASSERT_TRUE(scratch.Write("a.txt", "abd"));
    ASSERT_TRUE(scratch.Write("sub\\b.txt", "123456"));
    ASSERT_TRUE(scratch.Write("new.txt", "hi"));
    ASSERT_TRUE(DeleteFileA(scratch.Join("sub\\deep\\c.txt").c_str()));
    ASSERT_TRUE(RemoveDirectoryA(scratch.Join("empty").c_str()));
    ASSERT_TRUE(DeleteFileA(scratch.Join("swap").c_str()));
    ASSERT_TRUE(CreateDirectoryA(scratch.Join("swap").c_str(), nullptr));
    fixture::TreeSnapshot after = fixture::TreeSnapshot::Take(scratch.Path());

    EXPECT_EQ(fixture::DescribeChanges(before, after),
              "changed file a.txt: contents differ (3 bytes)\n"
              "added file new.txt (2 bytes)\n"
              "changed file sub\\b.txt: 5 -> 6 bytes\n"
              "replaced file swap (1 bytes) by a folder\n"
              "removed folder empty\n"
              "removed file sub\\deep\\c.txt (0 bytes)\n");
    EXPECT_FALSE(fixture::SameTree(before, after));

    // A missing root is told from an empty one.
    std::string later = scratch.Join("later");
    fixture::TreeSnapshot missing = fixture::TreeSnapshot::Take(later);
    EXPECT_FALSE(missing.RootExists());
    EXPECT_TRUE(fixture::SameTree(missing, fixture::TreeSnapshot::Take(later)));
    ASSERT_TRUE(CreateDirectoryA(later.c_str(), nullptr));
    EXPECT_EQ(fixture::DescribeChanges(missing, fixture::TreeSnapshot::Take(later)),
              "folder " + later + " was created\n");
}

TEST(ScratchDir, LivesInTheTempDirectoryAndGoesWithItsContents) {
    char temp[MAX_PATH];
    ASSERT_NE(GetTempPathA(sizeof temp, temp), 0u);
    std::string path;
    {
        fixture::ScratchDir scratch;
        path = scratch.Path();
        ASSERT_EQ(path.compare(0, strlen(temp), temp), 0) << path;
        ASSERT_TRUE(scratch.Write("deep\\er\\locked.txt", "read only"));
        ASSERT_TRUE(SetFileAttributesA(scratch.Join("deep\\er\\locked.txt").c_str(), FILE_ATTRIBUTE_READONLY));
        EXPECT_EQ(fixture::ReadTextFile(scratch.Join("deep\\er\\locked.txt")), "read only");
        fixture::ScratchDir other;
        EXPECT_NE(other.Path(), path);
    }
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

// The Version value of a program's AppDefaults key; "-" when there is
// none, "no key" when the key itself is gone.
std::string VersionValue(const char* program) {
    std::string path = std::string("Software\\Wine\\AppDefaults\\") + program;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "no key";
    char value[64];
    DWORD size = sizeof value;
    LONG status = RegGetValueA(key, nullptr, "Version", RRF_RT_REG_SZ, nullptr, value, &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? value : "-";
}

TEST(WindowsVersion, SetsTheValueAndPutsBackWhatWasThere) {
    const char program[] = "fixture-probe.exe";
    ASSERT_EQ(VersionValue(program), "no key");
    {
        fixture::WindowsVersion outer("win2k", program);
        EXPECT_TRUE(outer.Applied());
        EXPECT_EQ(VersionValue(program), "win2k");
        {
            fixture::WindowsVersion inner("win98", program);
            EXPECT_EQ(VersionValue(program), "win98");
        }
        EXPECT_EQ(VersionValue(program), "win2k");
    }
    EXPECT_EQ(VersionValue(program), "no key");
}

const DWORD WindowTimeoutMs = 20000;

TEST(ChildProcess, KillsAProgramThatOutlivesItsTimeOut) {
    fixture::ChildProcess setup;
    ASSERT_TRUE(setup.Start(fixture::SetupExePath(), "-x"));
    ASSERT_NE(setup.WaitForWindow("Setup", WindowTimeoutMs), nullptr);
    std::optional<DWORD> code;
    EXPECT_NONFATAL_FAILURE(code = setup.WaitForExit(100), "was killed");
    EXPECT_FALSE(code.has_value());
    EXPECT_FALSE(setup.Running());
}

TEST(ChildProcess, ReportsAProgramThatEndsWithoutTheWindow) {
    fixture::ChildProcess cmd;
    ASSERT_TRUE(cmd.Start("C:\\windows\\system32\\cmd.exe", "/c exit 3"));
    EXPECT_NONFATAL_FAILURE(cmd.WaitForWindow("Setup", WindowTimeoutMs), "ended with code 3");
    EXPECT_EQ(cmd.WaitForExit(WindowTimeoutMs), std::optional<DWORD>(3));
}

// What a program starts belongs to the same tree: the copy that the first
// uninstall stage leaves running is waited for and killed with it.
TEST(ChildProcess, WaitsForAndKillsTheWholeTree) {
    fixture::ChildProcess cmd;
    ASSERT_TRUE(cmd.Start("C:\\windows\\system32\\cmd.exe", "/c start \"\" \"" + fixture::SetupExePath() + "\" -x"));
    EXPECT_EQ(cmd.WaitForExit(WindowTimeoutMs), std::optional<DWORD>(0));
    HWND box = robot::FindWindowByTitle("Setup", 0, WindowTimeoutMs);
    ASSERT_NE(box, nullptr);
    EXPECT_NONFATAL_FAILURE(cmd.WaitForAll(100), "were killed");
    EXPECT_TRUE(robot::WaitGone(box));
    EXPECT_TRUE(cmd.WaitForAll(WindowTimeoutMs));
}

}  // namespace
