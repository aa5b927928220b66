// System DLLs loaded on first use. Importing a large DLL costs every start
// of the program, also the runs that never need it; these are loaded only
// from the system folder, never from beside the program or the current one,
// and kept for the life of the process.
#pragma once

#include <windows.h>

#include <string>

namespace vandrel {

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

// An entry of a loaded module as the given function type, or nullptr.
template <typename Function> Function EntryOf(HMODULE module, const char* name) {
    FARPROC entry = module ? ::GetProcAddress(module, name) : nullptr;
    // Through the generic function type, which converts to any other.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(entry));
}

} // namespace vandrel
