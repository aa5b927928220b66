// The main window's handlers in this process, with the commands'
// surroundings behind the recording fakes: clicks, a DPI change, an error
// in a handler, and the wait for an elevated copy.
#include "shell/ModMain.h"
#include "shell/Texts.h"
#include "shell/frmMain.h"
#include "shell/frmMainDpi.h"
#include "shell/frmMainLayout.h"
#include "support/CommandFake.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace vandrel {
namespace {

// The elevated copy: a real process, held suspended until the driver lets
// it end.
PROCESS_INFORMATION g_child{};
HANDLE g_childStarted = nullptr;
BOOL WINAPI FakeElevatedStart(SHELLEXECUTEINFOW* info) {
    wchar_t system[MAX_PATH];
    ::GetSystemDirectoryW(system, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(system) + L"\\cmd.exe\" /c exit 0";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE,
                          CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                          &g_child))
        return FALSE;
    info->hProcess = g_child.hProcess; // the command closes it
    ::SetEvent(g_childStarted);
    return TRUE;
}
BOOL CALLBACK FindMainWindow(HWND window, LPARAM found) {
    wchar_t name[64];
    // Visible once it is complete, controls and all.
    if (!::GetClassNameW(window, name, 64) || std::wstring(name) != ui::kMainTitle ||
        !::IsWindowVisible(window))
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

class MainWindowHandlers : public test::CommandsTest {
protected:
    void TearDown() override {
        if (driver_.joinable()) driver_.join();
        EXPECT_TRUE(found_) << "the window did not become visible within 5 s";
        test::CommandsTest::TearDown();
    }
    // Runs `steps` on a second thread against the window of this thread.
    // Without a window the loop is ended, so the test fails instead of
    // waiting for ever.
    void Drive(void (*steps)(HWND window)) {
        const DWORD uiThread = ::GetCurrentThreadId();
        driver_ = std::thread([this, uiThread, steps] {
            HWND window = nullptr;
            for (int i = 0; i < 500 && !window; ++i) {
                ::EnumThreadWindows(uiThread, FindMainWindow, reinterpret_cast<LPARAM>(&window));
                if (!window) ::Sleep(10);
            }
            found_ = window != nullptr;
            if (window)
                steps(window);
            else
                ::PostThreadMessageW(uiThread, WM_QUIT, 1, 0);
        });
    }
    std::thread driver_;
    std::atomic<bool> found_{false};
};

std::vector<std::wstring> Messages(const test::Recorder& rec) {
    std::vector<std::wstring> texts;
    for (const auto& shown : rec.shown)
        texts.push_back(shown.text);
    return texts;
}

void SetPath(HWND window, const wchar_t* text) {
    ::SendMessageW(::GetDlgItem(window, kIdTxtFileName), WM_SETTEXT, 0,
                   reinterpret_cast<LPARAM>(text));
}
void ClickButton(HWND window, int id) {
    ::SendMessageW(::GetDlgItem(window, id), BM_CLICK, 0, 0);
}

TEST_F(MainWindowHandlers, ButtonsHandTheWholeBoxTextToTheCommandsOwnedByTheWindow) {
    static HWND s_window;
    static std::vector<std::wstring> s_fonts;
    Drive([](HWND window) {
        s_window = window;
        for (const ControlLayout& control : kMainControls) {
            LOGFONTW font{};
            const auto handle = reinterpret_cast<HFONT>(
                ::SendMessageW(::GetDlgItem(window, control.id), WM_GETFONT, 0, 0));
            ::GetObjectW(handle, sizeof font, &font);
            s_fonts.push_back(std::wstring(font.lfFaceName) + L" " +
                              std::to_wstring(font.lfHeight));
        }
        ClickButton(window, kIdCmdReg); // empty box: nothing at all
        ClickButton(window, kIdCmdUnReg);
        SetPath(window, L" \"C:\\a b\\x.tlb\" /u ");
        ClickButton(window, kIdCmdReg);
        ClickButton(window, kIdCmdUnReg);
        ::PostMessageW(window, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(RunMainWindow(), 0);
    const std::wstring path = L" \"C:\\a b\\x.tlb\" /u ";
    EXPECT_EQ(rec.registered, std::vector<std::wstring>{path});
    EXPECT_EQ(rec.unregistered, std::vector<std::wstring>{path});
    EXPECT_EQ(Messages(rec), (std::vector<std::wstring>{ResultMessage(false, path, true),
                                                        ResultMessage(true, path, true)}));
    ASSERT_EQ(rec.shown.size(), 2u);
    EXPECT_EQ(rec.shown[0].owner, s_window);
    EXPECT_EQ(rec.shown[1].owner, s_window);
    EXPECT_FALSE(::IsWindow(s_window));
    // Every control has the platform's interface font (at the system DPI,
    // which is the window's here).
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ASSERT_TRUE(::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0));
    const std::wstring expected = std::wstring(metrics.lfMessageFont.lfFaceName) + L" " +
                                  std::to_wstring(metrics.lfMessageFont.lfHeight);
    EXPECT_EQ(s_fonts, std::vector<std::wstring>(kMainControls.size(), expected));
}

// What the window looks like after the platform told it of a new DPI.
struct AfterDpiChange {
    std::vector<RECT> rects;
    std::vector<LONG> fontHeights;
    RECT window;
    SIZE client;
};
AfterDpiChange g_after;
constexpr UINT kNewDpi = 144;
constexpr RECT kSuggested = {40, 30, 600, 200};

TEST_F(MainWindowHandlers, ANewDpiLaysTheWindowOutAnewWithOrWithoutThePerDpiCalls) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ASSERT_TRUE(::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0));
    const HDC screen = ::GetDC(nullptr);
    const int systemDpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    const DpiPlatform none;
    for (const DpiPlatform* platform : {&DpiSeam().real(), &none}) {
        const bool fallback = platform == &none;
        const test::ScopedSeam<DpiPlatform> dpi(DpiSeam(), *platform);
        g_after = AfterDpiChange();
        Drive([](HWND window) {
            ::SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(kNewDpi, kNewDpi),
                           reinterpret_cast<LPARAM>(&kSuggested));
            for (const ControlLayout& control : kMainControls) {
                const HWND child = ::GetDlgItem(window, control.id);
                RECT rect{};
                ::GetWindowRect(child, &rect);
                ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
                g_after.rects.push_back(rect);
                LOGFONTW font{};
                ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(child, WM_GETFONT, 0, 0)),
                             sizeof font, &font);
                g_after.fontHeights.push_back(font.lfHeight);
            }
            ::GetWindowRect(window, &g_after.window);
            RECT client{};
            ::GetClientRect(window, &client);
            g_after.client = {client.right, client.bottom};
            ::PostMessageW(window, WM_CLOSE, 0, 0);
        });
        EXPECT_EQ(RunMainWindow(), 0);
        driver_.join();
        ASSERT_EQ(g_after.rects.size(), kMainControls.size());
        for (size_t i = 0; i < kMainControls.size(); ++i) {
            const RECT expected = PixelRect(kMainControls[i], kNewDpi);
            EXPECT_TRUE(::EqualRect(&g_after.rects[i], &expected))
                << kMainControls[i].name << (fallback ? ", fallback" : "");
        }
        // The frame is sized for the new DPI as the platform measures it. (A
        // real DPI change also redraws the frame at that DPI; this one leaves
        // it at the system's, so only the fallback's client area is exact.)
        const SIZE client = ClientSize(kNewDpi);
        RECT frame = {0, 0, client.cx, client.cy};
        const DWORD style = static_cast<DWORD>(WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU);
        if (fallback || !platform->AdjustWindowRectExForDpi ||
            !platform->AdjustWindowRectExForDpi(&frame, style, FALSE, WS_EX_ACCEPTFILES, kNewDpi))
            ::AdjustWindowRectEx(&frame, style, FALSE, WS_EX_ACCEPTFILES);
        EXPECT_EQ(g_after.window.right - g_after.window.left, frame.right - frame.left) << fallback;
        EXPECT_EQ(g_after.window.bottom - g_after.window.top, frame.bottom - frame.top) << fallback;
        if (fallback) {
            EXPECT_EQ(g_after.client.cx, client.cx);
            EXPECT_EQ(g_after.client.cy, client.cy);
        }
        EXPECT_EQ(g_after.window.left, kSuggested.left) << fallback;
        EXPECT_EQ(g_after.window.top, kSuggested.top) << fallback;
        // Without the per-DPI calls, the system's font scaled to the new DPI.
        LONG expectedHeight = ::MulDiv(metrics.lfMessageFont.lfHeight, kNewDpi, systemDpi);
        NONCLIENTMETRICSW forDpi = metrics;
        if (!fallback && platform->SystemParametersInfoForDpi &&
            platform->SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof forDpi, &forDpi, 0,
                                                 kNewDpi))
            expectedHeight = forDpi.lfMessageFont.lfHeight;
        EXPECT_EQ(g_after.fontHeights, std::vector<LONG>(kMainControls.size(), expectedHeight))
            << fallback;
    }
}

