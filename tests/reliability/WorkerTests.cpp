// What a worker cannot do to the machine's other registrations: a registered
// file that makes the loader spin is read before the turn is taken, so
// another library's registration is served meanwhile; and the worker never
// outlives the Vandrel that started it.
#include "driver/Driver.h"
#include "support/HostileLibraries.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <fstream>

namespace vandrel::test {
namespace {

// Whether a process started by `parent` still runs.
bool ChildRuns(DWORD parent) {
    const OwnedFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
         more = ::Process32NextW(snapshot.get(), &entry))
        if (entry.th32ParentProcessID == parent) return true;
    return false;
}

TEST(HeldTurn, ALoopingRegisteredFileDoesNotKeepAnotherRegistrationWaiting) {
    TempFolder folder;
    const std::wstring registered = folder.Copy(Fixture(L"Alpha.tlb"), L"registered\\Alpha.tlb");
    const std::wstring copy = folder.Copy(Fixture(L"Alpha.tlb"), L"Alpha.tlb");
    const std::wstring beta = folder.Copy(Fixture(L"Beta.tlb"), L"Beta.tlb");
    ASSERT_EQ(test::Run(VandrelExe(), registered + L" /s"), 0u);
    // The registered file now loops; the copy still names the same identity.
    folder.Write(L"registered\\Alpha.tlb", SpinningSltg());
    const std::wstring before = RegistrySnapshot();
    {
        const Process unregistering = Process::Start(VandrelExe(), copy + L" /u /s");
        EXPECT_EQ(test::Run(VandrelExe(), beta + L" /s"), 0u);
        EXPECT_TRUE(unregistering.Running()) << "the other registration waited for the loop's end";
        EXPECT_EQ(test::Run(VandrelExe(), beta + L" /u /s"), 0u);
        // The loop's end at the worker's time bound is the worker tests'
        // concern: here Vandrel is stopped, and its worker goes with it.
        ::TerminateProcess(unregistering.handle(), 99);
        ASSERT_EQ(unregistering.Wait(), 99u);
        bool gone = false;
        for (int i = 0; i < 100 && !gone; ++i, ::Sleep(50))
            gone = !ChildRuns(unregistering.id());
        EXPECT_TRUE(gone) << "the worker outlived a Vandrel that was stopped";
    }
    EXPECT_TRUE(SameRegistry(before, RegistrySnapshot()));
    folder.Copy(Fixture(L"Alpha.tlb"), L"registered\\Alpha.tlb");
    EXPECT_EQ(test::Run(VandrelExe(), registered + L" /u /s"), 0u);
}

} // namespace
} // namespace vandrel::test
