#include "registrar/host/RegistrationUndo.h"

#include "registrar/host/RegistrationKeys.h"

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

HRESULT RegistrationUndo::Recorded(RegistryUndo& undo, const std::vector<RegistryRoot>& roots) {
    return undo.Record(roots, keys_) ? S_OK : HRESULT_FROM_WIN32(undo.failure());
}

RegistrationUndo::RegistrationUndo(const RegistrarPlatform& platform, PlatformCall call,
                                   const GUID& library, const std::vector<IID>& interfaces,
                                   Scope scope)
    : keys_(RegistrationKeys(library, interfaces, call == PlatformCall::Register)), scope_(scope),
      calls_(platform), own_(calls_), machine_(calls_) {
    recorded_ = Recorded(own_, scope == Scope::User ? UserClassesRoots() : MachineClassesRoots());
    if (recorded_ == S_OK && scope == Scope::User)
        recorded_ = Recorded(machine_, LocalMachineClassesRoots());
}

RegistrarResult RegistrationUndo::Settle(const RegistrarResult& call) {
    bool failed = call.flag != kTrue;
    bool restored = true;
    if (scope_ == Scope::User) {
        RegistryUndo now(calls_);
        if (!now.Record(LocalMachineClassesRoots(), keys_) || !(now == machine_)) {
            restored = machine_.Restore();
            failed = failed || !restored;
        }
    }
    if (failed && !own_.Restore()) restored = false;
    if (!restored)
        return {kFalse, Failure::NotRestored,
                call.flag == kTrue ? HRESULT_FROM_WIN32(ERROR_REGISTRY_IO_FAILED) : call.status};
    if (call.flag == kTrue) return {kTrue, Failure::None};
    if (call.failure == Failure::Platform && RefusedForRights(call.status))
        return {kFalse, Failure::NoRights, call.status};
    return call;
}

} // namespace vandrel
