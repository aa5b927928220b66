// The dialog object's print, page-setup and font dialogs against Wine's real
// ones and a real printer: scripts/test runs a private print server whose
// default queue writes each job to a file, and names that file in
// VANDREL_PRINTER_OUTPUT. The tests of a machine without a printer run in
// processes that cannot reach that server (tests/CMakeLists.txt).
#include "comdlg/ClsComdlg.h"
#include "comdlg/ComdlgPlatform.h"
#include "integration/RealDialogs.h"
#include "support/ScopedSeam.h"
#include "support/TestSupport.h"

#include <windows.h>
#include <commdlg.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

namespace vandrel::test {
namespace {

bool HasDefaultPrinter() {
    DWORD length = 0;
    ::GetDefaultPrinterW(nullptr, &length);
    return length != 0;
}

// The file the print server's default queue writes each job to, replacing
// the last; empty when this run set up no printer.
std::wstring PrinterOutput() {
    const char* path = std::getenv("VANDREL_PRINTER_OUTPUT");
    return path && *path ? WindowsPath(path) : std::wstring();
}

constexpr char kNoPrinter[] = "Wine here has no printer, so the real dialog is never shown "
                              "(Wine only says that none is installed); the fake-platform "
                              "unit tests cover it";

// Whether the dialogs have a default printer. Where the run set one up, its
// absence is a failure, not a reason to skip.
bool PrinterReady() {
    if (HasDefaultPrinter()) return true;
    if (!PrinterOutput().empty())
        ADD_FAILURE() << "the run started a print server, but winspool sees no default printer";
    return false;
}

TEST_F(ComdlgReal, PrintCancelledChangesNothing) {
    if (!PrinterReady()) GTEST_SKIP() << kNoPrinter;
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
    if (!PrinterReady()) GTEST_SKIP() << kNoPrinter;
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
    ComdlgPlatform platform = ComdlgSeam().real();
    if (!PrinterReady()) platform.CreatePrinterDC = ScreenAsPrinter;
    ClsComdlg dialog;
    dialog.FontName(L"kept");
    DialogWatcher watcher(Cancel);
    {
        const test::ScopedSeam<ComdlgPlatform> inUse(ComdlgSeam(), platform);
        EXPECT_EQ(dialog.ShowFont(), kFalse);
        watcher.Stop();
    }
    EXPECT_NE(watcher.dialog(), nullptr) << "no font dialog: error " << ExtendedError();
    EXPECT_EQ(dialog.FontName(), L"kept");
}

// What the stand-in for the platform's DeleteDC did with each device context
// the object released: one page printed through it, under the next title.
struct PrintedThrough {
    std::string title;
    int job = 0;
    bool pagePrinted = false;
    bool documentEnded = false;
};
std::string g_nextTitle;
std::vector<PrintedThrough> g_printed;

BOOL WINAPI PrintAPageThenDelete(HDC dc) {
    PrintedThrough printed{g_nextTitle};
    DOCINFOA document{};
    document.cbSize = sizeof document;
    document.lpszDocName = printed.title.c_str();
    printed.job = ::StartDocA(dc, &document);
    if (printed.job > 0) {
        printed.pagePrinted = ::StartPage(dc) > 0 &&
                              ::TextOutA(dc, 200, 200, printed.title.c_str(),
                                         static_cast<int>(printed.title.size())) &&
                              ::EndPage(dc) > 0;
        printed.documentEnded = ::EndDoc(dc) > 0;
    }
    g_printed.push_back(printed);
    return ::DeleteDC(dc);
}

// The queue's output once it holds the whole one-page job of that title (the
// server writes it a little after the spooler has handed it over), or what
// it held when the deadline passed.
std::string AwaitJob(const std::wstring& output, const std::string& title) {
    std::string bytes;
    for (const DWORD start = ::GetTickCount(); ::GetTickCount() - start < 30000; ::Sleep(100)) {
        try {
            bytes = ReadBytes(output);
        } catch (const std::exception&) {
            continue; // not written yet
        }
        const size_t named = bytes.find("%%Title: " + title);
        const size_t end = bytes.rfind("%%EOF");
        if (named != std::string::npos && end != std::string::npos && end > named) break;
    }
    return bytes;
}

// Both device contexts the object holds are the printer's: the one a
// confirmed print dialog returns (PD_RETURNDC) and the default printer's
// that it gives the font dialog. A page printed through each before its
// release comes out of the queue.
TEST_F(ComdlgReal, EveryPrinterContextItReleasesPrintsAPage) {
    if (!PrinterReady()) GTEST_SKIP() << kNoPrinter;
    const std::wstring output = PrinterOutput();
    if (output.empty()) GTEST_SKIP() << "no print server of this run's to read the output of";
    ComdlgPlatform platform = ComdlgSeam().real();
    platform.DeleteDC = PrintAPageThenDelete;
    const test::ScopedSeam<ComdlgPlatform> inUse(ComdlgSeam(), platform);
    g_printed.clear();
    const std::string stamp =
        std::to_string(::GetCurrentProcessId()) + "." + std::to_string(::GetTickCount());
    ClsComdlg dialog;
    dialog.flags(PD_RETURNDC);
    dialog.Copies(1);

    const struct {
        const char* dialog;
        DialogWatcher::Answer answer;
        Flag (ClsComdlg::*show)();
        Flag shown;
    } cases[] = {{"print", Confirm, &ClsComdlg::ShowPrint, kTrue},
                 {"font", Cancel, &ClsComdlg::ShowFont, kFalse}};
    for (const auto& c : cases) {
        g_nextTitle = "Vandrel " + std::string(c.dialog) + " dialog context " + stamp;
        const size_t before = g_printed.size();
        DialogWatcher watcher(c.answer);
        EXPECT_EQ((dialog.*c.show)(), c.shown) << c.dialog;
        watcher.Stop();
        EXPECT_FALSE(watcher.timedOut()) << c.dialog;
        ASSERT_EQ(g_printed.size(), before + 1)
            << "no context released after the " << c.dialog << " dialog";
        const PrintedThrough& printed = g_printed.back();
        EXPECT_GT(printed.job, 0) << c.dialog << ": StartDoc refused the context";
        EXPECT_TRUE(printed.pagePrinted) << c.dialog;
        EXPECT_TRUE(printed.documentEnded) << c.dialog;
        if (!printed.documentEnded) continue; // no job to wait for
        const std::string job = AwaitJob(output, printed.title);
        EXPECT_NE(job.find("%%Title: " + printed.title), std::string::npos)
            << c.dialog << ": the queue's output holds another job:\n"
            << job.substr(0, 400);
        EXPECT_NE(job.find("%%Pages: 1"), std::string::npos) << c.dialog;
    }
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
} // namespace vandrel::test
