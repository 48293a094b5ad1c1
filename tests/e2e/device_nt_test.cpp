// A product with a device, installed and uninstalled on NT by the real
// setup.exe: the flush command, the driver told DRV_INSTALL and DRV_REMOVE,
// the driver lists, the InstallDevice line, and the rollbacks that leave the
// system as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e/device_flow.h"
#include "support/device_instances.h"
#include "support/prefix.h"
#include "support/sample_driver_files.h"

namespace {

using device_flow::DeviceName;
using device_flow::DriverFile;

const char InstallQuestion[] = "Device Product 1.0 will be installed on your computer.\nDo you want to continue?";
const char InstallComplete[] = "Installation complete.";
const char UninstallQuestion[] = "Do you really want to uninstall Device Product?";
const char UninstallComplete[] = "Uninstallation complete.";
const char InstallingNotice[] = "Installing E2E Sound Device device driver...";
const char InstallDeviceLine[] = "InstallDevice wave,mixer E2E Sound Device";

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The distribution folder and the installation directory in a scratch
// folder, the sample driver in the system directory under the name the INF
// file gives it, driver lists as an NT system keeps them, and the program
// group in the real Start menu, removed should a test leave it.
class DeviceNtTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(driver_.Ready());
        ASSERT_TRUE(profile_files::SetSection("control.ini", "Userinstallable.drivers", {"wavemapper=msacm32.drv"}));
        ASSERT_TRUE(profile_files::SetSection("control.ini", "drivers.desc", {"msacm32.drv=Microsoft Sound Mapper"}));
        ASSERT_FALSE(device_flow::CommonProgramsFolder().empty());
        fixture::RemoveTree(GroupDir());
        ASSERT_TRUE(scratch_.Write("dist\\readme.txt", "Read me.\r\n"));
        ASSERT_TRUE(scratch_.Write("dist\\device.inf", device_flow::InfText(DriverFile, DeviceName)));
        ASSERT_TRUE(CreateDirectoryA(scratch_.Join("apps").c_str(), nullptr));
    }
    void TearDown() override { fixture::RemoveTree(GroupDir()); }

    std::string GroupDir() const {
        return fixture::JoinPath(device_flow::CommonProgramsFolder(), device_flow::GroupName);
    }
    std::string InstallDir() const { return scratch_.Join("apps\\Device Product"); }
    std::string RecordFile() const { return scratch_.Join("record.txt"); }

    device_flow::SystemState State() const {
        return device_flow::SystemState::Take(scratch_.Join("apps"), device_flow::CommonProgramsFolder());
    }

    // The script with the device keys, the INF file named without a
    // directory (the program finds it in the current directory).
    device_flow::Script DeviceScript() const {
        return device_flow::Script{InstallDir(), DeviceName, "device.inf", ""};
    }

    device_flow::Outcome Install(const device_flow::Script& script) {
        EXPECT_TRUE(scratch_.Write("dist\\setup.ini", script.Text()));
        return device_flow::Run(fixture::SetupExePath(), "-c", scratch_.Join("dist"));
    }

    // As the Uninstall shortcut does it: the installed copy with -u.
    device_flow::Outcome Uninstall(const device_flow::BoxHook& hook = nullptr) {
        return device_flow::Run(fixture::JoinPath(InstallDir(), "setup.exe"), "-u", "", UninstallComplete, hook);
    }

    bool InstallDevice() {
        device_flow::Outcome install = Install(DeviceScript());
        return install.ExitCode == std::optional<DWORD>(0) &&
               install.Texts() == std::vector<std::string>({InstallQuestion, InstallComplete});
    }

    profile_files::Guard profiles_{{"system.ini", "control.ini"}};
    fixture::ScratchDir scratch_;
    sample_driver::InstalledDriver driver_{DriverFile, RecordFile()};
    device_instances::Cleanup instances_{{DeviceName}};
};

