// Refusals of the install sequence that come before anything is asked or
// changed.
#include <gtest/gtest.h>

#include <string>

#include "common/setup_state.h"
#include "install/install_sequence.h"
#include "support/prefix.h"
#include "support/responder.h"

namespace {

class InstallSequenceRefusal : public ::testing::Test {
protected:
    void SetUp() override {
        ::Setup = SetupState();
        ::Setup.IsWindowsNT = TRUE;
        ::Setup.WorkDir = const_cast<char*>(scratch_.Path().c_str());
        ::Setup.ProgramDir = ::Setup.WorkDir;
        ::Setup.ProgramName = const_cast<char*>("setup.exe");
        ::Setup.FileTable = files_;
        ::Setup.LinkTable = links_;
    }
    void TearDown() override { ::Setup = SetupState(); }

    void WriteScript(const std::string& deviceLines) {
        ASSERT_TRUE(scratch_.Write("setup.ini",
                                       "[Main]\r\nAppName=Product\r\nAppVersion=1.0\r\nDefaultProgramGroup=Product\r\n"
                                       "DefaultInstallDir=C:\\Product\r\nStartMenuFolder=C:\\Menu\r\n" +
                                           deviceLines));
    }

    fixture::ScratchDir scratch_;
    EntryRecord files_[FileTableRoom];
    EntryRecord links_[LinkTableRoom];
};

TEST_F(InstallSequenceRefusal, DeviceWithoutInfFileBeforeTheQuestion) {
    WriteScript("DeviceName=Sound\r\n");
    ScriptedResponder responder;
    EXPECT_FALSE(RunInstall());
    EXPECT_EQ(responder.Texts(), std::vector<std::string>{"Device INF file name not specified"});
}

TEST_F(InstallSequenceRefusal, DeviceNameTooLongForItsProgressTextBeforeTheQuestion) {
    std::string name(228, 'd');
    WriteScript("DeviceName=" + name + "\r\nDeviceInfFile=sound.inf\r\n");
    ScriptedResponder responder;
    EXPECT_FALSE(RunInstall());
    // The message keeps its first 255 characters.
    std::string message = "Device name is too long (228 characters, at most 227): " + name;
    EXPECT_EQ(responder.Texts(), std::vector<std::string>{message.substr(0, 255)});
}

}  // namespace
