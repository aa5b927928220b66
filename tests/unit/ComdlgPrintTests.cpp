// The print and page-setup dialogs against a fake platform: the records,
// the 16-bit page fields, and the device blocks the dialogs hand back.
#include "ComdlgFake.h"
#include "comdlg/ClsComdlg.h"

#include <gtest/gtest.h>

namespace vandrel::test {
namespace {

using ComdlgPrint = ComdlgFakeTest;

struct PrintValues {
    std::int32_t fromPage, toPage, minPage, maxPage, copies;
};

void Configure(ClsComdlg& dialog, const PrintValues& v) {
    dialog.FromPage(v.fromPage);
    dialog.ToPage(v.toPage);
    dialog.MinPage(v.minPage);
    dialog.MaxPage(v.maxPage);
    dialog.Copies(v.copies);
}

void ExpectValues(const ClsComdlg& dialog, const PrintValues& v) {
    EXPECT_EQ(dialog.FromPage(), v.fromPage);
    EXPECT_EQ(dialog.ToPage(), v.toPage);
    EXPECT_EQ(dialog.MinPage(), v.minPage);
    EXPECT_EQ(dialog.MaxPage(), v.maxPage);
    EXPECT_EQ(dialog.Copies(), v.copies);
}

TEST_F(ComdlgPrint, NewObjectFillsThePrintRecord) {
    ClsComdlg dialog;
    world.confirm = FALSE;
    EXPECT_EQ(dialog.ShowPrint(), kFalse);
    const PRINTDLGA& r = world.print;
    EXPECT_EQ(r.lStructSize, k64 ? 120u : 66u);
    EXPECT_EQ(r.hwndOwner, world.foreground);
    EXPECT_EQ(r.hDevMode, nullptr);
    EXPECT_EQ(r.hDevNames, nullptr);
    EXPECT_EQ(r.hDC, nullptr);
    EXPECT_EQ(r.Flags, 0u);
    EXPECT_EQ(r.nFromPage, 0);
    EXPECT_EQ(r.nToPage, 0);
    EXPECT_EQ(r.nMinPage, 0);
    EXPECT_EQ(r.nMaxPage, 0);
    EXPECT_EQ(r.nCopies, 0);
    EXPECT_EQ(r.hInstance, nullptr);
    EXPECT_EQ(r.lCustData, 0);
    EXPECT_EQ(r.lpfnPrintHook, nullptr);
    EXPECT_EQ(r.lpfnSetupHook, nullptr);
    EXPECT_EQ(r.lpPrintTemplateName, nullptr);
    EXPECT_EQ(r.lpSetupTemplateName, nullptr);
    EXPECT_EQ(r.hPrintTemplate, nullptr);
    EXPECT_EQ(r.hSetupTemplate, nullptr);
    EXPECT_TRUE(world.Before(Call::Foreground, Call::Print));
}

TEST_F(ComdlgPrint, ConfiguredValuesGoInNarrowed) {
    ClsComdlg dialog;
    dialog.flags(0x12345);
    dialog.Instance(0x400000);
    dialog.hWnd(99);
    Configure(dialog, {1, -5, -32768, 32767, 3});
    world.confirm = FALSE;
    dialog.ShowPrint();
    const PRINTDLGA& r = world.print;
    EXPECT_EQ(r.Flags, 0x12345u);
    EXPECT_EQ(r.hInstance, reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(0x400000)));
    EXPECT_EQ(r.hwndOwner, world.foreground);
    EXPECT_EQ(r.nFromPage, 1);
    EXPECT_EQ(r.nToPage, 0xFFFB);
    EXPECT_EQ(r.nMinPage, 0x8000);
    EXPECT_EQ(r.nMaxPage, 0x7FFF);
    EXPECT_EQ(r.nCopies, 3);
}

TEST_F(ComdlgPrint, ValuesOutsideSixteenBitsRaiseBeforeAnyDialog) {
    const PrintValues start{1, 2, 3, 4, 5};
    std::int32_t PrintValues::*const fields[] = {&PrintValues::fromPage, &PrintValues::toPage,
                                                 &PrintValues::minPage, &PrintValues::maxPage,
                                                 &PrintValues::copies};
    for (std::int32_t bad : {40000, -40000, 32768, -32769}) {
        for (int field = 0; field < 5; ++field) {
            PrintValues values = start;
            values.*fields[field] = bad;
            ClsComdlg dialog;
            Configure(dialog, values);
            world.callCount = 0;
            EXPECT_THROW(dialog.ShowPrint(), ComdlgOverflowError) << bad << " in field " << field;
            EXPECT_EQ(world.Count(Call::Print), 0u);
            ExpectValues(dialog, values);
        }
    }
    // The error names the property, for the error box that shows it.
    ClsComdlg dialog;
    dialog.Copies(40000);
    try {
        dialog.ShowPrint();
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Copies 的值超出 16 位");
    }
}

TEST_F(ComdlgPrint, ConfirmedDialogWritesTheFiveValuesBackSigned) {
    ClsComdlg dialog;
    dialog.flags(0x100);
    Configure(dialog, {1, 2, 1, 9, 1});
    world.onPrint = [this](PRINTDLGA& r) {
        r.nFromPage = 2;
        r.nToPage = 65535;
        r.nCopies = 32768;
        r.Flags = PD_PAGENUMS | PD_SELECTION;
        r.hDevMode = world.NewBlock();
        r.hDevNames = world.NewBlock();
        r.hDC = world.NewDC();
    };
    EXPECT_EQ(dialog.ShowPrint(), kTrue);
    ExpectValues(dialog, {2, -1, 1, 9, -32768});
    EXPECT_EQ(dialog.flags(), 0x100) << "the dialog's flags are not copied back";
    // The fixture checks that the blocks and the context were freed.
    EXPECT_EQ(world.Count(Call::DeleteDC), 1u);
}

TEST_F(ComdlgPrint, CancelChangesNothingAndStillFreesWhatCameBack) {
    ClsComdlg dialog;
    Configure(dialog, {3, 4, 1, 10, 2});
    world.confirm = FALSE;
    world.onPrint = [this](PRINTDLGA& r) {
        r.nCopies = 7;
        r.hDevMode = world.NewBlock();
        r.hDevNames = world.NewBlock();
    };
    EXPECT_EQ(dialog.ShowPrint(), kFalse);
    ExpectValues(dialog, {3, 4, 1, 10, 2});
    EXPECT_EQ(world.Count(Call::Free), 2u);
}

TEST_F(ComdlgPrint, NewObjectFillsThePageSetupRecord) {
    ClsComdlg dialog;
    dialog.flags(-1); // no part in this dialog
    dialog.PaperWidth(1000);
    dialog.MarginLeft(5);
    dialog.Instance(7);
    world.confirm = FALSE;
    EXPECT_EQ(dialog.ShowPageSetup(), kFalse);
    const PAGESETUPDLGA& r = world.pageSetup;
    EXPECT_EQ(r.lStructSize, k64 ? 128u : 84u);
    EXPECT_EQ(r.hwndOwner, world.foreground);
    EXPECT_EQ(r.hDevMode, nullptr);
    EXPECT_EQ(r.hDevNames, nullptr);
    EXPECT_EQ(r.Flags, 0u);
    EXPECT_EQ(r.ptPaperSize.x, 0);
    EXPECT_EQ(r.ptPaperSize.y, 0);
    EXPECT_EQ(r.rtMinMargin.left | r.rtMinMargin.top | r.rtMinMargin.right | r.rtMinMargin.bottom,
              0);
    EXPECT_EQ(r.rtMargin.left | r.rtMargin.top | r.rtMargin.right | r.rtMargin.bottom, 0);
    EXPECT_EQ(r.hInstance, reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(7)));
    EXPECT_EQ(r.lCustData, 0);
    EXPECT_EQ(r.lpfnPageSetupHook, nullptr);
    EXPECT_EQ(r.lpfnPagePaintHook, nullptr);
    EXPECT_EQ(r.lpPageSetupTemplateName, nullptr);
    EXPECT_EQ(r.hPageSetupTemplate, nullptr);
    EXPECT_EQ(dialog.PaperWidth(), 1000);
    EXPECT_EQ(dialog.MarginLeft(), 5);
}

