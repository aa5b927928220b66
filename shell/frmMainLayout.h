// The main window's layout as data: one table in twips, turned into pixels
// for the screen's actual DPI in one place.
#pragma once

#include <windows.h>

#include <array>
#include <vector>

namespace vandrel {

enum class ControlKind { Label, TextBox, Button };

// Child-window ids. 1 and 2 stay unused: the dialog keys send IDOK for Enter
// and IDCANCEL for Escape, and neither may reach a button.
enum ControlId : int {
    kIdLabel1 = 100,
    kIdTxtFileName,
    kIdCmdReg,
    kIdCmdUnReg,
    kIdCmdBrowse,
    kIdCmdClose,
};

struct ControlLayout {
    ControlKind kind;
    int id;
    const wchar_t* name;
    const wchar_t* text;
    int left, top, width, height; // twips, from the client area's top-left corner
    int tabIndex;
};

inline constexpr int kClientWidthTwips = 4725;
inline constexpr int kClientHeightTwips = 1110;
inline constexpr int kTwipsPerInch = 1440;

extern const std::array<ControlLayout, 6> kMainControls;

// Rounded to the nearest pixel: 15 twips a pixel at 96 DPI.
constexpr int TwipsToPixels(int twips, UINT dpi) {
    return static_cast<int>((static_cast<long long>(twips) * dpi + kTwipsPerInch / 2) /
                            kTwipsPerInch);
}

// Converts edges rather than sizes, so that edges that meet or line up in
// twips still do so in pixels at any DPI.
RECT PixelRect(const ControlLayout& control, UINT dpi);
SIZE ClientSize(UINT dpi);

// The controls in order of their tab indexes: the order they are created in,
// which is the order Tab visits them (the label takes no focus).
std::vector<const ControlLayout*> CreationOrder();

} // namespace vandrel
