// Recording and restoring keys in a private key of the test's own under
// HKLM\Software, where the two registry views are two keys for either build
// (under Wine a private key under Software\Classes is one key for a 32-bit
// process): a restore puts back each view's own values of every kind, goes
// on past a call that fails and never reports success then; what it could
// not write back fails the record; a key created again keeps its security.
#include "common/Owned.h"
#include "registrar/host/RegistryUndo.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <sddl.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cwchar>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

// The test program's operator new: on the armed thread the allocation of
// that number (counted from 0) fails, once. It allocates as the library's
// does, whose operator delete frees.
std::atomic<DWORD> g_allocatingThread = 0;
long g_allocationsBeforeFailure = -1;
void* operator new(std::size_t size) {
    if (g_allocatingThread == ::GetCurrentThreadId() && g_allocationsBeforeFailure-- == 0)
        throw std::bad_alloc();
    if (void* block = std::malloc(size ? size : 1)) return block;
    throw std::bad_alloc();
}

namespace vandrel {
namespace {

// The real registry, except for the one kind of call that fails.
enum class Call {
    None,
    Open,
    Create,
    QueryInfo,
    EnumKey,
    EnumValue,
    SetValue,
    DeleteValue,
    DeleteTree,
    DeleteKey,
    GetSecurity,
    SetSecurity
};
Call g_failing = Call::None;

template <auto Member, Call Which> struct Failing {
    template <typename... Args> static LSTATUS WINAPI Run(Args... args) {
        if (g_failing == Which) return ERROR_ACCESS_DENIED;
        return (RegistrarSeam().real().*Member)(args...);
    }
};
// Whatever lies after the data must not matter; a NUL there is what the
// Win32 call takes for the terminator of a string whose size left it out.
LSTATUS WINAPI SetValueBeforeANul(HKEY key, const wchar_t* name, DWORD reserved, DWORD type,
                                  const BYTE* data, DWORD size) {
    if (g_failing == Call::SetValue) return ERROR_ACCESS_DENIED;
    std::vector<BYTE> followed(data, data + size);
    followed.resize(size + sizeof(wchar_t) + 1);
    return RegistrarSeam().real().RegSetValueExW(key, name, reserved, type, followed.data(), size);
}
// The real platform, with each registry call made to fail on demand.
RegistrarPlatform FailingPlatform() {
    RegistrarPlatform platform = RegistrarSeam().real();
    platform.RegOpenKeyExW = &Failing<&RegistrarPlatform::RegOpenKeyExW, Call::Open>::Run;
    platform.RegCreateKeyExW = &Failing<&RegistrarPlatform::RegCreateKeyExW, Call::Create>::Run;
    platform.RegQueryInfoKeyW =
        &Failing<&RegistrarPlatform::RegQueryInfoKeyW, Call::QueryInfo>::Run;
    platform.RegEnumKeyExW = &Failing<&RegistrarPlatform::RegEnumKeyExW, Call::EnumKey>::Run;
    platform.RegEnumValueW = &Failing<&RegistrarPlatform::RegEnumValueW, Call::EnumValue>::Run;
    platform.RegSetValueExW = SetValueBeforeANul;
    platform.RegDeleteValueW =
        &Failing<&RegistrarPlatform::RegDeleteValueW, Call::DeleteValue>::Run;
    platform.RegDeleteTreeW = &Failing<&RegistrarPlatform::RegDeleteTreeW, Call::DeleteTree>::Run;
    platform.RegDeleteKeyExW = &Failing<&RegistrarPlatform::RegDeleteKeyExW, Call::DeleteKey>::Run;
    platform.RegGetKeySecurity =
        &Failing<&RegistrarPlatform::RegGetKeySecurity, Call::GetSecurity>::Run;
    platform.RegSetKeySecurity =
        &Failing<&RegistrarPlatform::RegSetKeySecurity, Call::SetSecurity>::Run;
    return platform;
}
const RegistrarPlatform kFailing = FailingPlatform();

constexpr REGSAM kViews[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};

// The native calls write what the Win32 ones cannot: names with a NUL in
// them, strings without a terminating NUL.
UNICODE_STRING Counted(const std::wstring& text) {
    const auto bytes = static_cast<USHORT>(text.size() * sizeof(wchar_t));
    return {bytes, bytes, const_cast<wchar_t*>(text.data())};
}
void NativeSet(HKEY key, const std::wstring& name, DWORD type, const std::wstring& data,
               size_t bytes) {
    using Set = NTSTATUS(NTAPI*)(HANDLE, UNICODE_STRING*, ULONG, ULONG, const void*, ULONG);
    static const auto set = reinterpret_cast<Set>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtSetValueKey")));
    UNICODE_STRING counted = Counted(name);
    ASSERT_EQ(set(key, &counted, 0, type, data.data(), static_cast<ULONG>(bytes)), 0);
}
// A key made and removed through the native calls only: the Win32 calls
// end its name at the NUL.
class NativeKey {
public:
    NativeKey(HKEY parent, const std::wstring& name) {
        using Create = NTSTATUS(NTAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, ULONG,
                                        UNICODE_STRING*, ULONG, ULONG*);
        static const auto create = reinterpret_cast<Create>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtCreateKey")));
        UNICODE_STRING counted = Counted(name);
        OBJECT_ATTRIBUTES attributes;
        InitializeObjectAttributes(&attributes, &counted, OBJ_CASE_INSENSITIVE, parent, nullptr);
        EXPECT_EQ(create(&key_, KEY_ALL_ACCESS, &attributes, 0, nullptr, 0, nullptr), 0);
    }
    NativeKey(const NativeKey&) = delete;
    NativeKey& operator=(const NativeKey&) = delete;
    ~NativeKey() {
        using Delete = NTSTATUS(NTAPI*)(HANDLE);
        static const auto remove = reinterpret_cast<Delete>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
        if (key_) remove(key_);
        ::CloseHandle(key_);
    }

private:
    HANDLE key_ = nullptr;
};

// A key's owner, group, DACL and label as text.
std::wstring SecurityOf(HKEY key) {
    constexpr SECURITY_INFORMATION kAll = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                          DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION;
    BYTE descriptor[1024];
    DWORD size = sizeof descriptor;
    if (::RegGetKeySecurity(key, kAll, descriptor, &size) != ERROR_SUCCESS) return L"unreadable";
    wchar_t* text = nullptr;
    if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, kAll,
                                                                &text, nullptr))
        return L"unconvertible";
    std::wstring result = text;
    ::LocalFree(text);
    return result;
}

class RegistryUndoTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = L"Software\\VandrelUndoTests\\" + std::to_wstring(::GetCurrentProcessId());
        // In each view Parent\A holds a value of every kind (their data the
        // view's own) and a subkey; Parent\B and all of Fresh are absent.
        for (REGSAM view : kViews) {
            Clear(view);
            const std::wstring own = view == KEY_WOW64_64KEY ? L"64" : L"32";
            OwnedKey a = Key(view, L"Parent\\A");
            Text(view, L"Parent\\A", L"V", L"before" + own);
            NativeSet(a.get(), L"", REG_SZ, L"default " + own, 2 * (9 + own.size()));
            NativeSet(a.get(), L"Number", REG_DWORD, own, 4);
            NativeSet(a.get(), L"Bytes", REG_BINARY, std::wstring(L"\x0100\xFF00", 2) + own, 7);
            const std::wstring multi = L"one" + own + L'\0' + L"two" + L'\0' + L'\0';
            NativeSet(a.get(), L"Multi", REG_MULTI_SZ, multi, 2 * multi.size());
            NativeSet(a.get(), L"Expand", REG_EXPAND_SZ, L"%SystemRoot%\\" + own, 2 * 16);
            NativeSet(a.get(), L"Empty", REG_SZ, L"", 0);
            NativeSet(a.get(), L"Unended", REG_SZ, L"abc" + own, 2 * 5);
            Text(view, L"Parent\\A\\Sub", L"", L"sub");
        }
    }
    void TearDown() override {
        g_failing = Call::None;
        for (REGSAM view : kViews)
            Clear(view);
    }
    std::wstring Path(const std::wstring& key) const { return root + L"\\" + key; }
    OwnedKey Key(REGSAM view, const std::wstring& key, DWORD options = 0) {
        OwnedKey opened;
        EXPECT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, Path(key).c_str(), 0, nullptr, options,
                                    KEY_ALL_ACCESS | view, nullptr, opened.put(), nullptr),
                  ERROR_SUCCESS);
        return opened;
    }
    // Enough keys for the record's reader threads, each with a value in one view.
    std::vector<RegistryUndo::Watched> ManyKeys() {
        std::vector<RegistryUndo::Watched> keys;
        for (int i = 0; i < 100; ++i) {
            keys.push_back(L"Parent\\Many" + std::to_wstring(i));
            Text(kViews[0], keys.back().key, L"", L"kept");
        }
        return keys;
    }
    void Text(REGSAM view, const std::wstring& key, const wchar_t* name, const std::wstring& text) {
        ASSERT_EQ(::RegSetValueExW(Key(view, key).get(), name, 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(text.c_str()),
                                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    std::wstring TextOf(REGSAM view, const std::wstring& key, const wchar_t* name) const {
        OwnedKey opened;
        wchar_t value[32] = {};
        DWORD size = sizeof value - sizeof(wchar_t);
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, Path(key).c_str(), 0, KEY_READ | view,
                            opened.put()) != ERROR_SUCCESS ||
            ::RegQueryValueExW(opened.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(value),
                               &size) != ERROR_SUCCESS)
            return L"";
        return value;
    }
    bool Exists(REGSAM view, const std::wstring& key) const {
        OwnedKey opened;
        return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, Path(key).c_str(), 0, KEY_READ | view,
                               opened.put()) == ERROR_SUCCESS;
    }
    void Remove(REGSAM view, const std::wstring& key) {
        OwnedKey parent;
        const size_t slash = key.find_last_of(L'\\');
        const std::wstring above = slash == std::wstring::npos ? root : Path(key.substr(0, slash));
        ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, above.c_str(), 0, KEY_ALL_ACCESS | view,
                                  parent.put()),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegDeleteTreeW(parent.get(), key.substr(slash + 1).c_str()), ERROR_SUCCESS);
    }
    void Clear(REGSAM view) {
        OwnedKey parent;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\VandrelUndoTests", 0,
                            KEY_ALL_ACCESS | view, parent.put()) != ERROR_SUCCESS)
            return;
        ::RegDeleteTreeW(parent.get(), root.substr(root.find_last_of(L'\\') + 1).c_str());
    }
    std::wstring Tree(REGSAM view) const {
        return test::RegistryTree(HKEY_LOCAL_MACHINE, root, view);
    }
    std::vector<RegistryRoot> Roots() const {
        return {{HKEY_LOCAL_MACHINE, root.c_str(), KEY_WOW64_64KEY},
                {HKEY_LOCAL_MACHINE, root.c_str(), KEY_WOW64_32KEY}};
    }
    std::wstring root;
};

