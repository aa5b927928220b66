#include "shell/Elevation.h"

#include "common/MessagePump.h"
#include "common/Owned.h"
#include "common/SystemLibrary.h"

namespace vandrel {

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
    {
        DroppingInput pump;
        while (WaitPumping(1, &process, INFINITE, pump) == WAIT_TIMEOUT) {
        }
        // A wait that failed says nothing of the process, which may still be
        // at work: its end is waited for without the messages.
        ::WaitForSingleObject(process, INFINITE);
        if (disabled) ::EnableWindow(owner, TRUE);
    }
    DWORD status = 0;
    // No status is no success.
    return ::GetExitCodeProcess(process, &status) ? status : STILL_ACTIVE;
}

} // namespace vandrel
