// The dialog object against Wine's real file, colour and replace dialogs
// (the printer's dialogs are in ComdlgPrinterTests.cpp).
#include "comdlg/ClsComdlg.h"
#include "integration/RealDialogs.h"
#include "support/TestSupport.h"

#include <windows.h>
#include <cderr.h>
#include <commctrl.h>
#include <commdlg.h>

#include <gtest/gtest.h>

namespace vandrel::test {
namespace {

TEST_F(ComdlgReal, CommonDialogLibraryLoadsOnlyWhenADialogIsAskedFor) {
    if (::GetModuleHandleW(L"comdlg32.dll"))
        GTEST_SKIP() << "comdlg32 was already loaded by something else in this process";
    ClsComdlg dialog;
    dialog.Filter(L"A|*.a");
    dialog.ShowFind();
    EXPECT_EQ(::GetModuleHandleW(L"comdlg32.dll"), nullptr);
    dialog.ShowReplace();
    EXPECT_NE(::GetModuleHandleW(L"comdlg32.dll"), nullptr);
}

TEST_F(ComdlgReal, ReplaceIsRefusedForWantOfBuffersAndOpensNothing) {
    for (std::int32_t instance : {0, -1, 0x400000}) {
        ClsComdlg dialog;
        dialog.Instance(instance);
        EXPECT_EQ(dialog.ShowReplace(), kFalse) << instance;
        // The dialog is modeless: one that opened would be there already.
        EXPECT_TRUE(DialogsOf(::GetCurrentThreadId()).empty()) << instance;
        EXPECT_EQ(dialog.Instance(), instance);
        // The platform names the reason: no find-what buffer.
        EXPECT_EQ(ExtendedError(), static_cast<DWORD>(FRERR_BUFFERLENGTHZERO));
    }
}

TEST_F(ComdlgReal, FileDialogsCancelledChangeNothing) {
    for (bool save : {false, true}) {
        ClsComdlg dialog;
        dialog.DialogTitle(L"请选择一个文件");
        dialog.Filter(L"TypeLib文件(*.tlb)|*.tlb|所有文件(*.*)|*.*");
        dialog.FileName(L"C:\\kept.tlb");
        dialog.FileTitle(L"kept.tlb");
        dialog.hWnd(static_cast<std::int32_t>(reinterpret_cast<INT_PTR>(Decoy())));
        DialogWatcher watcher(Cancel);
        EXPECT_EQ(save ? dialog.ShowSave() : dialog.ShowOpen(), kFalse);
        watcher.Stop();
        EXPECT_NE(watcher.dialog(), nullptr) << "no dialog opened";
        EXPECT_FALSE(watcher.timedOut());
        EXPECT_EQ(watcher.title(), L"请选择一个文件");
        EXPECT_EQ(watcher.owner(), owner_) << "owned by the foreground window, not hWnd";
        EXPECT_EQ(dialog.FileName(), L"C:\\kept.tlb");
        EXPECT_EQ(dialog.FileTitle(), L"kept.tlb");
    }
}

TEST_F(ComdlgReal, OpenConfirmedGivesTheChosenPathInChinese) {
    test::TempFolder folder;
    const std::wstring name = L"类型 库.tlb";
    const std::wstring path = folder.Write(name, "x");
    ClsComdlg dialog;
    dialog.InitDir(folder.path());
    dialog.flags(OFN_EXPLORER | OFN_PATHMUSTEXIST);
    DialogWatcher watcher([&](HWND window) {
        HWND box = ::GetDlgItem(window, 0x47C);
        HWND edit = reinterpret_cast<HWND>(::SendMessageW(box, CBEM_GETEDITCONTROL, 0, 0));
        if (!edit) edit = box;
        ::SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
        ::PostMessageW(window, WM_COMMAND, IDOK, 0);
    });
    EXPECT_EQ(dialog.ShowOpen(), kTrue);
    watcher.Stop();
    EXPECT_FALSE(watcher.timedOut());
    EXPECT_EQ(dialog.FileName(), path);
    EXPECT_EQ(dialog.FileTitle(), name);
}

TEST_F(ComdlgReal, ColorConfirmedGivesTheChosenColour) {
    ClsComdlg dialog;
    dialog.Color(0x00FFFFFF);
    DialogWatcher watcher([](HWND window) {
        // The red, green and blue boxes of the colour dialog.
        const struct {
            int id;
            const wchar_t* value;
        } boxes[] = {{706, L"18"}, {707, L"52"}, {708, L"86"}};
        for (const auto& box : boxes)
            ::SendMessageW(::GetDlgItem(window, box.id), WM_SETTEXT, 0,
                           reinterpret_cast<LPARAM>(box.value));
        ::PostMessageW(window, WM_COMMAND, IDOK, 0);
    });
    EXPECT_EQ(dialog.ShowColor(), kTrue);
    watcher.Stop();
    EXPECT_FALSE(watcher.timedOut());
    EXPECT_EQ(watcher.owner(), owner_);
    EXPECT_EQ(dialog.Color(), 0x00563412);
}

TEST_F(ComdlgReal, ColorCancelledChangesNothing) {
    ClsComdlg dialog;
    dialog.Color(0x00123456);
    DialogWatcher watcher(Cancel);
    EXPECT_EQ(dialog.ShowColor(), kFalse);
    watcher.Stop();
    EXPECT_NE(watcher.dialog(), nullptr);
    EXPECT_FALSE(watcher.timedOut());
    EXPECT_EQ(dialog.Color(), 0x00123456);
}

} // namespace
} // namespace vandrel::test
