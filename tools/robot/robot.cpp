#include "robot.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace robot {

namespace {

const DWORD PollIntervalMs = 50;
// How long a message to another thread may take before that thread counts
// as hung. SMTO_ABORTIFHUNG is no use: Wine calls hung a thread that has not
// asked for messages for five seconds.
const UINT ReplyTimeoutMs = 5000;
const int MessageBoxTextId = 65535;
const int MessageBoxIconId = 1088;

bool SendBounded(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result) {
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, ReplyTimeoutMs,
                               result ? result : &ignored) != 0;
}

std::string ClassOf(HWND window) {
    char name[64];
    int length = GetClassNameA(window, name, sizeof name);
    return std::string(name, length > 0 ? length : 0);
}

bool IsPushButton(HWND control) {
    LONG kind = GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK;
    return lstrcmpiA(ClassOf(control).c_str(), "Button") == 0 && (kind == BS_PUSHBUTTON || kind == BS_DEFPUSHBUTTON);
}

struct WindowSearch {
    const std::vector<DWORD>* ProcessIds;
    bool WithProgress;
    HWND Found;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM parameter) {
    WindowSearch* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (!IsWindowVisible(window) ||
        std::find(search->ProcessIds->begin(), search->ProcessIds->end(), owner) == search->ProcessIds->end())
        return TRUE;
    if (!search->WithProgress && ButtonIds(window).empty())
        return TRUE;
    search->Found = window;
    return FALSE;
}

// 32-bit pixels as 0xRRGGBB, top row first.
struct Picture {
    int Width = 0;
    int Height = 0;
    std::vector<DWORD> Pixels;
};

// Lets `draw` paint on a 32-bit top-down picture of that size and takes it.
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

bool RenderIcon(HICON icon, int width, int height, COLORREF background, Picture* picture) {
    return Paint(width, height, [&](HDC dc) {
        RECT all = {0, 0, width, height};
        HBRUSH brush = CreateSolidBrush(background);
        FillRect(dc, &all, brush);
        DeleteObject(brush);
        return DrawIconEx(dc, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL) != 0;
    }, picture);
}

bool CloseColours(DWORD a, DWORD b) {
    for (int shift = 0; shift < 24; shift += 8) {
        if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > 24)
            return false;
    }
    return true;
}

// Whether `shown` is `icon` drawn on some background: the pixels the icon
// covers (the same drawn on black and on white) must match. Icon handles
// differ between processes under Wine, so only the screen can tell.
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
        matching += CloseColours(shown.Pixels[i], onBlack.Pixels[i]);
    }
    return opaque * 4 >= shown.Pixels.size() && matching * 100 >= opaque * 97;
}

UINT IconKindOnScreen(HWND iconControl) {
    static const struct {
        LPCSTR Resource;
        UINT Kind;
    } standardIcons[] = {{IDI_ERROR, MB_ICONERROR},
                         {IDI_QUESTION, MB_ICONQUESTION},
                         {IDI_WARNING, MB_ICONWARNING},
                         {IDI_INFORMATION, MB_ICONINFORMATION}};
    RECT client;
    if (!GetClientRect(iconControl, &client) || client.right <= 0 || client.bottom <= 0)
        return 0;
    POINT origin = {0, 0};
    ClientToScreen(iconControl, &origin);
    Picture shown;
    if (!CaptureScreen(origin.x, origin.y, client.right, client.bottom, &shown))
        return 0;
    for (const auto& standard : standardIcons) {
        if (ShowsIcon(shown, LoadIconA(nullptr, standard.Resource)))
            return standard.Kind;
    }
    return 0;
}

}  // namespace

