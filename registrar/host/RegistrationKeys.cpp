#include "registrar/host/RegistrationKeys.h"

#include "registrar/registry/KeyNames.h"

namespace vandrel {
namespace {

// What registration writes into an interface's key: the interface's name,
// its proxy and stub class in both forms, and the library and version it
// belongs to.
const RegistryUndo::Shape kDefaultValue = {{L""}, {}};
const RegistryUndo::Shape kLibraryReference = {{L"", L"Version"}, {}};
const RegistryUndo::Shape kInterfaceWrites = {{L""},
                                              {{L"ProxyStubClsid", &kDefaultValue},
                                               {L"ProxyStubClsid32", &kDefaultValue},
                                               {L"TypeLib", &kLibraryReference}}};

} // namespace

std::vector<RegistryUndo::Watched>
RegistrationKeys(const GUID& library, const std::vector<GUID>& interfaces, bool writesOnly) {
    std::vector<RegistryUndo::Watched> keys;
    keys.reserve(interfaces.size() + 1);
    keys.push_back({TypeLibKeyName(library)});
    for (const GUID& iid : interfaces)
        keys.push_back({InterfaceKeyName(iid), writesOnly ? &kInterfaceWrites : nullptr});
    return keys;
}

} // namespace vandrel
