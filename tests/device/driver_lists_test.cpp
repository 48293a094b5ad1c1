// The NT driver lists of the prefix's real system.ini and control.ini: the
// section cursor, the lookups, the slot search and the NT install with the
// sample driver.
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

TEST_F(DriverListsTest, CursorHandsOutKeysInFileOrderAndValuesReadBounded) {
    const std::string longValue(300, 'v');
    ASSERT_TRUE(profile_files::SetSection("system.ini", "Drivers32", {"b=1", "empty=", "a=" + longValue, "c=3"}));
    ProfileSection* list = Section(Drivers32List);
    EXPECT_STREQ("system.ini", list->FileName);
    EXPECT_STREQ("Drivers32", list->SectionName);
    EXPECT_EQ(nullptr, NextKey(list));  // not loaded

    ASSERT_TRUE(LoadKeys(list));
    std::vector<std::string> keys;
    while (const char* key = NextKey(list))
        keys.push_back(key);
    EXPECT_EQ((std::vector<std::string>{"b", "empty", "a", "c"}), keys);
    FreeKeys(list);
    EXPECT_EQ(nullptr, list->KeyList);
    EXPECT_EQ(nullptr, list->Cursor);
    FreeKeys(list);  // nothing held: nothing done

    char value[ListTextSize];
    EXPECT_TRUE(ReadValue(list, "c", value, sizeof value));
    EXPECT_STREQ("3", value);
    EXPECT_TRUE(ReadValue(list, "empty", value, sizeof value));
    EXPECT_STREQ("", value);
    EXPECT_TRUE(ReadValue(list, "missing", value, sizeof value));
    EXPECT_STREQ("", value);
    // A value that fills the buffer may have been cut.
    EXPECT_FALSE(ReadValue(list, "a", value, sizeof value));
    EXPECT_EQ(longValue.substr(0, ListTextSize - 1), value);

    EXPECT_TRUE(WriteValue(list, "d", "4"));
    EXPECT_TRUE(WriteValue(list, "b", nullptr));
    EXPECT_EQ((std::vector<std::string>{"empty=", "a=" + longValue, "c=3", "d=4"}),
              profile_files::SectionLines("system.ini", "Drivers32"));
}

struct SlotCase {
    std::vector<std::string> Entries;
    const char* Expected;  // null: no slot
};

TEST_F(DriverListsTest, FreeSlotSearch) {
    auto full = [](std::vector<std::string> overrides) {
        std::vector<std::string> lines;
        for (int n = 1; n <= 9; n++) {
            std::string value = "other" + std::to_string(n) + ".drv";
            for (const std::string& o : overrides) {
                if (o[0] - '0' == n)
                    value = o.substr(2);
            }
            lines.push_back("wave" + std::to_string(n) + "=" + value);
        }
        return lines;
    };
    const SlotCase cases[] = {
        {{}, "wave1"},
        {{"wave1=a.drv", "wave2=b.drv", "wave4=c.drv"}, "wave3"},
        {{"wave1=a.drv", "wave2="}, "wave2"},  // an empty value is free
        {{"wave=a.drv", "wave1=a.drv", "wavemapper=x.drv"}, "wave2"},
        {full({"2=wdmaud.drv", "5=wdmaud.drv", "7=wdmaud.drv"}), "wave7"},
        {full({"3=WDMAUD.DRV", "8=wdmaud.drv"}), "wave8"},
        {full({"4=wdmaud.drv"}), nullptr},  // the first wdmaud.drv is never taken
        {full({}), nullptr},
        // A free slot is preferred to a duplicate, even a duplicate before it.
        {{"wave1=wdmaud.drv", "wave2=wdmaud.drv", "wave3=a.drv"}, "wave4"},
        {full({"1=wdmaud.drv", "2=wdmaud.drv", "9=" + std::string(300, 'x')}), "wave2"},
    };
    for (const SlotCase& c : cases) {
        ASSERT_TRUE(profile_files::SetSection("system.ini", "Drivers32", c.Entries));
        char slot[ListTextSize] = "untouched";
        bool found = FindFreeSlot("wave", slot, sizeof slot, Section(Drivers32List));
        std::string entries = ::testing::PrintToString(c.Entries);
        if (c.Expected) {
            EXPECT_TRUE(found) << entries;
            EXPECT_STREQ(c.Expected, slot) << entries;
        } else {
            EXPECT_FALSE(found) << entries;
        }
    }
    // Each type has its own slots.
    ASSERT_TRUE(profile_files::SetSection("system.ini", "Drivers32", {"wave1=a.drv", "mixer1=a.drv", "mixer2="}));
    char slot[ListTextSize];
    ASSERT_TRUE(FindFreeSlot("mixer", slot, sizeof slot, Section(Drivers32List)));
    EXPECT_STREQ("mixer2", slot);
}

