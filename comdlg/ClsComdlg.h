// A reusable wrapper of the platform's common dialogs: the caller sets the
// properties one dialog needs, calls a show method and reads the outcome back
// from properties.
#pragma once

#include "common/Error.h"
#include "common/Flag.h"

#include <cstdint>
#include <optional>
#include <string>

namespace vandrel {

// A page or copy value that does not fit the print record's 16-bit fields;
// the text names the property.
class ComdlgOverflowError : public Error {
public:
    using Error::Error;
};

inline constexpr char kComdlgUnavailableText[] = "无法加载通用对话框库";
inline constexpr char kNoPrinterText[] = "没有默认打印机,无法列出其字体";
inline constexpr char kNoFontBlockText[] = "无法分配字体内存块";
inline constexpr char kTextTooLongText[] = "文本过长,无法转换";
// The common-dialog library or one of its entries could not be had.
using ComdlgUnavailableError = FixedError<kComdlgUnavailableText>;
// The font dialog needs the default printer's device context.
using NoPrinterError = FixedError<kNoPrinterText>;
// The font dialog's block of global memory could not be had or locked.
using FontBlockError = FixedError<kNoFontBlockText>;
// A text too long for the conversion to the ANSI code page.
using TextTooLongError = FixedError<kTextTooLongText>;

// Each property is a get directly followed by its let. Lets store what they
// are given unchanged (only `Filter` converts); show methods return -1 when
// the user confirmed the dialog, else 0, and write outcomes only then. Errors
// (overflow, no printer, exhausted memory) pass to the caller as exceptions.
class ClsComdlg {
public:
    Flag ShowOpen();
    // Held in NUL-separated form: every "|" becomes NUL and one NUL follows.
    std::wstring Filter() const;
    void Filter(std::wstring vNewValue);
    std::int32_t flags() const;
    void flags(std::int32_t vNewValue);
    std::wstring DialogTitle() const;
    void DialogTitle(std::wstring vNewValue);
    std::wstring InitDir() const;
    void InitDir(std::wstring vNewValue);
    std::wstring FileTitle() const;
    void FileTitle(std::wstring vNewValue);
    std::wstring FileName() const;
    void FileName(std::wstring vNewValue);
    // Stored only; dialogs are owned by the foreground window instead.
    std::int32_t hWnd() const;
    void hWnd(std::int32_t vNewValue);
    std::int32_t Instance() const;
    void Instance(std::int32_t vNewValue);
    Flag ShowSave();
    // Throws ComdlgOverflowError, before any dialog, for a page or copy value
    // outside -32768..32767.
    Flag ShowPrint();
    std::int32_t Copies() const;
    void Copies(std::int32_t vNewValue);
    std::int32_t FromPage() const;
    void FromPage(std::int32_t vNewValue);
    std::int32_t ToPage() const;
    void ToPage(std::int32_t vNewValue);
    std::int32_t MaxPage() const;
    void MaxPage(std::int32_t vNewValue);
    std::int32_t MinPage() const;
    void MinPage(std::int32_t vNewValue);
    Flag ShowColor();
    std::int32_t Color() const;
    void Color(std::int32_t vNewValue);
    // Throws NoPrinterError when the default printer's device context cannot
    // be had; FontBlockError when the font block cannot be made.
    Flag ShowFont();
    std::wstring FontName() const;
    void FontName(std::wstring vNewValue);
    std::int32_t FontColor() const;
    void FontColor(std::int32_t vNewValue);
    std::int32_t FontSize() const;
    void FontSize(std::int32_t vNewValue);
    std::int32_t CharSet() const;
    void CharSet(std::int32_t vNewValue);
    Flag Italic() const;
    void Italic(Flag vNewValue);
    Flag StrikeOut() const;
    void StrikeOut(Flag vNewValue);
    Flag Underline() const;
    void Underline(Flag vNewValue);
    // The chosen font is bold.
    Flag FontBlob() const;
    void FontBlob(Flag vNewValue);
    // Shows nothing; always 0.
    Flag ShowFind();
    // Asks for a replace dialog without text buffers, which the platform
    // refuses; 0 unless a window came back.
    Flag ShowReplace();
    Flag ShowPageSetup();
    std::int32_t PaperWidth() const;
    void PaperWidth(std::int32_t vNewValue);
    std::int32_t PaperHeight() const;
    void PaperHeight(std::int32_t vNewValue);
    std::int32_t MarginLeft() const;
    void MarginLeft(std::int32_t vNewValue);
    std::int32_t MarginTop() const;
    void MarginTop(std::int32_t vNewValue);
    std::int32_t MarginRight() const;
    void MarginRight(std::int32_t vNewValue);
    std::int32_t MarginBottom() const;
    void MarginBottom(std::int32_t vNewValue);

private:
    // A text never set is absent: it reads back empty and reaches the
    // platform as a null pointer, unlike a text set to empty.
    using Text = std::optional<std::wstring>;

    Flag ShowFileDialog(bool save);

    std::int32_t m_hWnd = 0;
    std::int32_t m_Instance = 0;
    Text m_FileName;
    Text m_FileTitle;
    Text m_InitDir;
    Text m_DialogTitle;
    Text m_Filter;
    std::int32_t m_flags = 0;
    std::int32_t m_Copies = 0;
    std::int32_t m_FromPage = 0;
    std::int32_t m_ToPage = 0;
    std::int32_t m_MaxPage = 0;
    std::int32_t m_MinPage = 0;
    std::int32_t m_Color = 0;
    Text m_FontName;
    std::int32_t m_FontColor = 0;
    std::int32_t m_FontSize = 0;
    std::int32_t m_CharSet = 0;
    Flag m_Italic = kFalse;
    Flag m_StrikeOut = kFalse;
    Flag m_Underline = kFalse;
    Flag m_FontBlob = kFalse;
    std::int32_t m_PaperWidth = 0;
    std::int32_t m_PaperHeight = 0;
    std::int32_t m_MarginLeft = 0;
    std::int32_t m_MarginTop = 0;
    std::int32_t m_MarginRight = 0;
    std::int32_t m_MarginBottom = 0;
};

} // namespace vandrel
