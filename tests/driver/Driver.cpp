#include "driver/Driver.h"

#include "support/TestSupport.h"

#include <commctrl.h>
#include <shlobj.h>

#include <stdexcept>
#include <thread>

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
    if (search.windowClass && !search.windowClass->empty() &&
        ClassOf(window) != *search.windowClass)
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

bool Process::Running() const {
    return ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

DWORD Run(const std::wstring& exe, const std::wstring& arguments, DWORD milliseconds) {
    Process process = Process::Start(exe, arguments);
    return process.Wait(milliseconds);
}

namespace {

Written RunWith(const std::wstring& exe, const std::wstring& arguments, STARTUPINFOW& startup,
                BOOL inherit) {
    std::wstring line = L"\"" + exe + L"\" " + arguments;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, inherit, 0, nullptr, nullptr,
                          &startup, &info))
        throw std::runtime_error("CreateProcessW failed: " + std::to_string(::GetLastError()));
    ::CloseHandle(info.hThread);
    const OwnedHandle process(info.hProcess);
    Written written{STILL_ACTIVE, L""};
    if (::WaitForSingleObject(process.get(), 30000) == WAIT_OBJECT_0)
        ::GetExitCodeProcess(process.get(), &written.status);
    else // a hung program ends here, which also ends its output
        ::TerminateProcess(process.get(), STILL_ACTIVE);
    return written;
}

} // namespace

Written RunWithPipe(const std::wstring& exe, const std::wstring& arguments, DWORD stream) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!::CreatePipe(&read, &write, &inheritable, 1 << 16))
        throw std::runtime_error("CreatePipe failed");
    OwnedHandle reader(read), writer(write);
    ::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    (stream == STD_OUTPUT_HANDLE ? startup.hStdOutput : startup.hStdError) = write;
    // Read while the program runs: one that writes more than the pipe holds
    // waits for a reader before it can end.
    std::string bytes;
    std::thread drain([&bytes, read] {
        char chunk[4096];
        DWORD got = 0;
        while (::ReadFile(read, chunk, sizeof chunk, &got, nullptr) && got)
            bytes.append(chunk, got);
    });
    Written written;
    try {
        written = RunWith(exe, arguments, startup, TRUE);
    } catch (...) {
        writer.reset();
        drain.join();
        throw;
    }
    writer.reset();
    drain.join();
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                             static_cast<int>(bytes.size()), nullptr, 0);
    if (length <= 0 && !bytes.empty()) throw std::runtime_error("not UTF-8: " + bytes);
    written.text.assign(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                          written.text.data(), length);
    return written;
}

Written RunInConsole(const std::wstring& exe, const std::wstring& arguments) {
    ::FreeConsole();
    if (!::AllocConsole()) throw std::runtime_error("AllocConsole failed");
    struct Freed {
        ~Freed() { ::FreeConsole(); }
    } freed;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES; // and all three of them none
    Written written = RunWith(exe, arguments, startup, FALSE);
    const OwnedFile screen(::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                         0, nullptr));
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!screen || !::GetConsoleScreenBufferInfo(screen.get(), &info))
        throw std::runtime_error("no console screen");
    // A line longer than the screen is wide goes on in the next row.
    const SHORT width = info.dwSize.X;
    for (SHORT row = 0; row <= info.dwCursorPosition.Y; ++row) {
        std::wstring cells(static_cast<size_t>(width), L' ');
        DWORD read = 0;
        ::ReadConsoleOutputCharacterW(screen.get(), cells.data(), static_cast<DWORD>(width),
                                      COORD{0, row}, &read);
        cells.resize(read);
        const bool full = !cells.empty() && cells.back() != L' ';
        while (!cells.empty() && cells.back() == L' ')
            cells.pop_back();
        written.text += cells;
        if (!full && !cells.empty()) written.text += L"\n";
    }
    return written;
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

std::wstring MessageBoxText(HWND box) {
    return WindowText(::GetDlgItem(box, 0xFFFF));
}

void PressOk(HWND box) {
    ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(box, IDOK)));
}

HWND Control(HWND parent, int id) {
    return ::GetDlgItem(parent, id);
}

