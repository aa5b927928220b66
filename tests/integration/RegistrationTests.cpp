// The registrar against the real Automation library and the prefix's real
// registry, with type libraries generated from IDL.
#include "registrar/ModVandrel.h"
#include "common/Owned.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace vandrel {
namespace {

using test::Fixture;
using test::IdentityOf;
using test::LibIdentity;
using test::RegisteredPath;
using test::RegistryKeyExists;
using test::RegistrySnapshot;
using test::TempFolder;

class Registration : public ::testing::Test {
protected:
    void SetUp() override { before = RegistrySnapshot(); }
    void TearDown() override {
        // Every test leaves the registry exactly as it found it.
        EXPECT_TRUE(test::SameRegistry(before, RegistrySnapshot()));
    }
    std::wstring before;
    TempFolder folder;
};

TEST_F(Registration, RegisterWritesTheLibraryAndItsInterfacesAndUnregisterRemovesThem) {
    const std::wstring alpha = folder.Copy(Fixture(L"Alpha.tlb"), L"Alpha.tlb");
    const LibIdentity id = IdentityOf(alpha);
    ASSERT_EQ(RegisteredPath(id), L"");

    ASSERT_EQ(RegisterLibrary(alpha, L""), kTrue);
    EXPECT_EQ(RegisteredPath(id), alpha);
    EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT,
                                  test::TypeLibKey(id) + L"\\1.0\\0\\" + test::kPlatformKey));
    EXPECT_EQ(test::RegistryDefaultValue(HKEY_CLASSES_ROOT, test::TypeLibKey(id) + L"\\1.0"),
              L"Vandrel test library Alpha");
    // The dispinterface and the dual interface.
    EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT,
                                  L"Interface\\{6A1C1E2E-0B7D-4E0A-9C53-1F0E9D2A7B02}\\TypeLib"));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT,
                                  L"Interface\\{6A1C1E2E-0B7D-4E0A-9C53-1F0E9D2A7B03}\\TypeLib"));
    ComPtr<ITypeLib> loaded;
    EXPECT_EQ(::LoadRegTypeLib(id.guid, 1, 0, 0, loaded.put()), S_OK);
    loaded.reset();

    ASSERT_EQ(UnregisterLibrary(alpha), kTrue);
    EXPECT_EQ(RegisteredPath(id), L"");
    EXPECT_FALSE(
        RegistryKeyExists(HKEY_CLASSES_ROOT, L"Interface\\{6A1C1E2E-0B7D-4E0A-9C53-1F0E9D2A7B02}"));
}

TEST_F(Registration, UnregisteringTwiceFailsTheSecondTime) {
    const std::wstring beta = folder.Copy(Fixture(L"Beta.tlb"), L"Beta.tlb");
    ASSERT_EQ(RegisterLibrary(beta, L""), kTrue);
    EXPECT_EQ(RegisterLibrary(beta, L""), kTrue); // registering again is harmless
    EXPECT_EQ(UnregisterLibrary(beta), kTrue);
    EXPECT_EQ(UnregisterLibrary(beta), kFalse);
}

TEST_F(Registration, ASecondCopyWithTheSameIdentityRemovesTheFirstCopysRegistration) {
    const std::wstring first = folder.Copy(Fixture(L"Beta.tlb"), L"one\\Beta.tlb");
    const std::wstring second = folder.Copy(Fixture(L"Beta.tlb"), L"two\\Beta.tlb");
    ASSERT_EQ(RegisterLibrary(first, L""), kTrue);
    EXPECT_EQ(RegisteredPath(IdentityOf(first)), first);
    EXPECT_EQ(UnregisterLibrary(second), kTrue);
    EXPECT_EQ(RegisteredPath(IdentityOf(first)), L"");
}

TEST_F(Registration, AnotherVersionOfTheSameLibraryLeavesTheRegisteredOneAlone) {
    const std::wstring v1 = folder.Copy(Fixture(L"Alpha.tlb"), L"Alpha.tlb");
    const std::wstring v2 = folder.Copy(Fixture(L"AlphaV2.tlb"), L"AlphaV2.tlb");
    ASSERT_EQ(RegisterLibrary(v1, L""), kTrue);
    const std::wstring registered = RegistrySnapshot();
    EXPECT_EQ(UnregisterLibrary(v2), kFalse);
    EXPECT_TRUE(test::SameRegistry(registered, RegistrySnapshot()));
    EXPECT_EQ(UnregisterLibrary(v1), kTrue);
}

TEST_F(Registration, RelativePathsAreRegisteredFullyQualified) {
    const std::wstring gamma = folder.Copy(Fixture(L"Gamma.tlb"), L"Gamma.tlb");
    wchar_t previous[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryW(folder.path().c_str()));
    const Flag registered = RegisterLibrary(L"Gamma.tlb", L"");
    const Flag unregistered = UnregisterLibrary(L".\\Gamma.tlb");
    ::SetCurrentDirectoryW(previous);
    EXPECT_EQ(registered, kTrue);
    EXPECT_EQ(unregistered, kTrue);
}

TEST_F(Registration, LibrariesEmbeddedInADllAreAddressedByResourceIndex) {
    const std::wstring dll = folder.Copy(Fixture(L"Embedded.dll"), L"Embedded.dll");
    const LibIdentity beta = IdentityOf(Fixture(L"Beta.tlb"));
    const LibIdentity gamma = IdentityOf(Fixture(L"Gamma.tlb"));

    // The bare DLL name means its first type library.
    ASSERT_EQ(RegisterLibrary(dll, L""), kTrue);
    EXPECT_EQ(RegisteredPath(beta), dll);
    ASSERT_EQ(RegisterLibrary(dll + L"\\2", L""), kTrue);
    EXPECT_EQ(RegisteredPath(gamma), dll + L"\\2");

    EXPECT_EQ(RegisterLibrary(dll + L"\\9", L""), kFalse);
    EXPECT_EQ(UnregisterLibrary(dll + L"\\2"), kTrue);
    EXPECT_EQ(UnregisterLibrary(dll), kTrue);
}

TEST_F(Registration, FilesThatAreNoTypeLibraryFailWithoutTouchingTheRegistry) {
    const std::wstring text = folder.Write(L"notes.tlb", "just some text, no library");
    const std::wstring empty = folder.Write(L"empty.tlb", "");
    for (const std::wstring& path : {text, empty, folder.path(), folder.path() + L"\\none.tlb"}) {
        EXPECT_EQ(RegisterLibrary(path, L""), kFalse);
        EXPECT_EQ(UnregisterLibrary(path), kFalse);
    }
}

TEST_F(Registration, UnregisterNeverRegistersALibraryThatWasNotRegistered) {
    const std::wstring beta = folder.Copy(Fixture(L"Beta.tlb"), L"Beta.tlb");
    wchar_t previous[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    ::SetCurrentDirectoryW(folder.path().c_str());
    const Flag result = UnregisterLibrary(L"Beta.tlb");
    ::SetCurrentDirectoryW(previous);
    EXPECT_EQ(result, kFalse);
    EXPECT_EQ(RegisteredPath(IdentityOf(beta)), L"");
}

} // namespace
} // namespace vandrel