TEST_F(MainWindowHandlers, AnErrorInAClickHandlerEndsTheWindowAndLeavesRunMainWindow) {
    static HWND s_window;
    rec.registrarBreaks = true;
    Drive([](HWND window) {
        s_window = window;
        SetPath(window, L"a.tlb");
        ClickButton(window, kIdCmdReg);
        // Should the error be swallowed, the test ends instead of hanging.
        for (int i = 0; i < 200 && ::IsWindow(window); ++i)
            ::Sleep(10);
        ::PostMessageW(window, WM_CLOSE, 0, 0);
    });
    try {
        RunMainWindow();
        ADD_FAILURE() << "the error was swallowed";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "registrar broke");
    }
    EXPECT_FALSE(::IsWindow(s_window));
    EXPECT_TRUE(rec.shown.empty());
    // Nothing of the failed window lingers in the queue: a later message
    // loop, such as the error report's message box, runs normally.
    MSG message;
    EXPECT_FALSE(::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
}

// While the elevated copy runs, the window goes on painting but takes no
// input: keys for the path box and clicks on a button are dropped.
TEST_F(MainWindowHandlers, WhileTheElevatedCopyRunsTheWindowPaintsButTakesNoInput) {
    static bool s_started, s_disabled, s_painted, s_enabledAgain;
    static std::wstring s_text;
    // Refused for lack of rights with a limited token: the command runs
    // again elevated, in a real process the platform is waited on for.
    rec.answer = kFalse;
    rec.failure = Failure::NoRights;
    rec.token = TokenElevationTypeLimited;
    g_childStarted = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    static CommandServices services;
    services = test::kFakes;
    services.ShellExecuteExW = FakeElevatedStart;
    services.WaitForProcess = CommandSeam().real().WaitForProcess;
    const test::ScopedSeam<CommandServices> waiting(CommandSeam(), services);
    Drive([](HWND window) {
        SetPath(window, L"a.tlb");
        // Posted: the click does not return before the elevated copy ends.
        ::PostMessageW(::GetDlgItem(window, kIdCmdReg), BM_CLICK, 0, 0);
        s_started = ::WaitForSingleObject(g_childStarted, 10000) == WAIT_OBJECT_0;
        if (s_started) {
            // Started, and then disabled for the wait.
            for (int i = 0; i < 1000 && !s_disabled; ++i) {
                s_disabled = !::IsWindowEnabled(window);
                if (!s_disabled) ::Sleep(10);
            }
            const HWND box = ::GetDlgItem(window, kIdTxtFileName);
            const HWND unreg = ::GetDlgItem(window, kIdCmdUnReg);
            ::PostMessageW(box, WM_KEYDOWN, 'X', 1);
            ::PostMessageW(box, WM_CHAR, L'x', 1);
            ::PostMessageW(box, WM_KEYUP, 'X', 0xC0000001);
            ::PostMessageW(unreg, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
            ::PostMessageW(unreg, WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
            // A window is painted only once no posted message is left: when it
            // is, the input above has been through the wait's loop.
            ::InvalidateRect(window, nullptr, TRUE);
            for (int i = 0; i < 1000 && !s_painted; ++i) {
                s_painted = !::GetUpdateRect(window, nullptr, FALSE);
                if (!s_painted) ::Sleep(10);
            }
            wchar_t text[64] = {};
            ::SendMessageTimeoutW(box, WM_GETTEXT, 64, reinterpret_cast<LPARAM>(text), SMTO_NORMAL,
                                  5000, nullptr);
            s_text = text;
            ::ResumeThread(g_child.hThread);
            // The window is enabled again once the wait is over.
            for (int i = 0; i < 1000 && !s_enabledAgain; ++i) {
                s_enabledAgain = ::IsWindowEnabled(window);
                if (!s_enabledAgain) ::Sleep(10);
            }
        }
        ::PostMessageW(window, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(RunMainWindow(), 0);
    ::CloseHandle(g_child.hThread);
    ::CloseHandle(g_childStarted);
    ASSERT_TRUE(s_started) << "no elevated copy was started";
    EXPECT_TRUE(s_disabled) << "the window stayed enabled during the wait";
    EXPECT_TRUE(s_painted) << "the window did not paint during the wait";
    EXPECT_EQ(s_text, L"a.tlb") << "a key reached the path box";
    EXPECT_TRUE(s_enabledAgain);
    EXPECT_EQ(rec.registered, std::vector<std::wstring>{L"a.tlb"});
    EXPECT_TRUE(rec.unregistered.empty()) << "a click reached a button";
    EXPECT_EQ(Messages(rec), std::vector<std::wstring>{ResultMessage(false, L"a.tlb", true)});
}

} // namespace
} // namespace vandrel
