// The NT removal of the device: the driver told DRV_REMOVE, its entries
// deleted from the prefix's real lists, and its instance removed from the
// system's device list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/device_removal.h"
#include "nt_device_fixture.h"
#include "support/responder.h"

namespace {

using namespace nt_device;

class DeviceRemovalTest : public NtDeviceTest {
protected:
    // The lists of an installed device, with entries of other drivers.
    const Lists installed_{
        Plus(CodecEntries(), {"wave1=other.drv", "wave3=setuptst.drv", "wave4=setuptst.drv", "mixer2=setuptst.drv"}),
        {"wave2=setuptst.drv", "mixer1=other.drv", "mixer5=setuptst.drv"},
        {"other.drv=Other Device", "setuptst.drv=Setup Test Sound Device"}};
    // The same after the removal of wave and mixer: the description and the
    // first slot of each type in each list are gone.
    const Lists removed_{Plus(CodecEntries(), {"wave1=other.drv", "wave4=setuptst.drv"}),
                         {"mixer1=other.drv"},
                         {"other.drv=Other Device"}};

    sample_driver::InstalledDriver driver_{DriverFile, RecordFile()};
};

TEST_F(DeviceRemovalTest, DriverIsToldAndItsEntriesAndInstanceGo) {
    ASSERT_TRUE(driver_.Ready());
    ASSERT_TRUE(WriteLists(installed_));
    ASSERT_TRUE(device_instances::Create(DeviceName));
    ASSERT_EQ(1, device_instances::Count(DeviceName));
    ScriptedResponder responder;
    EXPECT_TRUE(RemoveDeviceNT("SETUP TEST SOUND DEVICE", 3));
    EXPECT_TRUE(responder.Boxes().empty()) << ::testing::PrintToString(responder.Texts());
    EXPECT_EQ(1, driver_.CountOf("DRV_REMOVE"));
    EXPECT_EQ(0, driver_.CountOf("DRV_INSTALL"));
    EXPECT_EQ(removed_, ReadLists());
    // Found and removed with the element size of this build (32 bytes in a
    // 64-bit build, where 28 is refused).
    EXPECT_EQ(0, device_instances::Count(DeviceName));
}

// Without the device in the description list nothing is touched: no driver
// message, no list change, no instance removed.
TEST_F(DeviceRemovalTest, DeviceNotInTheDescriptionListIsReported) {
    ASSERT_TRUE(driver_.Ready());
    const Lists lists{Plus(CodecEntries(), {"wave1=setuptst.drv"}), {"wave1=setuptst.drv"},
                      {"setuptst.drv=Setup Test Sound"}};
    ASSERT_TRUE(WriteLists(lists));
    ASSERT_TRUE(device_instances::Create(DeviceName));
    ScriptedResponder responder;
    EXPECT_FALSE(RemoveDeviceNT(DeviceName, 3));
    ASSERT_EQ(1u, responder.Boxes().size());
    EXPECT_EQ("Device not installed", responder.Boxes()[0].Text);
    EXPECT_EQ("Setup", responder.Boxes()[0].Title);
    EXPECT_EQ((UINT)MB_ICONERROR, responder.Boxes()[0].Type);
    EXPECT_EQ(lists, ReadLists());
    EXPECT_TRUE(driver_.Messages().empty());
    EXPECT_EQ(1, device_instances::Count(DeviceName));
}

// A driver that refuses DRV_REMOVE, or cannot be opened at all, still loses
// its entries and its instance, and the removal succeeds.
TEST_F(DeviceRemovalTest, DriverThatCannotBeToldIsRemovedAnyway) {
    ASSERT_TRUE(driver_.Ready());
    driver_.SetRemoveAnswer(0);
    ASSERT_TRUE(WriteLists(installed_));
    ASSERT_TRUE(device_instances::Create(DeviceName));
    {
        ScriptedResponder responder;
        EXPECT_TRUE(RemoveDeviceNT(DeviceName, 3));
        EXPECT_EQ(std::vector<std::string>{"Driver failed processing message 0xA (code 0x0)"}, responder.Texts());
    }
    EXPECT_EQ(1, driver_.CountOf("DRV_REMOVE"));
    EXPECT_EQ(removed_, ReadLists());
    EXPECT_EQ(0, device_instances::Count(DeviceName));

    const Lists missing{Plus(CodecEntries(), {"wave1=nosuch.drv"}), {}, {"nosuch.drv=Setup Test Sound Device"}};
    ASSERT_TRUE(WriteLists(missing));
    ASSERT_TRUE(device_instances::Create(DeviceName));
    ScriptedResponder responder;
    EXPECT_TRUE(RemoveDeviceNT(DeviceName, 1));
    EXPECT_EQ(std::vector<std::string>{"Cannot open driver module " + sample_driver::SystemDir() + "\\nosuch.drv"},
              responder.Texts());
    EXPECT_EQ((Lists{CodecEntries(), {}, {}}), ReadLists());
    EXPECT_EQ(0, device_instances::Count(DeviceName));
}

// The mask from a faulty logged type text is empty: the description and the
// instance go, the slots stay.
TEST_F(DeviceRemovalTest, EmptyMaskLeavesTheSlots) {
    ASSERT_TRUE(driver_.Ready());
    ASSERT_TRUE(WriteLists(installed_));
    ASSERT_TRUE(device_instances::Create(DeviceName));
    ScriptedResponder responder;
    EXPECT_TRUE(RemoveDeviceNT(DeviceName, 0));
    Lists expected = installed_;
    expected.Descriptions = {"other.drv=Other Device"};
    EXPECT_EQ(expected, ReadLists());
    EXPECT_EQ(1, driver_.CountOf("DRV_REMOVE"));
    EXPECT_EQ(0, device_instances::Count(DeviceName));
}

// Of two instances whose descriptions differ only in letter case, the one
// the walk meets first goes; so does nothing else.
TEST_F(DeviceRemovalTest, OnlyTheFirstMatchingInstanceIsRemoved) {
    device_instances::Cleanup other({"Setup Test Sound Device 2"});
    const std::string upper = "SETUP TEST SOUND DEVICE";
    ASSERT_TRUE(device_instances::Create(upper));
    ASSERT_TRUE(device_instances::Create(DeviceName));
    ASSERT_TRUE(device_instances::Create("Setup Test Sound Device 2"));
    std::string first;
    for (const std::string& description : device_instances::Descriptions()) {
        if (lstrcmpiA(description.c_str(), DeviceName) == 0) {
            first = description;
            break;
        }
    }
    ASSERT_FALSE(first.empty());
    const std::string second = first == upper ? std::string(DeviceName) : upper;

    RemoveDeviceInstance("setup test sound device");
    EXPECT_EQ(0, device_instances::Count(first));
    EXPECT_EQ(1, device_instances::Count(second));
    EXPECT_EQ(1, device_instances::Count("Setup Test Sound Device 2"));
    RemoveDeviceInstance("setup test sound device");
    EXPECT_EQ(0, device_instances::Count(second));
    RemoveDeviceInstance("setup test sound device");  // none left: nothing happens
    EXPECT_EQ(1, device_instances::Count("Setup Test Sound Device 2"));
}

}  // namespace
