// The file registered for an identity: the one the platform's
// unregistration loads, and whose Interface keys it removes.
#pragma once

#include "registrar/RegistrarPlatform.h"
#include "registrar/RegistrarResult.h"

#include <optional>
#include <string>
#include <vector>

namespace vandrel {

// The path registered for this identity in the scope's classes, looked up as
// the platform looks it up: the exact version, then the locale, its
// sublanguage and neutral. Nothing when none is registered.
std::optional<std::wstring> RegisteredFile(const RegistrarPlatform& registry, const LibraryId& id,
                                           Scope scope);
// The path of exactly this registration (locale and platform as given).
std::optional<std::wstring> ExactlyRegisteredFile(const RegistrarPlatform& registry,
                                                  const LibraryId& id, Scope scope);
// The text of exactly this registration, REG_SZ or REG_EXPAND_SZ, and its type.
std::optional<std::wstring> ExactlyRegisteredText(const RegistrarPlatform& registry,
                                                  const LibraryId& id, Scope scope, DWORD& type);

// The locales the lookup tries for `lcid`, in order. The sublanguage is the
// one Wine's lookup takes: the low 16 bits shifted right by 10, so that a
// locale with sort bits (0x10407) falls back to 1 and then to 0.
std::vector<LCID> LookupLocales(LCID lcid);

} // namespace vandrel
