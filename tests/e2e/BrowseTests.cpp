// Browsing for a type library with the real platform file dialog, from the
// click on 浏览 to the registration of the chosen file.
#include "support/MainWindowTest.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace vandrel::test {
namespace {

using namespace text;

class Browse : public MainWindowTest {
protected:
    HWND OpenDialog() {
        Click(ChildByText(window_, L"Button", kBrowse));
        return WaitForDialog(process_->id(), kDialogTitle);
    }
};

TEST_F(Browse, AChosenFileReplacesTheBoxCancelKeepsItAndTheChoiceRegisters) {
    // Chinese characters and a space: the dialog speaks the ANSI code page.
    const std::wstring lib =
        folder_.Copy(Fixture(L"Gamma.tlb"), L"\u7C7B\u578B \u5E93\\Gamma \u6587\u4EF6.tlb");
    const LibIdentity id = IdentityOf(lib);
    ASSERT_TRUE(BringToFront(window_));
    Type(box_, L"typed before");

    HWND dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr) << "no dialog titled 请选择一个文件";
    EXPECT_EQ(::GetWindow(dialog, GW_OWNER), window_) << "owned by the foreground window";
    EXPECT_FALSE(::IsWindowEnabled(window_)) << "the dialog is modal";
    EXPECT_EQ(ComboItems(Control(dialog, kFileTypeList)),
              (std::vector<std::wstring>{kTypeLibFiles,
                                         L"\u6240\u6709\u6587\u4EF6(*.*)"})); // 所有文件(*.*)
    TypeFileName(dialog, lib);
    ConfirmDialog(dialog);
    EXPECT_TRUE(WaitUntilGone(dialog));
    EXPECT_EQ(WaitForText(box_, lib), lib) << "the whole box is replaced";

    dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);
    TypeFileName(dialog, folder_.path() + L"\\other.tlb");
    CancelDialog(dialog);
    EXPECT_TRUE(WaitUntilGone(dialog));
    EXPECT_TRUE(::IsWindowEnabled(window_));
    EXPECT_EQ(WindowText(box_), lib) << "cancel leaves the box alone";

    EXPECT_EQ(ClickForMessage(kRegister), kRegister + L"\"" + lib + kSucceeded);
    EXPECT_EQ(RegisteredPath(id), lib);
    EXPECT_EQ(ClickForMessage(kUnregister), kUnregister + L"\"" + lib + kSucceeded);
    EXPECT_EQ(RegisteredPath(id), L"");
}

// On a system without the common-dialog library the browse button's error
// ends the program: the window goes, the error box says why, and the process
// ends with status 3. Wine disables the library for one program name.
TEST(BrowseWithoutDialogs, EndsTheProgramWithTheErrorBoxAndStatusThree) {
    TempFolder folder;
    const std::wstring exe = folder.Copy(VandrelExe(), L"VandrelWithoutDialogs.exe");
    const std::wstring key =
        L"Software\\Wine\\AppDefaults\\VandrelWithoutDialogs.exe\\DllOverrides";
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"comdlg32", REG_SZ, L"", 2), 0);
    Process process = Process::Start(exe, L"");
    const HWND window = WaitForWindow(process.id(), L"", kTitle);
    if (window) Click(ChildByText(window, L"Button", kBrowse));
    const HWND box = window ? WaitForMessageBox(process.id()) : nullptr;
    const std::wstring text = box ? MessageBoxText(box) : L"(no error box)";
    const bool windowGone = window && !::IsWindowVisible(window);
    if (box) PressOk(box);
    const DWORD status = process.Wait();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, key.substr(0, key.rfind(L'\\')).c_str());
    ASSERT_NE(window, nullptr);
    // 发生意外错误,程序将退出。
    EXPECT_EQ(text, L"\u53D1\u751F\u610F\u5916\u9519\u8BEF,\u7A0B\u5E8F\u5C06\u9000\u51FA\u3002"
                    L"\n无法加载通用对话框库");
    EXPECT_TRUE(windowGone) << "the window goes before the box";
    EXPECT_EQ(status, 3u);
}

} // namespace
} // namespace vandrel::test
