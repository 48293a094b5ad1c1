// Deletion at the next restart (NT's pending operations and wininit.ini,
// both put back afterwards) and temporary files, on real files.
#include <gtest/gtest.h>

#include <string>

#include "common/messages.h"
#include "common/setup_state.h"
#include "support/prefix.h"
#include "support/responder.h"
#include "uninstall/deferred.h"
#include "support/restart_queue.h"

namespace {

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string TempName(unsigned number, const char* extension) {
    char name[32];
    wsprintfA(name, "TMP%04X.%s", number, extension);
    return name;
}

// Sets the TMP variable (which GetTempPathA reads first) for its lifetime.
class TempVariable {
public:
    explicit TempVariable(const std::string& value) {
        char old[MAX_PATH];
        DWORD length = GetEnvironmentVariableA("TMP", old, sizeof old);
        had_ = length > 0 && length < sizeof old;
        if (had_)
            old_ = old;
        SetEnvironmentVariableA("TMP", value.c_str());
    }
    ~TempVariable() { SetEnvironmentVariableA("TMP", had_ ? old_.c_str() : nullptr); }

private:
    bool had_ = false;
    std::string old_;
};

class DeferredTest : public ::testing::Test {
protected:
    void SetUp() override { ::Setup.IsWindowsNT = TRUE; }
    void TearDown() override { ::Setup.IsWindowsNT = TRUE; }

    fixture::ScratchDir scratch_;
};

TEST_F(DeferredTest, NextTempNumberFromKnownStates) {
    TempNameSeed = 1;
    EXPECT_EQ(0x29, NextTempNumber());
    EXPECT_EQ(2745024u, TempNameSeed);  // the state moves on
    TempNameSeed = 0;
    EXPECT_EQ(0x26, NextTempNumber());
}

TEST_F(DeferredTest, TempDirLosesItsTrailingBackslash) {
    struct Case {
        std::string variable;
        std::string expected;
    } cases[] = {
        {scratch_.Path() + "\\", scratch_.Path()},
        {scratch_.Path(), scratch_.Path()},
        {"C:\\", "C:"},
    };
    for (const Case& c : cases) {
        TempVariable variable(c.variable);
        char buffer[PathBufferSize];
        ASSERT_TRUE(GetTempDir(buffer, sizeof buffer)) << c.variable;
        EXPECT_EQ(c.expected, buffer);
    }
}

TEST_F(DeferredTest, TempDirThatDoesNotFitIsReported) {
    ScriptedResponder responder;
    TempVariable variable(scratch_.Path() + "\\");
    char buffer[8];
    EXPECT_FALSE(GetTempDir(buffer, sizeof buffer));
    ASSERT_EQ(1u, responder.Boxes().size());
    EXPECT_EQ(0u, responder.Texts()[0].find("Cannot get temporary dir (0/206 - ")) << responder.Texts()[0];
}

// A new empty file in the temporary directory, open for writing and shared
// with nobody.
TEST_F(DeferredTest, TempFileIsNewExclusiveAndNamedByNumber) {
    ScriptedResponder responder;
    TempVariable variable(scratch_.Path() + "\\");
    char path[PathBufferSize];
    HANDLE file = CreateTempFile(path, sizeof path, "EXE");
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    std::string name = std::string(path).substr(scratch_.Path().size() + 1);
    EXPECT_EQ(scratch_.Path() + "\\" + name, path);
    ASSERT_EQ(11u, name.size()) << name;
    EXPECT_EQ("TMP", name.substr(0, 3));
    EXPECT_EQ(".EXE", name.substr(7));
    unsigned number = std::stoul(name.substr(3, 4), nullptr, 16);
    EXPECT_LE(number, 0x7FFFu);
    EXPECT_EQ(TempName(number, "EXE"), name);  // four upper-case digits

    HANDLE other = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                               nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, other);
    EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, GetLastError());
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, "MZ", 2, &written, nullptr));
    CloseHandle(file);
    EXPECT_EQ("MZ", fixture::ReadTextFile(path));
    EXPECT_TRUE(responder.Boxes().empty());
}

