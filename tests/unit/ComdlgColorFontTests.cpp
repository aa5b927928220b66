// The colour and font dialogs against a fake platform: the records, the
// fixed starting font, the outcome conversions and the font block and
// printer context, released on every way out.
#include "ComdlgFake.h"
#include "comdlg/ClsComdlg.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>

namespace vandrel::test {
namespace {

using ComdlgColor = ComdlgFakeTest;
using ComdlgFont = ComdlgFakeTest;

TEST_F(ComdlgColor, FillsTheRecordWithSixteenBlackCustomColours) {
    ClsComdlg dialog;
    dialog.Color(0x00FFFFFF); // never offered to the dialog
    dialog.Instance(-1);
    dialog.hWnd(5);
    dialog.flags(-1);
    world.confirm = FALSE;
    // The user defines custom colours in the first dialog...
    world.onColor = [](CHOOSECOLORA& r) {
        for (int i = 0; i < 16; ++i)
            r.lpCustColors[i] = 0x00ABCDEF;
    };
    EXPECT_EQ(dialog.ShowColor(), kFalse);
    const CHOOSECOLORA& r = world.color;
    EXPECT_EQ(r.lStructSize, k64 ? 72u : 36u);
    EXPECT_EQ(r.hwndOwner, world.foreground);
    EXPECT_EQ(r.hInstance, reinterpret_cast<HWND>(static_cast<INT_PTR>(-1)));
    EXPECT_EQ(r.rgbResult, 0u);
    EXPECT_NE(r.lpCustColors, nullptr);
    EXPECT_EQ(r.Flags, 0u);
    EXPECT_EQ(r.lCustData, 0);
    EXPECT_EQ(r.lpfnHook, nullptr);
    EXPECT_EQ(r.lpTemplateName, nullptr);
    for (COLORREF c : world.customColors)
        EXPECT_EQ(c, 0u);
    EXPECT_EQ(dialog.Color(), 0x00FFFFFF);

    // ...and the next one starts black again.
    world.customColors.fill(1);
    dialog.ShowColor();
    for (COLORREF c : world.customColors)
        EXPECT_EQ(c, 0u);
}

TEST_F(ComdlgColor, ConfirmedColourReplacesColor) {
    ClsComdlg dialog;
    dialog.Color(7);
    world.onColor = [](CHOOSECOLORA& r) { r.rgbResult = 0x00123456; };
    EXPECT_EQ(dialog.ShowColor(), kTrue);
    EXPECT_EQ(dialog.Color(), 0x00123456);
}

TEST_F(ComdlgFont, StartsFromTimesNewRomanInALockedBlock) {
    ClsComdlg dialog;
    dialog.FontName(L"Arial");
    dialog.FontSize(30);
    dialog.Italic(kTrue);
    dialog.FontBlob(kTrue);
    dialog.FontColor(0xFF);
    dialog.Instance(9);
    world.confirm = FALSE;
    EXPECT_EQ(dialog.ShowFont(), kFalse);

    EXPECT_EQ(world.allocFlags, 0x42u);
    EXPECT_EQ(world.allocBytes, 60u);
    const CHOOSEFONTA& r = world.font;
    EXPECT_EQ(r.lStructSize, k64 ? 104u : 60u);
    EXPECT_EQ(r.hwndOwner, world.foreground);
    EXPECT_EQ(reinterpret_cast<INT_PTR>(r.hDC), 0xDC01) << "the printer's context";
    EXPECT_EQ(static_cast<void*>(r.lpLogFont), world.lockedAddress);
    EXPECT_EQ(r.iPointSize, 120);
    EXPECT_EQ(r.Flags, 0x12143u);
    EXPECT_EQ(r.rgbColors, 0u);
    EXPECT_EQ(r.lCustData, 0);
    EXPECT_EQ(r.lpfnHook, nullptr);
    EXPECT_EQ(r.lpTemplateName, nullptr);
    EXPECT_EQ(r.hInstance, nullptr) << "Instance plays no part in the font dialog";
    EXPECT_EQ(r.lpszStyle, nullptr);
    EXPECT_EQ(r.nFontType, 0x400);
    EXPECT_EQ(r.nSizeMin, 1);
    EXPECT_EQ(r.nSizeMax, 72);

    const LOGFONTA& f = world.logFont;
    EXPECT_EQ(f.lfHeight | f.lfWidth | f.lfEscapement | f.lfOrientation, 0);
    EXPECT_EQ(f.lfWeight, 400);
    EXPECT_EQ(f.lfItalic | f.lfUnderline | f.lfStrikeOut, 0);
    EXPECT_EQ(f.lfCharSet, 1);
    EXPECT_EQ(f.lfOutPrecision | f.lfClipPrecision | f.lfQuality, 0);
    EXPECT_EQ(f.lfPitchAndFamily, 16);
    EXPECT_EQ(std::string(f.lfFaceName, sizeof f.lfFaceName),
              std::string("Times New Roman") + std::string(17, '\0'));

    // Properties untouched by a cancelled dialog.
    EXPECT_EQ(dialog.FontName(), L"Arial");
    EXPECT_EQ(dialog.FontSize(), 30);
    EXPECT_EQ(dialog.Italic(), kTrue);
    EXPECT_EQ(dialog.FontColor(), 0xFF);

    // Order: block, lock, owner, printer, dialog, then unlock before free.
    const Call expected[] = {Call::Alloc, Call::Lock,     Call::Foreground, Call::PrinterDC,
                             Call::Font,  Call::DeleteDC, Call::Unlock,     Call::Free};
    ASSERT_EQ(world.callCount, std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i)
        EXPECT_EQ(world.calls[i], expected[i]) << "call " << i;
}

struct FontAnswer {
    INT pointSize;
    BYTE italic, underline, strikeOut, charSet;
    LONG weight;
};

class ComdlgFontAnswer : public ComdlgFakeTest {
protected:
    ClsComdlg Confirm(const FontAnswer& a) {
        world.onFont = [a](CHOOSEFONTA& r, LOGFONTA& f) {
            r.iPointSize = a.pointSize;
            r.rgbColors = 0x000080FF;
            f.lfItalic = a.italic;
            f.lfUnderline = a.underline;
            f.lfStrikeOut = a.strikeOut;
            f.lfCharSet = a.charSet;
            f.lfWeight = a.weight;
        };
        ClsComdlg dialog;
        EXPECT_EQ(dialog.ShowFont(), kTrue);
        return dialog;
    }
};

TEST_F(ComdlgFontAnswer, SizeIsRoundedHalfToEven) {
    const std::pair<INT, std::int32_t> cases[] = {{120, 12}, {105, 10}, {115, 12}, {125, 12},
                                                  {95, 10},  {84, 8},   {86, 9},   {10, 1},
                                                  {720, 72}, {0, 0}};
    for (const auto& [tenths, points] : cases) {
        const ClsComdlg dialog = Confirm({tenths, 0, 0, 0, 0, 400});
        EXPECT_EQ(dialog.FontSize(), points) << tenths;
    }
}

TEST_F(ComdlgFontAnswer, StylesCountOnlyTheirExactValues) {
    ClsComdlg dialog = Confirm({120, 255, 1, 1, 134, 700});
    EXPECT_EQ(dialog.Italic(), kTrue);
    EXPECT_EQ(dialog.Underline(), kTrue);
    EXPECT_EQ(dialog.StrikeOut(), kTrue);
    EXPECT_EQ(dialog.FontBlob(), kTrue);
    EXPECT_EQ(dialog.CharSet(), 134);
    EXPECT_EQ(dialog.FontColor(), 0x000080FF);

    dialog = Confirm({120, 1, 255, 255, 255, 699});
    EXPECT_EQ(dialog.Italic(), kFalse);
    EXPECT_EQ(dialog.Underline(), kFalse);
    EXPECT_EQ(dialog.StrikeOut(), kFalse);
    EXPECT_EQ(dialog.FontBlob(), kFalse);
    EXPECT_EQ(dialog.CharSet(), 255) << "widened without sign";

    EXPECT_EQ(Confirm({120, 0, 0, 0, 0, 900}).FontBlob(), kTrue);
    EXPECT_EQ(Confirm({120, 0, 0, 0, 0, -700}).FontBlob(), kFalse);
}

TEST_F(ComdlgFont, FaceNameComesBackUpToItsFirstNul) {
    ClsComdlg dialog;
    world.onFont = [](CHOOSEFONTA&, LOGFONTA& f) {
        std::memset(f.lfFaceName, 0, sizeof f.lfFaceName);
        std::memset(f.lfFaceName, 'W', 31);
    };
    EXPECT_EQ(dialog.ShowFont(), kTrue);
    EXPECT_EQ(dialog.FontName(), std::wstring(31, L'W'));

    world.onFont = [](CHOOSEFONTA&, LOGFONTA& f) { std::memcpy(f.lfFaceName, "Arial\0Bold", 11); };
    dialog.ShowFont();
    EXPECT_EQ(dialog.FontName(), L"Arial");

    // A name without its NUL is read no further than the field.
    world.onFont = [](CHOOSEFONTA&, LOGFONTA& f) { std::memset(f.lfFaceName, 'X', 32); };
    dialog.ShowFont();
    EXPECT_EQ(dialog.FontName(), std::wstring(32, L'X'));

    if (::GetACP() == 936) {
        world.onFont = [](CHOOSEFONTA&, LOGFONTA& f) {
            std::memcpy(f.lfFaceName, "\xCB\xCE\xCC\xE5", 5); // 宋体
        };
        dialog.ShowFont();
        EXPECT_EQ(dialog.FontName(), L"宋体");
    }
}

TEST_F(ComdlgFont, NoPrinterRaisesAndReleasesTheBlock) {
    ClsComdlg dialog;
    dialog.FontName(L"kept");
    world.noPrinter = true;
    EXPECT_THROW(dialog.ShowFont(), NoPrinterError);
    EXPECT_EQ(world.Count(Call::Font), 0u);
    EXPECT_EQ(world.Count(Call::Free), 1u);
    EXPECT_EQ(dialog.FontName(), L"kept");
    // The fixture checks that nothing stayed locked or allocated.
}

TEST_F(ComdlgFont, BlockThatCannotBeHadFailsBeforeTheDialog) {
    ClsComdlg dialog;
    world.allocFails = true;
    EXPECT_THROW(dialog.ShowFont(), FontBlockError);
    EXPECT_EQ(world.Count(Call::Lock), 0u);
    EXPECT_EQ(world.Count(Call::Font), 0u);

    world.allocFails = false;
    world.lockFails = true;
    world.callCount = 0;
    EXPECT_THROW(dialog.ShowFont(), FontBlockError);
    EXPECT_EQ(world.Count(Call::Free), 1u);
    EXPECT_EQ(world.Count(Call::Unlock), 0u);
    EXPECT_EQ(world.Count(Call::PrinterDC), 0u);
    EXPECT_EQ(world.Count(Call::Font), 0u);
}

TEST_F(ComdlgFont, ConfirmedDialogReleasesEverythingToo) {
    ClsComdlg dialog;
    EXPECT_EQ(dialog.ShowFont(), kTrue);
    EXPECT_EQ(dialog.FontName(), L"Times New Roman");
    EXPECT_EQ(dialog.FontSize(), 12);
    EXPECT_EQ(dialog.CharSet(), 1);
    EXPECT_EQ(world.Count(Call::DeleteDC), 1u);
    EXPECT_EQ(world.Count(Call::Unlock), 1u);
    EXPECT_EQ(world.Count(Call::Free), 1u);
}

TEST_F(ComdlgFakeTest, ShowFindDoesNothing) {
    ClsComdlg dialog;
    dialog.Instance(3);
    EXPECT_EQ(dialog.ShowFind(), kFalse);
    EXPECT_EQ(world.callCount, 0u);
    EXPECT_EQ(dialog.Instance(), 3);
}

TEST_F(ComdlgFakeTest, ShowReplaceAsksWithoutBuffersAndIsRefused) {
    for (std::int32_t instance : {0, 1, -1, 0x7FFFFFFF, 0x400000}) {
        ClsComdlg dialog;
        dialog.Instance(instance);
        dialog.flags(-1);
        dialog.hWnd(12);
        EXPECT_EQ(dialog.ShowReplace(), kFalse) << instance;
        const FINDREPLACEA& r = world.replace;
        EXPECT_EQ(r.lStructSize, k64 ? 80u : 40u);
        EXPECT_EQ(r.hwndOwner, world.foreground);
        EXPECT_EQ(r.hInstance, reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(instance)));
        EXPECT_EQ(r.Flags, 0u);
        EXPECT_EQ(r.lpstrFindWhat, nullptr);
        EXPECT_EQ(r.lpstrReplaceWith, nullptr);
        EXPECT_EQ(r.wFindWhatLen, 255);
        EXPECT_EQ(r.wReplaceWithLen, 0);
        EXPECT_EQ(r.lCustData, 0);
        EXPECT_EQ(r.lpfnHook, nullptr);
        EXPECT_EQ(r.lpTemplateName, nullptr);
        EXPECT_EQ(dialog.Instance(), instance);
        EXPECT_EQ(dialog.flags(), -1);
    }
    EXPECT_EQ(world.Count(Call::Destroy), 0u);
}

TEST_F(ComdlgFakeTest, ReplaceWindowThatCameBackIsNotLeftOpen) {
    // The window would read a record that ends with the call.
    const HWND window = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x5150));
    world.replaceAnswer = window;
    ClsComdlg dialog;
    EXPECT_EQ(dialog.ShowReplace(), kTrue);
    EXPECT_EQ(world.destroyed, window);
}

} // namespace
} // namespace vandrel::test
