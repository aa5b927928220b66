// Restoring recorded keys when some registry calls fail, in a private key of
// the test's own: it goes on with the rest and never reports success.
#include "common/Owned.h"
#include "registrar/RegistryUndo.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>

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
    DeleteKey
};
Call g_failing = Call::None;

template <auto Member, Call Which> struct Failing {
    template <typename... Args> static LSTATUS WINAPI Run(Args... args) {
        if (g_failing == Which) return ERROR_ACCESS_DENIED;
        return (RealRegistryCalls().*Member)(args...);
    }
};
const RegistryCalls kFailing = {
    &Failing<&RegistryCalls::Open, Call::Open>::Run,
    &Failing<&RegistryCalls::Create, Call::Create>::Run,
    &Failing<&RegistryCalls::QueryInfo, Call::QueryInfo>::Run,
    &Failing<&RegistryCalls::EnumKey, Call::EnumKey>::Run,
    &Failing<&RegistryCalls::EnumValue, Call::EnumValue>::Run,
    &Failing<&RegistryCalls::SetValue, Call::SetValue>::Run,
    &Failing<&RegistryCalls::DeleteValue, Call::DeleteValue>::Run,
    &Failing<&RegistryCalls::DeleteTree, Call::DeleteTree>::Run,
    &Failing<&RegistryCalls::DeleteKey, Call::DeleteKey>::Run,
};

class RegistryUndoTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = L"Software\\VandrelUndoTests\\" + std::to_wstring(::GetCurrentProcessId());
        ::RegDeleteTreeW(HKEY_CURRENT_USER, root.c_str());
        // Parent\A holds a value and a subkey; Parent\B and all of Fresh are
        // absent.
        Set(L"Parent\\A", L"V", L"before");
        Set(L"Parent\\A\\Sub", L"", L"sub");
    }
    void TearDown() override {
        g_failing = Call::None;
        ::RegDeleteTreeW(HKEY_CURRENT_USER, root.c_str());
    }
    std::wstring Path(const std::wstring& key) const { return root + L"\\" + key; }
    void Set(const std::wstring& key, const wchar_t* name, const std::wstring& text) {
        ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, Path(key).c_str(), name, REG_SZ,
                                    text.c_str(),
                                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    bool Exists(const std::wstring& key) const {
        return test::RegistryKeyExists(HKEY_CURRENT_USER, Path(key));
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
    };
    const std::vector<RegistryRoot> roots = {{HKEY_CURRENT_USER, root.c_str(), KEY_WOW64_64KEY}};
    const std::vector<std::wstring> keys = {L"Parent\\A", L"Parent\\B", L"Fresh\\C"};
    const std::wstring recorded = test::RegistryTree(HKEY_CURRENT_USER, root);

    for (const Case& c : cases) {
        RegistryUndo undo(kFailing);
        ASSERT_TRUE(undo.Record(roots, keys)) << c.name;
        Set(L"Parent\\A", L"V", L"after");
        ASSERT_EQ(::RegDeleteTreeW(HKEY_CURRENT_USER, Path(L"Parent\\A\\Sub").c_str()),
                  ERROR_SUCCESS);
        Set(L"Parent\\B", L"", L"added");
        Set(L"Fresh\\C", L"", L"added");

        g_failing = c.failing;
        EXPECT_EQ(undo.Restore(), c.failing == Call::None) << c.name;
        g_failing = Call::None;
        wchar_t value[16] = {};
        DWORD size = sizeof value;
        ::RegGetValueW(HKEY_CURRENT_USER, Path(L"Parent\\A").c_str(), L"V", RRF_RT_REG_SZ, nullptr,
                       value, &size);
        EXPECT_EQ(std::wstring(value) == L"before", c.valueBack) << c.name;
        EXPECT_EQ(!Exists(L"Parent\\B"), c.addedKeyGone) << c.name;
        EXPECT_EQ(!Exists(L"Fresh"), c.addedParentGone) << c.name;

        // The same record, restored again, completes what the first left.
        EXPECT_TRUE(undo.Restore()) << c.name;
        EXPECT_TRUE(test::SameRegistry(recorded, test::RegistryTree(HKEY_CURRENT_USER, root)))
            << c.name;
    }
}

} // namespace
} // namespace vandrel
