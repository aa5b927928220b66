// What running a refused command again elevated takes from the platform: the
// kind of the process token, the shell's start of a program, and a wait that
// keeps the window painted but deaf.
#pragma once

#include <windows.h>
#include <shellapi.h>

namespace vandrel {

// TokenElevationTypeDefault where the system cannot tell.
TOKEN_ELEVATION_TYPE ProcessElevationType();

// ShellExecuteExW from shell32, which is loaded on first use: importing it
// would cost every start.
BOOL WINAPI ShellExecuteOnFirstUse(SHELLEXECUTEINFOW* info);

// Waits for `process` to end and returns its exit status. Meanwhile the
// thread's windows go on painting, its input is dropped, and `owner` (when
// given) is disabled as the owner of a message box is.
DWORD WaitForProcessDroppingInput(HANDLE process, HWND owner);

} // namespace vandrel