// An existing name makes the next number of the sequence be tried, without
// a message; another extension is another name.
TEST_F(DeferredTest, ExistingNameMovesOnToTheNextNumber) {
    ScriptedResponder responder;
    ASSERT_TRUE(scratch_.Write("TMP0029.EXE", "taken"));
    char path[PathBufferSize];
    TempNameSeed = 1;
    HANDLE file = CreateNumberedFile(path, sizeof path, scratch_.Path().c_str(), "EXE");
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    unsigned second = ((1u * 214013 + 2531011) * 214013 + 2531011) >> 16 & 0x7FFF;
    EXPECT_EQ(scratch_.Join(TempName(second, "EXE")), path);
    EXPECT_EQ("taken", fixture::ReadTextFile(scratch_.Join("TMP0029.EXE")));

    TempNameSeed = 1;
    file = CreateNumberedFile(path, sizeof path, scratch_.Path().c_str(), "BAT");
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    EXPECT_EQ(scratch_.Join("TMP0029.BAT"), path);
    EXPECT_TRUE(responder.Boxes().empty());
}

TEST_F(DeferredTest, TempPathThatDoesNotFitIsReportedNotCut) {
    ScriptedResponder responder;
    char path[PathBufferSize];
    std::string directory = "C:\\" + std::string(200, 'd');
    std::string extension(60, 'x');
    TempNameSeed = 1;
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateNumberedFile(path, sizeof path, directory.c_str(), extension.c_str()));
    ASSERT_EQ(1u, responder.Boxes().size());
    std::string expected = "Cannot create " + directory + "\\TMP0029." + extension.substr(0, 20);
    EXPECT_EQ(0u, responder.Texts()[0].find(expected)) << responder.Texts()[0];
}

// Makes every name TMP0000.<extension> to TMP7FFF.<extension> in `directory`.
// Wine looks a new name up in the whole directory, so 32,768 new names take
// minutes through Windows calls; a shell of the host makes them at once.
bool MakeEveryTempName(const std::string& directory, const char* extension) {
    typedef char*(CDECL * UnixNameFunction)(const WCHAR*);
    auto unixName = reinterpret_cast<UnixNameFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!unixName)
        return false;
    std::wstring wide(directory.begin(), directory.end());
    char* unixDirectory = unixName(wide.c_str());
    if (!unixDirectory)
        return false;
    std::string command = "/bin/sh -c \"cd '" + std::string(unixDirectory) +
                          "' && i=0; while [ $i -lt 32768 ]; do printf 'TMP%04X." + extension +
                          "\\n' $i; i=$((i+1)); done | xargs touch\"";
    HeapFree(GetProcessHeap(), 0, unixDirectory);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    // The handle of a host process does not tell its end: the last name,
    // made last, does.
    std::string last = fixture::JoinPath(directory, TempName(0x7FFF, extension));
    for (int wait = 0; wait < 600 && !Exists(last); wait++)
        Sleep(100);
    return Exists(fixture::JoinPath(directory, TempName(0, extension))) && Exists(last);
}

TEST_F(DeferredTest, AllNamesTakenStopsWithAMessage) {
    std::string full = scratch_.Join("full");
    ASSERT_TRUE(CreateDirectoryA(full.c_str(), nullptr));
    if (!MakeEveryTempName(full, "EXE"))
        GTEST_SKIP() << "cannot make 32,768 files quickly here";
    ScriptedResponder responder;
    char path[PathBufferSize];
    TempNameSeed = 12345;
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateNumberedFile(path, sizeof path, full.c_str(), "EXE"));
    std::vector<std::string> expected = {"Cannot create a temporary file in " + full +
                                         ": all names TMP0000.EXE to TMP7FFF.EXE exist"};
    EXPECT_EQ(expected, responder.Texts());

    // One free name is found wherever the sequence puts it.
    ASSERT_TRUE(DeleteFileA(fixture::JoinPath(full, "TMP4321.EXE").c_str()));
    HANDLE file = CreateNumberedFile(path, sizeof path, full.c_str(), "EXE");
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    EXPECT_EQ(fixture::JoinPath(full, "TMP4321.EXE"), path);
}

TEST_F(DeferredTest, DeleteOnRestartUsesPendingOperationsOnNT) {
    restart_queue::PendingOperationsGuard guard;
    restart_queue::WininitGuard wininit;
    std::string before = fixture::ReadTextFile(wininit.Path());
    ASSERT_TRUE(scratch_.Write("queued.txt", "x"));
    std::string path = scratch_.Join("queued.txt");
    EXPECT_TRUE(DeleteOnRestart(path.c_str()));
    EXPECT_TRUE(restart_queue::IsPending(path));
    EXPECT_TRUE(Exists(path));
    EXPECT_EQ(before, fixture::ReadTextFile(wininit.Path()));
}

