// The real Vandrel.exe in command mode: exit statuses, registry effects and
// the result message as a user sees it.
#include "driver/Driver.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <vector>

namespace vandrel::test {
namespace {

const std::wstring kRegistered = L"\u6CE8\u518C\"";   // 注册"
const std::wstring kUnregistered = L"\u6CE8\u9500\""; // 注销"
const std::wstring kSucceeded = L"\"\u6210\u529F!";   // "成功!
const std::wstring kFailed = L"\"\u5931\u8D25!";      // "失败!

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override { before = RegistrySnapshot(); }
    void TearDown() override { EXPECT_TRUE(SameRegistry(before, RegistrySnapshot())); }
    DWORD Vandrel(const std::wstring& arguments) {
        return vandrel::test::Run(VandrelExe(), arguments);
    }
    std::wstring before;
    TempFolder folder;
};

TEST_F(CommandLine, SilentRegisterAndUnregisterReportThroughTheExitStatus) {
    const std::wstring lib = folder.Copy(Fixture(L"Alpha.tlb"), L"Alpha.tlb");
    const LibIdentity id = IdentityOf(lib);
    EXPECT_EQ(Vandrel(lib + L" /s"), 0u);
    EXPECT_EQ(RegisteredPath(id), lib);
    EXPECT_EQ(Vandrel(lib + L" /S /U"), 0u);
    EXPECT_EQ(RegisteredPath(id), L"");
    // Nothing left to remove: the second unregistration fails.
    EXPECT_EQ(Vandrel(lib + L" /u /s"), 1u);
}

TEST_F(CommandLine, QuotedPathsWithSpacesAndChineseAreRegisteredWhole) {
    const std::wstring lib =
        folder.Copy(Fixture(L"Beta.tlb"), L"\u7C7B\u578B \u5E93\\Beta lib.tlb"); // 类型 库
    const LibIdentity id = IdentityOf(lib);
    EXPECT_EQ(Vandrel(L"\"" + lib + L"\" /s"), 0u);
    EXPECT_EQ(RegisteredPath(id), lib);
    EXPECT_EQ(Vandrel(L"/s \"" + lib + L"\" /u"), 1u) << "token 0 is the path, here \"/s\"";
    EXPECT_EQ(RegisteredPath(id), lib);
    EXPECT_EQ(Vandrel(L"\"" + lib + L"\" /u /s"), 0u);
    EXPECT_EQ(RegisteredPath(id), L"");
}

TEST_F(CommandLine, FailuresAndEmptyPathsLeaveTheRegistryAlone) {
    const std::wstring text = folder.Write(L"text.tlb", "not a type library");
    EXPECT_EQ(Vandrel(folder.path() + L"\\missing.tlb /s"), 1u);
    EXPECT_EQ(Vandrel(text + L" /s"), 1u);
    EXPECT_EQ(Vandrel(folder.path() + L" /s"), 1u);
    EXPECT_EQ(Vandrel(L"NUL /s"), 1u);
    // A tab is no separator: "<file>\t/u" is the path, and it names nothing.
    EXPECT_EQ(Vandrel(text + L"\t/u /s"), 1u);
    // An empty first token: nothing is done at all, not even a message.
    EXPECT_EQ(Vandrel(L" " + text), 2u);
    EXPECT_EQ(Vandrel(L"\"\" /u"), 2u);
    EXPECT_EQ(Vandrel(L"   "), 2u);
}

TEST_F(CommandLine, TheResultMessageNamesThePathAsGiven) {
    const std::wstring lib = folder.Copy(Fixture(L"Gamma.tlb"), L"Gamma.tlb");
    struct Step {
        std::wstring arguments, message;
        DWORD status;
    };
    const std::vector<Step> steps = {
        {L"\"" + lib + L"\"", kRegistered + lib + kSucceeded, 0},
        {lib + L" /u", kUnregistered + lib + kSucceeded, 0},
        {lib + L" /U", kUnregistered + lib + kFailed, 1},
        {L"\"" + folder.path() + L"\\no such.tlb\"",
         kRegistered + folder.path() + L"\\no such.tlb" + kFailed, 1},
    };
    for (const Step& step : steps) {
        Process process = Process::Start(VandrelExe(), step.arguments);
        HWND box = WaitForMessageBox(process.id());
        ASSERT_NE(box, nullptr) << "no message box";
        EXPECT_EQ(MessageBoxText(box), step.message);
        // A command that did not wait for its box would be over by now or
        // within 300 ms: a whole command-mode run takes about 100 ms here.
        EXPECT_EQ(process.Wait(300), STILL_ACTIVE) << "the box holds the command";
        PressOk(box);
        EXPECT_EQ(process.Wait(), step.status);
    }
}

TEST(Executable, CarriesTheVersionResourceExactly) {
    const std::wstring exe = VandrelExe();
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> data(size);
    ASSERT_TRUE(::GetFileVersionInfoW(exe.c_str(), 0, size, data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    struct {
        const wchar_t* name;
        std::wstring value;
    } const strings[] = {
        {L"FileVersion", L"1.00"},
        {L"ProductVersion", L"1.00"},
        {L"InternalName", L"Vandrel"},
        {L"OriginalFilename", L"Vandrel.exe"},
        {L"Comments", L"\u5907\u6CE8"},                // 备注
        {L"FileDescription", L"\u63CF\u8FF0"},         // 描述
        {L"ProductName", L"\u4EA7\u54C1\u540D\u79F0"}, // 产品名称
    };
    for (const auto& s : strings) {
        wchar_t* value = nullptr;
        const std::wstring key = std::wstring(L"\\StringFileInfo\\080404b0\\") + s.name;
        ASSERT_TRUE(
            ::VerQueryValueW(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &length))
            << s.name;
        EXPECT_EQ(std::wstring(value), s.value);
    }
}

TEST(Executable, CarriesAnIconGroupWith32And16PixelImages) {
    HMODULE module = ::LoadLibraryExW(VandrelExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    for (int size : {32, 16}) {
        HICON icon = static_cast<HICON>(
            ::LoadImageW(module, MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, 0));
        ASSERT_NE(icon, nullptr) << size;
        ICONINFO info{};
        ASSERT_TRUE(::GetIconInfo(icon, &info));
        BITMAP bitmap{};
        ::GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
        EXPECT_EQ(bitmap.bmWidth, size);
        ::DeleteObject(info.hbmColor);
        ::DeleteObject(info.hbmMask);
        ::DestroyIcon(icon);
    }
    ::FreeLibrary(module);
}

} // namespace
} // namespace vandrel::test
