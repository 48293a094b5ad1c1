// The device dispatcher: the progress notice that names the device while its
// messages are shown, the road each OS family takes (the NT driver lists; on
// Windows 9x the 16-bit bridge, which a 64-bit process cannot cross), and the
// refusal of names that cannot be shown or logged. Whole installs and
// uninstalls with the sample driver are in tests/e2e/device_*.
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
#include "support/robot.h"
#include "support/sample_driver_files.h"

namespace {

using nt_device::DeviceName;
using nt_device::DriverFile;

// A box as the user saw it, with the progress notice shown at that moment.
struct WitnessedBox {
    std::string Text;
    std::string Title;
    UINT Type;
    std::string Progress;  // "" when no notice was up
};

// The progress notice of this process: the "Setup" window with its text
// control (message boxes have the same title).
struct ProgressSearch {
    HWND Found;
};

BOOL CALLBACK MatchProgress(HWND window, LPARAM parameter) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == GetCurrentProcessId() && IsWindowVisible(window) && robot::WindowTitle(window) == "Setup" &&
        robot::HasControl(window, IDC_PROGRESS_TEXT)) {
        reinterpret_cast<ProgressSearch*>(parameter)->Found = window;
        return FALSE;
    }
    return TRUE;
}

std::string ProgressText() {
    ProgressSearch search = {nullptr};
    EnumWindows(MatchProgress, reinterpret_cast<LPARAM>(&search));
    return search.Found ? robot::ControlText(search.Found, IDC_PROGRESS_TEXT) : std::string();
}

// Answers the boxes with OK, as a user would, and notes for each the text of
// the progress notice that stood behind it.
class ProgressWitness {
public:
    ProgressWitness() {
        Current = this;
        SetMessageBoxResponder(&ProgressWitness::Respond);
    }
    ~ProgressWitness() {
        SetMessageBoxResponder(nullptr);
        Current = nullptr;
    }
    ProgressWitness(const ProgressWitness&) = delete;
    ProgressWitness& operator=(const ProgressWitness&) = delete;

    const std::vector<WitnessedBox>& Boxes() const { return boxes_; }

private:
    static int Respond(HWND, const char* text, const char* title, UINT type) {
        Current->boxes_.push_back(WitnessedBox{text, title, type, ProgressText()});
        if ((type & MB_TYPEMASK) == MB_OK)
            return IDOK;
        ADD_FAILURE() << "unexpected question \"" << title << "\": " << text;
        return IDCANCEL;
    }

    static ProgressWitness* Current;
    std::vector<WitnessedBox> boxes_;
};

ProgressWitness* ProgressWitness::Current;

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

const char QtThunkMissing[] = "Cannot get address of QT_Thunk (0/127 - ";

// The real system lists and the sample driver (NT), and the progress notice
// from the dialog template of setup.exe, which this test program does not
// carry itself.
class DeviceSetupTest : public nt_device::NtDeviceTest {
protected:
    void SetUp() override {
        nt_device::NtDeviceTest::SetUp();
        savedInstance_ = ::Setup.InstanceHandle;
        savedFamily_ = ::Setup.IsWindowsNT;
        resources_ = LoadLibraryExA(fixture::SetupExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, resources_) << "setup.exe beside the test program: error " << GetLastError();
        ::Setup.InstanceHandle = resources_;
        ::Setup.IsWindowsNT = TRUE;
    }
    void TearDown() override {
        ::Setup.InstanceHandle = savedInstance_;
        ::Setup.IsWindowsNT = savedFamily_;
        if (resources_)
            FreeLibrary(resources_);
        nt_device::NtDeviceTest::TearDown();
    }

    std::string TypicalInf() { return WriteInf({nt_device::TypicalLine}); }

    HINSTANCE savedInstance_ = nullptr;
    BOOL savedFamily_ = TRUE;
    HMODULE resources_ = nullptr;
};

// Whatever the road, the notice names the device while any message of the
// device work is up, and it is gone when SetupDevice returns.
TEST_F(DeviceSetupTest, ProgressNamesTheDeviceWhileItsMessagesAreShown) {
    std::string inf = TypicalInf();
    const struct {
        BOOL IsWindowsNT;
        bool Install;
        std::string Third;
        std::string Message;  // the start of the one box
        std::string Progress;
    } cases[] = {
        {TRUE, true, scratch_.Join("nothere.inf"),
         "Device INF file (" + scratch_.Join("nothere.inf") + ") not found (0/2 - ",
         "Installing Setup Test Sound Device device driver..."},
        {TRUE, false, "wave,mixer", "Device not installed", "Removing Setup Test Sound Device device driver..."},
        {FALSE, true, inf, QtThunkMissing, "Installing Setup Test Sound Device device driver..."},
        // Windows 9x does not look at the type text.
        {FALSE, false, "wave, midi", QtThunkMissing, "Removing Setup Test Sound Device device driver..."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.IsWindowsNT ? "NT " : "9x ") + (c.Install ? "install" : "removal"));
        ::Setup.IsWindowsNT = c.IsWindowsNT;
        ProgressWitness witness;
        EXPECT_FALSE(SetupDevice(c.Install, DeviceName, c.Third.c_str()));
        ASSERT_EQ(1u, witness.Boxes().size());
        const WitnessedBox& box = witness.Boxes()[0];
        EXPECT_TRUE(StartsWith(box.Text, c.Message)) << box.Text;
        EXPECT_EQ("Setup", box.Title);
        EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), box.Type);
        EXPECT_EQ(c.Progress, box.Progress);
        EXPECT_EQ("", ProgressText()) << "the notice is gone";
    }
    EXPECT_EQ(nt_device::ReadLists(), (nt_device::Lists{nt_device::CodecEntries(), {}, {}}));
}

