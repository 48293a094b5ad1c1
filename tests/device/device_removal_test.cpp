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
    sample_driver::InstalledDriver driver_{DriverFile, RecordFile()};
};

// The description goes, and for each type of the mask the first entry of
// that type in each list (in file order, the driver file in any letter case);
// an empty mask, from a faulty logged type text, leaves the slots. A driver
// that refuses DRV_REMOVE, or cannot be opened at all, loses its entries and
// instance all the same. The device is found whatever the letter case;
// without it in the description list nothing at all is touched.
TEST_F(DeviceRemovalTest, DescriptionSlotsOfTheMaskAndInstanceGo) {
    ASSERT_TRUE(driver_.Ready());
    const Lists installed{
        Plus(CodecEntries(), {"wave1=other.drv", "wave4=setuptst.drv", "wave3=setuptst.drv", "mixer2=setuptst.drv"}),
        {"wave2=setuptst.drv", "mixer1=other.drv", "mixer5=SETUPTST.DRV"},
        {"other.drv=Other Device", "setuptst.drv=Setup Test Sound Device"}};
    const std::vector<std::string> otherDescription = {"other.drv=Other Device"};
    const Lists allTypesGone{Plus(CodecEntries(), {"wave1=other.drv", "wave3=setuptst.drv"}), {"mixer1=other.drv"},
                             otherDescription};
    const Lists mixerGone{Plus(CodecEntries(), {"wave1=other.drv", "wave4=setuptst.drv", "wave3=setuptst.drv"}),
                          {"wave2=setuptst.drv", "mixer1=other.drv"}, otherDescription};
    const Lists noModule{Plus(CodecEntries(), {"wave1=nosuch.drv"}), {}, {"nosuch.drv=Setup Test Sound Device"}};
    const Lists notInstalled{Plus(CodecEntries(), {"wave1=setuptst.drv"}), {"wave1=setuptst.drv"},
                             {"setuptst.drv=Setup Test Sound"}};
    const struct {
        const char* Case;
        Lists Before;
        TypeMask Mask;
        DWORD RemoveAnswer;
        Lists After;
        std::vector<std::string> Messages;
        bool Told;  // the driver received DRV_REMOVE; else no message at all
        bool Found;
    } cases[] = {
        {"wave and mixer", installed, 3, 1, allTypesGone, {}, true, true},
        {"mixer only", installed, 2, 1, mixerGone, {}, true, true},
        {"empty mask", installed, 0, 1, {installed[Drivers32List], installed[UserInstallableList], otherDescription},
         {}, true, true},
        {"driver refuses", installed, 3, 0, allTypesGone, {"Driver failed processing message 0xA (code 0x0)"}, true,
         true},
        {"no driver module", noModule, 1, 1, {CodecEntries(), {}, {}},
         {"Cannot open driver module " + sample_driver::SystemDir() + "\\nosuch.drv"}, false, true},
        {"not in the description list", notInstalled, 3, 1, notInstalled, {"Device not installed"}, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Case);
        ASSERT_TRUE(WriteLists(c.Before));
        driver_.SetRemoveAnswer(c.RemoveAnswer);
        DeleteFileA(RecordFile().c_str());
        ASSERT_TRUE(device_instances::Create(DeviceName));
        ScriptedResponder responder;
        EXPECT_EQ(c.Found, RemoveDeviceNT("SETUP TEST SOUND DEVICE", c.Mask));
        EXPECT_EQ(c.Messages, responder.Texts());
        if (c.Told) {
            EXPECT_EQ(1, driver_.CountOf("DRV_REMOVE"));
        } else {
            EXPECT_TRUE(driver_.Messages().empty());
        }
        EXPECT_EQ(c.After, ReadLists());
        // Found and removed with the element size of this build (32 bytes in
        // a 64-bit build, where 28 is refused).
        EXPECT_EQ(c.Found ? 0 : 1, device_instances::Count(DeviceName));
        device_instances::RemoveAll(DeviceName);
    }
}

// Of two instances whose descriptions differ only in letter case, the one
// the walk meets first goes; so does nothing else.
TEST_F(DeviceRemovalTest, OnlyTheFirstMatchingInstanceIsRemoved) {
    const std::string upper = "SETUP TEST SOUND DEVICE", other = "Setup Test Sound Device 2";
    device_instances::Cleanup otherCleanup({other});
    for (const std::string& description : {upper, std::string(DeviceName), other})
        ASSERT_TRUE(device_instances::Create(description));
    std::string first;
    for (const std::string& description : device_instances::Descriptions()) {
        if (first.empty() && lstrcmpiA(description.c_str(), DeviceName) == 0)
            first = description;
    }
    ASSERT_FALSE(first.empty());
    const std::string second = first == upper ? std::string(DeviceName) : upper;

    RemoveDeviceInstance("setup test sound device");
    EXPECT_EQ(0, device_instances::Count(first));
    EXPECT_EQ(1, device_instances::Count(second));
    RemoveDeviceInstance("setup test sound device");
    EXPECT_EQ(0, device_instances::Count(second));
    RemoveDeviceInstance("setup test sound device");  // none left: nothing happens
    EXPECT_EQ(1, device_instances::Count(other));
}

}  // namespace
