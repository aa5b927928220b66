#include "registrar/host/RegistrationTurn.h"

#include <sddl.h>

#include "common/Owned.h"
#include "common/SystemLibrary.h"
#include "registrar/host/RegistrationUndo.h"

namespace vandrel {
namespace {

constexpr DWORD kTurnAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;
constexpr DWORD kMaxTurnWait = 60 * 1000;
// Only the bounding SID may open a namespace or a turn's mutex in it (where
// there are no namespaces, anyone the turn's DACL names); a low integrity
// level does not stop it from waiting and taking.
constexpr wchar_t kLowLabel[] = L"S:(ML;;NW;;;LW)";
constexpr wchar_t kAdministrators[] = L"S-1-5-32-544";
// Where there are no namespaces anyone may wait for the machine's turn.
constexpr wchar_t kEveryone[] = L"WD";
constexpr wchar_t kAlias[] = L"Vandrel";
constexpr wchar_t kMutexInNamespace[] = L"Vandrel\\TypeLibRegistration";
constexpr wchar_t kMachineBoundary[] = L"Vandrel.MachineTurn";
constexpr wchar_t kUserBoundary[] = L"Vandrel.UserTurn";

using LocalMemory = Owned<HLOCAL, NullTraits<HLOCAL, ::LocalFree>>;

// A status for a last error, never S_OK: a call that failed without one
// still failed.
HRESULT Status(DWORD error) {
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

// A refusal by the namespace or the mutex in it is a refusal for lack of
// rights, which the registrar knows as access denied (and may elevate for).
HRESULT BoundedStatus(DWORD error) {
    if (error == ERROR_ACCESS_DENIED || error == ERROR_PRIVILEGE_NOT_HELD)
        return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    return Status(error);
}

// A security descriptor from its text, freed when it goes.
struct Security {
    explicit Security(const std::wstring& text) {
        PSECURITY_DESCRIPTOR made = nullptr;
        if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1,
                                                                   &made, nullptr))
            descriptor.reset(made);
        attributes = {sizeof attributes, made, FALSE};
    }
    LocalMemory descriptor;
    SECURITY_ATTRIBUTES attributes;
};

std::wstring Granting(const wchar_t* access, const std::wstring& sid) {
    return std::wstring(L"D:P(A;;") + access + L";;;" + sid + L")" + kLowLabel;
}

// Waits for a turn's mutex; a turn a crashed process abandoned is ours: the
// registry may hold half of its work, which is what it would hold without
// the turn.
HRESULT Wait(const TurnPlatform& platform, HANDLE mutex, bool& owned) {
    const DWORD wait = platform.WaitForSingleObject(mutex, kMaxTurnWait);
    if (wait == WAIT_TIMEOUT) return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) return Status(platform.GetLastError());
    owned = true;
    return S_OK;
}

// The namespace of the boundary, created or, where another process made it
// first, opened. One that its last holder closes between the two is
// created again.
HRESULT OpenNamespace(const TurnPlatform& platform, const std::wstring& sid, HANDLE boundary,
                      HANDLE& space) {
    const Security security(Granting(L"GA", sid));
    if (!security.descriptor) return Status(::GetLastError());
    for (int attempt = 0; attempt < 3; ++attempt) {
        SECURITY_ATTRIBUTES attributes = security.attributes;
        space = platform.CreatePrivateNamespaceW(&attributes, boundary, kAlias);
        if (space) return S_OK;
        DWORD error = platform.GetLastError();
        if (error != ERROR_ALREADY_EXISTS) return BoundedStatus(error);
        space = platform.OpenPrivateNamespaceW(boundary, kAlias);
        if (space) return S_OK;
        error = platform.GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            return BoundedStatus(error);
    }
    return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
}

// A turn's mutex by name, created or opened, or how it failed.
HANDLE OpenMutex(const TurnPlatform& platform, const std::wstring& name,
                 const std::wstring& security, DWORD& error) {
    Security made(security);
    if (!made.descriptor) {
        error = ::GetLastError();
        return nullptr;
    }
    HANDLE mutex = platform.CreateMutexExW(&made.attributes, name.c_str(), 0, kTurnAccess);
    if (!mutex) mutex = platform.OpenMutexW(kTurnAccess, FALSE, name.c_str());
    error = mutex ? ERROR_SUCCESS : platform.GetLastError();
    return mutex;
}

