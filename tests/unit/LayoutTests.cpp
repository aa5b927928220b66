// The main window's layout table in pixels at several DPIs, its tab order,
// and the window's click handlers in this process with the command seam.
#include "shell/ModMain.h"
#include "shell/frmMain.h"
#include "shell/frmMainDpi.h"
#include "shell/Texts.h"
#include "shell/frmMainLayout.h"
#include "support/ScopedSeam.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
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

// The window in this process, with the commands' platform calls replaced.
struct Calls {
    std::vector<std::wstring> registered, unregistered, messages;
    std::vector<HWND> owners;
    bool fail = false;
    bool refused = false;
};
Calls g_calls;

RegistrarResult FakeRegister(const std::wstring& path, const std::wstring&, Scope) {
    if (g_calls.fail) throw std::runtime_error("registrar broke");
    g_calls.registered.push_back(path);
    return g_calls.refused ? RegistrarResult(kFalse, Failure::NoRights) : RegistrarResult(kTrue);
}
RegistrarResult FakeUnregister(const std::wstring& path, Scope) {
    g_calls.unregistered.push_back(path);
    return kFalse;
}
int FakeShow(HWND owner, const std::wstring& text, const std::wstring&, UINT) {
    g_calls.owners.push_back(owner);
    g_calls.messages.push_back(text);
    return IDOK;
}
TOKEN_ELEVATION_TYPE FakeLimitedToken() {
    return TokenElevationTypeLimited;
}
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
// No reason line: the window's commands never write one.
const CommandServices kFakes = {.RegisterLibrary = FakeRegister,
                                .UnregisterLibrary = FakeUnregister,
                                .ShowMessage = FakeShow,
                                .ElevationType = FakeLimitedToken,
                                .ShellExecuteExW = FakeElevatedStart};

BOOL CALLBACK FindMainWindow(HWND window, LPARAM found) {
    wchar_t name[64];
    // Visible once it is complete, controls and all.
    if (!::GetClassNameW(window, name, 64) || std::wstring(name) != ui::kMainTitle ||
        !::IsWindowVisible(window))
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

class MainWindowHandlers : public ::testing::Test {
protected:
    void SetUp() override { g_calls = Calls(); }
    void TearDown() override {
        if (driver_.joinable()) driver_.join();
        EXPECT_TRUE(found_) << "the window did not become visible within 5 s";
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
    test::ScopedSeam<CommandServices> services_{CommandSeam(), kFakes};
};

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
    EXPECT_EQ(g_calls.registered, std::vector<std::wstring>{path});
    EXPECT_EQ(g_calls.unregistered, std::vector<std::wstring>{path});
    EXPECT_EQ(g_calls.messages, (std::vector<std::wstring>{ResultMessage(false, path, true),
                                                           ResultMessage(true, path, false)}));
    EXPECT_EQ(g_calls.owners, (std::vector<HWND>{s_window, s_window}));
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
    g_calls.fail = true;
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
    EXPECT_TRUE(g_calls.messages.empty());
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
    g_calls.refused = true;
    g_childStarted = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    static CommandServices services;
    services = kFakes;
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
    EXPECT_EQ(g_calls.registered, std::vector<std::wstring>{L"a.tlb"});
    EXPECT_TRUE(g_calls.unregistered.empty()) << "a click reached a button";
    EXPECT_EQ(g_calls.messages, std::vector<std::wstring>{ResultMessage(false, L"a.tlb", true)});
}

} // namespace
} // namespace vandrel
