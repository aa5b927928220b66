// A worker that crashes, spins, allocates without end or answers nonsense
// has read a damaged library: the command fails as damaged, with the cause
// as its status; the registry is as it was; and the next command is served
// by a fresh worker. The bounds are shortened here to a second or 64 MB.
#include "registrar/ModVandrel.h"
#include "registrar/host/Worker.h"
#include "support/HostileLibraries.h"
#include "support/LoopbackWorker.h"
#include "support/ScopedSeam.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vandrel {
namespace {

using test::Fixture;
using test::TempFolder;

// A second for the spin; for the others the memory bound, 64 MB, comes first.
constexpr WorkerBounds kShortTime = {1000, 1000, SIZE_T{64} << 20};
constexpr WorkerBounds kShortMemory = {20000, 4000, SIZE_T{64} << 20};

std::wstring BadWorker() {
    static const std::wstring path = test::EnvFolder("VANDREL_BUILD") + L"\\tests\\BadWorker.exe";
    return path;
}

// Wine's crash dialog as a fresh prefix has it (shown), for one scope; the
// test prefixes turn it off.
class CrashDialogShown {
public:
    CrashDialogShown() {
        ::RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"ShowCrashDialog", REG_DWORD, &kShown,
                          sizeof kShown);
    }
    CrashDialogShown(const CrashDialogShown&) = delete;
    CrashDialogShown& operator=(const CrashDialogShown&) = delete;
    ~CrashDialogShown() {
        ::RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"ShowCrashDialog", REG_DWORD, &kHidden,
                          sizeof kHidden);
    }

private:
    static constexpr wchar_t kKey[] = L"Software\\Wine\\WineDbg";
    static constexpr DWORD kShown = 1, kHidden = 0;
};

class WorkerFailures : public test::RegistryTest {
protected:
    TempFolder folder;
};

TEST_F(WorkerFailures, EachIsADamagedLibraryThatChangesNothingAndTheNextCommandIsServed) {
    const std::string spin = test::SpinningSltg();
    const std::string runaway = test::RunawayAllocation();
    struct Case {
        const char* what;
        std::string bytes;
        HRESULT status;
        bool badWorker = false;
    };
    const Case cases[] = {
        {"a block chain in a circle", spin, HRESULT_FROM_WIN32(ERROR_TIMEOUT)},
        {"a list that allocates for ever", runaway, E_OUTOFMEMORY},
        {"a load that faults", test::CrashingLibrary(),
         static_cast<HRESULT>(EXCEPTION_ACCESS_VIOLATION)},
        {"a 16-bit module carrying a runaway library", test::NeModule(runaway), E_OUTOFMEMORY},
        {"the same module compressed", test::Szdd(test::NeModule(runaway)), E_OUTOFMEMORY},
        {"a malformed report", test::ReadBytes(Fixture(L"Alpha.tlb")), kMalformedReport, true},
    };
    const std::wstring program = BadWorker();
    for (const Case& c : cases) {
        const WorkerStarter bounded = {
            StartWorkerProcess, c.badWorker ? program.c_str() : nullptr,
            c.status == HRESULT_FROM_WIN32(ERROR_TIMEOUT) ? kShortTime : kShortMemory};
        const test::ScopedSeam<WorkerStarter> seam(WorkerSeam(), bounded);
        // A crash must end the worker quietly, whatever the dialog setting.
        const std::optional<CrashDialogShown> dialog =
            c.status == static_cast<HRESULT>(EXCEPTION_ACCESS_VIOLATION)
                ? std::make_optional<CrashDialogShown>()
                : std::nullopt;
        const std::wstring file = folder.Write(L"damaged.tlb", c.bytes);
        for (bool unregister : {false, true}) {
            const RegistrarResult result = unregister
                                               ? UnregisterLibraryIn(file, Scope::Machine)
                                               : RegisterLibraryIn(file, L"", Scope::Machine);
            EXPECT_EQ(result.flag, kFalse) << c.what;
            EXPECT_EQ(result.failure, Failure::Damaged) << c.what;
            EXPECT_EQ(result.status, c.status) << c.what << std::hex << " 0x" << result.status;
        }
        LibraryFacts facts;
        EXPECT_EQ(DescribeLibrary(file, facts).failure, Failure::Damaged) << c.what;
    }
    // The next command, in a fresh worker, is served.
    const std::wstring alpha = folder.Copy(Fixture(L"Alpha.tlb"), L"Alpha.tlb");
    EXPECT_EQ(RegisterLibrary(alpha, L""), kTrue);
    EXPECT_EQ(UnregisterLibrary(alpha), kTrue);
}

// A worker (run in this process) that is lost at its second request.
class OneRequestLink final : public WorkerLink {
public:
    HRESULT Send(const std::string& bytes, DWORD ms) override {
        return sent_++ ? HRESULT_FROM_WIN32(ERROR_BROKEN_PIPE) : inner_.Send(bytes, ms);
    }
    HRESULT Receive(void* bytes, size_t size, DWORD ms) override {
        return inner_.Receive(bytes, size, ms);
    }
    void End() override { inner_.End(); }

private:
    test::LoopbackLink inner_;
    int sent_ = 0;
};

// The check reads a file that failed in a worker that had read others once
// more in a fresh one: workers lost at their second file find nothing wrong
// with Wine's own libraries, and the check goes through.
TEST_F(WorkerFailures, TheCheckCallsAFileDamagedOnlyWhenItFailsInAFreshWorker) {
    const WorkerStarter oneEach = {[](const WorkerStarter&, HRESULT& status) {
                                       status = S_OK;
                                       return std::unique_ptr<WorkerLink>(new OneRequestLink);
                                   },
                                   nullptr, kWorkerBounds};
    const test::ScopedSeam<WorkerStarter> seam(WorkerSeam(), oneEach);
    std::vector<Finding> findings;
    size_t checked = 0;
    EXPECT_EQ(CheckRegistrations(findings, checked).flag, kTrue);
    EXPECT_GE(checked, 2u);
    EXPECT_EQ(findings.size(), 0u);
}

// A worker that cannot be started is an unexpected error, never a damaged
// library; a check stops at it.
TEST_F(WorkerFailures, AWorkerThatCannotStartIsUnexpected) {
    const std::wstring missing = folder.path() + L"\\missing.exe";
    const WorkerStarter nowhere = {StartWorkerProcess, missing.c_str(), kWorkerBounds};
    const test::ScopedSeam<WorkerStarter> seam(WorkerSeam(), nowhere);
    const RegistrarResult result =
        RegisterLibraryIn(folder.Copy(Fixture(L"Alpha.tlb"), L"Alpha.tlb"), L"", Scope::Machine);
    EXPECT_EQ(result.failure, Failure::Unexpected);
    EXPECT_EQ(result.status, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    std::vector<Finding> findings;
    size_t checked = 0;
    EXPECT_EQ(CheckRegistrations(findings, checked).failure, Failure::Unexpected);
}

} // namespace
} // namespace vandrel
