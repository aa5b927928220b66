#include "registrar/registry/RegistryValue.h"

namespace vandrel {

std::optional<std::wstring> ReadText(const RegistrarPlatform& registry, HKEY key,
                                     const wchar_t* value, DWORD* type) {
    std::wstring text(MAX_PATH, L'\0');
    // A value that grows between two reads is read again.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD kind = 0, bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        const LSTATUS status = registry.RegQueryValueExW(
            key, value, nullptr, &kind, reinterpret_cast<BYTE*>(text.data()), &bytes);
        if (status == ERROR_MORE_DATA) {
            text.resize(bytes / sizeof(wchar_t) + 1);
            continue;
        }
        if (status != ERROR_SUCCESS || (kind != REG_SZ && kind != REG_EXPAND_SZ))
            return std::nullopt;
        text.resize(bytes / sizeof(wchar_t));
        while (!text.empty() && text.back() == L'\0')
            text.pop_back();
        if (type) *type = kind;
        return text;
    }
    return std::nullopt;
}

std::vector<std::wstring> Subkeys(const RegistrarPlatform& registry, HKEY key) {
    std::vector<std::wstring> names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (registry.RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

} // namespace vandrel
