// Vandrel's side of its worker: starting it in a job, watching it against a
// time and a memory bound, and reading its reports as untrusted data. A
// worker that crashes, spins, allocates without end, overruns a bound or
// answers with a malformed or missing report has read a damaged library:
// it is ended, and the caller puts back whatever its record holds.
#pragma once

#include "common/Seam.h"
#include "registrar/RegistrarResult.h"
#include "registrar/WorkerProtocol.h"

#include <windows.h>

#include <memory>
#include <string>

namespace vandrel {

// How long a worker may take for one request, and how much memory it may
// commit. The time grows with the file: max(base, per megabyte × size).
struct WorkerBounds {
    DWORD baseMs;
    DWORD perMegabyteMs;
    SIZE_T memoryBytes;
};
inline constexpr WorkerBounds kWorkerBounds = {20000, 4000, SIZE_T{256} << 20};

// A started worker: bytes to it, bytes from it.
class WorkerLink {
public:
    virtual ~WorkerLink() = default;
    // S_OK, or why the worker is lost (its exit code, a bound, a broken pipe).
    virtual HRESULT Send(const std::string& bytes, DWORD timeoutMs) = 0;
    virtual HRESULT Receive(void* bytes, size_t size, DWORD timeoutMs) = 0;
    // Ends the worker and waits for its end: nothing it does can follow.
    virtual void End() = 0;
};

struct WorkerStarter {
    // A running worker, or null with the status that says why not.
    std::unique_ptr<WorkerLink> (*Start)(const WorkerStarter& self, HRESULT& status);
    // The program to run as the worker; nullptr for this executable.
    const wchar_t* program;
    WorkerBounds bounds;
};
Seam<WorkerStarter>& WorkerSeam();

// The real start: the program in a job that kills it when Vandrel goes, with
// only its end of the pipe inherited.
std::unique_ptr<WorkerLink> StartWorkerProcess(const WorkerStarter& self, HRESULT& status);

// A load report's header, checked: S_OK, or the malformed-report status.
// A library cannot declare more interfaces, or a longer name, than its file
// has room for.
HRESULT CheckLoadReport(const worker::LoadHeader& header, unsigned long long fileBytes);
HRESULT CheckCallReport(const worker::CallReport& report);
// An entries report's header, and each of its records (the `index`-th of
// the interfaces the load reported as `expected`, with names of `nameChars`
// characters so far). No name is longer than the file, nor all of them.
HRESULT CheckEntriesHeader(const worker::EntriesHeader& header, size_t expected);
HRESULT CheckEntryRecord(const worker::EntryRecord& record, const IID& expected,
                         unsigned long long nameChars, unsigned long long fileBytes);
inline constexpr HRESULT kMalformedReport = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

// One command's worker, started on first use and ended with the command.
class WorkerClient {
public:
    WorkerClient() = default;
    WorkerClient(const WorkerClient&) = delete;
    WorkerClient& operator=(const WorkerClient&) = delete;
    ~WorkerClient();

    // Loads and walks the file at `path` (resolved, `fileBytes` long). The
    // library keeps its index, in order of loading, for the calls below.
    RegistrarResult Load(const std::wstring& path, unsigned long long fileBytes,
                         PlatformCall purpose, worker::LibraryReport& report);
    // The platform's registration of a loaded library.
    RegistrarResult Register(uint32_t library, const std::wstring& path,
                             const std::wstring& helpDir, Scope scope,
                             unsigned long long fileBytes);
    // Its unregistration by the identity the library hands over, or by one
    // given. A failure before the platform was asked is a failed read.
    RegistrarResult UnregisterLoaded(uint32_t library, Scope scope, unsigned long long fileBytes);
    RegistrarResult UnregisterIdentity(const LibraryId& id, Scope scope);
    // What registering the loaded library writes, read from it: `loaded` is
    // its load report, whose interfaces the entries must name in order.
    RegistrarResult Entries(uint32_t library, const worker::LibraryReport& loaded,
                            unsigned long long fileBytes, worker::EntriesReport& entries);

private:
    RegistrarResult Exchange(const worker::RequestHeader& request, const std::wstring& text,
                             const std::wstring& help, unsigned long long fileBytes);
    RegistrarResult Call(const worker::RequestHeader& request, const std::wstring& text,
                         const std::wstring& help, unsigned long long fileBytes);
    RegistrarResult Lost(HRESULT why);
    DWORD Timeout(unsigned long long fileBytes) const;

    std::unique_ptr<WorkerLink> link_;
    WorkerBounds bounds_{};
};

} // namespace vandrel
