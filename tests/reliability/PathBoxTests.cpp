// The real window: the bad-input corpus through the path box, one click
// each, and 200 register clicks that leave the process where it began.
#include "ResourceUse.h"
#include "reliability/DamagedLibraries.h"
#include "support/MainWindowTest.h"

#include <gtest/gtest.h>
#include <psapi.h>

#include <string>
#include <vector>

namespace vandrel::test {
namespace {

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

using RealWindow = MainWindowTest;

TEST_F(RealWindow, BadInputThroughThePathBoxFailsOneClickEach) {
    std::vector<std::wstring> corpus = NotFilePaths(folder_);
    for (const std::wstring& file : NotTypeLibFiles(folder_))
        corpus.push_back(file);
    corpus.push_back(L"   ");
    corpus.push_back(folder_.Write(L"msft8.tlb", std::string("MSFT\0\0\0\0", 8)));
    // Both stopped the process once: noise behind an SLTG signature, and
    // Wine's stdole2.tlb (a module) cut short.
    corpus.push_back(folder_.Write(L"sltg.tlb", DamagedLibrary({"sltg", Damage::Sltg, 1})));
    corpus.push_back(folder_.Write(L"cut.tlb", DamagedLibrary({"stdole2", Damage::Truncate, 1})));
    for (const auto& path : corpus)
        EXPECT_EQ(ClickRegister(path), text::Result(false, path, false));
    ASSERT_TRUE(process_->Running()) << "the window outlives every failure";
    // And it still works: no lock or guard of a failed load is left behind.
    const std::wstring good = folder_.Copy(Fixture(L"Beta.tlb"), L"Beta.tlb");
    EXPECT_EQ(ClickRegister(good), text::Result(false, good, true));
    EXPECT_EQ(test::Run(VandrelExe(), good + L" /u /s"), 0u);
}

// The platform's calls run in the workers, so the window's process keeps
// nothing of theirs either.
TEST_F(RealWindow, FortyRegisterClicksEndWhereTheyBegan) {
    const std::wstring lib = folder_.Copy(Fixture(L"Beta.tlb"), L"Beta.tlb");
    const std::wstring succeeded = text::Result(false, lib, true);
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(ClickRegister(lib), succeeded);
    const int handles = HandlesOf(process_->handle());
    const int windows = WindowsOf(process_->id());
    ASSERT_GT(handles, 0) << "the handle count cannot be read";
    ASSERT_GE(windows, 7) << "the window and its six controls";
    int wrong = 0;
    for (int i = 0; i < 40; ++i)
        wrong += ClickRegister(lib) != succeeded;
    EXPECT_EQ(wrong, 0);
    EXPECT_LE(HandlesOf(process_->handle()), handles + Slack().handles);
    EXPECT_EQ(WindowsOf(process_->id()), windows);
    EXPECT_EQ(test::Run(VandrelExe(), lib + L" /u /s"), 0u);
}

} // namespace
} // namespace vandrel::test
