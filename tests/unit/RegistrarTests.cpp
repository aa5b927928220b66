// The registrar's reduction of platform statuses, with every platform call
// faked and the worker's session run in this process, and the accounting of
// every library, record and block it obtains.
#include "registrar/ModVandrel.h"
#include "registrar/RegistrarPlatform.h"
#include "support/ScopedSeam.h"
#include "common/Owned.h"
#include "registrar/registry/KeyNames.h"
#include "registrar/worker/TypeLibWalk.h"
#include "support/LoopbackWorker.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace vandrel {
namespace {

// One type info; a dispinterface unless told otherwise. With `base` set it
// derives from the type info there, which may be itself.
class FakeTypeInfo : public ITypeInfo {
public:
    TYPEATTR attr{};
    FakeTypeInfo* base = nullptr;
    int handedOut = 0;
    int releases = 0;
    int attrsOut = 0;
    int referencesAsked = 0;

    FakeTypeInfo() {
        attr.typekind = TKIND_DISPATCH;
        attr.guid = {0x0badf00d, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++handedOut; }
    ULONG STDMETHODCALLTYPE Release() override {
        return static_cast<ULONG>(handedOut - ++releases);
    }
    HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR** out) override {
        *out = &attr;
        ++attrsOut;
        return S_OK;
    }
    void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR*) override { --attrsOut; }
    // A reference may lead into another library, which resolving it would
    // load and register: the registrar never asks.
    HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT, HREFTYPE* out) override {
        ++referencesAsked;
        *out = 1;
        return base ? S_OK : TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE, ITypeInfo** out) override {
        ++referencesAsked;
        *out = base;
        if (!base) return TYPE_E_ELEMENTNOTFOUND;
        ++base->handedOut;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT, FUNCDESC**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetVarDesc(UINT, VARDESC**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetNames(MEMBERID, BSTR*, UINT, UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT, INT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR*, UINT, MEMBERID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(PVOID, MEMBERID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID, BSTR*, BSTR*, DWORD*, BSTR*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID, INVOKEKIND, PVOID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, PVOID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetMops(MEMBERID, BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib**, UINT*) override { return E_NOTIMPL; }
    void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC*) override {}
    void STDMETHODCALLTYPE ReleaseVarDesc(VARDESC*) override {}
};

class FakeTypeLib : public ITypeLib {
public:
    FakeTypeInfo info;
    UINT typeInfos = 0;
    HRESULT attrStatus = S_OK;
    bool attrDelivered = true;
    TLIBATTR attr{};
    int handedOut = 0;
    int releases = 0;
    int attrsOut = 0;
    int attrReleases = 0;
    bool releasedAttrBeforeLibrary = true;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++handedOut; }
    ULONG STDMETHODCALLTYPE Release() override {
        if (attrsOut != 0) releasedAttrBeforeLibrary = false;
        return static_cast<ULONG>(handedOut - ++releases);
    }
    UINT STDMETHODCALLTYPE GetTypeInfoCount() override { return typeInfos; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, ITypeInfo** out) override {
        *out = &info;
        ++info.handedOut;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoType(UINT, TYPEKIND* kind) override {
        *kind = info.attr.typekind;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoOfGuid(REFGUID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR** out) override {
        *out = attrDelivered ? &attr : nullptr;
        if (attrDelivered) ++attrsOut;
        return attrStatus;
    }
    HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDocumentation(INT, BSTR*, BSTR*, DWORD*, BSTR*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE IsName(LPOLESTR, ULONG, BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindName(LPOLESTR, ULONG, ITypeInfo**, MEMBERID*, USHORT*) override {
        return E_NOTIMPL;
    }
    void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR* attribute) override {
        if (attribute == &attr) {
            ++attrReleases;
            --attrsOut;
        }
    }
};

// What the fake platform was asked and what it answers.
struct World {
    HRESULT loadStatus = S_OK;
    HRESULT registerStatus = S_OK;
    HRESULT unregisterStatus = S_OK;
    bool allocFails = false;
    DWORD lastError = 0;
    FakeTypeLib library;
    std::vector<std::string> calls;
    std::wstring loadedPath, registeredPath, helpDir;
    bool helpDirWasNull = false;
    GUID unregGuid{};
    WORD unregMajor = 0, unregMinor = 0;
    LCID unregLcid = 0;
    SYSKIND unregSyskind = SYS_WIN16;
    int blocksOut = 0;
    unsigned char block[64]{};
    // What the platform's unregistration would find registered: the loaded
    // file itself unless told otherwise.
    bool registered = true;
    std::wstring registeredFile;
    // Every key is absent unless a test makes the registry unreadable.
    LSTATUS registryStatus = ERROR_FILE_NOT_FOUND;
    int registryReads = 0;
    // The user's classes key and HKCR's redirection to it.
    LONG keyStatus = ERROR_SUCCESS, overrideStatus = ERROR_SUCCESS;
    bool callThrows = false;
    // What the registration call writes before it returns, in the sandbox.
    void (*writes)() = nullptr;
    int keysOpen = 0;
    HKEY redirectedTo = nullptr;
};
World* g_world = nullptr;

HRESULT WINAPI FakeLoad(const wchar_t* path, ITypeLib** out) {
    g_world->calls.push_back("load");
    g_world->loadedPath = path;
    *out = nullptr;
    if (g_world->loadStatus == S_OK) {
        *out = &g_world->library;
        ++g_world->library.handedOut;
    }
    return g_world->loadStatus;
}
const HKEY kUserClasses = reinterpret_cast<HKEY>(0x5678);

HRESULT WINAPI FakeRegister(ITypeLib* library, wchar_t* path, wchar_t* help) {
    g_world->calls.push_back("register");
    if (g_world->writes) g_world->writes();
    if (g_world->callThrows) throw std::runtime_error("register");
    EXPECT_EQ(library, &g_world->library);
    g_world->registeredPath = path;
    g_world->helpDirWasNull = help == nullptr;
    if (help) g_world->helpDir = help;
    return g_world->registerStatus;
}
HRESULT WINAPI FakeUnregister(REFGUID guid, WORD major, WORD minor, LCID lcid, SYSKIND kind) {
    g_world->calls.push_back("unregister");
    if (g_world->callThrows) throw std::runtime_error("unregister");
    g_world->unregGuid = guid;
    g_world->unregMajor = major;
    g_world->unregMinor = minor;
    g_world->unregLcid = lcid;
    g_world->unregSyskind = kind;
    return g_world->unregisterStatus;
}
HLOCAL WINAPI FakeLocalAlloc(UINT flags, SIZE_T bytes) {
    g_world->calls.push_back("alloc");
    EXPECT_EQ(flags, 0x40u);
    EXPECT_EQ(bytes, 30u);
    if (g_world->allocFails) return nullptr;
    ++g_world->blocksOut;
    std::memset(g_world->block, 0, sizeof g_world->block);
    return g_world->block;
}
HLOCAL WINAPI FakeLocalFree(HLOCAL block) {
    g_world->calls.push_back("free");
    EXPECT_EQ(block, static_cast<HLOCAL>(g_world->block));
    --g_world->blocksOut;
    return nullptr;
}
DWORD WINAPI FakeLastError() {
    return g_world->lastError;
}
LONG WINAPI FakeCreateKey(HKEY parent, const wchar_t* name, DWORD, wchar_t*, DWORD, REGSAM,
                          SECURITY_ATTRIBUTES*, HKEY* key, DWORD*) {
    g_world->calls.push_back("classes");
    EXPECT_EQ(parent, HKEY_CURRENT_USER);
    EXPECT_EQ(std::wstring(name), L"Software\\Classes");
    if (g_world->keyStatus != ERROR_SUCCESS) return g_world->keyStatus;
    ++g_world->keysOpen;
    *key = kUserClasses;
    return ERROR_SUCCESS;
}
LONG WINAPI FakeOverride(HKEY predefined, HKEY replacement) {
    g_world->calls.push_back(replacement ? "override" : "restore");
    EXPECT_EQ(predefined, HKEY_CLASSES_ROOT);
    if (replacement) {
        EXPECT_EQ(replacement, kUserClasses);
        if (g_world->overrideStatus != ERROR_SUCCESS) return g_world->overrideStatus;
    }
    g_world->redirectedTo = replacement;
    return ERROR_SUCCESS;
}
LONG WINAPI FakeCloseKey(HKEY key) {
    g_world->calls.push_back("close");
    EXPECT_EQ(key, kUserClasses);
    --g_world->keysOpen;
    return ERROR_SUCCESS;
}
void WINAPI FakeEnablePerUser() {
    g_world->calls.push_back("enable");
}

void WINAPI FakeFreeString(BSTR text) {
    ::SysFreeString(text);
}

constexpr REGSAM kViews = KEY_WOW64_32KEY | KEY_WOW64_64KEY;

// The undo's record opens its roots in a view; it finds nothing (or cannot
// read). The registered path's lookup opens without one: every key on the
// way is there when the identity is registered (a real key stands in, so
// that closing it is real).
LSTATUS WINAPI FakeOpenKey(HKEY, const wchar_t*, DWORD, REGSAM access, HKEY* key) {
    if (access & kViews) {
        ++g_world->registryReads;
        return g_world->registryStatus;
    }
    if (!g_world->registered) return ERROR_FILE_NOT_FOUND;
    return ::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, key);
}
// Nothing is ever found, so nothing is ever written back.
template <typename... Args> LSTATUS WINAPI NoRegistryCall(Args...) {
    ADD_FAILURE() << "a registry call past opening a key";
    return ERROR_ACCESS_DENIED;
}

// The machine's and the user's classes, both views, as four keys of a
// private sandbox in the real registry: what is recorded, compared and put
// back really is read and written.
std::wstring g_sandbox;
enum class Breaks { Nothing, Reading, Deleting, RestoringMachine };
Breaks g_breaks = Breaks::Nothing;

// What the sandboxed registration call writes, and what breaks once it has.
struct SandboxWrites {
    std::wstring keys[2];
    Breaks breaks = Breaks::Nothing;
} g_sandboxWrites;
void WriteInSandbox() {
    for (const std::wstring& key : g_sandboxWrites.keys)
        ::RegSetKeyValueW(HKEY_CURRENT_USER, (key + L"\\TypeLib").c_str(), L"Version", REG_SZ,
                          L"1.0", 8);
    g_breaks = g_sandboxWrites.breaks;
}

std::wstring SandboxPath(HKEY hive, REGSAM view, const wchar_t* path) {
    std::wstring at = g_sandbox + (hive == HKEY_LOCAL_MACHINE ? L"\\LM" : L"\\CU") +
                      ((view & KEY_WOW64_32KEY) ? L"32" : L"64");
    if (path && *path) at += std::wstring(L"\\") + path;
    return at;
}
bool Predefined(HKEY key) {
    return key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER;
}

LSTATUS WINAPI SandboxOpen(HKEY parent, const wchar_t* name, DWORD options, REGSAM access,
                           HKEY* key) {
    // A record opens for reading only; a restore asks for more.
    if (g_breaks == Breaks::Reading && (access & ~kViews) == KEY_READ) return ERROR_ACCESS_DENIED;
    // Only the machine's keys cannot be written back.
    if (g_breaks == Breaks::RestoringMachine && parent == HKEY_LOCAL_MACHINE &&
        (access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    if (Predefined(parent))
        return ::RegOpenKeyExW(HKEY_CURRENT_USER, SandboxPath(parent, access, name).c_str(),
                               options, access & ~kViews, key);
    return ::RegOpenKeyExW(parent, name, options, access & ~kViews, key);
}
LSTATUS WINAPI SandboxCreate(HKEY parent, const wchar_t* name, DWORD reserved, wchar_t* keyClass,
                             DWORD options, REGSAM access, SECURITY_ATTRIBUTES* security, HKEY* key,
                             DWORD* disposition) {
    // The user's classes key for HKCR's redirection is the fake's own.
    if (parent == HKEY_CURRENT_USER && !(access & kViews))
        return FakeCreateKey(parent, name, reserved, keyClass, options, access, security, key,
                             disposition);
    const std::wstring path = Predefined(parent) ? SandboxPath(parent, access, name) : name;
    return ::RegCreateKeyExW(Predefined(parent) ? HKEY_CURRENT_USER : parent, path.c_str(),
                             reserved, keyClass, options, access & ~kViews, security, key,
                             disposition);
}
LSTATUS WINAPI SandboxDeleteTree(HKEY parent, const wchar_t* name) {
    if (g_breaks == Breaks::Deleting) return ERROR_ACCESS_DENIED;
    return ::RegDeleteTreeW(parent, name);
}
LSTATUS WINAPI SandboxDeleteKey(HKEY hive, const wchar_t* path, REGSAM view, DWORD) {
    if (g_breaks == Breaks::Deleting) return ERROR_ACCESS_DENIED;
    return ::RegDeleteKeyW(HKEY_CURRENT_USER, SandboxPath(hive, view, path).c_str());
}
LSTATUS WINAPI FakeLookupValue(HKEY, const wchar_t*, DWORD*, DWORD* type, BYTE* data,
                               DWORD* bytes) {
    const std::wstring& path =
        g_world->registeredFile.empty() ? g_world->loadedPath : g_world->registeredFile;
    const DWORD size = static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t));
    if (*bytes < size) return ERROR_MORE_DATA;
    std::memcpy(data, path.c_str(), size);
    *bytes = size;
    *type = REG_SZ;
    return ERROR_SUCCESS;
}

const RegistrarPlatform kFake = {
    .LoadTypeLib = FakeLoad,
    .RegisterTypeLib = FakeRegister,
    .UnRegisterTypeLib = FakeUnregister,
    .SysFreeString = FakeFreeString,
    .OaEnablePerUserTLibRegistration = FakeEnablePerUser,
    .LocalAlloc = FakeLocalAlloc,
    .LocalFree = FakeLocalFree,
    .GetLastError = FakeLastError,
    .RegOpenKeyExW = FakeOpenKey,
    .RegCreateKeyExW = FakeCreateKey,
    .RegQueryInfoKeyW = NoRegistryCall,
    .RegEnumKeyExW = NoRegistryCall,
    .RegEnumValueW = NoRegistryCall,
    .RegQueryValueExW = FakeLookupValue,
    .RegSetValueExW = NoRegistryCall,
    .RegDeleteValueW = NoRegistryCall,
    .RegDeleteTreeW = NoRegistryCall,
    .RegDeleteKeyExW = NoRegistryCall,
    .RegGetKeySecurity = NoRegistryCall,
    .RegSetKeySecurity = NoRegistryCall,
    .RegOverridePredefKey = FakeOverride,
    .RegCloseKey = FakeCloseKey,
};

// The fake, with the registry calls of the sandbox.
RegistrarPlatform Sandboxed() {
    RegistrarPlatform platform = kFake;
    platform.RegOpenKeyExW = SandboxOpen;
    platform.RegCreateKeyExW = SandboxCreate;
    platform.RegQueryInfoKeyW = ::RegQueryInfoKeyW;
    platform.RegEnumKeyExW = ::RegEnumKeyExW;
    platform.RegEnumValueW = ::RegEnumValueW;
    platform.RegSetValueExW = ::RegSetValueExW;
    platform.RegDeleteValueW = ::RegDeleteValueW;
    platform.RegDeleteTreeW = SandboxDeleteTree;
    platform.RegDeleteKeyExW = SandboxDeleteKey;
    platform.RegGetKeySecurity = ::RegGetKeySecurity;
    platform.RegSetKeySecurity = ::RegSetKeySecurity;
    return platform;
}

// Whatever happened: every library handed out released exactly once, its
// attribute record handed back first, every block freed.
void ExpectNothingLeft(const World& w, const char* label) {
    EXPECT_EQ(w.library.releases, w.library.handedOut) << label;
    EXPECT_EQ(w.library.info.releases, w.library.info.handedOut) << label;
    EXPECT_EQ(w.library.info.attrsOut, 0) << label;
    EXPECT_EQ(w.library.attrsOut, 0) << label;
    EXPECT_TRUE(w.library.releasedAttrBeforeLibrary) << label;
    EXPECT_EQ(w.blocksOut, 0) << label;
    EXPECT_EQ(w.keysOpen, 0) << label;
    EXPECT_EQ(w.redirectedTo, nullptr) << label;
}

class RegistrarTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_world = &world;
        // Not read by the fake loader; long enough to hold what it declares.
        file = folder.Write(L"lib.tlb", std::string(4096, 'x'));
        world.library.attr.guid = {0x11223344, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}};
        world.library.attr.lcid = 0x0409;
        world.library.attr.syskind = SYS_WIN64;
        world.library.attr.wMajorVerNum = 0xFFFF;
        world.library.attr.wMinorVerNum = 0x8001;
        world.library.attr.wLibFlags = 0x7;
    }
    void TearDown() override {
        ExpectNothingLeft(world, "fixture");
        g_world = nullptr;
    }
    World world;
    test::TempFolder folder;
    std::wstring file;
    test::ScopedSeam<RegistrarPlatform> platform{RegistrarSeam(), kFake};
    test::InProcessWorker worker;
};

