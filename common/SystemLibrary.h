// System DLLs that the command line does not need are loaded on first use,
// never imported: an import costs every start of the program, also the runs
// that never call into it. The one rule: such a DLL comes from the system
// folder only (never from beside the program or the current folder), through
// SystemEntry, and stays loaded for the life of the process; nothing frees it,
// so callers may keep its entries in statics.
#pragma once

#include <windows.h>

#include <string>

namespace vandrel {
namespace detail {

inline HMODULE LoadSystemLibrary(const wchar_t* name) {
    HMODULE module = ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module || ::GetLastError() != ERROR_INVALID_PARAMETER) return module;
    // Systems without the search flags refuse them; name the folder instead.
    wchar_t folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    const std::wstring path = std::wstring(folder, length) + L"\\" + name;
    return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
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
