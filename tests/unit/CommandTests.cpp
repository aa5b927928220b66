// Start-up's reading of the command line and the two commands' messages,
// with the registrar and the message box behind fakes.
#include "shell/ModMain.h"
#include "shell/Query.h"
#include "shell/Texts.h"
#include "support/CommandFake.h"

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
        Scope scope = Scope::Machine;
        const wchar_t* unknown = L""; // the first mistyped switch, which refuses the line
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
        {L"a.tlb /uu /x -u", L"a.tlb", kTrue, kTrue, Scope::Machine, L"/uu"},
        {L"a.tlb -u x /1 // /\u00E9", L"a.tlb", kTrue, kTrue},
        {L"/x /S /WIN6", L"/x", kTrue, kFalse, Scope::Machine, L"/WIN6"},
        {L" a.tlb /u", L"", kFalse, kTrue},
        {L"\"C:\\P F\\a.tlb\" /s", L"C:\\P F\\a.tlb", kTrue, kFalse},
        {L"a.tlb /user", L"a.tlb", kTrue, kTrue, Scope::User},
        {L"a.tlb /USER /u /s", L"a.tlb", kFalse, kFalse, Scope::User},
        {L"a.tlb /U /User", L"a.tlb", kFalse, kTrue, Scope::User},
        {L"/user a.tlb", L"/user", kTrue, kTrue, Scope::User},
        {L"a.tlb /users /use /user:x -user", L"a.tlb", kTrue, kTrue, Scope::Machine, L"/users"},
        {L"a.tlb /user:x /u", L"a.tlb", kFalse, kTrue, Scope::Machine, L"/user:x"},
        {L"a.tlb /REG:x.reg /n /u", L"a.tlb", kFalse, kTrue},
        {L"a.tlb /reg: /wxs:", L"a.tlb", kTrue, kTrue, Scope::Machine, L"/reg:"},
        {L"/reg:x.reg /u", L"/reg:x.reg", kFalse, kTrue},
    };
    for (const Case& c : cases) {
        const CommandLine line = ParseArguments(c.text);
        EXPECT_EQ(line.path, c.path) << c.text;
        EXPECT_EQ(line.registerFlag, c.reg) << c.text;
        EXPECT_EQ(line.showMessage, c.show) << c.text;
        EXPECT_EQ(line.scope, c.scope) << c.text;
        EXPECT_EQ(line.unknownSwitch, c.unknown) << c.text;
    }
    const CommandLine values = ParseArguments(L"a.tlb \"/As:C:\\P F\\a.tlb\" /reg:a.reg /n");
    EXPECT_EQ(values.installedAs, L"C:\\P F\\a.tlb");
    EXPECT_EQ(values.regFile, L"a.reg");
    EXPECT_TRUE(values.whatIf);
}

