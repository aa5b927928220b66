#include "registrar/ModVandrel.h"

#include "common/Owned.h"
#include "common/SystemLibrary.h"
#include "registrar/GuardedPlatform.h"
#include "registrar/RegistrationKeys.h"
#include "registrar/TypeLibHeader.h"
#include "registrar/TypeLibWalk.h"

#include <sddl.h>

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

// The Automation library is loaded on the first registrar call: the window
// starts faster without it and the command line needs it anyway.
template <typename Function> Function Automation(const char* name) {
    return SystemEntry<Function>(L"oleaut32.dll", name);
}

// An entry the Automation library does not export. The last error is not
// read: the entry was looked up once, perhaps many calls ago.
constexpr HRESULT kUnavailable = HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);

HRESULT WINAPI LoadWithoutRegistering(const wchar_t* path, ITypeLib** library) {
    static const auto load = Automation<decltype(&::LoadTypeLibEx)>("LoadTypeLibEx");
    if (!load) return kUnavailable;
    // The plain loader registers a library by itself when the name has no
    // directory; an unregister run must never register first.
    return load(path, REGKIND_NONE, library);
}

HRESULT WINAPI RegisterReal(ITypeLib* library, wchar_t* path, wchar_t* helpDir) {
    static const auto registerTypeLib = Automation<decltype(&::RegisterTypeLib)>("RegisterTypeLib");
    if (!registerTypeLib) return kUnavailable;
    return registerTypeLib(library, path, helpDir);
}

HRESULT WINAPI UnregisterReal(REFGUID libId, WORD major, WORD minor, LCID lcid, SYSKIND syskind) {
    static const auto unregister = Automation<decltype(&::UnRegisterTypeLib)>("UnRegisterTypeLib");
    if (!unregister) return kUnavailable;
    return unregister(libId, major, minor, lcid, syskind);
}

void WINAPI FreeStringReal(BSTR text) {
    static const auto free = Automation<decltype(&::SysFreeString)>("SysFreeString");
    if (free) free(text);
}

void WINAPI EnablePerUserReal() {
    // Windows 7 and later ignore the redirection of HKCR in the registration
    // calls without it; older systems and Wine have no such switch.
    static const auto enable = Automation<void(WINAPI*)()>("OaEnablePerUserTLibRegistration");
    if (enable) enable();
}

const RegistrarPlatform kReal = {
    LoadWithoutRegistering,
    RegisterReal,
    UnregisterReal,
    ::LocalAlloc,
    ::LocalFree,
    ::GetLastError,
    FreeStringReal,
    RunGuarded,
    &RealRegistryCalls(),
    ::RegCreateKeyExW,
    ::RegOverridePredefKey,
    ::RegCloseKey,
    ::RegOpenKeyExW,
    ::RegQueryValueExW,
    EnablePerUserReal,
};

const RegistrarPlatform* g_platform = &kReal;

// The scratch block, freed through the same platform table that gave it.
struct ScratchTraits {
    static HLOCAL invalid() { return nullptr; }
    static void close(HLOCAL block) { g_platform->LocalFree(block); }
};

// What the platform would overwrite could not be read first: it is not asked.
constexpr HRESULT kUnreadable = HRESULT_FROM_WIN32(ERROR_REGISTRY_IO_FAILED);

// Registration and unregistration each write many registry keys, and the
// platform does not make them atomic: a register and an unregister of one
// library running at once can leave half of each behind. Vandrel processes
// take turns, in every session and at every integrity level, so the registry
// always ends in a state some order of their calls would give. A process that
// cannot take the turn does nothing.
struct TurnTraits {
    static HANDLE invalid() { return nullptr; }
    static void close(HANDLE mutex) {
        ::ReleaseMutex(mutex);
        ::CloseHandle(mutex);
    }
};
using HeldTurn = Owned<HANDLE, TurnTraits>;

