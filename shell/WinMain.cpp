#include "registrar/ModVandrel.h"
#include "shell/ModMain.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before anything else can load: DLLs come from the system directory
    // only, never from beside the executable or the current folder.
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    ::SetDllDirectoryW(L"");
    const std::wstring arguments = vandrel::ArgumentText(::GetCommandLineW());
    // The same executable reads libraries for Vandrel in a worker process.
    if (vandrel::IsWorkerArguments(arguments)) return vandrel::RunWorker(arguments);
    return vandrel::Main(::GetCommandLineW());
}
