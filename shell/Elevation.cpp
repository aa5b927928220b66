#include "shell/Elevation.h"

#include "common/Owned.h"
#include "common/SystemLibrary.h"

namespace vandrel {
namespace {

// Keys, characters, clicks and IME results: anything a person does to the
// window. Keys are posted to the focused control even while its window is
// disabled, so disabling alone is not enough.
bool IsInput(UINT message) {
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
           (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
           (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK) ||
           (message >= WM_IME_STARTCOMPOSITION && message <= WM_IME_KEYLAST) ||
           message == WM_IME_CHAR || message == WM_IME_KEYDOWN || message == WM_IME_KEYUP ||
           message == WM_INPUT;
}

} // namespace

TOKEN_ELEVATION_TYPE ProcessElevationType() {
    OwnedHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()))
        return TokenElevationTypeDefault;
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD size = 0;
    if (!::GetTokenInformation(token.get(), TokenElevationType, &type, sizeof type, &size))
        return TokenElevationTypeDefault;
    return type;
}

BOOL WINAPI ShellExecuteOnFirstUse(SHELLEXECUTEINFOW* info) {
    static const auto execute =
        SystemEntry<decltype(&::ShellExecuteExW)>(L"shell32.dll", "ShellExecuteExW");
    if (!execute) return FALSE;
    return execute(info);
}

DWORD WaitForProcessDroppingInput(HANDLE process, HWND owner) {
    const bool disabled = owner && !::EnableWindow(owner, FALSE);
    bool quit = false;
    WPARAM quitCode = 0;
    while (::MsgWaitForMultipleObjectsEx(1, &process, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE) ==
           WAIT_OBJECT_0 + 1) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quit = true;
                quitCode = message.wParam;
                continue;
            }
            if (IsInput(message.message)) continue;
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    // A wait that failed says nothing of the process, which may still be at
    // work: its end is waited for without the messages.
    ::WaitForSingleObject(process, INFINITE);
    if (disabled) ::EnableWindow(owner, TRUE);
    // A quit asked for meanwhile is the window's loop's to act on.
    if (quit) ::PostQuitMessage(static_cast<int>(quitCode));
    DWORD status = 0;
    // No status is no success.
    return ::GetExitCodeProcess(process, &status) ? status : STILL_ACTIVE;
}

} // namespace vandrel