// The flush command runs to its end before the driver is loaded, and the
// first uninstall stage removes what the install entered, device instance
// too: afterwards the system is as it was.
TEST_F(DeviceNtTest, InstallEntersTheDriverAndUninstallRemovesIt) {
    device_flow::SystemState before = State();
    device_flow::Script script = DeviceScript();
    script.FlushCommand = "cmd /c echo FLUSH>>\"" + RecordFile() + "\"";
    device_flow::Outcome install = Install(script);
    EXPECT_EQ(std::optional<DWORD>(0), install.ExitCode);
    EXPECT_EQ(std::vector<std::string>({InstallQuestion, InstallComplete}), install.Texts());

    std::vector<std::string> told = driver_.Messages();
    ASSERT_FALSE(told.empty());
    EXPECT_EQ("FLUSH", told[0]) << "the flush command ends before the driver is loaded";
    EXPECT_EQ(1, driver_.CountOf("DRV_INSTALL"));
    std::vector<std::string> log = device_flow::LogLines(InstallDir());
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(InstallDeviceLine, log.back());
    std::vector<std::string> drivers32 = profile_files::SectionLines("system.ini", "Drivers32");
    std::vector<std::string> userInstallable = profile_files::SectionLines("control.ini", "Userinstallable.drivers");
    for (const char* slot : {"wave1=e2esnd.drv", "mixer1=e2esnd.drv"}) {
        EXPECT_TRUE(Contains(drivers32, slot)) << slot;
        EXPECT_TRUE(Contains(userInstallable, slot)) << slot;
    }
    EXPECT_TRUE(Contains(profile_files::SectionLines("control.ini", "drivers.desc"), "e2esnd.drv=E2E Sound Device"));

    ASSERT_TRUE(device_instances::Create(DeviceName));
    device_flow::Outcome uninstall = Uninstall();
    EXPECT_EQ(std::vector<std::string>({UninstallQuestion, UninstallComplete}), uninstall.Texts());
    EXPECT_EQ(std::optional<DWORD>(0), uninstall.ExitCode);
    EXPECT_EQ(1, driver_.CountOf("DRV_REMOVE"));
    EXPECT_EQ(0, device_instances::Count(DeviceName));
    EXPECT_TRUE(before.Same(State()));
}

TEST_F(DeviceNtTest, FlushCommandThatCannotStartIsOnlyAWarning) {
    device_flow::SystemState before = State();
    device_flow::Script script = DeviceScript();
    script.FlushCommand = "C:\\nothere\\flush.exe";
    device_flow::Outcome install = Install(script);
    EXPECT_EQ(std::optional<DWORD>(0), install.ExitCode);
    ASSERT_EQ(3u, install.Boxes.size());
    const device_flow::SeenBox& warning = install.Boxes[1];
    EXPECT_TRUE(StartsWith(warning.Text, "Warning: cannot start \"C:\\nothere\\flush.exe\" (")) << warning.Text;
    EXPECT_EQ(static_cast<UINT>(MB_ICONWARNING), warning.Icon);
    EXPECT_EQ("Setup", warning.Title);
    EXPECT_EQ("", warning.Progress) << "the flush command runs before the device work";
    EXPECT_EQ(InstallComplete, install.Boxes[2].Text);
    EXPECT_EQ(1, driver_.CountOf("DRV_INSTALL"));
    EXPECT_EQ(InstallDeviceLine, device_flow::LogLines(InstallDir()).back());

    EXPECT_EQ(std::optional<DWORD>(0), Uninstall().ExitCode);
    EXPECT_TRUE(before.Same(State()));
}

