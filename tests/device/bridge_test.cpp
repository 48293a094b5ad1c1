// The bridge to the 16-bit device manager: the parameter block of _manager
// byte for byte, the refusal of texts that do not fit the argument area, and
// where the bridge stops in a 64-bit process (no QT_Thunk in its KERNEL32).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/devmgr16_bridge.h"
#include "support/responder.h"

namespace {

const BYTE Untouched = 0xCC;

std::vector<BYTE> Bytes(const std::string& text) {
    return std::vector<BYTE>(text.begin(), text.end());
}

// Builds the block into a buffer of `size` bytes (plus guard bytes behind
// it); returns the bytes written, and checks that nothing else changed.
std::vector<BYTE> Build(int size, bool install, const std::string& name, const std::string& path, int* length) {
    std::vector<BYTE> buffer(size + 16, Untouched);
    *length = BuildManagerParams(buffer.data(), size, install, name.c_str(), path.c_str());
    for (size_t i = *length; i < buffer.size(); i++)
        EXPECT_EQ(Untouched, buffer[i]) << "byte " << i << " is not part of the block";
    return std::vector<BYTE>(buffer.begin(), buffer.begin() + *length);
}

TEST(ManagerParamsTest, LaidOutByteForByte) {
    const struct {
        bool Install;
        const char* Path;
        std::string Expected;
    } cases[] = {
        // Install word 1, the name and its NUL, the short path and its NUL.
        {true, "C:\\SETUP\\MYDEV.INF", std::string("\x01\x00My Device\0C:\\SETUP\\MYDEV.INF\0", 31)},
        // Removal: word 0 and an empty path, a single NUL.
        {false, "", std::string("\x00\x00My Device\0\0", 13)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Install ? "install" : "removal");
        int length = 0;
        std::vector<BYTE> block = Build(ManagerArgumentAreaSize, c.Install, "My Device", c.Path, &length);
        EXPECT_EQ(static_cast<int>(c.Expected.size()), length);
        EXPECT_EQ(Bytes(c.Expected), block);
    }
}

// The block fills the area to the last byte, and one byte more is refused
// with nothing written.
TEST(ManagerParamsTest, FitsTheAreaOrIsRefusedWhole) {
    const int area = ManagerArgumentAreaSize;
    const std::string path = "C:\\SETUP\\MYDEV.INF";
    const int fixedBytes = 2 + 1 + static_cast<int>(path.size()) + 1;  // word, name NUL, path, path NUL
    int length = 0;
    std::vector<BYTE> block = Build(area, true, std::string(area - fixedBytes, 'n'), path, &length);
    EXPECT_EQ(area, length);
    ASSERT_EQ(static_cast<size_t>(area), block.size());
    EXPECT_EQ(0, block[area - 1]);

    Build(area, true, std::string(area - fixedBytes + 1, 'n'), path, &length);
    EXPECT_EQ(0, length);
    Build(area, false, std::string(area - 3, 'n'), "", &length);
    EXPECT_EQ(0, length);
}

std::string Fill(int count) {
    return std::string(count, 'd');
}

// A 64-bit process has no thunk service: the bridge ends at its lookup with
// the system's reason, before any module is loaded; texts that do not fit the
// argument area are refused before even that.
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
        {true, "My Device", "C:\\SETUP\\MYDEV.INF", notFound},
        {false, "My Device", "", notFound},
        {false, Fill(ManagerArgumentAreaSize - 4), "", notFound},  // exactly 800 bytes
        {false, Fill(ManagerArgumentAreaSize - 3), "", tooLong},
        {true, "My Device", Fill(ManagerArgumentAreaSize - 12), tooLong},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name.substr(0, 20) + " / " + c.Path.substr(0, 20));
        ScriptedResponder responder;
        EXPECT_FALSE(CallDeviceManager16(c.Install, c.Name.c_str(), c.Path.c_str()));
        ASSERT_EQ(1u, responder.Boxes().size());
        const RecordedBox& box = responder.Boxes()[0];
        EXPECT_EQ(c.Message, box.Text.substr(0, c.Message.size()));
        if (c.Message == notFound)
            EXPECT_EQ(')', box.Text.back()) << box.Text;
        else
            EXPECT_EQ(c.Message, box.Text);
        EXPECT_EQ("Setup", box.Title);
        EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), box.Type);
    }
}

}  // namespace
