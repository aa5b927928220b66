#include "comdlg/ComdlgPlatform.h"

#include "comdlg/ClsComdlg.h"
#include "common/SystemLibrary.h"

#include <string>

namespace vandrel {
namespace {

// The common-dialog library is loaded when a dialog is first shown: importing
// it would slow every start, also the command-line runs that never show one.
// Each entry is looked up on its first call; without it the call raises.
void (*CommonDialogEntry(const char* name))() {
    const auto entry = SystemEntry<void (*)()>(L"comdlg32.dll", name);
    if (!entry) throw ComdlgUnavailableError();
    return entry;
}

template <typename Result, typename Record, const char* Name>
Result WINAPI CommonDialog(Record* record) {
    static const auto entry = reinterpret_cast<Result(WINAPI*)(Record*)>(CommonDialogEntry(Name));
    return entry(record);
}

constexpr char kGetOpenFileNameA[] = "GetOpenFileNameA";
constexpr char kGetSaveFileNameA[] = "GetSaveFileNameA";
constexpr char kPrintDlgA[] = "PrintDlgA";
constexpr char kPageSetupDlgA[] = "PageSetupDlgA";
constexpr char kChooseColorA[] = "ChooseColorA";
constexpr char kChooseFontA[] = "ChooseFontA";
constexpr char kReplaceTextA[] = "ReplaceTextA";

using GetDefaultPrinterFunction = BOOL(WINAPI*)(wchar_t* name, DWORD* length);

HDC CreateDefaultPrinterDC() {
    // The spooler library is needed only by the font dialog; loaded likewise.
    static const auto getDefaultPrinter =
        SystemEntry<GetDefaultPrinterFunction>(L"winspool.drv", "GetDefaultPrinterW");
    if (!getDefaultPrinter) return nullptr;
    DWORD length = 0;
    getDefaultPrinter(nullptr, &length);
    if (length == 0) return nullptr;
    std::wstring name(length, L'\0');
    if (!getDefaultPrinter(name.data(), &length)) return nullptr;
    return ::CreateDCW(L"WINSPOOL", name.c_str(), nullptr, nullptr);
}

const ComdlgPlatform kReal = {
    ::GetForegroundWindow,
    CommonDialog<BOOL, OPENFILENAMEA, kGetOpenFileNameA>,
    CommonDialog<BOOL, OPENFILENAMEA, kGetSaveFileNameA>,
    CommonDialog<BOOL, PRINTDLGA, kPrintDlgA>,
    CommonDialog<BOOL, PAGESETUPDLGA, kPageSetupDlgA>,
    CommonDialog<BOOL, CHOOSECOLORA, kChooseColorA>,
    CommonDialog<BOOL, CHOOSEFONTA, kChooseFontA>,
    CommonDialog<HWND, FINDREPLACEA, kReplaceTextA>,
    ::DestroyWindow,
    ::GlobalAlloc,
    ::GlobalLock,
    ::GlobalUnlock,
    ::GlobalFree,
    CreateDefaultPrinterDC,
    ::DeleteDC,
};

} // namespace

Seam<ComdlgPlatform>& ComdlgSeam() {
    static Seam<ComdlgPlatform> seam(kReal);
    return seam;
}

} // namespace vandrel