TEST_F(RegistrarTest, RegisterSucceedsOnlyWhenLoadAndRegisterGiveExactlyZero) {
    EXPECT_EQ(RegisterLibrary(file, L""), kTrue);
    EXPECT_EQ(world.calls, (std::vector<std::string>{"load", "register"}));
    EXPECT_EQ(world.loadedPath, file);
    EXPECT_EQ(world.registeredPath, file);
    EXPECT_FALSE(world.helpDirWasNull);
    EXPECT_EQ(world.helpDir, L"");
}

// Every other status of the registration calls is a failure; only the
// platform's refusals for lack of rights say so.
TEST_F(RegistrarTest, EveryOtherStatusIsAFailureAndOnlyARefusalForRightsIsNamed) {
    struct Case {
        HRESULT status;
        Failure failure;
    };
    const Case cases[] = {
        {1, Failure::Platform},
        {E_FAIL, Failure::Platform},
        {E_INVALIDARG, Failure::Platform},
        {TYPE_E_INVALIDSTATE, Failure::Platform},
        {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), Failure::Platform},
        {ERROR_ACCESS_DENIED, Failure::Platform}, // a bare Win32 code is no failure status
        {TYPE_E_REGISTRYACCESS, Failure::NoRights},
        {E_ACCESSDENIED, Failure::NoRights},
        {STG_E_ACCESSDENIED, Failure::NoRights},
        {HRESULT_FROM_WIN32(ERROR_PRIVILEGE_NOT_HELD), Failure::NoRights},
    };
    for (const Case& c : cases) {
        world.registerStatus = world.unregisterStatus = c.status;
        for (Scope scope : {Scope::Machine, Scope::User}) {
            const RegistrarResult registered = RegisterLibraryIn(file, L"C:\\help", scope);
            EXPECT_EQ(registered.flag, kFalse) << std::hex << c.status;
            EXPECT_EQ(registered.failure, c.failure) << std::hex << c.status;
            EXPECT_EQ(world.helpDir, L"C:\\help");
            const RegistrarResult unregistered = UnregisterLibraryIn(file, scope);
            EXPECT_EQ(unregistered.flag, kFalse) << std::hex << c.status;
            EXPECT_EQ(unregistered.failure, c.failure) << std::hex << c.status;
        }
        EXPECT_EQ(RegisterLibrary(file, L""), kFalse) << std::hex << c.status;
        EXPECT_EQ(UnregisterLibrary(file), kFalse) << std::hex << c.status;
    }
    world.registerStatus = world.unregisterStatus = S_OK;
    EXPECT_EQ(RegisterLibraryIn(file, L"", Scope::User).failure, Failure::None);
    EXPECT_EQ(UnregisterLibraryIn(file, Scope::Machine).failure, Failure::None);
}

