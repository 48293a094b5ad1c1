#include "support/robot.h"

#include <algorithm>
#include <cstdlib>

#include "support/prefix.h"

namespace robot {

namespace {

const DWORD PollIntervalMs = 50;
// How long a message to another thread may take before that thread counts
// as hung. SMTO_ABORTIFHUNG is no use: Wine calls hung a thread that has not
// asked for messages for five seconds, which a test's main thread that has
// just opened its first box may well be.
const UINT ReplyTimeoutMs = 5000;

const int MessageBoxTextId = 65535;
const int MessageBoxIconId = 1088;

// Sends a message and waits for the reply, giving up after a while.
bool SendBounded(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result) {
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, ReplyTimeoutMs,
                               result ? result : &ignored) != 0;
}

// WM_GETTEXT works across processes (the system copies the text back).
std::string TextOf(HWND window) {
    DWORD_PTR length = 0;
    if (!window || !SendBounded(window, WM_GETTEXTLENGTH, 0, 0, &length))
        return std::string();
    std::string text(length + 1, '\0');
    DWORD_PTR copied = 0;
    if (!SendBounded(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]), &copied))
        return std::string();
    text.resize(std::min<size_t>(copied, length));
    return text;
}

struct WindowSearch {
    const char* Title;  // null: any title
    DWORD ProcessId;    // 0: any process
    HWND Found;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM parameter) {
    WindowSearch* search = reinterpret_cast<WindowSearch*>(parameter);
    if (!IsWindowVisible(window))
        return TRUE;
    if (search->ProcessId) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != search->ProcessId)
            return TRUE;
    }
    if (search->Title && WindowTitle(window) != search->Title)
        return TRUE;
    search->Found = window;
    return FALSE;
}

bool IsClass(HWND window, const char* className) {
    return lstrcmpiA(WindowClass(window).c_str(), className) == 0;
}

bool IsImageStatic(HWND control) {
    LONG kind = GetWindowLongA(control, GWL_STYLE) & SS_TYPEMASK;
    return kind == SS_ICON || kind == SS_BITMAP || kind == SS_ENHMETAFILE;
}

bool IsPushButton(HWND control) {
    LONG kind = GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK;
    return IsClass(control, "Button") && (kind == BS_PUSHBUTTON || kind == BS_DEFPUSHBUTTON);
}

// The key messages a keyboard would send to the focused control of the
// window's thread; the dialog's loop turns them into commands.
void PressKey(HWND window, WORD key) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    HWND target = window;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) && info.hwndFocus &&
        (info.hwndFocus == window || IsChild(window, info.hwndFocus)))
        target = info.hwndFocus;
    LPARAM scanCode = static_cast<LPARAM>(MapVirtualKeyA(key, 0)) << 16;
    PostMessageA(target, WM_KEYDOWN, key, scanCode | 1);
    PostMessageA(target, WM_KEYUP, key, scanCode | 0xC0000001);
}

// Lets `draw` paint on a memory DC that holds a 32-bit top-down picture of
// that size, and takes the picture; false when there was no room or `draw`
// failed.
template <typename Draw>
bool Paint(int width, int height, Draw draw, Picture* picture) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC dc = CreateCompatibleDC(nullptr);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool painted = bitmap != nullptr;
    if (painted) {
        HGDIOBJ previous = SelectObject(dc, bitmap);
        painted = draw(dc);
        GdiFlush();
        const DWORD* pixels = static_cast<const DWORD*>(bits);
        picture->Width = width;
        picture->Height = height;
        picture->Pixels.assign(pixels, pixels + static_cast<size_t>(width) * height);
        for (DWORD& pixel : picture->Pixels)
            pixel &= 0xFFFFFF;
        SelectObject(dc, previous);
        DeleteObject(bitmap);
    }
    DeleteDC(dc);
    return painted;
}

bool CaptureScreen(int left, int top, int width, int height, Picture* picture) {
    return Paint(width, height, [&](HDC dc) {
        HDC screen = GetDC(nullptr);
        bool copied = BitBlt(dc, 0, 0, width, height, screen, left, top, SRCCOPY | CAPTUREBLT) != 0;
        ReleaseDC(nullptr, screen);
        return copied;
    }, picture);
}

}  // namespace

bool RenderIcon(HICON icon, int width, int height, COLORREF background, Picture* picture) {
    return Paint(width, height, [&](HDC dc) {
        RECT all = {0, 0, width, height};
        HBRUSH brush = CreateSolidBrush(background);
        FillRect(dc, &all, brush);
        DeleteObject(brush);
        return DrawIconEx(dc, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL) != 0;
    }, picture);
}

