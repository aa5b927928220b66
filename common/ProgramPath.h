// The full path of the running executable: what an elevated copy or a
// worker of it is started from.
#pragma once

#include <windows.h>

#include <string>

namespace vandrel {

// Empty where the platform cannot say.
inline std::wstring ProgramPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return L"";
        if (length < path.size()) return path.substr(0, length);
        path.resize(path.size() * 2);
    }
}

} // namespace vandrel
