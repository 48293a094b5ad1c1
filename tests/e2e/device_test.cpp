// A product with a device, installed and uninstalled by the real setup.exe
// and worked by the robot from outside, which also reads the progress
// notice that stands behind a box. On NT: the flush command, the driver
// told DRV_INSTALL and DRV_REMOVE, the driver lists, the InstallDevice line,
// and the rollbacks that leave the system as it was. On Windows 98
// devmgr16.dll from the program's directory joins the copied files, and the
// device work goes to the 16-bit bridge, which a 64-bit program cannot
// cross (its KERNEL32 has no QT_Thunk).
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"
#include "support/device_instances.h"
#include "support/prefix.h"
#include "support/sample_driver_files.h"

namespace {

using namespace e2e;

const char AppName[] = "Device Product";
const char DeviceName[] = "E2E Sound Device";
const char DriverFile[] = "e2esnd.drv";
const char InstallDeviceLine[] = "InstallDevice wave,mixer E2E Sound Device";
const char InstallingNotice[] = "Installing E2E Sound Device device driver...";

std::string DeviceKeys(const std::string& infFile = "device.inf", const std::string& flushCommand = "") {
    return "DeviceName=" + std::string(DeviceName) + "\r\n" +
           (infFile.empty() ? "" : "DeviceInfFile=" + infFile + "\r\n") +
           (flushCommand.empty() ? "" : "FlushCommand=" + flushCommand + "\r\n");
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The device product in a workspace: one file and the INF file, whose
// [Installable.Drivers] line names the driver file, the types "wave,mixer"
// and the device; the sample driver in the system directory under that
// name; driver lists as an NT system keeps them.
class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(driver_.Ready());
        ASSERT_TRUE(profile_files::SetSection("control.ini", "Userinstallable.drivers", {"wavemapper=msacm32.drv"}));
        ASSERT_TRUE(profile_files::SetSection("control.ini", "drivers.desc", {"msacm32.drv=Microsoft Sound Mapper"}));
        ASSERT_TRUE(fixture::WriteTextFile(space_.Dist() + "\\device.inf",
                                           "[Version]\r\nSignature=\"$CHICAGO$\"\r\nClass=MEDIA\r\n\r\n"
                                           "[Installable.Drivers]\r\ne2esnd = 1:" + std::string(DriverFile) +
                                               ", \"wave,mixer\", \"" + DeviceName + "\", , ,\r\n"));
        product_.AppName = AppName;
        product_.AppVersion = "1.0";
        product_.License.clear();
        product_.Links.clear();
        product_.Files = {{"readme.txt", "%InstallDir%", "", "Read me.\r\n"}};
    }

    std::string InstallDir() const { return space_.Programs() + "\\" + AppName; }
    std::string RecordFile() const { return space_.Root() + "\\record.txt"; }
    std::string LastLogLine() const {
        std::vector<std::string> lines = LogLinesIn(InstallDir());
        return lines.empty() ? std::string() : lines.back();
    }

    // system.ini, control.ini, and what the installation directory's parent
    // and the Start-menu folder hold (both empty before the first install).
    std::string State() const {
        std::string state = "system.ini:\n" + fixture::ReadTextFile(profile_files::WindowsFile("system.ini")) +
                            "control.ini:\n" + fixture::ReadTextFile(profile_files::WindowsFile("control.ini"));
        for (const std::string& root : {space_.Programs(), space_.Menu()}) {
            for (const std::string& name : NamesIn(root))
                state += root + "\\" + name + "\n";
        }
        return state;
    }

    // With -c from the distribution folder, where the program finds the INF
    // file named without a directory; through the directories dialog when
    // `asked`.
    bool StartInstall(SetupRun& run, const std::string& program, const std::string& deviceKeys, bool asked = true) {
        product_.MoreMainKeys = deviceKeys;
        return space_.LayOut(product_) && run.Start(program, "-c", space_.Dist()) &&
               (!asked || run.ReachInstallation(product_, InstallDir(), AppName));
    }

    // A complete install on NT; `warning`, when given, comes before the
    // device work.
    bool InstallOnNt(const std::string& deviceKeys, const std::optional<ExpectedBox>& warning = std::nullopt) {
        SetupRun run;
        if (!StartInstall(run, fixture::SetupExePath(), deviceKeys))
            return false;
        if (warning) {
            HWND box = run.WaitForBox(*warning);
            EXPECT_EQ(ProgressText(run.ProcessId()), "");
            if (!box || !Press(box, IDOK))
                return false;
        }
        return run.Answer(InstallComplete(AppName), IDOK) && run.ExitWithoutFurtherWindow() == std::optional<DWORD>(0);
    }

