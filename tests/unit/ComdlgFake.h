// A stand-in for the common dialogs, the memory they use and the printer:
// each fake records what it was given, lets the test write an answer, and
// counts every block, lock and device context still outstanding.
#pragma once

#include "comdlg/ComdlgPlatform.h"
#include "support/ScopedSeam.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

namespace vandrel::test {

enum class Call {
    Foreground,
    Open,
    Save,
    Print,
    PageSetup,
    Color,
    Font,
    Replace,
    Destroy,
    Alloc,
    Lock,
    Unlock,
    Free,
    PrinterDC,
    DeleteDC,
};

// Raised by a fake dialog to see how errors pass through.
struct DialogBroke {};

struct ComdlgWorld {
    // Answers.
    HWND foreground = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x4321));
    BOOL confirm = TRUE;
    bool throwInDialog = false;
    bool allocFails = false;
    bool lockFails = false;
    bool noPrinter = false;
    HWND replaceAnswer = nullptr;
    std::function<void(OPENFILENAMEA&)> onFile;
    std::function<void(PRINTDLGA&)> onPrint;
    std::function<void(PAGESETUPDLGA&)> onPageSetup;
    std::function<void(CHOOSECOLORA&)> onColor;
    std::function<void(CHOOSEFONTA&, LOGFONTA&)> onFont;

    // What the fakes saw, in order. A fixed array: recording allocates
    // nothing, so allocation counts stay the code's own.
    std::array<Call, 64> calls{};
    std::size_t callCount = 0;
    OPENFILENAMEA file{};
    std::optional<std::string> filter, initDir, title;
    std::string fileBuffer, titleBuffer;
    PRINTDLGA print{};
    PAGESETUPDLGA pageSetup{};
    CHOOSECOLORA color{};
    std::array<COLORREF, 16> customColors{};
    CHOOSEFONTA font{};
    LOGFONTA logFont{};
    void* lockedAddress = nullptr;
    UINT allocFlags = 0;
    SIZE_T allocBytes = 0;
    FINDREPLACEA replace{};
    HWND destroyed = nullptr;

    // Outstanding resources.
    int blocks = 0;
    int locks = 0;
    int dcs = 0;
    int nextDC = 0xDC00;

    void Record(Call call) {
        if (callCount < calls.size()) calls[callCount++] = call;
    }
    std::size_t Count(Call call) const {
        std::size_t n = 0;
        for (std::size_t i = 0; i < callCount; ++i)
            n += calls[i] == call;
        return n;
    }
    bool Before(Call first, Call second) const {
        for (std::size_t i = 0; i < callCount; ++i) {
            if (calls[i] == first) return true;
            if (calls[i] == second) return false;
        }
        return false;
    }
    // A device context as a print dialog hands one back.
    HDC NewDC() {
        ++dcs;
        return reinterpret_cast<HDC>(static_cast<INT_PTR>(++nextDC));
    }
    // A global block as a print dialog hands one back.
    HGLOBAL NewBlock() {
        ++blocks;
        return ::GlobalAlloc(GMEM_MOVEABLE, 16);
    }
};

inline ComdlgWorld* g_world = nullptr;

inline std::optional<std::string> CText(const char* text) {
    if (!text) return std::nullopt;
    return std::string(text);
}
// A NUL-separated list up to and with its closing double NUL.
inline std::optional<std::string> CList(const char* text) {
    if (!text) return std::nullopt;
    std::size_t n = 0;
    while (text[n] != '\0' || text[n + 1] != '\0')
        ++n;
    return std::string(text, n + 2);
}

