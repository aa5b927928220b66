// The floor for the window: Vandrel's main window built bare. The same class,
// frame, title, six controls (classes, styles, texts, rectangles, message
// font), icon and manifest, centred in the work area, with a plain message
// loop, the focus in the path box; no dialog keys, drops, commands or error
// handling.
#include "res/Resource.h"

#include <windows.h>

namespace {

struct Control {
    const wchar_t* windowClass;
    DWORD style, exStyle;
    int id;
    const wchar_t* text;
    int left, top, width, height; // twips
};

// In Vandrel's creation (tab) order.
constexpr DWORD kButton = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
const Control kControls[] = {
    {L"Edit", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, 101,
     L"", 585, 135, 3885, 285},
    {L"Static", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, 100, L"打开", 90, 180, 375, 195},
    {L"Button", kButton, 0, 102, L"注册", 1080, 630, 825, 330},
    {L"Button", kButton, 0, 105, L"关闭", 3645, 630, 825, 330},
    {L"Button", kButton, 0, 104, L"浏览", 2790, 630, 825, 330},
    {L"Button", kButton, 0, 103, L"注销", 1935, 630, 825, 330},
};
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kExStyle = WS_EX_ACCEPTFILES;

int Pixels(int twips, UINT dpi) {
    return ::MulDiv(twips, static_cast<int>(dpi), 1440);
}

void Build(HWND window) {
    const UINT dpi = ::GetDpiForWindow(window);
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ::SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi);
    const HFONT font = ::CreateFontIndirectW(&metrics.lfMessageFont);
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    for (const Control& c : kControls) {
        const int left = Pixels(c.left, dpi), top = Pixels(c.top, dpi);
        const HWND child = ::CreateWindowExW(
            c.exStyle, c.windowClass, c.text, c.style, left, top,
            Pixels(c.left + c.width, dpi) - left, Pixels(c.top + c.height, dpi) - top, window,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance, nullptr);
        ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    RECT frame{0, 0, Pixels(4725, dpi), Pixels(1110, dpi)};
    ::AdjustWindowRectExForDpi(&frame, kStyle, FALSE, kExStyle, dpi);
    RECT area;
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    ::SetWindowPos(window, nullptr, area.left + (area.right - area.left - width) / 2,
                   area.top + (area.bottom - area.top - height) / 2, width, height,
                   SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        Build(window);
        return 0;
    case WM_SETFOCUS: // the path box has the focus, as in Vandrel
        ::SetFocus(::GetDlgItem(window, 101));
        return 0;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    const wchar_t title[] = L"TypeLib注册程序";
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(IDI_VANDREL));
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = title;
    if (!::RegisterClassExW(&windowClass)) return 1;
    const HWND window = ::CreateWindowExW(kExStyle, title, title, kStyle, CW_USEDEFAULT,
                                          CW_USEDEFAULT, 0, 0, nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    ::ShowWindow(window, SW_SHOWDEFAULT);
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return 0;
}
