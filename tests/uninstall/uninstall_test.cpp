// The uninstall in-process, where the outside cannot see it: deletion at
// the next restart (NT's pending operations and wininit.ini, both put back
// afterwards), temporary files, the name of the event that joins the two
// processes, the command interpreter of the Windows 9x road, and the
// product name of the confirmation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/messages.h"
#include "common/setup_state.h"
#include "support/prefix.h"
#include "support/responder.h"
#include "support/restart_queue.h"
#include "uninstall/deferred.h"
#include "uninstall/uninstall.h"

namespace {

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string TempName(unsigned number, const char* extension) {
    char name[32];
    wsprintfA(name, "TMP%04X.%s", number, extension);
    return name;
}

// Sets an environment variable (null: removes it) for its lifetime. TMP is
// the one GetTempPathA reads first.
class EnvironmentVariable {
public:
    EnvironmentVariable(const char* name, const char* value) : name_(name) {
        char old[32768];
        DWORD length = GetEnvironmentVariableA(name, old, sizeof old);
        had_ = GetLastError() != ERROR_ENVVAR_NOT_FOUND && length < sizeof old;
        if (had_)
            old_.assign(old, length);
        SetEnvironmentVariableA(name, value);
    }
    ~EnvironmentVariable() { SetEnvironmentVariableA(name_, had_ ? old_.c_str() : nullptr); }

private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

// "0/<code> - <system text>", as the program words a system error.
std::string ErrorText(DWORD code) {
    char text[256] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK, nullptr,
                   code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    std::string system = text;
    if (!system.empty() && system.back() == ' ')
        system.pop_back();
    return "0/" + std::to_string(code) + " - " + system;
}

class UninstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::Setup.IsWindowsNT = TRUE;
        ::Setup.RestartNeeded = FALSE;
        ::Setup.ProgramPath = programPath_;
        ::Setup.WorkDir = workDir_;
        lstrcpyA(programPath_, fixture::SetupExePath().c_str());
        lstrcpyA(workDir_, scratch_.Path().c_str());
    }
    void TearDown() override {
        ::Setup.IsWindowsNT = TRUE;
        ::Setup.RestartNeeded = FALSE;
        ::Setup.ProgramPath = nullptr;
        ::Setup.WorkDir = nullptr;
    }

    fixture::ScratchDir scratch_;
    char programPath_[MAX_PATH];
    char workDir_[MAX_PATH];
};

// The temporary directory loses its trailing backslash; one that does not
// fit the buffer is reported, not cut.
TEST_F(UninstallTest, TempDirLosesItsTrailingBackslash) {
    const struct {
        std::string Variable;
        int Size;
        std::string Expected;  // empty: refused
    } cases[] = {
        {scratch_.Path() + "\\", PathBufferSize, scratch_.Path()},
        {scratch_.Path(), PathBufferSize, scratch_.Path()},
        {"C:\\", PathBufferSize, "C:"},
        {scratch_.Path() + "\\", 8, ""},
    };
    for (const auto& c : cases) {
        EnvironmentVariable variable("TMP", c.Variable.c_str());
        char buffer[PathBufferSize];
        ScriptedResponder responder;
        ASSERT_EQ(GetTempDir(buffer, c.Size), !c.Expected.empty()) << c.Variable << " in " << c.Size;
        std::vector<std::string> refusal = {"Cannot get temporary dir (" + ErrorText(ERROR_FILENAME_EXCED_RANGE) + ")"};
        EXPECT_EQ(responder.Texts(), c.Expected.empty() ? refusal : std::vector<std::string>{});
        if (!c.Expected.empty()) {
            EXPECT_EQ(c.Expected, buffer);
        }
    }
}

