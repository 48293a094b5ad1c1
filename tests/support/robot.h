// UI robot: finds the program's windows and works them as a user would.
// Works from a thread of a test program (for windows of that process) and
// from another process. Never call it from the thread that owns the window:
// that thread is inside the window's modal loop.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace robot {

// A visible top-level window with exactly this title (null: any title),
// optionally of one process (0: any); waits up to `timeoutMs`. Null when
// none appeared.
HWND FindWindowByTitle(const char* title, DWORD processId = 0, DWORD timeoutMs = 10000);

// Any visible top-level window of the process (a message box, a dialog, the
// progress window); waits up to `timeoutMs`. Null when none appeared.
HWND FindWindowOfProcess(DWORD processId, DWORD timeoutMs = 10000);

// The caption and the window class ("#32770" for message boxes and dialogs).
std::string WindowTitle(HWND window);
std::string WindowClass(HWND window);

// Message boxes: the text of the static with id 65535, "\n" included.
std::string MessageBoxText(HWND box);

// Texts of the window's static and edit controls, in child order (statics
// that show an icon or a bitmap have no text and are left out).
std::vector<std::string> ReadTexts(HWND window);
std::string ControlText(HWND window, int id);
bool SetEditText(HWND window, int id, const char* text);
bool HasControl(HWND window, int id);
// The style bits of a control (BS_DEFPUSHBUTTON tells the default button);
// 0 when there is no such control.
LONG ControlStyle(HWND window, int id);
// IDs of the visible push buttons, in child order: {IDOK} for a box with the
// single OK button, {IDYES, IDNO} for a yes/no question.
std::vector<int> ButtonIds(HWND window);
// The icon a message box shows (static 1088), to compare with
// LoadIcon(nullptr, IDI_ERROR) and friends. Only meaningful for a box of the
// calling process: icon handles are per process under Wine.
HICON MessageBoxIcon(HWND box);
// Which standard icon the box shows, from any process: MB_ICONERROR,
// MB_ICONQUESTION, MB_ICONWARNING or MB_ICONINFORMATION; 0 when it shows none
// of them. Compares what the screen shows at the icon with the system icons
// drawn here, waiting up to `timeoutMs` for the box to be painted.
UINT MessageBoxIconKind(HWND box, DWORD timeoutMs = 3000);

// 32-bit pixels as 0xRRGGBB, top row first, for comparing pictures.
struct Picture {
    int Width = 0;
    int Height = 0;
    std::vector<DWORD> Pixels;
};
// `icon` drawn at that size on a plain `background`; false when it cannot be
// drawn.
bool RenderIcon(HICON icon, int width, int height, COLORREF background, Picture* picture);

// Clicks a button: the click is sent and the call returns once the button's
// thread has handled it, or has entered a modal loop that the click opened
// (a box shown from the click handler), so it never waits on that loop.
bool PressButton(HWND window, int id);
void PressEscape(HWND window);
void PressEnter(HWND window);
// Posts WM_CLOSE, as the caption's close button does.
void CloseWindow(HWND window);
// Answers a box or dialog the negative way: presses No, else Cancel, else OK;
// returns the ID pressed, or 0 when it had none of them and was closed.
int Dismiss(HWND window);

// Waits until the window is gone; false on time-out.
bool WaitGone(HWND window, DWORD timeoutMs = 10000);

// One window that DismissUntilExit met.
struct SeenWindow {
    std::string Title;
    std::string Text;  // a message box's text, else the texts joined by "\n"
    int Answer;        // what Dismiss pressed
};

// Dismisses every window that the process shows until it ends. False when it
// is still running after `timeoutMs` (the process is left to the caller).
bool DismissUntilExit(HANDLE process, DWORD processId, DWORD timeoutMs, std::vector<SeenWindow>* seen);

// Saves what the screen shows as a 24-bit BMP file.
bool SaveScreenshot(const char* bmpPath);

}  // namespace robot
