// The device dispatcher: the progress notice that names the device while its
// messages are shown, the refusal of names that do not fit it, the Windows 9x
// removal through the 16-bit bridge (which a 64-bit process cannot cross),
// and the InstallDevice line that must fit the installation log. Whole
// installs and uninstalls with the sample driver are in
// tests/e2e/device_test.cpp.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/messages.h"
#include "common/setup_state.h"
#include "device/device_setup.h"
#include "device/nt_device_fixture.h"
#include "install/install_sequence.h"
#include "resource.h"
#include "support/prefix.h"
#include "support/responder.h"
#include "support/robot.h"

namespace {

using nt_device::DeviceName;

// The text of this process's progress notice; "" when none is up. Boxes
// answered in the test show no window, so the notice is the only window
// titled "Setup".
std::string ProgressText() {
    HWND notice = robot::FindWindowByTitle("Setup", GetCurrentProcessId(), 0);
    return notice ? robot::ControlText(notice, IDC_PROGRESS_TEXT) : std::string();
}

// The real system lists and the sample driver (NT), and the progress notice
// from the dialog template of setup.exe, which this test program does not
// carry itself.
class DeviceSetupTest : public nt_device::NtDeviceTest {
protected:
    void SetUp() override {
        nt_device::NtDeviceTest::SetUp();
        resources_ = LoadLibraryExA(fixture::SetupExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, resources_) << "setup.exe beside the test program: error " << GetLastError();
        ::Setup.InstanceHandle = resources_;
        ::Setup.IsWindowsNT = TRUE;
    }
    void TearDown() override {
        ::Setup.InstanceHandle = nullptr;
        ::Setup.IsWindowsNT = FALSE;
        ::Setup.DeviceName = ::Setup.DeviceInfFile = nullptr;
        FreeBlock(::Setup.InstallLog.Text);
        ::Setup.InstallLog = InstallLogText{nullptr, 0, 0};
        if (resources_)
            FreeLibrary(resources_);
        nt_device::NtDeviceTest::TearDown();
    }

    HMODULE resources_ = nullptr;
};

// The notice holds 255 characters: "Installing " and " device driver..."
// leave 227 for the name, "Removing " 229. A name that fits is shown while
// any message of the device work is up, and the notice is gone when
// SetupDevice returns; a longer one is refused before anything is shown or
// done. Windows 9x removes through the bridge and never looks at the type
// text.
TEST_F(DeviceSetupTest, ProgressNamesTheDeviceWhileItsMessagesAreShown) {
    const std::string missing = scratch_.Join("nothere.inf");
    const std::string longest(227, 'n');
    const std::string tooLong(228, 'n');
    const struct {
        BOOL IsWindowsNT;
        bool Install;
        std::string Name;
        std::string Third;
        std::string Message;   // the start of the one box; all of it when refused
        std::string Progress;  // "": refused
    } cases[] = {
        {TRUE, true, longest, missing, "Device INF file (" + missing + ") not found (0/2 - ",
         "Installing " + longest + " device driver..."},
        {TRUE, true, tooLong, missing,
         ("Device name is too long (228 characters, at most 227): " + tooLong).substr(0, 255), ""},
        {TRUE, false, longest + "nn", "wave", "Device not installed", "Removing " + longest + "nn device driver..."},
        {TRUE, false, tooLong + "nn", "wave",
         ("Device name is too long (230 characters, at most 229): " + tooLong + "nn").substr(0, 255), ""},
        {FALSE, false, DeviceName, "wave, midi", "Cannot get address of QT_Thunk (0/127 - ",
         "Removing Setup Test Sound Device device driver..."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.IsWindowsNT ? "NT " : "9x ") + (c.Install ? "install " : "removal ") +
                     std::to_string(c.Name.size()));
        ::Setup.IsWindowsNT = c.IsWindowsNT;
        // The progress notice shown while each box is up.
        std::vector<std::string> progress;
        ScriptedResponder responder({}, [&](const RecordedBox&) { progress.push_back(ProgressText()); });
        EXPECT_FALSE(SetupDevice(c.Install, c.Name.c_str(), c.Third.c_str()));
        ASSERT_EQ(1u, responder.Boxes().size());
        const RecordedBox& box = responder.Boxes()[0];
        EXPECT_EQ(c.Message, c.Progress.empty() ? box.Text : box.Text.substr(0, c.Message.size()));
        EXPECT_EQ("Setup", box.Title);
        EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), box.Type);
        EXPECT_EQ(std::vector<std::string>{c.Progress}, progress);
        EXPECT_EQ("", ProgressText()) << "the notice is gone";
    }
}

// The device stage logs "InstallDevice <type text> <name>" in at most 357
// characters. A driver whose line would not fit is refused before anything
// is written: the uninstaller could never find it.
TEST_F(DeviceSetupTest, InstallDeviceLineMustFitTheLog) {
    sample_driver::InstalledDriver driver(nt_device::DriverFile, RecordFile());
    ASSERT_TRUE(driver.Ready());
    std::string name(227, 'n');
    std::string fits;
    for (int i = 0; i < 23; i++)
        fits += "wave,";  // 115 characters
    const std::string tooLong = "mixer," + fits.substr(5);  // 116
    ::Setup.DeviceName = &name[0];
    std::string inf;
    auto installWith = [&](const std::string& typeText) {
        inf = WriteInf({"setuptst = 1:setuptst.drv, \"" + typeText + "\", \"" + name + "\", , ,"});
        ::Setup.DeviceInfFile = &inf[0];
        return InstallDeviceStep();
    };
    {
        ScriptedResponder responder;
        EXPECT_FALSE(installWith(tooLong));
        EXPECT_EQ(std::vector<std::string>{"Device type text \"" + tooLong + "\" is too long for the installation log"},
                  responder.Texts());
        EXPECT_EQ(0, driver.CountOf("DRV_INSTALL"));
        EXPECT_EQ(nt_device::ReadLists(), (nt_device::Lists{nt_device::CodecEntries(), {}, {}}));
        EXPECT_EQ(0u, ::Setup.InstallLog.Length);
    }
    ScriptedResponder responder;
    ASSERT_TRUE(installWith(fits));
    EXPECT_TRUE(responder.Boxes().empty());
    std::string line = "InstallDevice " + fits + " " + name;
    ASSERT_EQ(357u, line.size());
    EXPECT_EQ(line + "\r\n", std::string(::Setup.InstallLog.Text, ::Setup.InstallLog.Length));
    EXPECT_EQ(1, driver.CountOf("DRV_INSTALL"));
    EXPECT_TRUE(SetupDevice(false, name.c_str(), fits.c_str()));
}

}  // namespace