    // An install that fails with `error` under the progress notice
    // `progress`, and leaves the system as it was. `copied`, when given, must
    // be there while the error shows.
    void ExpectFailedInstall(const std::string& program, const std::string& deviceKeys, bool asked,
                             const ExpectedBox& error, const std::string& progress, const std::string& copied = "") {
        std::string before = State();
        SetupRun run;
        ASSERT_TRUE(StartInstall(run, program, deviceKeys, asked));
        HWND box = run.WaitForBox(error);
        EXPECT_EQ(ProgressText(run.ProcessId()), progress);
        EXPECT_TRUE(copied.empty() || Exists(copied)) << copied << " is not there";
        ASSERT_TRUE(box && Press(box, IDOK));
        EXPECT_EQ(run.ExitWithoutFurtherWindow(), std::optional<DWORD>(1));
        EXPECT_EQ(State(), before);
    }

    // As the Uninstall shortcut does it: the installed copy with -u. The
    // first stage shows `error`, when given, under the removal notice; the
    // second stage ends with the completion.
    void Uninstall(const std::optional<ExpectedBox>& error = std::nullopt) {
        fixture::ChildProcess first;
        StartFirstStage(first, AppName, InstallDir());
        if (error) {
            HWND box = WaitForBox(first.ProcessId(), *error);
            EXPECT_EQ(ProgressText(first.ProcessId()), "Removing E2E Sound Device device driver...");
            ASSERT_TRUE(box && Press(box, IDOK));
        }
        TreeMember copy;
        ASSERT_TRUE(copy.Find(first));
        EXPECT_TRUE(AnswerBox(copy.Id(), UninstallComplete(), IDOK));
        EXPECT_EQ(copy.WaitForExit(), std::optional<DWORD>(0));
        EXPECT_TRUE(first.WaitForAll(ExitTimeoutMs));
        EXPECT_EQ(first.WaitForExit(0), std::optional<DWORD>(0));
    }

    profile_files::Guard profiles_{{"system.ini", "control.ini"}};
    Workspace space_;
    Product product_ = space_.SampleProduct();
    sample_driver::InstalledDriver driver_{DriverFile, RecordFile()};
    device_instances::Cleanup instances_{{DeviceName}};
};

// The flush command runs to its end before the driver is loaded, and the
// first uninstall stage removes what the install entered, device instance
// too: afterwards the system is as it was.
TEST_F(DeviceTest, InstallEntersTheDriverAndUninstallRemovesIt) {
    std::string before = State();
    ASSERT_TRUE(InstallOnNt(DeviceKeys("device.inf", "cmd /c echo FLUSH>>\"" + RecordFile() + "\"")));
    std::vector<std::string> told = driver_.Messages();
    ASSERT_FALSE(told.empty());
    EXPECT_EQ(told[0], "FLUSH") << "the flush command ends before the driver is loaded";
    EXPECT_EQ(driver_.CountOf("DRV_INSTALL"), 1);
    EXPECT_EQ(LastLogLine(), InstallDeviceLine);
    std::vector<std::string> drivers32 = profile_files::SectionLines("system.ini", "Drivers32");
    std::vector<std::string> userInstallable = profile_files::SectionLines("control.ini", "Userinstallable.drivers");
    for (const char* slot : {"wave1=e2esnd.drv", "mixer1=e2esnd.drv"}) {
        EXPECT_TRUE(Contains(drivers32, slot)) << slot;
        EXPECT_TRUE(Contains(userInstallable, slot)) << slot;
    }
    EXPECT_TRUE(Contains(profile_files::SectionLines("control.ini", "drivers.desc"), "e2esnd.drv=E2E Sound Device"));

    ASSERT_TRUE(device_instances::Create(DeviceName));
    Uninstall();
    EXPECT_EQ(driver_.CountOf("DRV_REMOVE"), 1);
    EXPECT_EQ(device_instances::Count(DeviceName), 0);
    EXPECT_EQ(State(), before);
}

// Each failure of the device stage is shown under the progress notice and
// undoes the whole install; a device without an INF file is refused before
// the question.
TEST_F(DeviceTest, FailedDeviceStageRollsBackTheWholeInstall) {
    const struct {
        const char* Case;
        const char* InfFile;
        DWORD InstallAnswer;
        ExpectedBox Error;
        const char* Progress;
    } cases[] = {
        {"INF file missing", "nothere.inf", 1,
         ErrorBox("Device INF file (nothere.inf) not found", ERROR_FILE_NOT_FOUND), InstallingNotice},
        {"DRV_INSTALL refused", "device.inf", 0, ErrorBox("Driver failed processing message 0x9 (code 0x0)"),
         InstallingNotice},
        {"no INF file key", "", 1, ErrorBox("Device INF file name not specified"), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Case);
        driver_.SetInstallAnswer(c.InstallAnswer);
        ExpectFailedInstall(fixture::SetupExePath(), DeviceKeys(c.InfFile), c.InfFile[0] != '\0', c.Error, c.Progress);
    }
    EXPECT_EQ(driver_.CountOf("DRV_INSTALL"), 1);
    EXPECT_EQ(driver_.CountOf("DRV_REMOVE"), 0);
}

