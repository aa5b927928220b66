#include "comdlg/ClsComdlg.h"

#include <algorithm>
#include <utility>

namespace vandrel {

std::wstring ClsComdlg::Filter() const {
    return m_Filter.value_or(std::wstring());
}

// The file dialogs want descriptions and patterns NUL-separated; the NUL
// that ends every text at the platform boundary closes the list.
void ClsComdlg::Filter(std::wstring vNewValue) {
    std::replace(vNewValue.begin(), vNewValue.end(), L'|', L'\0');
    vNewValue.push_back(L'\0');
    m_Filter = std::move(vNewValue);
}

std::int32_t ClsComdlg::flags() const {
    return m_flags;
}
void ClsComdlg::flags(std::int32_t vNewValue) {
    m_flags = vNewValue;
}

std::wstring ClsComdlg::DialogTitle() const {
    return m_DialogTitle.value_or(std::wstring());
}
void ClsComdlg::DialogTitle(std::wstring vNewValue) {
    m_DialogTitle = std::move(vNewValue);
}

std::wstring ClsComdlg::InitDir() const {
    return m_InitDir.value_or(std::wstring());
}
void ClsComdlg::InitDir(std::wstring vNewValue) {
    m_InitDir = std::move(vNewValue);
}

std::wstring ClsComdlg::FileTitle() const {
    return m_FileTitle.value_or(std::wstring());
}
void ClsComdlg::FileTitle(std::wstring vNewValue) {
    m_FileTitle = std::move(vNewValue);
}

std::wstring ClsComdlg::FileName() const {
    return m_FileName.value_or(std::wstring());
}
void ClsComdlg::FileName(std::wstring vNewValue) {
    m_FileName = std::move(vNewValue);
}

std::int32_t ClsComdlg::hWnd() const {
    return m_hWnd;
}
void ClsComdlg::hWnd(std::int32_t vNewValue) {
    m_hWnd = vNewValue;
}

std::int32_t ClsComdlg::Instance() const {
    return m_Instance;
}
void ClsComdlg::Instance(std::int32_t vNewValue) {
    m_Instance = vNewValue;
}

std::int32_t ClsComdlg::Copies() const {
    return m_Copies;
}
void ClsComdlg::Copies(std::int32_t vNewValue) {
    m_Copies = vNewValue;
}

std::int32_t ClsComdlg::FromPage() const {
    return m_FromPage;
}
void ClsComdlg::FromPage(std::int32_t vNewValue) {
    m_FromPage = vNewValue;
}

std::int32_t ClsComdlg::ToPage() const {
    return m_ToPage;
}
void ClsComdlg::ToPage(std::int32_t vNewValue) {
    m_ToPage = vNewValue;
}

std::int32_t ClsComdlg::MaxPage() const {
    return m_MaxPage;
}
void ClsComdlg::MaxPage(std::int32_t vNewValue) {
    m_MaxPage = vNewValue;
}

std::int32_t ClsComdlg::MinPage() const {
    return m_MinPage;
}
void ClsComdlg::MinPage(std::int32_t vNewValue) {
    m_MinPage = vNewValue;
}

std::int32_t ClsComdlg::Color() const {
    return m_Color;
}
void ClsComdlg::Color(std::int32_t vNewValue) {
    m_Color = vNewValue;
}

std::wstring ClsComdlg::FontName() const {
    return m_FontName.value_or(std::wstring());
}
void ClsComdlg::FontName(std::wstring vNewValue) {
    m_FontName = std::move(vNewValue);
}

std::int32_t ClsComdlg::FontColor() const {
    return m_FontColor;
}
void ClsComdlg::FontColor(std::int32_t vNewValue) {
    m_FontColor = vNewValue;
}

std::int32_t ClsComdlg::FontSize() const {
    return m_FontSize;
}
void ClsComdlg::FontSize(std::int32_t vNewValue) {
    m_FontSize = vNewValue;
}

std::int32_t ClsComdlg::CharSet() const {
    return m_CharSet;
}
void ClsComdlg::CharSet(std::int32_t vNewValue) {
    m_CharSet = vNewValue;
}

Flag ClsComdlg::Italic() const {
    return m_Italic;
}
void ClsComdlg::Italic(Flag vNewValue) {
    m_Italic = vNewValue;
}

Flag ClsComdlg::StrikeOut() const {
    return m_StrikeOut;
}
void ClsComdlg::StrikeOut(Flag vNewValue) {
    m_StrikeOut = vNewValue;
}

Flag ClsComdlg::Underline() const {
    return m_Underline;
}
void ClsComdlg::Underline(Flag vNewValue) {
    m_Underline = vNewValue;
}

Flag ClsComdlg::FontBlob() const {
    return m_FontBlob;
}
void ClsComdlg::FontBlob(Flag vNewValue) {
    m_FontBlob = vNewValue;
}

std::int32_t ClsComdlg::PaperWidth() const {
    return m_PaperWidth;
}
void ClsComdlg::PaperWidth(std::int32_t vNewValue) {
    m_PaperWidth = vNewValue;
}

std::int32_t ClsComdlg::PaperHeight() const {
    return m_PaperHeight;
}
void ClsComdlg::PaperHeight(std::int32_t vNewValue) {
    m_PaperHeight = vNewValue;
}

std::int32_t ClsComdlg::MarginLeft() const {
    return m_MarginLeft;
}
void ClsComdlg::MarginLeft(std::int32_t vNewValue) {
    m_MarginLeft = vNewValue;
}

std::int32_t ClsComdlg::MarginTop() const {
    return m_MarginTop;
}
void ClsComdlg::MarginTop(std::int32_t vNewValue) {
    m_MarginTop = vNewValue;
}

std::int32_t ClsComdlg::MarginRight() const {
    return m_MarginRight;
}
void ClsComdlg::MarginRight(std::int32_t vNewValue) {
    m_MarginRight = vNewValue;
}

std::int32_t ClsComdlg::MarginBottom() const {
    return m_MarginBottom;
}
void ClsComdlg::MarginBottom(std::int32_t vNewValue) {
    m_MarginBottom = vNewValue;
}

} // namespace vandrel
