// Every platform call the dialog object makes, in one table so tests can
// stand in for the dialogs, the memory they use and the printer.
#pragma once

#include "common/Seam.h"

#include "common/Owned.h"

#include <windows.h>
#include <commdlg.h>

#include <cstddef>
#include <cstdint>

namespace vandrel {

struct ComdlgPlatform {
    HWND(WINAPI* GetForegroundWindow)();
    BOOL(WINAPI* GetOpenFileNameA)(OPENFILENAMEA* record);
    BOOL(WINAPI* GetSaveFileNameA)(OPENFILENAMEA* record);
    BOOL(WINAPI* PrintDlgA)(PRINTDLGA* record);
    BOOL(WINAPI* PageSetupDlgA)(PAGESETUPDLGA* record);
    BOOL(WINAPI* ChooseColorA)(CHOOSECOLORA* record);
    BOOL(WINAPI* ChooseFontA)(CHOOSEFONTA* record);
    HWND(WINAPI* ReplaceTextA)(FINDREPLACEA* record);
    BOOL(WINAPI* DestroyWindow)(HWND window);
    HGLOBAL(WINAPI* GlobalAlloc)(UINT flags, SIZE_T bytes);
    LPVOID(WINAPI* GlobalLock)(HGLOBAL block);
    BOOL(WINAPI* GlobalUnlock)(HGLOBAL block);
    HGLOBAL(WINAPI* GlobalFree)(HGLOBAL block);
    // The default printer's device context, or null when there is none.
    HDC (*CreatePrinterDC)();
    // Releases the printer's context and any context a print dialog returns.
    BOOL(WINAPI* DeleteDC)(HDC dc);
};

// The platform of every dialog object.
Seam<ComdlgPlatform>& ComdlgSeam();

// The record sizes the platform expects: on 32-bit Windows the published
// ANSI layouts, and the file record without the fields added after it.
inline constexpr DWORD kOpenFileNameSize = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR);

static_assert(sizeof(LOGFONTA) == 60);
#if defined(__i386__)
static_assert(kOpenFileNameSize == 76);
static_assert(sizeof(PRINTDLGA) == 66);
static_assert(offsetof(PRINTDLGA, hInstance) == 34);
static_assert(sizeof(PAGESETUPDLGA) == 84);
static_assert(sizeof(CHOOSECOLORA) == 36);
static_assert(sizeof(CHOOSEFONTA) == 60);
static_assert(sizeof(FINDREPLACEA) == 40);
#elif defined(__x86_64__)
static_assert(kOpenFileNameSize == 136);
static_assert(sizeof(PRINTDLGA) == 120);
static_assert(sizeof(PAGESETUPDLGA) == 128);
static_assert(sizeof(CHOOSECOLORA) == 72);
static_assert(sizeof(CHOOSEFONTA) == 104);
static_assert(sizeof(FINDREPLACEA) == 80);
#endif

// The object keeps instance handles as 32-bit values; a 64-bit handle is
// their sign extension.
inline HINSTANCE AsInstance(std::int32_t value) {
    return reinterpret_cast<HINSTANCE>(static_cast<std::intptr_t>(value));
}

// Owners whose release goes through the current platform, so that tests can
// count every block, lock and context a dialog leaves behind.
struct PlatformGlobalTraits {
    static HGLOBAL invalid() { return nullptr; }
    static void close(HGLOBAL block) { ComdlgSeam()->GlobalFree(block); }
};
struct PlatformUnlockTraits {
    static HGLOBAL invalid() { return nullptr; }
    static void close(HGLOBAL block) { ComdlgSeam()->GlobalUnlock(block); }
};
struct PlatformDCTraits {
    static HDC invalid() { return nullptr; }
    static void close(HDC dc) { ComdlgSeam()->DeleteDC(dc); }
};
using PlatformGlobal = Owned<HGLOBAL, PlatformGlobalTraits>;
// A block that is locked: the owner unlocks it.
using PlatformLocked = Owned<HGLOBAL, PlatformUnlockTraits>;
using PlatformDC = Owned<HDC, PlatformDCTraits>;

} // namespace vandrel
