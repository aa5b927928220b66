// The registration of a library as files for an installer, written without
// registering it: a .reg file as regedit writes it (/reg:<file>) and a WiX v3
// fragment of flat registry values (/wxs:<file>). The registry is only read.
#pragma once

#include "registrar/ModVandrel.h"
#include "shell/ModMain.h"

#include <string>
#include <vector>

namespace vandrel {

// Where the entries of a scope live, as a 64-bit importer reaches them:
// "HKEY_LOCAL_MACHINE\Software\Classes\TypeLib\..." for the shared keys,
// "...\Classes\Interface\..." for the 64-bit view (and 32-bit Windows), and
// "...\Classes\Wow6432Node\Interface\..." for the 32-bit view.
std::wstring EntryKeyPath(const RegistryEntry& entry, Scope scope);
// A string as a .reg file quotes it ("a\\b \"c\""), or as hex(1): bytes
// where it holds a character a quoted string cannot carry.
std::wstring RegValueText(const std::wstring& data);

// The .reg file's text, without its byte-order mark.
std::wstring RegFileText(const std::vector<RegistryEntry>& entries, Scope scope);
// The WiX fragment: a ComponentGroup `group` of components holding
// RegistryValue elements; for an x64 package the shared keys and the 64-bit
// view in a Win64 component and the 32-bit view in another, for an x86
// package the shared keys and the 32-bit view only.
std::wstring WixFragmentText(const std::vector<RegistryEntry>& entries, Scope scope,
                             const std::wstring& group, bool x64);

// /reg: and /wxs:, as the command line asks. 0 when every file asked for
// was written, 1 when the library could not be read or a file not written.
int Export(const CommandLine& line);

} // namespace vandrel
