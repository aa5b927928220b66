// What the main window needs to know about the screen it is on.
#pragma once

#include "common/Owned.h"
#include "common/Seam.h"

#include <windows.h>

namespace vandrel {

// The per-DPI calls of the platform; any of them is null on systems older
// than Windows 10, and the window then falls back on the system DPI.
struct DpiPlatform {
    UINT(WINAPI* GetDpiForWindow)(HWND window) = nullptr;
    BOOL(WINAPI* SystemParametersInfoForDpi)
    (UINT action, UINT size, PVOID data, UINT change, UINT dpi) = nullptr;
    BOOL(WINAPI* AdjustWindowRectExForDpi)
    (LPRECT rect, DWORD style, BOOL menu, DWORD exStyle, UINT dpi) = nullptr;
};
Seam<DpiPlatform>& DpiSeam();

// The DPI the window is drawn at: its monitor's on systems with per-monitor
// DPI, else the system's.
UINT WindowDpi(HWND window);

// The platform's default interface font (the message font) at `dpi`.
OwnedFont MessageFont(UINT dpi);

// The outer size of a window with this style whose client area is `client`.
SIZE FrameSize(SIZE client, DWORD style, DWORD exStyle, UINT dpi);

} // namespace vandrel
