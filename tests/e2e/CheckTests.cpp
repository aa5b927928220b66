// The real Vandrel.exe checking the whole TypeLib tree (/check), and the
// questions' JSON answers (/json), in the test run's prefix: as Wine made
// it, and with a leaf of every kind of fault written by hand.
#include "driver/Driver.h"
#include "e2e/Leaves.h"
#include "support/HostileLibraries.h"
#include "support/JsonRead.h"
#include "support/TestSupport.h"
#include "support/UiTexts.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

namespace vandrel::test {
namespace {

Written Ask(const std::wstring& arguments) {
    return RunWithPipe(VandrelExe(), arguments, STD_OUTPUT_HANDLE);
}

// A prefix with Wine's own registrations only: every file there, each the
// library its key names, every interface's library registered.
TEST(Check, WinesOwnRegistrationsHoldNothing) {
    const Written lines = Ask(L"/check");
    EXPECT_EQ(lines.status, 0u) << lines.text;
    EXPECT_EQ(lines.text, L"");
    JsonValue json;
    ASSERT_TRUE(ReadJson(Ask(L"/check /json").text, json));
    EXPECT_EQ(json[L"findings"]->items.size(), 0u);
    // Wine 8 registers 42 libraries for each platform it runs.
    EXPECT_GE(std::wcstoul(json[L"checked"]->text.c_str(), nullptr, 10), 42ul);
}

class CheckFindings : public RegistryTest {
protected:
    void TearDown() override {
        DeleteClassesKeys(written, {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER});
        RegistryTest::TearDown();
    }
    TempFolder folder;
    std::vector<std::wstring> written;
};

// One leaf of each fault, and two that are none: /check finds each fault in
// one line (the missing file's with the line /orphans prints), exits 1, and
// says the same in JSON, as do /q and /orphans.
TEST_F(CheckFindings, EachFaultIsFoundOnceAndTheJsonAnswersCarryTheSameFacts) {
    const std::wstring k = L"{0B3D5E10-2A4C-4E6F-8A1B-3C5D7E9F0A21}";
    const std::wstring unregistered = L"{0B3D5E10-2A4C-4E6F-8A1B-3C5D7E9F0A22}";
    const std::wstring iid = L"{0B3D5E10-2A4C-4E6F-8A1B-3C5D7E9F0A23}";
    const std::wstring kept = L"{0B3D5E10-2A4C-4E6F-8A1B-3C5D7E9F0A24}";
    const std::wstring delta = L"{5D8E2F41-7C3A-4B19-A6E0-2B9C4D71E802}";
    written = {L"TypeLib\\" + k, L"TypeLib\\" + delta, L"Interface\\" + iid, L"Interface\\" + kept};
    const LibIdentity alpha = IdentityOf(Fixture(L"Alpha.tlb"));
    wchar_t declared[64];
    swprintf(declared, 64, L" %x.%x %lx ", alpha.major, alpha.minor, alpha.lcid);
    const std::wstring gone = folder.path() + L"\\K\u6587\u4EF6.tlb";
    const std::wstring unmapped = UnmappedDrive() + L"\\libs\\K.tlb";
    const struct {
        HKEY hive;
        std::wstring key, path, line; // the line /check prints, or none
    } leaves[] = {
        {HKEY_LOCAL_MACHINE, L"1.0\\0\\win32", gone,
         text::kFileGone + L" " + text::kForMachine + L" " + k + L" 1.0 0 win32 \"" + gone +
             L"\" " + text::kRepairLead + L" " + k + L" 1.0 0 /win32 /u"},
        {HKEY_LOCAL_MACHINE, L"1.1\\0\\win32", unmapped,
         text::kFileUnreachable + L" " + text::kForMachine + L" " + k + L" 1.1 0 win32 \"" +
             unmapped + L"\""},
        {HKEY_LOCAL_MACHINE, L"2.0\\0\\win64", folder.Copy(Fixture(L"Alpha.tlb"), L"Alpha.tlb"),
         text::kFindingWrongLibrary + L" " + text::kForMachine + L" " + k + L" 2.0 0 win64 \"" +
             folder.path() + L"\\Alpha.tlb\" " + text::kDeclaresLead + L" " + GuidText(alpha.guid) +
             declared + kPlatformKey + L" " + text::kWrongLibraryNoRepair},
        {HKEY_LOCAL_MACHINE, L"2.1\\0\\win64", folder.Write(L"Text.tlb", "not a library"),
         text::kFindingUnreadable + L" " + text::kForMachine + L" " + k + L" 2.1 0 win64 \"" +
             folder.path() + L"\\Text.tlb\" " + text::kNotTypeLib + L" (0x80029C4A)"},
        {HKEY_LOCAL_MACHINE, L"2.2\\0\\win64", folder.Write(L"Crash.tlb", CrashingLibrary()),
         text::kFindingUnreadable + L" " + text::kForMachine + L" " + k + L" 2.2 0 win64 \"" +
             folder.path() + L"\\Crash.tlb\" " + text::kDamaged + L" (0xC0000005)"},
        {HKEY_LOCAL_MACHINE, L"4.0\\0\\win32", L"", L""}, // no file registration
        {HKEY_LOCAL_MACHINE, delta + L"\\1.0\\0\\win64",
         folder.Copy(Fixture(L"Delta1.win64.tlb"), L"DeltaA.tlb"), L""},
        {HKEY_CURRENT_USER, delta + L"\\1.0\\0\\win64",
         folder.Copy(Fixture(L"Delta1.win64.tlb"), L"DeltaB.tlb"),
         text::kFindingShadowed + L" " + text::kForUser + L" " + delta + L" 1.0 0 win64 \"" +
             folder.path() + L"\\DeltaB.tlb\" " + text::kForMachine + L" \"" + folder.path() +
             L"\\DeltaA.tlb\""},
    };
    const Written before = Ask(L"/check");
    std::vector<std::wstring> expected;
    for (const auto& leaf : leaves) {
        const bool own = leaf.key.rfind(L"{", 0) == 0;
        Put(leaf.hive, 0, L"TypeLib\\" + (own ? L"" : k + L"\\") + leaf.key, nullptr, leaf.path);
        if (!leaf.line.empty()) expected.push_back(leaf.line);
    }
    // An interface naming a version nothing registers dangles; one naming
    // the version only a leaf without a file registers does not.
    for (const wchar_t* version : {L"1.0", L"4.0"}) {
        const std::wstring key = L"Interface\\" + (*version == L'4' ? kept : iid);
        Put(KEY_WOW64_32KEY, key + L"\\TypeLib", nullptr, *version == L'4' ? k : unregistered);
        Put(KEY_WOW64_32KEY, key + L"\\TypeLib", L"Version", version);
    }
    expected.push_back(text::kFindingDangling + L" " + text::kForMachine + L" " + text::kView32 +
                       L" " + iid + L" " + unregistered + L" 1.0");

    const Written found = Ask(L"/check");
    EXPECT_EQ(found.status, 1u);
    EXPECT_EQ(NewLines(before.text, found.text), expected) << found.text;

    // The JSON answers: ASCII and well-formed, version 1, the same facts.
    const struct {
        std::wstring arguments, list;
        size_t leads; // lines the answer holds beside its items
    } questions[] = {
        {L"/check", L"findings", 0},
        {L"/orphans", L"orphans", 0},
        {k + L" 1.0 /q", L"registrations", 1},
    };
    for (const auto& q : questions) {
        const Written answer = Ask(q.arguments + L" /json");
        JsonValue json;
        ASSERT_TRUE(ReadJson(answer.text, json)) << q.arguments << L": " << answer.text;
        EXPECT_EQ(answer.status, Ask(q.arguments).status) << q.arguments;
        EXPECT_EQ(json[L"version"]->text, L"1") << q.arguments;
        ASSERT_NE(json[q.list], nullptr) << q.arguments;
        EXPECT_EQ(json[q.list]->items.size() + q.leads, Lines(Ask(q.arguments).text).size())
            << q.arguments;
        const JsonValue* missing = nullptr;
        for (const JsonValue& item : json[q.list]->items) {
            for (const wchar_t* field : {L"libid", L"major", L"minor"})
                EXPECT_NE(item[field], nullptr) << q.arguments << L": " << field;
            if (item[L"file"] && item[L"path"]->text == gone) missing = &item;
        }
        ASSERT_NE(missing, nullptr) << q.arguments << L": " << answer.text;
        EXPECT_EQ((*missing)[L"file"]->text, L"missing");
        EXPECT_EQ((*missing)[L"platform"]->text, L"win32");
        if (q.list == L"registrations") continue;
        std::vector<std::wstring> repair;
        for (const JsonValue& argument : (*missing)[L"repair"]->items)
            repair.push_back(argument.text);
        EXPECT_EQ(repair, (std::vector<std::wstring>{k, L"1.0", L"0", L"/win32", L"/u"}));
    }
    // What removing the missing file's registration would change, line by
    // line and as one document: the same changes, the leaf's path among them.
    const std::wstring removal = k + L" 1.0 0 /win32 /u /n";
    JsonValue json;
    ASSERT_TRUE(ReadJson(Ask(removal + L" /json").text, json));
    EXPECT_EQ(json[L"command"]->text, L"removeByIdentity");
    ASSERT_NE(json[L"changes"], nullptr);
    const auto lines = Lines(Ask(removal).text);
    ASSERT_EQ(json[L"changes"]->items.size(), lines.size());
    bool leaf = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const JsonValue& change = json[L"changes"]->items[i];
        EXPECT_EQ(change[L"change"]->text, L"remove");
        EXPECT_EQ(lines[i].find(change[L"key"]->text), 2u) << lines[i];
        leaf = leaf || (change[L"value"] && change[L"value"]->text == gone);
    }
    EXPECT_TRUE(leaf) << "the leaf's path is not among the changes";
}

} // namespace
} // namespace vandrel::test