namespace fake {

inline HWND WINAPI Foreground() {
    g_world->Record(Call::Foreground);
    return g_world->foreground;
}

inline BOOL FileDialog(Call call, OPENFILENAMEA* record) {
    ComdlgWorld& w = *g_world;
    if (w.throwInDialog) throw DialogBroke{};
    w.Record(call);
    w.file = *record;
    w.filter = CList(record->lpstrFilter);
    w.initDir = CText(record->lpstrInitialDir);
    w.title = CText(record->lpstrTitle);
    // The buffers with the one byte behind them, to see their terminator.
    w.fileBuffer.assign(record->lpstrFile, record->nMaxFile + 1);
    w.titleBuffer.assign(record->lpstrFileTitle, record->nMaxFileTitle + 1);
    if (w.onFile) w.onFile(*record);
    return w.confirm;
}
inline BOOL WINAPI Open(OPENFILENAMEA* record) {
    return FileDialog(Call::Open, record);
}
inline BOOL WINAPI Save(OPENFILENAMEA* record) {
    return FileDialog(Call::Save, record);
}

inline BOOL WINAPI Print(PRINTDLGA* record) {
    g_world->Record(Call::Print);
    g_world->print = *record;
    if (g_world->onPrint) g_world->onPrint(*record);
    return g_world->confirm;
}
inline BOOL WINAPI PageSetup(PAGESETUPDLGA* record) {
    g_world->Record(Call::PageSetup);
    g_world->pageSetup = *record;
    if (g_world->onPageSetup) g_world->onPageSetup(*record);
    return g_world->confirm;
}
inline BOOL WINAPI Color(CHOOSECOLORA* record) {
    ComdlgWorld& w = *g_world;
    w.Record(Call::Color);
    w.color = *record;
    if (record->lpCustColors)
        std::memcpy(w.customColors.data(), record->lpCustColors, sizeof w.customColors);
    if (w.onColor) w.onColor(*record);
    return w.confirm;
}
inline BOOL WINAPI Font(CHOOSEFONTA* record) {
    ComdlgWorld& w = *g_world;
    w.Record(Call::Font);
    w.font = *record;
    w.logFont = *record->lpLogFont;
    if (w.onFont) w.onFont(*record, *record->lpLogFont);
    return w.confirm;
}
inline HWND WINAPI Replace(FINDREPLACEA* record) {
    g_world->Record(Call::Replace);
    g_world->replace = *record;
    return g_world->replaceAnswer;
}
inline BOOL WINAPI Destroy(HWND window) {
    g_world->Record(Call::Destroy);
    g_world->destroyed = window;
    return TRUE;
}
inline HGLOBAL WINAPI Alloc(UINT flags, SIZE_T bytes) {
    ComdlgWorld& w = *g_world;
    w.Record(Call::Alloc);
    w.allocFlags = flags;
    w.allocBytes = bytes;
    if (w.allocFails) return nullptr;
    ++w.blocks;
    return ::GlobalAlloc(flags, bytes);
}
inline LPVOID WINAPI Lock(HGLOBAL block) {
    ComdlgWorld& w = *g_world;
    w.Record(Call::Lock);
    if (w.lockFails) return nullptr;
    ++w.locks;
    w.lockedAddress = ::GlobalLock(block);
    return w.lockedAddress;
}
inline BOOL WINAPI Unlock(HGLOBAL block) {
    g_world->Record(Call::Unlock);
    --g_world->locks;
    return ::GlobalUnlock(block);
}
inline HGLOBAL WINAPI Free(HGLOBAL block) {
    g_world->Record(Call::Free);
    --g_world->blocks;
    return ::GlobalFree(block);
}
inline HDC PrinterDC() {
    g_world->Record(Call::PrinterDC);
    return g_world->noPrinter ? nullptr : g_world->NewDC();
}
inline BOOL WINAPI DeleteDC(HDC) {
    g_world->Record(Call::DeleteDC);
    --g_world->dcs;
    return TRUE;
}

inline const ComdlgPlatform kPlatform = {
    Foreground, Open,  Save, Print,  PageSetup, Color,     Font,     Replace,
    Destroy,    Alloc, Lock, Unlock, Free,      PrinterDC, DeleteDC,
};

} // namespace fake

// Installs the fake platform for one test and checks that nothing is left
// outstanding when it ends.
class ComdlgFakeTest : public ::testing::Test {
protected:
    void SetUp() override { g_world = &world; }
    void TearDown() override {
        g_world = nullptr;
        EXPECT_EQ(world.blocks, 0) << "global blocks left behind";
        EXPECT_EQ(world.locks, 0) << "global blocks left locked";
        EXPECT_EQ(world.dcs, 0) << "device contexts left behind";
    }
    ComdlgWorld world;
    test::ScopedSeam<ComdlgPlatform> platform{ComdlgSeam(), fake::kPlatform};
};

// Text in the ANSI code page and back, through the platform directly.
inline std::string Ansi(const std::wstring& text) {
    const int size = static_cast<int>(text.size());
    const int bytes =
        ::WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), size, result.data(), bytes, nullptr, nullptr);
    return result;
}

inline constexpr bool k64 = sizeof(void*) == 8;

} // namespace vandrel::test