// Anyone may wait for the turn and take it, a low-integrity process too.
constexpr wchar_t kTurnSecurity[] = L"D:(A;;0x00100001;;;WD)S:(ML;;NW;;;LW)";
constexpr DWORD kTurnAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;
constexpr DWORD kMaxTurnWait = 60 * 1000;

HRESULT TakeTurn(HeldTurn& held) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ::ConvertStringSecurityDescriptorToSecurityDescriptorW(kTurnSecurity, SDDL_REVISION_1,
                                                           &descriptor, nullptr);
    const Owned<HLOCAL, NullTraits<HLOCAL, ::LocalFree>> ownDescriptor(descriptor);
    SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
    OwnedHandle mutex(
        ::CreateMutexExW(descriptor ? &security : nullptr, kRegistrationTurnName, 0, kTurnAccess));
    if (!mutex) mutex.reset(::OpenMutexW(kTurnAccess, FALSE, kRegistrationTurnName));
    if (!mutex) return HRESULT_FROM_WIN32(::GetLastError());
    const DWORD wait = ::WaitForSingleObject(mutex.get(), kMaxTurnWait);
    // A turn a crashed process abandoned is ours; the registry may hold half
    // of its work, which is what it would hold without the turn.
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED)
        return wait == WAIT_TIMEOUT ? HRESULT_FROM_WIN32(ERROR_TIMEOUT)
                                    : HRESULT_FROM_WIN32(::GetLastError());
    held.reset(mutex.release());
    return S_OK;
}

// HKEY_CLASSES_ROOT as the current user's classes key, for one scope. The
// platform's RegisterTypeLibForUser is not used: Wine's registers for the
// whole machine.
class UserClasses {
public:
    explicit UserClasses(const RegistrarPlatform& platform) : platform_(platform) {
        LONG error = platform.RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr,
                                              0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
        if (error != ERROR_SUCCESS) {
            key_ = nullptr;
            status_ = HRESULT_FROM_WIN32(error);
            return;
        }
        platform.OaEnablePerUserTLibRegistration();
        error = platform.RegOverridePredefKey(HKEY_CLASSES_ROOT, key_);
        if (error != ERROR_SUCCESS) {
            status_ = HRESULT_FROM_WIN32(error);
            return;
        }
        overridden_ = true;
        status_ = S_OK;
    }
    UserClasses(const UserClasses&) = delete;
    UserClasses& operator=(const UserClasses&) = delete;
    ~UserClasses() {
        if (overridden_) platform_.RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        if (key_) platform_.RegCloseKey(key_);
    }
    HRESULT status() const { return status_; }

private:
    const RegistrarPlatform& platform_;
    HKEY key_ = nullptr;
    bool overridden_ = false;
    HRESULT status_ = E_FAIL;
};

// One registration call of the platform in the given scope. Only the call
// itself is redirected: loading a library may look up the libraries it
// imports (stdole2) in the machine's classes. When the redirection cannot be
// made the call is not made either: it would write for the whole machine.
template <typename Call>
HRESULT InScope(const RegistrarPlatform& platform, Scope scope, Call call) {
    if (scope == Scope::Machine) return call();
    UserClasses classes(platform);
    if (classes.status() != S_OK) return classes.status();
    return call();
}

// The platform's ways of saying that the caller lacks the rights: its own
// registry error, and access denied or a privilege missing in the Win32 or
// storage codes.
bool RefusedForRights(HRESULT status) {
    if (status == TYPE_E_REGISTRYACCESS) return true;
    if (status >= 0) return false;
    const int facility = HRESULT_FACILITY(status);
    if (facility != FACILITY_WIN32 && facility != FACILITY_STORAGE) return false;
    const int code = HRESULT_CODE(status);
    return code == ERROR_ACCESS_DENIED || code == ERROR_PRIVILEGE_NOT_HELD;
}

bool IsRegularFile(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) return false;
    // Devices and pipes can pass the attribute test; only a disk file may
    // reach the loader. Asking for attributes alone conflicts with no lock.
    OwnedFile file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    return ::GetFileType(file.get()) == FILE_TYPE_DISK;
}

