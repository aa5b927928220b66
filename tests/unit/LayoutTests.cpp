// The main window's layout table in pixels at several DPIs, and its tab
// order.
#include "shell/frmMainLayout.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace vandrel {
namespace {

const ControlLayout& Find(const wchar_t* name) {
    for (const ControlLayout& control : kMainControls)
        if (std::wstring(control.name) == name) return control;
    throw std::logic_error("no such control");
}

struct Expected {
    const wchar_t* name;
    RECT rect;
};

void ExpectRects(UINT dpi, const std::vector<Expected>& expected, SIZE client) {
    for (const Expected& e : expected) {
        const RECT r = PixelRect(Find(e.name), dpi);
        EXPECT_EQ(r.left, e.rect.left) << e.name << " at " << dpi;
        EXPECT_EQ(r.top, e.rect.top) << e.name << " at " << dpi;
        EXPECT_EQ(r.right, e.rect.right) << e.name << " at " << dpi;
        EXPECT_EQ(r.bottom, e.rect.bottom) << e.name << " at " << dpi;
    }
    EXPECT_EQ(ClientSize(dpi).cx, client.cx) << dpi;
    EXPECT_EQ(ClientSize(dpi).cy, client.cy) << dpi;
}

TEST(Layout, At96DpiFifteenTwipsMakeOnePixel) {
    // Label at (6, 12) 25 x 13, path box at (39, 9) 259 x 19, buttons 55 x 22
    // at y = 42 and x = 72, 129, 186, 243; client area 315 x 74.
    ExpectRects(96,
                {{L"Label1", {6, 12, 31, 25}},
                 {L"txtFileName", {39, 9, 298, 28}},
                 {L"CmdReg", {72, 42, 127, 64}},
                 {L"CmdUnReg", {129, 42, 184, 64}},
                 {L"CmdBrowse", {186, 42, 241, 64}},
                 {L"CmdClose", {243, 42, 298, 64}}},
                {315, 74});
}

TEST(Layout, At120And144DpiTheWindowScalesAsAWhole) {
    ExpectRects(120,
                {{L"Label1", {8, 15, 39, 31}},
                 {L"txtFileName", {49, 11, 373, 35}},
                 {L"CmdReg", {90, 53, 159, 80}},
                 {L"CmdUnReg", {161, 53, 230, 80}},
                 {L"CmdBrowse", {233, 53, 301, 80}},
                 {L"CmdClose", {304, 53, 373, 80}}},
                {394, 93});
    ExpectRects(144,
                {{L"Label1", {9, 18, 47, 38}},
                 {L"txtFileName", {59, 14, 447, 42}},
                 {L"CmdReg", {108, 63, 191, 96}},
                 {L"CmdUnReg", {194, 63, 276, 96}},
                 {L"CmdBrowse", {279, 63, 362, 96}},
                 {L"CmdClose", {365, 63, 447, 96}}},
                {473, 111});
}

TEST(Layout, EdgesThatLineUpInTwipsLineUpAtEveryDpi) {
    for (UINT dpi = 96; dpi <= 288; dpi += 12) {
        const RECT box = PixelRect(Find(L"txtFileName"), dpi);
        const RECT close = PixelRect(Find(L"CmdClose"), dpi);
        EXPECT_EQ(box.right, close.right) << dpi;
        const SIZE client = ClientSize(dpi);
        LONG previousRight = 0;
        for (const wchar_t* name : {L"CmdReg", L"CmdUnReg", L"CmdBrowse", L"CmdClose"}) {
            const RECT button = PixelRect(Find(name), dpi);
            EXPECT_EQ(button.top, close.top) << name << " at " << dpi;
            EXPECT_NEAR(button.right - button.left, close.right - close.left, 1) << name;
            EXPECT_GT(button.left, previousRight) << name << " overlaps at " << dpi;
            previousRight = button.right;
        }
        EXPECT_LT(box.right, client.cx) << dpi;
        EXPECT_LT(close.bottom, client.cy) << dpi;
    }
}

TEST(Layout, TabIndexesGiveTheCreationOrder) {
    std::vector<std::wstring> names;
    for (const ControlLayout* control : CreationOrder())
        names.push_back(control->name);
    // Tab visits the path box, 注册, 关闭, 浏览, 注销; the label takes no focus.
    EXPECT_EQ(names, (std::vector<std::wstring>{L"txtFileName", L"Label1", L"CmdReg", L"CmdClose",
                                                L"CmdBrowse", L"CmdUnReg"}));
}

TEST(Layout, IdsStayClearOfTheDialogKeys) {
    for (const ControlLayout& control : kMainControls) {
        EXPECT_NE(control.id, IDOK) << control.name;
        EXPECT_NE(control.id, IDCANCEL) << control.name;
    }
}

} // namespace
} // namespace vandrel
