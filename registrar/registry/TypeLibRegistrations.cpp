#include "registrar/registry/TypeLibRegistrations.h"

#include "common/Owned.h"
#include "common/SameText.h"
#include "registrar/host/LoadablePath.h"
#include "registrar/registry/KeyNames.h"
#include "registrar/registry/RegistryValue.h"

#include <utility>

namespace vandrel {
namespace {

// A string value, or empty where there is none.
std::wstring Text(const RegistrarPlatform& registry, HKEY key, const wchar_t* value) {
    return ReadText(registry, key, value).value_or(L"");
}

OwnedKey Open(const RegistrarPlatform& registry, HKEY parent, const std::wstring& name,
              REGSAM view) {
    OwnedKey key;
    if (registry.RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ | view, key.put()) !=
        ERROR_SUCCESS)
        key.reset();
    return key;
}

// The scope's classes: the merged HKEY_CLASSES_ROOT for the machine, as the
// platform reads it, or the user's own.
OwnedKey Classes(const RegistrarPlatform& registry, Scope scope, REGSAM view) {
    return Open(registry, scope == Scope::User ? HKEY_CURRENT_USER : HKEY_CLASSES_ROOT,
                scope == Scope::User ? L"Software\\Classes" : L"", view);
}

bool ParsePlatform(const std::wstring& text, SYSKIND& syskind) {
    for (SYSKIND kind : {SYS_WIN16, SYS_WIN32, SYS_WIN64})
        if (SameText(text, PlatformKeyName(kind))) {
            syskind = kind;
            return true;
        }
    return false;
}

// The two proxies the platform's registration names for the interfaces it
// writes keys for: dual or oleautomation interfaces, and dispinterfaces.
bool IsAutomationProxy(const std::wstring& clsid) {
    return SameText(clsid, L"{00020424-0000-0000-C000-000000000046}") ||
           SameText(clsid, L"{00020420-0000-0000-C000-000000000046}");
}

void AddOnce(std::vector<Registration>& all, Registration found) {
    for (const Registration& known : all)
        if (known.scope == found.scope && IsEqualGUID(known.id.guid, found.id.guid) &&
            known.id.major == found.id.major && known.id.minor == found.id.minor &&
            known.id.lcid == found.id.lcid && known.id.syskind == found.id.syskind &&
            SameText(known.path, found.path))
            return;
    all.push_back(std::move(found));
}

// The registrations under one TypeLib\{libid}\<version> key; a leaf that
// names no path only where `withEmpty`.
void VersionRegistrations(const RegistrarPlatform& registry, HKEY version, Scope scope, REGSAM view,
                          LibraryId id, bool withEmpty, std::vector<Registration>& all) {
    for (const std::wstring& locale : Subkeys(registry, version)) {
        unsigned long lcid = 0;
        if (!ParseHex(locale, 8, lcid)) continue; // FLAGS, HELPDIR
        const OwnedKey localeKey = Open(registry, version, locale, view);
        if (!localeKey) continue;
        for (const std::wstring& platform : Subkeys(registry, localeKey.get())) {
            if (!ParsePlatform(platform, id.syskind)) continue;
            const OwnedKey leaf = Open(registry, localeKey.get(), platform, view);
            if (!leaf) continue;
            id.lcid = lcid;
            DWORD type = REG_SZ;
            std::wstring path = ReadText(registry, leaf.get(), nullptr, &type).value_or(L"");
            if (path.empty()) {
                if (withEmpty) all.push_back({scope, view, id, L"", FileState::Unreachable});
                continue;
            }
            const FileState state = LeafFileState(path, type);
            AddOnce(all, {scope, view, id, std::move(path), state});
        }
    }
}

struct Place {
    HKEY hive;
    Scope scope;
};
const Place kPlaces[] = {{HKEY_LOCAL_MACHINE, Scope::Machine}, {HKEY_CURRENT_USER, Scope::User}};

// The registrations in one place's TypeLib key, seen through one view: all,
// or those of one library and version. ERROR_SUCCESS, or why the key could
// not be opened (none at all is no error: nothing is registered).
LSTATUS CollectIn(const RegistrarPlatform& registry, const Place& place, REGSAM view,
                  const GUID* only, WORD major, WORD minor, bool withEmpty,
                  std::vector<Registration>& all) {
    OwnedKey libraries;
    const LSTATUS opened = registry.RegOpenKeyExW(place.hive, L"Software\\Classes\\TypeLib", 0,
                                                  KEY_READ | view, libraries.put());
    if (opened != ERROR_SUCCESS) return opened == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : opened;
    const std::vector<std::wstring> guids =
        only ? std::vector<std::wstring>{GuidKeyName(*only)} : Subkeys(registry, libraries.get());
    for (const std::wstring& text : guids) {
        LibraryId id;
        if (!ParseGuid(text, id.guid)) continue;
        const OwnedKey library = Open(registry, libraries.get(), text, view);
        if (!library) continue;
        for (const std::wstring& version : Subkeys(registry, library.get())) {
            if (!ParseVersion(version, id.major, id.minor)) continue;
            if (only && (id.major != major || id.minor != minor)) continue;
            const OwnedKey versionKey = Open(registry, library.get(), version, view);
            if (versionKey)
                VersionRegistrations(registry, versionKey.get(), place.scope, view, id, withEmpty,
                                     all);
        }
    }
    return ERROR_SUCCESS;
}

void Collect(const RegistrarPlatform& registry, const GUID* only, WORD major, WORD minor,
             std::vector<Registration>& all) {
    for (const Place& place : kPlaces)
        for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY})
            CollectIn(registry, place, view, only, major, minor, false, all);
}

