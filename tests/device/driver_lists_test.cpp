// The NT driver lists of the prefix's real system.ini and control.ini: the
// lookups, the slot search and the NT install with the sample driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "device/driver_lists.h"
#include "nt_device_fixture.h"
#include "support/responder.h"

namespace {

using namespace nt_device;

std::vector<std::string> Sorted(std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}

// The nine slots of a type, all taken: slot N holds "otherN.drv" unless an
// override "N=value" gives it another value.
std::vector<std::string> FullSlots(const std::string& type, const std::vector<std::string>& overrides) {
    std::vector<std::string> lines;
    for (int n = 1; n <= 9; n++) {
        std::string value = "other" + std::to_string(n) + ".drv";
        for (const std::string& o : overrides) {
            if (o[0] - '0' == n)
                value = o.substr(2);
        }
        lines.push_back(type + std::to_string(n) + "=" + value);
    }
    return lines;
}

class DriverListsTest : public NtDeviceTest {
protected:
    void SetUp() override {
        NtDeviceTest::SetUp();
        OpenDriverSections(&sections_);
    }
    void TearDown() override {
        ReleaseDriverSections(&sections_);
        NtDeviceTest::TearDown();
    }

    ProfileSection* Section(DriverListIndex index) { return &sections_.Lists[index]; }

