// The dialog object against Wine's real common dialogs, in this process: a
// watcher thread finds the modal dialog that blocks the test thread, reads
// it and answers it, and cancels anything still open after a deadline.
#include "comdlg/ClsComdlg.h"
#include "comdlg/ComdlgPlatform.h"
#include "support/TestSupport.h"

#include <windows.h>
#include <cderr.h>
#include <commctrl.h>
#include <commdlg.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

namespace vandrel {
namespace {

std::wstring ClassName(HWND window) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return name;
}

std::wstring Text(HWND window) {
    wchar_t text[256] = {};
    ::GetWindowTextW(window, text, 256);
    return text;
}

BOOL CALLBACK CollectDialog(HWND window, LPARAM list) {
    if (::IsWindowVisible(window) && ClassName(window) == L"#32770")
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

// The visible dialog windows of one thread.
std::vector<HWND> DialogsOf(DWORD thread) {
    std::vector<HWND> found;
    ::EnumThreadWindows(thread, CollectDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

// Runs beside one show call: hands the first dialog of the calling thread to
// `answer`, and after `deadline` cancels whatever is still open, so a test
// that goes wrong ends instead of hanging.
class DialogWatcher {
public:
    using Answer = std::function<void(HWND)>;
    explicit DialogWatcher(Answer answer, DWORD deadline = 15000)
        : answer_(std::move(answer)), ui_(::GetCurrentThreadId()), deadline_(deadline),
          thread_([this] { Watch(); }) {}
    DialogWatcher(const DialogWatcher&) = delete;
    DialogWatcher& operator=(const DialogWatcher&) = delete;
    ~DialogWatcher() { Stop(); }

    // Called once the show call has returned.
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    HWND dialog() const { return dialog_; }
    HWND owner() const { return owner_; }
    const std::wstring& title() const { return title_; }
    bool timedOut() const { return timedOut_; }

private:
    void Watch() {
        const DWORD start = ::GetTickCount();
        while (!stop_) {
            const auto open = DialogsOf(ui_);
            if (!dialog_ && !open.empty()) {
                dialog_ = open.front();
                owner_ = ::GetWindow(dialog_, GW_OWNER);
                title_ = Text(dialog_);
                if (answer_) answer_(dialog_);
            } else if (!open.empty() && ::GetTickCount() - start > deadline_) {
                timedOut_ = true;
                for (HWND window : open) {
                    ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
                    ::PostMessageW(window, WM_CLOSE, 0, 0);
                }
            }
            ::Sleep(50);
        }
    }

    Answer answer_;
    DWORD ui_;
    DWORD deadline_;
    std::atomic<bool> stop_{false};
    HWND dialog_ = nullptr;
    HWND owner_ = nullptr;
    std::wstring title_;
    bool timedOut_ = false;
    std::thread thread_;
};

void Cancel(HWND dialog) {
    ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
}

// Why the last dialog call of this thread failed, as the platform says it:
// a record of the wrong size would be refused with CDERR_STRUCTSIZE.
DWORD ExtendedError() {
    using ErrorFunction = DWORD(WINAPI*)();
    const auto error = reinterpret_cast<ErrorFunction>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(::GetModuleHandleW(L"comdlg32.dll"), "CommDlgExtendedError")));
    return error ? error() : ~0u;
}

bool HasDefaultPrinter() {
    DWORD length = 0;
    ::GetDefaultPrinterW(nullptr, &length);
    return length != 0;
}

constexpr char kNoPrinter[] = "Wine here has no printer, so the real dialog is never shown "
                              "(Wine only says that none is installed); the fake-platform "
                              "unit tests cover it";

// A visible window of the test's own that is in the foreground, so the
// owner of each dialog can be checked.
class ComdlgReal : public ::testing::Test {
protected:
    void SetUp() override {
        owner_ = ::CreateWindowExW(0, L"STATIC", L"Vandrel dialog owner",
                                   WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 200, nullptr,
                                   nullptr, nullptr, nullptr);
        ASSERT_NE(owner_, nullptr);
        ::SetForegroundWindow(owner_);
        ASSERT_EQ(::GetForegroundWindow(), owner_);
    }
    void TearDown() override {
        if (owner_) ::DestroyWindow(owner_);
        EXPECT_TRUE(DialogsOf(::GetCurrentThreadId()).empty()) << "a dialog was left open";
    }
    // A second window whose handle goes into hWnd, to show it is not used.
    HWND Decoy() {
        decoy_ = ::CreateWindowExW(0, L"STATIC", L"decoy", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10,
                                   nullptr, nullptr, nullptr, nullptr);
        return decoy_;
    }
    HWND owner_ = nullptr;
    HWND decoy_ = nullptr;
};

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

TEST_F(ComdlgReal, PrintCancelledChangesNothing) {
    if (!HasDefaultPrinter()) GTEST_SKIP() << kNoPrinter;
    ClsComdlg dialog;
    dialog.FromPage(1);
    dialog.ToPage(2);
    dialog.MinPage(1);
    dialog.MaxPage(5);
    dialog.Copies(1);
    DialogWatcher watcher(Cancel);
    EXPECT_EQ(dialog.ShowPrint(), kFalse);
    watcher.Stop();
    EXPECT_NE(watcher.dialog(), nullptr);
    EXPECT_EQ(dialog.ToPage(), 2);
    EXPECT_EQ(dialog.MaxPage(), 5);
}

TEST_F(ComdlgReal, PageSetupCancelledChangesNothing) {
    if (!HasDefaultPrinter()) GTEST_SKIP() << kNoPrinter;
    ClsComdlg dialog;
    dialog.PaperWidth(1);
    DialogWatcher watcher(Cancel);
    EXPECT_EQ(dialog.ShowPageSetup(), kFalse);
    watcher.Stop();
    EXPECT_NE(watcher.dialog(), nullptr);
    EXPECT_EQ(dialog.PaperWidth(), 1);
}

HDC ScreenAsPrinter() {
    return ::CreateCompatibleDC(nullptr);
}

// The real font dialog opens only for a record and font block of the size it
// expects; without a printer, the screen stands in for the printer's fonts.
TEST_F(ComdlgReal, FontCancelledChangesNothing) {
    ComdlgPlatform platform = RealComdlgPlatform();
    if (!HasDefaultPrinter()) platform.CreatePrinterDC = ScreenAsPrinter;
    SetComdlgPlatform(&platform);
    ClsComdlg dialog;
    dialog.FontName(L"kept");
    DialogWatcher watcher(Cancel);
    EXPECT_EQ(dialog.ShowFont(), kFalse);
    watcher.Stop();
    SetComdlgPlatform(nullptr);
    EXPECT_NE(watcher.dialog(), nullptr) << "no font dialog: error " << ExtendedError();
    EXPECT_EQ(dialog.FontName(), L"kept");
}

// Wine tells the user that no printer is installed; once that is dismissed,
// the dialog has failed like a cancelled one.
TEST_F(ComdlgReal, PrintDialogsWithoutAPrinterReturnFalse) {
    if (HasDefaultPrinter()) GTEST_SKIP() << "a default printer is set up here";
    ClsComdlg dialog;
    dialog.Copies(2);
    dialog.MaxPage(9);
    dialog.PaperWidth(1);
    for (bool pageSetup : {false, true}) {
        DialogWatcher watcher(Cancel);
        EXPECT_EQ(pageSetup ? dialog.ShowPageSetup() : dialog.ShowPrint(), kFalse);
        watcher.Stop();
        EXPECT_FALSE(watcher.timedOut());
        // Refused for want of a printer, which it says, not for the record's
        // size, which it would refuse in silence.
        EXPECT_NE(watcher.dialog(), nullptr) << "no word of the missing printer: " << pageSetup;
    }
    EXPECT_EQ(dialog.Copies(), 2);
    EXPECT_EQ(dialog.MaxPage(), 9);
    EXPECT_EQ(dialog.PaperWidth(), 1);
}

TEST_F(ComdlgReal, FontWithoutAPrinterRaisesBeforeAnyDialog) {
    if (HasDefaultPrinter()) GTEST_SKIP() << "a default printer is set up here";
    ClsComdlg dialog;
    dialog.FontName(L"kept");
    DialogWatcher watcher(Cancel, 2000);
    EXPECT_THROW(dialog.ShowFont(), NoPrinterError);
    watcher.Stop();
    EXPECT_EQ(watcher.dialog(), nullptr);
    EXPECT_EQ(dialog.FontName(), L"kept");
}

} // namespace
} // namespace vandrel