namespace {

bool CloseColours(DWORD a, DWORD b) {
    for (int shift = 0; shift < 24; shift += 8) {
        int difference = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
        if (std::abs(difference) > 24)
            return false;
    }
    return true;
}

// Whether `shown` is `icon` drawn on some background: the pixels where the
// icon covers the background (the same drawn on black and on white) must
// match; the others are the background's or blended with it.
bool ShowsIcon(const Picture& shown, HICON icon) {
    Picture onBlack;
    Picture onWhite;
    if (!RenderIcon(icon, shown.Width, shown.Height, RGB(0, 0, 0), &onBlack) ||
        !RenderIcon(icon, shown.Width, shown.Height, RGB(255, 255, 255), &onWhite))
        return false;
    size_t opaque = 0;
    size_t matching = 0;
    for (size_t i = 0; i < shown.Pixels.size(); i++) {
        if (onBlack.Pixels[i] != onWhite.Pixels[i])
            continue;
        opaque++;
        if (CloseColours(shown.Pixels[i], onBlack.Pixels[i]))
            matching++;
    }
    return opaque * 4 >= shown.Pixels.size() && matching * 100 >= opaque * 97;
}

struct StandardIcon {
    LPCSTR Resource;
    UINT Kind;
};

const StandardIcon StandardIcons[] = {
    {IDI_ERROR, MB_ICONERROR},
    {IDI_QUESTION, MB_ICONQUESTION},
    {IDI_WARNING, MB_ICONWARNING},
    {IDI_INFORMATION, MB_ICONINFORMATION},
};

UINT IconKindOnScreen(HWND iconControl) {
    RECT client;
    if (!GetClientRect(iconControl, &client) || client.right <= 0 || client.bottom <= 0)
        return 0;
    POINT origin = {0, 0};
    ClientToScreen(iconControl, &origin);
    Picture shown;
    if (!CaptureScreen(origin.x, origin.y, client.right, client.bottom, &shown))
        return 0;
    for (const StandardIcon& standard : StandardIcons) {
        if (ShowsIcon(shown, LoadIconA(nullptr, standard.Resource)))
            return standard.Kind;
    }
    return 0;
}

}  // namespace

HWND FindWindowByTitle(const char* title, DWORD processId, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        WindowSearch search = {title, processId, nullptr};
        EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
        if (search.Found)
            return search.Found;
        if (GetTickCount() - start >= timeoutMs)
            return nullptr;
        Sleep(PollIntervalMs);
    }
}

HWND FindWindowOfProcess(DWORD processId, DWORD timeoutMs) {
    return FindWindowByTitle(nullptr, processId, timeoutMs);
}

// InternalGetWindowText reads the caption without sending a message, so a
// busy window of this process cannot stall the search.
std::string WindowTitle(HWND window) {
    wchar_t wide[512];
    int length = InternalGetWindowText(window, wide, sizeof wide / sizeof wide[0]);
    if (length <= 0)
        return std::string();
    char narrow[1024];
    int bytes = WideCharToMultiByte(CP_ACP, 0, wide, length, narrow, sizeof narrow, nullptr, nullptr);
    return std::string(narrow, bytes > 0 ? bytes : 0);
}

std::string WindowClass(HWND window) {
    char name[256];
    int length = GetClassNameA(window, name, sizeof name);
    return std::string(name, length > 0 ? length : 0);
}

std::string MessageBoxText(HWND box) {
    return ControlText(box, MessageBoxTextId);
}

std::vector<std::string> ReadTexts(HWND window) {
    std::vector<std::string> texts;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if ((IsClass(child, "Static") && !IsImageStatic(child)) || IsClass(child, "Edit"))
            texts.push_back(TextOf(child));
    }
    return texts;
}

std::string ControlText(HWND window, int id) {
    return TextOf(GetDlgItem(window, id));
}

bool SetEditText(HWND window, int id, const char* text) {
    HWND edit = GetDlgItem(window, id);
    DWORD_PTR result = 0;
    return edit && SendBounded(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text), &result) && result;
}

bool HasControl(HWND window, int id) {
    return GetDlgItem(window, id) != nullptr;
}

LONG ControlStyle(HWND window, int id) {
    HWND control = GetDlgItem(window, id);
    return control ? GetWindowLongA(control, GWL_STYLE) : 0;
}

std::vector<int> ButtonIds(HWND window) {
    std::vector<int> ids;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (IsWindowVisible(child) && IsPushButton(child))
            ids.push_back(GetDlgCtrlID(child));
    }
    return ids;
}