TEST_F(RegistrarTest, RegisterStopsAfterAFailedLoadOrAnUnreadableRegistry) {
    for (HRESULT status : {HRESULT(1), HRESULT(TYPE_E_CANTLOADLIBRARY), HRESULT(E_ACCESSDENIED)}) {
        world.calls.clear();
        world.loadStatus = status;
        EXPECT_EQ(RegisterLibrary(file, L""), kFalse);
        EXPECT_EQ(world.calls, (std::vector<std::string>{"load"}));
        // Not the registration refused: a file the loader may not read.
        const RegistrarResult result = RegisterLibraryIn(file, L"", Scope::Machine);
        EXPECT_EQ(result.failure, Failure::NotTypeLib);
        EXPECT_EQ(result.status, status);
    }
    // What the platform would overwrite cannot be recorded: it is not asked.
    world.calls.clear();
    world.loadStatus = S_OK;
    world.registryStatus = ERROR_ACCESS_DENIED;
    EXPECT_EQ(RegisterLibrary(file, L""), kFalse);
    EXPECT_EQ(world.calls, (std::vector<std::string>{"load"}));
    EXPECT_GT(world.registryReads, 0);
}

// For the user's scope HKCR is the user's classes key around the platform's
// registration call only, and the redirection is undone on every path.
TEST_F(RegistrarTest, TheUsersScopeRedirectsTheRegistrationCallOnlyAndAlwaysUndoesIt) {
    using Calls = std::vector<std::string>;
    const Calls reg = {"load", "classes", "enable", "override", "register", "restore", "close"};
    const Calls unreg = {"load",       "alloc",   "classes", "enable", "override",
                         "unregister", "restore", "close",   "free"};
    struct Case {
        const char* name;
        bool unregister;
        void (*arrange)(World&);
        Calls calls;
        Flag flag;
    };
    const Case cases[] = {
        {"register", false, [](World&) {}, reg, kTrue},
        {"register fails", false, [](World& w) { w.registerStatus = E_FAIL; }, reg, kFalse},
        {"register throws", false, [](World& w) { w.callThrows = true; }, reg, kFalse},
        {"unregister", true, [](World&) {}, unreg, kTrue},
        {"unregister fails", true, [](World& w) { w.unregisterStatus = E_INVALIDARG; }, unreg,
         kFalse},
        {"unregister throws", true, [](World& w) { w.callThrows = true; }, unreg, kFalse},
        // Without the redirection nothing is registered: it would be for the machine.
        {"no classes key",
         false,
         [](World& w) { w.keyStatus = ERROR_ACCESS_DENIED; },
         {"load", "classes"},
         kFalse},
        {"no redirection",
         true,
         [](World& w) { w.overrideStatus = ERROR_INVALID_HANDLE; },
         {"load", "alloc", "classes", "enable", "override", "close", "free"},
         kFalse},
    };
    for (const Case& c : cases) {
        World fresh;
        fresh.library.attr = world.library.attr;
        c.arrange(fresh);
        g_world = &fresh;
        try {
            const RegistrarResult result = c.unregister ? UnregisterLibraryIn(file, Scope::User)
                                                        : RegisterLibraryIn(file, L"", Scope::User);
            EXPECT_FALSE(fresh.callThrows) << c.name << ": the error was swallowed";
            EXPECT_EQ(result.flag, c.flag) << c.name;
        } catch (const std::runtime_error&) {
            EXPECT_TRUE(fresh.callThrows) << c.name;
        }
        EXPECT_EQ(fresh.calls, c.calls) << c.name;
        ExpectNothingLeft(fresh, c.name);
    }
    g_world = &world;
}