// Only the first key of the list that starts with the type name and holds
// the driver file is the type's entry; keys too long for the buffer and
// values that may have been cut match nothing.
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
    EXPECT_EQ(nullptr, list->KeyList);  // each lookup frees its key list

    ASSERT_TRUE(profile_files::SetSection("control.ini", "Userinstallable.drivers",
                                          {longKey + "=setuptst.drv", "wave7=setuptst.drv"}));
    ASSERT_TRUE(FindTypeEntry("wave", DriverFile, list, key, sizeof key));
    EXPECT_STREQ("wave7", key);
    // A driver file name that fills the value buffer is never matched.
    const std::string longDriver(ListTextSize - 1, 'd');
    ASSERT_TRUE(profile_files::SetSection("control.ini", "Userinstallable.drivers", {"wave1=" + longDriver}));
    EXPECT_FALSE(FindTypeEntry("wave", longDriver.c_str(), list, key, sizeof key));
}

TEST_F(DriverListsTest, DriverIsFoundByItsDescription) {
    const std::string longKey(ListTextSize, 'k');
    const std::string longName = std::string(ListTextSize - 1, 'n');
    ASSERT_TRUE(profile_files::SetSection(
        "control.ini", "drivers.desc",
        {"a.drv=Other Device", longKey + "=" + DeviceName, "b.drv=SETUP TEST SOUND DEVICE", std::string("c.drv=") + DeviceName,
         "d.drv=" + longName + "x"}));
    ProfileSection* list = Section(DescriptionList);
    char driver[ListTextSize];
    ASSERT_TRUE(FindDriverByDescription(DeviceName, driver, sizeof driver, list));
    EXPECT_STREQ("b.drv", driver);
    EXPECT_FALSE(FindDriverByDescription("Setup Test", driver, sizeof driver, list));
    // Cut to the buffer, the last value would equal this name: it does not.
    EXPECT_FALSE(FindDriverByDescription(longName.c_str(), driver, sizeof driver, list));
    EXPECT_EQ(nullptr, list->KeyList);
}

TEST_F(DriverListsTest, TracesOfADriverGoTypeByType) {
    Lists before{Plus(CodecEntries(), {"wave2=old.drv", "wave1=old.drv", "mixer1=old.drv", "wave5=keep.drv"}),
                 {"mixer3=OLD.DRV", "mixer4=old.drv", "wave1=old.drv"},
                 {"keep.drv=Kept", "old.drv=Old Device"}};
    ASSERT_TRUE(WriteLists(before));
    RemoveDriverTraces("old.drv", 2, &sections_);
    Lists expected{Plus(CodecEntries(), {"wave2=old.drv", "wave1=old.drv", "wave5=keep.drv"}),
                   {"mixer4=old.drv", "wave1=old.drv"},
                   {"keep.drv=Kept"}};
    EXPECT_EQ(expected, ReadLists());
    RemoveDriverTraces("old.drv", 3, &sections_);
    expected.Drivers32 = Plus(CodecEntries(), {"wave1=old.drv", "wave5=keep.drv"});
    expected.UserInstallable = {};
    EXPECT_EQ(expected, ReadLists());
}

// ---- NT install

class InstallDriverTest : public DriverListsTest {
protected:
    sample_driver::InstalledDriver driver_{DriverFile, RecordFile()};
};

TEST_F(InstallDriverTest, EmptyListsGetTheFirstSlotsAndTheDescription) {
    ASSERT_TRUE(driver_.Ready());
    ScriptedResponder responder;
    ASSERT_TRUE(InstallDriverNT(DeviceName, WriteInf({TypicalLine, "second = 1:second.drv, wave, \"Other\""}).c_str()));
    EXPECT_TRUE(responder.Boxes().empty());
    Lists expected{Plus(CodecEntries(), {"wave1=setuptst.drv", "mixer1=setuptst.drv"}),
                   {"wave1=setuptst.drv", "mixer1=setuptst.drv"},
                   {"setuptst.drv=Setup Test Sound Device"}};
    EXPECT_EQ(expected, ReadLists());
    EXPECT_EQ(1, driver_.CountOf("DRV_INSTALL"));
    EXPECT_EQ(0, driver_.CountOf("DRV_REMOVE"));
    ASSERT_NE(nullptr, ::Setup.DeviceTypeText);
    EXPECT_STREQ("wave,mixer", ::Setup.DeviceTypeText);
}

