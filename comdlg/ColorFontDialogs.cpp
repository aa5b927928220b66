// The colour and font dialogs.
#include "comdlg/ClsComdlg.h"

#include "comdlg/AnsiText.h"
#include "comdlg/ComdlgPlatform.h"

#include <cmath>
#include <cstring>

namespace vandrel {
namespace {

constexpr int kCustomColors = 16;

// What every font dialog opens on, whatever the font properties hold.
LOGFONTA StartingFont() {
    LOGFONTA font{};
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfPitchAndFamily = FF_ROMAN;
    static const char kFace[] = "Times New Roman";
    static_assert(sizeof kFace <= sizeof font.lfFaceName);
    std::memcpy(font.lfFaceName, kFace, sizeof kFace);
    return font;
}

constexpr DWORD kFontFlags =
    CF_BOTH | CF_INITTOLOGFONTSTRUCT | CF_EFFECTS | CF_LIMITSIZE | CF_FORCEFONTEXIST; // 0x12143
static_assert(kFontFlags == 0x12143);

// Tenths of a point to whole points, halves to the even neighbour.
std::int32_t WholePoints(INT tenths) {
    return static_cast<std::int32_t>(std::nearbyint(tenths / 10.0));
}

// The face name ends at its first NUL, or with the field when it has none.
std::wstring FaceName(const LOGFONTA& font) {
    const void* nul = std::memchr(font.lfFaceName, '\0', sizeof font.lfFaceName);
    const std::size_t length =
        nul ? static_cast<const char*>(nul) - font.lfFaceName : sizeof font.lfFaceName;
    return FromAnsi(font.lfFaceName, length);
}

} // namespace

Flag ClsComdlg::ShowColor() {
    const ComdlgPlatform& platform = *ComdlgSeam();
    COLORREF customColors[kCustomColors] = {};
    CHOOSECOLORA record{};
    record.lStructSize = sizeof record;
    record.hwndOwner = platform.GetForegroundWindow();
    record.hInstance = reinterpret_cast<HWND>(AsInstance(m_Instance));
    record.lpCustColors = customColors;

    if (!platform.ChooseColorA(&record)) return kFalse;
    m_Color = static_cast<std::int32_t>(record.rgbResult);
    return kTrue;
}

Flag ClsComdlg::ShowFont() {
    const ComdlgPlatform& platform = *ComdlgSeam();
    LOGFONTA font = StartingFont();
    // The block stays locked while the dialog is open; both owners give it
    // back on every way out, the unlock first.
    const PlatformGlobal block(platform.GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof font));
    if (!block) throw FontBlockError();
    void* const address = platform.GlobalLock(block.get());
    if (!address) throw FontBlockError();
    const PlatformLocked locked(block.get());
    std::memcpy(address, &font, sizeof font);

    CHOOSEFONTA record{};
    record.lStructSize = sizeof record;
    record.hwndOwner = platform.GetForegroundWindow();
    // Fetched at each call, so the list follows the current default printer.
    const PlatformDC printer(platform.CreatePrinterDC());
    if (!printer) throw NoPrinterError();
    record.hDC = printer.get();
    record.lpLogFont = static_cast<LOGFONTA*>(address);
    record.iPointSize = 120;
    record.Flags = kFontFlags;
    record.rgbColors = 0;
    record.nFontType = REGULAR_FONTTYPE;
    record.nSizeMin = 1;
    record.nSizeMax = 72;

    if (!platform.ChooseFontA(&record)) return kFalse;
    std::memcpy(&font, address, sizeof font);
    std::wstring faceName = FaceName(font);
    m_FontName = std::move(faceName);
    m_FontColor = static_cast<std::int32_t>(record.rgbColors);
    m_FontSize = WholePoints(record.iPointSize);
    m_CharSet = font.lfCharSet;
    m_Italic = ToFlag(font.lfItalic == 255);
    m_StrikeOut = ToFlag(font.lfStrikeOut == 1);
    m_Underline = ToFlag(font.lfUnderline == 1);
    m_FontBlob = ToFlag(font.lfWeight >= FW_BOLD);
    return kTrue;
}

} // namespace vandrel
