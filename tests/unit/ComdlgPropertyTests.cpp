// The dialog object's stored values: initial state, plain storage and the
// filter conversion.
#include "comdlg/ClsComdlg.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace vandrel {
namespace {

using namespace std::string_literals;

TEST(ComdlgProperties, NewObjectIsEmptyAndZero) {
    const ClsComdlg dialog;
    for (std::int32_t value :
         {dialog.flags(), dialog.hWnd(), dialog.Instance(), dialog.Copies(), dialog.FromPage(),
          dialog.ToPage(), dialog.MaxPage(), dialog.MinPage(), dialog.Color(), dialog.FontColor(),
          dialog.FontSize(), dialog.CharSet(), dialog.PaperWidth(), dialog.PaperHeight(),
          dialog.MarginLeft(), dialog.MarginTop(), dialog.MarginRight(), dialog.MarginBottom()})
        EXPECT_EQ(value, 0);
    for (Flag value : {dialog.Italic(), dialog.StrikeOut(), dialog.Underline(), dialog.FontBlob()})
        EXPECT_EQ(value, kFalse);
    for (const std::wstring& text : {dialog.Filter(), dialog.DialogTitle(), dialog.InitDir(),
                                     dialog.FileTitle(), dialog.FileName(), dialog.FontName()})
        EXPECT_EQ(text, L"");
}

TEST(ComdlgProperties, NumbersAreStoredUnchanged) {
    using Get = std::int32_t (ClsComdlg::*)() const;
    using Let = void (ClsComdlg::*)(std::int32_t);
    struct Property {
        const char* name;
        Get get;
        Let let;
    };
    const Property properties[] = {
        {"flags", &ClsComdlg::flags, &ClsComdlg::flags},
        {"hWnd", &ClsComdlg::hWnd, &ClsComdlg::hWnd},
        {"Instance", &ClsComdlg::Instance, &ClsComdlg::Instance},
        {"Copies", &ClsComdlg::Copies, &ClsComdlg::Copies},
        {"FromPage", &ClsComdlg::FromPage, &ClsComdlg::FromPage},
        {"ToPage", &ClsComdlg::ToPage, &ClsComdlg::ToPage},
        {"MaxPage", &ClsComdlg::MaxPage, &ClsComdlg::MaxPage},
        {"MinPage", &ClsComdlg::MinPage, &ClsComdlg::MinPage},
        {"Color", &ClsComdlg::Color, &ClsComdlg::Color},
        {"FontColor", &ClsComdlg::FontColor, &ClsComdlg::FontColor},
        {"FontSize", &ClsComdlg::FontSize, &ClsComdlg::FontSize},
        {"CharSet", &ClsComdlg::CharSet, &ClsComdlg::CharSet},
        {"PaperWidth", &ClsComdlg::PaperWidth, &ClsComdlg::PaperWidth},
        {"PaperHeight", &ClsComdlg::PaperHeight, &ClsComdlg::PaperHeight},
        {"MarginLeft", &ClsComdlg::MarginLeft, &ClsComdlg::MarginLeft},
        {"MarginTop", &ClsComdlg::MarginTop, &ClsComdlg::MarginTop},
        {"MarginRight", &ClsComdlg::MarginRight, &ClsComdlg::MarginRight},
        {"MarginBottom", &ClsComdlg::MarginBottom, &ClsComdlg::MarginBottom},
    };
    // Each property gets its own value, so a let writing the wrong slot shows.
    ClsComdlg dialog;
    std::int32_t value = std::numeric_limits<std::int32_t>::min();
    for (const Property& p : properties)
        (dialog.*p.let)(value++);
    value = std::numeric_limits<std::int32_t>::min();
    for (const Property& p : properties)
        EXPECT_EQ((dialog.*p.get)(), value++) << p.name;

    // No validation: values a dialog could not take are kept all the same.
    ClsComdlg other;
    other.Copies(40000);
    other.CharSet(-1);
    other.hWnd(std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(other.Copies(), 40000);
    EXPECT_EQ(other.CharSet(), -1);
    EXPECT_EQ(other.hWnd(), std::numeric_limits<std::int32_t>::max());
    // The 16-bit Booleans keep any value, not only 0 and -1.
    other.Italic(1);
    other.StrikeOut(std::numeric_limits<Flag>::min());
    other.FontBlob(0x7FFF);
    EXPECT_EQ(other.Italic(), 1);
    EXPECT_EQ(other.StrikeOut(), std::numeric_limits<Flag>::min());
    EXPECT_EQ(other.Underline(), kFalse);
    EXPECT_EQ(other.FontBlob(), 0x7FFF);
}

TEST(ComdlgProperties, TextsAreCopiesAndKeepEveryCharacter) {
    ClsComdlg dialog;
    std::wstring title = L"标题|with\0NUL"s;
    dialog.DialogTitle(title);
    title[0] = L'X';
    EXPECT_EQ(dialog.DialogTitle(), L"标题|with\0NUL"s);

    dialog.InitDir(L"C:\\目录");
    dialog.FileTitle(L"a.tlb");
    dialog.FileName(L"C:\\a.tlb");
    dialog.FontName(L"宋体");
    EXPECT_EQ(dialog.InitDir(), L"C:\\目录");
    EXPECT_EQ(dialog.FileTitle(), L"a.tlb");
    EXPECT_EQ(dialog.FileName(), L"C:\\a.tlb");
    EXPECT_EQ(dialog.FontName(), L"宋体");

    dialog.FileName(L"");
    EXPECT_EQ(dialog.FileName(), L"");
}

TEST(ComdlgProperties, FilterIsHeldNulSeparated) {
    ClsComdlg dialog;
    dialog.Filter(L"|");
    EXPECT_EQ(dialog.Filter(), L"\0\0"s);
    dialog.Filter(L"");
    EXPECT_EQ(dialog.Filter(), L"\0"s);
    dialog.Filter(L"no bars");
    EXPECT_EQ(dialog.Filter(), L"no bars\0"s);
    dialog.Filter(L"类型库(*.tlb)|*.tlb;*.TLB|所有文件(*.*)|*.*");
    EXPECT_EQ(dialog.Filter(), L"类型库(*.tlb)\0*.tlb;*.TLB\0所有文件(*.*)\0*.*\0"s);
    dialog.Filter(L"||a||");
    EXPECT_EQ(dialog.Filter(), L"\0\0a\0\0\0"s);
    // Only the vertical bar is a separator; look-alikes stay.
    dialog.Filter(L"a｜b¦c");
    EXPECT_EQ(dialog.Filter(), L"a｜b¦c\0"s);
}

TEST(ComdlgProperties, FilterReadBackGainsOneNulEachRoundTrip) {
    ClsComdlg dialog;
    dialog.Filter(L"A|*.a");
    dialog.Filter(dialog.Filter());
    EXPECT_EQ(dialog.Filter(), L"A\0*.a\0\0"s);
    dialog.Filter(dialog.Filter());
    EXPECT_EQ(dialog.Filter(), L"A\0*.a\0\0\0"s);
}

} // namespace
} // namespace vandrel
