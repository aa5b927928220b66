#include "comdlg/ComdlgPlatform.h"

#include "comdlg/ClsComdlg.h"
#include "common/SystemLibrary.h"

#include <string>

namespace vandrel {
namespace {

// The common-dialog library is loaded when a dialog is first shown and kept
// for the life of the process: importing it would slow every start, also
// the command-line runs that never show a dialog.
FARPROC CommonDialogEntry(const char* name) {
    static const HMODULE module = LoadSystemLibrary(L"comdlg32.dll");
    FARPROC entry = module ? ::GetProcAddress(module, name) : nullptr;
    if (!entry) throw ComdlgUnavailable();
    return entry;
}

template <typename Function> Function As(FARPROC entry) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(entry));
}

#define VANDREL_COMDLG_ENTRY(name, Result, Record)                                                 \
    Result WINAPI Lazy##name(Record* record) {                                                     \
        static const auto entry = As<Result(WINAPI*)(Record*)>(CommonDialogEntry(#name));          \
        return entry(record);                                                                      \
    }

VANDREL_COMDLG_ENTRY(GetOpenFileNameA, BOOL, OPENFILENAMEA)
VANDREL_COMDLG_ENTRY(GetSaveFileNameA, BOOL, OPENFILENAMEA)
VANDREL_COMDLG_ENTRY(PrintDlgA, BOOL, PRINTDLGA)
VANDREL_COMDLG_ENTRY(PageSetupDlgA, BOOL, PAGESETUPDLGA)
VANDREL_COMDLG_ENTRY(ChooseColorA, BOOL, CHOOSECOLORA)
VANDREL_COMDLG_ENTRY(ChooseFontA, BOOL, CHOOSEFONTA)
VANDREL_COMDLG_ENTRY(ReplaceTextA, HWND, FINDREPLACEA)

#undef VANDREL_COMDLG_ENTRY

using GetDefaultPrinterFunction = BOOL(WINAPI*)(wchar_t* name, DWORD* length);

// The spooler library is needed only by the font dialog; load it likewise.
GetDefaultPrinterFunction DefaultPrinterEntry() {
    static const HMODULE module = LoadSystemLibrary(L"winspool.drv");
    return EntryOf<GetDefaultPrinterFunction>(module, "GetDefaultPrinterW");
}

HDC CreateDefaultPrinterDC() {
    const GetDefaultPrinterFunction getDefaultPrinter = DefaultPrinterEntry();
    if (!getDefaultPrinter) return nullptr;
    DWORD length = 0;
    getDefaultPrinter(nullptr, &length);
    if (length == 0) return nullptr;
    std::wstring name(length, L'\0');
    if (!getDefaultPrinter(name.data(), &length)) return nullptr;
    return ::CreateDCW(L"WINSPOOL", name.c_str(), nullptr, nullptr);
}

const ComdlgPlatform kReal = {
    ::GetForegroundWindow, LazyGetOpenFileNameA,   LazyGetSaveFileNameA, LazyPrintDlgA,
    LazyPageSetupDlgA,     LazyChooseColorA,       LazyChooseFontA,      LazyReplaceTextA,
    ::DestroyWindow,       ::GlobalAlloc,          ::GlobalLock,         ::GlobalUnlock,
    ::GlobalFree,          CreateDefaultPrinterDC, ::DeleteDC,
};

const ComdlgPlatform* g_platform = &kReal;

} // namespace

const ComdlgPlatform& RealComdlgPlatform() {
    return kReal;
}
const ComdlgPlatform& CurrentComdlgPlatform() {
    return *g_platform;
}

void SetComdlgPlatform(const ComdlgPlatform* platform) {
    g_platform = platform ? platform : &kReal;
}

} // namespace vandrel
