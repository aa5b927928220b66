#include "registrar/ModVandrel.h"

#include "registrar/GuardedCalls.h"
#include "registrar/IdentityRemoval.h"
#include "registrar/LoadablePath.h"
#include "registrar/RegisteredFile.h"
#include "registrar/RegistrarPlatform.h"
#include "registrar/RegistrationTurn.h"
#include "registrar/RegistrationUndo.h"
#include "registrar/TypeLibWalk.h"
#include "registrar/UserScope.h"

#include <cstddef>
#include <cstring>
#include <optional>
#include <utility>

namespace vandrel {
namespace {

// The attribute fields UnregisterLibrary uses: guid, lcid, syskind and the
// three version and flag words, 30 bytes without gaps on both targets.
constexpr SIZE_T kAttrBytes = 30;
static_assert(offsetof(TLIBATTR, lcid) == 16);
static_assert(offsetof(TLIBATTR, syskind) == 20);
static_assert(offsetof(TLIBATTR, wMajorVerNum) == 24);
static_assert(offsetof(TLIBATTR, wMinorVerNum) == 26);
static_assert(offsetof(TLIBATTR, wLibFlags) == 28);
static_assert(offsetof(TLIBATTR, wLibFlags) + sizeof(WORD) == kAttrBytes);

// The scratch block of an unregistration: zeroed memory of the attribute
// fields' size, given back through the table that gave it.
struct ScratchBlock {
    explicit ScratchBlock(const RegistrarPlatform& from)
        : platform(from), block(from.LocalAlloc(LMEM_ZEROINIT, kAttrBytes)) {}
    ScratchBlock(const ScratchBlock&) = delete;
    ScratchBlock& operator=(const ScratchBlock&) = delete;
    ~ScratchBlock() {
        if (block) platform.LocalFree(block);
    }
    const RegistrarPlatform& platform;
    HLOCAL block;
};

// A failed load or walk: a fault or a bound is damage; a refusal of the
// loader's own says the file holds no library it can read.
Failure LoadFailure(HRESULT status) {
    if (IsHardwareFault(static_cast<DWORD>(status)) || status == kNoGuard) return Failure::Damaged;
    return Failure::NotTypeLib;
}

// The loader's view of one file: resolved, checked, loaded and walked under
// the guard. The library goes back under the guard too.
struct Loaded {
    Loaded(const RegistrarPlatform& platform, Resolved resolved, PlatformCall purpose)
        : platform_(platform) {
        if (resolved.failure != Failure::None) {
            failure = {kFalse, resolved.failure, resolved.status};
            return;
        }
        path = std::move(resolved.path);
        ComPtr<ITypeLib> walked;
        const HRESULT status = LoadAndWalk(platform, path.c_str(), purpose, walked, identity);
        if (status != S_OK) {
            failure = {kFalse, LoadFailure(status), status};
            return;
        }
        library = walked.release();
        failure = {kTrue, Failure::None};
    }
    Loaded(const Loaded&) = delete;
    Loaded& operator=(const Loaded&) = delete;
    ~Loaded() { ReleaseGuarded(platform_, library); }
    explicit operator bool() const { return library != nullptr; }

