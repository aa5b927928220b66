// System DLLs that the command line does not need are loaded on first use,
// never imported: an import costs every start of the program, also the runs
// that never call into it. The one rule: such a DLL comes from the system
// folder only (never from beside the program or the current folder), through
// SystemEntry, and stays loaded for the life of the process; nothing frees it,
// so callers may keep its entries in statics.
#pragma once

#include <windows.h>

namespace vandrel {
namespace detail {

// The program starts only where the search flags exist (its start-up imports
// SetDefaultDllDirectories), so no system without them is served here.
inline HMODULE LoadSystemLibrary(const wchar_t* name) {
    return ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

} // namespace detail

// The entry `name` of the system DLL `dll` as the given function type, or
// nullptr when the DLL or the entry is missing.
template <typename Function> Function SystemEntry(const wchar_t* dll, const char* name) {
    const HMODULE module = detail::LoadSystemLibrary(dll);
    const FARPROC entry = module ? ::GetProcAddress(module, name) : nullptr;
    // Through the generic function type, which converts to any other.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(entry));
}

} // namespace vandrel
