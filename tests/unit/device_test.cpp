// The texts of an INF driver line, the slot a new driver goes into, and the
// parameter block of the 16-bit device manager.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "device/devmgr16_bridge.h"
#include "device/device_types.h"
#include "device/driver_lists.h"
#include "unit/shown_boxes.h"

namespace {

TEST(ParseDeviceTypes, AcceptsTypeNamesAndRefusesTheRest) {
    const std::string w127(127, 'w');
    const struct {
        const char* Name;
        std::string Text;
        TypeMask Mask;
        std::string Message;  // empty: none
    } cases[] = {
        {"both", "wave,mixer", 3, ""},
        {"any case", "WAVE", 1, ""},
        {"any order", "Mixer,Wave", 3, ""},
        {"twice", "wave,wave", 1, ""},
        {"trailing comma", "wave,", 1, ""},
        {"blank", "wave, mixer", 0, "Space in the \"wave, mixer\" is not allowed"},
        {"empty item", "wave,,mixer", 0, "Invalid device type \"\""},
        {"leading comma", ",wave", 0, "Invalid device type \"\""},
        {"empty text", "", 0, "No device type specified"},
        {"unknown type", "wave,midi", 0, "Invalid device type \"midi\""},
        {"tab is no separator", "wave\t", 0, "Invalid device type \"wave\t\""},
        {"no separator", "wavemixer", 0, "Invalid device type \"wavemixer\""},
        {"item fills the buffer", w127, 0, "Invalid device type \"" + w127 + "\""},
        {"item cut to the buffer", w127 + "w", 0, "Invalid device type \"" + w127 + "\""},
        {"long item before a good one", "wave" + std::string(400, 'x') + ",mixer", 0,
         "Invalid device type \"wave" + std::string(123, 'x') + "\""},
    };
    for (const auto& c : cases) {
        BoxRecorder boxes;
        EXPECT_EQ(ParseDeviceTypes(c.Text.c_str()), c.Mask) << c.Name;
        EXPECT_EQ(boxes.Texts(), c.Message.empty() ? "" : c.Message + "|") << c.Name;
        for (const ShownBox& box : boxes.Boxes())
            EXPECT_EQ(box.Title + " " + std::to_string(box.Type), "Setup 16") << c.Name;
    }
}

// key=disk:file,types,description; quotes keep blanks and commas.
TEST(ParseDriverLine, CutsTheFiveFieldsOrRefuses) {
    const char* typical = "mydev|1|mydev.drv|wave,mixer|My Sound Device|";
    const struct {
        const char* Name;
        const char* Line;
        const char* Fields;  // each followed by '|'; null: refused
    } cases[] = {
        {"customary trailing fields", "mydev = 1:mydev.drv, \"wave,mixer\", \"My Sound Device\", , ,", typical},
        {"leading blanks, none between", "  \tmydev=1:mydev.drv,\"wave,mixer\",\"My Sound Device\"", typical},
        {"empty trailing fields", "mydev=1:mydev.drv,\"wave,mixer\",\"My Sound Device\",,", typical},
        {"blanks around every terminator", "mydev = 1 : mydev.drv , \"wave,mixer\" , \"My Sound Device\" , , ,",
         typical},
        {"unquoted type text ends at its comma", "mydev = 1 : mydev.drv , wave,mixer , \"My Sound Device\"", nullptr},
        {"one more terminator swallowed", "k=1:f.drv,,x,y", "k|1|f.drv|x|y|"},
        {"blank trailing fields", "k=1:f.drv,t,d, , ,", "k|1|f.drv|t|d|"},
        {"quotes keep terminators", "\"a = b\"=\"1:2\":\"f, g.drv\",\"w\",\"d, e\"", "a = b|1:2|f, g.drv|w|d, e|"},
        {"blanks after a closing quote", "k=1:f.drv,\"wave\" mixer", "k|1|f.drv|wave|mixer|"},
        {"a sixth field after that", "k=1:f.drv,\"wave\" mixer,\"Dev\"", nullptr},
        {"open quote runs to the end", "k=1:f.drv,wave,\"My Dev, , ,", "k|1|f.drv|wave|My Dev, , ,|"},
        {"empty quoted fields", "k=1:f.drv,\"\",\"\"", "k|1|f.drv|||"},
        {"text in a trailing field", "k=1:f.drv,wave,Dev,,x", nullptr},
        {"text after the quoted description", "k=1:f.drv,wave,\"Dev\",x", nullptr},
        {"blank inside the description", "k=1:f.drv,wave,Dev x", nullptr},
        {"four fields", "k=1:f.drv,wave", nullptr},
        {"empty fifth field", "k=1:f.drv,wave,", nullptr},
        {"quote open to the end leaves four", "k=1:f.drv,\"wave,Dev", nullptr},
        {"empty", "", nullptr},
        {"blanks", "   ", nullptr},
    };
    for (const auto& c : cases) {
        BoxRecorder boxes;
        std::string line = c.Line;
        DriverLine fields = {};
        ASSERT_EQ(ParseDriverLine(&line[0], &fields), c.Fields != nullptr) << c.Name;
        if (!c.Fields) {
            EXPECT_EQ(boxes.Texts(), "Syntax error in installable driver string|") << c.Name;
            continue;
        }
        EXPECT_EQ(boxes.Texts(), "") << c.Name;
        std::string got;
        for (const char* field : {fields.DriverKey, fields.Disk, fields.DriverFile, fields.TypeText, fields.Description})
            got += std::string(field) + "|";
        EXPECT_EQ(got, c.Fields) << c.Name;
    }
}

// The nine wave slots as one letter each: '.' absent, '-' empty value,
// 'o' another driver, 'w' wdmaud.drv, 'W' WDMAUD.DRV, 'L' a value longer
// than any read buffer.
std::string SlotSection(const char* slots, const std::string& extra) {
    std::string section = extra;
    for (int n = 0; n < 9; n++) {
        const char* values[] = {"", "", "other.drv", "wdmaud.drv", "WDMAUD.DRV"};
        const char* letter = strchr(".-owW", slots[n]);
        std::string value = letter ? values[letter - ".-owW"] : std::string(300, 'x');
        if (slots[n] != '.')
            section += "wave" + std::to_string(n + 1) + "=" + value + '\0';
    }
    return section + '\0';
}

TEST(FindFreeSlot, FirstEmptyElseTheLastOfSeveralWdmaud) {
    char path[MAX_PATH];
    GetTempPathA(sizeof path, path);
    lstrcatA(path, "unit_slots.ini");
    const struct {
        const char* Name;
        const char* Slots;
        std::string Extra;     // other keys, each NUL-ended
        const char* Expected;  // null: none
    } cases[] = {
        {"no slot taken", ".........", "", "wave1"},
        {"a gap", "oo.o.....", "", "wave3"},
        {"an empty value is free", "o-.......", "", "wave2"},
        {"other keys are no slots", "o........", std::string("wave=a.drv\0wavemapper=x.drv\0", 28),
         "wave2"},
        {"the last of several wdmaud", "owoowowoo", "", "wave7"},
        {"wdmaud in any case", "ooWooooWo", "", "wave8"},
        {"the first wdmaud is never taken", "ooowooooo", "", nullptr},
        {"all taken", "ooooooooo", "", nullptr},
        {"a free slot before a later wdmaud", "wwo......", "", "wave4"},
        {"a cut value is no wdmaud", "wwooooooL", "", "wave2"},
    };
    for (const auto& c : cases) {
        std::string section = SlotSection(c.Slots, c.Extra);
        ASSERT_TRUE(WritePrivateProfileSectionA("Drivers32", section.c_str(), path)) << c.Name;
        ProfileSection list;
        OpenProfileSection(&list, path, "Drivers32");
        char slot[ListTextSize] = "untouched";
        ASSERT_EQ(FindFreeSlot("wave", slot, sizeof slot, &list), c.Expected != nullptr) << c.Name;
        EXPECT_STREQ(c.Expected ? slot : nullptr, c.Expected) << c.Name;
    }
    DeleteFileA(path);
}

// The install word (little-endian), the device name and the INF short path
// with their NULs, filling the 800 bytes at most; nothing past the block.
TEST(BuildManagerParams, LaysOutTheBlockWithinTheArea) {
    const int area = ManagerArgumentAreaSize;
    const std::string inf = "C:\\SETUP\\MYDEV.INF";
    const std::string fills(area - 2 - 1 - inf.size() - 1, 'n');
    const struct {
        const char* Name;
        bool Install;
        std::string Device;
        std::string Path;
        std::string Expected;  // empty: refused
    } cases[] = {
        {"install", true, "My Device", inf, std::string("\x01\x00My Device\0C:\\SETUP\\MYDEV.INF\0", 31)},
        {"removal has an empty path", false, "My Device", "", std::string("\x00\x00My Device\0\0", 13)},
        {"fills the area", true, fills, inf, std::string("\x01\x00", 2) + fills + '\0' + inf + '\0'},
        {"one byte too many", true, fills + "n", inf, ""},
        {"removal one byte too many", false, std::string(area - 3, 'n'), "", ""},
    };
    for (const auto& c : cases) {
        std::string block(area + 16, '\xCC');
        int length = BuildManagerParams(reinterpret_cast<BYTE*>(&block[0]), area, c.Install, c.Device.c_str(),
                                        c.Path.c_str());
        EXPECT_EQ(block.substr(0, length), c.Expected) << c.Name;
        EXPECT_EQ(block.substr(length), std::string(block.size() - length, '\xCC')) << c.Name;
    }
}

}  // namespace
