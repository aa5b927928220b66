// The worker's session run in the test's own process, behind the same
// bytes a worker process would read and write: the registrar's requests and
// reports, and its checks of them, are what they are with a real worker,
// while the platform's calls stay the test's fakes.
#pragma once

#include "registrar/RegistrarPlatform.h"
#include "registrar/host/Worker.h"
#include "registrar/worker/WorkerSession.h"
#include "support/ScopedSeam.h"

#include <cstring>
#include <memory>
#include <string>

namespace vandrel::test {

class LoopbackLink final : public WorkerLink {
public:
    HRESULT Send(const std::string& bytes, DWORD) override {
        worker::RequestHeader request;
        if (bytes.size() < sizeof request) return HRESULT_FROM_WIN32(ERROR_BROKEN_PIPE);
        std::memcpy(&request, bytes.data(), sizeof request);
        const auto* text = reinterpret_cast<const wchar_t*>(bytes.data() + sizeof request);
        pending_ += session_->Serve(request, std::wstring(text, request.textChars),
                                    std::wstring(text + request.textChars, request.helpChars));
        return S_OK;
    }
    HRESULT Receive(void* bytes, size_t size, DWORD) override {
        if (pending_.size() < size) return HRESULT_FROM_WIN32(ERROR_BROKEN_PIPE);
        std::memcpy(bytes, pending_.data(), size);
        pending_.erase(0, size);
        return S_OK;
    }
    // The session's end gives back every library it kept.
    void End() override { session_.reset(); }

private:
    std::unique_ptr<worker::WorkerSession> session_ =
        std::make_unique<worker::WorkerSession>(*RegistrarSeam());
    std::string pending_;
};

inline std::unique_ptr<WorkerLink> StartLoopback(const WorkerStarter&, HRESULT& status) {
    status = S_OK;
    return std::make_unique<LoopbackLink>();
}

inline constexpr WorkerStarter kLoopback = {StartLoopback, nullptr, kWorkerBounds};

// For one scope, every registrar call's worker runs in this process.
class InProcessWorker {
public:
    InProcessWorker() = default;

private:
    ScopedSeam<WorkerStarter> seam_{WorkerSeam(), kLoopback};
};

} // namespace vandrel::test
