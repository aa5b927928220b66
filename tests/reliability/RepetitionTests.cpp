// Thousands of commands in one process: handles, GDI and USER objects and
// private memory end where they began (within the slack in ResourceUse.h).
#include "ResourceUse.h"

#include "comdlg/ClsComdlg.h"
#include "comdlg/ComdlgPlatform.h"
#include "common/Owned.h"
#include "registrar/ModVandrel.h"
#include "support/LoopbackWorker.h"
#include "support/ScopedSeam.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

namespace vandrel::test {
namespace {

// 3,000 cycles on a library without interfaces: a cycle costs about 3.5 ms
// of registry work under Wine instead of 12, and the program's own road is
// the same. A handle kept per cycle shows after a handful; 3,000 cycles show
// 175 bytes kept per cycle past the allocator's slack. The worker's session
// runs in this process here, so that what it keeps is counted too; the
// worker processes themselves are counted below.
TEST(RegisterCycles, LeakNothingOfTheirOwn) {
    const InProcessWorker worker;
    constexpr int kCycles = 3000;
    TempFolder folder;
    const std::wstring lib = folder.Copy(Fixture(L"Beta.tlb"), L"Beta.tlb");
    const std::wstring registry = RegistrySnapshot();
    // The first calls load the Automation library and fill its caches.
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(RegisterLibrary(lib, L""), kTrue);
        ASSERT_EQ(UnregisterLibrary(lib), kTrue);
    }
    // The platform's share, scaled from a run of its bare calls: exact when
    // it leaves the same number each cycle, as Wine's calls do.
    constexpr int kFloorCycles = 100;
    const int platformShare = PlatformHandlesLeft(lib, kFloorCycles, true);
    ASSERT_GE(platformShare, 0);
    ASSERT_LE(platformShare, 8 * kFloorCycles) << "the platform leaks more than it did";
    const ResourceUse before = CurrentResourceUse();
    int failures = 0;
    for (int i = 0; i < kCycles; ++i) {
        failures += RegisterLibrary(lib, L"") != kTrue;
        failures += UnregisterLibrary(lib) != kTrue;
    }
    EXPECT_EQ(failures, 0);
    ResourceUse after = CurrentResourceUse();
    after.kernelHandles -= platformShare * (kCycles / kFloorCycles);
    EXPECT_TRUE(EndsWhereItBegan(before, after))
        << "after taking off " << platformShare << " platform handles per " << kFloorCycles
        << " cycles";
    EXPECT_TRUE(SameRegistry(registry, RegistrySnapshot()));
}

// Each command starts a worker process, in a job, with a pipe: none of them
// outlives its command.
TEST(Repetition, WorkerProcessesLeaveNothingBehind) {
    TempFolder folder;
    const std::wstring lib = folder.Copy(Fixture(L"Beta.tlb"), L"Beta.tlb");
    const std::wstring text = folder.Write(L"text.tlb", "not a type library");
    ASSERT_EQ(RegisterLibrary(lib, L""), kTrue);
    ASSERT_EQ(UnregisterLibrary(lib), kTrue);
    const ResourceUse before = CurrentResourceUse();
    int wrong = 0;
    for (int i = 0; i < 12; ++i)
        wrong += RegisterLibrary(lib, L"") != kTrue || UnregisterLibrary(lib) != kTrue ||
                 RegisterLibrary(text, L"") != kFalse;
    EXPECT_EQ(wrong, 0);
    EXPECT_TRUE(EndsWhereItBegan(before, CurrentResourceUse()));
}

TEST(Repetition, FailedCommandsLeakNothingEither) {
    const InProcessWorker worker;
    TempFolder folder;
    const std::wstring text = folder.Write(L"text.tlb", "not a type library");
    const std::wstring cut = folder.Write(L"cut.tlb", std::string("MSFT\0\0\0\0", 8));
    const std::wstring missing = folder.path() + L"\\missing.tlb";
    for (const auto& path : {text, cut, missing})
        ASSERT_EQ(RegisterLibrary(path, L""), kFalse);
    const ResourceUse before = CurrentResourceUse();
    int successes = 0;
    for (int i = 0; i < 2000; ++i)
        for (const auto& path : {text, cut, missing})
            successes += RegisterLibrary(path, L"") == kTrue || UnregisterLibrary(path) == kTrue;
    EXPECT_EQ(successes, 0);
    EXPECT_TRUE(EndsWhereItBegan(before, CurrentResourceUse()));
}

// Dialogs that answer at once, so every show call runs its whole road:
// records built and converted, memory blocks and the printer context made
// and released through the real calls.
BOOL WINAPI AnswerOpen(OPENFILENAMEA* record) {
    const char chosen[] = "C:\\libs\\chosen.tlb";
    if (!record->lpstrFile || record->nMaxFile < sizeof chosen) return FALSE;
    std::memcpy(record->lpstrFile, chosen, sizeof chosen);
    record->nFileOffset = 8;
    return TRUE;
}
BOOL WINAPI AnswerColor(CHOOSECOLORA* record) {
    record->rgbResult = RGB(1, 2, 3);
    return TRUE;
}
BOOL WINAPI AnswerFont(CHOOSEFONTA* record) {
    if (!record->lpLogFont) return FALSE;
    std::strcpy(record->lpLogFont->lfFaceName, "Arial");
    record->iPointSize = 120;
    return TRUE;
}
HDC MemoryPrinterDC() {
    return ::CreateCompatibleDC(nullptr);
}

TEST(Repetition, ThousandsOfDialogObjectShowsLeakNothing) {
    ComdlgPlatform fake = ComdlgSeam().real();
    fake.GetOpenFileNameA = AnswerOpen;
    fake.GetSaveFileNameA = AnswerOpen;
    fake.ChooseColorA = AnswerColor;
    fake.ChooseFontA = AnswerFont;
    fake.CreatePrinterDC = MemoryPrinterDC;
    const ScopedSeam<ComdlgPlatform> answering(ComdlgSeam(), fake);
    auto showAll = [] {
        ClsComdlg dialog;
        dialog.Filter(L"TypeLib\u6587\u4EF6(*.tlb)|*.tlb|All|*.*");
        dialog.DialogTitle(L"\u6253\u5F00");
        int confirmed = dialog.ShowOpen() == kTrue;
        confirmed += dialog.ShowSave() == kTrue;
        confirmed += dialog.ShowColor() == kTrue;
        confirmed += dialog.ShowFont() == kTrue;
        return confirmed + (dialog.FileName() == L"C:\\libs\\chosen.tlb");
    };
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(showAll(), 5);
    const ResourceUse before = CurrentResourceUse();
    int wrong = 0;
    // Enough that 100 bytes per cycle would pass the slack.
    for (int i = 0; i < 6000; ++i)
        wrong += showAll() != 5;
    EXPECT_EQ(wrong, 0);
    EXPECT_TRUE(EndsWhereItBegan(before, CurrentResourceUse()));
}

} // namespace
} // namespace vandrel::test