HICON MessageBoxIcon(HWND box) {
    HWND icon = GetDlgItem(box, MessageBoxIconId);
    DWORD_PTR handle = 0;
    if (!icon || !SendBounded(icon, STM_GETICON, 0, 0, &handle))
        return nullptr;
    return reinterpret_cast<HICON>(handle);
}

UINT MessageBoxIconKind(HWND box, DWORD timeoutMs) {
    HWND icon = GetDlgItem(box, MessageBoxIconId);
    HICON shown = MessageBoxIcon(box);
    if (!icon || !IsWindowVisible(icon) || !shown)
        return 0;
    // The handle tells at once when the box belongs to this process.
    for (const StandardIcon& standard : StandardIcons) {
        if (shown == LoadIconA(nullptr, standard.Resource))
            return standard.Kind;
    }
    // Otherwise look at the screen, until the box has been painted.
    DWORD start = GetTickCount();
    for (;;) {
        UINT kind = IconKindOnScreen(icon);
        if (kind || GetTickCount() - start >= timeoutMs)
            return kind;
        Sleep(PollIntervalMs);
    }
}

// BM_CLICK goes out without waiting; the WM_NULL behind it is handled only
// after the click, either when the click handler has returned or from the
// modal loop the handler entered. Waiting on BM_CLICK itself would block
// until such a nested box is closed.
bool PressButton(HWND window, int id) {
    HWND button = GetDlgItem(window, id);
    if (!button || !IsWindowEnabled(button))
        return false;
    if (!SendNotifyMessageA(button, BM_CLICK, 0, 0))
        return false;
    return SendBounded(button, WM_NULL, 0, 0, nullptr) || !IsWindow(button);
}

void PressEscape(HWND window) {
    PressKey(window, VK_ESCAPE);
}

void PressEnter(HWND window) {
    PressKey(window, VK_RETURN);
}

void CloseWindow(HWND window) {
    PostMessageA(window, WM_CLOSE, 0, 0);
}

int Dismiss(HWND window) {
    for (int id : {IDNO, IDCANCEL, IDOK}) {
        HWND button = GetDlgItem(window, id);
        if (button && IsWindowVisible(button) && PressButton(window, id))
            return id;
    }
    robot::CloseWindow(window);
    return 0;
}

bool WaitGone(HWND window, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (IsWindow(window) && IsWindowVisible(window)) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(PollIntervalMs);
    }
    return true;
}

bool DismissUntilExit(HANDLE process, DWORD processId, DWORD timeoutMs, std::vector<SeenWindow>* seen) {
    DWORD start = GetTickCount();
    while (WaitForSingleObject(process, PollIntervalMs) != WAIT_OBJECT_0) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs)
            return false;
        HWND window = FindWindowOfProcess(processId, 0);
        if (!window)
            continue;
        SeenWindow record;
        record.Title = WindowTitle(window);
        if (HasControl(window, MessageBoxTextId)) {
            record.Text = MessageBoxText(window);
        } else {
            for (const std::string& text : ReadTexts(window))
                record.Text += (record.Text.empty() ? "" : "\n") + text;
        }
        record.Answer = Dismiss(window);
        seen->push_back(record);
        WaitGone(window, timeoutMs - elapsed);
    }
    return true;
}

bool SaveScreenshot(const char* bmpPath) {
    int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    Picture screen;
    if (width <= 0 || height <= 0 || !CaptureScreen(left, top, width, height, &screen))
        return false;
    // 24-bit rows, bottom row first (as BMP files usually are), each padded
    // to four bytes.
    size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = static_cast<DWORD>(stride * height);
    BITMAPFILEHEADER header = {};
    header.bfType = 0x4D42;  // "BM"
    header.bfOffBits = sizeof header + sizeof info;
    header.bfSize = header.bfOffBits + info.biSizeImage;
    std::string file(reinterpret_cast<const char*>(&header), sizeof header);
    file.append(reinterpret_cast<const char*>(&info), sizeof info);
    file.resize(header.bfSize, '\0');
    for (int y = 0; y < height; y++) {
        char* row = &file[header.bfOffBits + (height - 1 - y) * stride];
        for (int x = 0; x < width; x++) {
            DWORD pixel = screen.Pixels[static_cast<size_t>(y) * width + x];
            row[x * 3] = static_cast<char>(pixel);
            row[x * 3 + 1] = static_cast<char>(pixel >> 8);
            row[x * 3 + 2] = static_cast<char>(pixel >> 16);
        }
    }
    return fixture::WriteTextFile(bmpPath, file);
}

}  // namespace robot
