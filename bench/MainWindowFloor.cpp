// The floor for the window: Vandrel's main window built bare. The same class,
// frame, title, six controls (classes, styles, texts, rectangles, message
// font), icon and manifest, centred in the work area, with a plain message
// loop, the focus in the path box; no dialog keys, drops, commands or error
// handling.
#include "res/Resource.h"
#include "shell/frmMainLayout.h"

#include <windows.h>

namespace {

// The classes and styles of Vandrel's three kinds of control.
struct Kind {
    const wchar_t* windowClass;
    DWORD style, exStyle;
};
Kind KindOf(vandrel::ControlKind kind) {
    constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
    switch (kind) {
    case vandrel::ControlKind::TextBox:
        return {L"Edit", kChild | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
    case vandrel::ControlKind::Label:
        return {L"Static", kChild | SS_LEFT | SS_NOPREFIX, 0};
    default:
        return {L"Button", kChild | WS_TABSTOP | BS_PUSHBUTTON, 0};
    }
}
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kExStyle = WS_EX_ACCEPTFILES;

void Build(HWND window) {
    const UINT dpi = ::GetDpiForWindow(window);
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ::SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi);
    const HFONT font = ::CreateFontIndirectW(&metrics.lfMessageFont);
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    // Vandrel's own layout table, in its creation (tab) order.
    for (const vandrel::ControlLayout* c : vandrel::CreationOrder()) {
        const Kind kind = KindOf(c->kind);
        const RECT r = vandrel::PixelRect(*c, dpi);
        const HWND child = ::CreateWindowExW(
            kind.exStyle, kind.windowClass, c->text, kind.style, r.left, r.top, r.right - r.left,
            r.bottom - r.top, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c->id)),
            instance, nullptr);
        ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    const SIZE client = vandrel::ClientSize(dpi);
    RECT frame{0, 0, client.cx, client.cy};
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
        ::SetFocus(::GetDlgItem(window, vandrel::kIdTxtFileName));
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