TEST_F(RegistryUndoTest, ARestoreGoesOnPastAFailedCallAndReportsIt) {
    struct Case {
        const char* name;
        Call failing;
        // What the first restore must still have put back.
        bool valueBack, addedKeyGone, addedParentGone;
    };
    const Case cases[] = {
        {"nothing fails", Call::None, true, true, true},
        {"open", Call::Open, true, true, false},
        {"create", Call::Create, false, false, true},
        {"query info", Call::QueryInfo, true, true, false},
        {"set value", Call::SetValue, false, true, true},
        {"delete value", Call::DeleteValue, true, true, true},
        {"delete tree", Call::DeleteTree, true, false, false},
        {"delete key", Call::DeleteKey, true, true, false},
        {"set security", Call::SetSecurity, true, true, true},
    };
    const std::vector<RegistryUndo::Watched> keys = {L"Parent\\A", L"Parent\\B", L"Fresh\\C"};
    const std::wstring recorded[] = {Tree(kViews[0]), Tree(kViews[1])};
    ASSERT_NE(recorded[0], recorded[1]);

    for (const Case& c : cases) {
        RegistryUndo undo(kFailing);
        ASSERT_TRUE(undo.Record(Roots(), keys)) << c.name;
        for (REGSAM view : kViews) {
            Text(view, L"Parent\\A", L"V", L"after");
            // Strings written through the Win32 call end with a NUL.
            Text(view, L"Parent\\A", L"Unended", L"abc");
            Remove(view, L"Parent\\A\\Sub");
            Text(view, L"Parent\\B", L"", L"added");
            Text(view, L"Fresh\\C", L"", L"added");
        }

        g_failing = c.failing;
        EXPECT_EQ(undo.Restore(), c.failing == Call::None) << c.name;
        g_failing = Call::None;
        for (REGSAM view : kViews) {
            const std::wstring before = view == KEY_WOW64_64KEY ? L"before64" : L"before32";
            EXPECT_EQ(TextOf(view, L"Parent\\A", L"V") == before, c.valueBack) << c.name;
            EXPECT_EQ(!Exists(view, L"Parent\\B"), c.addedKeyGone) << c.name;
            EXPECT_EQ(!Exists(view, L"Fresh"), c.addedParentGone) << c.name;
        }

        // The same record, restored again, completes what the first left.
        EXPECT_TRUE(undo.Restore()) << c.name;
        for (int v = 0; v < 2; ++v)
            EXPECT_TRUE(test::SameRegistry(recorded[v], Tree(kViews[v]))) << c.name;
    }
}

