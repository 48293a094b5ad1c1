// UI robot: finds the program's windows and works them as a user would.
// Works from a thread of a test program (for windows of that process) and
// from another process.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace robot {

// A visible top-level window with exactly this title, optionally of one
// process (0: any); waits up to `timeoutMs`. Null when none appeared.
HWND FindWindowByTitle(const char* title, DWORD processId = 0, DWORD timeoutMs = 10000);

// Message boxes: the text of the static with id 65535, "\n" included.
std::string MessageBoxText(HWND box);

// Texts of the window's static and edit controls, in child order.
std::vector<std::string> ReadTexts(HWND window);
std::string ControlText(HWND window, int id);
bool SetEditText(HWND window, int id, const char* text);
bool HasControl(HWND window, int id);
// The style bits of a control (BS_DEFPUSHBUTTON tells the default button).
LONG ControlStyle(HWND window, int id);
// The icon a message box shows (static 1088), to compare with
// LoadIcon(nullptr, IDI_ERROR) and friends.
HICON MessageBoxIcon(HWND box);

// Clicks a button (BM_CLICK, waiting for it to be handled).
bool PressButton(HWND window, int id);
void PressEscape(HWND window);
void PressEnter(HWND window);
void CloseWindow(HWND window);

// Waits until the window is gone; false on time-out.
bool WaitGone(HWND window, DWORD timeoutMs = 10000);

// Saves what the screen shows as a 24-bit BMP file.
bool SaveScreenshot(const char* bmpPath);

}  // namespace robot
