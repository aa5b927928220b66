#include "registrar/registry/IdentityRemoval.h"

#include "common/Owned.h"
#include "registrar/registry/KeyNames.h"

namespace vandrel {
namespace {

// The other registry view: a 64-bit process writes Interface keys there as
// well, and so does a 32-bit one on a 64-bit system.
REGSAM OtherView() {
    if (sizeof(void*) == 8) return KEY_WOW64_32KEY;
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64 ? KEY_WOW64_64KEY : 0;
}

bool Removed(LSTATUS status) {
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

// As the platform removes an interface's key: its three subkeys, then the
// key itself, which stays where anything else is left in it.
HRESULT RemoveInterface(const RegistrarPlatform& registry, HKEY classes, const IID& iid,
                        REGSAM view) {
    const std::wstring key = InterfaceKeyName(iid);
    OwnedKey opened;
    const LSTATUS status =
        registry.RegOpenKeyExW(classes, key.c_str(), 0, KEY_READ | KEY_WRITE | view, opened.put());
    if (status == ERROR_FILE_NOT_FOUND) return S_OK;
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    // What does not go (a key with subkeys of its own) stays, as the
    // platform leaves it.
    for (const wchar_t* sub : {L"ProxyStubClsid", L"ProxyStubClsid32", L"TypeLib"})
        registry.RegDeleteKeyExW(opened.get(), sub, view, 0);
    opened.reset();
    registry.RegDeleteKeyExW(classes, key.c_str(), view, 0);
    return S_OK;
}

bool OnlyFlagsAndHelpDir(const RegistrarPlatform& registry, HKEY version) {
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (registry.RegEnumKeyExW(version, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            return true;
        const std::wstring sub(name, length);
        if (sub != L"FLAGS" && sub != L"HELPDIR") return false;
    }
}

} // namespace

std::vector<REGSAM> InterfaceViews() {
    std::vector<REGSAM> views{0};
    if (const REGSAM other = OtherView()) views.push_back(other);
    return views;
}

LSTATUS OpenClasses(const RegistrarPlatform& registry, Scope scope, REGSAM view, HKEY* key,
                    REGSAM access) {
    return registry.RegOpenKeyExW(scope == Scope::User ? HKEY_CURRENT_USER : HKEY_CLASSES_ROOT,
                                  scope == Scope::User ? L"Software\\Classes" : L"", 0,
                                  access | view, key);
}

std::vector<IID> RegisteredInterfaces(const RegistrarPlatform& registry, const LibraryId& id,
                                      Scope scope) {
    std::vector<ViewInterfaces> views;
    for (REGSAM view : InterfaceViews())
        views.push_back({view, InterfacesNaming(registry, id, scope, view)});
    return AllInterfaces(views);
}

std::vector<ViewInterfaces> InterfacesToRemove(const RegistrarPlatform& registry,
                                               const LibraryId& id, Scope scope) {
    std::vector<ViewInterfaces> views;
    for (const Registration& other : Registrations(registry, id.guid, id.major, id.minor))
        if (other.scope == scope && (other.id.lcid != id.lcid || other.id.syskind != id.syskind))
            return views;
    for (REGSAM view : InterfaceViews())
        views.push_back({view, InterfacesNaming(registry, id, scope, view)});
    return views;
}

std::vector<IID> AllInterfaces(const std::vector<ViewInterfaces>& views) {
    std::vector<IID> all;
    for (const ViewInterfaces& view : views)
        for (const IID& iid : view.iids) {
            bool known = false;
            for (const IID& have : all)
                known = known || IsEqualGUID(have, iid);
            if (!known) all.push_back(iid);
        }
    return all;
}

HRESULT RemoveRegistration(const RegistrarPlatform& registry, const LibraryId& id,
                           const std::vector<ViewInterfaces>& interfaces, Scope scope) {
    for (const ViewInterfaces& view : interfaces) {
        OwnedKey classes;
        const LSTATUS opened = OpenClasses(registry, scope, view.view, classes.put());
        if (opened != ERROR_SUCCESS) return HRESULT_FROM_WIN32(opened);
        for (const IID& iid : view.iids)
            if (const HRESULT status = RemoveInterface(registry, classes.get(), iid, view.view);
                status != S_OK)
                return status;
    }
    OwnedKey classes;
    LSTATUS status = OpenClasses(registry, scope, 0, classes.put());
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    const std::wstring library = TypeLibKeyName(id.guid);
    const std::wstring version = VersionKeyName(id);
    const std::wstring locale = HexName(id.lcid);
    OwnedKey versionKey;
    status = registry.RegOpenKeyExW(classes.get(), version.c_str(), 0, KEY_READ | KEY_WRITE,
                                    versionKey.put());
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    status = registry.RegDeleteKeyExW(versionKey.get(),
                                      (locale + L"\\" + PlatformKeyName(id.syskind)).c_str(), 0, 0);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    // The locale stays while it holds another platform's registration.
    registry.RegDeleteKeyExW(versionKey.get(), locale.c_str(), 0, 0);
    if (!OnlyFlagsAndHelpDir(registry, versionKey.get())) return S_OK;
    for (const wchar_t* sub : {L"FLAGS", L"HELPDIR"})
        if (!Removed(status = registry.RegDeleteKeyExW(versionKey.get(), sub, 0, 0)))
            return HRESULT_FROM_WIN32(status);
    versionKey.reset();
    if (!Removed(status = registry.RegDeleteKeyExW(classes.get(), version.c_str(), 0, 0)))
        return HRESULT_FROM_WIN32(status);
    // The library's key stays while it holds another version.
    registry.RegDeleteKeyExW(classes.get(), library.c_str(), 0, 0);
    return S_OK;
}

} // namespace vandrel
