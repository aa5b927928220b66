// What the registry holds for type libraries: every registration (a leaf
// TypeLib\{libid}\<version>\<locale>\<platform> and the path it names), the
// name it goes by, and the Interface keys that name a library.
#pragma once

#include "registrar/RegistrarPlatform.h"
#include "registrar/RegistrarResult.h"
#include "registrar/registry/KeyNames.h"

#include <string>
#include <vector>

namespace vandrel {

struct Registration {
    Scope scope;
    REGSAM view; // KEY_WOW64_64KEY or KEY_WOW64_32KEY
    LibraryId id;
    std::wstring path;
    bool fileExists;
};

// The registrations in the machine's classes (both views) and the user's,
// each once, in registry order: all of them, or those of one library and
// version (any locale and platform).
std::vector<Registration> Registrations(const RegistrarPlatform& registry);
std::vector<Registration> Registrations(const RegistrarPlatform& registry, const GUID& library,
                                        WORD major, WORD minor);

// The name a registered version goes by (its key's default value), or empty.
std::wstring RegisteredName(const RegistrarPlatform& registry, const LibraryId& id, Scope scope);

// The interfaces whose Interface key names this library and version (its
// TypeLib subkey), in the scope's classes and one view.
std::vector<IID> InterfacesNaming(const RegistrarPlatform& registry, const LibraryId& id,
                                  Scope scope, REGSAM view);

} // namespace vandrel