// Where there are no namespaces: a global mutex of a fixed name, the
// machine's or the user's. An object under the name that is no mutex, or
// that refuses us, is no turn of a Vandrel process: someone holds the name.
HRESULT TakeFallback(const TurnPlatform& platform, Scope whose, const std::wstring& sid,
                     HeldTurn::Taken& taken) {
    std::wstring name = kRegistrationTurnName;
    if (whose == Scope::User) name += L"." + sid;
    DWORD error = ERROR_SUCCESS;
    taken.mutex = OpenMutex(platform, name,
                            Granting(L"0x00100001", whose == Scope::User ? sid : kEveryone), error);
    if (!taken.mutex)
        return error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_HANDLE ? kUntrustedTurn
                                                                             : Status(error);
    return Wait(platform, taken.mutex, taken.owned);
}

// One turn, bounded by `sid`; all it takes is in `taken`, also on failure.
HRESULT TakeOne(const TurnPlatform& platform, Scope whose, const std::wstring& sid,
                HeldTurn::Taken& taken) {
    taken.boundary = platform.CreateBoundaryDescriptorW(
        whose == Scope::User ? kUserBoundary : kMachineBoundary, 0);
    if (!taken.boundary) {
        // Only a platform without boundaries falls back; no other process
        // can bring that about.
        const DWORD error = platform.GetLastError();
        if (error == ERROR_CALL_NOT_IMPLEMENTED) return TakeFallback(platform, whose, sid, taken);
        return Status(error);
    }
    PSID bound = nullptr;
    if (!::ConvertStringSidToSidW(sid.c_str(), &bound)) return Status(::GetLastError());
    const LocalMemory ownBound(bound);
    if (!platform.AddSIDToBoundaryDescriptor(&taken.boundary, bound))
        return Status(platform.GetLastError());
    if (const HRESULT opened = OpenNamespace(platform, sid, taken.boundary, taken.space);
        opened != S_OK)
        return opened;
    DWORD error = ERROR_SUCCESS;
    taken.mutex = OpenMutex(platform, kMutexInNamespace, Granting(L"0x00100001", sid), error);
    if (!taken.mutex) return BoundedStatus(error);
    return Wait(platform, taken.mutex, taken.owned);
}

// The real calls. Boundaries and namespaces are looked up, not imported:
// Wine 8 exports only CreateBoundaryDescriptorW, and Vandrel would not
// start with an import it cannot find.
template <typename Function> Function Kernel(const char* name) {
    return SystemEntry<Function>(L"kernel32.dll", name);
}

template <typename Result> Result NotImplemented(Result failed) {
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return failed;
}

HANDLE WINAPI CreateBoundaryReal(const wchar_t* name, ULONG flags) {
    static const auto create =
        Kernel<decltype(TurnPlatform::CreateBoundaryDescriptorW)>("CreateBoundaryDescriptorW");
    if (!create) return NotImplemented<HANDLE>(nullptr);
    // Windows fails it only for want of memory, and says so; Wine's stub
    // returns NULL and leaves the last error as it was.
    ::SetLastError(ERROR_SUCCESS);
    HANDLE boundary = create(name, flags);
    if (!boundary && ::GetLastError() == ERROR_SUCCESS) return NotImplemented<HANDLE>(nullptr);
    return boundary;
}

BOOL WINAPI AddSidReal(HANDLE* boundary, PSID sid) {
    static const auto add =
        Kernel<decltype(TurnPlatform::AddSIDToBoundaryDescriptor)>("AddSIDToBoundaryDescriptor");
    return add ? add(boundary, sid) : NotImplemented(FALSE);
}

void WINAPI DeleteBoundaryReal(HANDLE boundary) {
    static const auto remove =
        Kernel<decltype(TurnPlatform::DeleteBoundaryDescriptor)>("DeleteBoundaryDescriptor");
    if (remove) remove(boundary);
}

