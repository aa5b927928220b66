// Eight Vandrel.exe processes at once: no crash, and the registry ends in a
// state that some order of the same commands would give.
#include "common/Owned.h"
#include "registrar/host/RegistrationTurn.h"
#include "driver/Driver.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <oleauto.h>
#include <sddl.h>

#include <string>
#include <vector>

namespace vandrel::test {
namespace {

constexpr int kProcesses = 8;

// A small library of its own identity.
std::wstring MakeLibrary(const TempFolder& folder, int n) {
    const std::wstring name = L"VandrelConcurrent" + std::to_wstring(n);
    const GUID guid = {
        0x5e0f0000u + static_cast<unsigned>(n), 0x1234, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x01}};
    return vandrel::test::MakeLibrary(folder.path() + L"\\Lib" + std::to_wstring(n) + L".tlb", guid,
                                      name.c_str());
}

// How many handles are open on a kernel object, in any process.
ULONG HandleCount(HANDLE object) {
    struct BasicInformation {
        ULONG attributes;
        ACCESS_MASK access;
        ULONG handles, references;
        ULONG reserved[10];
    } info{};
    using Query = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    static const auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
    return query && query(object, 0, &info, sizeof info, nullptr) == 0 ? info.handles : 0;
}

std::vector<DWORD> RunTogether(const std::vector<std::wstring>& argumentLists) {
    std::vector<Process> running;
    for (const auto& arguments : argumentLists)
        running.push_back(Process::Start(VandrelExe(), arguments));
    std::vector<DWORD> statuses;
    for (const auto& process : running)
        statuses.push_back(process.Wait(60000));
    return statuses;
}

TEST(Concurrency, EightProcessesOnEightLibraries) {
    TempFolder folder;
    std::vector<std::wstring> libs;
    for (int n = 0; n < kProcesses; ++n)
        libs.push_back(MakeLibrary(folder, n));
    const std::wstring before = RegistrySnapshot();

    std::vector<std::wstring> registering, unregistering;
    for (const auto& lib : libs) {
        registering.push_back(lib + L" /s");
        unregistering.push_back(lib + L" /u /s");
    }
    for (DWORD status : RunTogether(registering))
        EXPECT_EQ(status, 0u);
    for (const auto& lib : libs)
        EXPECT_EQ(RegisteredPath(IdentityOf(lib)), lib);
    for (DWORD status : RunTogether(unregistering))
        EXPECT_EQ(status, 0u);
    EXPECT_TRUE(SameRegistry(before, RegistrySnapshot()));
}

// A process that finds the registration turn taken waits for it, then goes on.
// (Under Wine the turn is the global mutex of that name.)
TEST(Concurrency, AProcessWaitsForTheRegistrationTurn) {
    TempFolder folder;
    const std::wstring lib = MakeLibrary(folder, 200);
    const OwnedHandle turn(::CreateMutexW(nullptr, TRUE, kRegistrationTurnName));
    ASSERT_TRUE(turn && ::GetLastError() != ERROR_ALREADY_EXISTS);
    const Process waiting = Process::Start(VandrelExe(), lib + L" /s");
    // The turn has a second handle once the process has asked for it.
    for (int i = 0; i < 3000 && HandleCount(turn.get()) < 2 && waiting.Running(); ++i)
        ::Sleep(10);
    ASSERT_EQ(HandleCount(turn.get()), 2u) << "the process never asked for the turn";
    EXPECT_TRUE(waiting.Running());
    EXPECT_EQ(RegisteredPath(IdentityOf(lib)), L"") << "registered without the turn";
    ::ReleaseMutex(turn.get());
    EXPECT_EQ(waiting.Wait(60000), 0u);
    EXPECT_EQ(RegisteredPath(IdentityOf(lib)), lib);
    EXPECT_EQ(test::Run(VandrelExe(), lib + L" /u /s"), 0u);
}

// Under Wine there are no private namespaces, and the turn is a global
// mutex whose name any process may take first: a squatter can still block
// every Vandrel there. Vandrel knows such a turn for what it is and fails at
// once, saying so, without going ahead: nothing is registered. (Where the
// turn lives in the administrators' namespace no other process can take
// its name.)
TEST(Concurrency, AProcessThatCannotTrustTheTurnDoesNothing) {
    TempFolder folder;
    const std::wstring lib = MakeLibrary(folder, 201);
    PSECURITY_DESCRIPTOR nobody = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:", SDDL_REVISION_1,
                                                                       &nobody, nullptr));
    SECURITY_ATTRIBUTES security{sizeof security, nobody, FALSE};
    const std::wstring before = RegistrySnapshot();
    for (const bool mutex : {true, false}) {
        // A mutex nobody may open, or an event under the turn's name.
        const OwnedHandle squatter(
            mutex ? ::CreateMutexW(&security, FALSE, kRegistrationTurnName)
                  : ::CreateEventW(nullptr, TRUE, FALSE, kRegistrationTurnName));
        ASSERT_TRUE(squatter && ::GetLastError() != ERROR_ALREADY_EXISTS);
        const Written run = RunWithPipe(VandrelExe(), lib + L" /s");
        EXPECT_EQ(run.status, 1u);
        EXPECT_EQ(run.text, L"Vandrel: 注册失败 \"" + lib +
                                L"\": 注册轮次被占用或不可信,未能轮到 (0x80071392)\r\n");
        EXPECT_TRUE(SameRegistry(before, RegistrySnapshot()));
    }
    ::LocalFree(nobody);
}

TEST(Concurrency, EightProcessesOnOneLibrary) {
    TempFolder folder;
    const std::wstring lib = MakeLibrary(folder, 100);
    const std::wstring before = RegistrySnapshot();
    ASSERT_EQ(test::Run(VandrelExe(), lib + L" /s"), 0u);
    const std::wstring registered = RegistrySnapshot();
    ASSERT_EQ(test::Run(VandrelExe(), lib + L" /u /s"), 0u);

    for (int round = 0; round < 2; ++round) {
        std::vector<std::wstring> mixed;
        for (int i = 0; i < kProcesses; ++i)
            mixed.push_back(lib + (i % 2 ? L" /u /s" : L" /s"));
        const std::vector<DWORD> statuses = RunTogether(mixed);
        for (int i = 0; i < kProcesses; ++i) {
            if (i % 2 == 0) {
                EXPECT_EQ(statuses[i], 0u) << "every registration succeeds";
            } else {
                // Unregistering what is not registered fails; nothing may crash.
                EXPECT_TRUE(statuses[i] == 0u || statuses[i] == 1u) << statuses[i];
            }
        }
        const std::wstring after = RegistrySnapshot();
        EXPECT_TRUE(after == before || after == registered)
            << "a state no order gives:\n"
            << SameRegistry(registered, after).message();
        test::Run(VandrelExe(), lib + L" /u /s");
        EXPECT_TRUE(SameRegistry(before, RegistrySnapshot()));
    }
}

} // namespace
} // namespace vandrel::test
