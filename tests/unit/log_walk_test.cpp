// The walk of a replay over a log text: which lines it hands on, in which
// order, under which mask. Words without an undo action name each line
// reached in their report; AppName lines are undone without a trace.
#include <gtest/gtest.h>

#include <string>

#include "log/replay.h"
#include "unit/shown_boxes.h"

namespace {

const EventMask DeviceOnly = 0x20;      // the first uninstall stage
const EventMask AllButDevice = ~0x20u;  // the second stage

TEST(ReplayLog, WalksFromTheLastLineToTheFirst) {
    std::string large = ";\r\nOne 1\r\n";
    for (int i = 0; i < 200000; i++)
        large += i == 100000 ? "Two 2\r\n" : "AppName Line\r\n";
    large += "Three 3";
    const struct {
        const char* Name;
        std::string Text;
        EventMask Mask;
        const char* Reports;  // each followed by '|'
    } cases[] = {
        {"last line first", "One 1\r\nTwo 2\r\nThree 3\r\n", AllEvents,
         "Unknown event Three|Unknown event Two|Unknown event One|"},
        {"CR alone ends a line", "One\rTwo\rThree\r", AllEvents,
         "Unknown event Three|Unknown event Two|Unknown event One|"},
        {"last line without an end", "One\r\nTwo", AllEvents, "Unknown event Two|Unknown event One|"},
        {"LF alone ends no line", "One\nTwo\r\nThree", AllEvents, "Unknown event Three|Unknown event One\nTwo|"},
        {"comments and empty lines skipped", ";\r\n; Caution!\r\n;Bogus x\r\n\r\n;\r\n\r\r\n", AllEvents, ""},
        {"a leading blank gives no word", "  Bogus x\r\n", AllEvents, "Unknown event |"},
        {"event words ignore case", "appname x\r\nCREATEVALUE HKCU\\x\r\n", AllEvents, "Unknown event CREATEVALUE|"},
        {"CreateValue has no undo action", "CreateValue HKCU\\x v\r\n", AllButDevice, "Unknown event CreateValue|"},
        {"the first stage passes others over", "Bogus\r\nCreateValue HKCU\\x v\r\nAppName P\r\n", DeviceOnly, ""},
        {"the second stage passes devices over", "InstallDevice wave Sample Device\r\nBogus\r\n", AllButDevice,
         "Unknown event Bogus|"},
        {"one event selected", "Bogus\r\nCreateValue HKCU\\x v\r\n", EventBit(CreateValueEvent),
         "Unknown event CreateValue|"},
        {"every line of a large log", large, AllEvents, "Unknown event Three|Unknown event Two|Unknown event One|"},
    };
    for (const auto& c : cases) {
        BoxRecorder boxes;
        std::string text = c.Text;
        EXPECT_EQ(ReplayLog(&text[0], c.Mask), c.Reports[0] == '\0') << c.Name;
        EXPECT_EQ(text[0], '\0') << c.Name << ": the text is consumed";
        EXPECT_EQ(boxes.Texts(), c.Reports) << c.Name;
    }
    EXPECT_TRUE(ReplayLog(nullptr, AllEvents));
}

// The InstallDevice argument: the type text, then the device name.
TEST(SplitDeviceArgument, SplitsAtTheFirstBlank) {
    const struct {
        const char* Name;
        const char* Argument;
        const char* Parts;
    } cases[] = {
        {"type and name", "wave,mixer Sample Device", "wave,mixer|Sample Device"},
        {"9x mark, blanks in the name kept", "? Two  Blanks ", "?|Two  Blanks "},
        {"second blank belongs to the name", "wave  Leading", "wave| Leading"},
        {"no name", "wave", "wave|"},
        {"empty name", "? ", "?|"},
        {"empty", "", "|"},
    };
    for (const auto& c : cases) {
        std::string argument = c.Argument;
        const char* typeText = nullptr;
        const char* deviceName = nullptr;
        SplitDeviceArgument(&argument[0], &typeText, &deviceName);
        EXPECT_EQ(std::string(typeText) + "|" + deviceName, c.Parts) << c.Name;
    }
}

}  // namespace