TEST_F(RegistryUndoTest, WhatCannotBeWrittenBackOrReadFailsTheRecord) {
    const std::vector<RegistryUndo::Watched> keys = {L"Parent\\A"};
    RegistryUndo undo(kFailing);
    g_failing = Call::GetSecurity;
    EXPECT_FALSE(undo.Record(Roots(), keys)) << "a security descriptor that cannot be read";
    g_failing = Call::None;
    ASSERT_TRUE(undo.Record(Roots(), keys));

    NativeSet(Key(KEY_WOW64_32KEY, L"Parent\\A\\Sub").get(), std::wstring(L"V\0W", 3), REG_SZ, L"x",
              4);
    EXPECT_FALSE(undo.Record(Roots(), keys)) << "a value name with a NUL";
    Remove(KEY_WOW64_32KEY, L"Parent\\A\\Sub");
    ASSERT_TRUE(undo.Record(Roots(), keys));

    const NativeKey hidden(Key(KEY_WOW64_32KEY, L"Parent\\A").get(),
                           std::wstring(L"Sub\0Hidden", 10));
    EXPECT_FALSE(undo.Record(Roots(), keys)) << "a key name with a NUL";
}

TEST_F(RegistryUndoTest, AKeyCreatedAgainKeepsItsSecurityAndAVolatileParentsChildStaysVolatile) {
    PSECURITY_DESCRIPTOR own = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:P(A;;KA;;;BA)(A;;KR;;;WD)", SDDL_REVISION_1, &own, nullptr));
    for (REGSAM view : kViews) {
        EXPECT_EQ(
            ::RegSetKeySecurity(Key(view, L"Parent\\A").get(), DACL_SECURITY_INFORMATION, own),
            ERROR_SUCCESS);
        Key(view, L"Parent\\A\\Volatile\\Inner", REG_OPTION_VOLATILE);
        Text(view, L"Parent\\A\\Volatile\\Inner", L"", L"inner");
    }
    ::LocalFree(own);
    std::wstring security[2];
    for (int v = 0; v < 2; ++v)
        security[v] = SecurityOf(Key(kViews[v], L"Parent\\A").get());
    RegistryUndo undo(RegistrarSeam().real());
    ASSERT_TRUE(undo.Record(Roots(), {L"Parent\\A"}));

    for (REGSAM view : kViews)
        Remove(view, L"Parent\\A\\Volatile\\Inner");
    EXPECT_TRUE(undo.Restore());
    for (REGSAM view : kViews) {
        ASSERT_TRUE(Exists(view, L"Parent\\A\\Volatile\\Inner"));
        OwnedKey persistent;
        EXPECT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                                    Path(L"Parent\\A\\Volatile\\Inner\\P").c_str(), 0, nullptr, 0,
                                    KEY_ALL_ACCESS | view, nullptr, persistent.put(), nullptr),
                  ERROR_CHILD_MUST_BE_VOLATILE);
    }

    for (REGSAM view : kViews)
        Remove(view, L"Parent\\A");
    EXPECT_TRUE(undo.Restore());
    for (int v = 0; v < 2; ++v) {
        EXPECT_EQ(SecurityOf(Key(kViews[v], L"Parent\\A").get()), security[v]);
        EXPECT_NE(security[v].find(L"(A;;KR;;;WD)"), std::wstring::npos) << "the DACL was not set";
    }
}