// The notice holds 255 characters: "Installing " and " device driver..."
// leave 227 for the name, "Removing " 229. A longer name is refused before
// anything is shown or done.
TEST_F(DeviceSetupTest, NameLongerThanTheNoticeIsRefused) {
    std::string missing = scratch_.Join("nothere.inf");
    const struct {
        bool Install;
        int Length;
        bool Refused;
    } cases[] = {{true, 227, false}, {true, 228, true}, {false, 229, false}, {false, 230, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Install ? "install " : "removal ") + std::to_string(c.Length));
        std::string name(c.Length, 'n');
        ProgressWitness witness;
        EXPECT_FALSE(SetupDevice(c.Install, name.c_str(), c.Install ? missing.c_str() : "wave"));
        ASSERT_EQ(1u, witness.Boxes().size());
        const WitnessedBox& box = witness.Boxes()[0];
        if (c.Refused) {
            std::string expected = "Device name is too long (" + std::to_string(c.Length) + " characters, at most " +
                                   std::to_string(c.Length - 1) + "): " + name;
            EXPECT_EQ(expected.substr(0, 255), box.Text);
            EXPECT_EQ("", box.Progress) << "nothing is shown before the refusal";
        } else {
            EXPECT_EQ((c.Install ? "Installing " : "Removing ") + name + " device driver...", box.Progress);
            std::string message = c.Install ? "Device INF file (" : "Device not installed";
            EXPECT_EQ(message, box.Text.substr(0, message.size()));
        }
    }
}

std::string Repeat(const std::string& text, int count) {
    std::string result;
    for (int i = 0; i < count; i++)
        result += text;
    return result;
}

// The device stage logs "InstallDevice <type text> <name>" in at most 357
// characters. A driver whose line would not fit is taken out again at once:
// the uninstaller could never find it.
class LoggableTypeTextTest : public DeviceSetupTest {
protected:
    void TearDown() override {
        FreeBlock(::Setup.DeviceName);
        FreeBlock(::Setup.DeviceInfFile);
        FreeBlock(::Setup.InstallLog.Text);
        ::Setup.DeviceName = nullptr;
        ::Setup.DeviceInfFile = nullptr;
        ::Setup.InstallLog = InstallLogText{nullptr, 0, 0};
        DeviceSetupTest::TearDown();
    }

    // Runs the device stage of the install sequence for a device of the
    // longest name and this type text.
    bool InstallStep(const std::string& typeText) {
        std::string name(227, 'n');
        std::string inf = WriteInf({"setuptst = 1:setuptst.drv, \"" + typeText + "\", \"" + name + "\", , ,"});
        ::Setup.DeviceName = DuplicateString(name.c_str());
        ::Setup.DeviceInfFile = DuplicateString(inf.c_str());
        return InstallDeviceStep();
    }
};

TEST_F(LoggableTypeTextTest, LineOfExactly357CharactersIsInstalledAndLogged) {
    sample_driver::InstalledDriver driver(DriverFile, RecordFile());
    ASSERT_TRUE(driver.Ready());
    std::string typeText = Repeat("wave,", 23);  // 115 characters
    ProgressWitness witness;
    ASSERT_TRUE(InstallStep(typeText));
    EXPECT_TRUE(witness.Boxes().empty());
    std::string line = "InstallDevice " + typeText + " " + std::string(227, 'n');
    ASSERT_EQ(357u, line.size());
    EXPECT_EQ(line + "\r\n", std::string(::Setup.InstallLog.Text, ::Setup.InstallLog.Length));
    EXPECT_TRUE(SetupDevice(false, ::Setup.DeviceName, typeText.c_str()));
}

TEST_F(LoggableTypeTextTest, LongerLineIsRefusedBeforeAnythingIsWritten) {
    sample_driver::InstalledDriver driver(DriverFile, RecordFile());
    ASSERT_TRUE(driver.Ready());
    std::string typeText = "mixer," + Repeat("wave,", 22);  // 116 characters
    ProgressWitness witness;
    EXPECT_FALSE(InstallStep(typeText));
    ASSERT_EQ(1u, witness.Boxes().size());
    EXPECT_EQ("Device type text \"" + typeText + "\" is too long for the installation log", witness.Boxes()[0].Text);
    EXPECT_EQ(0, driver.CountOf("DRV_INSTALL"));
    EXPECT_EQ(0, driver.CountOf("DRV_REMOVE"));
    EXPECT_EQ(nt_device::ReadLists(), (nt_device::Lists{nt_device::CodecEntries(), {}, {}}));
    EXPECT_EQ(0u, ::Setup.InstallLog.Length);
}

}  // namespace
