// The registrar's platform calls that read a library the user handed over,
// each inside the platform's guard (FaultGuard.h). A hardware exception in
// one of them is a failed call: its code comes back as the status.
#pragma once

#include "common/Owned.h"
#include "registrar/RegistrarPlatform.h"

namespace vandrel {

// The status of a call that no guard could be set up for: it was not made.
inline constexpr HRESULT kNoGuard = E_UNEXPECTED;

// A fault's exception code as a failure status.
inline HRESULT FaultStatus(DWORD fault) {
    return fault ? static_cast<HRESULT>(fault) : kNoGuard;
}

// Releases an object that came from a library a fault ran through; a fault
// in the release itself leaves the object to the process.
void ReleaseGuarded(const RegistrarPlatform& platform, IUnknown* object);

// platform.RegisterTypeLib; after a fault the library is released (under
// the guard) and `library` cleared.
HRESULT GuardedRegister(const RegistrarPlatform& platform, ITypeLib*& library, wchar_t* path,
                        wchar_t* helpDir);
// platform.UnRegisterTypeLib, which reads the registered file itself.
HRESULT GuardedUnregister(const RegistrarPlatform& platform, const TLIBATTR& identity);

} // namespace vandrel
