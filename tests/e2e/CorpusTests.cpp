// Every type library Wine ships for this build's platform, registered and
// then unregistered one by one, first with the platform's plain calls and then
// with Vandrel.exe, in one prefix and in the same order. Vandrel must succeed
// where the platform does, change the registration of the same libraries with
// each run, and leave the registry key for key as the platform leaves it.
#include "driver/Driver.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <oleauto.h>

#include <algorithm>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

#include "common/Owned.h"

namespace vandrel::test {
namespace {

struct Library {
    std::wstring path;
    std::string name; // as its folder lists it
    std::wstring key; // TypeLib\{guid}\major.minor\lcid\win32 or win64
};

// The machine's TypeLib and Interface keys in both views and all of the
// user's classes.
std::wstring Snapshot() {
    return ClassesSnapshot(HKEY_LOCAL_MACHINE) +
           RegistryTree(HKEY_CURRENT_USER, L"Software\\Classes", KEY_WOW64_64KEY);
}

// The library, and the keys its registration writes (its TypeLib key and one
// Interface key for each interface) added to `keys`.
Library Describe(const std::wstring& folder, const std::wstring& path,
                 std::vector<std::wstring>& keys) {
    const LibIdentity id = IdentityOf(path);
    wchar_t version[32];
    swprintf(version, 32, L"\\%x.%x\\%lx\\", id.major, id.minor, id.lcid);
    keys.push_back(TypeLibKey(id));
    ComPtr<ITypeLib> library;
    ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put());
    for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
        TYPEKIND kind;
        ComPtr<ITypeInfo> info;
        TYPEATTR* attr = nullptr;
        if (library->GetTypeInfoType(i, &kind) != S_OK ||
            (kind != TKIND_INTERFACE && kind != TKIND_DISPATCH) ||
            library->GetTypeInfo(i, info.put()) != S_OK || info->GetTypeAttr(&attr) != S_OK)
            continue;
        keys.push_back(L"Interface\\" + GuidText(attr->guid));
        info->ReleaseTypeAttr(attr);
    }
    const std::wstring name = path.substr(folder.size() + 1);
    return {path, std::string(name.begin(), name.end()), TypeLibKey(id) + version + kPlatformKey};
}

struct Pass {
    std::vector<DWORD> exits;         // each run's: registrations, then unregistrations
    std::vector<std::string> changes; // the libraries each run registered (+) or removed (-)
    std::wstring registered, unregistered;
};

// `run` registers a library, or unregisters it when told, and gives the exit
// status.
Pass RunPass(const std::vector<Library>& corpus,
             const std::function<DWORD(const Library&, bool unregister)>& run) {
    const auto registered = [&] {
        std::vector<bool> state;
        for (const Library& lib : corpus)
            state.push_back(RegistryKeyExists(HKEY_CLASSES_ROOT, lib.key));
        return state;
    };
    Pass pass;
    std::vector<bool> before = registered();
    for (const bool unregister : {false, true}) {
        for (const Library& lib : corpus) {
            pass.exits.push_back(run(lib, unregister));
            const std::vector<bool> after = registered();
            std::string changed;
            for (size_t i = 0; i < corpus.size(); ++i)
                if (after[i] != before[i]) changed += (after[i] ? " +" : " -") + corpus[i].name;
            pass.changes.push_back(changed);
            before = after;
        }
        (unregister ? pass.unregistered : pass.registered) = Snapshot();
    }
    return pass;
}

// The prefix registered most of these libraries under its placeholder
// modules, where the platform finds no library to read when it unregisters:
// registering each first moves it to the real file.
void RegisterAndUnregister(const std::wstring& path) {
    ComPtr<ITypeLib> library;
    if (::LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put()) != S_OK) return;
    std::wstring file = path, noHelp;
    ::RegisterTypeLib(library.get(), file.data(), noHelp.data());
    TLIBATTR* attr = nullptr;
    if (library->GetLibAttr(&attr) != S_OK) return;
    ::UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid,
                        attr->syskind);
    library->ReleaseTLibAttr(attr);
}

TEST(WineCorpus, VandrelRegistersAndUnregistersEveryLibraryAsThePlatformDoes) {
    const std::wstring folder = WineLibraryFolder();
    std::vector<std::wstring> paths = TypeLibrariesIn(folder);
    // Wine 8 ships 51 for each platform: fewer means the listing lost some.
    ASSERT_GE(paths.size(), 51u);
    // Most of the others import stdole2.tlb: once its turn has unregistered
    // it, they find it missing.
    const auto stdole = std::find(paths.begin(), paths.end(), folder + L"\\stdole2.tlb");
    ASSERT_NE(stdole, paths.end());
    std::rotate(paths.begin(), stdole, stdole + 1);
    std::vector<Library> corpus;
    std::vector<std::wstring> keys;
    for (const std::wstring& path : paths)
        corpus.push_back(Describe(folder, path, keys));
    // The other tests need the prefix's own registrations.
    const ClassesAside aside(keys);

    for (const Library& lib : corpus)
        RegisterAndUnregister(lib.path);
    const std::wstring start = Snapshot();
    const Pass platform = RunPass(corpus, [](const Library& lib, bool unregister) {
        return vandrel::test::Run(
            FloorExe(unregister ? L"UnregisterFloor.exe" : L"RegisterFloor.exe"), lib.path);
    });
    ASSERT_FALSE(SameRegistry(start, platform.registered)) << "the platform registered nothing";
    // So Vandrel's pass starts where the platform's did.
    ASSERT_TRUE(SameRegistry(start, platform.unregistered)) << "the platform's pass left changes";
    const Pass vandrel = RunPass(corpus, [](const Library& lib, bool unregister) {
        return vandrel::test::Run(VandrelExe(),
                                  L"\"" + lib.path + (unregister ? L"\" /u /s" : L"\" /s"));
    });

    for (size_t i = 0; i < platform.exits.size(); ++i) {
        const std::string run = corpus[i % corpus.size()].name + (i < corpus.size() ? "" : " /u");
        EXPECT_EQ(vandrel.exits[i], platform.exits[i]) << run << ": exit status";
        EXPECT_EQ(vandrel.changes[i], platform.changes[i]) << run << ": registrations changed";
    }
    EXPECT_TRUE(SameRegistry(platform.registered, vandrel.registered)) << "after registering all";
    EXPECT_TRUE(SameRegistry(platform.unregistered, vandrel.unregistered))
        << "after unregistering all";
}

} // namespace
} // namespace vandrel::test