RECT ControlRect(HWND control) {
    RECT rect{};
    ::GetWindowRect(control, &rect);
    ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

SIZE ClientSizeOf(HWND window) {
    RECT rect{};
    ::GetClientRect(window, &rect);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

UINT DpiOf(HWND window) {
    // Looked up: the call is newer than the headers' target system.
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    const auto getDpi = reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    return getDpi ? getDpi(window) : 0;
}

HWND FocusOf(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

bool BringToFront(HWND window) {
    ::SetForegroundWindow(window);
    const ULONGLONG deadline = ::GetTickCount64() + 5000;
    while (::GetForegroundWindow() != window) {
        if (::GetTickCount64() > deadline) return false;
        ::Sleep(20);
    }
    return true;
}

void PressKey(WORD virtualKey, WORD modifier) {
    std::vector<INPUT> inputs;
    auto key = [&](WORD vk, DWORD flags) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = vk;
        input.ki.dwFlags = flags;
        inputs.push_back(input);
    };
    if (modifier) key(modifier, 0);
    key(virtualKey, 0);
    key(virtualKey, KEYEVENTF_KEYUP);
    if (modifier) key(modifier, KEYEVENTF_KEYUP);
    ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

void Click(HWND button) {
    ::PostMessageW(button, BM_CLICK, 0, 0);
}

void Type(HWND edit, const std::wstring& text) {
    for (wchar_t c : text)
        ::SendMessageTimeoutW(edit, WM_CHAR, c, 1, SMTO_ABORTIFHUNG, 5000, nullptr);
}

std::wstring WaitForText(HWND window, const std::wstring& text, DWORD milliseconds) {
    const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
    std::wstring seen = WindowText(window);
    while (seen != text && ::GetTickCount64() < deadline) {
        ::Sleep(20);
        seen = WindowText(window);
    }
    return seen;
}

void DropFiles(HWND window, const std::vector<std::wstring>& paths) {
    std::wstring list;
    for (const auto& path : paths)
        list += path + L'\0';
    list += L'\0';
    std::vector<BYTE> block(sizeof(DROPFILES) + list.size() * sizeof(wchar_t));
    DROPFILES header{};
    header.pFiles = sizeof(DROPFILES);
    header.fWide = TRUE;
    memcpy(block.data(), &header, sizeof header);
    memcpy(block.data() + sizeof header, list.data(), list.size() * sizeof(wchar_t));

    // Explorer builds the drop inside the receiving process; a global block
    // of ours would mean nothing there, and Wine does not copy it across. A
    // fixed (pointer) block is what GlobalLock and DragQueryFile accept, so
    // the block is written into the receiver's memory, past a little room
    // for the heap header that GlobalFree looks at before refusing it. The
    // region stays with the receiver for its lifetime.
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    OwnedHandle process(::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, processId));
    if (!process) throw std::runtime_error("OpenProcess failed");
    constexpr size_t kRoom = 64;
    auto* region = static_cast<BYTE*>(::VirtualAllocEx(process.get(), nullptr, kRoom + block.size(),
                                                       MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!region) throw std::runtime_error("VirtualAllocEx failed");
    if (!::WriteProcessMemory(process.get(), region + kRoom, block.data(), block.size(), nullptr))
        throw std::runtime_error("WriteProcessMemory failed");
    ::PostMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(region + kRoom), 0);
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = ::GetWindow(parent, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

HWND ChildByText(HWND parent, const std::wstring& windowClass, const std::wstring& text) {
    for (HWND child : Children(parent))
        if (ClassOf(child) == windowClass && WindowText(child) == text) return child;
    return nullptr;
}

void ReplaceText(HWND edit, const std::wstring& text) {
    ::SendMessageTimeoutW(edit, EM_SETSEL, 0, -1, SMTO_ABORTIFHUNG, 5000, nullptr);
    Type(edit, text);
}

HWND WaitForDialog(DWORD processId, const std::wstring& title, DWORD milliseconds) {
    return WaitForWindow(processId, L"#32770", title, milliseconds);
}

std::vector<std::wstring> ComboItems(HWND combo) {
    std::vector<std::wstring> items;
    DWORD_PTR count = 0;
    if (!::SendMessageTimeoutW(combo, CB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &count))
        return items;
    for (WPARAM i = 0; i < count; ++i) {
        DWORD_PTR length = 0;
        ::SendMessageTimeoutW(combo, CB_GETLBTEXTLEN, i, 0, SMTO_ABORTIFHUNG, 5000, &length);
        std::wstring text(length + 1, L'\0');
        DWORD_PTR copied = 0;
        ::SendMessageTimeoutW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()),
                              SMTO_ABORTIFHUNG, 5000, &copied);
        text.resize(copied == static_cast<DWORD_PTR>(CB_ERR) ? 0 : copied);
        items.push_back(text);
    }
    return items;
}

void TypeFileName(HWND dialog, const std::wstring& name) {
    // The name box is a ComboBoxEx; its edit control takes the keys.
    const HWND box = ::GetDlgItem(dialog, kFileNameBox);
    DWORD_PTR edit = 0;
    ::SendMessageTimeoutW(box, CBEM_GETEDITCONTROL, 0, 0, SMTO_ABORTIFHUNG, 5000, &edit);
    ReplaceText(edit ? reinterpret_cast<HWND>(edit) : box, name);
}

void ConfirmDialog(HWND dialog) {
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDOK)));
}

void CancelDialog(HWND dialog) {
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDCANCEL)));
}

bool WaitUntilGone(HWND window, DWORD milliseconds) {
    const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
    while (::IsWindow(window) && ::IsWindowVisible(window)) {
        if (::GetTickCount64() > deadline) return false;
        ::Sleep(20);
    }
    return true;
}

bool SaveScreenshot(const std::vector<HWND>& windows, const std::string& pngPath) {
    RECT area{};
    for (HWND window : windows) {
        RECT rect{};
        ::GetWindowRect(window, &rect);
        ::UnionRect(&area, &area, &rect);
    }
    // Wine's desktop fills the X screen from its corner, so screen
    // coordinates are X root coordinates. Wine starts Linux programs itself.
    const std::wstring output = WindowsPath(pngPath);
    ::DeleteFileW(output.c_str());
    const std::string crop = std::to_string(area.right - area.left) + "x" +
                             std::to_string(area.bottom - area.top) + "+" +
                             std::to_string(area.left) + "+" + std::to_string(area.top);
    const std::string line =
        "/usr/bin/import -window root -crop " + crop + " +repage PNG24:" + pngPath;
    std::wstring wideLine(line.begin(), line.end());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(L"Z:\\usr\\bin\\import", wideLine.data(), nullptr, nullptr, FALSE, 0,
                          nullptr, nullptr, &startup, &info))
        return false;
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    // A Linux process cannot be waited for from here: the file is done when
    // it exists and has stopped growing.
    LONGLONG size = -1;
    for (int i = 0; i < 100; ++i) {
        ::Sleep(200);
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!::GetFileAttributesExW(output.c_str(), GetFileExInfoStandard, &data)) continue;
        const LONGLONG now = (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        if (now > 0 && now == size) return true;
        size = now;
    }
    return false;
}

} // namespace vandrel::test
