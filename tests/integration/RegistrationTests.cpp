// The registrar against the real Automation library and the prefix's real
// registry, with type libraries generated from IDL.
#include "registrar/ModVandrel.h"
#include "common/Owned.h"
#include "registrar/RegistrarPlatform.h"
#include "registrar/registry/RegisteredFile.h"
#include "support/LoopbackWorker.h"
#include "support/ScopedSeam.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vandrel {
namespace {

using test::Fixture;
using test::IdentityOf;
using test::LibIdentity;
using test::RegisteredPath;
using test::RegistryKeyExists;
using test::RegistrySnapshot;
using test::TempFolder;

class Registration : public test::RegistryTest {
protected:
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

// The registered file of a locale with sort bits (0x10407) is looked up as
// Wine's own lookup does: the locale, then its sublanguage from the low 16
// bits (1), then neutral. A lookup that shifted the whole locale would find
// the decoy under 0x41.
TEST_F(Registration, ALocaleWithSortBitsFindsTheFileWinesLookupFinds) {
    const std::wstring alpha = folder.Copy(Fixture(L"Alpha.tlb"), L"Alpha.tlb");
    const std::wstring beta = folder.Copy(Fixture(L"Beta.tlb"), L"Beta.tlb");
    const LibIdentity id = IdentityOf(alpha);
    const std::wstring version = L"Software\\Classes\\" + test::TypeLibKey(id) + L"\\1.0";
    for (const auto& [locale, file] : {std::pair{L"1", alpha}, std::pair{L"41", beta}})
        ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE,
                                    (version + L"\\" + locale + L"\\" + test::kPlatformKey).c_str(),
                                    nullptr, REG_SZ, file.c_str(),
                                    static_cast<DWORD>((file.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    ComPtr<ITypeLib> loaded;
    ASSERT_EQ(::LoadRegTypeLib(id.guid, 1, 0, 0x10407, loaded.put()), S_OK);
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(loaded->GetLibAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, id.guid)) << "Wine's lookup found another file";
    loaded->ReleaseTLibAttr(attr);
    loaded.reset();
    EXPECT_EQ(RegisteredFile(*RegistrarSeam(), {id.guid, 1, 0, 0x10407, test::kNativeSyskind},
                             Scope::Machine),
              alpha);
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\" + test::TypeLibKey(id)).c_str());
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

// The platform's plain loader registers a library named without a directory.
// The registrar makes every path absolute first, so its own load entry is
// given a bare name here: with any other load kind this registers.
TEST_F(Registration, TheRegistrarsLoadNeverRegisters) {
    const std::wstring beta = folder.Copy(Fixture(L"Beta.tlb"), L"Beta.tlb");
    wchar_t previous[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    ::SetCurrentDirectoryW(folder.path().c_str());
    ComPtr<ITypeLib> library;
    const HRESULT loaded = RegistrarSeam().real().LoadTypeLib(L"Beta.tlb", library.put());
    const Flag result = UnregisterLibrary(L"Beta.tlb");
    ::SetCurrentDirectoryW(previous);
    EXPECT_EQ(loaded, S_OK);
    EXPECT_EQ(result, kFalse);
    EXPECT_EQ(RegisteredPath(IdentityOf(beta)), L"");
}

// The platform's own calls, made to report failure after they ran (so every
// key was written or removed), or to stop part-way through an unregistration.
HRESULT g_realStatus = E_PENDING;
HRESULT WINAPI RegisterThenFail(ITypeLib* library, wchar_t* path, wchar_t* helpDir) {
    g_realStatus = RegistrarSeam().real().RegisterTypeLib(library, path, helpDir);
    return E_FAIL;
}
HRESULT WINAPI UnregisterThenFail(REFGUID id, WORD major, WORD minor, LCID lcid, SYSKIND kind) {
    g_realStatus = RegistrarSeam().real().UnRegisterTypeLib(id, major, minor, lcid, kind);
    return E_FAIL;
}
std::wstring g_alphaLib; // TypeLib\{guid}
// Alpha's two, and the one only AlphaWide declares.
const wchar_t* const kAlphaInterfaces[] = {L"Interface\\{6A1C1E2E-0B7D-4E0A-9C53-1F0E9D2A7B02}",
                                           L"Interface\\{6A1C1E2E-0B7D-4E0A-9C53-1F0E9D2A7B03}",
                                           L"Interface\\{6A1C1E2E-0B7D-4E0A-9C53-1F0E9D2A7B04}"};
HRESULT WINAPI UnregisterPartWay(REFGUID, WORD, WORD, LCID, SYSKIND) {
    // One interface gone in one view, one value changed, one key removed.
    const std::wstring version = g_alphaLib + L"\\1.0";
    const bool done =
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, kAlphaInterfaces[0]) == ERROR_SUCCESS &&
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, (version + L"\\FLAGS").c_str()) == ERROR_SUCCESS &&
        ::RegSetKeyValueW(HKEY_CLASSES_ROOT, version.c_str(), nullptr, REG_SZ, L"x", 4) ==
            ERROR_SUCCESS;
    g_realStatus = done ? S_OK : E_UNEXPECTED;
    return TYPE_E_REGISTRYACCESS;
}

void SetValue(const std::wstring& key, REGSAM view, const wchar_t* name, DWORD type,
              const void* data, DWORD size) {
    OwnedKey opened;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0,
                                KEY_ALL_ACCESS | view, nullptr, opened.put(), nullptr),
              ERROR_SUCCESS);
    if (!name) return;
    ASSERT_EQ(::RegSetValueExW(opened.get(), name, 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
}

// What a registration holds besides the platform's own values: an empty key,
// an empty default value, values of other types, a string of an odd number of
// bytes; and values the platform writes, holding something else, or a key of
// its gone: all must come back as they were.
void AddExtras() {
    const std::wstring version = g_alphaLib + L"\\1.0";
    const BYTE binary[] = {0, 1, 2, 0xFF};
    const wchar_t multi[] = L"one\0two\0";
    const DWORD number = 0x12345678;
    SetValue(version + L"\\Empty", 0, nullptr, 0, nullptr, 0);
    SetValue(version + L"\\Blank", 0, L"", REG_SZ, L"", sizeof(wchar_t));
    SetValue(version, 0, L"Binary", REG_BINARY, binary, sizeof binary);
    SetValue(version, 0, L"Multi", REG_MULTI_SZ, multi, sizeof multi);
    SetValue(version, 0, L"Odd", REG_SZ, "a\0b", 3);
    const std::wstring library = kAlphaInterfaces[1] + std::wstring(L"\\TypeLib");
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        SetValue(kAlphaInterfaces[1], view, L"Extra", REG_DWORD, &number, sizeof number);
        SetValue(kAlphaInterfaces[1], view, L"", REG_SZ, L"Renamed", sizeof L"Renamed");
        SetValue(library, view, L"Version", REG_EXPAND_SZ, L"9.9", sizeof L"9.9");
        OwnedKey key;
        if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, kAlphaInterfaces[0], 0, KEY_ALL_ACCESS | view,
                            key.put()) == ERROR_SUCCESS)
            ::RegDeleteTreeW(key.get(), L"ProxyStubClsid32");
    }
}

