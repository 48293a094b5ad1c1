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

enum Action { PressTheAnswer, Escape, Enter, Dismiss };

struct BoxCase {
    UINT Type;
    UINT IconKind;
    std::vector<int> Buttons;
    int DefaultButton;
    Action Act;
    int Answer;
};

// Each box is found among the windows of this process only, read, and
// answered by a button, a key or Dismiss.
TEST(Robot, ReadsAndAnswersMessageBoxes) {
    const BoxCase cases[] = {
        {MB_ICONERROR | MB_OK, MB_ICONERROR, {IDOK}, IDOK, PressTheAnswer, IDOK},
        {MB_ICONWARNING | MB_YESNO | MB_DEFBUTTON2, MB_ICONWARNING, {IDYES, IDNO}, IDNO, PressTheAnswer, IDYES},
        {MB_ICONQUESTION | MB_YESNO, MB_ICONQUESTION, {IDYES, IDNO}, IDYES, PressTheAnswer, IDNO},
        {MB_ICONINFORMATION | MB_OKCANCEL, MB_ICONINFORMATION, {IDOK, IDCANCEL}, IDOK, PressTheAnswer, IDCANCEL},
        {MB_OKCANCEL, 0, {IDOK, IDCANCEL}, IDOK, Escape, IDCANCEL},
        {MB_YESNO | MB_DEFBUTTON2, 0, {IDYES, IDNO}, IDNO, Enter, IDNO},
        {MB_YESNO, 0, {IDYES, IDNO}, IDYES, Enter, IDYES},
        {MB_YESNO, 0, {IDYES, IDNO}, IDYES, Dismiss, IDNO},
        {MB_OKCANCEL, 0, {IDOK, IDCANCEL}, IDOK, Dismiss, IDCANCEL},
        {MB_OK, 0, {IDOK}, IDOK, Dismiss, IDOK},
    };
    const char text[] = "First line\nsecond line";
    for (const BoxCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << std::hex << c.Type << ", action " << c.Act);
        bool foundOnlyHere = false;
        std::string seenText;
        std::vector<std::string> texts;
        UINT iconKind = 0;
        HICON icon = nullptr;
        std::vector<int> buttons;
        LONG defaultStyle = 0;
        LONG cancelStyle = 0;
        int answer = ShowWhile(text, c.Type, [&](HWND box) {
            foundOnlyHere = robot::FindWindowOfProcess(GetCurrentProcessId(), 0) == box &&
                            robot::FindWindowByTitle(BoxTitle, GetCurrentProcessId() + 4, 0) == nullptr &&
                            robot::WindowTitle(box) == BoxTitle && robot::WindowClass(box) == "#32770";
            seenText = robot::MessageBoxText(box);
            texts = robot::ReadTexts(box);
            iconKind = robot::MessageBoxIconKind(box);
            icon = robot::MessageBoxIcon(box);
            buttons = robot::ButtonIds(box);
            defaultStyle = robot::ControlStyle(box, c.DefaultButton);
            cancelStyle = robot::ControlStyle(box, IDCANCEL);
            if (c.Act == PressTheAnswer)
                EXPECT_TRUE(robot::PressButton(box, c.Answer));
            else if (c.Act == Escape)
                robot::PressEscape(box);
            else if (c.Act == Enter)
                robot::PressEnter(box);
            else
                EXPECT_EQ(robot::Dismiss(box), c.Answer) << "Dismiss tells what it pressed";
        });
        EXPECT_TRUE(foundOnlyHere);
        EXPECT_EQ(seenText, text);
        EXPECT_EQ(texts, std::vector<std::string>{text});
        EXPECT_EQ(iconKind, c.IconKind);
        EXPECT_EQ(icon != nullptr, c.IconKind != 0);
        EXPECT_EQ(buttons, c.Buttons);
        EXPECT_EQ(defaultStyle & BS_TYPEMASK, BS_DEFPUSHBUTTON);
        // No control, no style.
        EXPECT_EQ(cancelStyle != 0, c.Buttons.back() == IDCANCEL);
        EXPECT_EQ(answer, c.Answer);
    }
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