TEST_F(ComdlgPrint, PageSetupWritesSixValuesOnlyWhenConfirmed) {
    ClsComdlg dialog;
    dialog.PaperWidth(1);
    dialog.PaperHeight(2);
    dialog.MarginLeft(3);
    dialog.MarginTop(4);
    dialog.MarginRight(5);
    dialog.MarginBottom(6);
    world.onPageSetup = [this](PAGESETUPDLGA& r) {
        r.ptPaperSize = {21000, 29700};
        r.rtMargin = {2500, 2000, 1500, -1};
        r.rtMinMargin = {9, 9, 9, 9};
        r.hDevMode = world.NewBlock();
        r.hDevNames = world.NewBlock();
    };
    world.confirm = FALSE;
    EXPECT_EQ(dialog.ShowPageSetup(), kFalse);
    EXPECT_EQ(dialog.PaperWidth(), 1);
    EXPECT_EQ(dialog.PaperHeight(), 2);
    EXPECT_EQ(dialog.MarginLeft(), 3);
    EXPECT_EQ(dialog.MarginTop(), 4);
    EXPECT_EQ(dialog.MarginRight(), 5);
    EXPECT_EQ(dialog.MarginBottom(), 6);

    world.confirm = TRUE;
    EXPECT_EQ(dialog.ShowPageSetup(), kTrue);
    EXPECT_EQ(dialog.PaperWidth(), 21000);
    EXPECT_EQ(dialog.PaperHeight(), 29700);
    EXPECT_EQ(dialog.MarginLeft(), 2500);
    EXPECT_EQ(dialog.MarginTop(), 2000);
    EXPECT_EQ(dialog.MarginRight(), 1500);
    EXPECT_EQ(dialog.MarginBottom(), -1);
    EXPECT_EQ(world.Count(Call::Free), 4u);
}

} // namespace
} // namespace vandrel::test
