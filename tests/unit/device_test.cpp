// The texts of an INF driver line, the slot a new driver goes into, and the
// parameter block of the 16-bit device manager.
#include "device/device_types.h"
#include "device/devmgr16_bridge.h"
#include "device/driver_lists.h"
#include "unit/tables.h"

namespace {

// key=disk:file,types,description; quotes keep blanks and commas. The type
// text of a line that is accepted names wave (1) and mixer (2).
TEST(ParseDriverLine, CutsTheFiveFieldsAndReadsTheTypes) {
    const char* typical = "mydev|1|mydev.drv|wave,mixer|My Sound Device 3";
    const char* refused = "refused [Syntax error in installable driver string]";
    auto typed = [](const char* name, const std::string& types, const std::string& mask) {
        return Row{name, "k=1:f,\"" + types + "\",d", "k|1|f|" + types + "|d " + mask};
    };
    const std::string w127(127, 'w');  // fills the item buffer
    const Row rows[] = {
        {"customary trailing fields", "mydev = 1:mydev.drv, \"wave,mixer\", \"My Sound Device\", , ,", typical},
        {"leading blanks, none between", "  \tmydev=1:mydev.drv,\"wave,mixer\",\"My Sound Device\"", typical},
        {"blanks around terminators", "mydev = 1 : mydev.drv , \"wave,mixer\" , \"My Sound Device\" , , ,", typical},
        {"unquoted type text ends at its comma", "mydev = 1 : mydev.drv , wave,mixer , \"My Sound Device\"", refused},
        {"one more terminator swallowed", "k=1:f.drv,,wave,y", "k|1|f.drv|wave|y 1"},
        {"quotes keep terminators", "\"a = b\"=\"1:2\":\"f, g.drv\",\"mixer\",\"d, e\"",
         "a = b|1:2|f, g.drv|mixer|d, e 2"},
        {"blanks after a closing quote end the field", "k=1:f.drv,\"wave\" mixer", "k|1|f.drv|wave|mixer 1"},
        {"open quote runs to the end", "k=1:f.drv,wave,\"My Dev, , ,", "k|1|f.drv|wave|My Dev, , , 1"},
        {"text in a trailing field", "k=1:f.drv,wave,Dev,,x", refused},
        {"blank inside the description", "k=1:f.drv,wave,Dev x", refused},
        {"four fields", "k=1:f.drv,wave,", refused},
        {"empty", "", refused},
        typed("any case and order", "MIXER,Wave", "3"),
        typed("trailing comma", "wave,", "1"),
        typed("blank", "wave, mixer", "0 [Space in the \"wave, mixer\" is not allowed]"),
        typed("empty item", "wave,,mixer", "0 [Invalid device type \"\"]"),
        typed("empty type text", "", "0 [No device type specified]"),
        typed("unknown type", "wave,midi", "0 [Invalid device type \"midi\"]"),
        typed("tab is no separator", "wave\t", "0 [Invalid device type \"wave\t\"]"),
        typed("no separator", "wavemixer", "0 [Invalid device type \"wavemixer\"]"),
        typed("item fills the buffer", w127, "0 [Invalid device type \"" + w127 + "\"]"),
        typed("item cut to the buffer", w127 + "w,wave", "0 [Invalid device type \"" + w127 + "\"]"),
    };
    CheckRows(rows, [](std::string line) {
        DriverLine f = {};
        if (!ParseDriverLine(&line[0], &f))
            return std::string("refused");
        return std::string(f.DriverKey) + "|" + f.Disk + "|" + f.DriverFile + "|" + f.TypeText + "|" + f.Description +
               " " + std::to_string(ParseDeviceTypes(f.TypeText));
    });
}

// The input gives the nine wave slots, one letter each: '.' absent, '-'
// empty value, 'o' another driver, 'w' wdmaud.drv, 'W' WDMAUD.DRV, 'L' a
// value longer than any read buffer; other keys may follow after a blank.
TEST(FindFreeSlot, FirstEmptyElseTheLastOfSeveralWdmaud) {
    const Row rows[] = {
        {"a gap", "oo.o.....", "wave3"},
        {"only the ninth free", "oooooooo.", "wave9"},
        {"an empty value is free", "o-.......", "wave2"},
        {"other keys are no slots", "o........ wave=a.drv wavemapper=x.drv", "wave2"},
        {"the last of several wdmaud", "owoowowoo", "wave7"},
        {"wdmaud in any case", "ooWooooWo", "wave8"},
        {"the first wdmaud is never taken", "ooowooooo", "none"},
        {"a free slot before a later wdmaud", "wwo......", "wave4"},
        {"a cut value is no wdmaud", "wwooooooL", "wave2"},
    };
    char path[MAX_PATH];
    lstrcpyA(path + GetTempPathA(sizeof path, path), "unit_slots.ini");
    const std::string cut(300, 'x');
    const char* values[] = {"", "other.drv", "wdmaud.drv", "WDMAUD.DRV", cut.c_str()};
    CheckRows(rows, [&](const std::string& input) {
        std::string section;
        for (int n = 0; n < 9; n++) {
            if (input[n] != '.')
                section += "wave" + std::to_string(n + 1) + "=" + values[std::string("-owWL").find(input[n])] + '\0';
        }
        for (char& c : section += input.substr(9))
            c = c == ' ' ? '\0' : c;
        WritePrivateProfileSectionA("Drivers32", (section + '\0').c_str(), path);
        ProfileSection list;
        OpenProfileSection(&list, path, "Drivers32");
        char slot[ListTextSize];
        return std::string(FindFreeSlot("wave", slot, sizeof slot, &list) ? slot : "none");
    });
    DeleteFileA(path);
}

// The install word (little-endian, shown as two digits), the device name
// and the INF short path with their NULs (shown as '|'), filling the 800
// bytes at most; nothing past the block.
TEST(BuildManagerParams, LaysOutTheBlockWithinTheArea) {
    const std::string fills(ManagerArgumentAreaSize - 2 - 1 - 18 - 1, 'n');
    const Row rows[] = {
        {"install", "1|My Device|C:\\SETUP\\MYDEV.INF", "10 My Device|C:\\SETUP\\MYDEV.INF|"},
        {"removal has an empty path", "0|My Device|", "00 My Device||"},
        {"fills the area", "1|" + fills + "|C:\\SETUP\\MYDEV.INF", "10 " + fills + "|C:\\SETUP\\MYDEV.INF|"},
        {"one byte too many", "1|n" + fills + "|C:\\SETUP\\MYDEV.INF", "refused"},
    };
    CheckRows(rows, [](const std::string& input) {
        std::vector<std::string> f = Fields(input);
        std::string block(ManagerArgumentAreaSize + 16, '\xCC');
        int length = BuildManagerParams(reinterpret_cast<BYTE*>(&block[0]), ManagerArgumentAreaSize, f[0] == "1",
                                        f[1].c_str(), f[2].c_str());
        std::string shown = length ? std::to_string(block[0]) + std::to_string(block[1]) + " " : "refused";
        for (int i = 2; i < length; i++)
            shown += block[i] ? block[i] : '|';
        return shown + (block.substr(length) == std::string(block.size() - length, '\xCC') ? "" : " (past it)");
    });
}

}  // namespace
