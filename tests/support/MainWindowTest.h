// A test of the real main window: Vandrel.exe started without arguments, its
// window and path box found, and at the end a file dialog left open
// cancelled, the window closed, and the registry checked to be as it was.
#pragma once

#include "driver/Driver.h"
#include "support/TestSupport.h"
#include "support/UiTexts.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace vandrel::test {

class MainWindowTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        process_.emplace(Process::Start(VandrelExe(), L""));
        window_ = WaitForWindow(process_->id(), L"", text::kTitle);
        ASSERT_NE(window_, nullptr) << "no window titled TypeLib注册程序";
        box_ = ChildByText(window_, L"Edit", L"");
        ASSERT_NE(box_, nullptr) << "no empty path box";
    }
    void TearDown() override {
        if (process_ && process_->Running()) {
            // A dialog left open by a failed step would keep the window up.
            if (HWND dialog = WaitForDialog(process_->id(), text::kDialogTitle, 0))
                CancelDialog(dialog);
            ::PostMessageW(window_, WM_CLOSE, 0, 0);
            EXPECT_NE(process_->Wait(10000), STILL_ACTIVE);
        }
        RegistryTest::TearDown();
    }
    HWND Button(const std::wstring& caption) const {
        return ChildByText(window_, L"Button", caption);
    }
    // Clicks and returns the result message, pressing its OK; empty when no
    // message box comes within `milliseconds`.
    std::wstring ClickForMessage(const std::wstring& caption, DWORD milliseconds = 15000) {
        Click(Button(caption));
        const HWND box = WaitForMessageBox(process_->id(), milliseconds);
        if (!box) return L"";
        const std::wstring text = MessageBoxText(box);
        EXPECT_EQ(::GetWindow(box, GW_OWNER), window_) << "the message belongs to the window";
        EXPECT_FALSE(::IsWindowEnabled(window_)) << "the message is modal";
        WhileShown(caption, box, text);
        PressOk(box);
        EXPECT_TRUE(WaitUntilGone(box));
        return text;
    }
    // Sets the box's text at once (no typing) and clicks 注册.
    std::wstring ClickRegister(const std::wstring& path) {
        DWORD_PTR ignored = 0;
        ::SendMessageTimeoutW(box_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()),
                              SMTO_ABORTIFHUNG, 5000, &ignored);
        return ClickForMessage(text::kRegister);
    }
    // Called while a result message is up, before it is dismissed.
    virtual void WhileShown(const std::wstring&, HWND, const std::wstring&) {}

    TempFolder folder_;
    std::optional<Process> process_;
    HWND window_ = nullptr;
    HWND box_ = nullptr;
};

} // namespace vandrel::test
