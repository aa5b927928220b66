#include "shell/ModMain.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before anything else can load: DLLs come from the system directory
    // only, never from beside the executable or the current folder.
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    ::SetDllDirectoryW(L"");
    return vandrel::Main(::GetCommandLineW());
}