// A registration is named only by a braced GUID followed by a version; the
// locale is the third token when it is hexadecimal. Anything else stays a path.
TEST(ParseArguments, AnIdentityIsABracedGuidThenAVersionElseItIsAPath) {
    const wchar_t* const guid = L"{3F2504E0-4F89-11D3-9A0C-0305E82C3301}";
    const SYSKIND own = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
    struct Case {
        std::wstring text;
        bool byIdentity;
        WORD major = 0, minor = 0;
        LCID lcid = 0;
        SYSKIND syskind = own;
    };
    const std::wstring g = guid;
    const Case cases[] = {
        {g + L" 1.0 /u", true, 1, 0},
        {g + L" a.1f 409 /u /s", true, 0xa, 0x1f, 0x409},
        {g + L" FFFF.0 /win32 /u", true, 0xffff, 0, 0, SYS_WIN32},
        {g + L" 2.3 /WIN64 /u", true, 2, 3, 0, SYS_WIN64},
        {g + L" 1.0 0 /Win16 /u", true, 1, 0, 0, SYS_WIN16}, // as /orphans writes it
        {g + L" 1.0 /user /u", true, 1, 0},
        {L"{3f2504e0-4f89-11d3-9a0c-0305e82c3301} 1.0 /u", true, 1, 0},
        {g + L" 1.0  /u", true, 1, 0},
        {g + L" 1.0 409x /u", false}, // a mistyped locale removes nothing
        {g + L" /u", false},
        {g, false},
        {g + L" 1 /u", false},
        {g + L" 1. /u", false},
        {g + L" 10000.0 /u", false},
        {g + L" 1.0x /u", false},
        {L"3F2504E0-4F89-11D3-9A0C-0305E82C3301 1.0 /u", false},
        {L"{3F2504E0-4F89-11D3-9A0C-0305E82C330} 1.0 /u", false},
        {L"{3F2504E0+4F89-11D3-9A0C-0305E82C3301} 1.0 /u", false},
        {L"a.tlb 1.0 /u", false},
        {L"1.0 " + g + L" /u", false},
    };
    for (const Case& c : cases) {
        const CommandLine line = ParseArguments(c.text);
        EXPECT_EQ(line.byIdentity, c.byIdentity) << c.text;
        EXPECT_EQ(line.path, SplitArguments(c.text).front()) << c.text;
        if (!c.byIdentity) continue;
        EXPECT_EQ(line.identity.guid.Data1, 0x3F2504E0u) << c.text;
        EXPECT_EQ(line.identity.guid.Data4[7], 0x01) << c.text;
        EXPECT_EQ(line.identity.major, c.major) << c.text;
        EXPECT_EQ(line.identity.minor, c.minor) << c.text;
        EXPECT_EQ(line.identity.lcid, c.lcid) << c.text;
        EXPECT_EQ(line.identity.syskind, c.syskind) << c.text;
        EXPECT_EQ(line.registerFlag, kFalse) << c.text;
    }
    // The query and orphan switches are read wherever they stand.
    EXPECT_TRUE(ParseArguments(L"a.tlb /Q").query);
    EXPECT_TRUE(ParseArguments(g + L" 1.0 /q").query);
    EXPECT_TRUE(ParseArguments(L"/ORPHANS").orphans);
    EXPECT_TRUE(ParseArguments(L"/Check /JSON").check);
    EXPECT_TRUE(ParseArguments(L"/orphans /Json").json);
    EXPECT_FALSE(ParseArguments(L"a.tlb /qq /orphan").query);
    EXPECT_FALSE(ParseArguments(L"a.tlb /qq /orphan").orphans);
    EXPECT_EQ(ParseArguments(L"a.tlb /qq /orphan").unknownSwitch, L"/qq");
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

// What /q quotes comes from a file or the registry: a control character
// becomes \xNN and a quotation mark is doubled, so no name or path can move
// the terminal or forge a line of its own. Backslashes stay.
TEST(QueryLines, QuotedFieldsEscapeControlCharactersAndDoubleQuotationMarks) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"名字 \xA0\x20AC", L"名字 \xA0\x20AC"},
        {L"\x1B[2J\a\t", L"\\x1B[2J\\x07\\x09"},
        {std::wstring(L"\0\x1F\x7F\x80\x9F", 5), L"\\x00\\x1F\\x7F\\x80\\x9F"},
        {L"Z:\\x\" 文件缺失\r\n注册 计算机 64位视图 0 win64 \"Z:\\y",
         L"Z:\\x\"\" 文件缺失\\x0D\\x0A注册 计算机 64位视图 0 win64 \"\"Z:\\y"},
    };
    for (const auto& [raw, shown] : cases) {
        LibraryFacts facts;
        facts.name = raw;
        facts.id.syskind = SYS_WIN64;
        facts.interfaces = 12;
        EXPECT_EQ(LibraryLine(facts), L"类型库 \"" + shown +
                                          L"\" {00000000-0000-0000-0000-000000000000} 0.0 0 "
                                          L"win64 接口 12");
        const Registration registration{Scope::User, KEY_WOW64_32KEY, facts.id, raw,
                                        FileState::Gone};
        EXPECT_EQ(RegistrationLine(registration),
                  L"注册 用户 32位视图 0 win64 \"" + shown + L"\" 文件缺失");
    }
}

using Commands = test::CommandsTest;
using test::g_rec;
using test::kFakes;
using test::Recorder;

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
    // A failure whose changes could not all be put back says so.
    rec.failure = Failure::NotRestored;
    EXPECT_EQ(Main(L"Vandrel.exe a.tlb"), 4);
    ASSERT_EQ(rec.shown.size(), 2u);
    EXPECT_EQ(rec.shown[1].text,
              ResultMessage(false, L"a.tlb", false) + L"\n" + ui::kNotRestoredLine);
    EXPECT_EQ(Main(L"Vandrel.exe a.tlb /s /u"), 4);
}