    std::wstring path;
    ITypeLib* library = nullptr;
    TypeLibIdentity identity;
    RegistrarResult failure;

private:
    const RegistrarPlatform& platform_;
};

// The attribute record of a loaded library, read and handed back under the
// guard; its first 30 bytes pass through the scratch block on their way.
struct AttrCopy {
    ITypeLib* library;
    void* block;
    TLIBATTR own;
    TLIBATTR* fetched;
    HRESULT status;
};

void CopyAttrBody(void* context) {
    auto& copy = *static_cast<AttrCopy*>(context);
    copy.status = copy.library->GetLibAttr(&copy.fetched);
    if (!copy.fetched) {
        if (copy.status == S_OK) copy.status = E_POINTER;
        return;
    }
    if (copy.status == S_OK) {
        std::memcpy(copy.block, copy.fetched, kAttrBytes);
        std::memset(&copy.own, 0, sizeof copy.own);
        std::memcpy(&copy.own, copy.block, kAttrBytes);
    }
    TLIBATTR* const fetched = std::exchange(copy.fetched, nullptr);
    copy.library->ReleaseTLibAttr(fetched);
}

HRESULT CopyAttr(const RegistrarPlatform& platform, AttrCopy& copy) {
    DWORD fault = 0;
    if (!platform.RunGuarded(CopyAttrBody, &copy, &fault)) return FaultStatus(fault);
    return copy.status;
}

// Every interface in either list, once.
std::vector<IID> Union(std::vector<IID> a, const std::vector<IID>& b) {
    for (const IID& iid : b) {
        bool known = false;
        for (const IID& have : a)
            known = known || IsEqualGUID(have, iid);
        if (!known) a.push_back(iid);
    }
    return a;
}

// Unregistration of an identity, whose file (`given`, when one was named)
// was read for `interfaces`. The platform removes the Interface keys of the
// file registered for the identity: that file is checked and walked too,
// and the keys of both are recorded. `exactly`: the registration named is
// the one leaf, and where its file is gone it is removed all the same.
RegistrarResult UnregisterIdentity(const RegistrarPlatform& platform, const TLIBATTR& own,
                                   std::vector<IID> interfaces, const std::wstring* given,
                                   Scope scope, bool exactly) {
    const auto registered = exactly ? ExactlyRegisteredFile(platform, own, scope)
                                    : RegisteredFile(platform, own, scope);
    // Exactly this registration, and none: the platform is not asked, since
    // it would fall back on another locale's.
    if (!registered && exactly) return {kFalse, Failure::NotRegistered, TYPE_E_LIBNOTREGISTERED};
    if (!registered) {
        // Nothing of this identity is registered here: the platform finds
        // nothing to remove and says so in its own way.
        RegistrationUndo undo(platform, PlatformCall::Unregister, own.guid, interfaces, scope);
        if (!undo.recorded()) return {kFalse, Failure::Platform, kUnreadable};
        RegistrarResult result =
            undo.Settle(InScope(platform, scope, [&] { return GuardedUnregister(platform, own); }));
        if (result.failure == Failure::Platform) result.failure = Failure::NotRegistered;
        return result;
    }
    // A registered file that is gone fails the platform's load before it
    // writes anything.
    Resolved resolved = Resolve(platform, *registered);
    std::optional<Loaded> other;
    if (resolved.failure == Failure::NoFile && exactly) {
        // The file is gone: the registration goes as the platform would have
        // removed it, with the interfaces its keys name.
        const LibraryId id{own.guid, own.wMajorVerNum, own.wMinorVerNum, own.lcid, own.syskind};
        interfaces = InterfacesToRemove(platform, id, scope);
        RegistrationUndo undo(platform, PlatformCall::Unregister, own.guid, interfaces, scope);
        if (!undo.recorded()) return {kFalse, Failure::Platform, kUnreadable};
        return undo.Settle(RemoveRegistration(platform, id, interfaces, scope));
    }
    if (resolved.failure != Failure::NoFile && (!given || !SameFile(resolved.path, *given))) {
        other.emplace(platform, std::move(resolved), PlatformCall::Unregister);
        if (!*other) return other->failure;
        interfaces = Union(std::move(interfaces), other->identity.interfaces);
    }
    RegistrationUndo undo(platform, PlatformCall::Unregister, own.guid, interfaces, scope);
    if (!undo.recorded()) return {kFalse, Failure::Platform, kUnreadable};
    return undo.Settle(InScope(platform, scope, [&] { return GuardedUnregister(platform, own); }));
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
    const RegistrarPlatform& platform = *RegistrarSeam();
    Loaded loaded(platform, Resolve(platform, path), PlatformCall::Register);
    if (!loaded) return loaded.failure;
    HeldTurn turn;
    if (const HRESULT taken = TakeTurn(scope, turn); taken != S_OK)
        return {kFalse, TurnFailure(taken), taken};
    RegistrationUndo undo(platform, PlatformCall::Register, loaded.identity.guid,
                          loaded.identity.interfaces, scope);
    if (!undo.recorded()) return {kFalse, Failure::Platform, kUnreadable};
    // The platform wants writable strings; hand it copies.
    std::wstring help = helpDir;
    return undo.Settle(InScope(platform, scope, [&] {
        return GuardedRegister(platform, loaded.library, loaded.path.data(), help.data());
    }));
}

RegistrarResult UnregisterLibraryIn(const std::wstring& path, Scope scope) {
    const RegistrarPlatform& platform = *RegistrarSeam();
    Loaded loaded(platform, Resolve(platform, path), PlatformCall::Unregister);
    if (!loaded) return loaded.failure;
    HeldTurn turn;
    if (const HRESULT taken = TakeTurn(scope, turn); taken != S_OK)
        return {kFalse, TurnFailure(taken), taken};

    // The identity goes to the platform as the library's own attribute
    // record hands it over, through a zeroed block of the fields' size: a
    // block that cannot be had, or a record the library will not give, ends
    // the command before the platform is asked. (The walk's copy of the same
    // fields only names the keys to record.)
    const ScratchBlock block(platform);
    HRESULT status = HRESULT_FROM_WIN32(platform.GetLastError());
    // No block is a failure even when the last error was left at 0.
    if (!block.block) return {kFalse, Failure::Platform, status == S_OK ? E_OUTOFMEMORY : status};
    AttrCopy copy{loaded.library, block.block, {}, nullptr, E_FAIL};
    status = CopyAttr(platform, copy);
    if (status != S_OK) return {kFalse, LoadFailure(status), status};
    const TLIBATTR& own = copy.own;

    return UnregisterIdentity(platform, own, loaded.identity.interfaces, &loaded.path, scope,
                              false);
}

RegistrarResult DescribeLibrary(const std::wstring& path, LibraryFacts& facts) {
    const RegistrarPlatform& platform = *RegistrarSeam();
    const Loaded loaded(platform, Resolve(platform, path), PlatformCall::Register);
    if (!loaded) return loaded.failure;
    const TypeLibIdentity& id = loaded.identity;
    facts = {{id.guid, id.major, id.minor, id.lcid, id.syskind}, id.name, id.interfaces.size()};
    return kTrue;
}

RegistrarResult UnregisterIdentityIn(const LibraryId& id, Scope scope) {
    const RegistrarPlatform& platform = *RegistrarSeam();
    HeldTurn turn;
    if (const HRESULT taken = TakeTurn(scope, turn); taken != S_OK)
        return {kFalse, TurnFailure(taken), taken};
    TLIBATTR own{};
    own.guid = id.guid;
    own.lcid = id.lcid;
    own.syskind = id.syskind;
    own.wMajorVerNum = id.major;
    own.wMinorVerNum = id.minor;
    return UnregisterIdentity(platform, own, {}, nullptr, scope, true);
}

} // namespace vandrel
