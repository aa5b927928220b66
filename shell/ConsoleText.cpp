#include "shell/ConsoleText.h"

#include "common/Owned.h"

namespace vandrel {
namespace {

bool WriteTo(HANDLE out, const std::wstring& text) {
    DWORD mode = 0, written = 0;
    if (::GetConsoleMode(out, &mode))
        return ::WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written,
                               nullptr);
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                            nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return text.empty();
    std::string utf8(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(),
                          bytes, nullptr, nullptr);
    return ::WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

} // namespace

void WriteForAPerson(DWORD stream, const std::wstring& text) {
    const HANDLE own = ::GetStdHandle(stream);
    if (own && own != INVALID_HANDLE_VALUE && WriteTo(own, text)) return;
    // Started from a console without its streams: write into that console,
    // which stays the parent's. Wine hands a windowed program its parent's
    // console already (attaching then is refused as access denied).
    const bool attached = ::AttachConsole(ATTACH_PARENT_PROCESS);
    if (!attached && ::GetLastError() != ERROR_ACCESS_DENIED) return;
    {
        const OwnedFile console(::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
        if (console) WriteTo(console.get(), text);
    }
    if (attached) ::FreeConsole();
}

} // namespace vandrel