// Each failure from the command line, silent or not, writes one line: the
// command, the path, the reason and the status. Success and the window's
// commands write none.
TEST_F(Commands, AFailedCommandLineCommandWritesItsReasonLine) {
    const std::wstring path = L"C:\\t\\a.tlb";
    struct Case {
        Failure failure;
        HRESULT status;
        const wchar_t* reason;
    };
    const Case cases[] = {
        {Failure::NoFile, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), L"文件不存在 (0x80070002)"},
        {Failure::NotTypeLib, TYPE_E_CANTLOADLIBRARY, L"不是类型库 (0x80029C4A)"},
        {Failure::Damaged, TYPE_E_INVDATAREAD, L"类型库已损坏,已拒绝 (0x80028018)"},
        {Failure::NotRegistered, E_INVALIDARG, L"没有可注销的注册 (0x80070057)"},
        {Failure::NoRights, E_ACCESSDENIED, L"权限不足 (0x80070005)"},
        {Failure::Busy, HRESULT_FROM_WIN32(ERROR_TIMEOUT),
         L"另一个注册正在进行,未能轮到 (0x800705B4)"},
        {Failure::Untrusted, HRESULT_FROM_WIN32(ERROR_OBJECT_ALREADY_EXISTS),
         L"注册轮次被占用或不可信,未能轮到 (0x80071392)"},
        {Failure::Unexpected, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
         L"发生意外错误 (0x80070002)"},
        {Failure::NotRestored, E_FAIL, L"注册表未能完全恢复原状 (0x80004005)"},
        // A platform error adds the system's own text for its status.
        {Failure::Platform, HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY), L"系统错误 (0x80070008) "},
    };
    for (const Case& c : cases) {
        Recorder fresh;
        fresh.answer = kFalse;
        fresh.failure = c.failure;
        fresh.status = c.status;
        g_rec = &fresh;
        Main(L"Vandrel.exe " + path + L" /u /s");
        ASSERT_EQ(fresh.reasons.size(), 1u) << c.reason;
        const std::wstring expected = L"Vandrel: 注销失败 \"" + path + L"\": " + c.reason;
        EXPECT_EQ(fresh.reasons[0].substr(0, expected.size()), expected);
        if (c.failure == Failure::Platform) {
            EXPECT_GT(fresh.reasons[0].size(), expected.size()) << "no system text";
        } else {
            EXPECT_EQ(fresh.reasons[0], expected);
        }
        EXPECT_EQ(fresh.reasons[0].find(L'\n'), std::wstring::npos) << "one line";
        Main(L"Vandrel.exe " + path);
        EXPECT_EQ(fresh.reasons.size(), 2u) << "with a message box too";
        RegFile(path, kTrue, reinterpret_cast<HWND>(0x1234));
        EXPECT_EQ(fresh.reasons.size(), 2u) << "from the window";
    }
    g_rec = &rec;
    rec.answer = kTrue;
    Main(L"Vandrel.exe " + path + L" /s");
    Main(L"Vandrel.exe  " + path);
    EXPECT_TRUE(rec.reasons.empty());
}

// A token after the path that looks like a switch but is none (a slash and
// a letter) refuses the whole command: no registrar call, status 1, the
// reason line naming it and the switches there are, and the failure message
// where the command would show one.
TEST_F(Commands, AMistypedSwitchRefusesTheCommand) {
    const std::wstring g = L"{3F2504E0-4F89-11D3-9A0C-0305E82C3301}";
    const std::wstring known =
        L"; 可用的开关: /u /s /user /q /orphans /check /json /win16 /win32 /win64 /n "
        L"/reg: /wxs: /as: /group: /fileid: /arch:";
    struct Case {
        std::wstring arguments, reason, message;
    };
    const Case cases[] = {
        {L"a.tlb /win6 /u", L"注销失败 \"a.tlb\": 未知的开关 (0x80070057) \"/win6\"",
         ResultMessage(true, L"a.tlb", false)},
        {L"a.tlb /usr /s", L"注册失败 \"a.tlb\": 未知的开关 (0x80070057) \"/usr\"", L""},
        {L"a.tlb /u /S /x /y", L"注销失败 \"a.tlb\": 未知的开关 (0x80070057) \"/x\"", L""},
        {g + L" 1.0 /wn16 /u", L"注销失败 \"" + g + L" 1.0\": 未知的开关 (0x80070057) \"/wn16\"",
         ResultMessage(true, g + L" 1.0", false)},
        {L"a.tlb /q /Orphan", L"未知的开关 (0x80070057) \"/Orphan\"", L""},
        {L"/orphans /user:x", L"未知的开关 (0x80070057) \"/user:x\"", L""},
        {L"/check /jsn", L"未知的开关 (0x80070057) \"/jsn\"", L""},
    };
    for (const Case& c : cases) {
        Recorder fresh;
        g_rec = &fresh;
        EXPECT_EQ(Main(L"Vandrel.exe " + c.arguments), 1) << c.arguments;
        EXPECT_EQ(fresh.events, c.message.empty() ? L"" : L"message") << c.arguments;
        EXPECT_EQ(fresh.answers, L"") << c.arguments;
        EXPECT_EQ(fresh.reasons, std::vector<std::wstring>{L"Vandrel: " + c.reason + known})
            << c.arguments;
        EXPECT_EQ(fresh.shown.empty() ? L"" : fresh.shown[0].text, c.message) << c.arguments;
    }
    g_rec = &rec;
}

