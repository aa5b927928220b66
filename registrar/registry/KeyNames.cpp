#include "registrar/registry/KeyNames.h"

namespace vandrel {

std::wstring GuidKeyName(const GUID& guid) {
    // By hand: the formatted-print family would link a few dozen kilobytes.
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    std::wstring text;
    text.reserve(38);
    auto put = [&](unsigned long value, int digits) {
        for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
            text.push_back(kHex[(value >> shift) & 0xF]);
    };
    text.push_back(L'{');
    put(guid.Data1, 8);
    text.push_back(L'-');
    put(guid.Data2, 4);
    text.push_back(L'-');
    put(guid.Data3, 4);
    text.push_back(L'-');
    for (int i = 0; i < 8; ++i) {
        if (i == 2) text.push_back(L'-');
        put(guid.Data4[i], 2);
    }
    text.push_back(L'}');
    return text;
}

std::wstring HexName(unsigned long value) {
    std::wstring text;
    do {
        text.insert(text.begin(), L"0123456789abcdef"[value & 0xF]);
        value >>= 4;
    } while (value);
    return text;
}

std::wstring VersionName(WORD major, WORD minor) {
    return HexName(major) + L"." + HexName(minor);
}

std::wstring TypeLibKeyName(const GUID& library) {
    return L"TypeLib\\" + GuidKeyName(library);
}

std::wstring VersionKeyName(const LibraryId& id) {
    return TypeLibKeyName(id.guid) + L"\\" + VersionName(id.major, id.minor);
}

std::wstring InterfaceKeyName(const IID& iid) {
    return L"Interface\\" + GuidKeyName(iid);
}

bool ParseVersion(const std::wstring& text, WORD& major, WORD& minor) {
    const size_t dot = text.find(L'.');
    unsigned long high = 0, low = 0;
    if (dot == std::wstring::npos || !ParseHex(text.substr(0, dot), 4, high) ||
        !ParseHex(text.substr(dot + 1), 4, low))
        return false;
    major = static_cast<WORD>(high);
    minor = static_cast<WORD>(low);
    return true;
}

const wchar_t* PlatformKeyName(SYSKIND syskind) {
    return syskind == SYS_WIN64 ? L"win64" : syskind == SYS_WIN32 ? L"win32" : L"win16";
}

bool ParseHex(const std::wstring& text, size_t digits, unsigned long& value) {
    if (text.empty() || text.size() > digits) return false;
    value = 0;
    for (wchar_t c : text) {
        unsigned digit;
        if (c >= L'0' && c <= L'9')
            digit = static_cast<unsigned>(c - L'0');
        else if (c >= L'a' && c <= L'f')
            digit = static_cast<unsigned>(c - L'a' + 10);
        else if (c >= L'A' && c <= L'F')
            digit = static_cast<unsigned>(c - L'A' + 10);
        else
            return false;
        value = value * 16 + digit;
    }
    return true;
}

bool ParseGuid(const std::wstring& text, GUID& guid) {
    // {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}
    if (text.size() != 38 || text[0] != L'{' || text[37] != L'}') return false;
    for (size_t at : {9u, 14u, 19u, 24u})
        if (text[at] != L'-') return false;
    unsigned long part = 0;
    if (!ParseHex(text.substr(1, 8), 8, part)) return false;
    guid.Data1 = part;
    if (!ParseHex(text.substr(10, 4), 4, part)) return false;
    guid.Data2 = static_cast<unsigned short>(part);
    if (!ParseHex(text.substr(15, 4), 4, part)) return false;
    guid.Data3 = static_cast<unsigned short>(part);
    for (size_t i = 0; i < 8; ++i) {
        const size_t at = i < 2 ? 20 + 2 * i : 25 + 2 * (i - 2);
        if (!ParseHex(text.substr(at, 2), 2, part)) return false;
        guid.Data4[i] = static_cast<unsigned char>(part);
    }
    return true;
}

} // namespace vandrel
