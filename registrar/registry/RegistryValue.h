// The one reader of the registry's string values, of any length, and of
// a key's subkey names.
#pragma once

#include "registrar/RegistrarPlatform.h"

#include <optional>
#include <string>
#include <vector>

namespace vandrel {

// A REG_SZ or REG_EXPAND_SZ value without its terminating NULs (and its
// type, where asked), or nothing where there is no such value.
std::optional<std::wstring> ReadText(const RegistrarPlatform& registry, HKEY key,
                                     const wchar_t* value, DWORD* type = nullptr);

// The names of a key's subkeys (up to 255 characters, as key names are), in
// the registry's order.
std::vector<std::wstring> Subkeys(const RegistrarPlatform& registry, HKEY key);

} // namespace vandrel