    DriverSections sections_;
};

TEST_F(DriverListsTest, FreeSlotSearch) {
    const struct {
        std::vector<std::string> Entries;
        const char* Expected;  // null: no slot
    } cases[] = {
        {{}, "wave1"},
        {{"wave1=a.drv", "wave2=b.drv", "wave4=c.drv"}, "wave3"},
        {{"wave1=a.drv", "wave2="}, "wave2"},  // an empty value is free
        {{"wave=a.drv", "wave1=a.drv", "wavemapper=x.drv"}, "wave2"},
        {FullSlots("wave", {"2=wdmaud.drv", "5=wdmaud.drv", "7=wdmaud.drv"}), "wave7"},
        {FullSlots("wave", {"3=WDMAUD.DRV", "8=wdmaud.drv"}), "wave8"},
        {FullSlots("wave", {"4=wdmaud.drv"}), nullptr},  // the first wdmaud.drv is never taken
        {FullSlots("wave", {}), nullptr},
        // A free slot is preferred to a duplicate, even a duplicate before it.
        {{"wave1=wdmaud.drv", "wave2=wdmaud.drv", "wave3=a.drv"}, "wave4"},
        // A value that fills the read buffer may have been cut: it is neither
        // free nor wdmaud.drv.
        {FullSlots("wave", {"1=wdmaud.drv", "2=wdmaud.drv", "9=" + std::string(300, 'x')}), "wave2"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(profile_files::SetSection("system.ini", "Drivers32", c.Entries));
        char slot[ListTextSize] = "untouched";
        bool found = FindFreeSlot("wave", slot, sizeof slot, Section(Drivers32List));
        std::string entries = ::testing::PrintToString(c.Entries);
        EXPECT_EQ(c.Expected != nullptr, found) << entries;
        if (c.Expected && found) {
            EXPECT_STREQ(c.Expected, slot) << entries;
        }
    }
}

// Only the first key of the list, in file order, that starts with the type
// name and holds the driver file is the type's entry; keys too long for the
// buffer and values that may have been cut match nothing. (The description
// lookup walks the list the same way; its whole-value match is in
// DeviceRemovalTest.)
TEST_F(DriverListsTest, TypeEntryIsTheFirstKeyWithTheTypePrefixAndTheDriver) {
    const std::string longKey = "wave" + std::string(300, 'k');
    ASSERT_TRUE(profile_files::SetSection(
        "control.ini", "Userinstallable.drivers",
        {"mixer1=setuptst.drv", "wave1=other.drv", longKey + "=setuptst.drv", "wav2=setuptst.drv",
         "WaveMapper=SETUPTST.DRV", "wave3=setuptst.drv"}));
    ProfileSection* list = Section(UserInstallableList);
    char key[ListTextSize];
    ASSERT_TRUE(FindTypeEntry("wave", DriverFile, list, key, sizeof key));
    EXPECT_STREQ("WaveMapper", key);
    ASSERT_TRUE(FindTypeEntry("mixer", DriverFile, list, key, sizeof key));
    EXPECT_STREQ("mixer1", key);
    EXPECT_FALSE(FindTypeEntry("mixer", "other.drv", list, key, sizeof key));
    // Each lookup frees its key list, and a freed list hands out no key.
    EXPECT_EQ(nullptr, list->KeyList);
    EXPECT_EQ(nullptr, NextKey(list));

    ASSERT_TRUE(profile_files::SetSection("control.ini", "Userinstallable.drivers",
                                          {longKey + "=setuptst.drv", "wave7=setuptst.drv"}));
    ASSERT_TRUE(FindTypeEntry("wave", DriverFile, list, key, sizeof key));
    EXPECT_STREQ("wave7", key);
    const std::string longDriver(ListTextSize - 1, 'd');
    ASSERT_TRUE(profile_files::SetSection("control.ini", "Userinstallable.drivers", {"wave1=" + longDriver}));
    EXPECT_FALSE(FindTypeEntry("wave", longDriver.c_str(), list, key, sizeof key));
}

// ---- NT install

class InstallDriverTest : public DriverListsTest {
protected:
    sample_driver::InstalledDriver driver_{DriverFile, RecordFile()};
};

// Each list chooses its own slot; the INF name matches in any letter case and
// the description keeps the spelling of the script's device name; a type text
// of one type writes only its slots. Only the first line of the driver
// section counts: a later line too long for the section buffer does not
// matter.
TEST_F(InstallDriverTest, SlotsAreChosenPerListAndType) {
    ASSERT_TRUE(driver_.Ready());
    ASSERT_TRUE(WriteLists(Lists{Plus(CodecEntries(), {"wave1=a.drv", "wave2=b.drv", "wave4=c.drv", "mixer1=a.drv"}),
                                 {"wave1=", "mixer1=a.drv"},
                                 {"a.drv=A Device"}}));
    ScriptedResponder responder;
    ASSERT_TRUE(InstallDriverNT("setup test SOUND device",
                                WriteInf({"setuptst=1:setuptst.drv,WAVE,\"Setup Test Sound Device\"",
                                          "later=" + std::string(1100, 'p')})
                                    .c_str()));
    EXPECT_TRUE(responder.Boxes().empty());
    Lists expected{
        Plus(CodecEntries(), {"wave1=a.drv", "wave2=b.drv", "wave4=c.drv", "mixer1=a.drv", "wave3=setuptst.drv"}),
        {"wave1=setuptst.drv", "mixer1=a.drv"},
        {"a.drv=A Device", "setuptst.drv=setup test SOUND device"}};
    EXPECT_EQ(expected, ReadLists());
    EXPECT_EQ(1, driver_.CountOf("DRV_INSTALL"));
    EXPECT_STREQ("WAVE", ::Setup.DeviceTypeText);
}

// The question about a device already in the description list: Cancel
// changes nothing; OK removes the old driver's traces for the new types and
// installs.
TEST_F(InstallDriverTest, AlreadyRegisteredDeviceAsksFirst) {
    ASSERT_TRUE(driver_.Ready());
    const Lists before{Plus(CodecEntries(), {"wave1=other.drv", "wave2=old.drv", "wave5=old.drv", "mixer1=old.drv"}),
                       {"mixer3=old.drv", "wave9=old.drv"},
                       {"other.drv=Other", "old.drv=SETUP test sound device"}};
    ASSERT_TRUE(WriteLists(before));
    const std::string inf = WriteInf({TypicalLine});
    const std::string question =
        "Device \"Setup Test Sound Device\" is already registered in the system. If you forgot to uninstall a "
        "previous version, please click Cancel to exit Setup and uninstall it as described in the manual.\n\n"
        "If you have installed a previous version via New Hardware Wizard and have uninstalled it via Control "
        "Panel too, there may rest some traces of a previous version. Due to its bugs, Windows NT4/2000/XP "
        "sometimes cannot delete legacy devices properly.\n\n"
        "If you have PROPERLY uninstalled a previous version and restarted Windows after it, click OK to remove "
        "old device traces and install the new device.";
    {
        ScriptedResponder responder({IDCANCEL});
        EXPECT_FALSE(InstallDriverNT(DeviceName, inf.c_str()));
        ASSERT_EQ(1u, responder.Boxes().size());
        EXPECT_EQ(question, responder.Boxes()[0].Text);
        EXPECT_EQ("Setup device manager", responder.Boxes()[0].Title);
        EXPECT_EQ(static_cast<UINT>(MB_OKCANCEL | MB_ICONWARNING), responder.Boxes()[0].Type);
        EXPECT_EQ(nullptr, responder.Boxes()[0].Owner);
        EXPECT_EQ(before, ReadLists());
        EXPECT_TRUE(driver_.Messages().empty());
        EXPECT_EQ(nullptr, ::Setup.DeviceTypeText);
    }
    {
        ScriptedResponder responder({IDOK});
        ASSERT_TRUE(InstallDriverNT(DeviceName, inf.c_str()));
        EXPECT_EQ(std::vector<std::string>{question}, responder.Texts());
    }
    Lists after = ReadLists();
    EXPECT_EQ(Sorted(Plus(CodecEntries(),
                          {"wave1=other.drv", "wave2=setuptst.drv", "wave5=old.drv", "mixer1=setuptst.drv"})),
              Sorted(after[Drivers32List]));
    EXPECT_EQ(Sorted({"wave1=setuptst.drv", "mixer1=setuptst.drv"}), Sorted(after[UserInstallableList]));
    EXPECT_EQ((std::vector<std::string>{"other.drv=Other", "setuptst.drv=Setup Test Sound Device"}),
              after[DescriptionList]);
    EXPECT_EQ(1, driver_.CountOf("DRV_INSTALL"));
    EXPECT_STREQ("wave,mixer", ::Setup.DeviceTypeText);
}

std::string DriverSection(const std::string& line) {
    return "[Installable.Drivers]\r\n" + line + "\r\n";
}

// Every failure leaves the lists as they were (slots already written go
// again) and no type text behind.
TEST_F(InstallDriverTest, FailuresRollTheListsBack) {
    ASSERT_TRUE(driver_.Ready());
    const std::string systemDir = sample_driver::SystemDir();
    const std::string longDriver(300, 'f');
    const Lists common{Plus(CodecEntries(), {"wave1=a.drv", "wave3="}), {"mixer2=a.drv"}, {"a.drv=A Device"}};
    const Lists noFreeMixer{Plus(CodecEntries(), {"wave1=a.drv"}), FullSlots("mixer", {"4=wdmaud.drv"}), {}};
    const Lists noFreeWave{FullSlots("wave", {"4=wdmaud.drv"}), {}, {}};
    const struct {
        const char* Case;
        std::string Inf;  // the whole INF file
        std::string Message;
        DWORD InstallAnswer = 1;
        bool DriverTold = false;        // the driver received DRV_INSTALL
        const Lists* Before = nullptr;  // null: the common lists
    } cases[] = {
        {"no section", "[Version]\r\nSignature=\"$CHICAGO$\"\r\n", "No driver section found"},
        {"empty section", "[Installable.Drivers]\r\n\r\n[Other]\r\nx=1\r\n", "No driver section found"},
        // The first line must be whole in the 1024-character section buffer.
        {"first line cut", DriverSection(TypicalLine + std::string(1100, 'p')),
         "Installable driver string is too long"},
        {"syntax", DriverSection("setuptst=1:setuptst.drv,wave"), "Syntax error in installable driver string"},
        {"other device", DriverSection("setuptst=1:setuptst.drv,wave,\"Another Device\""),
         "Device name in the INF file is not \"Setup Test Sound Device\""},
        {"bad type", DriverSection("setuptst=1:setuptst.drv,\"wave,midi\",\"Setup Test Sound Device\""),
         "Invalid device type \"midi\""},
        {"refused with 0", DriverSection(TypicalLine), "Driver failed processing message 0x9 (code 0x0)", 0, true},
        {"refused with 2", DriverSection(TypicalLine), "Driver failed processing message 0x9 (code 0x2)", 2, true},
        {"no module", DriverSection("nosuch=1:nosuch.drv,\"wave,mixer\",\"Setup Test Sound Device\""),
         "Cannot open driver module " + systemDir + "\\nosuch.drv"},
        {"module name too long", DriverSection("long=1:" + longDriver + ",wave,\"Setup Test Sound Device\""),
         ("Driver module path is too long (" + systemDir + "\\" + longDriver + ")").substr(0, 255)},
        // Both wave slots and the mixer slot of Drivers32 are written first.
        {"no free mixer slot", DriverSection(TypicalLine), "Cannot find free mixer entry in Userinstallable.drivers",
         1, false, &noFreeMixer},
        {"no free wave slot", DriverSection(TypicalLine), "Cannot find free wave entry in Drivers32", 1, false,
         &noFreeWave},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Case);
        const Lists& before = c.Before ? *c.Before : common;
        ASSERT_TRUE(WriteLists(before));
        ASSERT_TRUE(scratch_.Write("device.inf", c.Inf));
        driver_.SetInstallAnswer(c.InstallAnswer);
        DeleteFileA(RecordFile().c_str());
        ScriptedResponder responder;
        EXPECT_FALSE(InstallDriverNT(DeviceName, scratch_.Join("device.inf").c_str()));
        EXPECT_EQ(std::vector<std::string>{c.Message}, responder.Texts());
        EXPECT_EQ(before, ReadLists());
        EXPECT_EQ(c.DriverTold ? 1 : 0, driver_.CountOf("DRV_INSTALL"));
        EXPECT_EQ(0, driver_.CountOf("DRV_REMOVE"));
        EXPECT_EQ(nullptr, ::Setup.DeviceTypeText);
    }
}

}  // namespace
