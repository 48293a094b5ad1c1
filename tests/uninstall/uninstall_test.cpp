// The uninstall stages in-process, where the outside cannot see them: the
// name of the event that joins the two processes, the command interpreter
// of the Windows 9x road, and the product name of the confirmation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/messages.h"
#include "common/setup_state.h"
#include "support/prefix.h"
#include "support/responder.h"
#include "uninstall/uninstall.h"

namespace {

// Sets an environment variable (null: removes it) for its lifetime.
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
    void UseWorkDir(const std::string& dir) { lstrcpyA(workDir_, dir.c_str()); }

    fixture::ScratchDir scratch_;
    char programPath_[MAX_PATH];
    char workDir_[MAX_PATH];
};

// Both stages name the event after the working directory, blanks kept and
// every backslash turned into "/". The first stage creates it and refuses
// one that exists; the second opens the first stage's event, and refuses
// when there is none, leaving none behind.
TEST_F(UninstallTest, SyncEventIsNamedAfterTheWorkingDirectory) {
    std::string dir = scratch_.Join("Program Files\\Some  Product ");
    UseWorkDir(dir);
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