std::optional<std::wstring> FullPath(const std::wstring& path) {
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) return std::nullopt;
        if (length < full.size()) {
            full.resize(length);
            return full;
        }
        full.resize(length);
    }
}

// "x.dll\N" names the module's TYPELIB resource N: a resource number, 1 to
// 65535. The loader would read a larger one modulo 65536, another library.
std::optional<WORD> ResourceIndex(const std::wstring& text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    unsigned value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - L'0');
    }
    if (value == 0 || value > 0xFFFF) return std::nullopt;
    return static_cast<WORD>(value);
}

// Where a path leads: the file and resource the loader would read, or why
// it leads nowhere.
struct Resolved {
    Failure failure = Failure::None;
    HRESULT status = S_OK;
    std::wstring path;
};

constexpr HRESULT kNoSuchFile = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
// A folder, a device, a pipe: a name that exists but is no plain file.
constexpr HRESULT kNoPlainFile = HRESULT_FROM_WIN32(ERROR_BAD_FILE_TYPE);

Resolved NoFile(const std::wstring& file) {
    return {Failure::NoFile,
            ::GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES ? kNoSuchFile
                                                                          : kNoPlainFile,
            {}};
}

Resolved Resolve(const std::wstring& path) {
    // An embedded NUL would make the platform see a different name.
    if (path.empty() || path.find(L'\0') != std::wstring::npos)
        return {Failure::NoFile, HRESULT_FROM_WIN32(ERROR_INVALID_NAME), {}};
    auto full = FullPath(path);
    if (!full) return {Failure::NoFile, HRESULT_FROM_WIN32(ERROR_INVALID_NAME), {}};
    std::wstring file = *full;
    WORD index = 1; // a module's first library when none is named
    if (!IsRegularFile(file)) {
        const auto slash = full->find_last_of(L'\\');
        if (slash == std::wstring::npos || slash == 0) return NoFile(file);
        const auto named = ResourceIndex(full->substr(slash + 1));
        if (!named) return NoFile(file);
        file.resize(slash);
        if (!IsRegularFile(file)) return NoFile(*full);
        index = *named;
    }
    // The loader stops the process on a library that ends early.
    if (!TypeLibFileIsWhole(file, index)) return {Failure::Damaged, TYPE_E_INVDATAREAD, {}};
    return {Failure::None, S_OK, std::move(*full)};
}

// A failed load or walk: a fault or a bound is damage; a refusal of the
// loader's own says the file holds no library it can read.
Failure LoadFailure(HRESULT status) {
    if (IsHardwareFault(static_cast<DWORD>(status)) || status == kNoGuard) return Failure::Damaged;
    return Failure::NotTypeLib;
}

// The loader's view of one file: resolved, checked, loaded and walked under
// the guard. The library goes back under the guard too.
struct Loaded {
    Loaded(const RegistrarPlatform& platform, Resolved resolved, WalkFor purpose)
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

// The platform writes key after key and stops at its first error; what it
// may touch is recorded first, so that a failure can be undone whole.
class Undo {
public:
    Undo(const RegistrarPlatform& platform, const GUID& library, const std::vector<IID>& interfaces,
         Scope scope)
        : keys_(RegistrationKeys(library, interfaces)), scope_(scope), calls_(*platform.registry),
          own_(calls_), machine_(calls_) {
        recorded_ =
            own_.Record(scope == Scope::User ? UserClassesRoots() : MachineClassesRoots(), keys_) &&
            (scope == Scope::Machine || machine_.Record(LocalMachineClassesRoots(), keys_));
    }
    bool recorded() const { return recorded_; }