// Windows 9x: wininit.ini of the Windows directory gets "NUL=<short path>"
// behind what its [Rename] section holds; other sections stay.
TEST_F(DeferredTest, DeleteOnRestartAddsRenameEntriesOn9x) {
    restart_queue::PendingOperationsGuard guard;
    restart_queue::WininitGuard wininit;
    ::Setup.IsWindowsNT = FALSE;
    ASSERT_TRUE(scratch_.Write("first file.txt", "x"));
    ASSERT_TRUE(scratch_.Write("second file.txt", "x"));
    std::string first = restart_queue::ShortPathOf(scratch_.Join("first file.txt"));
    std::string second = restart_queue::ShortPathOf(scratch_.Join("second file.txt"));
    ASSERT_FALSE(first.empty());

    DeleteFileA(wininit.Path().c_str());
    EXPECT_TRUE(DeleteOnRestart(scratch_.Join("first file.txt").c_str()));
    EXPECT_EQ("[Rename]\r\nNUL=" + first + "\r\n", fixture::ReadTextFile(wininit.Path()));

    ASSERT_TRUE(fixture::WriteTextFile(wininit.Path(),
                                       "[Other]\r\nkey=value\r\n[Rename]\r\nNUL=C:\\OLD.TXT\r\nC:\\A.TXT=C:\\B.TXT\r\n"));
    EXPECT_TRUE(DeleteOnRestart(scratch_.Join("second file.txt").c_str()));
    EXPECT_EQ("[Other]\r\nkey=value\r\n[Rename]\r\nNUL=C:\\OLD.TXT\r\nC:\\A.TXT=C:\\B.TXT\r\nNUL=" + second + "\r\n",
              fixture::ReadTextFile(wininit.Path()));
    EXPECT_FALSE(restart_queue::IsPending(scratch_.Join("second file.txt")));
}

TEST_F(DeferredTest, RenameEntryTakesShortFormsOfBothNames) {
    restart_queue::WininitGuard wininit;
    ASSERT_TRUE(scratch_.Write("new version.dll", "new"));
    ASSERT_TRUE(scratch_.Write("old version.dll", "old"));
    DeleteFileA(wininit.Path().c_str());
    EXPECT_TRUE(AddRenameEntry(scratch_.Join("old version.dll").c_str(), scratch_.Join("new version.dll").c_str()));
    EXPECT_EQ("[Rename]\r\n" + restart_queue::ShortPathOf(scratch_.Join("old version.dll")) + "=" +
                  restart_queue::ShortPathOf(scratch_.Join("new version.dll")) + "\r\n",
              fixture::ReadTextFile(wininit.Path()));

    // A source that is not there has no short form: refused in silence,
    // the last error says why, the file is left alone.
    std::string before = fixture::ReadTextFile(wininit.Path());
    ScriptedResponder responder;
    EXPECT_FALSE(AddRenameEntry("NUL", scratch_.Join("missing.txt").c_str()));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_EQ(before, fixture::ReadTextFile(wininit.Path()));
    EXPECT_TRUE(responder.Boxes().empty());
}

// The section takes an entry only when the entry, its NUL and the NUL that
// closes the list fit in its 32,767 characters; otherwise the entry is
// refused with a message and the file is left as it was, also when the
// section is longer than the profile functions hand over (writing back what
// they gave would lose entries).
TEST_F(DeferredTest, RenameSectionTakesWhatFitsAndRefusesTheRest) {
    restart_queue::WininitGuard wininit;
    ::Setup.IsWindowsNT = FALSE;
    ASSERT_TRUE(scratch_.Write("late.txt", "x"));
    std::string path = scratch_.Join("late.txt");
    std::string entry = "NUL=" + restart_queue::ShortPathOf(path);
    struct Case {
        std::string contents;
        bool taken;
    } cases[] = {
        {restart_queue::RenameSectionLeaving(entry.size() + 2), true},
        {restart_queue::RenameSectionLeaving(entry.size() + 1), false},
        {restart_queue::OverfullRenameSection(), false},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(fixture::WriteTextFile(wininit.Path(), c.contents));
        ScriptedResponder responder;
        EXPECT_EQ(c.taken, DeleteOnRestart(path.c_str()));
        if (c.taken) {
            EXPECT_TRUE(responder.Boxes().empty());
            EXPECT_EQ(c.contents + entry + "\r\n", fixture::ReadTextFile(wininit.Path()));
        } else {
            EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
            std::vector<std::string> expected = {"Cannot add " + entry +
                                                 " to the [Rename] section of wininit.ini: the section is full"};
            EXPECT_EQ(expected, responder.Texts());
            EXPECT_EQ(c.contents, fixture::ReadTextFile(wininit.Path()));
        }
    }
}

}  // namespace
