// Key text, both ways: the one place that writes the names the platform
// gives its TypeLib and Interface keys, and that reads them back.
#pragma once

#include "registrar/RegistrarResult.h"

#include <windows.h>
#include <oaidl.h>

#include <string>

namespace vandrel {

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", as the platform names its keys.
std::wstring GuidKeyName(const GUID& guid);
// Lower-case hexadecimal without leading zeros, as the platform writes
// versions ("1.a") and locales ("409") in key names.
std::wstring HexName(unsigned long value);
// "major.minor" in that hexadecimal.
std::wstring VersionName(WORD major, WORD minor);
// "win32", "win64" or "win16", as the registry names a platform.
const wchar_t* PlatformKeyName(SYSKIND syskind);
// "TypeLib\{libid}", "TypeLib\{libid}\<version>", "Interface\{iid}",
// relative to a classes root.
std::wstring TypeLibKeyName(const GUID& library);
std::wstring VersionKeyName(const LibraryId& id);
std::wstring InterfaceKeyName(const IID& iid);

// Braced GUID text, any case, to a GUID.
bool ParseGuid(const std::wstring& text, GUID& guid);
// A version as the registry writes it: hexadecimal major.minor.
bool ParseVersion(const std::wstring& text, WORD& major, WORD& minor);
// A hexadecimal number of up to `digits` digits.
bool ParseHex(const std::wstring& text, size_t digits, unsigned long& value);

} // namespace vandrel
