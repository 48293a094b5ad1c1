// The bridge to the 16-bit device manager: the parameter block of _manager
// byte for byte, the refusal of texts that do not fit the argument area, and
// where the bridge stops in a 64-bit process (no QT_Thunk in its KERNEL32).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/devmgr16_bridge.h"
#include "support/responder.h"

namespace {

const int Area = ManagerArgumentAreaSize;
const std::string InfPath = "C:\\SETUP\\MYDEV.INF";
// The word, the name's NUL, the path and its NUL.
const int FixedBytes = 2 + 1 + static_cast<int>(InfPath.size()) + 1;

// The block fills the area to the last byte at most; a longer one is refused
// with nothing written (an empty expectation).
TEST(ManagerParamsTest, LaidOutByteForByteWithinTheArea) {
    const std::string fills(Area - FixedBytes, 'n');
    const struct {
        bool Install;
        std::string Name;
        std::string Path;
        std::string Expected;
    } cases[] = {
        // Install: word 1, the name and its NUL, the short path and its NUL.
        {true, "My Device", InfPath, std::string("\x01\x00My Device\0C:\\SETUP\\MYDEV.INF\0", 31)},
        // Removal: word 0 and an empty path, a single NUL.
        {false, "My Device", "", std::string("\x00\x00My Device\0\0", 13)},
        {true, fills, InfPath, std::string("\x01\x00", 2) + fills + '\0' + InfPath + '\0'},
        {true, fills + "n", InfPath, ""},
        {false, std::string(Area - 3, 'n'), "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name.substr(0, 20) + " / " + c.Path);
        const BYTE untouched = 0xCC;
        std::vector<BYTE> buffer(Area + 16, untouched);
        int length = BuildManagerParams(buffer.data(), Area, c.Install, c.Name.c_str(), c.Path.c_str());
        ASSERT_EQ(static_cast<int>(c.Expected.size()), length);
        EXPECT_EQ(std::vector<BYTE>(c.Expected.begin(), c.Expected.end()),
                  std::vector<BYTE>(buffer.begin(), buffer.begin() + length));
        for (size_t i = length; i < buffer.size(); i++)
            EXPECT_EQ(untouched, buffer[i]) << "byte " << i << " is not part of the block";
    }
}

// A 64-bit process has no thunk service: the bridge ends at its lookup with
// the system's reason; texts that do not fit the argument area are refused
// before even that. (The ordinary install and removal reach the lookup in
// DeviceSetupTest and tests/e2e/device_test.cpp.)
TEST(CallDeviceManager16Test, RefusesTooLongTextsAndStopsWithoutQtThunk) {
    const std::string notFound = "Cannot get address of QT_Thunk (0/127 - ";
    const std::string tooLong =
        "Device name and INF file path do not fit the 800 bytes of arguments of the 16-bit device manager";
    const struct {
        bool Install;
        std::string Name;
        std::string Path;
        std::string Message;
    } cases[] = {
        {false, std::string(Area - 4, 'd'), "", notFound},  // exactly 800 bytes
        {false, std::string(Area - 3, 'd'), "", tooLong},
        {true, "My Device", std::string(Area - 12, 'd'), tooLong},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.Name.size()) + " / " + std::to_string(c.Path.size()));
        ScriptedResponder responder;
        EXPECT_FALSE(CallDeviceManager16(c.Install, c.Name.c_str(), c.Path.c_str()));
        ASSERT_EQ(1u, responder.Boxes().size());
        const RecordedBox& box = responder.Boxes()[0];
        if (c.Message == notFound)
            EXPECT_TRUE(box.Text.compare(0, notFound.size(), notFound) == 0 && box.Text.back() == ')') << box.Text;
        else
            EXPECT_EQ(c.Message, box.Text);
        EXPECT_EQ("Setup", box.Title);
        EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), box.Type);
    }
}

}  // namespace
