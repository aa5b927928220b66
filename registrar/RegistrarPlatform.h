// Every platform call of the registrar that tests replace: the Automation
// library's and the scratch block's (made in the worker), and the
// registry's (made by Vandrel around it). The loaded library's own calls go
// through the ITypeLib that LoadTypeLib hands back. File probes have a seam
// of their own (host/LoadablePath.h), and so has the turn
// (host/RegistrationTurn.h).
#pragma once

#include "common/Seam.h"

#include <windows.h>
#include <oaidl.h>

namespace vandrel {

struct RegistrarPlatform {
    // Loading never registers (LoadTypeLibEx with REGKIND_NONE).
    HRESULT(WINAPI* LoadTypeLib)(const wchar_t* path, ITypeLib** library);
    HRESULT(WINAPI* RegisterTypeLib)(ITypeLib* library, wchar_t* path, wchar_t* helpDir);
    HRESULT(WINAPI* UnRegisterTypeLib)
    (REFGUID libId, WORD major, WORD minor, LCID lcid, SYSKIND syskind);
    void(WINAPI* SysFreeString)(BSTR text);
    // Does nothing where the Automation library does not export it.
    void(WINAPI* OaEnablePerUserTLibRegistration)();

    HLOCAL(WINAPI* LocalAlloc)(UINT flags, SIZE_T bytes);
    HLOCAL(WINAPI* LocalFree)(HLOCAL block);
    DWORD(WINAPI* GetLastError)();

    // What the undo records and restores with, what the registered path is
    // read with, and HKEY_CLASSES_ROOT's redirection to the user's classes.
    // Values are written back byte for byte.
    decltype(&::RegOpenKeyExW) RegOpenKeyExW;
    decltype(&::RegCreateKeyExW) RegCreateKeyExW;
    decltype(&::RegQueryInfoKeyW) RegQueryInfoKeyW;
    decltype(&::RegEnumKeyExW) RegEnumKeyExW;
    decltype(&::RegEnumValueW) RegEnumValueW;
    decltype(&::RegQueryValueExW) RegQueryValueExW;
    decltype(&::RegSetValueExW) RegSetValueExW;
    decltype(&::RegDeleteValueW) RegDeleteValueW;
    decltype(&::RegDeleteTreeW) RegDeleteTreeW;
    decltype(&::RegDeleteKeyExW) RegDeleteKeyExW;
    decltype(&::RegGetKeySecurity) RegGetKeySecurity;
    decltype(&::RegSetKeySecurity) RegSetKeySecurity;
    decltype(&::RegOverridePredefKey) RegOverridePredefKey;
    decltype(&::RegCloseKey) RegCloseKey;
};

Seam<RegistrarPlatform>& RegistrarSeam();

} // namespace vandrel
