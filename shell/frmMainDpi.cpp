#include "shell/frmMainDpi.h"

#include "common/SystemLibrary.h"

namespace vandrel {
namespace {

// The per-DPI calls arrived with Windows 10; importing them would stop the
// program from starting on older systems, so they are looked up. user32 is
// loaded anyway, so the look-up costs nothing at start.
DpiPlatform LookUp() {
    DpiPlatform platform;
    platform.GetDpiForWindow =
        SystemEntry<decltype(platform.GetDpiForWindow)>(L"user32.dll", "GetDpiForWindow");
    platform.SystemParametersInfoForDpi =
        SystemEntry<decltype(platform.SystemParametersInfoForDpi)>(L"user32.dll",
                                                                   "SystemParametersInfoForDpi");
    platform.AdjustWindowRectExForDpi = SystemEntry<decltype(platform.AdjustWindowRectExForDpi)>(
        L"user32.dll", "AdjustWindowRectExForDpi");
    return platform;
}

const DpiPlatform& Platform() {
    return *DpiSeam();
}

// The screen's device context, handed back when the owner goes.
struct ScreenTraits {
    static HDC invalid() { return nullptr; }
    static void close(HDC screen) { ::ReleaseDC(nullptr, screen); }
};

UINT SystemDpi() {
    const Owned<HDC, ScreenTraits> screen(::GetDC(nullptr));
    if (!screen) return USER_DEFAULT_SCREEN_DPI;
    const int dpi = ::GetDeviceCaps(screen.get(), LOGPIXELSY);
    return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

} // namespace

Seam<DpiPlatform>& DpiSeam() {
    static const DpiPlatform real = LookUp();
    static Seam<DpiPlatform> seam(real);
    return seam;
}

UINT WindowDpi(HWND window) {
    if (const auto getDpiForWindow = Platform().GetDpiForWindow) {
        const UINT dpi = getDpiForWindow(window);
        if (dpi != 0) return dpi;
    }
    return SystemDpi();
}

OwnedFont MessageFont(UINT dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (const auto forDpi = Platform().SystemParametersInfoForDpi) {
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
    const auto forDpi = Platform().AdjustWindowRectExForDpi;
    RECT frame = {0, 0, client.cx, client.cy};
    if (!forDpi || !forDpi(&frame, style, FALSE, exStyle, dpi))
        ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    return {frame.right - frame.left, frame.bottom - frame.top};
}

} // namespace vandrel
