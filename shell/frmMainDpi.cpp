#include "shell/frmMainDpi.h"

#include "common/SystemLibrary.h"

namespace vandrel {
namespace {

// The per-DPI calls arrived with Windows 10; importing them would stop the
// program from starting on older systems, so they are looked up. user32 is
// loaded anyway, so the look-up costs nothing at start.
template <typename Function> Function User32(const char* name) {
    return SystemEntry<Function>(L"user32.dll", name);
}

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using SystemParametersInfoForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

UINT SystemDpi() {
    const HDC screen = ::GetDC(nullptr);
    if (!screen) return USER_DEFAULT_SCREEN_DPI;
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

} // namespace

UINT WindowDpi(HWND window) {
    static const auto getDpiForWindow = User32<GetDpiForWindowFn>("GetDpiForWindow");
    if (getDpiForWindow) {
        const UINT dpi = getDpiForWindow(window);
        if (dpi != 0) return dpi;
    }
    return SystemDpi();
}

OwnedFont MessageFont(UINT dpi) {
    static const auto forDpi = User32<SystemParametersInfoForDpiFn>("SystemParametersInfoForDpi");
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (forDpi) {
        if (!forDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) return OwnedFont();
    } else {
        // Older systems answer for the system DPI only.
        if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
            return OwnedFont();
        LONG& height = metrics.lfMessageFont.lfHeight;
        height = ::MulDiv(height, static_cast<int>(dpi), static_cast<int>(SystemDpi()));
    }
    return OwnedFont(::CreateFontIndirectW(&metrics.lfMessageFont));
}

SIZE FrameSize(SIZE client, DWORD style, DWORD exStyle, UINT dpi) {
    static const auto forDpi = User32<AdjustWindowRectExForDpiFn>("AdjustWindowRectExForDpi");
    RECT frame = {0, 0, client.cx, client.cy};
    if (!forDpi || !forDpi(&frame, style, FALSE, exStyle, dpi))
        ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    return {frame.right - frame.left, frame.bottom - frame.top};
}

} // namespace vandrel
