// The print and page-setup dialogs.
#include "comdlg/ClsComdlg.h"

#include "comdlg/ComdlgPlatform.h"

#include <cstdint>
#include <limits>
#include <string>
#include <type_traits>

namespace vandrel {
namespace {

// The print record's page and copy fields are 16 bits wide and read as
// signed; a value that does not fit is the caller's error, not a wrap.
WORD Narrow(std::int32_t value, const char* property) {
    if (value < std::numeric_limits<std::int16_t>::min() ||
        value > std::numeric_limits<std::int16_t>::max())
        throw ComdlgOverflow(std::string(property) +
                             " does not fit in 16 bits: " + std::to_string(value));
    return static_cast<WORD>(static_cast<std::int16_t>(value));
}

std::int32_t Widen(WORD field) {
    return static_cast<std::int16_t>(field);
}

// The dialogs hand back device blocks (and, when asked, a device context)
// that belong to the caller; nothing here uses them, so they go with the
// call whatever its outcome.
template <typename Record> class ReturnedDevice {
public:
    explicit ReturnedDevice(const Record& record) : record_(record) {}
    ReturnedDevice(const ReturnedDevice&) = delete;
    ReturnedDevice& operator=(const ReturnedDevice&) = delete;
    ~ReturnedDevice() {
        PlatformGlobal mode(record_.hDevMode);
        PlatformGlobal names(record_.hDevNames);
        if constexpr (std::is_same_v<Record, PRINTDLGA>) {
            PlatformDC dc(record_.hDC);
        }
    }

private:
    const Record& record_;
};

} // namespace

Flag ClsComdlg::ShowPrint() {
    const ComdlgPlatform& platform = CurrentComdlgPlatform();
    // Every value is checked before the dialog, so an error changes nothing.
    const WORD fromPage = Narrow(m_FromPage, "FromPage");
    const WORD toPage = Narrow(m_ToPage, "ToPage");
    const WORD minPage = Narrow(m_MinPage, "MinPage");
    const WORD maxPage = Narrow(m_MaxPage, "MaxPage");
    const WORD copies = Narrow(m_Copies, "Copies");

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

    const ReturnedDevice device(record);
    if (!platform.PrintDlgA(&record)) return kFalse;
    m_Copies = Widen(record.nCopies);
    m_FromPage = Widen(record.nFromPage);
    m_ToPage = Widen(record.nToPage);
    m_MinPage = Widen(record.nMinPage);
    m_MaxPage = Widen(record.nMaxPage);
    return kTrue;
}

Flag ClsComdlg::ShowPageSetup() {
    const ComdlgPlatform& platform = CurrentComdlgPlatform();
    PAGESETUPDLGA record{};
    record.lStructSize = sizeof record;
    record.hwndOwner = platform.GetForegroundWindow();
    record.hInstance = AsInstance(m_Instance);

    const ReturnedDevice device(record);
    if (!platform.PageSetupDlgA(&record)) return kFalse;
    m_PaperWidth = record.ptPaperSize.x;
    m_PaperHeight = record.ptPaperSize.y;
    m_MarginLeft = record.rtMargin.left;
    m_MarginTop = record.rtMargin.top;
    m_MarginRight = record.rtMargin.right;
    m_MarginBottom = record.rtMargin.bottom;
    return kTrue;
}

} // namespace vandrel
