#include "shell/ReasonLine.h"

#include "common/Owned.h"
#include "shell/ConsoleText.h"

#include <windows.h>

namespace vandrel {
namespace {

struct Named {
    Reason reason;
    const wchar_t* text;
};
const Named kReasons[] = {
    {Reason::NoFile, L"文件不存在"},
    {Reason::NotTypeLib, L"不是类型库"},
    {Reason::Damaged, L"类型库已损坏,已拒绝"},
    {Reason::NotRegistered, L"没有可注销的注册"},
    {Reason::NoRights, L"权限不足"},
    {Reason::Busy, L"另一个注册正在进行,未能轮到"},
    {Reason::Untrusted, L"注册轮次被占用或不可信,未能轮到"},
    {Reason::Platform, L"系统错误"},
    {Reason::NotRestored, L"注册表未能完全恢复原状"},
    {Reason::ElevatedFailed, L"以管理员身份运行后仍然失败"},
    {Reason::Error, L"发生意外错误"},
    {Reason::UnknownSwitch, L"未知的开关"},
    {Reason::CheckStopped, L"检查未能完成"},
    {Reason::NotWritten, L"无法写入文件"},
};

// The system's own text for a status, on one line, or nothing.
std::wstring SystemText(HRESULT status) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(status), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    const Owned<HLOCAL, NullTraits<HLOCAL, ::LocalFree>> owned(text);
    std::wstring line(text ? text : L"", length);
    for (wchar_t& c : line)
        if (c == L'\r' || c == L'\n') c = L' ';
    while (!line.empty() && line.back() == L' ')
        line.pop_back();
    return line;
}

} // namespace

std::wstring StatusText(HRESULT status) {
    std::wstring text = L"0x";
    for (int shift = 28; shift >= 0; shift -= 4)
        text.push_back(L"0123456789ABCDEF"[(static_cast<DWORD>(status) >> shift) & 0xF]);
    return text;
}

Reason ReasonOf(Failure failure) {
    switch (failure) {
    case Failure::NoFile:
        return Reason::NoFile;
    case Failure::NotTypeLib:
        return Reason::NotTypeLib;
    case Failure::Damaged:
        return Reason::Damaged;
    case Failure::NotRegistered:
        return Reason::NotRegistered;
    case Failure::NoRights:
        return Reason::NoRights;
    case Failure::Busy:
        return Reason::Busy;
    case Failure::Untrusted:
        return Reason::Untrusted;
    case Failure::NotRestored:
        return Reason::NotRestored;
    case Failure::Unexpected:
        return Reason::Error;
    case Failure::None:
    case Failure::Platform:
        break;
    }
    return Reason::Platform;
}

const wchar_t* ReasonText(Reason reason) {
    for (const Named& named : kReasons)
        if (named.reason == reason) return named.text;
    return L"";
}

std::wstring ReasonLine(const std::wstring& operation, const std::wstring& path, Reason reason,
                        HRESULT status, const std::wstring& detail) {
    std::wstring line = L"Vandrel: ";
    if (!operation.empty()) line += operation + L"失败 \"" + path + L"\": ";
    line += ReasonText(reason);
    line += L" (" + StatusText(status) + L")";
    const std::wstring more = reason == Reason::Platform ? SystemText(status) : detail;
    if (!more.empty()) line += L" " + more;
    return line;
}

void WriteReasonLine(const std::wstring& line) {
    WriteForAPerson(STD_ERROR_HANDLE, line + L"\r\n");
}

} // namespace vandrel
