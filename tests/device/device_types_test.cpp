// The device type text and the driver line of an INF file: the inputs they
// accept, what they make of them, and the messages for what they refuse.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/device_types.h"
#include "support/responder.h"

namespace {

TEST(DeviceTypesTest, TypeTextsAcceptedAndRefused) {
    const struct {
        std::string Text;
        TypeMask Mask;
        std::string Message;  // empty: no message
    } cases[] = {
        {"wave,mixer", 3, ""},
        {"WAVE", 1, ""},
        {"Mixer,Wave", 3, ""},
        {"wave,wave", 1, ""},
        {"wave,", 1, ""},
        {"wave, mixer", 0, "Space in the \"wave, mixer\" is not allowed"},
        {"wave,,mixer", 0, "Invalid device type \"\""},
        {",wave", 0, "Invalid device type \"\""},
        {"", 0, "No device type specified"},
        {"wave,midi", 0, "Invalid device type \"midi\""},
        {"wave\t", 0, "Invalid device type \"wave\t\""},
        {"wavemixer", 0, "Invalid device type \"wavemixer\""},
        // Items longer than the 127 characters of the item buffer name no
        // type; the message shows the part that was kept.
        {std::string(127, 'w'), 0, "Invalid device type \"" + std::string(127, 'w') + "\""},
        {std::string(128, 'w'), 0, "Invalid device type \"" + std::string(127, 'w') + "\""},
        {"wave" + std::string(400, 'x') + ",mixer", 0, "Invalid device type \"wave" + std::string(123, 'x') + "\""},
    };
    for (const auto& c : cases) {
        ScriptedResponder responder;
        EXPECT_EQ(c.Mask, ParseDeviceTypes(c.Text.c_str())) << c.Text;
        if (c.Message.empty()) {
            EXPECT_TRUE(responder.Boxes().empty()) << c.Text;
            continue;
        }
        ASSERT_EQ(1u, responder.Boxes().size()) << c.Text;
        EXPECT_EQ(c.Message, responder.Boxes()[0].Text);
        EXPECT_EQ("Setup", responder.Boxes()[0].Title);
        EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), responder.Boxes()[0].Type);
    }
}

TEST(DeviceTypesTest, DriverLinesAcceptedAndRefused) {
    const std::vector<std::string> typical = {"mydev", "1", "mydev.drv", "wave,mixer", "My Sound Device"};
    const struct {
        std::string Line;
        std::vector<std::string> Fields;  // empty: refused with the syntax message
    } cases[] = {
        {"mydev = 1:mydev.drv, \"wave,mixer\", \"My Sound Device\", , ,", typical},
        {"  \tmydev=1:mydev.drv,\"wave,mixer\",\"My Sound Device\"", typical},
        {"mydev=1:mydev.drv,\"wave,mixer\",\"My Sound Device\",,", typical},
        {"mydev = 1 : mydev.drv , \"wave,mixer\" , \"My Sound Device\" , , ,", typical},
        // Unquoted, the type text ends at its comma: a sixth field follows.
        {"mydev = 1 : mydev.drv , wave,mixer , \"My Sound Device\"", {}},
        // An unquoted field ended by its terminator swallows one more
        // terminator after blanks.
        {"k=1:f.drv,,x,y", {"k", "1", "f.drv", "x", "y"}},
        {"k=1:f.drv,t,d, , ,", {"k", "1", "f.drv", "t", "d"}},
        // A quoted field keeps blanks, commas and the other terminators.
        {"\"a = b\"=\"1:2\":\"f, g.drv\",\"w\",\"d, e\"", {"a = b", "1:2", "f, g.drv", "w", "d, e"}},
        // A closing quote not followed by the terminator: the next field
        // begins after the blanks.
        {"k=1:f.drv,\"wave\" mixer", {"k", "1", "f.drv", "wave", "mixer"}},
        {"k=1:f.drv,\"wave\" mixer,\"Dev\"", {}},
        // An unterminated quote runs to the end of the line.
        {"k=1:f.drv,wave,\"My Dev, , ,", {"k", "1", "f.drv", "wave", "My Dev, , ,"}},
        {"k=1:f.drv,\"\",\"\"", {"k", "1", "f.drv", "", ""}},
        {"k=1:f.drv,wave,Dev,,x", {}},
        {"k=1:f.drv,wave,\"Dev\",x", {}},
        {"k=1:f.drv,wave,Dev x", {}},
        {"k=1:f.drv,wave", {}},
        {"k=1:f.drv,wave,", {}},
        {"k=1:f.drv,\"wave,Dev", {}},
        {"", {}},
        {"   ", {}},
    };
    for (const auto& c : cases) {
        ScriptedResponder responder;
        std::string line = c.Line;
        DriverLine fields = {};
        bool parsed = ParseDriverLine(&line[0], &fields);
        if (c.Fields.empty()) {
            EXPECT_FALSE(parsed) << c.Line;
            EXPECT_EQ(std::vector<std::string>{"Syntax error in installable driver string"}, responder.Texts())
                << c.Line;
            continue;
        }
        ASSERT_TRUE(parsed) << c.Line;
        EXPECT_TRUE(responder.Boxes().empty()) << c.Line;
        std::vector<std::string> got = {fields.DriverKey, fields.Disk, fields.DriverFile, fields.TypeText,
                                        fields.Description};
        EXPECT_EQ(c.Fields, got) << c.Line;
    }
}

}  // namespace
