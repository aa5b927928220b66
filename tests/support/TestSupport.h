// Paths, scratch folders and registry snapshots shared by the test layers.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace vandrel::test {

// The platform kind of the libraries this build makes and the key its
// registrations go under.
inline constexpr SYSKIND kNativeSyskind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
inline constexpr const wchar_t* kPlatformKey = sizeof(void*) == 8 ? L"win64" : L"win32";

// A Linux path as Wine's Z: drive sees it.
std::wstring WindowsPath(const std::string& unixPath);
// A whole file's bytes; throws when it cannot be read.
std::string ReadBytes(const std::wstring& path);
// A folder named by an environment variable the test run sets.
std::wstring EnvFolder(const char* variable);
// A type library or DLL generated for the tests.
std::wstring Fixture(const std::wstring& name);
// The Vandrel.exe under test.
std::wstring VandrelExe();
// A floor program of the benchmark's: the platform's plain calls, nothing more.
std::wstring FloorExe(const std::wstring& name);

// Wine's own modules and type libraries for this build's platform (or the
// one named), where a
// user reaches them: the prefix's system folder holds placeholder modules
// without type libraries.
std::wstring WineLibraryFolder(bool is64 = sizeof(void*) == 8);
// Every type library a folder holds, by file name: each .tlb file and each
// TYPELIB resource of its modules, resource 1 named by the module alone and
// resource N as "module\N", the names the platform's loader takes.
std::vector<std::wstring> TypeLibrariesIn(const std::wstring& folder);

// A fresh folder under %TEMP%, removed with everything in it.
class TempFolder {
public:
    TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder();
    const std::wstring& path() const { return path_; }
    // Copies `source` to `name` inside the folder; returns the new path.
    std::wstring Copy(const std::wstring& source, const std::wstring& name) const;
    // Writes bytes to `name` inside the folder; returns the new path.
    std::wstring Write(const std::wstring& name, const std::string& bytes) const;

private:
    std::wstring path_;
};

// A library of this build's platform made through the Automation library,
// of identity {guid} 1.0 with one dispinterface (which registration also
// writes under Interface) of the identifier {guid} with its last byte 0x02.
// Without a name, it has neither a name nor a help string, which no IDL
// compiler writes.
std::wstring MakeLibrary(const std::wstring& path, GUID guid, const wchar_t* name);

// A copy of a library whose header names a platform kind no loader knows:
// it loads, and the platform's registration refuses it.
std::wstring WithUnknownPlatform(const TempFolder& folder, const std::wstring& fixture,
                                 const std::wstring& name);

// Paths that name no regular file (missing, a folder, devices, a missing
// name of 300 characters): each must fail before the loader sees it.
std::vector<std::wstring> NotFilePaths(const TempFolder& folder);
// Files the loader finds no type library in: empty, text, a resource index
// the module does not have.
std::vector<std::wstring> NotTypeLibFiles(const TempFolder& folder);

// Every key and value under TypeLib and Interface in the machine's and the
// user's classes, in both registry views, as text, so two snapshots compare
// byte for byte (keys, value names, types and data; not the times written).
std::wstring RegistrySnapshot();
// The same for one key and everything under it.
std::wstring RegistryTree(HKEY hive, const std::wstring& path, REGSAM view = 0);
// The TypeLib and Interface part of RegistrySnapshot in one hive's classes
// (HKLM or HKCU \Software\Classes).
std::wstring ClassesSnapshot(HKEY hive);
// Creates the user's TypeLib and Interface keys where they are missing. The
// platform leaves both behind, empty, once it has registered anything for
// the user: the state every comparison of the user's classes starts from.
void CreateUserClassesKeys();
// Deletes these keys (such as "TypeLib\{guid}") with all under them from
// Software\Classes of each hive, in both registry views.
void DeleteClassesKeys(const std::vector<std::wstring>& keys,
                       std::initializer_list<HKEY> hives = {HKEY_LOCAL_MACHINE});
// Success when two snapshots are equal; otherwise a short list of the lines
// only one of them holds.
::testing::AssertionResult SameRegistry(const std::wstring& expected, const std::wstring& actual);

// A test that must leave the registry as it found it: the TypeLib and
// Interface trees are read before it (once the user's classes keys exist)
// and compared after it. A snapshot costs seconds under Wine, so the trees
// are compared once, at the end: anything written or removed shows there.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        CreateUserClassesKeys();
        before = RegistrySnapshot();
    }
    void TearDown() override { EXPECT_TRUE(SameRegistry(before, RegistrySnapshot())); }
    std::wstring before;
};

// Keys under HKLM\Software\Classes, in both registry views, copied aside
// under HKCU and put back as they were at destruction (or deleted, where there
// was none), for a test that changes the registrations the prefix came with.
// The test fails when RegistrySnapshot differs afterwards.
class ClassesAside {
public:
    explicit ClassesAside(std::vector<std::wstring> keys);
    ClassesAside(const ClassesAside&) = delete;
    ClassesAside& operator=(const ClassesAside&) = delete;
    ~ClassesAside();

private:
    std::vector<std::wstring> keys_;
    std::vector<bool> present_; // for each view, then each key
    std::wstring before_;
};

bool RegistryKeyExists(HKEY root, const std::wstring& path);
std::wstring RegistryDefaultValue(HKEY root, const std::wstring& path);

// The identity a type library file declares.
struct LibIdentity {
    GUID guid{};
    WORD major = 0;
    WORD minor = 0;
    LCID lcid = 0;
};
LibIdentity IdentityOf(const std::wstring& path);
// The path the registry holds for an identity, or empty when none.
std::wstring RegisteredPath(const LibIdentity& id);
// HKCR\TypeLib\{guid}
std::wstring TypeLibKey(const LibIdentity& id);
std::wstring GuidText(const GUID& guid);

} // namespace vandrel::test
