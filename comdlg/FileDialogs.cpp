// The file open and save dialogs.
#include "comdlg/ClsComdlg.h"

#include "comdlg/AnsiText.h"
#include "comdlg/ComdlgPlatform.h"

#include <optional>
#include <utility>

namespace vandrel {
namespace {

// Characters in each of the two buffers, terminator included.
constexpr DWORD kBufferChars = 256;

std::optional<std::string> AnsiOrAbsent(const std::optional<std::wstring>& text) {
    if (!text) return std::nullopt;
    return ToAnsi(*text);
}

// A text never set reaches the platform as a null pointer.
const char* PointerTo(const std::optional<std::string>& text) {
    return text ? text->c_str() : nullptr;
}

// The dialog starts from a buffer of spaces whatever FileName holds.
std::string BlankBuffer() {
    std::wstring blank(kBufferChars - 1, L' ');
    blank.push_back(L'\0');
    return ToAnsi(blank);
}

// The chosen name ends at the first NUL that is followed by a NUL or a
// space: that passes over the NULs inside a multi-selection list and stops
// at its closing pair, or at the spaces behind a single name. A NUL with
// nothing behind it (a buffer full to its end) also ends the name.
std::wstring ChosenName(const std::wstring& buffer) {
    std::size_t end = buffer.find(L'\0');
    while (end != std::wstring::npos && end + 1 < buffer.size()) {
        const wchar_t next = buffer[end + 1];
        if (next == L'\0' || next == L' ') break;
        end = buffer.find(L'\0', end + 1);
    }
    return buffer.substr(0, end);
}

std::wstring BeforeFirstNul(const std::wstring& buffer) {
    return buffer.substr(0, buffer.find(L'\0'));
}

} // namespace

Flag ClsComdlg::ShowOpen() {
    return ShowFileDialog(false);
}
Flag ClsComdlg::ShowSave() {
    return ShowFileDialog(true);
}

Flag ClsComdlg::ShowFileDialog(bool save) {
    const ComdlgPlatform& platform = *ComdlgSeam();
    const auto filter = AnsiOrAbsent(m_Filter);
    const auto initDir = AnsiOrAbsent(m_InitDir);
    const auto title = AnsiOrAbsent(m_DialogTitle);
    std::string file = BlankBuffer();
    std::string fileTitle = BlankBuffer();

    OPENFILENAMEA record{};
    record.lStructSize = kOpenFileNameSize;
    record.hwndOwner = platform.GetForegroundWindow();
    record.hInstance = AsInstance(m_Instance);
    record.lpstrInitialDir = PointerTo(initDir);
    record.lpstrFilter = PointerTo(filter);
    record.lpstrFile = file.data();
    record.nMaxFile = kBufferChars;
    record.lpstrFileTitle = fileTitle.data();
    record.nMaxFileTitle = kBufferChars;
    record.lpstrTitle = PointerTo(title);
    record.Flags = static_cast<DWORD>(m_flags);

    const BOOL confirmed =
        save ? platform.GetSaveFileNameA(&record) : platform.GetOpenFileNameA(&record);
    if (!confirmed) return kFalse;

    // Both outcomes are made before either is stored, so that exhausted
    // memory cannot leave one of them changed alone.
    std::wstring name = ChosenName(FromAnsi(file.data(), kBufferChars));
    std::wstring bareName = BeforeFirstNul(FromAnsi(fileTitle.data(), kBufferChars));
    m_FileName = std::move(name);
    m_FileTitle = std::move(bareName);
    return kTrue;
}

} // namespace vandrel