TEST_F(RegistrarTest, RelativePathsReachThePlatformFullyQualified) {
    wchar_t previous[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryW(folder.path().c_str()));
    const Flag result = RegisterLibrary(L"lib.tlb", L"");
    ::SetCurrentDirectoryW(previous);
    EXPECT_EQ(result, kTrue);
    EXPECT_EQ(world.loadedPath, file);
    EXPECT_EQ(world.registeredPath, file);
}

TEST_F(RegistrarTest, AnythingButAnExistingFileNeverReachesTheLoader) {
    // A pipe opens like a file, and its attributes can pass for one.
    const std::wstring pipe = L"\\\\.\\pipe\\vandrel-" + std::to_wstring(::GetCurrentProcessId());
    const OwnedFile server(::CreateNamedPipeW(pipe.c_str(), PIPE_ACCESS_DUPLEX, 0,
                                              PIPE_UNLIMITED_INSTANCES, 0, 0, 0, nullptr));
    ASSERT_TRUE(server);
    std::vector<std::wstring> paths = NotFilePaths(folder);
    for (const std::wstring& path :
         {std::wstring(), std::wstring(L"   "), pipe,
          std::wstring(L"clsid:00000000-0000-0000-0000-000000000000"), file + L"\\x", file + L"\\",
          file + L"\\0", file + L"\\65537", file + L"\\100001", folder.path() + L"\\missing.dll\\2",
          std::wstring(file).append(1, L'\0').append(L"tail")})
        paths.push_back(path);
    for (const std::wstring& path : paths) {
        EXPECT_EQ(RegisterLibrary(path, L""), kFalse) << ::testing::PrintToString(path);
        EXPECT_EQ(UnregisterLibrary(path), kFalse) << ::testing::PrintToString(path);
    }
    EXPECT_TRUE(world.calls.empty());
}