// Watched by its shape, a key is read and put back only there: the shape's
// values and subkeys come back, or go where they were absent, and whatever
// else the key holds is left as it is. Many keys at once are read by a few
// threads and come back as one record.
TEST_F(RegistryUndoTest, AKeyWatchedByItsShapeComesBackThereAndManyKeysAtOnce) {
    const RegistryUndo::Shape kSub = {{L""}, {}};
    const RegistryUndo::Shape kShape = {{L"V", L"Gone"}, {{L"Sub", &kSub}, {L"New", &kSub}}};
    std::vector<RegistryUndo::Watched> keys = {{L"Parent\\A", &kShape}};
    for (int i = 0; i < 100; ++i) {
        const std::wstring name = L"Parent\\Many" + std::to_wstring(i);
        if (i % 2) Text(kViews[0], name, L"", L"kept");
        keys.push_back({name, &kShape});
    }
    RegistryUndo undo(RegistrarSeam().real());
    ASSERT_TRUE(undo.Record(Roots(), keys));
    for (REGSAM view : kViews) {
        Text(view, L"Parent\\A", L"V", L"after");
        Text(view, L"Parent\\A", L"Gone", L"added");
        Text(view, L"Parent\\A\\Sub", L"", L"changed");
        Text(view, L"Parent\\A\\New", L"", L"added");
        for (int i = 0; i < 100; ++i)
            Text(view, L"Parent\\Many" + std::to_wstring(i) + L"\\Sub", L"", L"added");
    }
    // Outside the shape: not the record's to undo.
    Text(kViews[0], L"Parent\\A", L"Outside", L"stays");
    ASSERT_TRUE(undo.Restore());
    for (REGSAM view : kViews) {
        const std::wstring own = view == KEY_WOW64_64KEY ? L"64" : L"32";
        EXPECT_EQ(TextOf(view, L"Parent\\A", L"V"), L"before" + own);
        EXPECT_EQ(TextOf(view, L"Parent\\A\\Sub", L""), L"sub");
        EXPECT_FALSE(Exists(view, L"Parent\\A\\New"));
        EXPECT_EQ(TextOf(view, L"Parent\\A", L"Gone"), L"");
        for (int i = 0; i < 100; ++i) {
            const std::wstring name = L"Parent\\Many" + std::to_wstring(i);
            EXPECT_EQ(Exists(view, name), view == kViews[0] && i % 2) << i;
            EXPECT_FALSE(Exists(view, name + L"\\Sub")) << i;
        }
    }
    EXPECT_EQ(TextOf(kViews[0], L"Parent\\A", L"Outside"), L"stays");
}

