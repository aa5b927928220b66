// The real Vandrel.exe in window mode, driven as a user drives it: layout,
// keyboard, the buttons with their result messages, drops and closing.
#include "support/MainWindowTest.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace vandrel::test {
namespace {

using namespace text;

// Where screenshots for the documentation go, when asked for.
std::string ScreenshotFolder() {
    const char* folder = std::getenv("VANDREL_SCREENSHOTS");
    return folder ? folder : "";
}

// The control table in twips, as the window is meant to be laid out.
struct Twips {
    const wchar_t* windowClass;
    std::wstring text;
    int left, top, width, height;
};
const std::vector<Twips> kTable = {
    // In creation order, which is the tab-index order.
    {L"Edit", L"", 585, 135, 3885, 285},         {L"Static", kOpen, 90, 180, 375, 195},
    {L"Button", kRegister, 1080, 630, 825, 330}, {L"Button", kClose, 3645, 630, 825, 330},
    {L"Button", kBrowse, 2790, 630, 825, 330},   {L"Button", kUnregister, 1935, 630, 825, 330},
};

int Pixels(int twips, UINT dpi) {
    return static_cast<int>((twips * static_cast<long long>(dpi) + 720) / 1440);
}

class MainWindow : public MainWindowTest {
protected:
    // The control with the focus once it is `expected`, or after 3 s.
    HWND WaitForFocus(HWND expected) const {
        const ULONGLONG deadline = ::GetTickCount64() + 3000;
        while (FocusOf(window_) != expected && ::GetTickCount64() < deadline)
            ::Sleep(20);
        return FocusOf(window_);
    }
    // The documentation's picture of a result message.
    void WhileShown(const std::wstring& caption, HWND box, const std::wstring& text) override {
        const std::string shots = ScreenshotFolder();
        if (!shots.empty() && caption == kRegister && text.find(kSucceeded) != std::wstring::npos) {
            EXPECT_TRUE(SaveScreenshot({window_, box}, shots + "/message.png"));
        }
    }
    // Nothing that came before started a command: the window handles its
    // input and posted clicks in order, so when the file dialog that the
    // browse button (pressed last) opens is up, a result message of anything
    // earlier would be up too, holding the dialog back.
    void ExpectNothingBeforeTheFileDialog() {
        const HWND dialog = WaitForDialog(process_->id(), kDialogTitle);
        ASSERT_NE(dialog, nullptr) << "the browse button was not reached";
        EXPECT_EQ(WaitForMessageBox(process_->id(), 0), nullptr) << "a command was started";
        CancelDialog(dialog);
        EXPECT_TRUE(WaitUntilGone(dialog));
    }
};

TEST_F(MainWindow, IsLaidOutAsTheTableSaysAtTheScreensDpi) {
    const std::string shots = ScreenshotFolder();
    if (!shots.empty()) {
        EXPECT_TRUE(SaveScreenshot({window_}, shots + "/window.png"));
    }
    const LONG_PTR style = ::GetWindowLongPtrW(window_, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU), WS_CAPTION | WS_SYSMENU);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0)
        << "fixed, close box only";
    EXPECT_EQ(::GetMenu(window_), nullptr);
    EXPECT_TRUE(::GetWindowLongPtrW(window_, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);

    const UINT dpi = DpiOf(window_);
    ASSERT_GE(dpi, 96u);
    const SIZE client = ClientSizeOf(window_);
    EXPECT_EQ(client.cx, Pixels(4725, dpi));
    EXPECT_EQ(client.cy, Pixels(1110, dpi));
    if (dpi == 96) {
        EXPECT_EQ(client.cx, 315);
        EXPECT_EQ(client.cy, 74);
    }

    const std::vector<HWND> children = Children(window_);
    ASSERT_EQ(children.size(), kTable.size());
    for (size_t i = 0; i < kTable.size(); ++i) {
        const Twips& t = kTable[i];
        const HWND child = children[i];
        EXPECT_EQ(ClassOf(child), t.windowClass) << i;
        EXPECT_EQ(WindowText(child), t.text) << i;
        const RECT r = ControlRect(child);
        EXPECT_EQ(r.left, Pixels(t.left, dpi)) << i;
        EXPECT_EQ(r.top, Pixels(t.top, dpi)) << i;
        EXPECT_EQ(r.right, Pixels(t.left + t.width, dpi)) << i;
        EXPECT_EQ(r.bottom, Pixels(t.top + t.height, dpi)) << i;
        EXPECT_TRUE(::IsWindowVisible(child) && ::IsWindowEnabled(child)) << i;
        const LONG_PTR childStyle = ::GetWindowLongPtrW(child, GWL_STYLE);
        if (ClassOf(child) == L"Button") {
            EXPECT_EQ(childStyle & BS_TYPEMASK, BS_PUSHBUTTON) << "no default button: " << i;
        }
        if (ClassOf(child) == L"Edit") {
            EXPECT_EQ(childStyle & ES_READONLY, 0);
        }
    }
}