// The platform's unregistration loads the file registered for the identity:
// where that name is a pipe or a folder, the platform is not asked at all.
TEST_F(RegistrarTest, ARegisteredNameThatIsNoPlainFileNeverReachesThePlatform) {
    const std::wstring pipe =
        L"\\\\.\\pipe\\vandrel-registered-" + std::to_wstring(::GetCurrentProcessId());
    const OwnedFile server(::CreateNamedPipeW(pipe.c_str(), PIPE_ACCESS_DUPLEX, 0,
                                              PIPE_UNLIMITED_INSTANCES, 0, 0, 0, nullptr));
    ASSERT_TRUE(server);
    for (const std::wstring& registered : {pipe, folder.path()}) {
        world.calls.clear();
        world.registeredFile = registered;
        const RegistrarResult result = UnregisterLibraryIn(file, Scope::Machine);
        EXPECT_EQ(result.failure, Failure::NoFile) << ::testing::PrintToString(registered);
        EXPECT_EQ(world.calls, (std::vector<std::string>{"load"}));
    }
}

TEST_F(RegistrarTest, AResourceIndexAfterAnExistingFileReachesTheLoader) {
    EXPECT_EQ(RegisterLibrary(file + L"\\2", L""), kTrue);
    EXPECT_EQ(world.loadedPath, file + L"\\2");
}