    // The call's outcome once whatever it should not have left is put back.
    // Per user, the redirection reaches only the process's own view: Wine
    // still writes and removes the machine's keys in the other view, so they
    // are put back whatever the call returned, and written only if changed
    // (or if what is there now cannot be read). A restore that does not
    // succeed whole is said so, never passed off as the call's own failure.
    RegistrarResult Settle(HRESULT status) {
        bool restored = true;
        if (scope_ == Scope::User) {
            RegistryUndo now(calls_);
            if (!now.Record(LocalMachineClassesRoots(), keys_) || !(now == machine_))
                restored = machine_.Restore();
        }
        if (status != S_OK && !own_.Restore()) restored = false;
        if (!restored) return {kFalse, Failure::NotRestored, status == S_OK ? E_FAIL : status};
        if (status == S_OK) return {kTrue, Failure::None};
        return {kFalse, RefusedForRights(status) ? Failure::NoRights : Failure::Platform, status};
    }

private:
    std::vector<std::wstring> keys_;
    Scope scope_;
    const RegistryCalls& calls_;
    RegistryUndo own_;
    RegistryUndo machine_;
    bool recorded_ = false;
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

// The path the platform's unregistration will load: the file registered for
// this identity in the scope's classes, looked up as the platform looks it
// up (the exact version, then the locale, its sublanguage and neutral).
std::optional<std::wstring> RegisteredFile(const RegistrarPlatform& registry, const TLIBATTR& id,
                                           Scope scope) {
    const std::wstring key = L"TypeLib\\" + GuidKeyName(id.guid) + L"\\" +
                             HexName(id.wMajorVerNum) + L"." + HexName(id.wMinorVerNum);
    const wchar_t* kind = id.syskind == SYS_WIN64   ? L"win64"
                          : id.syskind == SYS_WIN32 ? L"win32"
                                                    : L"win16";
    OwnedKey classes;
    if (scope == Scope::User && registry.RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0,
                                                       KEY_READ, classes.put()) != ERROR_SUCCESS)
        return std::nullopt;
    OwnedKey versionKey;
    if (registry.RegOpenKeyExW(scope == Scope::User ? classes.get() : HKEY_CLASSES_ROOT,
                               key.c_str(), 0, KEY_READ, versionKey.put()) != ERROR_SUCCESS)
        return std::nullopt;
    std::vector<LCID> locales{id.lcid};
    if (id.lcid != 0) {
        const LCID sub = id.lcid >> 10;
        locales.push_back(sub);
        if (sub != 0) locales.push_back(0);
    }
    for (LCID lcid : locales) {
        const std::wstring leaf = HexName(lcid) + L"\\" + kind;
        OwnedKey leafKey;
        if (registry.RegOpenKeyExW(versionKey.get(), leaf.c_str(), 0, KEY_READ, leafKey.put()) !=
            ERROR_SUCCESS)
            continue;
        std::wstring path(MAX_PATH, L'\0');
        DWORD type = 0, bytes = static_cast<DWORD>(path.size() * sizeof(wchar_t));
        if (registry.RegQueryValueExW(leafKey.get(), nullptr, nullptr, &type,
                                      reinterpret_cast<BYTE*>(path.data()),
                                      &bytes) != ERROR_SUCCESS ||
            type != REG_SZ)
            continue;
        path.resize(bytes / sizeof(wchar_t));
        while (!path.empty() && path.back() == L'\0')
            path.pop_back();
        return path;
    }
    return std::nullopt;
}

// Two full paths of one file, the one perhaps in the "\\?\" form the
// platform writes into the registry.
bool SameFile(const std::wstring& a, const std::wstring& b) {
    auto plain = [](const std::wstring& path) {
        return path.rfind(L"\\\\?\\", 0) == 0 ? path.substr(4) : path;
    };
    return ::CompareStringOrdinal(plain(a).c_str(), -1, plain(b).c_str(), -1, TRUE) == CSTR_EQUAL;
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

} // namespace

const RegistrarPlatform& RealRegistrarPlatform() {
    return kReal;
}

void SetRegistrarPlatform(const RegistrarPlatform* platform) {
    g_platform = platform ? platform : &kReal;
}

std::optional<std::wstring> ResolveLoadablePath(const std::wstring& path) {
    Resolved resolved = Resolve(path);
    if (resolved.failure != Failure::None) return std::nullopt;
    return std::move(resolved.path);
}

Flag RegisterLibrary(const std::wstring& path, const std::wstring& helpDir) {
    return RegisterLibraryIn(path, helpDir, Scope::Machine).flag;
}

Flag UnregisterLibrary(const std::wstring& path) {
    return UnregisterLibraryIn(path, Scope::Machine).flag;
}

RegistrarResult RegisterLibraryIn(const std::wstring& path, const std::wstring& helpDir,
                                  Scope scope) {
    const RegistrarPlatform& platform = *g_platform;
    Loaded loaded(platform, Resolve(path), WalkFor::Register);
    if (!loaded) return loaded.failure;
    HeldTurn turn;
    if (const HRESULT taken = TakeTurn(turn); taken != S_OK) return {kFalse, Failure::Busy, taken};
    Undo undo(platform, loaded.identity.guid, loaded.identity.interfaces, scope);
    if (!undo.recorded()) return {kFalse, Failure::Platform, kUnreadable};
    // The platform wants writable strings; hand it copies.
    std::wstring help = helpDir;
    return undo.Settle(InScope(platform, scope, [&] {
        return GuardedRegister(platform, loaded.library, loaded.path.data(), help.data());
    }));
}

RegistrarResult UnregisterLibraryIn(const std::wstring& path, Scope scope) {
    const RegistrarPlatform& platform = *g_platform;
    Loaded loaded(platform, Resolve(path), WalkFor::Unregister);
    if (!loaded) return loaded.failure;
    HeldTurn turn;
    if (const HRESULT taken = TakeTurn(turn); taken != S_OK) return {kFalse, Failure::Busy, taken};

    // The attribute bytes pass through a zeroed block of their own size
    // on their way to the unregistration call.
    const Owned<HLOCAL, ScratchTraits> block(platform.LocalAlloc(LMEM_ZEROINIT, kAttrBytes));
    HRESULT status = HRESULT_FROM_WIN32(platform.GetLastError());
    // No block is a failure even when the last error was left at 0.
    if (!block) return {kFalse, Failure::Platform, status == S_OK ? E_OUTOFMEMORY : status};
    AttrCopy copy{loaded.library, block.get(), {}, nullptr, E_FAIL};
    status = CopyAttr(platform, copy);
    if (status != S_OK) return {kFalse, LoadFailure(status), status};
    const TLIBATTR& own = copy.own;

    // The platform removes the Interface keys of the file registered for
    // this identity, not of the one given: that file is checked and walked
    // too, and the keys of both are recorded.
    std::vector<IID> interfaces = loaded.identity.interfaces;
    const auto registered = RegisteredFile(platform, own, scope);
    if (!registered) {
        // Nothing of this identity is registered here: the platform finds
        // nothing to remove and says so in its own way.
        Undo undo(platform, own.guid, interfaces, scope);
        if (!undo.recorded()) return {kFalse, Failure::Platform, kUnreadable};
        RegistrarResult result =
            undo.Settle(InScope(platform, scope, [&] { return GuardedUnregister(platform, own); }));
        if (result.failure == Failure::Platform) result.failure = Failure::NotRegistered;
        return result;
    }
    // A registered file that is gone fails the platform's load before it
    // writes anything.
    Resolved resolved = Resolve(*registered);
    std::optional<Loaded> other;
    if (resolved.failure != Failure::NoFile && !SameFile(resolved.path, loaded.path)) {
        other.emplace(platform, std::move(resolved), WalkFor::Unregister);
        if (!*other) return other->failure;
        interfaces = Union(std::move(interfaces), other->identity.interfaces);
    }
    Undo undo(platform, own.guid, interfaces, scope);
    if (!undo.recorded()) return {kFalse, Failure::Platform, kUnreadable};
    return undo.Settle(InScope(platform, scope, [&] { return GuardedUnregister(platform, own); }));
}

} // namespace vandrel
