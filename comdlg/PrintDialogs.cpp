// The print and page-setup dialogs.
#include "comdlg/ClsComdlg.h"

#include "comdlg/ComdlgPlatform.h"

#include <cstdint>
#include <limits>

namespace vandrel {
namespace {

// The print record's page and copy fields are 16 bits wide and read as
// signed; a value that does not fit is the caller's error, not a wrap.
WORD Narrow(std::int32_t value, const char* error) {
    if (value < std::numeric_limits<std::int16_t>::min() ||
        value > std::numeric_limits<std::int16_t>::max())
        throw ComdlgOverflowError(error);
    return static_cast<WORD>(static_cast<std::int16_t>(value));
}

std::int32_t Widen(WORD field) {
    return static_cast<std::int16_t>(field);
}

// The dialogs hand back device blocks (and, when asked, a device context)
// that belong to the caller; nothing here uses them, so they go with the
// call whatever its outcome.
struct ReturnedDevice {
    PlatformGlobal mode, names;
    PlatformDC dc;
};
ReturnedDevice Returned(const PRINTDLGA& record) {
    return {PlatformGlobal(record.hDevMode), PlatformGlobal(record.hDevNames),
            PlatformDC(record.hDC)};
}
ReturnedDevice Returned(const PAGESETUPDLGA& record) {
    return {PlatformGlobal(record.hDevMode), PlatformGlobal(record.hDevNames), PlatformDC()};
}

} // namespace

Flag ClsComdlg::ShowPrint() {
    const ComdlgPlatform& platform = *ComdlgSeam();
    // Every value is checked before the dialog, so an error changes nothing.
    const WORD fromPage = Narrow(m_FromPage, "FromPage 的值超出 16 位");
    const WORD toPage = Narrow(m_ToPage, "ToPage 的值超出 16 位");
    const WORD minPage = Narrow(m_MinPage, "MinPage 的值超出 16 位");
    const WORD maxPage = Narrow(m_MaxPage, "MaxPage 的值超出 16 位");
    const WORD copies = Narrow(m_Copies, "Copies 的值超出 16 位");

    PRINTDLGA record{};
    record.lStructSize = sizeof record;
    record.hwndOwner = platform.GetForegroundWindow();
    record.Flags = static_cast<DWORD>(m_flags);
    record.nFromPage = fromPage;
    record.nToPage = toPage;
    record.nMinPage = minPage;
    record.nMaxPage = maxPage;
    record.nCopies = copies;
    record.hInstance = AsInstance(m_Instance);

    const BOOL confirmed = platform.PrintDlgA(&record);
    const ReturnedDevice device = Returned(record);
    if (!confirmed) return kFalse;
    m_Copies = Widen(record.nCopies);
    m_FromPage = Widen(record.nFromPage);
    m_ToPage = Widen(record.nToPage);
    m_MinPage = Widen(record.nMinPage);
    m_MaxPage = Widen(record.nMaxPage);
    return kTrue;
}

Flag ClsComdlg::ShowPageSetup() {
    const ComdlgPlatform& platform = *ComdlgSeam();
    PAGESETUPDLGA record{};
    record.lStructSize = sizeof record;
    record.hwndOwner = platform.GetForegroundWindow();
    record.hInstance = AsInstance(m_Instance);

    const BOOL confirmed = platform.PageSetupDlgA(&record);
    const ReturnedDevice device = Returned(record);
    if (!confirmed) return kFalse;
    m_PaperWidth = record.ptPaperSize.x;
    m_PaperHeight = record.ptPaperSize.y;
    m_MarginLeft = record.rtMargin.left;
    m_MarginTop = record.rtMargin.top;
    m_MarginRight = record.rtMargin.right;
    m_MarginBottom = record.rtMargin.bottom;
    return kTrue;
}

} // namespace vandrel