TEST_F(RegistrarTest, UnregisterPassesTheFilesIdentityInOrder) {
    EXPECT_EQ(UnregisterLibrary(file), kTrue);
    const TLIBATTR& attr = world.library.attr;
    EXPECT_TRUE(IsEqualGUID(world.unregGuid, attr.guid));
    EXPECT_EQ(world.unregMajor, 0xFFFF);
    EXPECT_EQ(world.unregMinor, 0x8001);
    EXPECT_EQ(world.unregLcid, 0x0409u);
    EXPECT_EQ(world.unregSyskind, SYS_WIN64);
    EXPECT_EQ(world.library.attrReleases, 2) << "the walk's record and the unregistration's";
}

TEST_F(RegistrarTest, UnregisterReducesEachFailingStepToFailure) {
    struct Case {
        const char* name;
        void (*arrange)(World&);
        bool unregisters; // whether the failing step comes after the platform's call
    };
    const Case cases[] = {
        {"load", [](World& w) { w.loadStatus = 1; }, false},
        {"alloc", [](World& w) { w.allocFails = true, w.lastError = ERROR_NOT_ENOUGH_MEMORY; },
         false},
        {"alloc, last error 0", [](World& w) { w.allocFails = true; }, false},
        {"attr", [](World& w) { w.library.attrStatus = E_OUTOFMEMORY; }, false},
        {"attr status 1", [](World& w) { w.library.attrStatus = 1; }, false},
        {"attr null", [](World& w) { w.library.attrDelivered = false; }, false},
        {"unregister", [](World& w) { w.unregisterStatus = TYPE_E_REGISTRYACCESS; }, true},
        {"unregister status 1", [](World& w) { w.unregisterStatus = 1; }, true},
        {"registry unreadable", [](World& w) { w.registryStatus = ERROR_ACCESS_DENIED; }, false},
    };
    for (const Case& c : cases) {
        World fresh;
        fresh.library.attr = world.library.attr;
        c.arrange(fresh);
        g_world = &fresh;
        EXPECT_EQ(UnregisterLibrary(file), kFalse) << c.name;
        const bool unregistered =
            std::find(fresh.calls.begin(), fresh.calls.end(), "unregister") != fresh.calls.end();
        EXPECT_EQ(unregistered, c.unregisters) << c.name;
        EXPECT_EQ(fresh.library.handedOut, fresh.loadStatus == S_OK ? 1 : 0) << c.name;
        ExpectNothingLeft(fresh, c.name);
    }
    g_world = &world;
}

