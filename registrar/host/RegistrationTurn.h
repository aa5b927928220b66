// The registration turn. Registration and unregistration each write many
// registry keys, and the platform does not make them atomic: a register and
// an unregister of one library running at once can leave half of each
// behind. Vandrel processes take turns, in every session and at every
// integrity level, so the registry always ends in a state some order of
// their calls would give. A process that cannot take the turn does nothing.
//
// The machine's turn is a mutex in a private namespace bounded by
// BUILTIN\Administrators, and a user's turn one in a namespace bounded by
// that user's SID: a process without the bounding SID can neither create
// nor open the namespace, so it cannot squat the name or hold the turn.
// Where the platform has no boundary descriptors (Wine), the turns are
// global mutexes whose names anyone may take first.
#pragma once

#include <string>

#include <windows.h>

#include "common/Seam.h"
#include "registrar/RegistrarResult.h"

namespace vandrel {

// The fallback's machine turn, a mutex every Vandrel process of the machine
// shares. A user's fallback turn is this name, a dot and the user's SID.
inline constexpr wchar_t kRegistrationTurnName[] = L"Global\\Vandrel.TypeLibRegistration";

// What a turn fails with where the fallback's turn exists but cannot be
// trusted: another kind of object holds its name, or its DACL refuses us.
inline constexpr HRESULT kUntrustedTurn = HRESULT_FROM_WIN32(ERROR_OBJECT_ALREADY_EXISTS);

// Every platform call of the turn. Boundary descriptors and private
// namespaces are looked up when first used (Wine exports none of them but
// CreateBoundaryDescriptorW, whose stub returns NULL); where one is missing
// or not implemented its entry fails with ERROR_CALL_NOT_IMPLEMENTED.
struct TurnPlatform {
    HANDLE(WINAPI* CreateBoundaryDescriptorW)(const wchar_t* name, ULONG flags);
    BOOL(WINAPI* AddSIDToBoundaryDescriptor)(HANDLE* boundary, PSID sid);
    void(WINAPI* DeleteBoundaryDescriptor)(HANDLE boundary);
    HANDLE(WINAPI* CreatePrivateNamespaceW)
    (SECURITY_ATTRIBUTES* security, void* boundary, const wchar_t* alias);
    HANDLE(WINAPI* OpenPrivateNamespaceW)(void* boundary, const wchar_t* alias);
    BOOLEAN(WINAPI* ClosePrivateNamespace)(HANDLE space, ULONG flags);
    HANDLE(WINAPI* CreateMutexExW)
    (SECURITY_ATTRIBUTES* security, const wchar_t* name, DWORD flags, DWORD access);
    HANDLE(WINAPI* OpenMutexW)(DWORD access, BOOL inherit, const wchar_t* name);
    DWORD(WINAPI* WaitForSingleObject)(HANDLE object, DWORD milliseconds);
    BOOL(WINAPI* ReleaseMutex)(HANDLE mutex);
    BOOL(WINAPI* CloseHandle)(HANDLE object);
    DWORD(WINAPI* GetLastError)();
    // The SID of the process's user, as text ("S-1-5-21-…"); false when the
    // token cannot be read.
    bool (*UserSid)(std::wstring& sid);
    // Whether registering for the user writes the machine's keys as well:
    // where the Automation library has no OaEnablePerUserTLibRegistration.
    bool (*UserRegistrationWritesMachine)();
};

Seam<TurnPlatform>& TurnSeam();

// Everything a TakeTurn took: for each turn its mutex (held), its namespace
// and its boundary. All of it goes back, through the table that gave it, in
// the reverse order of taking, when the owner goes.
class HeldTurn {
public:
    HeldTurn() = default;
    HeldTurn(const HeldTurn&) = delete;
    HeldTurn& operator=(const HeldTurn&) = delete;
    ~HeldTurn() { Release(); }
    void Release() noexcept;

    // One turn: a part not taken (or, in the fallback, none there) is null.
    struct Taken {
        HANDLE boundary = nullptr;
        HANDLE space = nullptr;
        HANDLE mutex = nullptr;
        bool owned = false;
    };

private:
    friend HRESULT TakeTurn(Scope scope, HeldTurn& held);
    Taken& Take() { return taken_[count_++]; }
    // The user's turn and the machine's, at most.
    static constexpr int kMostTurns = 2;
    const TurnPlatform* platform_ = nullptr;
    Taken taken_[kMostTurns];
    int count_ = 0;
};

// Waits up to a minute for each turn the scope needs: the machine's, or the
// user's, and then the machine's too where registering for the user writes
// the machine's keys. S_OK with them held, or why not: a wait timed out
// (ERROR_TIMEOUT), the namespace refused us for lack of rights (access
// denied), the fallback's turn cannot be trusted (kUntrustedTurn), or
// another platform error. Nothing is held then.
HRESULT TakeTurn(Scope scope, HeldTurn& held);

// The failure a status of TakeTurn stands for.
Failure TurnFailure(HRESULT status);

} // namespace vandrel
