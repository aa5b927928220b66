// The worker as a process of its own: the same executable, in a job that
// ends it when Vandrel ends, with one inherited handle (its end of a pipe),
// watched against a time and a memory bound while Vandrel waits for it.
#include "registrar/host/Worker.h"

#include "common/MessagePump.h"
#include "common/Owned.h"
#include "common/ProgramPath.h"
#include "registrar/registry/KeyNames.h"

#include <psapi.h>

#include <algorithm>
#include <vector>

namespace vandrel {
namespace {

// How often a waiting Vandrel looks at the worker's committed memory.
constexpr DWORD kMemoryLookMs = 25;
// How long an ended worker may take to be gone.
constexpr DWORD kEndWaitMs = 5000;

HRESULT LastError() {
    const DWORD error = ::GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_UNEXPECTED;
}

// A pipe name no other process can have taken first: one instance only, and
// ours is the first.
std::wstring PipeName() {
    static LONG serial = 0;
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return L"\\\\.\\pipe\\vandrel-worker-" + HexName(::GetCurrentProcessId()) + L"-" +
           HexName(static_cast<unsigned long>(::InterlockedIncrement(&serial))) + L"-" +
           HexName(static_cast<unsigned long>(now.QuadPart));
}

class AttributeList {
public:
    explicit AttributeList(HANDLE* inherited) {
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        storage_.resize(size);
        list_ = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
        if (!::InitializeProcThreadAttributeList(list_, 1, 0, &size)) {
            list_ = nullptr;
            return;
        }
        if (!::UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                         sizeof *inherited, nullptr, nullptr)) {
            ::DeleteProcThreadAttributeList(list_);
            list_ = nullptr;
        }
    }
    AttributeList(const AttributeList&) = delete;
    AttributeList& operator=(const AttributeList&) = delete;
    ~AttributeList() {
        if (list_) ::DeleteProcThreadAttributeList(list_);
    }
    LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

private:
    std::vector<BYTE> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

class WorkerProcess final : public WorkerLink {
public:
    explicit WorkerProcess(SIZE_T memoryBytes) : memoryBytes_(memoryBytes) {}

    HRESULT Start(const std::wstring& program) {
        job_.reset(::CreateJobObjectW(nullptr, nullptr));
        if (!job_) return LastError();
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags =
            JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION |
            JOB_OBJECT_LIMIT_PROCESS_MEMORY | JOB_OBJECT_LIMIT_ACTIVE_PROCESS;
        limits.BasicLimitInformation.ActiveProcessLimit = 1;
        limits.ProcessMemoryLimit = memoryBytes_;
        if (!::SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation, &limits,
                                       sizeof limits))
            return LastError();
        event_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!event_) return LastError();
        const std::wstring name = PipeName();
        pipe_.reset(::CreateNamedPipeW(
            name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
            1 << 17, 1 << 17, 0, nullptr));
        if (!pipe_) return LastError();
        SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
        OwnedFile end(::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, &inheritable,
                                    OPEN_EXISTING, 0, nullptr));
        if (!end) return LastError();
        OVERLAPPED connect{};
        connect.hEvent = event_.get();
        if (!::ConnectNamedPipe(pipe_.get(), &connect) && ::GetLastError() != ERROR_PIPE_CONNECTED)
            return LastError();
        HANDLE inherited = end.get();
        const AttributeList attributes(&inherited);
        if (!attributes.get()) return LastError();
        STARTUPINFOEXW startup{};
        startup.StartupInfo.cb = sizeof startup;
        // None of Vandrel's standard handles: a script reading Vandrel's
        // output never waits on the worker.
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.lpAttributeList = attributes.get();
        std::wstring commandLine =
            L"\"" + program + L"\" " + worker::kArgument +
            // A handle's value fits in 32 bits, as 32- and 64-bit processes share them.
            HexName(static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(inherited)));
        PROCESS_INFORMATION started{};
        if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                              CREATE_SUSPENDED | CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT,
                              nullptr, nullptr, &startup.StartupInfo, &started))
            return LastError();
        process_.reset(started.hProcess);
        const OwnedHandle thread(started.hThread);
        if (!::AssignProcessToJobObject(job_.get(), process_.get())) {
            const HRESULT status = LastError();
            ::TerminateProcess(process_.get(), 1);
            ::WaitForSingleObject(process_.get(), kEndWaitMs);
            process_.reset();
            return status;
        }
        if (::ResumeThread(thread.get()) == static_cast<DWORD>(-1)) return LastError();
        return S_OK;
    }

    HRESULT Send(const std::string& bytes, DWORD timeoutMs) override {
        size_t done = 0;
        while (done < bytes.size()) {
            DWORD moved = 0;
            const HRESULT status = Transfer(true, const_cast<char*>(bytes.data()) + done,
                                            bytes.size() - done, timeoutMs, moved);
            if (status != S_OK) return status;
            done += moved;
        }
        return S_OK;
    }

    HRESULT Receive(void* bytes, size_t size, DWORD timeoutMs) override {
        auto* at = static_cast<char*>(bytes);
        const ULONGLONG until = ::GetTickCount64() + timeoutMs;
        while (size) {
            const ULONGLONG now = ::GetTickCount64();
            DWORD moved = 0;
            const HRESULT status = Transfer(
                false, at, size, now >= until ? 0 : static_cast<DWORD>(until - now), moved);
            if (status != S_OK) return status;
            at += moved;
            size -= moved;
        }
        return S_OK;
    }

    void End() override {
        if (!process_) return;
        ::TerminateJobObject(job_.get(), static_cast<UINT>(HRESULT_FROM_WIN32(ERROR_TIMEOUT)));
        ::WaitForSingleObject(process_.get(), kEndWaitMs);
        process_.reset();
    }

    ~WorkerProcess() override { End(); }

