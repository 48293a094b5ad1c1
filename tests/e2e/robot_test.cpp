// The robot on real message boxes of this process, from a second thread, as
// the tests of the dialogs use it.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/messages.h"
#include "support/prefix.h"
#include "support/robot.h"

namespace {

const char BoxTitle[] = "Robot test";
const DWORD WindowTimeoutMs = 10000;

BOOL CALLBACK DismissVisible(HWND window, LPARAM) {
    if (IsWindowVisible(window))
        robot::Dismiss(window);
    return TRUE;
}

// Shows a real box on this thread while `work` runs the robot on another
// one; returns the box's answer. Should the robot not find the box, it
// dismisses whatever this thread shows, so that the test fails, not hangs.
int ShowWhile(const char* text, UINT type, const std::function<void(HWND)>& work) {
    DWORD boxThread = GetCurrentThreadId();
    std::thread robotThread([&] {
        HWND box = robot::FindWindowByTitle(BoxTitle, GetCurrentProcessId(), WindowTimeoutMs);
        if (box) {
            work(box);
            if (!robot::WaitGone(box)) {
                ADD_FAILURE() << "the box is still open";
                robot::Dismiss(box);
            }
            return;
        }
        ADD_FAILURE() << "no box titled " << BoxTitle << "; screen: " << fixture::SaveFailureScreenshot();
        EnumThreadWindows(boxThread, DismissVisible, 0);
    });
    int answer = ShowMessageBox(nullptr, text, BoxTitle, type);
    robotThread.join();
    return answer;
}

struct BoxCase {
    UINT Type;
    UINT IconKind;
    std::vector<int> Buttons;
    int DefaultButton;
    int Press;
};

const BoxCase BoxCases[] = {
    {MB_ICONERROR | MB_OK, MB_ICONERROR, {IDOK}, IDOK, IDOK},
    {MB_ICONWARNING | MB_YESNO | MB_DEFBUTTON2, MB_ICONWARNING, {IDYES, IDNO}, IDNO, IDYES},
    {MB_ICONQUESTION | MB_YESNO, MB_ICONQUESTION, {IDYES, IDNO}, IDYES, IDNO},
    {MB_ICONINFORMATION | MB_OKCANCEL, MB_ICONINFORMATION, {IDOK, IDCANCEL}, IDOK, IDCANCEL},
};

TEST(Robot, ReadsAndAnswersMessageBoxes) {
    const char text[] = "First line\nsecond line";
    for (const BoxCase& c : BoxCases) {
        SCOPED_TRACE(testing::Message() << "type " << std::hex << c.Type);
        std::string seenText;
        UINT iconKind = 0;
        HICON icon = nullptr;
        std::vector<int> buttons;
        LONG defaultStyle = 0;
        bool pressed = false;
        int answer = ShowWhile(text, c.Type, [&](HWND box) {
            seenText = robot::MessageBoxText(box);
            iconKind = robot::MessageBoxIconKind(box);
            icon = robot::MessageBoxIcon(box);
            buttons = robot::ButtonIds(box);
            defaultStyle = robot::ControlStyle(box, c.DefaultButton);
            pressed = robot::PressButton(box, c.Press);
        });
        EXPECT_EQ(seenText, text);
        EXPECT_EQ(iconKind, c.IconKind);
        EXPECT_EQ(buttons, c.Buttons);
        EXPECT_EQ(defaultStyle & BS_TYPEMASK, BS_DEFPUSHBUTTON);
        EXPECT_TRUE(pressed);
        EXPECT_EQ(answer, c.Press);
        EXPECT_NE(icon, nullptr);
    }
}

TEST(Robot, AnswersWithKeysAndDismiss) {
    const struct {
        const char* Name;
        UINT Type;
        std::function<void(HWND)> Act;
        int Answer;
    } cases[] = {
        {"Escape", MB_OKCANCEL, [](HWND box) { robot::PressEscape(box); }, IDCANCEL},
        {"Enter on default No", MB_YESNO | MB_DEFBUTTON2, [](HWND box) { robot::PressEnter(box); }, IDNO},
        {"Enter on default Yes", MB_YESNO, [](HWND box) { robot::PressEnter(box); }, IDYES},
        {"Dismiss a question", MB_YESNO, [](HWND box) { EXPECT_EQ(robot::Dismiss(box), IDNO); }, IDNO},
        {"Dismiss OK/Cancel", MB_OKCANCEL, [](HWND box) { EXPECT_EQ(robot::Dismiss(box), IDCANCEL); }, IDCANCEL},
        {"Dismiss a notice", MB_OK, [](HWND box) { EXPECT_EQ(robot::Dismiss(box), IDOK); }, IDOK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        int answer = ShowWhile("Answer me", c.Type, c.Act);
        EXPECT_EQ(answer, c.Answer);
    }
}

TEST(Robot, TellsTheWindowsOfOneProcessApart) {
    ShowWhile("Mine", MB_OK, [](HWND box) {
        EXPECT_EQ(robot::FindWindowOfProcess(GetCurrentProcessId(), 0), box);
        EXPECT_EQ(robot::WindowTitle(box), BoxTitle);
        EXPECT_EQ(robot::WindowClass(box), "#32770");
        // No other process has it, and no window has this title elsewhere.
        EXPECT_EQ(robot::FindWindowByTitle(BoxTitle, GetCurrentProcessId() + 4, 0), nullptr);
        EXPECT_FALSE(robot::HasControl(box, IDCANCEL));
        EXPECT_EQ(robot::ControlStyle(box, IDCANCEL), 0);
        EXPECT_EQ(robot::ReadTexts(box), std::vector<std::string>{"Mine"});
        robot::PressButton(box, IDOK);
    });
}

unsigned ReadLittleEndian(const std::string& data, size_t offset, size_t bytes) {
    unsigned value = 0;
    for (size_t i = 0; i < bytes; i++)
        value |= static_cast<unsigned>(static_cast<unsigned char>(data[offset + i])) << (8 * i);
    return value;
}

TEST(Robot, SavesTheScreenAsA24BitBmp) {
    fixture::ScratchDir scratch;
    std::string path = scratch.Join("screen.bmp");
    RECT boxRect = {};
    ShowWhile("On the screen", MB_ICONWARNING | MB_OK, [&](HWND box) {
        robot::MessageBoxIconKind(box);  // returns once the box is painted
        GetWindowRect(box, &boxRect);
        EXPECT_TRUE(robot::SaveScreenshot(path.c_str()));
        robot::PressButton(box, IDOK);
    });
    std::string bmp = fixture::ReadTextFile(path);
    ASSERT_GE(bmp.size(), 54u);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(ReadLittleEndian(bmp, 2, 4), bmp.size());
    unsigned offset = ReadLittleEndian(bmp, 10, 4);
    unsigned width = ReadLittleEndian(bmp, 18, 4);
    unsigned height = ReadLittleEndian(bmp, 22, 4);
    EXPECT_EQ(width, static_cast<unsigned>(GetSystemMetrics(SM_CXVIRTUALSCREEN)));
    EXPECT_EQ(height, static_cast<unsigned>(GetSystemMetrics(SM_CYVIRTUALSCREEN)));
    EXPECT_EQ(ReadLittleEndian(bmp, 28, 2), 24u);
    size_t stride = (width * 3 + 3) & ~3u;
    ASSERT_EQ(bmp.size(), offset + stride * height);
    // The box is in the picture: its area holds more than one colour.
    ASSERT_GT(boxRect.bottom, boxRect.top);
    std::string area;
    for (LONG y = boxRect.top; y < boxRect.bottom; y++)
        area += bmp.substr(offset + (height - 1 - y) * stride + boxRect.left * 3, (boxRect.right - boxRect.left) * 3);
    EXPECT_NE(area.find_first_not_of(area[0]), std::string::npos);
}

}  // namespace
