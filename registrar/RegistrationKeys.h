// The registry keys that registering or unregistering a type library may
// write: its TypeLib\{libid} subtree and the Interface\{iid} key of every
// interface it describes (relative to a classes root).
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

namespace vandrel {

std::vector<std::wstring> RegistrationKeys(const GUID& library,
                                           const std::vector<GUID>& interfaces);

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", as the platform names its keys.
std::wstring GuidKeyName(const GUID& guid);

} // namespace vandrel
