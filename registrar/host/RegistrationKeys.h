// The registry keys that registering or unregistering a type library may
// write: its TypeLib\{libid} subtree and the Interface\{iid} key of every
// interface it describes (relative to a classes root).
#pragma once

#include "registrar/host/RegistryUndo.h"

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

namespace vandrel {

// Whole for a call that may remove them; for registration, which only
// writes, the library's key whole and each interface's key by what
// registration writes into it.
std::vector<RegistryUndo::Watched>
RegistrationKeys(const GUID& library, const std::vector<GUID>& interfaces, bool writesOnly);

} // namespace vandrel