// Each list chooses its own slot; the description keeps the spelling of the
// script's device name; a type text of one type writes only its slots.
TEST_F(InstallDriverTest, SlotsAreChosenPerListAndType) {
    ASSERT_TRUE(driver_.Ready());
    ASSERT_TRUE(WriteLists(Lists{Plus(CodecEntries(), {"wave1=a.drv", "wave2=b.drv", "wave4=c.drv", "mixer1=a.drv"}),
                                 {"wave1=", "mixer1=a.drv"},
                                 {"a.drv=A Device"}}));
    ScriptedResponder responder;
    ASSERT_TRUE(InstallDriverNT("setup test SOUND device",
                                WriteInf({"setuptst=1:setuptst.drv,WAVE,\"Setup Test Sound Device\""}).c_str()));
    EXPECT_TRUE(responder.Boxes().empty());
    Lists expected{Plus(CodecEntries(), {"wave1=a.drv", "wave2=b.drv", "wave4=c.drv", "mixer1=a.drv",
                                         "wave3=setuptst.drv"}),
                   {"wave1=setuptst.drv", "mixer1=a.drv"},
                   {"a.drv=A Device", "setuptst.drv=setup test SOUND device"}};
    EXPECT_EQ(expected, ReadLists());
    EXPECT_STREQ("WAVE", ::Setup.DeviceTypeText);
}

TEST_F(InstallDriverTest, LaterWdmaudDuplicateIsTakenOver) {
    ASSERT_TRUE(driver_.Ready());
    std::vector<std::string> waves;
    for (int n = 1; n <= 9; n++)
        waves.push_back("wave" + std::to_string(n) + "=" + (n == 2 || n == 6 ? "wdmaud.drv" : "x.drv"));
    ASSERT_TRUE(WriteLists(Lists{waves, {}, {}}));
    ScriptedResponder responder;
    ASSERT_TRUE(InstallDriverNT(DeviceName, WriteInf({TypicalLine}).c_str()));
    waves[5] = "wave6=setuptst.drv";
    EXPECT_EQ(Plus(waves, {"mixer1=setuptst.drv"}), ReadLists().Drivers32);
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
        EXPECT_EQ((UINT)(MB_OKCANCEL | MB_ICONWARNING), responder.Boxes()[0].Type);
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
    EXPECT_EQ(Sorted(Plus(CodecEntries(), {"wave1=other.drv", "wave2=setuptst.drv", "wave5=old.drv",
                                           "mixer1=setuptst.drv"})),
              Sorted(after.Drivers32));
    EXPECT_EQ(Sorted({"wave1=setuptst.drv", "mixer1=setuptst.drv"}), Sorted(after.UserInstallable));
    EXPECT_EQ((std::vector<std::string>{"other.drv=Other", "setuptst.drv=Setup Test Sound Device"}),
              after.Descriptions);
    EXPECT_EQ(1, driver_.CountOf("DRV_INSTALL"));
}

struct FailureCase {
    std::string Name;
    std::vector<std::string> InfLines;  // the [Installable.Drivers] lines; none: no section at all
    DWORD InstallAnswer;
    std::string Message;
    bool DriverTold;  // the driver received DRV_INSTALL
};

