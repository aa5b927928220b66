#include "shell/Export.h"

#include "common/Owned.h"
#include "common/SameText.h"
#include "shell/ReasonLine.h"

#include <windows.h>

namespace vandrel {
namespace {

constexpr wchar_t kDefaultGroup[] = L"TypeLibRegistry";
constexpr wchar_t kDefaultFileId[] = L"TypeLibFile";

const wchar_t* RootName(Scope scope) {
    return scope == Scope::User ? L"HKEY_CURRENT_USER" : L"HKEY_LOCAL_MACHINE";
}

// A key below Software of the root, as an installer of the view names it.
std::wstring ClassesKey(const RegistryEntry& entry, bool redirected) {
    return std::wstring(L"Software\\Classes\\") + (redirected ? L"Wow6432Node\\" : L"") + entry.key;
}

std::wstring XmlText(const std::wstring& text) {
    std::wstring escaped;
    for (wchar_t c : text) {
        if (c == L'&')
            escaped += L"&amp;";
        else if (c == L'<')
            escaped += L"&lt;";
        else if (c == L'>')
            escaped += L"&gt;";
        else if (c == L'"')
            escaped += L"&quot;";
        else if (c < 0x20)
            escaped += std::wstring(L"&#x") + L"0123456789abcdef"[c >> 4] +
                       L"0123456789abcdef"[c & 0xF] + L";";
        else
            escaped += c;
    }
    return escaped;
}

// A value as the Registry table reads it: brackets would name properties,
// and a leading number sign a number.
std::wstring InstallerText(const std::wstring& text) {
    std::wstring escaped = !text.empty() && text[0] == L'#' ? L"#" : L"";
    for (wchar_t c : text) {
        if (c == L'[')
            escaped += L"[\\[]";
        else if (c == L']')
            escaped += L"[\\]]";
        else
            escaped += c;
    }
    return escaped;
}

void AddComponent(std::wstring& text, const std::vector<RegistryEntry>& entries, Scope scope,
                  const std::wstring& id, bool win64, bool (*holds)(const RegistryEntry&)) {
    std::wstring values;
    for (const RegistryEntry& entry : entries) {
        if (!holds(entry)) continue;
        values += L"        <RegistryValue Root=\"" +
                  std::wstring(scope == Scope::User ? L"HKCU" : L"HKLM") + L"\" Key=\"" +
                  XmlText(ClassesKey(entry, false)) + L"\"";
        if (!entry.name.empty()) values += L" Name=\"" + XmlText(InstallerText(entry.name)) + L"\"";
        values += L" Type=\"string\" Value=\"" +
                  XmlText(entry.libraryPath ? entry.data : InstallerText(entry.data)) + L"\"";
        if (values.find(L"KeyPath") == std::wstring::npos) values += L" KeyPath=\"yes\"";
        values += L"/>\r\n";
    }
    if (values.empty()) return;
    text += L"      <Component Id=\"" + XmlText(id) + L"\" Guid=\"*\"" +
            (win64 ? L" Win64=\"yes\"" : L"") + L">\r\n" + values + L"      </Component>\r\n";
}

bool WriteBytes(const std::wstring& path, const void* bytes, DWORD size) {
    OwnedFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.get(), bytes, size, &written, nullptr) && written == size;
}

bool WriteUtf16(const std::wstring& path, const std::wstring& text) {
    const std::wstring withMark = L"\xFEFF" + text;
    return WriteBytes(path, withMark.data(), static_cast<DWORD>(withMark.size() * sizeof(wchar_t)));
}

bool WriteUtf8(const std::wstring& path, const std::wstring& text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                          size, nullptr, nullptr);
    return WriteBytes(path, bytes.data(), static_cast<DWORD>(bytes.size()));
}

int Refused(const CommandLine& line, const RegistrarResult& result) {
    CommandSeam()->WriteReason(
        ReasonLine(L"", line.path, ReasonOf(result.failure), result.status, line.path));
    return kExitFailed;
}

int NotWritten(const std::wstring& file) {
    CommandSeam()->WriteReason(
        ReasonLine(L"", file, Reason::NotWritten, HRESULT_FROM_WIN32(::GetLastError()), file));
    return kExitFailed;
}

} // namespace

std::wstring EntryKeyPath(const RegistryEntry& entry, Scope scope) {
    return std::wstring(RootName(scope)) + L"\\" + ClassesKey(entry, entry.view == KEY_WOW64_32KEY);
}

