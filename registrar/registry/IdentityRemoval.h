// Removing one registration of a library whose file is gone, key for key as
// the platform's unregistration removes it when the file is there: the
// platform can no longer, since it reads the file to learn the interfaces.
#pragma once

#include "registrar/RegistrarPlatform.h"
#include "registrar/RegistrarResult.h"
#include "registrar/registry/TypeLibRegistrations.h"

#include <vector>

namespace vandrel {

// The Interface keys of one registry view that a removal takes.
struct ViewInterfaces {
    REGSAM view; // 0 for the process's own view, or the other one's flag
    std::vector<IID> iids;
};

// The views the platform writes Interface keys in: its own (0) and, where
// there is one, the other (a 64-bit build's, or a 32-bit one's on 64-bit
// Windows).
std::vector<REGSAM> InterfaceViews();

// The scope's classes in one view: HKEY_CLASSES_ROOT for the machine, the
// user's own classes for the user.
LSTATUS OpenClasses(const RegistrarPlatform& registry, Scope scope, REGSAM view, HKEY* key,
                    REGSAM access = KEY_READ | KEY_WRITE);

// The interfaces registered for this library and version in the scope, in
// any view: those whose Interface key names them and that the platform's
// registration writes (InterfacesNaming).
std::vector<IID> RegisteredInterfaces(const RegistrarPlatform& registry, const LibraryId& id,
                                      Scope scope);

// The Interface keys that go with this registration, view by view: in each
// view those that name the library and version there and that the
// platform's registration writes, so that a key of the same interface in the
// other view, naming another version, stays. None while another registration
// of the library and version (another locale or platform) stays in the
// scope: it still uses them.
std::vector<ViewInterfaces> InterfacesToRemove(const RegistrarPlatform& registry,
                                               const LibraryId& id, Scope scope);

// Every interface of a removal's views, once: what the undo records.
std::vector<IID> AllInterfaces(const std::vector<ViewInterfaces>& views);

// Removes the registration's leaf TypeLib\{libid}\<version>\<locale>\<platform>,
// the locale key once it is empty, the version's FLAGS and HELPDIR and the
// version and library keys once nothing else is left in them, and the given
// interfaces' keys, each in its own view. S_OK, or the status of
// a removal that failed (what was removed before it stays removed: the
// caller's undo puts it back).
HRESULT RemoveRegistration(const RegistrarPlatform& registry, const LibraryId& id,
                           const std::vector<ViewInterfaces>& interfaces, Scope scope);

} // namespace vandrel