TEST_F(RegistrarTest, ANonZeroLastErrorWithABlockDoesNotDecide) {
    world.lastError = ERROR_INVALID_PARAMETER; // stale value from an earlier call
    EXPECT_EQ(UnregisterLibrary(file), kTrue);
}

// The walk reads what registration reads: the identity, and the attributes
// of interfaces and dispinterfaces. It never resolves a reference, which
// could load (and so register) another library.
TEST_F(RegistrarTest, TheWalkHandsBackTheIdentityAndNeverFollowsAReference) {
    world.library.typeInfos = 2;
    // An Automation interface that derives from itself: following it would
    // not end.
    world.library.info.attr.typekind = TKIND_INTERFACE;
    world.library.info.attr.wTypeFlags = TYPEFLAG_FOLEAUTOMATION;
    world.library.info.attr.cImplTypes = 1;
    world.library.info.base = &world.library.info;
    for (PlatformCall purpose : {PlatformCall::Register, PlatformCall::Unregister}) {
        worker::LibraryReport report;
        ASSERT_EQ(worker::WalkLibrary(kFake, &world.library, purpose, report), S_OK);
        EXPECT_TRUE(IsEqualGUID(report.id.guid, world.library.attr.guid));
        EXPECT_EQ(report.id.major, 0xFFFF);
        EXPECT_EQ(report.id.minor, 0x8001);
        EXPECT_EQ(report.id.lcid, 0x0409u);
        EXPECT_EQ(report.id.syskind, SYS_WIN64);
        ASSERT_EQ(report.interfaces.size(), 2u);
        EXPECT_TRUE(IsEqualGUID(report.interfaces[0], world.library.info.attr.guid));
    }
    EXPECT_EQ(RegisterLibrary(file, L""), kTrue);
    EXPECT_EQ(UnregisterLibrary(file), kTrue);
    EXPECT_EQ(world.library.info.referencesAsked, 0);

    // An interface not for Automation gets no Interface key: read, but not
    // recorded. Other kinds are neither opened nor recorded.
    world.library.info.attr.wTypeFlags = 0;
    worker::LibraryReport report;
    ASSERT_EQ(worker::WalkLibrary(kFake, &world.library, PlatformCall::Register, report), S_OK);
    EXPECT_TRUE(report.interfaces.empty());
    world.library.info.attr.typekind = TKIND_COCLASS;
    const int opened = world.library.info.handedOut;
    ASSERT_EQ(worker::WalkLibrary(kFake, &world.library, PlatformCall::Register, report), S_OK);
    EXPECT_TRUE(report.interfaces.empty());
    EXPECT_EQ(world.library.info.handedOut, opened);
}

