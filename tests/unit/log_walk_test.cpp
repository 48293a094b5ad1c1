// The walk of a replay over a log text: which lines it hands on, in which
// order, under which mask. Words without an undo action name each line
// reached in their report; AppName lines are undone without a trace.
#include "log/replay.h"
#include "unit/tables.h"

namespace {

// The input is the mask, '|', and the log text.
TEST(ReplayLog, WalksFromTheLastLineToTheFirst) {
    std::string large = "all|;\r\nOne 1\r\n";
    for (int i = 0; i < 200000; i++)
        large += i == 100000 ? "Two 2\r\n" : "AppName Line\r\n";
    const char* threeTwoOne = "false [Unknown event Three] [Unknown event Two] [Unknown event One]";
    const Row rows[] = {
        {"last line first", "all|One 1\r\nTwo 2\r\nThree 3\r\n", threeTwoOne},
        {"CR alone ends a line", "all|One\rTwo\rThree\r", threeTwoOne},
        {"last line without an end", "all|One\r\nTwo\r\nThree", threeTwoOne},
        {"LF alone ends no line", "all|One\nTwo\r\nThree", "false [Unknown event Three] [Unknown event One\nTwo]"},
        {"comments and empty lines skipped", "all|;\r\n; Caution!\r\n;Bogus x\r\n\r\n;\r\n\r\r\n", "true"},
        {"a leading blank gives no word", "all|  Bogus x\r\n", "false [Unknown event ]"},
        {"event words ignore case", "all|appname x\r\nCREATEVALUE HKCU\\x\r\n", "false [Unknown event CREATEVALUE]"},
        {"CreateValue has no undo action", "second|CreateValue HKCU\\x v\r\n", "false [Unknown event CreateValue]"},
        {"the first stage passes others over", "first|Bogus\r\nCreateValue HKCU\\x v\r\nAppName P\r\n", "true"},
        {"the second stage passes devices over", "second|InstallDevice wave Sample Device\r\nBogus\r\n",
         "false [Unknown event Bogus]"},
        {"one event selected", "value|Bogus\r\nCreateValue HKCU\\x v\r\n", "false [Unknown event CreateValue]"},
        {"every line of a large log", large + "Three 3", threeTwoOne},
    };
    CheckRows(rows, [](const std::string& input) {
        size_t bar = input.find('|');
        std::string mask = input.substr(0, bar);
        std::string text = input.substr(bar + 1);
        EventMask masks[] = {AllEvents, 0x20, ~0x20u, EventBit(CreateValueEvent)};
        int chosen = mask == "all" ? 0 : mask == "first" ? 1 : mask == "second" ? 2 : 3;
        bool undone = ReplayLog(&text[0], masks[chosen]);
        return std::string(undone ? "true" : "false") + (text[0] ? " (not consumed)" : "");
    });
}

// The InstallDevice argument: the type text, then the device name.
TEST(SplitDeviceArgument, SplitsAtTheFirstBlank) {
    const Row rows[] = {
        {"type and name", "wave,mixer Sample Device", "wave,mixer|Sample Device"},
        {"9x mark, blanks in the name kept", "? Two  Blanks ", "?|Two  Blanks "},
        {"second blank belongs to the name", "wave  Leading", "wave| Leading"},
        {"no name", "wave", "wave|"},
        {"empty name", "? ", "?|"},
        {"empty", "", "|"},
    };
    CheckRows(rows, [](std::string argument) {
        const char* typeText = nullptr;
        const char* deviceName = nullptr;
        SplitDeviceArgument(&argument[0], &typeText, &deviceName);
        return std::string(typeText) + "|" + deviceName;
    });
    EXPECT_TRUE(ReplayLog(nullptr, AllEvents));
}

}  // namespace