// A flush command that cannot start is only a warning, shown before the
// device work. The second stage started on its own ("-u FFFFFFFF") then
// undoes everything but the device, with no event and no further process.
TEST_F(DeviceTest, FlushWarningAndSecondStageAloneLeaveTheDevice) {
    std::string flushCommand = space_.Root() + "\\noflush.exe";
    ASSERT_TRUE(InstallOnNt(DeviceKeys("device.inf", flushCommand),
                            ExpectedBox{"Setup", "Warning: cannot start \"" + flushCommand + "\"", MB_ICONWARNING,
                                        {IDOK}, IDOK, ERROR_FILE_NOT_FOUND}));
    EXPECT_EQ(driver_.CountOf("DRV_INSTALL"), 1);
    EXPECT_EQ(LastLogLine(), InstallDeviceLine);

    SetupRun second;
    ASSERT_TRUE(second.Start(fixture::SetupExePath(), "-u FFFFFFFF " + InstallDir()));
    HWND complete = second.WaitForBox(UninstallComplete());
    EXPECT_FALSE(SyncEventExists(InstallDir()));
    ASSERT_TRUE(complete && Press(complete, IDOK));
    EXPECT_EQ(second.ExitWithoutFurtherWindow(), std::optional<DWORD>(0));
    EXPECT_TRUE(second.ProcessIds().empty());
    EXPECT_TRUE(NamesIn(space_.Programs()).empty());
    EXPECT_TRUE(NamesIn(space_.Menu()).empty());
    EXPECT_EQ(driver_.CountOf("DRV_REMOVE"), 0);
    EXPECT_TRUE(Contains(profile_files::SectionLines("control.ini", "drivers.desc"), "e2esnd.drv=E2E Sound Device"));
    EXPECT_TRUE(Contains(profile_files::SectionLines("system.ini", "Drivers32"), "wave1=e2esnd.drv"));
}

// A type text spoilt in install.log: its message comes under the removal
// notice, and the driver is still told and removed with no type, so only
// its slots stay.
TEST_F(DeviceTest, FaultyLoggedTypeTextStillRemovesTheDriver) {
    ASSERT_TRUE(InstallOnNt(DeviceKeys()));
    std::string logPath = InstallDir() + "\\install.log";
    std::string log = fixture::ReadTextFile(logPath);
    size_t line = log.find(InstallDeviceLine);
    ASSERT_NE(line, std::string::npos);
    log.replace(line, sizeof InstallDeviceLine - 1, "InstallDevice wave,midi E2E Sound Device");
    ASSERT_TRUE(fixture::WriteTextFile(logPath, log));

    Uninstall(ErrorBox("Invalid device type \"midi\""));
    EXPECT_EQ(driver_.CountOf("DRV_REMOVE"), 1);
    EXPECT_FALSE(Contains(profile_files::SectionLines("control.ini", "drivers.desc"), "e2esnd.drv=E2E Sound Device"));
    EXPECT_TRUE(Contains(profile_files::SectionLines("system.ini", "Drivers32"), "wave1=e2esnd.drv"));
    EXPECT_TRUE(Contains(profile_files::SectionLines("control.ini", "Userinstallable.drivers"), "mixer1=e2esnd.drv"));
}

// devmgr16.dll is looked for beside the running program, which runs here
// from the distribution folder: without it the copy stage fails before the
// device work; with it the bridge fails, the module copied before.
TEST_F(DeviceTest, OnWindows98TheDeviceManagerIsCopiedAndTheBridgeStopsWithoutQtThunk) {
    fixture::WindowsVersion windows98("win98");
    ASSERT_TRUE(windows98.Applied());
    std::string copiedModule = InstallDir() + "\\devmgr16.dll";
    ExpectedBox notCopied =
        ErrorBox("Cannot copy " + space_.Dist() + "\\devmgr16.dll to " + copiedModule, ERROR_FILE_NOT_FOUND);
    ExpectFailedInstall(space_.SetupExe(), DeviceKeys(), true, notCopied, "");
    // The module itself never runs here: any file of that name will do.
    ASSERT_TRUE(fixture::WriteTextFile(space_.Dist() + "\\devmgr16.dll", "MZ 16-bit device manager stand-in"));
    ExpectFailedInstall(space_.SetupExe(), DeviceKeys(), true,
                        ErrorBox("Cannot get address of QT_Thunk", ERROR_PROC_NOT_FOUND), InstallingNotice,
                        copiedModule);
}

}  // namespace
