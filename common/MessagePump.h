// Waiting on the user-interface thread: the window keeps painting, and what
// a person types or clicks meanwhile is dropped, so no second command starts.
#pragma once

#include <windows.h>

namespace vandrel {

// Keys, characters, clicks and IME results: anything a person does to the
// window. Keys are posted to the focused control even while its window is
// disabled, so disabling alone is not enough.
inline bool IsInput(UINT message) {
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
           (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
           (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK) ||
           (message >= WM_IME_STARTCOMPOSITION && message <= WM_IME_KEYLAST) ||
           message == WM_IME_CHAR || message == WM_IME_KEYDOWN || message == WM_IME_KEYUP ||
           message == WM_INPUT;
}

// Dispatches what is queued, input aside. A quit seen is kept for the
// window's own loop (QuitKept), which must have it again after the wait.
class DroppingInput {
public:
    DroppingInput() = default;
    DroppingInput(const DroppingInput&) = delete;
    DroppingInput& operator=(const DroppingInput&) = delete;
    ~DroppingInput() {
        if (quit_) ::PostQuitMessage(static_cast<int>(code_));
    }
    void Pump() {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quit_ = true;
                code_ = message.wParam;
                continue;
            }
            if (IsInput(message.message)) continue;
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }

private:
    bool quit_ = false;
    WPARAM code_ = 0;
};

// Whether the thread may have windows. user32 is delay-loaded: a process
// that has not loaded it has none, and asking user32 would load it into the
// command line's and the worker's every run.
inline bool MayHaveWindows() {
    return ::GetModuleHandleW(L"user32.dll") != nullptr && ::IsGUIThread(FALSE);
}

// Waits for any of the handles for up to `ms`, dispatching the thread's
// messages meanwhile where the thread has windows. The wait's result.
inline DWORD WaitPumping(DWORD count, const HANDLE* handles, DWORD ms, DroppingInput& pump) {
    if (!MayHaveWindows()) return ::WaitForMultipleObjects(count, handles, FALSE, ms);
    const ULONGLONG until = ::GetTickCount64() + ms;
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        const DWORD left = now >= until ? 0 : static_cast<DWORD>(until - now);
        const DWORD woke =
            ::MsgWaitForMultipleObjectsEx(count, handles, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woke != WAIT_OBJECT_0 + count) return woke;
        pump.Pump();
    }
}

} // namespace vandrel