HANDLE WINAPI CreateNamespaceReal(SECURITY_ATTRIBUTES* security, void* boundary,
                                  const wchar_t* alias) {
    static const auto create =
        Kernel<decltype(TurnPlatform::CreatePrivateNamespaceW)>("CreatePrivateNamespaceW");
    return create ? create(security, boundary, alias) : NotImplemented<HANDLE>(nullptr);
}

HANDLE WINAPI OpenNamespaceReal(void* boundary, const wchar_t* alias) {
    static const auto open =
        Kernel<decltype(TurnPlatform::OpenPrivateNamespaceW)>("OpenPrivateNamespaceW");
    return open ? open(boundary, alias) : NotImplemented<HANDLE>(nullptr);
}

BOOLEAN WINAPI CloseNamespaceReal(HANDLE space, ULONG flags) {
    static const auto close =
        Kernel<decltype(TurnPlatform::ClosePrivateNamespace)>("ClosePrivateNamespace");
    return close ? close(space, flags) : NotImplemented<BOOLEAN>(FALSE);
}

bool UserSidReal(std::wstring& sid) {
    OwnedHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } info;
    DWORD size = sizeof info;
    if (!::GetTokenInformation(token.get(), TokenUser, &info, size, &size)) return false;
    wchar_t* text = nullptr;
    if (!::ConvertSidToStringSidW(info.user.User.Sid, &text)) return false;
    const LocalMemory ownText(text);
    sid = text;
    return true;
}

bool UserRegistrationWritesMachineReal() {
    // Without the switch the platform's registration ignores the
    // redirection of HKEY_CLASSES_ROOT and writes for the machine too.
    static const bool writes =
        !SystemEntry<void(WINAPI*)()>(L"oleaut32.dll", "OaEnablePerUserTLibRegistration");
    return writes;
}

const TurnPlatform kRealTurn = {
    .CreateBoundaryDescriptorW = CreateBoundaryReal,
    .AddSIDToBoundaryDescriptor = AddSidReal,
    .DeleteBoundaryDescriptor = DeleteBoundaryReal,
    .CreatePrivateNamespaceW = CreateNamespaceReal,
    .OpenPrivateNamespaceW = OpenNamespaceReal,
    .ClosePrivateNamespace = CloseNamespaceReal,
    .CreateMutexExW = ::CreateMutexExW,
    .OpenMutexW = ::OpenMutexW,
    .WaitForSingleObject = ::WaitForSingleObject,
    .ReleaseMutex = ::ReleaseMutex,
    .CloseHandle = ::CloseHandle,
    .GetLastError = ::GetLastError,
    .UserSid = UserSidReal,
    .UserRegistrationWritesMachine = UserRegistrationWritesMachineReal,
};

} // namespace

Seam<TurnPlatform>& TurnSeam() {
    static Seam<TurnPlatform> seam(kRealTurn);
    return seam;
}

void HeldTurn::Release() noexcept {
    for (; count_ > 0; --count_) {
        Taken& taken = taken_[count_ - 1];
        if (taken.owned) platform_->ReleaseMutex(taken.mutex);
        if (taken.mutex) platform_->CloseHandle(taken.mutex);
        if (taken.space) platform_->ClosePrivateNamespace(taken.space, 0);
        if (taken.boundary) platform_->DeleteBoundaryDescriptor(taken.boundary);
        taken = {};
    }
}

HRESULT TakeTurn(Scope scope, HeldTurn& held) {
    held.Release();
    const TurnPlatform& platform = *TurnSeam();
    held.platform_ = &platform;
    std::wstring user;
    if (scope == Scope::User && !platform.UserSid(user)) return Status(platform.GetLastError());
    // The user's turn first, then the machine's: two processes that both
    // need both never hold one each.
    HRESULT status = S_OK;
    if (scope == Scope::User) status = TakeOne(platform, Scope::User, user, held.Take());
    if (status == S_OK && (scope == Scope::Machine || platform.UserRegistrationWritesMachine()))
        status = TakeOne(platform, Scope::Machine, kAdministrators, held.Take());
    if (status != S_OK) held.Release();
    return status;
}

Failure TurnFailure(HRESULT status) {
    if (status == kUntrustedTurn) return Failure::Untrusted;
    if (RefusedForRights(status)) return Failure::NoRights;
    return Failure::Busy;
}

} // namespace vandrel
