// The start of every suite that drives the registrar in its own process: the
// registrar's worker is this same executable, started with the worker's
// argument, as Vandrel.exe is for Vandrel.
#include "registrar/ModVandrel.h"
#include "registrar/WorkerProtocol.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cwchar>

int main(int argc, char** argv) {
    if (const wchar_t* worker = std::wcsstr(::GetCommandLineW(), vandrel::worker::kArgument))
        return vandrel::RunWorker(worker);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
