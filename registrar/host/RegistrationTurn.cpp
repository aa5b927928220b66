#include "registrar/host/RegistrationTurn.h"

#include <sddl.h>

namespace vandrel {
namespace {

// Anyone may wait for the turn and take it, a low-integrity process too.
constexpr wchar_t kTurnSecurity[] = L"D:(A;;0x00100001;;;WD)S:(ML;;NW;;;LW)";
constexpr DWORD kTurnAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;
constexpr DWORD kMaxTurnWait = 60 * 1000;

} // namespace

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

} // namespace vandrel
