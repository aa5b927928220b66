// All or nothing for one registration call: what the platform may touch is
// recorded first, so that a failure can be undone whole, and the call's
// status reduced to the result the commands report.
#pragma once

#include "registrar/RegistrarPlatform.h"
#include "registrar/RegistrarResult.h"
#include "registrar/host/RegistrationKeys.h"
#include "registrar/host/RegistryUndo.h"

#include <string>
#include <vector>

namespace vandrel {

// The platform's ways of saying that the caller lacks the rights.
bool RefusedForRights(HRESULT status);

// The platform writes key after key and stops at its first error.
class RegistrationUndo {
public:
    // Records the library's TypeLib key and each interface's Interface key
    // where the scope's call may write them: for registration, which only
    // writes, what it writes; for unregistration, the keys whole.
    RegistrationUndo(const RegistrarPlatform& platform, PlatformCall call, const GUID& library,
                     const std::vector<IID>& interfaces, Scope scope);
    RegistrationUndo(const RegistrationUndo&) = delete;
    RegistrationUndo& operator=(const RegistrationUndo&) = delete;
    // S_OK, or the status of the registry read that failed: the platform is
    // then not asked.
    HRESULT recorded() const { return recorded_; }

    // The call's outcome once whatever it should not have left is put back.
    // Per user, the redirection reaches only the process's own view: Wine
    // still writes and removes the machine's keys in the other view, so they
    // are put back whatever the call returned, and written only if changed
    // (or if what is there now cannot be read); where that fails the command
    // fails, and the user's keys go back too: a failed command leaves nothing
    // of its own. A restore that does not succeed whole is said so, never
    // passed off as the call's own failure.
    RegistrarResult Settle(const RegistrarResult& call);

private:
    HRESULT Recorded(RegistryUndo& undo, const std::vector<RegistryRoot>& roots);

    std::vector<RegistryUndo::Watched> keys_;
    Scope scope_;
    const RegistrarPlatform& calls_;
    RegistryUndo own_;
    RegistryUndo machine_;
    HRESULT recorded_ = E_UNEXPECTED;
};

} // namespace vandrel
