#include "registrar/ModVandrel.h"

#include "common/Owned.h"
#include "common/SystemLibrary.h"
#include "registrar/GuardedPlatform.h"
#include "registrar/RegistrationKeys.h"
#include "registrar/TypeLibHeader.h"
#include "registrar/TypeLibWalk.h"

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
    EnablePerUserReal,
};

const RegistrarPlatform* g_platform = &kReal;

// The loaded library's attribute record, handed back to the library.
struct LibAttr {
    ITypeLib* library;
    TLIBATTR* attr;
    bool operator==(const LibAttr&) const = default;
};
struct LibAttrTraits {
    static LibAttr invalid() { return {}; }
    static void close(LibAttr held) { held.library->ReleaseTLibAttr(held.attr); }
};

// The scratch block, freed through the same platform table that gave it.
struct ScratchTraits {
    static HLOCAL invalid() { return nullptr; }
    static void close(HLOCAL block) { g_platform->LocalFree(block); }
};

// Registration and unregistration each write many registry keys, and the
// platform does not make them atomic: a register and an unregister of one
// library running at once can leave half of each behind. Vandrel processes
// take turns, so the registry always ends in a state some order of their
// calls would give.
class RegistrationTurn {
public:
    RegistrationTurn()
        : mutex_(::CreateMutexW(nullptr, FALSE, L"Local\\Vandrel.TypeLibRegistration")) {
        // Without a mutex (or with one a crashed process abandoned) the call
        // goes ahead: taking turns is a courtesy, not a condition.
        if (mutex_) {
            const DWORD wait = ::WaitForSingleObject(mutex_.get(), kMaxWait);
            owned_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
        }
    }
    RegistrationTurn(const RegistrationTurn&) = delete;
    RegistrationTurn& operator=(const RegistrationTurn&) = delete;
    ~RegistrationTurn() {
        if (owned_) ::ReleaseMutex(mutex_.get());
    }

private:
    static constexpr DWORD kMaxWait = 60 * 1000;
    OwnedHandle mutex_;
    bool owned_ = false;
};

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

RegistrarResult Reduce(HRESULT status) {
    if (status == S_OK) return {kTrue, Failure::None};
    return {kFalse, RefusedForRights(status) ? Failure::NoRights : Failure::Other};
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

// The platform writes key after key and stops at its first error; what it
// may touch is recorded first, so that a failure can be undone whole.
class Undo {
public:
    Undo(const RegistrarPlatform& platform, const TypeLibIdentity& identity, Scope scope)
        : keys_(RegistrationKeys(identity.guid, identity.interfaces)), scope_(scope),
          calls_(*platform.registry), own_(calls_), machine_(calls_) {
        recorded_ =
            own_.Record(scope == Scope::User ? UserClassesRoots() : MachineClassesRoots(), keys_) &&
            (scope == Scope::Machine || machine_.Record(LocalMachineClassesRoots(), keys_));
    }
    bool recorded() const { return recorded_; }

    // The call's status once whatever it should not have left is put back.
    // Per user, the redirection reaches only the process's own view: Wine
    // still writes and removes the machine's keys in the other view, so they
    // are put back whatever the call returned, and written only if changed.
    HRESULT Settle(HRESULT status) {
        if (scope_ == Scope::User) {
            RegistryUndo now(calls_);
            if (!now.Record(LocalMachineClassesRoots(), keys_) ||
                (!(now == machine_) && !machine_.Restore()))
                if (status == S_OK) status = E_FAIL;
        }
        if (status != S_OK) own_.Restore();
        return status;
    }

private:
    std::vector<std::wstring> keys_;
    Scope scope_;
    const RegistryCalls& calls_;
    RegistryUndo own_;
    RegistryUndo machine_;
    bool recorded_ = false;
};

// What both commands start with: the path the loader may see, this
// process's turn, and the library loaded and walked under the guard.
struct Loaded {
    Loaded(const RegistrarPlatform& platform, const std::wstring& given) {
        auto full = ResolveLoadablePath(given);
        if (!full) return;
        path = std::move(*full);
        turn.emplace();
        walked = LoadAndWalk(platform, path.c_str(), library, identity) == S_OK;
    }
    explicit operator bool() const { return walked; }

    std::wstring path;
    std::optional<RegistrationTurn> turn;
    ComPtr<ITypeLib> library;
    TypeLibIdentity identity;
    bool walked = false;
};

} // namespace

const RegistrarPlatform& RealRegistrarPlatform() {
    return kReal;
}

void SetRegistrarPlatform(const RegistrarPlatform* platform) {
    g_platform = platform ? platform : &kReal;
}

std::optional<std::wstring> ResolveLoadablePath(const std::wstring& path) {
    // An embedded NUL would make the platform see a different name.
    if (path.empty() || path.find(L'\0') != std::wstring::npos) return std::nullopt;
    auto full = FullPath(path);
    if (!full) return std::nullopt;
    std::wstring file = *full;
    WORD index = 1; // a module's first library when none is named
    if (!IsRegularFile(file)) {
        const auto slash = full->find_last_of(L'\\');
        if (slash == std::wstring::npos || slash == 0) return std::nullopt;
        const auto named = ResourceIndex(full->substr(slash + 1));
        if (!named) return std::nullopt;
        file.resize(slash);
        if (!IsRegularFile(file)) return std::nullopt;
        index = *named;
    }
    // The loader stops the process on a library that ends early.
    if (!TypeLibFileIsWhole(file, index)) return std::nullopt;
    return full;
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
    Loaded loaded(platform, path);
    if (!loaded) return kFalse;
    Undo undo(platform, loaded.identity, scope);
    if (!undo.recorded()) return kFalse;
    // The platform wants writable strings; hand it copies.
    std::wstring help = helpDir;
    return Reduce(undo.Settle(InScope(platform, scope, [&] {
        return GuardedRegister(platform, loaded.library, loaded.path.data(), help.data());
    })));
}

RegistrarResult UnregisterLibraryIn(const std::wstring& path, Scope scope) {
    const RegistrarPlatform& platform = *g_platform;
    Loaded loaded(platform, path);
    if (!loaded) return kFalse;
    const ComPtr<ITypeLib>& library = loaded.library;

    HRESULT status;
    {
        // The attribute bytes pass through a zeroed block of their own size
        // on their way to the unregistration call.
        const Owned<HLOCAL, ScratchTraits> block(platform.LocalAlloc(LMEM_ZEROINIT, kAttrBytes));
        status = HRESULT_FROM_WIN32(platform.GetLastError());
        if (!block) {
            // No block is a failure even when the last error was left at 0.
            if (status == S_OK) status = E_OUTOFMEMORY;
        } else {
            TLIBATTR* fetched = nullptr;
            status = library->GetLibAttr(&fetched);
            const Owned<LibAttr, LibAttrTraits> attr(
                LibAttr{fetched ? library.get() : nullptr, fetched});
            if (status == S_OK && fetched) {
                std::memcpy(block.get(), fetched, kAttrBytes);
                TLIBATTR own;
                std::memset(&own, 0, sizeof own);
                std::memcpy(&own, block.get(), kAttrBytes);
                Undo undo(platform, loaded.identity, scope);
                if (!undo.recorded()) return kFalse;
                status = undo.Settle(
                    InScope(platform, scope, [&] { return GuardedUnregister(platform, own); }));
            } else if (status == S_OK) {
                status = E_POINTER;
            }
        }
    }
    return Reduce(status);
}

} // namespace vandrel
