// The walk of a replay over a log text: which lines it hands on, in which
// order, under which mask. Words without an undo action name each line
// reached in their report; AppName lines are undone without a trace.
#include "log/replay.h"
#include "unit/tables.h"

namespace {

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

}  // namespace