std::wstring RegValueText(const std::wstring& data) {
    bool plain = true;
    for (wchar_t c : data)
        plain = plain && c >= 0x20;
    if (!plain) {
        // The string's UTF-16LE bytes and its terminator, as regedit writes
        // a value it cannot quote.
        std::wstring hex = L"hex(1):";
        for (wchar_t c : data + L'\0')
            for (unsigned byte : {static_cast<unsigned>(c) & 0xFF, static_cast<unsigned>(c) >> 8}) {
                if (hex.size() > 7) hex += L",";
                hex += L"0123456789abcdef"[byte >> 4];
                hex += L"0123456789abcdef"[byte & 0xF];
            }
        return hex;
    }
    std::wstring quoted = L"\"";
    for (wchar_t c : data) {
        if (c == L'\\' || c == L'"') quoted += L'\\';
        quoted += c;
    }
    return quoted + L"\"";
}

std::wstring RegFileText(const std::vector<RegistryEntry>& entries, Scope scope) {
    std::wstring text = L"Windows Registry Editor Version 5.00\r\n";
    std::wstring open;
    for (const RegistryEntry& entry : entries) {
        const std::wstring key = EntryKeyPath(entry, scope);
        if (key != open) text += L"\r\n[" + key + L"]\r\n";
        open = key;
        text += (entry.name.empty() ? L"@" : RegValueText(entry.name)) + L"=" +
                RegValueText(entry.data) + L"\r\n";
    }
    return text + L"\r\n";
}

std::wstring WixFragmentText(const std::vector<RegistryEntry>& entries, Scope scope,
                             const std::wstring& group, bool x64) {
    std::wstring text = L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                        L"<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\r\n"
                        L"  <Fragment>\r\n"
                        L"    <ComponentGroup Id=\"" +
                        XmlText(group) + L"\" Directory=\"TARGETDIR\">\r\n";
    if (x64) {
        AddComponent(text, entries, scope, group + L"64", true,
                     [](const RegistryEntry& entry) { return entry.view != KEY_WOW64_32KEY; });
        AddComponent(text, entries, scope, group + L"32", false,
                     [](const RegistryEntry& entry) { return entry.view == KEY_WOW64_32KEY; });
    } else {
        // An x86 package writes the 32-bit view only (or 32-bit Windows' one).
        const bool hasOther = [&] {
            for (const RegistryEntry& entry : entries)
                if (entry.view == KEY_WOW64_32KEY) return true;
            return false;
        }();
        bool (*holds)(const RegistryEntry&) = [](const RegistryEntry&) { return true; };
        if (hasOther)
            holds = [](const RegistryEntry& entry) { return entry.view != KEY_WOW64_64KEY; };
        AddComponent(text, entries, scope, group + L"32", false, holds);
    }
    return text + L"    </ComponentGroup>\r\n  </Fragment>\r\n</Wix>\r\n";
}

int Export(const CommandLine& line) {
    if (!line.wxsArch.empty() && !SameText(line.wxsArch, L"x64") &&
        !SameText(line.wxsArch, L"x86")) {
        CommandLine refused = line;
        refused.unknownSwitch = L"/arch:" + line.wxsArch;
        return RefuseUnknownSwitch(refused);
    }
    const Scope scope = line.scope;
    LibraryId id;
    std::vector<RegistryEntry> entries;
    if (!line.regFile.empty()) {
        const RegistrarResult read = RegistrationEntriesOf(
            line.path, line.installedAs.empty() ? nullptr : &line.installedAs, id, entries);
        if (read.flag != kTrue) return Refused(line, read);
        if (!WriteUtf16(line.regFile, RegFileText(entries, scope))) return NotWritten(line.regFile);
    }
    if (line.wxsFile.empty()) return kExitSucceeded;
    const std::wstring group = line.wxsGroup.empty() ? kDefaultGroup : line.wxsGroup;
    const std::wstring fileRef =
        L"[#" + (line.wxsFileId.empty() ? std::wstring(kDefaultFileId) : line.wxsFileId) + L"]";
    if (const RegistrarResult read = RegistrationEntriesOf(line.path, &fileRef, id, entries);
        read.flag != kTrue)
        return Refused(line, read);
    // The library's own platform kind decides the package unless one is named.
    const bool x64 =
        line.wxsArch.empty() ? id.syskind == SYS_WIN64 : SameText(line.wxsArch, L"x64");
    if (!WriteUtf8(line.wxsFile, WixFragmentText(entries, scope, group, x64)))
        return NotWritten(line.wxsFile);
    return kExitSucceeded;
}

} // namespace vandrel
