// Mutated installation logs replayed under the mask of all events. The logs
// name only paths inside a scratch folder, paths that do not exist and keys
// under a throwaway registry key; nothing else may change.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/setup_state.h"
#include "log/replay.h"
#include "reliability/mutation.h"
#include "reliability/program_texts.h"
#include "support/prefix.h"
#include "support/responder.h"

namespace {

const int CaseCount = 10000;
const int BatchSize = 1000;
const uint32_t FixedStart = 0x9E3779B9u;

// Control characters other than CR and LF and the marks of the other texts:
// a log line never gets a line end put into it, so no path is ever cut to a
// folder above the scratch folder.
std::string LogCharacters() {
    std::string characters = "%=,\" \tabcXYZ019;";
    for (int c = 1; c < 32; c++) {
        if (c != '\r' && c != '\n')
            characters += static_cast<char>(c);
    }
    return characters;
}

// The sub-keys of a key, in order; a snapshot of one registry level.
std::vector<std::string> SubKeys(HKEY root, const char* path) {
    std::vector<std::string> names;
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    char name[256];
    for (DWORD i = 0;; i++) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.push_back(name);
    }
    RegCloseKey(key);
    return names;
}

// The queue of deletions at restart, which an answered file-in-use question
// would extend.
std::string PendingRenames() {
    HKEY key;
    std::string value;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ,
                      &key) != ERROR_SUCCESS)
        return value;
    char data[8192];
    DWORD size = sizeof data;
    if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, nullptr, reinterpret_cast<BYTE*>(data),
                         &size) == ERROR_SUCCESS)
        value.assign(data, size);
    RegCloseKey(key);
    return value;
}

// The temp folder without the scratch folder in it.
std::vector<fixture::TreeEntry> OutsideEntries(const std::string& tempDir, const std::string& scratchName) {
    std::vector<fixture::TreeEntry> outside;
    fixture::TreeSnapshot snapshot = fixture::TreeSnapshot::Take(tempDir);
    for (const fixture::TreeEntry& entry : snapshot.Entries()) {
        if (entry.RelativePath != scratchName && entry.RelativePath.rfind(scratchName + "\\", 0) != 0)
            outside.push_back(entry);
    }
    return outside;
}

std::string Describe(const std::vector<fixture::TreeEntry>& entries) {
    std::string text;
    for (const fixture::TreeEntry& entry : entries)
        text += entry.RelativePath + " " + std::to_string(entry.Size) + " " + std::to_string(entry.Hash) + "\n";
    return text;
}

class ReplayMutationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::Setup.IsWindowsNT = TRUE;
        ::Setup.RestartNeeded = FALSE;
        ASSERT_FALSE(scratch_.Path().empty());
        area_ = scratch_.Join("area");
        testKey_ = "Software\\SetupReliabilityTest" + std::to_string(GetCurrentProcessId());
        ASSERT_TRUE(scratch_.Write("beside\\keep.txt", "outside the replayed area"));
    }
    void TearDown() override {
        RegDeleteKeyA(HKEY_CURRENT_USER, (testKey_ + "\\k0\\k1").c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, (testKey_ + "\\k0").c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, testKey_.c_str());
        ::Setup.RestartNeeded = FALSE;
    }

    // The folders, files and keys that the valid log names, made anew.
    void MakeLoggedThings() {
        CreateDirectoryA(area_.c_str(), nullptr);
        CreateDirectoryA((area_ + "\\d0").c_str(), nullptr);
        CreateDirectoryA((area_ + "\\d0\\d1").c_str(), nullptr);
        for (const char* file : {"\\d0\\f0.txt", "\\d0\\f1.txt", "\\d0\\d1\\f2.txt"})
            ASSERT_TRUE(fixture::WriteTextFile(area_ + file, "x"));
        HKEY key;
        ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, (testKey_ + "\\k0\\k1").c_str(), &key), ERROR_SUCCESS);
        RegCloseKey(key);
    }

    std::vector<std::string> ValidLog() const {
        std::string keyPath = "HKCU\\" + testKey_;
        return {"; Installation log",
                ";",
                "AppName Sample Product",
                "CreateDir " + area_ + "\\d0",
                "CreateFile " + area_ + "\\d0\\f0.txt",
                "CreateFile " + area_ + "\\d0\\f1.txt",
                "CreateDir " + area_ + "\\d0\\d1",
                "CreateFile " + area_ + "\\d0\\d1\\f2.txt",
                "CreateKey " + keyPath + "\\k0",
                "CreateKey " + keyPath + "\\k0\\k1",
                "CreateValue " + keyPath + "\\k0 Value",
                "CreateDir C:\\setup_reliability_missing",
                "CreateFile C:\\setup_reliability_missing\\gone.txt",
                "CreateFile " + area_ + "\\missing\\gone.txt",
                ""};
    }

    fixture::ScratchDir scratch_;
    std::string area_;
    std::string testKey_;
};

