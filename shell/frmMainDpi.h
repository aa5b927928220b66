// What the main window needs to know about the screen it is on.
#pragma once

#include "common/Owned.h"

#include <windows.h>

namespace vandrel {

// The DPI the window is drawn at: its monitor's on systems with per-monitor
// DPI, else the system's.
UINT WindowDpi(HWND window);

// The platform's default interface font (the message font) at `dpi`.
OwnedFont MessageFont(UINT dpi);

// The outer size of a window with this style whose client area is `client`.
SIZE FrameSize(SIZE client, DWORD style, DWORD exStyle, UINT dpi);

} // namespace vandrel