// Reading the keys "Many…", a reader thread waits until the test's own
// thread reads one: it is then surely running while the record still goes
// on, or would be left waiting if the record ended first.
DWORD g_testThread = 0;
const HANDLE g_testThreadReads = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
LSTATUS WINAPI OpenAfterTheTestThread(HKEY key, const wchar_t* name, DWORD options, REGSAM access,
                                      HKEY* opened) {
    if (name && std::wcsncmp(name, L"Many", 4) == 0) {
        if (::GetCurrentThreadId() == g_testThread)
            ::SetEvent(g_testThreadReads);
        else
            ::WaitForSingleObject(g_testThreadReads, INFINITE);
    }
    return RegistrarSeam().real().RegOpenKeyExW(key, name, options, access, opened);
}

size_t ThreadsOfThisProcess() {
    const OwnedFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    size_t threads = 0;
    for (BOOL more = ::Thread32First(snapshot.get(), &entry); more;
         more = ::Thread32Next(snapshot.get(), &entry))
        threads += entry.th32OwnerProcessID == ::GetCurrentProcessId();
    return threads;
}

// Reader threads use the record's stack: whichever allocation fails, none of
// them may still run when the record ends. Each allocation of the test's
// thread fails in turn, up to the first after the readers have begun.
TEST_F(RegistryUndoTest, NoReaderOutlivesARecordThatAnAllocationEnds) {
    const std::vector<RegistryUndo::Watched> keys = ManyKeys();
    RegistrarPlatform platform = RegistrarSeam().real();
    platform.RegOpenKeyExW = OpenAfterTheTestThread;
    g_testThread = ::GetCurrentThreadId();
    RegistryUndo undo(platform);
    ASSERT_TRUE(undo.Record(Roots(), keys));
    const size_t threads = ThreadsOfThisProcess();
    for (long allocation = 0;; ++allocation) {
        ::ResetEvent(g_testThreadReads);
        bool failed = false;
        g_allocationsBeforeFailure = allocation;
        g_allocatingThread = g_testThread;
        try {
            undo.Record(Roots(), keys);
        } catch (const std::bad_alloc&) {
            failed = true;
        }
        g_allocatingThread = 0;
        // A reader left here is never let go: it would use freed memory.
        ASSERT_EQ(ThreadsOfThisProcess(), threads) << "ended by allocation " << allocation;
        if (!failed || ::WaitForSingleObject(g_testThreadReads, 0) == WAIT_OBJECT_0) break;
    }
}

// Every key a read opened, from whichever reader thread.
std::mutex g_openedLock;
std::vector<HKEY> g_opened;
LSTATUS WINAPI OpenNoted(HKEY key, const wchar_t* name, DWORD options, REGSAM access,
                         HKEY* opened) {
    const LSTATUS status = RegistrarSeam().real().RegOpenKeyExW(key, name, options, access, opened);
    const std::lock_guard hold(g_openedLock);
    if (status == ERROR_SUCCESS) g_opened.push_back(*opened);
    return status;
}

bool IsOpen(HKEY key) {
    return ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// The keys a large record read stay open past it, and the next record closes
// them: none pile up over many commands of one window.
TEST_F(RegistryUndoTest, ALargeRecordsKeysStayOpenUntilTheNextRecord) {
    const std::vector<RegistryUndo::Watched> keys = ManyKeys();
    RegistrarPlatform platform = RegistrarSeam().real();
    platform.RegOpenKeyExW = OpenNoted;
    RegistryUndo undo(platform);
    ASSERT_TRUE(undo.Record(Roots(), keys));
    const std::vector<HKEY> first = std::exchange(g_opened, {});
    EXPECT_GE(std::count_if(first.begin(), first.end(), IsOpen), 100);
    ASSERT_TRUE(undo.Record(Roots(), {L"Parent\\A"}));
    for (HKEY key : first) {
        const bool again = std::find(g_opened.begin(), g_opened.end(), key) != g_opened.end();
        EXPECT_TRUE(again || !IsOpen(key)) << "a key of the first record is still open";
    }
    g_opened.clear();
}

} // namespace
} // namespace vandrel
