// Loads a type library and adds or removes its registration through the
// Automation library, reducing the platform's statuses to one flag. The
// library is read, and the platform's calls made, in a worker process
// (registrar/worker/); Vandrel keeps the turn, the record of what the call
// may change and the watch on the worker (registrar/host/); what the
// registry holds is read in registrar/registry/.
#pragma once

#include "common/Flag.h"
#include "registrar/RegistrarResult.h"

#include <optional>
#include <string>
#include <vector>

namespace vandrel {

// -1 when the library was loaded and registered, 0 otherwise. Either way the
// registry holds the whole registration or none of it (see RegistryUndo.h).
Flag RegisterLibrary(const std::wstring& path, const std::wstring& helpDir);
// -1 when the library was loaded and its registration removed, 0 otherwise.
Flag UnregisterLibrary(const std::wstring& path);

// RegisterLibrary and UnregisterLibrary in the given scope, with the cause.
RegistrarResult RegisterLibraryIn(const std::wstring& path, const std::wstring& helpDir,
                                  Scope scope);
RegistrarResult UnregisterLibraryIn(const std::wstring& path, Scope scope);

// Removes the one registration of this identity in the scope. Where its file
// still exists the platform removes it, as UnregisterLibraryIn would; where
// the file is gone it is removed as the platform would have removed it: the
// registration's key, the parents it leaves empty, and the Interface keys
// that name the library and version. Nothing registered: NotRegistered,
// nothing changed.
RegistrarResult UnregisterIdentityIn(const LibraryId& id, Scope scope);

// Reads a library file as registering it would, and writes nothing.
RegistrarResult DescribeLibrary(const std::wstring& path, LibraryFacts& facts);

// One value that registration writes, as REG_SZ text, relative to the
// classes root of its scope: in the TypeLib keys, which the views share
// (view 0), or in one view's Interface keys (KEY_WOW64_64KEY: those under
// Classes, the only ones of 32-bit Windows; KEY_WOW64_32KEY: the 32-bit
// view of 64-bit Windows). An empty name is the key's default value.
struct RegistryEntry {
    REGSAM view;
    std::wstring key;
    std::wstring name;
    std::wstring data;
    bool libraryPath; // the data is the library's path (the locale and platform leaf)
};

// The entries that registering `path` writes on this machine, in the order
// the platform writes them, read from the file in the worker; nothing is
// written. `installedAs`, when given, is the library's path in the entries
// in place of the file's full path; a resource index the path names
// ("x.dll\\2") follows it either way.
RegistrarResult RegistrationEntriesOf(const std::wstring& path, const std::wstring* installedAs,
                                      LibraryId& id, std::vector<RegistryEntry>& entries);

// One change a command would make to the registry: a key, or one value of
// a key, added ('+'), changed ('~', to the data given) or removed ('-').
struct RegistryChange {
    wchar_t kind;
    bool key; // the key itself, not one of its values
    RegistryEntry entry;
};

// What registering `path`, unregistering it, or removing the registration
// an identity names would change in the scope, and the result the command
// would have as far as it can be known without running it. The registry is
// only read.
RegistrarResult PredictRegistration(const std::wstring& path, Scope scope,
                                    std::vector<RegistryChange>& changes);
RegistrarResult PredictUnregistration(const std::wstring& path, Scope scope,
                                      std::vector<RegistryChange>& changes);
RegistrarResult PredictIdentityRemoval(const LibraryId& id, Scope scope,
                                       std::vector<RegistryChange>& changes);

// What the registry holds: every registration in the machine's classes
// (both views) and the user's, or those of one libid and version; and what
// a registered version goes by (its name, and how many interfaces its keys
// name), for the machine or else the user. The registry is only read.
std::vector<Registration> AllRegistrations();
std::vector<Registration> RegistrationsOf(const LibraryId& id);
LibraryFacts RegisteredFacts(const LibraryId& id);

// Every registration of the machine and the user judged (TypeLibCheck.cpp):
// each file read in the worker as registering it would read it, each
// Interface key's library looked for. kTrue when the check went through
// (whatever it found); otherwise the cause that stopped it, with what was
// found until then. `checked` counts the file registrations.
RegistrarResult CheckRegistrations(std::vector<Finding>& findings, size_t& checked);

// The absolute form of a path, as the platform makes it.
std::optional<std::wstring> FullPath(const std::wstring& path);

// A registration as the command line names it, in the registry's own key
// text: "{libid} major.minor lcid", then "/win16", "/win32" or "/win64" as a
// switch, or "win16", "win32" or "win64" as a word.
std::wstring IdentityText(const LibraryId& id, bool platformAsSwitch);
// Its last two words: "409 win64".
std::wstring LocaleAndPlatformText(const LibraryId& id);
// The libid, version and (when given) locale of such a line into `id`;
// false when they name no registration (a locale that is not hexadecimal
// names none).
bool ReadIdentity(const std::wstring& libid, const std::wstring& version,
                  const std::wstring* locale, LibraryId& id);

// The worker's start (the same executable, started with the worker's own
// argument text) and its run: the exit status.
bool IsWorkerArguments(const std::wstring& arguments);
int RunWorker(const std::wstring& arguments);

} // namespace vandrel
