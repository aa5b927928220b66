#include "driver/Driver.h"

#include <stdexcept>

namespace vandrel::test {
namespace {

struct Search {
    DWORD processId;
    const std::wstring* windowClass;
    const std::wstring* title;
    bool visibleOnly;
    std::vector<HWND> found;
};

BOOL CALLBACK Collect(HWND window, LPARAM param) {
    auto& search = *reinterpret_cast<Search*>(param);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != search.processId) return TRUE;
    if (search.visibleOnly && !::IsWindowVisible(window)) return TRUE;
    if (search.windowClass && !search.windowClass->empty() && ClassOf(window) != *search.windowClass)
        return TRUE;
    if (search.title && !search.title->empty() && WindowText(window) != *search.title) return TRUE;
    search.found.push_back(window);
    return TRUE;
}

} // namespace

Process Process::Start(const std::wstring& exe, const std::wstring& arguments) {
    std::wstring line = L"\"" + exe + L"\"";
    if (!arguments.empty()) line += L" " + arguments;
    return StartCommandLine(exe, line);
}

Process Process::StartCommandLine(const std::wstring& exe, const std::wstring& commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::wstring line = commandLine;
    if (!::CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info))
        throw std::runtime_error("CreateProcessW failed: " + std::to_string(::GetLastError()));
    ::CloseHandle(info.hThread);
    Process process;
    process.process_.reset(info.hProcess);
    process.id_ = info.dwProcessId;
    return process;
}

Process::~Process() {
    if (process_ && Running()) {
        ::TerminateProcess(process_.get(), 99);
        ::WaitForSingleObject(process_.get(), 5000);
    }
}

DWORD Process::Wait(DWORD milliseconds) const {
    if (::WaitForSingleObject(process_.get(), milliseconds) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = 0;
    ::GetExitCodeProcess(process_.get(), &code);
    return code;
}

bool Process::Running() const { return ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }

DWORD Run(const std::wstring& exe, const std::wstring& arguments, DWORD milliseconds) {
    Process process = Process::Start(exe, arguments);
    return process.Wait(milliseconds);
}

HWND WaitForWindow(DWORD processId, const std::wstring& windowClass, const std::wstring& title,
                   DWORD milliseconds) {
    const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
    do {
        Search search{processId, &windowClass, &title, true, {}};
        ::EnumWindows(Collect, reinterpret_cast<LPARAM>(&search));
        if (!search.found.empty()) return search.found.front();
        ::Sleep(20);
    } while (::GetTickCount64() < deadline);
    return nullptr;
}

std::vector<HWND> VisibleWindows(DWORD processId) {
    Search search{processId, nullptr, nullptr, true, {}};
    ::EnumWindows(Collect, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring WindowText(HWND window) {
    // WM_GETTEXT crosses processes; GetWindowText does not.
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
        return L"";
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    ::SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                          SMTO_ABORTIFHUNG, 5000, &copied);
    text.resize(copied);
    return text;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256];
    const int n = ::GetClassNameW(window, name, 256);
    return std::wstring(name, n > 0 ? n : 0);
}

HWND WaitForMessageBox(DWORD processId, DWORD milliseconds) {
    return WaitForWindow(processId, L"#32770", L"Vandrel", milliseconds);
}

std::wstring MessageBoxText(HWND box) { return WindowText(::GetDlgItem(box, 0xFFFF)); }

void PressOk(HWND box) {
    ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(box, IDOK)));
}

} // namespace vandrel::test
