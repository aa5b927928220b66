#include "comdlg/AnsiText.h"

#include "comdlg/ClsComdlg.h"

#include <windows.h>

#include <climits>

namespace vandrel {
namespace {

int CheckedLength(std::size_t length) {
    if (length > static_cast<std::size_t>(INT_MAX)) throw TextTooLongError();
    return static_cast<int>(length);
}

} // namespace

std::string ToAnsi(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int length = CheckedLength(text.size());
    // An explicit length converts past embedded NULs; characters without an
    // ANSI form become the code page's default character.
    const int bytes =
        ::WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(bytes), '\0');
    if (bytes > 0)
        ::WideCharToMultiByte(CP_ACP, 0, text.data(), length, result.data(), bytes, nullptr,
                              nullptr);
    return result;
}

std::wstring FromAnsi(const char* text, std::size_t length) {
    if (length == 0) return std::wstring();
    const int size = CheckedLength(length);
    const int chars = ::MultiByteToWideChar(CP_ACP, 0, text, size, nullptr, 0);
    std::wstring result(static_cast<std::size_t>(chars), L'\0');
    if (chars > 0) ::MultiByteToWideChar(CP_ACP, 0, text, size, result.data(), chars);
    return result;
}

std::wstring FromAnsi(const std::string& text) {
    return FromAnsi(text.data(), text.size());
}

} // namespace vandrel
