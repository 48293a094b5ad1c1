// A device name too long for its progress notice is refused before the
// install question, before anything is asked or changed. (A device without
// an INF file is refused there too: tests/e2e/device_test.cpp.)
#include <gtest/gtest.h>

#include <string>

#include "common/setup_state.h"
#include "install/install_sequence.h"
#include "support/prefix.h"
#include "support/responder.h"

namespace {

TEST(InstallSequenceRefusal, DeviceNameTooLongForItsProgressTextBeforeTheQuestion) {
    fixture::ScratchDir scratch;
    std::string name(228, 'd');
    ASSERT_TRUE(scratch.Write("setup.ini",
                              "[Main]\r\nAppName=Product\r\nAppVersion=1.0\r\nDefaultProgramGroup=Product\r\n"
                              "DefaultInstallDir=C:\\Product\r\nStartMenuFolder=C:\\Menu\r\nDeviceName=" +
                                  name + "\r\nDeviceInfFile=sound.inf\r\n"));
    EntryRecord files[FileTableRoom];
    EntryRecord links[LinkTableRoom];
    ::Setup = SetupState();
    ::Setup.IsWindowsNT = TRUE;
    ::Setup.WorkDir = ::Setup.ProgramDir = const_cast<char*>(scratch.Path().c_str());
    ::Setup.ProgramName = const_cast<char*>("setup.exe");
    ::Setup.FileTable = files;
    ::Setup.LinkTable = links;
    ScriptedResponder responder;
    EXPECT_FALSE(RunInstall());
    // The message keeps its first 255 characters.
    std::string message = "Device name is too long (228 characters, at most 227): " + name;
    EXPECT_EQ(std::vector<std::string>{message.substr(0, 255)}, responder.Texts());
    ::Setup = SetupState();
}

}  // namespace
