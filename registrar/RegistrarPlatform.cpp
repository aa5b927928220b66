#include "registrar/RegistrarPlatform.h"

#include "common/SystemLibrary.h"

#include <winternl.h>

#include <cwchar>

namespace vandrel {
namespace {

// The Automation library is loaded on the first registrar call: the window
// starts faster without it and the command line needs it anyway.
template <typename Function> Function Automation(const char* name) {
    return SystemEntry<Function>(L"oleaut32.dll", name);
}

// An entry the Automation library does not export. The last error is not
// read: the entry was looked up once, perhaps many calls ago.
constexpr HRESULT kUnavailable = HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);

HRESULT WINAPI LoadWithoutRegistering(const wchar_t* path, ITypeLib** library) {
    static const auto load = Automation<decltype(&::LoadTypeLibEx)>("LoadTypeLibEx");
    if (!load) return kUnavailable;
    // The plain loader registers a library by itself when the name has no
    // directory; an unregister run must never register first.
    return load(path, REGKIND_NONE, library);
}

HRESULT WINAPI RegisterReal(ITypeLib* library, wchar_t* path, wchar_t* helpDir) {
    static const auto registerTypeLib = Automation<decltype(&::RegisterTypeLib)>("RegisterTypeLib");
    if (!registerTypeLib) return kUnavailable;
    return registerTypeLib(library, path, helpDir);
}

HRESULT WINAPI UnregisterReal(REFGUID libId, WORD major, WORD minor, LCID lcid, SYSKIND syskind) {
    static const auto unregister = Automation<decltype(&::UnRegisterTypeLib)>("UnRegisterTypeLib");
    if (!unregister) return kUnavailable;
    return unregister(libId, major, minor, lcid, syskind);
}

void WINAPI FreeStringReal(BSTR text) {
    static const auto free = Automation<decltype(&::SysFreeString)>("SysFreeString");
    if (free) free(text);
}

void WINAPI EnablePerUserReal() {
    // Windows 7 and later ignore the redirection of HKCR in the registration
    // calls without it; older systems and Wine have no such switch.
    static const auto enable = Automation<void(WINAPI*)()>("OaEnablePerUserTLibRegistration");
    if (enable) enable();
}

// Wine's RegSetValueExW takes a string whose data is followed in memory by
// a NUL for one whose terminator was left out of its size, and writes the
// NUL too: a recorded string that had none would come back longer, or not,
// by what lies after it. The native call writes the bytes it is given.
LSTATUS WINAPI SetValueAsRecorded(HKEY key, const wchar_t* name, DWORD, DWORD type,
                                  const BYTE* data, DWORD size) {
    using Set = NTSTATUS(NTAPI*)(HANDLE, UNICODE_STRING*, ULONG, ULONG, const void*, ULONG);
    static const auto set = SystemEntry<Set>(L"ntdll.dll", "NtSetValueKey");
    static const auto error =
        SystemEntry<ULONG(NTAPI*)(NTSTATUS)>(L"ntdll.dll", "RtlNtStatusToDosError");
    if (!set || !error) return ERROR_PROC_NOT_FOUND;
    const size_t chars = name ? std::wcslen(name) : 0;
    if (chars > UNICODE_STRING_MAX_CHARS) return ERROR_INVALID_PARAMETER;
    const auto bytes = static_cast<USHORT>(chars * sizeof(wchar_t));
    UNICODE_STRING counted = {bytes, bytes, const_cast<wchar_t*>(name ? name : L"")};
    return static_cast<LSTATUS>(error(set(key, &counted, 0, type, data, size)));
}

const RegistrarPlatform kReal = {
    .LoadTypeLib = LoadWithoutRegistering,
    .RegisterTypeLib = RegisterReal,
    .UnRegisterTypeLib = UnregisterReal,
    .SysFreeString = FreeStringReal,
    .OaEnablePerUserTLibRegistration = EnablePerUserReal,
    .LocalAlloc = ::LocalAlloc,
    .LocalFree = ::LocalFree,
    .GetLastError = ::GetLastError,
    .RegOpenKeyExW = ::RegOpenKeyExW,
    .RegCreateKeyExW = ::RegCreateKeyExW,
    .RegQueryInfoKeyW = ::RegQueryInfoKeyW,
    .RegEnumKeyExW = ::RegEnumKeyExW,
    .RegEnumValueW = ::RegEnumValueW,
    .RegQueryValueExW = ::RegQueryValueExW,
    .RegSetValueExW = SetValueAsRecorded,
    .RegDeleteValueW = ::RegDeleteValueW,
    .RegDeleteTreeW = ::RegDeleteTreeW,
    .RegDeleteKeyExW = ::RegDeleteKeyExW,
    .RegGetKeySecurity = ::RegGetKeySecurity,
    .RegSetKeySecurity = ::RegSetKeySecurity,
    .RegOverridePredefKey = ::RegOverridePredefKey,
    .RegCloseKey = ::RegCloseKey,
};

} // namespace

Seam<RegistrarPlatform>& RegistrarSeam() {
    static Seam<RegistrarPlatform> seam(kReal);
    return seam;
}

} // namespace vandrel
