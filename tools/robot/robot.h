// The robot: finds the windows of setup.exe and works them as a user would.
// The scenario runner, the main job and the benchmark all drive the program
// through it. It runs in another process than the windows it works; never
// call it from the thread that owns a window (that thread sits in the
// window's modal loop).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace robot {

// The first visible top-level window of one of these processes, or null.
// Windows without a push button (the progress notice) are left out unless
// `withProgress` is set.
HWND FindWindowOf(const std::vector<DWORD>& processIds, bool withProgress = false);

// The caption, read without a message (a busy owner cannot stall it).
std::string WindowTitle(HWND window);
// A message box's text ("\n" included); empty for other windows.
std::string MessageBoxText(HWND box);
bool IsMessageBox(HWND window);
// A control's text: statics through GetWindowText, which answers even while
// the owner is busy without a message loop, edits through WM_GETTEXT under a
// time limit.
std::string ControlText(HWND window, int id);
bool SetEditText(HWND window, int id, const char* text);
// IDs of the visible push buttons in child order, and the default one (0:
// none).
std::vector<int> ButtonIds(HWND window);
int DefaultButton(HWND window);
// The standard icon a message box shows, read from the screen:
// MB_ICONERROR, MB_ICONQUESTION, MB_ICONWARNING, MB_ICONINFORMATION, or 0.
// Waits up to `timeoutMs` for the box to be painted.
UINT MessageBoxIconKind(HWND box, DWORD timeoutMs = 3000);

// Clicks a button and returns once its thread has handled the click or has
// entered a modal loop the click opened.
bool PressButton(HWND window, int id);
// A key as the keyboard sends it to the focused control (VK_RETURN, ...).
void PressKey(HWND window, WORD key);
// Waits until the window is gone; false on time-out.
bool WaitGone(HWND window, DWORD timeoutMs = 10000);

// What the screen shows, as a 24-bit BMP file.
bool SaveScreenshot(const char* bmpPath);

}  // namespace robot
