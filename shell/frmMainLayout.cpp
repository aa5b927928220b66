#include "shell/frmMainLayout.h"

#include "shell/Texts.h"

#include <algorithm>

namespace vandrel {

const std::array<ControlLayout, 6> kMainControls = {{
    {ControlKind::Label, kIdLabel1, L"Label1", ui::kOpen, 90, 180, 375, 195, 1},
    {ControlKind::TextBox, kIdTxtFileName, L"txtFileName", L"", 585, 135, 3885, 285, 0},
    {ControlKind::Button, kIdCmdReg, L"CmdReg", ui::kRegister, 1080, 630, 825, 330, 2},
    {ControlKind::Button, kIdCmdUnReg, L"CmdUnReg", ui::kUnregister, 1935, 630, 825, 330, 5},
    {ControlKind::Button, kIdCmdBrowse, L"CmdBrowse", ui::kBrowse, 2790, 630, 825, 330, 4},
    {ControlKind::Button, kIdCmdClose, L"CmdClose", ui::kClose, 3645, 630, 825, 330, 3},
}};

RECT PixelRect(const ControlLayout& control, UINT dpi) {
    return {TwipsToPixels(control.left, dpi), TwipsToPixels(control.top, dpi),
            TwipsToPixels(control.left + control.width, dpi),
            TwipsToPixels(control.top + control.height, dpi)};
}

SIZE ClientSize(UINT dpi) {
    return {TwipsToPixels(kClientWidthTwips, dpi), TwipsToPixels(kClientHeightTwips, dpi)};
}

std::vector<const ControlLayout*> CreationOrder() {
    std::vector<const ControlLayout*> order;
    for (const ControlLayout& control : kMainControls)
        order.push_back(&control);
    std::stable_sort(
        order.begin(), order.end(),
        [](const ControlLayout* a, const ControlLayout* b) { return a->tabIndex < b->tabIndex; });
    return order;
}

} // namespace vandrel