// What a registration call leaves that it should not is put back, as the
// records of before and after tell; what cannot be put back is said so.
TEST_F(RegistrarTest, WhatTheCallLeftIsPutBackAndAFailedRestoreIsNamed) {
    g_sandbox = L"Software\\VandrelRegistrarTests\\" + std::to_wstring(::GetCurrentProcessId());
    const RegistrarPlatform sandboxed = Sandboxed();
    const test::ScopedSeam<RegistrarPlatform> replaced(RegistrarSeam(), sandboxed);
    world.library.typeInfos = 1;
    const std::wstring iid = InterfaceKeyName(world.library.info.attr.guid);
    // Wine writes the machine's keys in the other view even with HKCR
    // redirected to the user's classes.
    const std::wstring machineKey =
        SandboxPath(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, L"Software\\Classes") + L"\\" + iid;
    const std::wstring userKey =
        SandboxPath(HKEY_CURRENT_USER, KEY_WOW64_64KEY, L"Software\\Classes") + L"\\" + iid;
    g_sandboxWrites.keys[0] = machineKey;
    g_sandboxWrites.keys[1] = userKey;
    world.writes = WriteInSandbox;
    struct Case {
        const char* name;
        Scope scope;
        HRESULT status;
        Breaks breaks; // from the moment the call has written
        Flag flag;
        Failure failure;
        bool userKeyStays;
        bool machineKeyStays;
    };
    const Case cases[] = {
        {"user, succeeded", Scope::User, S_OK, Breaks::Nothing, kTrue, Failure::None, true, false},
        {"user, succeeded, after unreadable", Scope::User, S_OK, Breaks::Reading, kTrue,
         Failure::None, true, false},
        {"user, succeeded, not put back", Scope::User, S_OK, Breaks::Deleting, kFalse,
         Failure::NotRestored, true, true},
        // A command that fails leaves nothing of its own: the user's
        // registration goes too when the machine's keys cannot be put back.
        {"user, succeeded, machine not put back", Scope::User, S_OK, Breaks::RestoringMachine,
         kFalse, Failure::NotRestored, false, true},
        {"user, failed", Scope::User, E_FAIL, Breaks::Nothing, kFalse, Failure::Platform, false,
         false},
        {"user, failed, not put back", Scope::User, E_FAIL, Breaks::Deleting, kFalse,
         Failure::NotRestored, true, true},
        {"machine, failed", Scope::Machine, E_FAIL, Breaks::Nothing, kFalse, Failure::Platform,
         false, false},
        {"machine, failed, not put back", Scope::Machine, E_FAIL, Breaks::Deleting, kFalse,
         Failure::NotRestored, true, true},
    };
    for (const Case& c : cases) {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, g_sandbox.c_str());
        world.registerStatus = c.status;
        g_sandboxWrites.breaks = c.breaks;
        const RegistrarResult result = RegisterLibraryIn(file, L"", c.scope);
        g_breaks = Breaks::Nothing;
        EXPECT_EQ(result.flag, c.flag) << c.name;
        EXPECT_EQ(result.failure, c.failure) << c.name;
        EXPECT_EQ(test::RegistryKeyExists(HKEY_CURRENT_USER, userKey), c.userKeyStays) << c.name;
        // The machine's key in the other view goes whatever the call returned,
        // unless removing it is what fails.
        EXPECT_EQ(test::RegistryKeyExists(HKEY_CURRENT_USER, machineKey), c.machineKeyStays)
            << c.name;
    }
    ::RegDeleteTreeW(HKEY_CURRENT_USER, g_sandbox.c_str());
    world.writes = nullptr;
}

} // namespace
} // namespace vandrel