TEST_F(MainWindow, TabVisitsTheControlsInTabIndexOrderAndFocusComesBack) {
    ASSERT_TRUE(BringToFront(window_));
    EXPECT_EQ(FocusOf(window_), box_) << "focus starts in the path box";
    const std::vector<HWND> expected = {Button(kRegister), Button(kClose), Button(kBrowse),
                                        Button(kUnregister), box_};
    for (HWND next : expected) {
        PressKey(VK_TAB);
        EXPECT_EQ(WaitForFocus(next), next) << "expected " << WindowText(next);
    }
    PressKey(VK_TAB, VK_SHIFT);
    EXPECT_EQ(WaitForFocus(Button(kUnregister)), Button(kUnregister)) << "Shift+Tab goes back";

    // A result message takes the focus; dismissed, it gives it back to the
    // control that had it.
    ReplaceText(box_, folder_.path() + L"\\missing.tlb");
    PressKey(VK_SPACE);
    const HWND message = WaitForMessageBox(process_->id());
    ASSERT_NE(message, nullptr) << "注销 pressed with the space bar shows no message";
    PressOk(message);
    EXPECT_TRUE(WaitUntilGone(message));
    EXPECT_EQ(WaitForFocus(Button(kUnregister)), Button(kUnregister)) << "the focus is not back";
}

TEST_F(MainWindow, EnterAndEscapeStartNothing) {
    const std::wstring lib = folder_.Copy(Fixture(L"Alpha.tlb"), L"Alpha.tlb");
    ASSERT_TRUE(BringToFront(window_));
    Type(box_, lib);
    PressKey(VK_RETURN);
    PressKey(VK_ESCAPE);
    PressKey(VK_TAB); // onto 注册: Escape there starts nothing either
    PressKey(VK_ESCAPE);
    PressKey(VK_TAB); // 关闭
    PressKey(VK_TAB); // 浏览, pressed with the space bar
    PressKey(VK_SPACE);
    ExpectNothingBeforeTheFileDialog();
    EXPECT_EQ(WindowText(box_), lib);
    EXPECT_EQ(RegisteredPath(IdentityOf(lib)), L"");
}

TEST_F(MainWindow, ButtonsHandTheTypedPathWholeToTheCommands) {
    const std::wstring lib =
        folder_.Copy(Fixture(L"Alpha.tlb"), L"\u7C7B\u578B \u5E93\\Alpha lib.tlb"); // 类型 库
    const LibIdentity id = IdentityOf(lib);
    Type(box_, lib);
    EXPECT_EQ(ClickForMessage(kRegister), kRegister + L"\"" + lib + kSucceeded);
    EXPECT_EQ(RegisteredPath(id), lib);
    EXPECT_EQ(WindowText(box_), lib) << "the box keeps its text";
    EXPECT_EQ(ClickForMessage(kUnregister), kUnregister + L"\"" + lib + kSucceeded);
    EXPECT_EQ(RegisteredPath(id), L"");

    const std::wstring missing = folder_.path() + L"\\missing lib.tlb";
    ReplaceText(box_, missing);
    EXPECT_EQ(ClickForMessage(kUnregister), kUnregister + L"\"" + missing + kFailed);
    // Quotation marks and blanks are the path's own: no first-token cut here.
    const std::wstring quoted = L"\"" + lib + L"\" /u";
    ReplaceText(box_, quoted);
    EXPECT_EQ(ClickForMessage(kRegister), kRegister + L"\"" + quoted + kFailed);
    EXPECT_EQ(RegisteredPath(id), L"");
    EXPECT_TRUE(process_->Running());
}

TEST_F(MainWindow, AnEmptyBoxStartsNothing) {
    Click(Button(kRegister));
    Click(Button(kUnregister));
    Click(Button(kBrowse));
    ExpectNothingBeforeTheFileDialog();
}

TEST_F(MainWindow, ADroppedFileReplacesTheBoxText) {
    Type(box_, L"typed before");
    const std::wstring first = folder_.path() + L"\\\u7C7B\u578B \u5E93\\first.tlb";
    DropFiles(window_, {first, folder_.path() + L"\\second.tlb"});
    EXPECT_EQ(WaitForText(box_, first), first);
    EXPECT_EQ(ClickForMessage(kRegister), kRegister + L"\"" + first + kFailed)
        << "the window still works";
}

TEST_F(MainWindow, CloseButtonAndCloseBoxEndTheProcessWithZero) {
    Click(Button(kClose));
    EXPECT_EQ(process_->Wait(10000), 0u);

    Process second = Process::Start(VandrelExe(), L"");
    const HWND window = WaitForWindow(second.id(), L"", kTitle);
    ASSERT_NE(window, nullptr);
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(second.Wait(10000), 0u);
}

} // namespace
} // namespace vandrel::test
