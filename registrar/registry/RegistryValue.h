// The one reader of the registry's string values, of any length.
#pragma once

#include "registrar/RegistrarPlatform.h"

#include <optional>
#include <string>

namespace vandrel {

// A REG_SZ or REG_EXPAND_SZ value without its terminating NULs (and its
// type, where asked), or nothing where there is no such value.
std::optional<std::wstring> ReadText(const RegistrarPlatform& registry, HKEY key,
                                     const wchar_t* value, DWORD* type = nullptr);

} // namespace vandrel
