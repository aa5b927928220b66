// Reads what the platform's registration or unregistration of a loaded
// library reads for Vandrel's record, and nothing more: the library's
// identity and name, and which of its types get Interface keys. It never
// follows a reference into another library: resolving one would make the
// platform load that library by name, and a load by name registers it.
#pragma once

#include "registrar/RegistrarPlatform.h"
#include "registrar/WorkerProtocol.h"

namespace vandrel::worker {

// S_OK with `report` filled, or the status of the attribute record the
// library would not hand over. Everything obtained is given back. With
// `entries`, also what registration writes of the library's flags and of
// each interface it reports: the type's name and its proxy.
HRESULT WalkLibrary(const RegistrarPlatform& platform, ITypeLib* library, PlatformCall purpose,
                    LibraryReport& report, EntriesReport* entries = nullptr);

} // namespace vandrel::worker
