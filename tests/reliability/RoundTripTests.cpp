// Every fixture library through Vandrel.exe: register, check, unregister, and
// the TypeLib and Interface trees are exactly as before.
#include "driver/Driver.h"
#include "support/TestSupport.h"
#include "support/UiTexts.h"

#include <gtest/gtest.h>

#include <string>

namespace vandrel::test {
namespace {

DWORD Vandrel(const std::wstring& arguments) {
    return test::Run(VandrelExe(), arguments);
}

TEST(RoundTrip, EveryFixtureAndEveryEmbeddedLibraryComesBackToTheSameRegistry) {
    TempFolder folder;
    const std::wstring dll = folder.Copy(Fixture(L"Embedded.dll"), L"Embedded.dll");
    const std::wstring paths[] = {
        folder.Copy(Fixture(L"Alpha.tlb"), L"Alpha.tlb"),
        folder.Copy(Fixture(L"AlphaV2.tlb"), L"AlphaV2.tlb"),
        folder.Copy(Fixture(L"Beta.tlb"), L"Beta.tlb"),
        folder.Copy(Fixture(L"Gamma.tlb"), L"Gamma.tlb"),
        folder.Copy(Fixture(L"Sample.tlb"), L"Sample.tlb"),
        dll, // resource 1
        dll + L"\\2",
    };
    const std::wstring before = RegistrySnapshot();
    for (const auto& path : paths) {
        const std::string what(path.begin(), path.end());
        const LibIdentity id = IdentityOf(path);
        ASSERT_EQ(Vandrel(path + L" /s"), 0u) << what;
        EXPECT_EQ(RegisteredPath(id), path) << what;
        ASSERT_EQ(Vandrel(path + L" /u /s"), 0u) << what;
        EXPECT_TRUE(SameRegistry(before, RegistrySnapshot())) << what;
    }
}

TEST(RoundTrip, TwiceEachWaySecondCopyAndOtherVersion) {
    TempFolder folder;
    const std::wstring alpha = folder.Copy(Fixture(L"Alpha.tlb"), L"one\\Alpha.tlb");
    const std::wstring copy = folder.Copy(Fixture(L"Alpha.tlb"), L"two\\Alpha.tlb");
    const std::wstring v2 = folder.Copy(Fixture(L"AlphaV2.tlb"), L"AlphaV2.tlb");
    const std::wstring before = RegistrySnapshot();

    EXPECT_EQ(Vandrel(alpha + L" /s"), 0u);
    const std::wstring once = RegistrySnapshot();
    EXPECT_EQ(Vandrel(alpha + L" /s"), 0u);
    EXPECT_TRUE(SameRegistry(once, RegistrySnapshot())) << "registering again changes nothing";
    // Another version of the same library leaves this one registered.
    EXPECT_EQ(Vandrel(v2 + L" /u /s"), 1u);
    EXPECT_TRUE(SameRegistry(once, RegistrySnapshot()));
    // A second copy of the same identity removes the first copy's entries.
    EXPECT_EQ(Vandrel(copy + L" /u /s"), 0u);
    EXPECT_TRUE(SameRegistry(before, RegistrySnapshot()));
    // Nothing left: the second unregistration fails, and says so.
    EXPECT_EQ(Vandrel(alpha + L" /u /s"), 1u);
    Process process = Process::Start(VandrelExe(), alpha + L" /u");
    HWND box = WaitForMessageBox(process.id());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), text::Result(true, alpha, false));
    PressOk(box);
    EXPECT_EQ(process.Wait(), 1u);
    EXPECT_TRUE(SameRegistry(before, RegistrySnapshot()));
}

} // namespace
} // namespace vandrel::test
