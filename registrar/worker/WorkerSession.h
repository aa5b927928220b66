// What the worker does for Vandrel: loads libraries and keeps them until it
// ends (so that the platform's own load inside its unregistration finds them
// in the loader's cache), walks them, and makes the platform's registration
// calls. Requests come in as RequestHeader and text; each is answered with
// the bytes of one report.
#pragma once

#include "common/Owned.h"
#include "registrar/RegistrarPlatform.h"
#include "registrar/WorkerProtocol.h"

#include <string>
#include <vector>

namespace vandrel::worker {

class WorkerSession {
public:
    explicit WorkerSession(const RegistrarPlatform& platform) : platform_(platform) {}
    WorkerSession(const WorkerSession&) = delete;
    WorkerSession& operator=(const WorkerSession&) = delete;

    // The report's bytes for one request.
    std::string Serve(const RequestHeader& request, std::wstring text, std::wstring help);

private:
    std::string Load(const std::wstring& path, PlatformCall purpose);
    std::string Entries(uint32_t library);
    CallReport Register(uint32_t library, std::wstring& path, std::wstring& help, Scope scope);
    CallReport UnregisterLoaded(uint32_t library, Scope scope);
    CallReport Unregister(const TLIBATTR& identity, Scope scope);

    const RegistrarPlatform& platform_;
    std::vector<ComPtr<ITypeLib>> libraries_;
};

} // namespace vandrel::worker