// Each failure of the device stage is shown under the progress notice and
// undoes the whole install; a device without an INF file is refused before
// the question.
TEST_F(DeviceNtTest, FailedDeviceStageRollsBackTheWholeInstall) {
    const struct {
        const char* Case;
        const char* InfFile;
        DWORD InstallAnswer;
        std::string Message;  // start of the error
        const char* Progress;
        bool Asked;
    } cases[] = {
        {"INF file missing", "nothere.inf", 1, "Device INF file (nothere.inf) not found (0/2 - ", InstallingNotice,
         true},
        {"DRV_INSTALL refused", "device.inf", 0, "Driver failed processing message 0x9 (code 0x0)", InstallingNotice,
         true},
        {"no INF file key", "", 1, "Device INF file name not specified", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Case);
        driver_.SetInstallAnswer(c.InstallAnswer);
        device_flow::SystemState before = State();
        device_flow::Script script = DeviceScript();
        script.DeviceInfFile = c.InfFile;
        device_flow::Outcome install = Install(script);
        EXPECT_EQ(std::optional<DWORD>(1), install.ExitCode);
        ASSERT_EQ(c.Asked ? 2u : 1u, install.Boxes.size());
        if (c.Asked) {
            EXPECT_EQ(InstallQuestion, install.Boxes[0].Text);
        }
        const device_flow::SeenBox& error = install.Boxes.back();
        EXPECT_TRUE(StartsWith(error.Text, c.Message)) << error.Text;
        EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), error.Icon);
        EXPECT_EQ(c.Progress, error.Progress);
        EXPECT_TRUE(before.Same(State()));
    }
    EXPECT_EQ(1, driver_.CountOf("DRV_INSTALL"));
    EXPECT_EQ(0, driver_.CountOf("DRV_REMOVE"));
}

// The second stage started on its own ("-u FFFFFFFF") undoes everything but
// the device.
TEST_F(DeviceNtTest, SecondStageAloneLeavesTheDevice) {
    ASSERT_TRUE(InstallDevice());
    device_flow::Outcome second =
        device_flow::Run(fixture::SetupExePath(), "-u FFFFFFFF " + InstallDir(), "");
    EXPECT_EQ(std::optional<DWORD>(0), second.ExitCode);
    EXPECT_EQ(std::vector<std::string>({UninstallComplete}), second.Texts());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(InstallDir().c_str()));
    EXPECT_EQ(0, driver_.CountOf("DRV_REMOVE"));
    EXPECT_TRUE(Contains(profile_files::SectionLines("control.ini", "drivers.desc"), "e2esnd.drv=E2E Sound Device"));
    EXPECT_TRUE(Contains(profile_files::SectionLines("system.ini", "Drivers32"), "wave1=e2esnd.drv"));
}

// A type text spoilt in install.log: its message comes under the removal
// notice, and the driver is still told and removed with no type, so only
// its slots stay.
TEST_F(DeviceNtTest, FaultyLoggedTypeTextStillRemovesTheDriver) {
    ASSERT_TRUE(InstallDevice());
    std::string logPath = fixture::JoinPath(InstallDir(), "install.log");
    std::string log = fixture::ReadTextFile(logPath);
    size_t line = log.find(InstallDeviceLine);
    ASSERT_NE(std::string::npos, line);
    log.replace(line, sizeof InstallDeviceLine - 1, "InstallDevice wave,midi E2E Sound Device");
    ASSERT_TRUE(fixture::WriteTextFile(logPath, log));

    device_flow::Outcome uninstall = Uninstall();
    EXPECT_EQ(std::vector<std::string>({UninstallQuestion, "Invalid device type \"midi\"", UninstallComplete}),
              uninstall.Texts());
    ASSERT_EQ(3u, uninstall.Boxes.size());
    EXPECT_EQ("Removing E2E Sound Device device driver...", uninstall.Boxes[1].Progress);
    EXPECT_EQ(1, driver_.CountOf("DRV_REMOVE"));
    EXPECT_FALSE(Contains(profile_files::SectionLines("control.ini", "drivers.desc"), "e2esnd.drv=E2E Sound Device"));
    EXPECT_TRUE(Contains(profile_files::SectionLines("system.ini", "Drivers32"), "wave1=e2esnd.drv"));
    EXPECT_TRUE(Contains(profile_files::SectionLines("control.ini", "Userinstallable.drivers"), "mixer1=e2esnd.drv"));
}

}  // namespace