// The error box names what went wrong; with /s there is none.
TEST_F(Commands, AnErrorReachingStartUpEndsWithThreeAndTheErrorBox) {
    CommandServices throwing = kFakes;
    throwing.RegisterLibrary = [](const std::wstring&, const std::wstring&,
                                  Scope) -> RegistrarResult { throw std::bad_alloc(); };
    throwing.UnregisterLibrary = [](const std::wstring&, Scope) -> RegistrarResult {
        throw std::runtime_error("boom");
    };
    const test::ScopedSeam<CommandServices> replaced(CommandSeam(), throwing);
    EXPECT_EQ(Main(L"Vandrel.exe a.tlb /s"), 3);
    EXPECT_EQ(Main(L"Vandrel.exe a.tlb /u /s"), 3);
    EXPECT_TRUE(rec.shown.empty());
    // Silent or not, the reason line names it.
    EXPECT_EQ(rec.reasons,
              (std::vector<std::wstring>{L"Vandrel: 发生意外错误 (0x8000FFFF) 内存不足",
                                         L"Vandrel: 发生意外错误 (0x8000FFFF) boom"}));
    EXPECT_EQ(Main(L"Vandrel.exe a.tlb"), 3);
    EXPECT_EQ(Main(L"Vandrel.exe a.tlb /u"), 3);
    const std::wstring lead = L"发生意外错误,程序将退出。\n";
    ASSERT_EQ(rec.shown.size(), 2u);
    for (const auto& [text, shown] :
         {std::pair{L"内存不足", rec.shown[0]}, std::pair{L"boom", rec.shown[1]}}) {
        EXPECT_EQ(shown.owner, nullptr) << text;
        EXPECT_EQ(shown.text, lead + text);
        EXPECT_EQ(shown.caption, L"Vandrel") << text;
        EXPECT_EQ(shown.style, UINT{MB_OK | MB_ICONERROR}) << text;
    }
}

