// Removing one registration of a library whose file is gone, key for key as
// the platform's unregistration removes it when the file is there: the
// platform can no longer, since it reads the file to learn the interfaces.
#pragma once

#include "registrar/RegistrarPlatform.h"
#include "registrar/RegistrarResult.h"
#include "registrar/registry/TypeLibRegistrations.h"

#include <vector>

namespace vandrel {

// The interfaces the platform would remove with this registration: those
// whose Interface key names the library and version, in the views it writes.
std::vector<IID> InterfacesToRemove(const RegistrarPlatform& registry, const LibraryId& id,
                                    Scope scope);

// Removes the registration's leaf TypeLib\{libid}\<version>\<locale>\<platform>,
// the locale key once it is empty, the version's FLAGS and HELPDIR and the
// version and library keys once nothing else is left in them, and the given
// interfaces' keys in the views the platform writes. S_OK, or the status of
// a removal that failed (what was removed before it stays removed: the
// caller's undo puts it back).
HRESULT RemoveRegistration(const RegistrarPlatform& registry, const LibraryId& id,
                           const std::vector<IID>& interfaces, Scope scope);

} // namespace vandrel
