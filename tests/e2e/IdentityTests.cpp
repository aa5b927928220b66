// The real Vandrel.exe naming a registration instead of a file: removing one
// whose file is gone ({libid} ver [lcid] /u), asking what is registered (/q)
// and listing the registrations whose file is missing (/orphans).
#include "driver/Driver.h"
#include "support/TestSupport.h"
#include "support/UiTexts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace vandrel::test {
namespace {

// Delta: one libid at 1.0 and 2.0, each built for both platform kinds.
const std::wstring kDelta = L"{5D8E2F41-7C3A-4B19-A6E0-2B9C4D71E802}";
const wchar_t* const kDeltaFiles[] = {L"Delta1.win32.tlb", L"Delta1.win64.tlb", L"Delta2.win32.tlb",
                                      L"Delta2.win64.tlb"};

std::vector<std::wstring> Lines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    std::wistringstream in(text);
    for (std::wstring line; std::getline(in, line);) {
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// The lines of `after` that `before` does not hold.
std::vector<std::wstring> NewLines(const std::wstring& before, const std::wstring& after) {
    const std::vector<std::wstring> old = Lines(before);
    std::vector<std::wstring> added;
    for (const std::wstring& line : Lines(after))
        if (std::find(old.begin(), old.end(), line) == old.end()) added.push_back(line);
    return added;
}

// How many of /q's lines end with this file's name, quoted, and its state.
size_t RegistrationsOf(const Written& answer, const std::wstring& file, bool there) {
    const std::wstring tail = L"\\" + file + L"\" " + (there ? text::kFileThere : text::kFileGone);
    size_t count = 0;
    for (const std::wstring& line : Lines(answer.text))
        count += line.size() >= tail.size() &&
                 line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
    return count;
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
};

// Two versions for both platforms registered, one file deleted: /q tells it
// missing, /orphans lists exactly it, and its line removes it key for key as
// the platform removes it while the file is there; the other three stay.
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
    EXPECT_TRUE(SameRegistry(platformRemoved, RegistrySnapshot()));
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
// that line removes it alone; the live registrations of the same version stay
// (the version's Interface keys go with it, as the platform removes them).
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

} // namespace
} // namespace vandrel::test
