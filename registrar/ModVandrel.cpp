// The commands' road through the registrar. Vandrel resolves the path, has
// the worker load and walk the library, takes the turn, records what the
// platform may change, gives the worker the go-ahead for the platform's own
// call, and settles: what a failed call (or a lost worker) left is put back.
#include "registrar/ModVandrel.h"

#include "registrar/host/LoadablePath.h"
#include "registrar/host/RegistrationTurn.h"
#include "registrar/host/RegistrationUndo.h"
#include "registrar/host/Worker.h"
#include "registrar/registry/IdentityRemoval.h"
#include "registrar/registry/KeyNames.h"
#include "registrar/registry/RegisteredFile.h"
#include "registrar/registry/TypeLibRegistrations.h"

#include <utility>

namespace vandrel {
namespace {

using worker::LibraryReport;

// A file read in the worker: resolved, checked, loaded and walked there.
struct Read {
    Resolved file;
    LibraryReport library;
    RegistrarResult result;
};

Read ReadFile(WorkerClient& worker, const std::wstring& path, PlatformCall purpose) {
    Read read{Resolve(path), {}, kTrue};
    if (read.file.failure != Failure::None)
        read.result = {kFalse, read.file.failure, read.file.status};
    else
        read.result = worker.Load(read.file.path, read.file.fileBytes, purpose, read.library);
    return read;
}

// Every interface in either list, once.
void AddInterfaces(std::vector<IID>& to, const std::vector<IID>& from) {
    for (const IID& iid : from) {
        bool known = false;
        for (const IID& have : to)
            known = known || IsEqualGUID(have, iid);
        if (!known) to.push_back(iid);
    }
}

RegistrarResult Busy(HRESULT taken) {
    return {kFalse, TurnFailure(taken), taken};
}

// The file registered for an identity, read in the worker before the turn
// is taken, so that no file, however long the worker takes over it, holds
// the turn. Under the turn the registry is asked again: a registration that
// changed meanwhile is read again there. A registered name that exists but
// is no plain file never reaches a loader, the platform's included.
struct Registered {
    std::optional<std::wstring> path;
    Read read;
    bool loaded = false;
};

RegistrarResult ReadRegistered(WorkerClient& worker, const std::optional<std::wstring>& path,
                               const std::wstring* given, Registered& registered) {
    registered.path = path;
    registered.loaded = false;
    if (!path) return kTrue;
    Resolved resolved = Resolve(*path);
    // A file that is gone fails the platform's own load before it writes
    // anything; the given file is read already.
    if (Gone(resolved) || (given && SameFile(resolved.path, *given))) return kTrue;
    if (resolved.failure == Failure::NoFile) return {kFalse, Failure::NoFile, resolved.status};
    registered.read = ReadFile(worker, *path, PlatformCall::Unregister);
    registered.loaded = registered.read.result.flag == kTrue;
    return registered.read.result;
}

// Unregistration of an identity whose file `given` (when one was named, the
// worker's first library) was read for `interfaces`. The platform removes
// the Interface keys of the file registered for the identity: that file is
// read too, and the keys of both are recorded. `exactly`: the registration
// named is the one leaf, and where its file is gone it is removed all the same.
RegistrarResult UnregisterIdentity(WorkerClient& worker, const LibraryId& id,
                                   std::vector<IID> interfaces, const Read* given, Scope scope,
                                   bool exactly) {
    const RegistrarPlatform& registry = *RegistrarSeam();
    const std::wstring* givenPath = given ? &given->file.path : nullptr;
    // The exact leaf is read whatever its string type: one to be expanded
    // names no file Vandrel can judge (LeafFileState), so it stays.
    DWORD type = REG_SZ;
    auto lookup = [&] {
        type = REG_SZ;
        return exactly ? ExactlyRegisteredText(registry, id, scope, type)
                       : RegisteredFile(registry, id, scope);
    };
    const RegistrarResult unexpanded = {kFalse, Failure::NoFile,
                                        HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME)};
    Registered registered;
    const auto first = lookup();
    if (type != REG_SZ) return unexpanded;
    if (RegistrarResult read = ReadRegistered(worker, first, givenPath, registered);
        read.flag != kTrue)
        return read;
    HeldTurn turn;
    if (const HRESULT taken = TakeTurn(scope, turn); taken != S_OK) return Busy(taken);
    if (const auto now = lookup(); now != registered.path) {
        if (type != REG_SZ) return unexpanded;
        if (RegistrarResult read = ReadRegistered(worker, now, givenPath, registered);
            read.flag != kTrue)
            return read;
    }
    // Exactly this registration, and none: the platform is not asked, since
    // it would fall back on another locale's.
    if (!registered.path && exactly)
        return {kFalse, Failure::NotRegistered, TYPE_E_LIBNOTREGISTERED};
    if (registered.path && exactly && !registered.loaded && Gone(Resolve(*registered.path))) {
        // The file is gone, on a volume that answers: the registration goes
        // as the platform would have removed it, with the Interface keys its
        // registration wrote, view by view, that nothing else still uses.
        const std::vector<ViewInterfaces> keys = InterfacesToRemove(registry, id, scope);
        RegistrationUndo undo(registry, PlatformCall::Unregister, id.guid, AllInterfaces(keys),
                              scope);
        if (const HRESULT recorded = undo.recorded(); recorded != S_OK)
            return {kFalse, Failure::Platform, recorded};
        const HRESULT removed = RemoveRegistration(registry, id, keys, scope);
        return undo.Settle(removed == S_OK ? RegistrarResult(kTrue)
                                           : RegistrarResult(kFalse, Failure::Platform, removed));
    }
    if (registered.loaded) AddInterfaces(interfaces, registered.read.library.interfaces);
    RegistrationUndo undo(registry, PlatformCall::Unregister, id.guid, interfaces, scope);
    if (const HRESULT recorded = undo.recorded(); recorded != S_OK)
        return {kFalse, Failure::Platform, recorded};
    RegistrarResult call = given ? worker.UnregisterLoaded(0, scope, given->file.fileBytes)
                                 : worker.UnregisterIdentity(id, scope);
    // Nothing of this identity is registered here: the platform finds nothing
    // to remove and says so in its own way.
    if (!registered.path && call.failure == Failure::Platform)
        call.failure = Failure::NotRegistered;
    return undo.Settle(call);
}

} // namespace

