#include "registrar/registry/RegisteredFile.h"

#include "common/Owned.h"
#include "registrar/registry/KeyNames.h"
#include "registrar/registry/RegistryValue.h"

#include <vector>

namespace vandrel {

namespace {

std::optional<std::wstring> Lookup(const RegistrarPlatform& registry, const LibraryId& id,
                                   Scope scope, bool fallBack, DWORD* anyType = nullptr) {
    OwnedKey classes;
    if (scope == Scope::User && registry.RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0,
                                                       KEY_READ, classes.put()) != ERROR_SUCCESS)
        return std::nullopt;
    OwnedKey versionKey;
    if (registry.RegOpenKeyExW(scope == Scope::User ? classes.get() : HKEY_CLASSES_ROOT,
                               VersionKeyName(id).c_str(), 0, KEY_READ,
                               versionKey.put()) != ERROR_SUCCESS)
        return std::nullopt;
    const std::vector<LCID> locales = fallBack ? LookupLocales(id.lcid) : std::vector{id.lcid};
    for (LCID lcid : locales) {
        const std::wstring leaf = HexName(lcid) + L"\\" + PlatformKeyName(id.syskind);
        OwnedKey leafKey;
        if (registry.RegOpenKeyExW(versionKey.get(), leaf.c_str(), 0, KEY_READ, leafKey.put()) !=
            ERROR_SUCCESS)
            continue;
        DWORD type = 0;
        auto path = ReadText(registry, leafKey.get(), nullptr, &type);
        if (path && anyType) *anyType = type;
        if (path && (type == REG_SZ || anyType)) return path;
    }
    return std::nullopt;
}

} // namespace

std::vector<LCID> LookupLocales(LCID lcid) {
    std::vector<LCID> locales{lcid};
    if (lcid == 0) return locales;
    const LCID sub = static_cast<WORD>(lcid) >> 10;
    locales.push_back(sub);
    if (sub != 0) locales.push_back(0);
    return locales;
}

std::optional<std::wstring> RegisteredFile(const RegistrarPlatform& registry, const LibraryId& id,
                                           Scope scope) {
    return Lookup(registry, id, scope, true);
}

std::optional<std::wstring> ExactlyRegisteredFile(const RegistrarPlatform& registry,
                                                  const LibraryId& id, Scope scope) {
    return Lookup(registry, id, scope, false);
}

std::optional<std::wstring> ExactlyRegisteredText(const RegistrarPlatform& registry,
                                                  const LibraryId& id, Scope scope, DWORD& type) {
    return Lookup(registry, id, scope, false, &type);
}

} // namespace vandrel