void RemoveAlpha() {
    std::vector<std::wstring> keys = {g_alphaLib};
    keys.insert(keys.end(), std::begin(kAlphaInterfaces), std::end(kAlphaInterfaces));
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        for (const std::wstring& key : keys) {
            // Opened down to the parent with the view: below Software\Classes a
            // 32-bit process's relative paths are redirected again.
            const size_t slash = key.find(L'\\');
            OwnedKey parent;
            if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                                (L"Software\\Classes\\" + key.substr(0, slash)).c_str(), 0,
                                KEY_ALL_ACCESS | view, parent.put()) == ERROR_SUCCESS)
                ::RegDeleteTreeW(parent.get(), key.substr(slash + 1).c_str());
        }
    }
}

TEST_F(Registration, AFailedRegistrationOrUnregistrationLeavesTheRegistryAsItWas) {
    enum class Failure { UnknownPlatform, AfterEveryKey, PartWay };
    // Registered before from another path, with extra keys and values.
    enum class Before { Nothing, Alpha, AlphaWide };
    struct Case {
        const char* name;
        bool unregister;
        Failure failure;
        Before before;
    };
    const Case cases[] = {
        {"register, unknown platform kind", false, Failure::UnknownPlatform, Before::Nothing},
        {"register, unknown platform kind, over a registration", false, Failure::UnknownPlatform,
         Before::Alpha},
        {"register, failure after every key", false, Failure::AfterEveryKey, Before::Nothing},
        {"register, failure after every key, over a registration", false, Failure::AfterEveryKey,
         Before::Alpha},
        {"unregister, failure after every key", true, Failure::AfterEveryKey, Before::Alpha},
        {"unregister, failure part-way", true, Failure::PartWay, Before::Alpha},
        {"unregister, unknown platform kind", true, Failure::UnknownPlatform, Before::Alpha},
        // The platform removes the interfaces of the registered build, which
        // has one more than the file named.
        {"unregister through a narrower build, failure after every key", true,
         Failure::AfterEveryKey, Before::AlphaWide},
    };
    const std::wstring alpha = folder.Copy(Fixture(L"Alpha.tlb"), L"Alpha.tlb");
    const std::wstring elsewhere = folder.Copy(Fixture(L"Alpha.tlb"), L"elsewhere\\Alpha.tlb");
    const std::wstring wide = folder.Copy(Fixture(L"AlphaWide.tlb"), L"elsewhere\\AlphaWide.tlb");
    const std::wstring unknown =
        test::WithUnknownPlatform(folder, Fixture(L"Alpha.tlb"), L"Unknown.tlb");
    g_alphaLib = test::TypeLibKey(IdentityOf(alpha));

    for (const Case& c : cases) {
        if (c.before != Before::Nothing) {
            ASSERT_EQ(RegisterLibrary(c.before == Before::Alpha ? elsewhere : wide, L""), kTrue)
                << c.name;
            AddExtras();
        }
        const std::wstring expected = RegistrySnapshot();
        RegistrarPlatform platform = RegistrarSeam().real();
        if (c.failure == Failure::AfterEveryKey) {
            platform.RegisterTypeLib = RegisterThenFail;
            platform.UnRegisterTypeLib = UnregisterThenFail;
        } else if (c.failure == Failure::PartWay) {
            platform.UnRegisterTypeLib = UnregisterPartWay;
        }
        g_realStatus = E_PENDING;
        const std::wstring& path = c.failure == Failure::UnknownPlatform ? unknown : alpha;
        {
            // The failing platform is this process's: its worker runs here.
            const test::ScopedSeam<RegistrarPlatform> failing(RegistrarSeam(), platform);
            const test::InProcessWorker worker;
            EXPECT_EQ(c.unregister ? UnregisterLibrary(path) : RegisterLibrary(path, L""), kFalse)
                << c.name;
        }
        if (c.failure != Failure::UnknownPlatform) {
            EXPECT_EQ(g_realStatus, S_OK) << c.name << ": the platform did not get to work";
        }
        EXPECT_TRUE(test::SameRegistry(expected, RegistrySnapshot())) << c.name;
        RemoveAlpha();
    }
}

} // namespace
} // namespace vandrel