TEST_F(ReplayMutationTest, MutatedLogsReplayOnlyInsideTheScratchFolder) {
    char temp[MAX_PATH];
    ASSERT_NE(GetTempPathA(sizeof temp, temp), 0u);
    std::string tempDir(temp);
    std::string scratchName = scratch_.Path().substr(scratch_.Path().find_last_of('\\') + 1);
    std::vector<std::string> valid = ValidLog();
    MutationAlphabet alphabet{LogCharacters(), {}};
    FixedRandom random(FixedStart);
    int failed = 0;
    int undone = 0;
    // The throwaway key is there from the start: it is part of the "before".
    MakeLoggedThings();
    for (int batch = 0; batch < CaseCount / BatchSize; batch++) {
        std::vector<fixture::TreeEntry> outsideBefore = OutsideEntries(tempDir, scratchName);
        fixture::TreeSnapshot besideBefore = fixture::TreeSnapshot::Take(scratch_.Join("beside"));
        std::vector<std::string> softwareBefore = SubKeys(HKEY_CURRENT_USER, "Software");
        std::string pendingBefore = PendingRenames();
        for (int i = batch * BatchSize; i < (batch + 1) * BatchSize; i++) {
            MakeLoggedThings();
            std::string text = Mutate(valid, alphabet, random);
            std::vector<char> buffer(text.begin(), text.end());
            buffer.push_back('\0');
            ScriptedResponder responder;
            if (!ReplayLog(buffer.data(), AllEvents))
                failed++;
            ASSERT_EQ(ForeignTexts(responder.Boxes()), "") << "case " << i << ":\n" << text;
            // The text is consumed: nothing of it is left.
            ASSERT_EQ(buffer[0], '\0') << "case " << i;
            ASSERT_FALSE(::Setup.RestartNeeded) << "case " << i << ":\n" << text;
            if (GetFileAttributesA((area_ + "\\d0\\f0.txt").c_str()) == INVALID_FILE_ATTRIBUTES)
                undone++;
        }
        ASSERT_EQ(Describe(OutsideEntries(tempDir, scratchName)), Describe(outsideBefore)) << "batch " << batch;
        ASSERT_TRUE(fixture::SameTree(besideBefore, fixture::TreeSnapshot::Take(scratch_.Join("beside"))));
        ASSERT_EQ(SubKeys(HKEY_CURRENT_USER, "Software"), softwareBefore) << "batch " << batch;
        ASSERT_EQ(PendingRenames(), pendingBefore) << "batch " << batch;
    }
    // Unknown event words (a mutated word, CreateValue) fail the replay; the
    // valid words do not.
    EXPECT_GT(failed, 0);
    EXPECT_LT(failed, CaseCount);
    // Most logs still name the logged file and delete it.
    EXPECT_GT(undone, CaseCount / 2);
}

}  // namespace