private:
    // One read or write of the pipe, watched: the worker's end, a bound
    // overrun or the time running out stop it.
    HRESULT Transfer(bool write, char* bytes, size_t size, DWORD timeoutMs, DWORD& moved) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = event_.get();
        ::ResetEvent(event_.get());
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1 << 16));
        const BOOL done = write ? ::WriteFile(pipe_.get(), bytes, chunk, nullptr, &overlapped)
                                : ::ReadFile(pipe_.get(), bytes, chunk, nullptr, &overlapped);
        if (!done && ::GetLastError() != ERROR_IO_PENDING) return Gone();
        const HRESULT waited = Await(overlapped, timeoutMs);
        if (waited != S_OK) {
            ::CancelIoEx(pipe_.get(), &overlapped);
            ::GetOverlappedResult(pipe_.get(), &overlapped, &moved, TRUE);
            return waited;
        }
        if (!::GetOverlappedResult(pipe_.get(), &overlapped, &moved, FALSE) || moved == 0)
            return Gone();
        return S_OK;
    }

    HRESULT Await(OVERLAPPED& overlapped, DWORD timeoutMs) {
        const HANDLE handles[] = {overlapped.hEvent, process_.get()};
        const ULONGLONG until = ::GetTickCount64() + timeoutMs;
        DroppingInput pump;
        for (;;) {
            const ULONGLONG now = ::GetTickCount64();
            if (now >= until) return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
            const DWORD slice = static_cast<DWORD>(std::min<ULONGLONG>(until - now, kMemoryLookMs));
            const DWORD woke = WaitPumping(2, handles, slice, pump);
            if (woke == WAIT_OBJECT_0) return S_OK;
            if (woke == WAIT_OBJECT_0 + 1) {
                // What the worker wrote before it ended is still to be read.
                if (::WaitForSingleObject(overlapped.hEvent, 0) == WAIT_OBJECT_0) return S_OK;
                return Gone();
            }
            if (woke != WAIT_TIMEOUT) return LastError();
            if (OverMemory()) return E_OUTOFMEMORY;
        }
    }

    // Wine enforces no job memory limit and reports no private usage for
    // another process; the commit charge it does report.
    bool OverMemory() const {
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof counters;
        return ::GetProcessMemoryInfo(process_.get(), &counters, sizeof counters) &&
               counters.PagefileUsage > memoryBytes_;
    }

    // The worker ended, or its pipe broke: its exit status says why where
    // it has one (a crash's exception code).
    HRESULT Gone() {
        if (::WaitForSingleObject(process_.get(), kEndWaitMs) == WAIT_OBJECT_0) {
            DWORD code = 0;
            if (::GetExitCodeProcess(process_.get(), &code) && code != 0)
                return static_cast<HRESULT>(code);
        }
        return HRESULT_FROM_WIN32(ERROR_BROKEN_PIPE);
    }

    SIZE_T memoryBytes_;
    OwnedHandle job_;
    OwnedHandle event_;
    OwnedFile pipe_;
    OwnedHandle process_;
};

} // namespace

std::unique_ptr<WorkerLink> StartWorkerProcess(const WorkerStarter& self, HRESULT& status) {
    auto worker = std::make_unique<WorkerProcess>(self.bounds.memoryBytes);
    status = worker->Start(self.program ? std::wstring(self.program) : ProgramPath());
    if (status != S_OK) return nullptr;
    return worker;
}

Seam<WorkerStarter>& WorkerSeam() {
    static const WorkerStarter kReal = {StartWorkerProcess, nullptr, kWorkerBounds};
    static Seam<WorkerStarter> seam(kReal);
    return seam;
}

} // namespace vandrel
