// The program icon that the build makes from res/program-icon.txt: the
// resource this test program carries (it links the same setup.rc) is
// compared, pixel by pixel, with the text it was made from.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "resource.h"
#include "support/prefix.h"
#include "support/robot.h"

namespace {

const int IconSize = 32;

#pragma pack(push, 2)
struct GroupIconHeader {
    WORD Reserved;
    WORD Type;
    WORD Count;
};
struct GroupIconEntry {
    BYTE Width;
    BYTE Height;
    BYTE ColourCount;
    BYTE Reserved;
    WORD Planes;
    WORD BitCount;
    DWORD BytesInResource;
    WORD Id;
};
#pragma pack(pop)

// The icon's text form: colour of each character and the 32 rows.
struct IconText {
    std::map<char, DWORD> Palette;  // 0xRRGGBB
    std::vector<std::string> Rows;
};

// The source tree, reached through Wine's drive Z: from this file's path.
std::string IconTextPath() {
    std::string path = std::string("Z:") + __FILE__;
    path = path.substr(0, path.find("/tests/install/"));
    return path + "/res/program-icon.txt";
}

IconText ReadIconText() {
    IconText icon;
    std::istringstream lines(fixture::ReadTextFile(IconTextPath()));
    bool pixels = false;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        if (pixels) {
            icon.Rows.push_back(line);
        } else if (line == "pixels") {
            pixels = true;
        } else if (line.compare(0, 7, "colour ") == 0 && line.size() == 15) {
            icon.Palette[line[7]] = std::stoul(line.substr(9), nullptr, 16);
        }
    }
    return icon;
}

// The group icon holds one 32 x 32 image of 16 colours, and that image shows
// the text form pixel by pixel.
TEST(ProgramIcon, IsThePictureOfItsTextForm) {
    HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(IDI_PROGRAM), RT_GROUP_ICON);
    ASSERT_NE(resource, nullptr);
    ASSERT_GE(SizeofResource(nullptr, resource), sizeof(GroupIconHeader) + sizeof(GroupIconEntry));
    const GroupIconHeader* header = static_cast<const GroupIconHeader*>(LockResource(LoadResource(nullptr, resource)));
    ASSERT_NE(header, nullptr);
    const GroupIconEntry* entry = reinterpret_cast<const GroupIconEntry*>(header + 1);
    EXPECT_EQ(header->Type, 1);
    EXPECT_EQ(header->Count, 1);
    EXPECT_EQ(entry->Width, IconSize);
    EXPECT_EQ(entry->Height, IconSize);
    EXPECT_EQ(entry->ColourCount, 16);
    EXPECT_EQ(entry->BitCount, 4);

    IconText text = ReadIconText();
    ASSERT_EQ(text.Rows.size(), static_cast<size_t>(IconSize)) << IconTextPath();
    ASSERT_LE(text.Palette.size(), 16u);
    HICON icon = static_cast<HICON>(
        LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_PROGRAM), IMAGE_ICON, IconSize, IconSize, 0));
    ASSERT_NE(icon, nullptr);
    // Two backgrounds that no palette colour matches tell transparent pixels.
    const DWORD first = 0x010101, second = 0xFBFBFB;
    // Grey backgrounds read the same in either byte order.
    robot::Picture drawnOnFirst, drawnOnSecond;
    ASSERT_TRUE(robot::RenderIcon(icon, IconSize, IconSize, first, &drawnOnFirst));
    ASSERT_TRUE(robot::RenderIcon(icon, IconSize, IconSize, second, &drawnOnSecond));
    DestroyIcon(icon);
    const std::vector<DWORD>& onFirst = drawnOnFirst.Pixels;
    const std::vector<DWORD>& onSecond = drawnOnSecond.Pixels;
    int wrong = 0;
    for (int y = 0; y < IconSize; y++) {
        ASSERT_EQ(text.Rows[y].size(), static_cast<size_t>(IconSize));
        for (int x = 0; x < IconSize; x++) {
            char c = text.Rows[y][x];
            size_t i = static_cast<size_t>(y) * IconSize + x;
            DWORD wantFirst = c == '.' ? first : text.Palette.at(c);
            DWORD wantSecond = c == '.' ? second : text.Palette.at(c);
            if (onFirst[i] != wantFirst || onSecond[i] != wantSecond) {
                if (++wrong <= 5)
                    ADD_FAILURE() << "pixel " << x << "," << y << " ('" << c << "') is " << std::hex << onFirst[i]
                                  << " / " << onSecond[i];
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}

}  // namespace
