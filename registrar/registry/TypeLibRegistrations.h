// What the registry holds for type libraries: every registration (a leaf
// TypeLib\{libid}\<version>\<locale>\<platform> and the path it names), the
// name it goes by, and the Interface keys that name a library.
#pragma once

#include "registrar/RegistrarPlatform.h"
#include "registrar/RegistrarResult.h"
#include "registrar/host/LoadablePath.h"
#include "registrar/registry/KeyNames.h"

#include <string>
#include <vector>

namespace vandrel {

// The state of the file a registration's text names. Text of type
// REG_EXPAND_SZ is taken as it stands, as the platform's lookup takes it,
// and is unreachable: which file it means turns on a reader's environment
// that Vandrel would only guess, and the platform never writes one.
FileState LeafFileState(const std::wstring& text, DWORD type);

// The registrations in the machine's classes (both views) and the user's,
// each once, in registry order: all of them, or those of one library and
// version (any locale and platform). A leaf that names no path is no file
// registration and is left out.
std::vector<Registration> Registrations(const RegistrarPlatform& registry);
std::vector<Registration> Registrations(const RegistrarPlatform& registry, const GUID& library,
                                        WORD major, WORD minor);

// The leaves of one scope's TypeLib key (HKLM's or HKCU's
// Software\Classes\TypeLib), read once, in the process's own view: the key
// is shared between the views. A leaf that names no path is there too, with
// an empty path: it registers its version, though no file. `status` is
// ERROR_SUCCESS, or why the key could not be read (a scope without one has
// nothing registered, and no error).
std::vector<Registration> ScopeRegistrations(const RegistrarPlatform& registry, Scope scope,
                                             LSTATUS& status);

// An Interface key that names a library in its TypeLib subkey: the texts
// of that subkey's default and Version values and of its ProxyStubClsid32.
struct InterfaceReference {
    IID iid{};
    std::wstring library;
    std::wstring version;
    std::wstring proxy;
};
// Every such key in the scope's own classes (HKLM's or HKCU's
// Software\Classes), in one view.
std::vector<InterfaceReference> InterfaceReferences(const RegistrarPlatform& registry, Scope scope,
                                                    REGSAM view);

// The name a registered version goes by (its key's default value), or empty.
std::wstring RegisteredName(const RegistrarPlatform& registry, const LibraryId& id, Scope scope);

// The interfaces whose Interface key names this library and version (its
// TypeLib subkey) and is of the kind the platform's registration writes
// (an Automation proxy), in the scope's classes and one view. A key with a
// proxy of its own was written by someone else, whatever it names.
std::vector<IID> InterfacesNaming(const RegistrarPlatform& registry, const LibraryId& id,
                                  Scope scope, REGSAM view);

} // namespace vandrel
