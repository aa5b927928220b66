#include "registrar/RegistrationUndo.h"

#include "registrar/RegistrationKeys.h"

namespace vandrel {

// Its own registry error, and access denied or a privilege missing in the
// Win32 or storage codes.
bool RefusedForRights(HRESULT status) {
    if (status == TYPE_E_REGISTRYACCESS) return true;
    if (status >= 0) return false;
    const int facility = HRESULT_FACILITY(status);
    if (facility != FACILITY_WIN32 && facility != FACILITY_STORAGE) return false;
    const int code = HRESULT_CODE(status);
    return code == ERROR_ACCESS_DENIED || code == ERROR_PRIVILEGE_NOT_HELD;
}

RegistrationUndo::RegistrationUndo(const RegistrarPlatform& platform, PlatformCall call,
                                   const GUID& library, const std::vector<IID>& interfaces,
                                   Scope scope)
    : keys_(RegistrationKeys(library, interfaces, call == PlatformCall::Register)), scope_(scope),
      calls_(platform), own_(calls_), machine_(calls_) {
    recorded_ =
        own_.Record(scope == Scope::User ? UserClassesRoots() : MachineClassesRoots(), keys_) &&
        (scope == Scope::Machine || machine_.Record(LocalMachineClassesRoots(), keys_));
}

RegistrarResult RegistrationUndo::Settle(HRESULT status) {
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

} // namespace vandrel