// A command refused for lack of rights runs once more in an elevated, silent
// copy of this program, but only for a person at the screen with a filtered
// administrator token; that run's exit status decides the usual message and
// is the command's own. No second command starts while it runs.
TEST_F(Commands, ARefusedCommandRunsElevatedOnceOnlyWhereThatCanHelpAPerson) {
    wchar_t here[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, here);
    wchar_t program[MAX_PATH];
    ::GetModuleFileNameW(nullptr, program, MAX_PATH);
    const HWND window = reinterpret_cast<HWND>(0x1234);
    const auto limited = TokenElevationTypeLimited;
    const auto refused = Failure::NoRights;
    const std::wstring a = L"C:\\t\\a.tlb", quotedA = L"\"C:\\t\\a.tlb\"";
    const std::wstring libid = L"{3F2504E0-4F89-11D3-9A0C-0305E82C3301}";
    const std::wstring all = L"registrar token launch wait message";
    struct Case {
        const char* name;
        std::wstring arguments; // through Main; with a window, the text in its box
        HWND window;            // register clicked there
        Failure failure;
        TOKEN_ELEVATION_TYPE token;
        bool accepted;
        DWORD elevatedStatus;
        std::wstring events, parameters, message;
        int status; // the exit status, or the outcome's in the window
        bool clickWhileWaiting = false;
    };
    const Case cases[] = {
        {"refused", a, nullptr, refused, limited, true, 0, all, quotedA + L" /s",
         ResultMessage(false, a, true), 0},
        {"refused unregister, path with spaces", L"\"C:\\P F\\a.tlb\" /U", nullptr, refused,
         limited, true, 0, all, L"\"C:\\P F\\a.tlb\" /u /s",
         ResultMessage(true, L"C:\\P F\\a.tlb", true), 0},
        {"library in a DLL", L"C:\\t\\x.dll\\2 /u", nullptr, refused, limited, true, 0, all,
         L"\"C:\\t\\x.dll\\2\" /u /s", ResultMessage(true, L"C:\\t\\x.dll\\2", true), 0},
        {"elevated run fails", a, nullptr, refused, limited, true, 1, all, quotedA + L" /s",
         ResultMessage(false, a, false), 1},
        {"elevated run ends in an error", a + L" /u", nullptr, refused, limited, true, 3, all,
         quotedA + L" /u /s", ResultMessage(true, a, false), 3},
        {"elevated run did nothing", a, nullptr, refused, limited, true, 2, all, quotedA + L" /s",
         ResultMessage(false, a, false), 2},
        {"elevated run could not put back", a, nullptr, refused, limited, true, 4, all,
         quotedA + L" /s", ResultMessage(false, a, false) + L"\n" + ui::kNotRestoredLine, 4},
        {"a win16 registration", libid + L" 1.0 0 /win16 /u", nullptr, refused, limited, true, 0,
         all, libid + L" 1.0 0 /win16 /u /s", ResultMessage(true, libid + L" 1.0 0", true), 0},
        {"window clicked while waiting", a, window, refused, limited, true, 0, all,
         quotedA + L" /s", ResultMessage(false, a, true), 0, true},
        {"prompt declined", a, nullptr, refused, limited, false, 0,
         L"registrar token launch message", quotedA + L" /s", ResultMessage(false, a, false), 1},
        {"window, relative path", L"a.tlb", window, refused, limited, true, 0, all,
         L"\"" + std::wstring(here) + L"\\a.tlb\" /s", ResultMessage(false, L"a.tlb", true), 0},
        {"full token", a, nullptr, refused, TokenElevationTypeFull, true, 0,
         L"registrar token message", L"", ResultMessage(false, a, false), 1},
        {"standard user", a, window, refused, TokenElevationTypeDefault, true, 0,
         L"registrar token message", L"", ResultMessage(false, a, false), 1},
        {"silent", a + L" /s", nullptr, refused, limited, true, 0, L"registrar", L"", L"", 1},
        {"for the user", a + L" /user", nullptr, refused, limited, true, 0, L"registrar message",
         L"", ResultMessage(false, a, false), 1},
        {"unregister for the user", a + L" /u /user", nullptr, refused, limited, true, 0,
         L"registrar message", L"", ResultMessage(true, a, false), 1},
        {"another failure", a, window, Failure::Platform, limited, true, 0, L"registrar message",
         L"", ResultMessage(false, a, false), 1},
        {"succeeded", a, nullptr, Failure::None, limited, true, 0, L"registrar message", L"",
         ResultMessage(false, a, true), 0},
    };
    for (const Case& c : cases) {
        Recorder fresh;
        fresh.answer = c.failure == Failure::None ? kTrue : kFalse;
        fresh.failure = c.failure;
        fresh.token = c.token;
        fresh.accepted = c.accepted;
        fresh.elevatedStatus = c.elevatedStatus;
        fresh.clickWhileWaiting = c.clickWhileWaiting;
        g_rec = &fresh;
        if (c.window) {
            const Outcome outcome = RegFile(c.arguments, kTrue, c.window);
            EXPECT_EQ(outcome, c.status == 0 ? Outcome::Succeeded : Outcome::Failed) << c.name;
        } else {
            EXPECT_EQ(Main(L"Vandrel.exe " + c.arguments), c.status) << c.name;
        }
        if (c.clickWhileWaiting) {
            EXPECT_EQ(fresh.clicked, Outcome::NothingDone) << c.name;
        }
        EXPECT_EQ(fresh.events, c.events) << c.name;
        ASSERT_EQ(fresh.launches.size(), c.parameters.empty() ? 0u : 1u) << c.name;
        if (!c.parameters.empty()) {
            const Recorder::Launch& launch = fresh.launches[0];
            EXPECT_EQ(launch.size, sizeof(SHELLEXECUTEINFOW)) << c.name;
            EXPECT_TRUE(launch.mask & SEE_MASK_NOCLOSEPROCESS) << c.name;
            EXPECT_EQ(launch.owner, c.window) << c.name;
            EXPECT_EQ(launch.verb, L"runas") << c.name;
            EXPECT_EQ(launch.file, program) << c.name;
            EXPECT_EQ(launch.parameters, c.parameters) << c.name;
            DWORD flags = 0;
            if (launch.process) {
                EXPECT_FALSE(::GetHandleInformation(launch.process, &flags))
                    << c.name << ": the process handle is left open";
            }
        }
        const size_t waits = c.events.find(L"wait") != std::wstring::npos ? 1 : 0;
        EXPECT_EQ(fresh.waitOwners, std::vector<HWND>(waits, c.window)) << c.name;
        ASSERT_EQ(fresh.shown.size(), c.message.empty() ? 0u : 1u) << c.name;
        if (!c.message.empty()) {
            EXPECT_EQ(fresh.shown[0].text, c.message) << c.name;
            EXPECT_EQ(fresh.shown[0].owner, c.window) << c.name;
        }
    }
    g_rec = &rec;
}

} // namespace
} // namespace vandrel
