#include "registrar/GuardedCalls.h"

#include <utility>

namespace vandrel {
namespace {

struct ReleaseCall {
    IUnknown* object;
};

void ReleaseBody(void* context) {
    static_cast<ReleaseCall*>(context)->object->Release();
}

struct RegisterCall {
    const RegistrarPlatform* platform;
    ITypeLib* library;
    wchar_t* path;
    wchar_t* helpDir;
    HRESULT status;
};

void RegisterBody(void* context) {
    auto& call = *static_cast<RegisterCall*>(context);
    call.status = call.platform->RegisterTypeLib(call.library, call.path, call.helpDir);
}

struct UnregisterCall {
    const RegistrarPlatform* platform;
    const TLIBATTR* identity;
    HRESULT status;
};

void UnregisterBody(void* context) {
    auto& call = *static_cast<UnregisterCall*>(context);
    const TLIBATTR& id = *call.identity;
    call.status = call.platform->UnRegisterTypeLib(id.guid, id.wMajorVerNum, id.wMinorVerNum,
                                                   id.lcid, id.syskind);
}

} // namespace

void ReleaseGuarded(const RegistrarPlatform& platform, IUnknown* object) {
    if (!object) return;
    ReleaseCall call{object};
    DWORD fault = 0;
    platform.RunGuarded(ReleaseBody, &call, &fault);
}

HRESULT GuardedRegister(const RegistrarPlatform& platform, ITypeLib*& library, wchar_t* path,
                        wchar_t* helpDir) {
    RegisterCall call{&platform, library, path, helpDir, E_FAIL};
    DWORD fault = 0;
    if (platform.RunGuarded(RegisterBody, &call, &fault)) return call.status;
    if (fault) ReleaseGuarded(platform, std::exchange(library, nullptr));
    return FaultStatus(fault);
}

HRESULT GuardedUnregister(const RegistrarPlatform& platform, const TLIBATTR& identity) {
    UnregisterCall call{&platform, &identity, E_FAIL};
    DWORD fault = 0;
    if (platform.RunGuarded(UnregisterBody, &call, &fault)) return call.status;
    return FaultStatus(fault);
}

} // namespace vandrel
