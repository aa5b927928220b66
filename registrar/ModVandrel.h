// Loads a type library and adds or removes its registration through the
// Automation library, reducing the platform's statuses to one flag.
#pragma once

#include "common/Flag.h"
#include "registrar/RegistrarResult.h"

#include <string>

namespace vandrel {

// -1 when the library was loaded and registered, 0 otherwise. Either way the
// registry holds the whole registration or none of it (see RegistryUndo.h).
Flag RegisterLibrary(const std::wstring& path, const std::wstring& helpDir);
// -1 when the library was loaded and its registration removed, 0 otherwise.
Flag UnregisterLibrary(const std::wstring& path);

// RegisterLibrary and UnregisterLibrary in the given scope, with the cause.
RegistrarResult RegisterLibraryIn(const std::wstring& path, const std::wstring& helpDir,
                                  Scope scope);
RegistrarResult UnregisterLibraryIn(const std::wstring& path, Scope scope);

} // namespace vandrel
