// The registration turn. Registration and unregistration each write many
// registry keys, and the platform does not make them atomic: a register and
// an unregister of one library running at once can leave half of each
// behind. Vandrel processes take turns, in every session and at every
// integrity level, so the registry always ends in a state some order of
// their calls would give. A process that cannot take the turn does nothing.
#pragma once

#include "common/Owned.h"
#include "registrar/RegistrarResult.h"

#include <windows.h>

namespace vandrel {

// A mutex every Vandrel process of the machine shares.
inline constexpr wchar_t kRegistrationTurnName[] = L"Global\\Vandrel.TypeLibRegistration";

struct TurnTraits {
    static HANDLE invalid() { return nullptr; }
    static void close(HANDLE mutex) {
        ::ReleaseMutex(mutex);
        ::CloseHandle(mutex);
    }
};
// The turn, held until the owner goes.
using HeldTurn = Owned<HANDLE, TurnTraits>;

// Waits up to a minute for the turn. S_OK with it held, or why not: the
// wait timed out (ERROR_TIMEOUT), or the turn cannot be opened.
HRESULT TakeTurn(HeldTurn& held);
inline HRESULT TakeTurn(Scope, HeldTurn& held) {
    return TakeTurn(held);
}

} // namespace vandrel
