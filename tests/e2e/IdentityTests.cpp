// The real Vandrel.exe naming a registration instead of a file: removing one
// whose file is gone ({libid} ver [lcid] /u), asking what is registered (/q)
// and listing the registrations whose file is missing (/orphans).
#include "driver/Driver.h"
#include "e2e/Leaves.h"
#include "support/TestSupport.h"
#include "support/UiTexts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vandrel::test {
namespace {

// Delta: one libid at 1.0 and 2.0, each built for both platform kinds.
const std::wstring kDelta = L"{5D8E2F41-7C3A-4B19-A6E0-2B9C4D71E802}";
const wchar_t* const kDeltaFiles[] = {L"Delta1.win32.tlb", L"Delta1.win64.tlb", L"Delta2.win32.tlb",
                                      L"Delta2.win64.tlb"};

// How many of /q's lines end with this file's name, quoted, and a state.
size_t RegistrationsOf(const Written& answer, const std::wstring& file, const std::wstring& state) {
    const std::wstring tail = L"\\" + file + L"\" " + state;
    size_t count = 0;
    for (const std::wstring& line : Lines(answer.text))
        count += line.size() >= tail.size() &&
                 line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
    return count;
}
size_t RegistrationsOf(const Written& answer, const std::wstring& file, bool there) {
    return RegistrationsOf(answer, file, there ? text::kFileThere : text::kFileGone);
}

class ByIdentity : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        orphansBefore = Vandrel(L"/orphans", STD_OUTPUT_HANDLE);
        ASSERT_EQ(orphansBefore.status, 0u);
        for (const wchar_t* file : kDeltaFiles)
            paths.push_back(folder.Copy(Fixture(file), file));
    }
    // Whatever the test left registered goes, then the registry is as it was.
    void TearDown() override {
        for (const std::wstring& path : paths)
            vandrel::test::Run(VandrelExe(), L"\"" + path + L"\" /u /s");
        for (const std::wstring& key : written)
            for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
                HKEY classes = nullptr;
                if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes", 0,
                                    KEY_ALL_ACCESS | view, &classes) != ERROR_SUCCESS)
                    continue;
                ::RegDeleteTreeW(classes, key.c_str());
                ::RegCloseKey(classes);
            }
        RegistryTest::TearDown();
    }
    Written Vandrel(const std::wstring& arguments, DWORD stream = STD_ERROR_HANDLE) {
        return RunWithPipe(VandrelExe(), arguments, stream);
    }
    void RegisterAll() {
        for (const std::wstring& path : paths)
            ASSERT_EQ(vandrel::test::Run(VandrelExe(), L"\"" + path + L"\" /s"), 0u) << path;
    }
    Written orphansBefore;
    TempFolder folder;
    std::vector<std::wstring> paths;
    std::vector<std::wstring> written; // keys under the machine's classes the test wrote
};