// Every Interface key of a classes key, in one view, that names a library.
std::vector<InterfaceReference> References(const RegistrarPlatform& registry, HKEY classes,
                                           REGSAM view) {
    std::vector<InterfaceReference> references;
    const OwnedKey interfaces = classes ? Open(registry, classes, L"Interface", view) : OwnedKey();
    if (!interfaces) return references;
    for (const std::wstring& name : Subkeys(registry, interfaces.get())) {
        InterfaceReference reference;
        if (!ParseGuid(name, reference.iid)) continue;
        const OwnedKey library = Open(registry, interfaces.get(), name + L"\\TypeLib", view);
        if (!library) continue;
        reference.library = Text(registry, library.get(), nullptr);
        reference.version = Text(registry, library.get(), L"Version");
        const OwnedKey proxy = Open(registry, interfaces.get(), name + L"\\ProxyStubClsid32", view);
        if (proxy) reference.proxy = Text(registry, proxy.get(), nullptr);
        references.push_back(std::move(reference));
    }
    return references;
}

} // namespace

FileState LeafFileState(const std::wstring& text, DWORD type) {
    return type == REG_SZ ? RegisteredFileState(text) : FileState::Unreachable;
}

std::vector<Registration> Registrations(const RegistrarPlatform& registry) {
    std::vector<Registration> all;
    Collect(registry, nullptr, 0, 0, all);
    return all;
}

std::vector<Registration> Registrations(const RegistrarPlatform& registry, const GUID& library,
                                        WORD major, WORD minor) {
    std::vector<Registration> all;
    Collect(registry, &library, major, minor, all);
    return all;
}

std::wstring RegisteredName(const RegistrarPlatform& registry, const LibraryId& id, Scope scope) {
    const OwnedKey classes = Classes(registry, scope, 0);
    if (!classes) return L"";
    const OwnedKey version = Open(registry, classes.get(), VersionKeyName(id), 0);
    return version ? Text(registry, version.get(), nullptr) : L"";
}

std::vector<Registration> ScopeRegistrations(const RegistrarPlatform& registry, Scope scope,
                                             LSTATUS& status) {
    std::vector<Registration> all;
    status = CollectIn(registry, kPlaces[scope == Scope::User], 0, nullptr, 0, 0, true, all);
    return all;
}

std::vector<InterfaceReference> InterfaceReferences(const RegistrarPlatform& registry, Scope scope,
                                                    REGSAM view) {
    const OwnedKey classes =
        Open(registry, kPlaces[scope == Scope::User].hive, L"Software\\Classes", view);
    return References(registry, classes.get(), view);
}

std::vector<IID> InterfacesNaming(const RegistrarPlatform& registry, const LibraryId& id,
                                  Scope scope, REGSAM view) {
    std::vector<IID> naming;
    const OwnedKey classes = Classes(registry, scope, view);
    const std::wstring library = GuidKeyName(id.guid);
    const std::wstring version = VersionName(id.major, id.minor);
    for (const InterfaceReference& reference : References(registry, classes.get(), view))
        if (SameText(reference.library, library) && SameText(reference.version, version) &&
            IsAutomationProxy(reference.proxy))
            naming.push_back(reference.iid);
    return naming;
}

} // namespace vandrel
