// The dialog object against Wine's real common dialogs, in the test's own
// process: a watcher thread finds the modal dialog that blocks the test
// thread, reads it and answers it, and cancels anything still open after a
// deadline.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace vandrel::test {

inline std::wstring ClassName(HWND window) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return name;
}

inline std::wstring Text(HWND window) {
    wchar_t text[256] = {};
    ::GetWindowTextW(window, text, 256);
    return text;
}

inline BOOL CALLBACK CollectDialog(HWND window, LPARAM list) {
    if (::IsWindowVisible(window) && ClassName(window) == L"#32770")
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

// The visible dialog windows of one thread.
inline std::vector<HWND> DialogsOf(DWORD thread) {
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

inline void Cancel(HWND dialog) {
    ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
}

inline void Confirm(HWND dialog) {
    ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
}

// Why the last dialog call of this thread failed, as the platform says it:
// a record of the wrong size would be refused with CDERR_STRUCTSIZE.
inline DWORD ExtendedError() {
    using ErrorFunction = DWORD(WINAPI*)();
    const auto error = reinterpret_cast<ErrorFunction>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(::GetModuleHandleW(L"comdlg32.dll"), "CommDlgExtendedError")));
    return error ? error() : ~0u;
}

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

} // namespace vandrel::test