Flag RegisterLibrary(const std::wstring& path, const std::wstring& helpDir) {
    return RegisterLibraryIn(path, helpDir, Scope::Machine).flag;
}

Flag UnregisterLibrary(const std::wstring& path) {
    return UnregisterLibraryIn(path, Scope::Machine).flag;
}

RegistrarResult RegisterLibraryIn(const std::wstring& path, const std::wstring& helpDir,
                                  Scope scope) {
    WorkerClient worker;
    const Read read = ReadFile(worker, path, PlatformCall::Register);
    if (read.result.flag != kTrue) return read.result;
    HeldTurn turn;
    if (const HRESULT taken = TakeTurn(scope, turn); taken != S_OK) return Busy(taken);
    RegistrationUndo undo(*RegistrarSeam(), PlatformCall::Register, read.library.id.guid,
                          read.library.interfaces, scope);
    if (const HRESULT recorded = undo.recorded(); recorded != S_OK)
        return {kFalse, Failure::Platform, recorded};
    return undo.Settle(worker.Register(0, read.file.path, helpDir, scope, read.file.fileBytes));
}

RegistrarResult UnregisterLibraryIn(const std::wstring& path, Scope scope) {
    WorkerClient worker;
    const Read read = ReadFile(worker, path, PlatformCall::Unregister);
    if (read.result.flag != kTrue) return read.result;
    return UnregisterIdentity(worker, read.library.id, read.library.interfaces, &read, scope,
                              false);
}

RegistrarResult UnregisterIdentityIn(const LibraryId& id, Scope scope) {
    WorkerClient worker;
    return UnregisterIdentity(worker, id, {}, nullptr, scope, true);
}

std::vector<Registration> AllRegistrations() {
    return Registrations(*RegistrarSeam());
}

std::vector<Registration> RegistrationsOf(const LibraryId& id) {
    return Registrations(*RegistrarSeam(), id.guid, id.major, id.minor);
}

LibraryFacts RegisteredFacts(const LibraryId& id) {
    const RegistrarPlatform& registry = *RegistrarSeam();
    LibraryFacts facts;
    facts.id = id;
    for (Scope scope : {Scope::Machine, Scope::User}) {
        facts.name = RegisteredName(registry, id, scope);
        facts.interfaces = RegisteredInterfaces(registry, id, scope).size();
        if (!facts.name.empty() || facts.interfaces) break;
    }
    return facts;
}

std::wstring IdentityText(const LibraryId& id, bool platformAsSwitch) {
    return GuidKeyName(id.guid) + L" " + VersionName(id.major, id.minor) + L" " + HexName(id.lcid) +
           (platformAsSwitch ? L" /" : L" ") + PlatformKeyName(id.syskind);
}

std::wstring LocaleAndPlatformText(const LibraryId& id) {
    return HexName(id.lcid) + L" " + PlatformKeyName(id.syskind);
}

bool ReadIdentity(const std::wstring& libid, const std::wstring& version,
                  const std::wstring* locale, LibraryId& id) {
    if (!ParseGuid(libid, id.guid) || !ParseVersion(version, id.major, id.minor)) return false;
    unsigned long lcid = 0;
    if (locale && !ParseHex(*locale, 8, lcid)) return false;
    id.lcid = lcid;
    return true;
}

RegistrarResult DescribeLibrary(const std::wstring& path, LibraryFacts& facts) {
    WorkerClient worker;
    const Read read = ReadFile(worker, path, PlatformCall::Register);
    if (read.result.flag != kTrue) return read.result;
    facts = {read.library.id, read.library.name, read.library.interfaces.size()};
    return kTrue;
}

} // namespace vandrel
