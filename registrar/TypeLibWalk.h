// Loads a type library and reads, inside the platform's guard, what the
// platform's registration or unregistration of it will read, before anything
// is written.
//
// A damaged library can load and still point at nonsense; the platform then
// reads through it while it writes. Reading the same parts first, where a
// fault is only a failed load, leaves the registration call nothing new to
// trip over. The walk reads nothing more than the platform would: above all
// it never follows a reference into another library, which would make the
// platform load that library by name, and a load by name registers it.
#pragma once

#include "common/Owned.h"
#include "registrar/RegistrarPlatform.h"
#include "registrar/RegistrarResult.h"

#include <string>
#include <vector>

namespace vandrel {

// What a walked library declares: the identity its registration goes under
// (TypeLib\{guid}) and the types it may write Interface\{iid} keys for.
struct TypeLibIdentity {
    GUID guid{};
    WORD major = 0;
    WORD minor = 0;
    LCID lcid = 0;
    SYSKIND syskind = SYS_WIN32;
    // What registration names the library after: its help string, or else
    // its name (read for registration only).
    std::wstring name;
    // Every dispinterface, and every interface flagged for Automation.
    std::vector<IID> interfaces;
};

// S_OK with the library and its identity, or the loader's status, or the
// code of the exception that ended the load or the walk (everything obtained
// released again, itself under the guard). `identity` means nothing after a
// failure.
HRESULT LoadAndWalk(const RegistrarPlatform& platform, const wchar_t* path, PlatformCall purpose,
                    ComPtr<ITypeLib>& library, TypeLibIdentity& identity);

} // namespace vandrel