// Two versions for both platforms registered, one file deleted: /q tells it
// missing, /orphans lists exactly it, and its line removes it key for key as
// the platform removes it while the file is there, but for the Interface
// keys the live registration of its version still uses; the other three stay.
TEST_F(ByIdentity, AMissingFilesRegistrationGoesAsThePlatformWouldRemoveItAndNothingElse) {
    RegisterAll();
    const std::wstring all = RegistrySnapshot();
    const std::wstring v1 = kDelta + L" 1.0 /q";
    const Written asked = Vandrel(v1, STD_OUTPUT_HANDLE);
    EXPECT_EQ(asked.status, 0u);
    ASSERT_FALSE(Lines(asked.text).empty());
    EXPECT_EQ(Lines(asked.text)[0].rfind(text::kLibraryLead + L" \"Vandrel test library Delta\" " +
                                             kDelta + L" 1.0 0 ",
                                         0),
              0u)
        << asked.text;
    EXPECT_NE(asked.text.find(L" " + text::kInterfaces + L" 1\r\n"), std::wstring::npos)
        << asked.text;
    EXPECT_EQ(RegistrationsOf(asked, L"Delta1.win32.tlb", true), 1u) << asked.text;
    EXPECT_EQ(RegistrationsOf(asked, L"Delta1.win64.tlb", true), 1u) << asked.text;
    EXPECT_EQ(RegistrationsOf(asked, L"Delta2.win32.tlb", true), 0u) << asked.text;
    // By path, the same registrations.
    const Written byPath = Vandrel(L"\"" + paths[1] + L"\" /q", STD_OUTPUT_HANDLE);
    EXPECT_EQ(byPath.status, 0u);
    EXPECT_EQ(Lines(byPath.text).size(), Lines(asked.text).size()) << byPath.text;

    // What the platform leaves when it removes Delta 1.0 for win32 itself.
    ASSERT_EQ(vandrel::test::Run(VandrelExe(), L"\"" + paths[0] + L"\" /u /s"), 0u);
    const std::wstring platformRemoved = RegistrySnapshot();
    ASSERT_EQ(vandrel::test::Run(VandrelExe(), L"\"" + paths[0] + L"\" /s"), 0u);
    ASSERT_TRUE(SameRegistry(all, RegistrySnapshot()));

    ASSERT_TRUE(::DeleteFileW(paths[0].c_str()));
    EXPECT_EQ(RegistrationsOf(Vandrel(v1, STD_OUTPUT_HANDLE), L"Delta1.win32.tlb", false), 1u);
    // The platform cannot remove it now; the path form fails and changes
    // nothing.
    EXPECT_EQ(vandrel::test::Run(VandrelExe(), L"\"" + paths[0] + L"\" /u /s"), 1u);
    ASSERT_TRUE(SameRegistry(all, RegistrySnapshot()));

    const Written orphans = Vandrel(L"/orphans", STD_OUTPUT_HANDLE);
    EXPECT_EQ(orphans.status, 0u);
    const std::vector<std::wstring> found = NewLines(orphansBefore.text, orphans.text);
    ASSERT_EQ(found, (std::vector<std::wstring>{kDelta + L" 1.0 0 /win32 /u"})) << orphans.text;

    const Written removed = Vandrel(found[0] + L" /s");
    EXPECT_EQ(removed.status, 0u) << removed.text;
    EXPECT_EQ(removed.text, L"");
    // The leaf goes, as the platform takes it; the version's Interface keys,
    // which the platform would take too, stay for Delta 1.0 on win64.
    std::wstring kept;
    for (const std::wstring& line : Lines(all))
        if (line.find(kDelta + L"\\\\1.0\\\\0\\\\win32") == std::wstring::npos)
            kept += line + L"\n";
    EXPECT_TRUE(SameRegistry(kept, RegistrySnapshot()));
    for (const std::wstring& line : NewLines(platformRemoved, kept))
        EXPECT_NE(line.find(L"Interface\\{5D8E2F41-7C3A-4B19-A6E0-2B9C4D71E811}"),
                  std::wstring::npos)
            << line;
    EXPECT_EQ(Vandrel(L"/orphans", STD_OUTPUT_HANDLE).text, orphansBefore.text);

    const Written after = Vandrel(v1, STD_OUTPUT_HANDLE);
    EXPECT_EQ(after.status, 0u);
    EXPECT_EQ(RegistrationsOf(after, L"Delta1.win32.tlb", false), 0u) << after.text;
    EXPECT_EQ(RegistrationsOf(after, L"Delta1.win64.tlb", true), 1u) << after.text;

    // Once more: nothing is registered there, and nothing changes.
    const std::wstring left = RegistrySnapshot();
    const Written again = Vandrel(found[0] + L" /s");
    EXPECT_EQ(again.status, 1u);
    EXPECT_NE(
        again.text.find(L"\u6CA1\u6709\u53EF\u6CE8\u9500\u7684\u6CE8\u518C"), // 没有可注销的注册
        std::wstring::npos)
        << again.text;
    EXPECT_TRUE(SameRegistry(left, RegistrySnapshot()));
}

