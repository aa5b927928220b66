// The file registered for an identity: the one the platform's
// unregistration loads, and whose Interface keys it removes.
#pragma once

#include "registrar/RegistrarPlatform.h"
#include "registrar/RegistrarResult.h"

#include <optional>
#include <string>

namespace vandrel {

// The path registered for this identity in the scope's classes, looked up as
// the platform looks it up: the exact version, then the locale, its
// sublanguage and neutral. Nothing when none is registered.
std::optional<std::wstring> RegisteredFile(const RegistrarPlatform& registry, const TLIBATTR& id,
                                           Scope scope);
// The path of exactly this registration (locale and platform as given).
std::optional<std::wstring> ExactlyRegisteredFile(const RegistrarPlatform& registry,
                                                  const TLIBATTR& id, Scope scope);

} // namespace vandrel