HWND FindWindowOf(const std::vector<DWORD>& processIds, bool withProgress) {
    WindowSearch search = {&processIds, withProgress, nullptr};
    EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

std::string WindowTitle(HWND window) {
    wchar_t wide[512];
    int length = InternalGetWindowText(window, wide, sizeof wide / sizeof wide[0]);
    char narrow[1024];
    int bytes = length > 0 ? WideCharToMultiByte(CP_ACP, 0, wide, length, narrow, sizeof narrow, nullptr, nullptr) : 0;
    return std::string(narrow, bytes > 0 ? bytes : 0);
}

bool IsMessageBox(HWND window) {
    return GetDlgItem(window, MessageBoxTextId) != nullptr;
}

std::string MessageBoxText(HWND box) {
    return IsMessageBox(box) ? ControlText(box, MessageBoxTextId) : std::string();
}

std::string ControlText(HWND window, int id) {
    HWND control = GetDlgItem(window, id);
    if (!control)
        return std::string();
    if (lstrcmpiA(ClassOf(control).c_str(), "Edit") != 0) {
        std::string text(4096, '\0');
        text.resize(GetWindowTextA(control, &text[0], static_cast<int>(text.size())));
        return text;
    }
    DWORD_PTR length = 0;
    if (!SendBounded(control, WM_GETTEXTLENGTH, 0, 0, &length))
        return std::string();
    std::string text(length + 1, '\0');
    DWORD_PTR copied = 0;
    if (!SendBounded(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]), &copied))
        return std::string();
    text.resize(std::min<size_t>(copied, length));
    return text;
}

bool SetEditText(HWND window, int id, const char* text) {
    HWND edit = GetDlgItem(window, id);
    DWORD_PTR result = 0;
    return edit && SendBounded(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text), &result) && result;
}

std::vector<int> ButtonIds(HWND window) {
    std::vector<int> ids;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (IsWindowVisible(child) && IsPushButton(child))
            ids.push_back(GetDlgCtrlID(child));
    }
    return ids;
}

int DefaultButton(HWND window) {
    for (int id : ButtonIds(window)) {
        if ((GetWindowLongA(GetDlgItem(window, id), GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            return id;
    }
    return 0;
}

UINT MessageBoxIconKind(HWND box, DWORD timeoutMs) {
    HWND icon = GetDlgItem(box, MessageBoxIconId);
    if (!icon || !IsWindowVisible(icon))
        return 0;
    // A box wider than the screen is centred off its left edge, icon and
    // all: it is moved into view first.
    RECT frame;
    if (GetWindowRect(box, &frame) && (frame.left < 0 || frame.top < 0))
        SetWindowPos(box, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    for (DWORD start = GetTickCount();; Sleep(PollIntervalMs)) {
        UINT kind = IconKindOnScreen(icon);
        if (kind || GetTickCount() - start >= timeoutMs)
            return kind;
    }
}

// BM_CLICK goes out without waiting; the WM_NULL behind it is handled only
// after the click, either when the handler has returned or from the modal
// loop the handler entered. Waiting on BM_CLICK itself would block until
// such a nested box is closed.
bool PressButton(HWND window, int id) {
    HWND button = GetDlgItem(window, id);
    if (!button || !IsWindowEnabled(button) || !SendNotifyMessageA(button, BM_CLICK, 0, 0))
        return false;
    return SendBounded(button, WM_NULL, 0, 0, nullptr) || !IsWindow(button);
}

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

bool WaitGone(HWND window, DWORD timeoutMs) {
    for (DWORD start = GetTickCount(); IsWindow(window) && IsWindowVisible(window); Sleep(PollIntervalMs / 5)) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
    }
    return true;
}

bool SaveScreenshot(const char* bmpPath) {
    int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    Picture screen;
    if (width <= 0 || height <= 0 ||
        !CaptureScreen(GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN), width, height, &screen))
        return false;
    // 24-bit rows, bottom row first, each padded to four bytes.
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
    std::ofstream out(bmpPath, std::ios::binary);
    return static_cast<bool>(out.write(file.data(), static_cast<std::streamsize>(file.size())));
}

}  // namespace robot
