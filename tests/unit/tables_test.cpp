// The tables of pure functions: the command line, the last error text,
// expanded and joined paths, INF driver lines and type texts, the slot of
// a new driver, the parameter block of the 16-bit device manager, the walk
// of a replay over a log and the names of temporary files.
#include <cstring>

#include "common/setup_state.h"
#include "common/test_seams.h"
#include "common/variables.h"
#include "device/device_types.h"
#include "device/devmgr16_bridge.h"
#include "device/driver_lists.h"
#include "log/replay.h"
#include "unit/tables.h"

namespace {

// A refusal is one error box, at most 255 characters of it.
TEST(CommandLine, ChoosesModeDirectoryAndProcessIdOrRefuses) {
    const std::string longest = "/" + std::string(600, 'x');
    const Row rows[] = {
        {"no arguments: the program's folder", "setup.exe", "install 0 D:\\Disk"},
        {"-c: the current folder, whatever follows", "setup.exe  \t -cxyz E:\\else", "install 0 C:\\users\\current"},
        {"nothing between quote and argument", "\"C:\\Program Files\\setup.exe\"-u", "uninstall 0 D:\\Disk"},
        {"a tab does not end the name", "setup.exe\t-u", "install 0 D:\\Disk"},
        {"no closing quote", "\"C:\\Program Files\\setup.exe -u", "install 0 D:\\Disk"},
        {"-t and its folder with trailing blanks", "\"setup.exe\"   -t  C:\\d  ", "check 0 C:\\d  "},
        {"empty name of the uninstall copy", " -u 0000ABCD C:\\some dir", "uninstall ABCD C:\\some dir"},
        {"id right after the switch, either case", "setup.exe -u1a2B", "uninstall 1A2B D:\\Disk"},
        {"tabs as blanks", "setup.exe -u\t00ff\tC:\\dir", "uninstall FF C:\\dir"},
        {"hex digits stop at g", "setup.exe -u abcdefg", "uninstall ABCDEF g"},
        {"ninth digit starts the folder, though the value wraps", "s -u 123456789", "uninstall 12345678 9"},
        {"leading zeros count nothing", "setup.exe -u 00000000FFFFFFFF0", "uninstall FFFFFFFF 0"},
        {"drive letter read as a digit", "setup.exe -u C:\\dir", "uninstall C :\\dir"},
        {"no prefix", "setup.exe -u 0x1F", "uninstall 0 x1F"},
        {"at before A", "setup.exe -u @", "uninstall 0 @"},
        {"switch letters have case", "setup.exe -C", "refused [Invalid command line switch \"C\"]"},
        {"unknown switch", "setup.exe -x -c", "refused [Invalid command line switch \"x\"]"},
        {"dash alone: the NUL is the switch", "setup.exe -", "refused [Invalid command line switch \"]"},
        {"no switch", "setup.exe /u", "refused [Invalid command line \"/u\"]"},
        {"cut at 255", "setup.exe " + longest,
         "refused [" + ("Invalid command line \"" + longest).substr(0, 255) + "]"},
    };
    CheckRows(rows, [](const std::string& line) {
        const char* arguments = ArgumentTextOf(line.c_str());
        if (arguments != line.c_str() + line.size() - strlen(arguments))
            return std::string("(not in the command line)");
        CommandLineChoice choice;
        if (!InterpretCommandLine(arguments, "C:\\users\\current", "D:\\Disk", &choice))
            return std::string("refused");
        char id[16];
        wsprintfA(id, " %X ", choice.ProcessId);
        const char* modes[] = {"install", "uninstall", "check"};
        return modes[choice.Mode] + std::string(id) + choice.DirectoryText;
    });
}

// "facility/code - system text"; a code the system has no text for ends
// in the dash, and no text ends in a blank.
TEST(LastErrorText, FacilityCodeAndTheSystemText) {
    const Row rows[] = {
        {"access denied", "5", "0/5 - Access denied."},
        {"HRESULT split", "80070005", "7/5 - Access denied."},
        {"HRESULT without system text", "80040154", "4/340 -"},
        {"customer code without system text", "20001234", "0/4660 -"},
    };
    CheckRows(rows, [](const std::string& code) {
        SetLastError(strtoul(code.c_str(), nullptr, 16));
        return std::string(LastErrorText());
    });
}

const std::string InstallDir = "C:\\" + std::string(196, 'i');  // 199 characters

// A text is expanded, "directory|name" joined, into the first bytes of a
// larger buffer: 260 or the number after '#'. Known names in exact case are
// replaced, a value as it is; a result that does not fit fails whole, names
// the text that did not fit and writes nothing. The folder of a path after
// '>' comes from a 260-character buffer: a longer one is none, never cut.
TEST(ExpandVariablesAndJoinPath, ReplaceReferencesAndJoinWithinTheBuffer) {
    static char windowsDir[] = "C:\\WINDOWS", installDir[PathBufferSize], commonPrograms[] = "C:\\Common";
    static char appName[] = "Tool %AppName% 100%";  // a value with references and percent signs
    lstrcpyA(installDir, InstallDir.c_str());
    ::Setup.WindowsDir = windowsDir;
    ::Setup.InstallDir = installDir;
    ::Setup.AppName = appName;
    ::Setup.CommonProgramsFolder = commonPrograms;
    ::Setup.ProgramFilesDir = nullptr;  // not set yet: expands to nothing
    const std::string name200 = "x%" + std::string(200, 'B') + "%y", name59(59, 'n');
    const std::string tooLong = "failed [Text is too long after expansion: ", d259 = "C:\\" + std::string(256, 'd');
    const Row rows[] = {
        {"names have case", "%windowsdir%\\system", "as is: %windowsdir%\\system"},
        {"an empty name opens nothing", "%%WindowsDir%", "expanded: %C:\\WINDOWS"},
        {"closing percent of an unknown name opens", "%Foo%WindowsDir%", "expanded: %FooC:\\WINDOWS"},
        {"longest name", "%CommonProgramsFolder%", "expanded: C:\\Common"},
        {"name beyond the name buffer", name200, "as is: " + name200},
        {"two in a row, a value not expanded again", "%WindowsDir%%AppName%",
         "expanded: C:\\WINDOWSTool %AppName% 100%"},
        {"unset value", "%ProgramFilesDir%\\Sample", "expanded: \\Sample"},
        {"unclosed", "%WindowsDir", "as is: %WindowsDir"},
        {"empty text", "", "as is: "},
        {"value fills the buffer", "%WindowsDir%#11", "expanded: C:\\WINDOWS"},
        {"value one too long", "%WindowsDir%#10", tooLong + "%WindowsDir%]"},
        {"plain text fills the buffer", "0123456789#11", "as is: 0123456789"},
        {"plain text one too long", "0123456789#10", tooLong + "0123456789]"},
        {"backslash added", "C:\\Dir|file.txt", "joined: C:\\Dir\\file.txt"},
        {"the name's backslash stays", "C:\\Dir|\\file.txt", "joined: C:\\Dir\\\\file.txt"},
        {"directory expands to nothing", "%ProgramFilesDir%|file.txt", "joined: file.txt"},
        {"both expanded, one backslash", "%WindowsDir%\\|%AppName%", "joined: C:\\WINDOWS\\Tool %AppName% 100%"},
        {"join fills the buffer", "%InstallDir%|" + name59, "joined: " + InstallDir + "\\" + name59},
        {"join one character too long", "%InstallDir%|n" + name59, tooLong + "n" + name59 + "]"},
        {"directory does not fit", "%InstallDir%\\%InstallDir%|f", tooLong + "%InstallDir%\\%InstallDir%]"},
        {"no room for the backslash", "%WindowsDir%|x#11", tooLong + "x]"},
        {"folder of a path", ">C:\\Program Files\\sample.exe", "folder: C:\\Program Files"},
        {"folder of a name alone", ">sample.exe", "folder: "},
        {"folder of 259 characters", ">" + d259 + "\\file.txt", "folder: " + d259},
        {"of 260: none, never a cut one", ">" + d259 + "d\\file.txt", "folder: "},
    };
    CheckRows(rows, [](const std::string& input) {
        size_t hash = input.find('#');
        size_t size = hash == std::string::npos ? PathBufferSize : std::stoul(input.substr(hash + 1));
        std::vector<std::string> f = Fields(input.substr(0, hash));
        std::string bytes(size + 16, 'G');
        std::string outcome;
        if (input[0] == '>')
            return "folder: " + std::string(DirectoryOf(input.c_str() + 1));
        if (f.size() == 1) {
            const char* results[] = {"failed", "as is: ", "expanded: "};
            outcome = results[ExpandVariables(&bytes[0], (int)size, f[0].c_str()) + 1];
        } else {
            char* joined = JoinPath(&bytes[0], (int)size, f[0].c_str(), f[1].c_str());
            outcome = joined == &bytes[0] ? "joined: " : joined ? "(elsewhere) " : "failed";
        }
        return outcome + bytes.c_str() + (bytes.substr(size) == std::string(16, 'G') ? "" : " (past the buffer)");
    });
}

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

// The input is the mask, '|', and the log text; "split" gives the text to
// the split of an InstallDevice argument: the type text, then the name.
TEST(ReplayLog, WalksFromTheLastLineToTheFirst) {
    std::string large = "all|;\r\nOne 1\r\n";
    for (int i = 0; i < 200000; i++)
        large += i == 100000 ? "Two 2\r\n" : "AppName Line\r\n";
    const char* threeTwoOne = "false [Unknown event Three] [Unknown event Two] [Unknown event One]";
    const Row rows[] = {
        {"CR LF or CR alone ends a line, the last may have no end", "all|One 1\rTwo\r\nThree", threeTwoOne},
        {"LF alone ends no line", "all|One\nTwo\r\nThree", "false [Unknown event Three] [Unknown event One\nTwo]"},
        {"comments and empty lines skipped", "all|;\r\n; Caution!\r\n;Bogus x\r\n\r\n;\r\n\r\r\n", "true"},
        {"a leading blank gives no word", "all|  Bogus x\r\n", "false [Unknown event ]"},
        {"event words ignore case", "all|appname x\r\nCREATEVALUE HKCU\\x\r\n", "false [Unknown event CREATEVALUE]"},
        {"the first stage passes others over", "first|Bogus\r\nCreateValue HKCU\\x v\r\nAppName P\r\n", "true"},
        {"the second stage passes devices over", "second|InstallDevice wave Sample Device\r\nBogus\r\n",
         "false [Unknown event Bogus]"},
        {"one event selected", "value|Bogus\r\nCreateValue HKCU\\x v\r\n", "false [Unknown event CreateValue]"},
        {"every line of a large log", large + "Three 3", threeTwoOne},
        {"split: 9x mark, blanks in the name kept", "split|? Two  Blanks ", "?|Two  Blanks "},
        {"split: second blank belongs to the name", "split|wave  Leading", "wave| Leading"},
        {"split: no name", "split|wave", "wave|"},
        {"split: empty", "split|", "|"},
    };
    CheckRows(rows, [](const std::string& input) {
        size_t bar = input.find('|');
        std::string mask = input.substr(0, bar), text = input.substr(bar + 1);
        const char* typeText = nullptr;
        const char* deviceName = nullptr;
        if (mask == "split") {
            SplitDeviceArgument(&text[0], &typeText, &deviceName);
            return std::string(typeText) + "|" + deviceName;
        }
        EventMask masks[] = {AllEvents, 0x20, ~0x20u, EventBit(CreateValueEvent)};
        bool undone = ReplayLog(&text[0], masks[mask == "all" ? 0 : mask == "first" ? 1 : mask == "second" ? 2 : 3]);
        return std::string(undone ? "true" : "false") + (text[0] ? " (not consumed)" : "");
    });
    EXPECT_TRUE(ReplayLog(nullptr, AllEvents));  // no log: nothing to undo
}

// Input: the generator's state, '|', and a name already taken in the folder
// (or none); the result is the name of the file made there.
TEST(CreateNumberedFile, NamesFromTheSeedPassingOverTakenOnes) {
    char folder[MAX_PATH];
    lstrcpyA(folder + GetTempPathA(sizeof folder, folder), "unit_temp");
    CreateDirectoryA(folder, nullptr);
    const Row rows[] = {
        {"seed 0", "0|", "TMP0026.BAT"},
        {"seed 1", "1|", "TMP0029.BAT"},
        {"a taken name", "0|TMP0026.BAT", "TMP1E27.BAT"},
    };
    CheckRows(rows, [&](const std::string& input) {
        std::vector<std::string> f = Fields(input);
        std::string taken = std::string(folder) + "\\" + f[1];
        if (!f[1].empty())
            CloseHandle(CreateFileA(taken.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        TempNameSeed = std::stoul(f[0]);
        char path[MAX_PATH];
        HANDLE file = CreateNumberedFile(path, sizeof path, folder, "BAT");
        if (file == INVALID_HANDLE_VALUE)
            return std::string("none");
        CloseHandle(file);
        DeleteFileA(path);
        DeleteFileA(taken.c_str());
        return std::string(path).substr(lstrlenA(folder) + 1);
    });
    RemoveDirectoryA(folder);
}

}  // namespace
