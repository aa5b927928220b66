// What registration writes, key for key, computed from the library as the
// worker reads it: the version key's name, the locale and platform leaf
// (the path), FLAGS and HELPDIR, and the Interface keys of each view.
#include "registrar/host/RegistrationEntries.h"

#include "common/DecimalText.h"
#include "registrar/ModVandrel.h"

#include "registrar/host/LoadablePath.h"
#include "registrar/host/Worker.h"
#include "registrar/registry/IdentityRemoval.h"
#include "registrar/registry/KeyNames.h"

namespace vandrel {
namespace {

// The proxies the platform names: the Automation proxy for interfaces
// (dual ones included), the dispatch proxy for dispinterfaces.
constexpr wchar_t kAutomationProxy[] = L"{00020424-0000-0000-C000-000000000046}";
constexpr wchar_t kDispatchProxy[] = L"{00020420-0000-0000-C000-000000000046}";

// The platform's registration of the loaded library, as Vandrel makes it:
// with an empty help folder, which HELPDIR then holds.
void AddLibrary(const LibraryId& id, const std::wstring* name, const std::wstring& path, WORD flags,
                std::vector<RegistryEntry>& to) {
    const std::wstring version = VersionKeyName(id);
    if (name) to.push_back({0, version, L"", *name, false});
    to.push_back({0, version + L"\\" + HexName(id.lcid) + L"\\" + PlatformKeyName(id.syskind), L"",
                  path, true});
    to.push_back({0, version + L"\\FLAGS", L"", DecimalText(flags), false});
    to.push_back({0, version + L"\\HELPDIR", L"", L"", false});
}

void AddInterface(const LibraryId& id, const worker::InterfaceEntry& entry, REGSAM view,
                  std::vector<RegistryEntry>& to) {
    const std::wstring key = InterfaceKeyName(entry.iid);
    const wchar_t* proxy = entry.dispatchProxy ? kDispatchProxy : kAutomationProxy;
    if (entry.named) to.push_back({view, key, L"", entry.name, false});
    to.push_back({view, key + L"\\ProxyStubClsid", L"", proxy, false});
    to.push_back({view, key + L"\\ProxyStubClsid32", L"", proxy, false});
    to.push_back({view, key + L"\\TypeLib", L"", GuidKeyName(id.guid), false});
    to.push_back({view, key + L"\\TypeLib", L"Version", VersionName(id.major, id.minor), false});
}

} // namespace

// A 32-bit build's own view is the 32-bit view only where there is another.
REGSAM NamedView(REGSAM view) {
    if (view) return view;
    return sizeof(void*) == 8 || InterfaceViews().size() == 1 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

REGSAM CallView(REGSAM named) {
    return named == NamedView(0) ? 0 : named;
}

RegistrarResult RegistrationEntriesOf(const std::wstring& path, const std::wstring* installedAs,
                                      LibraryId& id, std::vector<RegistryEntry>& entries) {
    const Resolved file = Resolve(path);
    if (file.failure != Failure::None) return {kFalse, file.failure, file.status};
    WorkerClient worker;
    worker::LibraryReport library;
    if (RegistrarResult loaded =
            worker.Load(file.path, file.fileBytes, PlatformCall::Register, library);
        loaded.flag != kTrue)
        return loaded;
    // A platform kind the registry has no key name for fails the platform's
    // registration before it writes the path.
    if (library.id.syskind > SYS_WIN64) return {kFalse, Failure::Platform, E_FAIL};
    worker::EntriesReport read;
    if (RegistrarResult found = worker.Entries(0, library, file.fileBytes, read);
        found.flag != kTrue)
        return found;
    id = library.id;
    entries.clear();
    AddLibrary(id, read.libNamed ? &library.name : nullptr,
               installedAs ? *installedAs + ResourceSuffix(file) : file.path, read.libFlags,
               entries);
    // View by view, as the platform writes them: its own view, then the
    // other. Only a 32-bit build on 64-bit Windows has a 64-bit other view.
    for (const worker::InterfaceEntry& entry : read.interfaces)
        for (REGSAM view : InterfaceViews())
            AddInterface(id, entry, NamedView(view), entries);
    return kTrue;
}

} // namespace vandrel
