// Start-up's reading of the command line and the two commands' messages,
// with the registrar and the message box behind fakes.
#include "shell/ModMain.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vandrel {
namespace {

using Tokens = std::vector<std::wstring>;

TEST(ArgumentText, TakesOffTheProgramNameAndOneBlank) {
    EXPECT_EQ(ArgumentText(L"Vandrel.exe a.tlb /u"), L"a.tlb /u");
    EXPECT_EQ(ArgumentText(L"\"C:\\Program Files\\V\\Vandrel.exe\" a.tlb"), L"a.tlb");
    EXPECT_EQ(ArgumentText(L"Vandrel.exe"), L"");
    EXPECT_EQ(ArgumentText(L"\"C:\\x y\\Vandrel.exe\""), L"");
    EXPECT_EQ(ArgumentText(L"Vandrel.exe\ta.tlb"), L"a.tlb");
    // Blanks beyond the separating one belong to the argument text.
    EXPECT_EQ(ArgumentText(L"Vandrel.exe  a.tlb"), L" a.tlb");
    EXPECT_EQ(ArgumentText(L"Vandrel.exe    "), L"   ");
    EXPECT_EQ(ArgumentText(L""), L"");
}

TEST(SplitArguments, CutsAtEverySingleSpaceKeepingEmptyTokens) {
    EXPECT_EQ(SplitArguments(L"a.tlb"), (Tokens{L"a.tlb"}));
    EXPECT_EQ(SplitArguments(L"a.tlb /u"), (Tokens{L"a.tlb", L"/u"}));
    EXPECT_EQ(SplitArguments(L"a.tlb  /u"), (Tokens{L"a.tlb", L"", L"/u"}));
    EXPECT_EQ(SplitArguments(L" a.tlb"), (Tokens{L"", L"a.tlb"}));
    EXPECT_EQ(SplitArguments(L"a.tlb "), (Tokens{L"a.tlb", L""}));
    EXPECT_EQ(SplitArguments(L"   "), (Tokens{L"", L"", L"", L""}));
    EXPECT_EQ(SplitArguments(L"a.tlb\t/u"), (Tokens{L"a.tlb\t/u"}));
}

TEST(SplitArguments, QuotationMarksGroupAndAreDropped) {
    EXPECT_EQ(SplitArguments(L"\"C:\\Program Files\\a.tlb\" /u"),
              (Tokens{L"C:\\Program Files\\a.tlb", L"/u"}));
    EXPECT_EQ(SplitArguments(L"\"a.tlb\""), (Tokens{L"a.tlb"}));
    EXPECT_EQ(SplitArguments(L"C:\\\"x y\"\\a.tlb"), (Tokens{L"C:\\x y\\a.tlb"}));
    // An unmatched mark groups to the end.
    EXPECT_EQ(SplitArguments(L"\"C:\\a b.tlb /s"), (Tokens{L"C:\\a b.tlb /s"}));
    EXPECT_EQ(SplitArguments(L"\"\""), (Tokens{L""}));
    EXPECT_EQ(SplitArguments(L"\"\" /u"), (Tokens{L"", L"/u"}));
}

TEST(ParseArguments, SwitchesAreWholeTokensInEitherCaseAnywhere) {
    struct Case {
        const wchar_t* text;
        const wchar_t* path;
        Flag reg, show;
    };
    const Case cases[] = {
        {L"a.tlb", L"a.tlb", kTrue, kTrue},
        {L"a.tlb /u", L"a.tlb", kFalse, kTrue},
        {L"a.tlb /U", L"a.tlb", kFalse, kTrue},
        {L"a.tlb /s /u", L"a.tlb", kFalse, kFalse},
        {L"a.tlb /U /S", L"a.tlb", kFalse, kFalse},
        {L"a.tlb  /u", L"a.tlb", kFalse, kTrue},
        {L"/u a.tlb", L"/u", kFalse, kTrue},
        {L"/s a.tlb", L"/s", kTrue, kFalse},
        {L"a.tlb\t/u", L"a.tlb\t/u", kTrue, kTrue},
        {L"a.tlb /uu /x -u", L"a.tlb", kTrue, kTrue},
        {L" a.tlb /u", L"", kFalse, kTrue},
        {L"\"C:\\P F\\a.tlb\" /s", L"C:\\P F\\a.tlb", kTrue, kFalse},
    };
    for (const Case& c : cases) {
        const CommandLine line = ParseArguments(c.text);
        EXPECT_EQ(line.path, c.path) << c.text;
        EXPECT_EQ(line.registerFlag, c.reg) << c.text;
        EXPECT_EQ(line.showMessage, c.show) << c.text;
    }
}

TEST(ResultMessage, IsBuiltFromTheFourPiecesExactly) {
    EXPECT_EQ(ResultMessage(false, L"C:\\t\\a.tlb", true),
              L"\u6CE8\u518C\"C:\\t\\a.tlb\"\u6210\u529F!");
    EXPECT_EQ(ResultMessage(false, L"C:\\t\\a.tlb", false),
              L"\u6CE8\u518C\"C:\\t\\a.tlb\"\u5931\u8D25!");
    EXPECT_EQ(ResultMessage(true, L"C:\\t\\a.tlb", true),
              L"\u6CE8\u9500\"C:\\t\\a.tlb\"\u6210\u529F!");
    EXPECT_EQ(ResultMessage(true, L"   ", false), L"\u6CE8\u9500\"   \"\u5931\u8D25!");
}

// The commands' surroundings, recorded.
struct Recorder {
    Flag answer = kTrue;
    std::vector<std::wstring> registered, unregistered, helpDirs;
    struct Shown {
        HWND owner;
        std::wstring text, caption;
        UINT style;
    };
    std::vector<Shown> shown;
};
Recorder* g_rec = nullptr;

const CommandServices kFakes = {
    [](const std::wstring& path, const std::wstring& help) {
        g_rec->registered.push_back(path);
        g_rec->helpDirs.push_back(help);
        return g_rec->answer;
    },
    [](const std::wstring& path) {
        g_rec->unregistered.push_back(path);
        return g_rec->answer;
    },
    [](HWND owner, const std::wstring& text, const std::wstring& caption, UINT style) {
        g_rec->shown.push_back({owner, text, caption, style});
        return IDOK;
    },
};

class Commands : public ::testing::Test {
protected:
    void SetUp() override {
        g_rec = &rec;
        SetCommandServices(&kFakes);
    }
    void TearDown() override {
        SetCommandServices(nullptr);
        g_rec = nullptr;
    }
    Recorder rec;
};

TEST_F(Commands, RegisterShowsOneInformationBoxTitledVandrel) {
    EXPECT_EQ(RegFile(L"C:\\t\\a.tlb", kTrue), Outcome::Succeeded);
    ASSERT_EQ(rec.shown.size(), 1u);
    EXPECT_EQ(rec.shown[0].text, ResultMessage(false, L"C:\\t\\a.tlb", true));
    EXPECT_EQ(rec.shown[0].caption, L"Vandrel");
    EXPECT_EQ(rec.shown[0].style, 0x40u);
    EXPECT_EQ(rec.shown[0].owner, nullptr);
    EXPECT_EQ(rec.helpDirs, (std::vector<std::wstring>{L""}));
}

TEST_F(Commands, OnlyExactlyMinusOneCountsAsSuccess) {
    for (Flag answer : {Flag(1), Flag(0), Flag(2), Flag(-2)}) {
        rec.answer = answer;
        EXPECT_EQ(UnRegFile(L"x.tlb", kTrue), Outcome::Failed) << answer;
        EXPECT_EQ(rec.shown.back().text, ResultMessage(true, L"x.tlb", false));
    }
}

TEST_F(Commands, EmptyPathCallsNothingAndShowsNothing) {
    EXPECT_EQ(RegFile(L"", kTrue), Outcome::NothingDone);
    EXPECT_EQ(UnRegFile(L"", kTrue), Outcome::NothingDone);
    EXPECT_TRUE(rec.registered.empty());
    EXPECT_TRUE(rec.unregistered.empty());
    EXPECT_TRUE(rec.shown.empty());
}

TEST_F(Commands, SilentCommandsStillCallTheRegistrar) {
    rec.answer = kFalse;
    EXPECT_EQ(RegFile(L"a.tlb", kFalse), Outcome::Failed);
    EXPECT_EQ(UnRegFile(L"a.tlb", kFalse), Outcome::Failed);
    EXPECT_EQ(rec.registered.size(), 1u);
    EXPECT_EQ(rec.unregistered.size(), 1u);
    EXPECT_TRUE(rec.shown.empty());
    // Any non-zero flag shows the message.
    EXPECT_EQ(RegFile(L"a.tlb", Flag(1)), Outcome::Failed);
    EXPECT_EQ(rec.shown.size(), 1u);
}

TEST_F(Commands, ThePathTravelsUntouched) {
    EXPECT_EQ(RegFile(L"   ", kTrue), Outcome::Succeeded);
    EXPECT_EQ(rec.registered, (std::vector<std::wstring>{L"   "}));
    EXPECT_EQ(rec.shown.back().text, L"\u6CE8\u518C\"   \"\u6210\u529F!");
    HWND owner = reinterpret_cast<HWND>(0x1234);
    RegFile(L"\"q\" b", kTrue, owner);
    EXPECT_EQ(rec.registered.back(), L"\"q\" b");
    EXPECT_EQ(rec.shown.back().owner, owner);
}

TEST_F(Commands, MainRunsOneCommandAndReturnsItsExitStatus) {
    EXPECT_EQ(Main(L"Vandrel.exe a.tlb /s"), 0);
    EXPECT_EQ(rec.registered, (std::vector<std::wstring>{L"a.tlb"}));
    EXPECT_TRUE(rec.shown.empty());
    rec.answer = kFalse;
    EXPECT_EQ(Main(L"Vandrel.exe \"C:\\P F\\a.tlb\" /U"), 1);
    EXPECT_EQ(rec.unregistered, (std::vector<std::wstring>{L"C:\\P F\\a.tlb"}));
    ASSERT_EQ(rec.shown.size(), 1u);
    EXPECT_EQ(rec.shown[0].text, ResultMessage(true, L"C:\\P F\\a.tlb", false));
    EXPECT_EQ(Main(L"Vandrel.exe  a.tlb"), 2);
    EXPECT_EQ(Main(L"Vandrel.exe \"\" /u"), 2);
    EXPECT_EQ(rec.shown.size(), 1u);
    EXPECT_EQ(rec.registered.size(), 1u);
}

TEST_F(Commands, AnErrorReachingStartUpEndsWithThree) {
    static const CommandServices throwing = {
        [](const std::wstring&, const std::wstring&) -> Flag { throw std::bad_alloc(); },
        [](const std::wstring&) -> Flag { throw std::runtime_error("boom"); },
        kFakes.ShowMessage,
    };
    SetCommandServices(&throwing);
    EXPECT_EQ(Main(L"Vandrel.exe a.tlb /s"), 3);
    EXPECT_EQ(Main(L"Vandrel.exe a.tlb /u /s"), 3);
}

} // namespace
} // namespace vandrel
