// What a worker cannot do to the machine's other registrations: a registered
// file that makes the loader spin is read before the turn is taken, so
// another library's registration is served meanwhile, and the spinning read
// ends at the worker's time bound as a damaged library.
#include "driver/Driver.h"
#include "support/HostileLibraries.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>

namespace vandrel::test {
namespace {

TEST(HeldTurn, ALoopingRegisteredFileDoesNotKeepAnotherRegistrationWaiting) {
    TempFolder folder;
    const std::wstring registered = folder.Copy(Fixture(L"Alpha.tlb"), L"registered\\Alpha.tlb");
    const std::wstring copy = folder.Copy(Fixture(L"Alpha.tlb"), L"Alpha.tlb");
    const std::wstring beta = folder.Copy(Fixture(L"Beta.tlb"), L"Beta.tlb");
    ASSERT_EQ(test::Run(VandrelExe(), registered + L" /s"), 0u);
    // The registered file now loops; the copy still names the same identity.
    folder.Write(L"registered\\Alpha.tlb", SpinningSltg());
    const std::wstring before = RegistrySnapshot();
    const Process unregistering = Process::Start(VandrelExe(), copy + L" /u /s");
    EXPECT_EQ(test::Run(VandrelExe(), beta + L" /s"), 0u);
    EXPECT_TRUE(unregistering.Running()) << "the other registration waited for the loop's end";
    // The loop ends at the worker's time bound (twenty seconds), changing nothing.
    EXPECT_EQ(unregistering.Wait(60000), 1u);
    EXPECT_EQ(test::Run(VandrelExe(), beta + L" /u /s"), 0u);
    EXPECT_TRUE(SameRegistry(before, RegistrySnapshot()));
    folder.Copy(Fixture(L"Alpha.tlb"), L"registered\\Alpha.tlb");
    EXPECT_EQ(test::Run(VandrelExe(), registered + L" /u /s"), 0u);
}

} // namespace
} // namespace vandrel::test
