#include "registrar/RegisteredFile.h"

#include "common/Owned.h"
#include "registrar/RegistrationKeys.h"

#include <vector>

namespace vandrel {

namespace {

std::optional<std::wstring> Lookup(const RegistrarPlatform& registry, const TLIBATTR& id,
                                   Scope scope, bool fallBack) {
    const std::wstring key = L"TypeLib\\" + GuidKeyName(id.guid) + L"\\" +
                             HexName(id.wMajorVerNum) + L"." + HexName(id.wMinorVerNum);
    const wchar_t* kind = id.syskind == SYS_WIN64   ? L"win64"
                          : id.syskind == SYS_WIN32 ? L"win32"
                                                    : L"win16";
    OwnedKey classes;
    if (scope == Scope::User && registry.RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0,
                                                       KEY_READ, classes.put()) != ERROR_SUCCESS)
        return std::nullopt;
    OwnedKey versionKey;
    if (registry.RegOpenKeyExW(scope == Scope::User ? classes.get() : HKEY_CLASSES_ROOT,
                               key.c_str(), 0, KEY_READ, versionKey.put()) != ERROR_SUCCESS)
        return std::nullopt;
    std::vector<LCID> locales{id.lcid};
    if (fallBack && id.lcid != 0) {
        const LCID sub = id.lcid >> 10;
        locales.push_back(sub);
        if (sub != 0) locales.push_back(0);
    }
    for (LCID lcid : locales) {
        const std::wstring leaf = HexName(lcid) + L"\\" + kind;
        OwnedKey leafKey;
        if (registry.RegOpenKeyExW(versionKey.get(), leaf.c_str(), 0, KEY_READ, leafKey.put()) !=
            ERROR_SUCCESS)
            continue;
        std::wstring path(MAX_PATH, L'\0');
        DWORD type = 0, bytes = static_cast<DWORD>(path.size() * sizeof(wchar_t));
        if (registry.RegQueryValueExW(leafKey.get(), nullptr, nullptr, &type,
                                      reinterpret_cast<BYTE*>(path.data()),
                                      &bytes) != ERROR_SUCCESS ||
            type != REG_SZ)
            continue;
        path.resize(bytes / sizeof(wchar_t));
        while (!path.empty() && path.back() == L'\0')
            path.pop_back();
        return path;
    }
    return std::nullopt;
}

} // namespace

std::optional<std::wstring> RegisteredFile(const RegistrarPlatform& registry, const TLIBATTR& id,
                                           Scope scope) {
    return Lookup(registry, id, scope, true);
}

std::optional<std::wstring> ExactlyRegisteredFile(const RegistrarPlatform& registry,
                                                  const TLIBATTR& id, Scope scope) {
    return Lookup(registry, id, scope, false);
}

} // namespace vandrel
