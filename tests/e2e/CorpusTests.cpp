// Every type library Wine ships for this build's platform, and one without a
// name (which no IDL compiler writes), registered and then unregistered one by
// one, first with the platform's plain calls and then with Vandrel.exe, in one
// prefix and in the same order. Vandrel must succeed
// where the platform does, change the registration of the same libraries with
// each run, and leave the registry key for key as the platform leaves it.
// Then each library's /reg: export, imported with `reg import`, must leave
// what the platform's own registration leaves, in both views, and exactly
// what the files say.
#include "driver/Driver.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <oleauto.h>

#include <algorithm>
#include <cwchar>
#include <functional>
#include <map>
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

// Values by "KEY|name", as .reg text holds them: quoted strings unescaped,
// anything else as written. A later value of the same name replaces one
// before it, as an import does.
using Values = std::map<std::wstring, std::wstring>;
void ReadRegText(const std::wstring& text, Values& values, bool view32 = false) {
    std::wstring key;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(L"\r\n", at);
        if (end == std::wstring::npos) end = text.size();
        const std::wstring line = text.substr(at, end - at);
        at = end + 2;
        if (line.size() > 2 && line[0] == L'[') {
            key = line.substr(1, line.size() - 2);
            const size_t classes = key.find(L"\\Classes\\");
            if (view32 && classes != std::wstring::npos) key.insert(classes + 9, L"Wow6432Node\\");
            continue;
        }
        if (line.empty() || (line[0] != L'@' && line[0] != L'"')) continue;
        std::wstring name, data;
        size_t i = 0;
        auto quoted = [&](std::wstring& out) {
            for (++i; i < line.size() && line[i] != L'"'; ++i)
                out += line[i] == L'\\' ? line[++i] : line[i];
            ++i;
        };
        if (line[0] == L'"')
            quoted(name);
        else
            i = 1;
        if (i < line.size() && line[i] == L'=') ++i;
        if (i < line.size() && line[i] == L'"')
            quoted(data);
        else
            data = line.substr(i);
        values[key + L"|" + name] = data;
    }
}

std::wstring RegFileText(const std::wstring& path) {
    const std::string bytes = ReadBytes(path);
    std::wstring text(bytes.size() / 2, L'\0');
    std::copy_n(bytes.data(), text.size() * 2, reinterpret_cast<char*>(text.data()));
    return !text.empty() && text[0] == 0xFEFF ? text.substr(1) : text;
}

// The corpus's keys as `reg export` finds them, view by view, each under
// the name a 64-bit reader reaches it by.
Values Capture(const TempFolder& folder, const std::vector<std::wstring>& keys) {
    wchar_t system[MAX_PATH];
    ::GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring file = folder.path() + L"\\capture.reg";
    Values all, corpus;
    for (const wchar_t* tree : {L"TypeLib", L"Interface"})
        for (const bool view32 : {false, true}) {
            ::DeleteFileW(file.c_str());
            Run(std::wstring(system) + L"\\reg.exe",
                std::wstring(L"export HKLM\\Software\\Classes\\") + tree + L" \"" + file +
                    L"\" /y " + (view32 ? L"/reg:32" : L"/reg:64"));
            if (::GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES)
                ReadRegText(RegFileText(file), all, view32);
        }
    for (const auto& [name, data] : all)
        for (const std::wstring& key : keys)
            for (const wchar_t* view : {L"\\Classes\\", L"\\Classes\\Wow6432Node\\"}) {
                const size_t at = name.find(view);
                if (at != std::wstring::npos &&
                    ::CompareStringOrdinal(name.c_str() + at + std::wcslen(view),
                                           static_cast<int>(key.size()), key.c_str(),
                                           static_cast<int>(key.size()), TRUE) == CSTR_EQUAL)
                    corpus[name] = data;
            }
    return corpus;
}

// Each library's export, imported at once, against the platform's own
// registration of each, and against what the files say.
void ExportsImportAsThePlatformRegisters(const std::vector<Library>& corpus,
                                         const std::vector<std::wstring>& keys) {
    const TempFolder folder;
    std::wstring imported = L"\xFEFFWindows Registry Editor Version 5.00\r\n";
    Values exported;
    for (size_t i = 0; i < corpus.size(); ++i) {
        const std::wstring file = folder.path() + L"\\" + std::to_wstring(i) + L".reg";
        ASSERT_EQ(Run(VandrelExe(), L"\"" + corpus[i].path + L"\" /reg:\"" + file + L"\""), 0u)
            << corpus[i].name << ": /reg:";
        const std::wstring text = RegFileText(file);
        ReadRegText(text, exported);
        imported += text.substr(text.find(L"\r\n"));
    }
    const std::wstring all =
        folder.Write(L"all.reg", std::string(reinterpret_cast<const char*>(imported.data()),
                                             imported.size() * 2));
    wchar_t system[MAX_PATH];
    ::GetSystemDirectoryW(system, MAX_PATH);
    DeleteClassesKeys(keys);
    ASSERT_EQ(Run(std::wstring(system) + L"\\reg.exe", L"import \"" + all + L"\" /reg:64"), 0u);
    const Values afterImport = Capture(folder, keys);
    DeleteClassesKeys(keys);
    for (const Library& lib : corpus) {
        ComPtr<ITypeLib> library;
        std::wstring path = lib.path, noHelp;
        if (::LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put()) == S_OK)
            ::RegisterTypeLib(library.get(), path.data(), noHelp.data());
    }
    const Values registered = Capture(folder, keys);
    DeleteClassesKeys(keys);
    // The 32-bit view's TypeLib keys are the shared ones, which a .reg file
    // names once.
    Values seen64 = afterImport;
    std::erase_if(seen64, [](const auto& value) {
        return value.first.find(L"\\Wow6432Node\\TypeLib\\") != std::wstring::npos;
    });
    ASSERT_FALSE(registered.empty()) << "the platform registered nothing";
    EXPECT_TRUE(afterImport == registered)
        << "imported " << afterImport.size() << " values, the platform registered "
        << registered.size();
    EXPECT_TRUE(seen64 == exported)
        << "imported " << seen64.size() << " values, the files hold " << exported.size();
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
    // And one that has neither a name nor a help string.
    const TempFolder made;
    const GUID nameless = {0x5e0fa11e, 0x1234, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x01}};
    corpus.push_back(Describe(
        made.path(), MakeLibrary(made.path() + L"\\Nameless.tlb", nameless, nullptr), keys));
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
    ExportsImportAsThePlatformRegisters(corpus, keys);
}

} // namespace
} // namespace vandrel::test
