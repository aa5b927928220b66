// The real window: the bad-input corpus through the path box, one click
// each, and 200 register clicks that leave the process where it began.
#include "ResourceUse.h"
#include "driver/Driver.h"
#include "reliability/DamagedLibraries.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <psapi.h>

#include <memory>
#include <string>
#include <vector>

namespace vandrel::test {
namespace {

const std::wstring kTitle = L"TypeLib\u6CE8\u518C\u7A0B\u5E8F"; // TypeLib注册程序
const std::wstring kRegister = L"\u6CE8\u518C";                 // 注册

struct Child {
    const std::wstring* windowClass;
    const std::wstring* text;
    HWND found;
};

BOOL CALLBACK FindChild(HWND window, LPARAM param) {
    auto& search = *reinterpret_cast<Child*>(param);
    if (ClassOf(window) != *search.windowClass) return TRUE;
    if (search.text && WindowText(window) != *search.text) return TRUE;
    search.found = window;
    return FALSE;
}

HWND ChildOf(HWND parent, const std::wstring& windowClass, const std::wstring* text) {
    Child search{&windowClass, text, nullptr};
    ::EnumChildWindows(parent, FindChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Kernel handles of another process: the values it can duplicate out.
int HandlesOf(HANDLE process) {
    int count = 0;
    for (ULONG_PTR h = 4, last = 0; h < 0x1000000 && h - last < 0x4000; h += 4) {
        HANDLE copy = nullptr;
        if (::DuplicateHandle(process, reinterpret_cast<HANDLE>(h), ::GetCurrentProcess(), &copy, 0,
                              FALSE, DUPLICATE_SAME_ACCESS)) {
            ::CloseHandle(copy);
            ++count;
            last = h;
        }
    }
    return count;
}

BOOL CALLBACK CountWindow(HWND window, LPARAM param) {
    ++*reinterpret_cast<int*>(param);
    ::EnumChildWindows(window, CountWindow, param);
    return TRUE;
}

int WindowsOf(DWORD processId) {
    int count = 0;
    for (HWND window : VisibleWindows(processId))
        CountWindow(window, reinterpret_cast<LPARAM>(&count));
    return count;
}

class RealWindow : public ::testing::Test {
protected:
    void SetUp() override {
        before = RegistrySnapshot();
        process = std::make_unique<Process>(Process::Start(VandrelExe(), L""));
        window = WaitForWindow(process->id(), L"", kTitle);
        ASSERT_NE(window, nullptr);
        box = ChildOf(window, L"Edit", nullptr);
        registerButton = ChildOf(window, L"Button", &kRegister);
        ASSERT_NE(box, nullptr);
        ASSERT_NE(registerButton, nullptr);
    }
    void TearDown() override {
        ::PostMessageW(window, WM_CLOSE, 0, 0);
        EXPECT_NE(process->Wait(10000), STILL_ACTIVE);
        EXPECT_TRUE(SameRegistry(before, RegistrySnapshot()));
    }
    // Puts the path in the box, clicks register and returns the message.
    std::wstring ClickRegister(const std::wstring& path) {
        DWORD_PTR ignored = 0;
        ::SendMessageTimeoutW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()),
                              SMTO_ABORTIFHUNG, 5000, &ignored);
        ::PostMessageW(registerButton, BM_CLICK, 0, 0);
        HWND message = WaitForMessageBox(process->id());
        if (!message) return L"(no message)";
        std::wstring text = MessageBoxText(message);
        PressOk(message);
        WaitUntilClosed(message);
        return text;
    }
    static void WaitUntilClosed(HWND message) {
        for (int i = 0; i < 500 && ::IsWindow(message) && ::IsWindowVisible(message); ++i)
            ::Sleep(10);
    }
    std::wstring before;
    std::unique_ptr<Process> process;
    HWND window = nullptr, box = nullptr, registerButton = nullptr;
    TempFolder folder;
};

TEST_F(RealWindow, BadInputThroughThePathBoxFailsOneClickEach) {
    const std::wstring failed = L"\"\u5931\u8D25!";
    const std::vector<std::wstring> corpus = {
        folder.path() + L"\\missing.tlb",
        folder.Write(L"empty.tlb", ""),
        folder.Write(L"text.tlb", "not a type library"),
        folder.Write(L"msft8.tlb", std::string("MSFT\0\0\0\0", 8)),
        Fixture(L"Embedded.dll") + L"\\9",
        folder.path(),
        L"NUL",
        L"CON",
        L"\\\\.\\NUL",
        folder.path() + L"\\" + std::wstring(300, L'm') + L".tlb",
        L"   ",
        // Both stopped the process once: noise behind an SLTG signature, and
        // Wine's stdole2.tlb (a module) cut short.
        folder.Write(L"sltg.tlb", DamagedLibrary({"sltg", Damage::Sltg, 1})),
        folder.Write(L"cut.tlb", DamagedLibrary({"stdole2", Damage::Truncate, 1})),
    };
    for (const auto& path : corpus)
        EXPECT_EQ(ClickRegister(path), kRegister + L"\"" + path + failed);
    ASSERT_TRUE(process->Running()) << "the window outlives every failure";
    // And it still works: no lock or guard of a failed load is left behind.
    const std::wstring good = folder.Copy(Fixture(L"Beta.tlb"), L"Beta.tlb");
    EXPECT_EQ(ClickRegister(good), kRegister + L"\"" + good + L"\"\u6210\u529F!");
    EXPECT_EQ(test::Run(VandrelExe(), good + L" /u /s"), 0u);
}

TEST_F(RealWindow, TwoHundredRegisterClicksEndWhereTheyBegan) {
    const std::wstring lib = folder.Copy(Fixture(L"Beta.tlb"), L"Beta.tlb");
    const std::wstring succeeded = kRegister + L"\"" + lib + L"\"\u6210\u529F!";
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(ClickRegister(lib), succeeded);
    const int handles = HandlesOf(process->handle());
    const int windows = WindowsOf(process->id());
    ASSERT_GT(handles, 0) << "the handle count cannot be read";
    ASSERT_GE(windows, 7) << "the window and its six controls";
    int wrong = 0;
    for (int i = 0; i < 200; ++i)
        wrong += ClickRegister(lib) != succeeded;
    EXPECT_EQ(wrong, 0);
    // What the bare registration call leaves open over as many calls.
    const int platform = PlatformHandlesLeft(lib, 200, false);
    ASSERT_GE(platform, 0);
    EXPECT_LE(HandlesOf(process->handle()), handles + platform + Slack().handles);
    EXPECT_EQ(WindowsOf(process->id()), windows);
    EXPECT_EQ(test::Run(VandrelExe(), lib + L" /u /s"), 0u);
}

} // namespace
} // namespace vandrel::test