// A new empty file "TMP<four upper-case hex digits>.<extension>" in the
// temporary directory, open for writing and shared with nobody.
TEST_F(UninstallTest, TempFileIsNewExclusiveAndNamedByNumber) {
    ScriptedResponder responder;
    EnvironmentVariable variable("TMP", (scratch_.Path() + "\\").c_str());
    char path[PathBufferSize];
    HANDLE file = CreateTempFile(path, sizeof path, "EXE");
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    std::string name = std::string(path).substr(scratch_.Path().size() + 1);
    EXPECT_EQ(scratch_.Path() + "\\" + name, path);
    unsigned number = std::stoul(name.substr(3, 4), nullptr, 16);
    EXPECT_LE(number, 0x7FFFu);
    EXPECT_EQ(TempName(number, "EXE"), name);

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

// The numbers follow the generator from its state: an existing name makes
// the next number be tried, without a message; another extension is another
// name; a path that does not fit is reported, not cut.
TEST_F(UninstallTest, NumberedFileTakesTheNextFreeNumber) {
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

TEST_F(UninstallTest, AllNamesTakenStopsWithAMessage) {
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

// NT queues the file in its pending operations and leaves wininit.ini alone;
// Windows 9x adds "NUL=<short path>" behind what the [Rename] section of
// wininit.ini holds (making the file when there is none), other sections
// kept.
TEST_F(UninstallTest, DeleteOnRestartQueuesByFamily) {
    restart_queue::PendingOperationsGuard guard;
    restart_queue::WininitGuard wininit;
    ASSERT_TRUE(scratch_.Write("queued file.txt", "x"));
    std::string path = scratch_.Join("queued file.txt");
    std::string entry = "NUL=" + restart_queue::ShortPathOf(path) + "\r\n";
    const std::string kept = "[Other]\r\nkey=value\r\n[Rename]\r\nNUL=C:\\OLD.TXT\r\nC:\\A.TXT=C:\\B.TXT\r\n";
    const struct {
        bool WindowsNT;
        const char* Before;  // null: no wininit.ini
        std::string After;
    } cases[] = {
        {false, nullptr, "[Rename]\r\n" + entry},
        {false, kept.c_str(), kept + entry},
        {true, kept.c_str(), kept},
    };
    for (const auto& c : cases) {
        ::Setup.IsWindowsNT = c.WindowsNT;
        ASSERT_TRUE(c.Before ? fixture::WriteTextFile(wininit.Path(), c.Before) : fixture::RemoveTree(wininit.Path()));
        EXPECT_TRUE(DeleteOnRestart(path.c_str()));
        EXPECT_EQ(c.After, fixture::ReadTextFile(wininit.Path()));
        EXPECT_EQ(c.WindowsNT, restart_queue::IsPending(path));
        EXPECT_TRUE(Exists(path));
    }
}

TEST_F(UninstallTest, RenameEntryTakesShortFormsOfBothNames) {
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
TEST_F(UninstallTest, RenameSectionTakesWhatFitsAndRefusesTheRest) {
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

// Both stages name the event after the working directory, blanks kept and
// every backslash turned into "/". The first stage creates it and refuses
// one that exists; the second opens the first stage's event, and refuses
// when there is none, leaving none behind.
TEST_F(UninstallTest, SyncEventIsNamedAfterTheWorkingDirectory) {
    std::string dir = scratch_.Join("Program Files\\Some  Product ");
    lstrcpyA(workDir_, dir.c_str());
    std::string name = scratch_.Path() + "\\Program Files\\Some  Product ";
    for (char& c : name) {
        if (c == '\\')
            c = '/';
    }
    ScriptedResponder responder;
    HANDLE created = AcquireSyncEvent(false);
    ASSERT_NE(created, nullptr);
    HANDLE fromOutside = OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str());
    ASSERT_NE(fromOutside, nullptr) << name;
    // The same event, not signalled, resetting itself after one wait.
    EXPECT_EQ(WaitForSingleObject(created, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    ASSERT_TRUE(SetEvent(fromOutside));
    EXPECT_EQ(WaitForSingleObject(created, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(created, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    EXPECT_EQ(AcquireSyncEvent(false), nullptr);
    HANDLE opened = AcquireSyncEvent(true);
    ASSERT_NE(opened, nullptr);
    ASSERT_TRUE(SetEvent(opened));
    EXPECT_EQ(WaitForSingleObject(fromOutside, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(opened);
    CloseHandle(fromOutside);
    CloseHandle(created);

    EXPECT_EQ(AcquireSyncEvent(true), nullptr);
    EXPECT_EQ(OpenEventA(SYNCHRONIZE, FALSE, name.c_str()), nullptr);
    std::vector<std::string> expected = {"Cannot create sync event (" + ErrorText(ERROR_ALREADY_EXISTS) + ")",
                                         "Cannot open sync event (" + ErrorText(ERROR_FILE_NOT_FOUND) + ")"};
    EXPECT_EQ(responder.Texts(), expected);
}

// On the Windows 9x road the command interpreter comes from "ComSpec". One
// that is missing, empty or too long for a path is refused with the reason,
// never run cut; the copy and the batch file already made are deleted.
TEST_F(UninstallTest, UnusableComSpecStopsTheCopyAndCleansUp) {
    ::Setup.IsWindowsNT = FALSE;
    std::string longPath = "C:\\" + std::string(252, 'c') + "\\cmd.exe";  // 263 characters
    const struct {
        const char* Name;
        const char* Value;
        DWORD Error;
    } cases[] = {
        {"too long", longPath.c_str(), ERROR_FILENAME_EXCED_RANGE},
        {"missing", nullptr, ERROR_ENVVAR_NOT_FOUND},
        {"empty", "", ERROR_ENVVAR_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        fixture::ScratchDir temp;
        EnvironmentVariable tmp("TMP", (temp.Path() + "\\").c_str());
        EnvironmentVariable comSpec("ComSpec", c.Value);
        HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        ScriptedResponder responder;
        EXPECT_FALSE(StartDetachedCopy(event));
        CloseHandle(event);
        std::vector<std::string> expected = {"Cannot get command interpreter path (" + ErrorText(c.Error) + ")"};
        EXPECT_EQ(responder.Texts(), expected);
        fixture::TreeSnapshot left = fixture::TreeSnapshot::Take(temp.Path());
        for (const fixture::TreeEntry& entry : left.Entries())
            ADD_FAILURE() << "left in the temporary directory: " << entry.RelativePath;
    }
}

// The product name of the question is the AppName argument taken whole,
// however long; a log without it is refused with one message, and neither
// undoes anything.
TEST_F(UninstallTest, ConfirmationNamesTheProductWhole) {
    std::string longName = "Product " + std::string(392, 'n');  // longer than any line the installer writes
    std::string kept = scratch_.Join("kept.txt");
    ASSERT_TRUE(fixture::WriteTextFile(kept, "kept"));
    const struct {
        const char* Name;
        std::string Log;
        std::string Text;
        const char* Title;
        UINT Type;
        std::vector<int> Answers;
    } cases[] = {
        {"long name", "AppName " + longName + "\r\nCreateFile " + kept + "\r\n",
         "Do you really want to uninstall " + longName + "?", "Uninstall",
         MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2, {IDNO}},
        {"no AppName", "CreateFile " + kept + "\r\n", "No AppName event in install.log file", "Setup",
         MB_OK | MB_ICONERROR, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ASSERT_TRUE(scratch_.Write("install.log", c.Log));
        ScriptedResponder responder(c.Answers);
        EXPECT_TRUE(RunUninstall(0));
        ASSERT_EQ(responder.Boxes().size(), 1u) << ::testing::PrintToString(responder.Texts());
        EXPECT_EQ(responder.Boxes()[0].Text, c.Text);
        EXPECT_EQ(responder.Boxes()[0].Title, c.Title);
        EXPECT_EQ(responder.Boxes()[0].Type, c.Type);
        EXPECT_EQ(fixture::ReadTextFile(kept), "kept");
    }
}

}  // namespace
