// A product with a device installed by the real setup.exe told it runs on
// Windows 98: devmgr16.dll from the program's directory joins the copied
// files, and the device work goes to the 16-bit bridge, which a 64-bit
// program cannot cross (its KERNEL32 has no QT_Thunk). Either way the
// install fails and leaves the system as it was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/device_flow.h"
#include "support/prefix.h"

namespace {

using device_flow::DeviceName;

const char InstallQuestion[] = "Device Product 1.0 will be installed on your computer.\nDo you want to continue?";

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A distribution folder with its own copy of setup.exe (devmgr16.dll is
// looked for beside the running program), the installation directory in a
// scratch folder and the program group in the user's Start menu.
class Device9xTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pretend_.Applied());
        ASSERT_FALSE(device_flow::LocalProgramsFolder().empty());
        fixture::RemoveTree(GroupDir());
        device_flow::Script script{scratch_.Join("apps\\Device Product"), DeviceName, "device.inf", ""};
        ASSERT_TRUE(scratch_.Write("dist\\setup.ini", script.Text()));
        ASSERT_TRUE(scratch_.Write("dist\\readme.txt", "Read me.\r\n"));
        ASSERT_TRUE(scratch_.Write("dist\\device.inf", device_flow::InfText("e2esnd.drv", DeviceName)));
        ASSERT_TRUE(CopyFileA(fixture::SetupExePath().c_str(), Dist("setup.exe").c_str(), TRUE));
        ASSERT_TRUE(CreateDirectoryA(scratch_.Join("apps").c_str(), nullptr));
    }
    void TearDown() override { fixture::RemoveTree(GroupDir()); }

    std::string GroupDir() const {
        return fixture::JoinPath(device_flow::LocalProgramsFolder(), device_flow::GroupName);
    }
    std::string Dist(const std::string& name) const { return scratch_.Join("dist\\" + name); }
    std::string InstallDir() const { return scratch_.Join("apps\\Device Product"); }

    device_flow::SystemState State() const {
        return device_flow::SystemState::Take(scratch_.Join("apps"), device_flow::LocalProgramsFolder());
    }

    device_flow::Outcome Install(const device_flow::BoxHook& hook = nullptr) {
        return device_flow::Run(Dist("setup.exe"), "", scratch_.Join("dist"), "", hook);
    }

    fixture::WindowsVersion pretend_{"win98"};
    fixture::ScratchDir scratch_;
};

TEST_F(Device9xTest, DeviceManagerIsCopiedAndTheBridgeStopsWithoutQtThunk) {
    // The module itself never runs here: any file of that name will do.
    ASSERT_TRUE(scratch_.Write("dist\\devmgr16.dll", "MZ 16-bit device manager stand-in"));
    device_flow::SystemState before = State();
    bool copiedBeforeTheDeviceWork = false;
    device_flow::Outcome install = Install([&](const device_flow::SeenBox& box) {
        if (box.Text != InstallQuestion)
            copiedBeforeTheDeviceWork = Exists(fixture::JoinPath(InstallDir(), "devmgr16.dll"));
    });
    EXPECT_EQ(std::optional<DWORD>(1), install.ExitCode);
    ASSERT_EQ(2u, install.Boxes.size());
    EXPECT_EQ(InstallQuestion, install.Boxes[0].Text);
    const device_flow::SeenBox& error = install.Boxes[1];
    EXPECT_TRUE(StartsWith(error.Text, "Cannot get address of QT_Thunk (0/127 - ")) << error.Text;
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), error.Icon);
    EXPECT_EQ("Installing E2E Sound Device device driver...", error.Progress);
    EXPECT_TRUE(copiedBeforeTheDeviceWork);
    EXPECT_TRUE(before.Same(State()));
}

TEST_F(Device9xTest, MissingDeviceManagerFailsTheCopyStage) {
    device_flow::SystemState before = State();
    device_flow::Outcome install = Install();
    EXPECT_EQ(std::optional<DWORD>(1), install.ExitCode);
    ASSERT_EQ(2u, install.Boxes.size());
    const device_flow::SeenBox& error = install.Boxes[1];
    std::string expected = "Cannot copy " + Dist("devmgr16.dll") + " to " +
                           fixture::JoinPath(InstallDir(), "devmgr16.dll") + " (0/2 - ";
    EXPECT_TRUE(StartsWith(error.Text, expected)) << error.Text;
    EXPECT_EQ("", error.Progress) << "the device work is never reached";
    EXPECT_TRUE(before.Same(State()));
}

}  // namespace