// Every failure leaves the lists as they were and no type text behind.
TEST_F(InstallDriverTest, FailuresRollTheListsBack) {
    ASSERT_TRUE(driver_.Ready());
    const std::string systemDir = sample_driver::SystemDir();
    const std::string longDriver(300, 'f');
    const FailureCase cases[] = {
        {"no section", {}, 1, "No driver section found", false},
        {"syntax", {"setuptst=1:setuptst.drv,wave"}, 1, "Syntax error in installable driver string", false},
        {"other device", {"setuptst=1:setuptst.drv,wave,\"Another Device\""}, 1,
         "Device name in the INF file is not \"Setup Test Sound Device\"", false},
        {"bad type", {"setuptst=1:setuptst.drv,\"wave,midi\",\"Setup Test Sound Device\""}, 1,
         "Invalid device type \"midi\"", false},
        {"refused with 0", {TypicalLine}, 0, "Driver failed processing message 0x9 (code 0x0)", true},
        {"refused with 2", {TypicalLine}, 2, "Driver failed processing message 0x9 (code 0x2)", true},
        {"no module", {"nosuch=1:nosuch.drv,\"wave,mixer\",\"Setup Test Sound Device\""}, 1,
         "Cannot open driver module " + systemDir + "\\nosuch.drv", false},
        {"module name too long", {"long=1:" + longDriver + ",wave,\"Setup Test Sound Device\""}, 1,
         ("Driver module path is too long (" + systemDir + "\\" + longDriver + ")").substr(0, 255), false},
    };
    const Lists before{Plus(CodecEntries(), {"wave1=a.drv", "wave3="}), {"mixer2=a.drv"}, {"a.drv=A Device"}};
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.Name);
        ASSERT_TRUE(WriteLists(before));
        std::string inf = scratch_.Join("none.inf");
        if (c.InfLines.empty())
            ASSERT_TRUE(scratch_.Write("none.inf", "[Version]\r\nSignature=\"$CHICAGO$\"\r\n"));
        else
            inf = WriteInf(c.InfLines);
        driver_.SetInstallAnswer(c.InstallAnswer);
        DeleteFileA(RecordFile().c_str());
        ScriptedResponder responder;
        EXPECT_FALSE(InstallDriverNT(DeviceName, inf.c_str()));
        EXPECT_EQ(std::vector<std::string>{c.Message}, responder.Texts());
        EXPECT_EQ(before, ReadLists());
        EXPECT_EQ(c.DriverTold ? 1 : 0, driver_.CountOf("DRV_INSTALL"));
        EXPECT_EQ(0, driver_.CountOf("DRV_REMOVE"));
        EXPECT_EQ(nullptr, ::Setup.DeviceTypeText);
    }
}

TEST_F(InstallDriverTest, EmptyDriverSectionIsNoSection) {
    ScriptedResponder responder;
    std::string inf = scratch_.Join("empty.inf");
    ASSERT_TRUE(scratch_.Write("empty.inf", "[Installable.Drivers]\r\n\r\n[Other]\r\nx=1\r\n"));
    EXPECT_FALSE(InstallDriverNT(DeviceName, inf.c_str()));
    EXPECT_EQ(std::vector<std::string>{"No driver section found"}, responder.Texts());
}

// No free slot for a type in a list: the message names type and section,
// and the slots already written go again.
TEST_F(InstallDriverTest, NoFreeSlotRollsBackWhatWasWritten) {
    ASSERT_TRUE(driver_.Ready());
    std::vector<std::string> mixers;
    for (int n = 1; n <= 9; n++)
        mixers.push_back("mixer" + std::to_string(n) + "=" + (n == 4 ? "wdmaud.drv" : "x.drv"));
    const Lists before{Plus(CodecEntries(), {"wave1=a.drv"}), mixers, {}};
    ASSERT_TRUE(WriteLists(before));
    ScriptedResponder responder;
    EXPECT_FALSE(InstallDriverNT(DeviceName, WriteInf({TypicalLine}).c_str()));
    EXPECT_EQ(std::vector<std::string>{"Cannot find free mixer entry in Userinstallable.drivers"}, responder.Texts());
    EXPECT_EQ(before, ReadLists());
    EXPECT_TRUE(driver_.Messages().empty());

    std::vector<std::string> waves;
    for (int n = 1; n <= 9; n++)
        waves.push_back("wave" + std::to_string(n) + "=" + (n == 4 ? "wdmaud.drv" : "x.drv"));
    ASSERT_TRUE(WriteLists(Lists{waves, {}, {}}));
    ScriptedResponder second;
    EXPECT_FALSE(InstallDriverNT(DeviceName, WriteInf({TypicalLine}).c_str()));
    EXPECT_EQ(std::vector<std::string>{"Cannot find free wave entry in Drivers32"}, second.Texts());
    EXPECT_EQ((Lists{waves, {}, {}}), ReadLists());
}

// Only the first line of the section counts, and it must be whole: a first
// line that the 1024-character section buffer cuts is refused; later long
// lines do not matter.
TEST_F(InstallDriverTest, DriverSectionIsReadBounded) {
    ASSERT_TRUE(driver_.Ready());
    const std::string padding(1100, 'p');
    {
        ScriptedResponder responder;
        EXPECT_TRUE(InstallDriverNT(DeviceName, WriteInf({TypicalLine, "later=" + padding}).c_str()));
        EXPECT_TRUE(responder.Boxes().empty());
    }
    ASSERT_TRUE(WriteLists(Lists{CodecEntries(), {}, {}}));
    ScriptedResponder responder;
    EXPECT_FALSE(InstallDriverNT(DeviceName, WriteInf({std::string(TypicalLine) + padding}).c_str()));
    EXPECT_EQ(std::vector<std::string>{"Installable driver string is too long"}, responder.Texts());
    EXPECT_EQ((Lists{CodecEntries(), {}, {}}), ReadLists());
}

}  // namespace
