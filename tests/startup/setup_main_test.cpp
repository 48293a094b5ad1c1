// SetupMain in this process: the start-up fields, the working directory it
// hands to the mode, and the restart question at the end.
#include <gtest/gtest.h>

#include <string>

#include "common/setup_state.h"
#include "startup/startup.h"
#include "support/prefix.h"
#include "support/responder.h"

namespace {

class SetupMainTest : public ::testing::Test {
protected:
    void SetUp() override {
        char current[MAX_PATH];
        GetCurrentDirectoryA(sizeof current, current);
        savedCurrentDir_ = current;
        ASSERT_FALSE(scratch_.Path().empty());
        // An empty folder: install mode finds no setup.ini there and fails.
        ASSERT_TRUE(SetCurrentDirectoryA(scratch_.Path().c_str()));
        ::Setup = SetupState();
    }

    void TearDown() override {
        SetCurrentDirectoryA(savedCurrentDir_.c_str());
        ::Setup.RestartNeeded = FALSE;
    }

    int Run(const char* arguments) { return SetupMain(GetModuleHandleA(nullptr), nullptr, arguments, SW_SHOWNORMAL); }

    fixture::ScratchDir scratch_;
    std::string savedCurrentDir_;
};

// A refused command line is the only box, even when a restart is needed:
// the start-up failure asks nothing more.
TEST_F(SetupMainTest, StartUpFillsTheStateBeforeTheCommandLineIsRead) {
    ::Setup.RestartNeeded = TRUE;
    ScriptedResponder responder;
    EXPECT_EQ(Run("-x"), 1);
    EXPECT_EQ(responder.Texts(), std::vector<std::string>{"Invalid command line switch \"x\""});

    char program[MAX_PATH];
    GetModuleFileNameA(nullptr, program, sizeof program);
    ASSERT_NE(::Setup.ProgramPath, nullptr);
    EXPECT_STREQ(::Setup.ProgramPath, program);
    ASSERT_NE(::Setup.ProgramDir, nullptr);
    ASSERT_NE(::Setup.ProgramName, nullptr);
    EXPECT_EQ(std::string(::Setup.ProgramDir) + "\\" + ::Setup.ProgramName, program);
    EXPECT_EQ(std::string(::Setup.ProgramName), "startup_tests.exe");
    ASSERT_NE(::Setup.CurrentDir, nullptr);
    EXPECT_EQ(lstrcmpiA(::Setup.CurrentDir, scratch_.Path().c_str()), 0) << ::Setup.CurrentDir;
    // Wine reports an NT version to programs it has no setting for.
    EXPECT_TRUE(::Setup.IsWindowsNT);
    EXPECT_NE(::Setup.FileTable, nullptr);
    EXPECT_NE(::Setup.LinkTable, nullptr);
    EXPECT_EQ(::Setup.FileCount, 0);
    EXPECT_EQ(::Setup.LinkCount, 0);
    // A refused command line ends before the working directory is chosen.
    EXPECT_EQ(::Setup.WorkDir, nullptr);
}

// -c installs from the current directory; the install fails there (no
// setup.ini) and says why, and as files were left behind the restart
// question follows.
TEST_F(SetupMainTest, AsksToRestartAfterAFailedModeThatLeftFilesBehind) {
    ::Setup.RestartNeeded = TRUE;
    ScriptedResponder responder({IDOK, IDNO});
    EXPECT_EQ(Run("-c"), 1);
    ASSERT_NE(::Setup.WorkDir, nullptr);
    EXPECT_EQ(lstrcmpiA(::Setup.WorkDir, scratch_.Path().c_str()), 0) << ::Setup.WorkDir;
    ASSERT_GE(responder.Boxes().size(), 2u);
    const RecordedBox& question = responder.Boxes().back();
    EXPECT_EQ(question.Text,
              "Uninstaller cannot delete some files because they are in use.\n"
              "To properly delete them, Windows must be restarted. If you choose\n"
              "to restart later, you must not try to install this product until\n"
              "the files will be deleted.\n\nRestart Windows now?");
    EXPECT_EQ(question.Title, "Setup");
    EXPECT_EQ(question.Type, static_cast<UINT>(MB_ICONWARNING | MB_YESNO | MB_DEFBUTTON1));
    EXPECT_EQ(question.Owner, nullptr);
    EXPECT_EQ(responder.AnswersLeft(), 0u);
}

}  // namespace