// A win16 registration whose file is gone: /orphans names it /win16, and
// that line removes it alone; the live registrations of the same version stay,
// and so do the version's Interface keys, which they use.
TEST_F(ByIdentity, AWin16OrphanLineRemovesOnlyTheWin16Registration) {
    RegisterAll();
    const std::wstring gone = L"C:\\nowhere\\Delta1.win16.tlb";
    ASSERT_EQ(::RegSetKeyValueW(
                  HKEY_CLASSES_ROOT, (L"TypeLib\\" + kDelta + L"\\1.0\\0\\win16").c_str(), nullptr,
                  REG_SZ, gone.c_str(), static_cast<DWORD>((gone.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    const std::vector<std::wstring> found =
        NewLines(orphansBefore.text, Vandrel(L"/orphans", STD_OUTPUT_HANDLE).text);
    ASSERT_EQ(found, (std::vector<std::wstring>{kDelta + L" 1.0 0 /win16 /u"}));
    EXPECT_EQ(Vandrel(found[0] + L" /s").status, 0u);
    const Written after = Vandrel(kDelta + L" 1.0 /q", STD_OUTPUT_HANDLE);
    EXPECT_EQ(RegistrationsOf(after, L"Delta1.win16.tlb", false), 0u) << after.text;
    EXPECT_EQ(RegistrationsOf(after, L"Delta1.win32.tlb", true), 1u) << after.text;
    EXPECT_EQ(RegistrationsOf(after, L"Delta1.win64.tlb", true), 1u) << after.text;
}

// With nothing of the library registered: /q answers 1 with the library's
// line alone, and removal by identity fails and changes nothing, for the
// machine and for the user.
TEST_F(ByIdentity, NothingRegisteredIsOneForTheQuestionAndTheRemoval) {
    const Written asked = Vandrel(kDelta + L" 2.0 /q", STD_OUTPUT_HANDLE);
    EXPECT_EQ(asked.status, 1u);
    EXPECT_EQ(Lines(asked.text).size(), 1u) << asked.text;
    const Written file = Vandrel(L"\"" + paths[3] + L"\" /q", STD_OUTPUT_HANDLE);
    EXPECT_EQ(file.status, 1u);
    EXPECT_EQ(Lines(file.text).size(), 1u) << file.text;
    for (const wchar_t* extra : {L"", L" /user", L" /win32", L" 409"}) {
        EXPECT_EQ(Vandrel(kDelta + L" 2.0" + extra + L" /u /s").status, 1u) << extra;
        EXPECT_TRUE(SameRegistry(before, RegistrySnapshot())) << extra;
    }
}

// Leaves whose file is not known to be gone: on a drive the prefix does not
// map, a path to be expanded, no path at all. /q tells each as it is (or not
// at all), /orphans lists none, and removal by identity fails and changes
// nothing, saying why.
TEST_F(ByIdentity, AFileNotKnownToBeGoneIsNeverAnOrphanNorRemoved) {
    const std::wstring drive = UnmappedDrive();
    ASSERT_FALSE(drive.empty());
    const struct {
        const wchar_t* leaf;
        const wchar_t* arguments;
        DWORD type;
        std::wstring path;
        const wchar_t* status; // in the reason line
    } cases[] = {
        {L"0\\win16", L" 1.0 0 /win16", REG_SZ, drive + L"\\libs\\DeltaQ.tlb", L"0x8007000F"},
        {L"409\\win32", L" 1.0 409 /win32", REG_EXPAND_SZ, L"%SystemRoot%\\DeltaX.tlb",
         L"0x800700A1"},
        {L"7\\win32", L" 1.0 7 /win32", REG_SZ, L"", L"0x8007007B"},
    };
    written.push_back(L"TypeLib\\" + kDelta);
    for (const auto& c : cases)
        Put(0, L"TypeLib\\" + kDelta + L"\\1.0\\" + c.leaf, nullptr, c.path, c.type);
    const std::wstring all = RegistrySnapshot();
    const Written asked = Vandrel(kDelta + L" 1.0 /q", STD_OUTPUT_HANDLE);
    EXPECT_EQ(RegistrationsOf(asked, L"DeltaQ.tlb", text::kFileUnreachable), 1u) << asked.text;
    EXPECT_EQ(RegistrationsOf(asked, L"DeltaX.tlb", text::kFileUnreachable), 1u) << asked.text;
    EXPECT_EQ(Lines(asked.text).size(), 3u) << asked.text;
    EXPECT_EQ(Vandrel(L"/orphans", STD_OUTPUT_HANDLE).text, orphansBefore.text);
    for (const auto& c : cases) {
        const Written removed = Vandrel(kDelta + c.arguments + L" /u /s");
        EXPECT_EQ(removed.status, 1u) << c.leaf;
        EXPECT_NE(removed.text.find(c.status), std::wstring::npos) << removed.text;
        EXPECT_TRUE(SameRegistry(all, RegistrySnapshot())) << c.leaf;
    }
}

// Every line /orphans prints, run as it stands, leaves every live
// registration key for key: an orphan beside a live registration of its
// version keeps the version's Interface keys; an interface whose key names
// the orphan's version in one view and a live version in the other loses
// only the first; an installer's key with a proxy of its own stays.
TEST_F(ByIdentity, EveryOrphanLineLeavesEveryLiveRegistrationAsItWas) {
    RegisterAll();
    const std::wstring k = L"{6A1C0B7E-3D52-4F08-9E41-8C2D7B5A9F10}";
    const std::wstring shared = L"{6A1C0B7E-3D52-4F08-9E41-8C2D7B5A9F11}";
    const std::wstring own = L"{6A1C0B7E-3D52-4F08-9E41-8C2D7B5A9F12}";
    const std::wstring automation = L"{6A1C0B7E-3D52-4F08-9E41-8C2D7B5A9F13}";
    const std::wstring dual = L"{00020424-0000-0000-C000-000000000046}";
    written = {L"TypeLib\\" + k, L"Interface\\" + shared, L"Interface\\" + own,
               L"Interface\\" + automation};
    Put(0, L"TypeLib\\" + k + L"\\1.0\\0\\win32", nullptr, folder.path() + L"\\K1.tlb");
    Put(0, L"TypeLib\\" + k + L"\\2.0\\0\\win64", nullptr, paths[3]);
    const struct {
        REGSAM view;
        const std::wstring& iid;
        const wchar_t* version;
        std::wstring proxy;
    } interfaces[] = {
        {KEY_WOW64_32KEY, shared, L"1.0", dual},
        {KEY_WOW64_64KEY, shared, L"2.0", dual},
        {KEY_WOW64_64KEY, own, L"1.0", L"{6A1C0B7E-3D52-4F08-9E41-8C2D7B5A9F14}"},
        {KEY_WOW64_64KEY, automation, L"1.0", L"{00020420-0000-0000-C000-000000000046}"},
        {KEY_WOW64_32KEY, automation, L"1.0", L"{00020420-0000-0000-C000-000000000046}"},
    };
    for (const auto& i : interfaces) {
        Put(i.view, L"Interface\\" + i.iid + L"\\ProxyStubClsid32", nullptr, i.proxy);
        Put(i.view, L"Interface\\" + i.iid + L"\\TypeLib", nullptr, k);
        Put(i.view, L"Interface\\" + i.iid + L"\\TypeLib", L"Version", i.version);
    }
    ASSERT_TRUE(::DeleteFileW(paths[0].c_str()));

    const std::wstring classes = L"Software\\Classes\\";
    const std::wstring deltaOne = L"Interface\\{5D8E2F41-7C3A-4B19-A6E0-2B9C4D71E811}";
    const std::wstring deltaTwo = L"Interface\\{5D8E2F41-7C3A-4B19-A6E0-2B9C4D71E812}";
    const struct {
        REGSAM view;
        std::wstring key;
    } live[] = {
        {KEY_WOW64_64KEY, L"TypeLib\\" + kDelta + L"\\2.0"},
        {KEY_WOW64_64KEY, L"TypeLib\\" + kDelta + L"\\1.0\\0\\win64"},
        {KEY_WOW64_64KEY, deltaOne},
        {KEY_WOW64_32KEY, deltaOne},
        {KEY_WOW64_64KEY, deltaTwo},
        {KEY_WOW64_32KEY, deltaTwo},
        {KEY_WOW64_64KEY, L"TypeLib\\" + k + L"\\2.0"},
        {KEY_WOW64_64KEY, L"Interface\\" + shared},
        {KEY_WOW64_64KEY, L"Interface\\" + own},
    };
    std::vector<std::wstring> trees;
    for (const auto& l : live) {
        trees.push_back(RegistryTree(HKEY_LOCAL_MACHINE, classes + l.key, l.view));
        ASSERT_FALSE(trees.back().empty()) << l.key;
    }

    const std::vector<std::wstring> found =
        NewLines(orphansBefore.text, Vandrel(L"/orphans", STD_OUTPUT_HANDLE).text);
    EXPECT_EQ(found,
              (std::vector<std::wstring>{kDelta + L" 1.0 0 /win32 /u", k + L" 1.0 0 /win32 /u"}));
    for (const std::wstring& line : found) {
        const Written removed = Vandrel(line + L" /s");
        EXPECT_EQ(removed.status, 0u) << line << L": " << removed.text;
    }
    for (size_t i = 0; i < std::size(live); ++i)
        EXPECT_EQ(RegistryTree(HKEY_LOCAL_MACHINE, classes + live[i].key, live[i].view), trees[i])
            << live[i].key;
    // What the orphan alone used went with it.
    EXPECT_EQ(Vandrel(L"/orphans", STD_OUTPUT_HANDLE).text, orphansBefore.text);
    const std::wstring absent = L"] absent\n";
    EXPECT_NE(RegistryTree(HKEY_LOCAL_MACHINE, classes + L"Interface\\" + shared, KEY_WOW64_32KEY)
                  .find(absent),
              std::wstring::npos);
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY})
        EXPECT_NE(RegistryTree(HKEY_LOCAL_MACHINE, classes + L"Interface\\" + automation, view)
                      .find(absent),
                  std::wstring::npos);
}

} // namespace
} // namespace vandrel::test
