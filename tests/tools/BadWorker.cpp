// A worker that answers every request with a report no library could give:
// more interface identifiers than the file has bytes. Tests put it in the
// registrar's worker seam; Vandrel itself has no way to start it.
#include "registrar/WorkerProtocol.h"

#include <windows.h>

#include <cwchar>

int wmain() {
    const wchar_t* text = ::GetCommandLineW();
    const wchar_t* space = std::wcsrchr(text, L' ');
    if (!space) return 3;
    const auto pipe =
        reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(std::wcstoull(space + 1, nullptr, 16)));
    vandrel::worker::RequestHeader request;
    DWORD moved = 0;
    while (::ReadFile(pipe, &request, sizeof request, &moved, nullptr) && moved) {
        vandrel::worker::LoadHeader report{};
        report.mark = vandrel::worker::kReportMark;
        report.interfaces = 0x7FFFFFFF;
        ::WriteFile(pipe, &report, sizeof report, &moved, nullptr);
    }
    return 0;
}
