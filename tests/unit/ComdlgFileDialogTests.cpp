// The file dialogs against a fake platform: the record they fill, the ANSI
// buffers, and how the chosen name is read back.
#include "ComdlgFake.h"
#include "comdlg/ClsComdlg.h"

#include <gtest/gtest.h>

#include <string>

namespace vandrel::test {
namespace {

using namespace std::string_literals;

const std::string kBlank = std::string(255, ' ') + '\0';

class ComdlgFileDialog : public ComdlgFakeTest {
protected:
    // The platform's answer: bytes written over the start of each buffer.
    void Answer(std::string file, std::string title = "") {
        world.onFile = [file, title](OPENFILENAMEA& record) {
            file.copy(record.lpstrFile, file.size());
            title.copy(record.lpstrFileTitle, title.size());
        };
    }
};

TEST_F(ComdlgFileDialog, NewObjectFillsTheRecord) {
    ClsComdlg dialog;
    world.confirm = FALSE;
    EXPECT_EQ(dialog.ShowOpen(), kFalse);

    const OPENFILENAMEA& r = world.file;
    EXPECT_EQ(r.lStructSize, k64 ? 136u : 76u);
    EXPECT_EQ(r.hwndOwner, world.foreground);
    EXPECT_EQ(r.hInstance, nullptr);
    EXPECT_FALSE(world.filter) << "a filter never set goes as a null pointer";
    EXPECT_EQ(r.lpstrCustomFilter, nullptr);
    EXPECT_EQ(r.nMaxCustFilter, 0u);
    EXPECT_EQ(r.nFilterIndex, 0u);
    EXPECT_EQ(world.fileBuffer, kBlank + '\0');
    EXPECT_EQ(r.nMaxFile, 256u);
    EXPECT_EQ(world.titleBuffer, kBlank + '\0');
    EXPECT_EQ(r.nMaxFileTitle, 256u);
    EXPECT_FALSE(world.initDir);
    EXPECT_FALSE(world.title);
    EXPECT_EQ(r.Flags, 0u);
    EXPECT_EQ(r.nFileOffset, 0);
    EXPECT_EQ(r.nFileExtension, 0);
    EXPECT_EQ(r.lpstrDefExt, nullptr);
    EXPECT_EQ(r.lCustData, 0);
    EXPECT_EQ(r.lpfnHook, nullptr);
    EXPECT_EQ(r.lpTemplateName, nullptr);
    EXPECT_EQ(r.pvReserved, nullptr);
    EXPECT_EQ(r.dwReserved, 0u);
    EXPECT_EQ(r.FlagsEx, 0u);
    EXPECT_TRUE(world.Before(Call::Foreground, Call::Open));
    EXPECT_EQ(world.Count(Call::Save), 0u);
}

TEST_F(ComdlgFileDialog, ConfiguredObjectFillsTheRecord) {
    ClsComdlg dialog;
    dialog.Instance(-2);
    dialog.hWnd(0x777);
    dialog.Filter(L"类型库|*.tlb");
    dialog.InitDir(L"");
    dialog.DialogTitle(L"请选择一个文件");
    dialog.flags(-1);
    dialog.FileName(L"C:\\not shown.tlb");
    dialog.FileTitle(L"not shown.tlb");
    world.confirm = FALSE;
    dialog.ShowSave();

    const OPENFILENAMEA& r = world.file;
    EXPECT_EQ(world.Count(Call::Save), 1u);
    EXPECT_EQ(world.Count(Call::Open), 0u);
    EXPECT_EQ(r.hwndOwner, world.foreground) << "hWnd plays no part";
    EXPECT_EQ(r.hInstance, reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(-2)));
    EXPECT_EQ(world.filter, Ansi(L"类型库\0*.tlb\0\0"s));
    EXPECT_EQ(world.initDir, "") << "set to empty is present";
    EXPECT_EQ(world.title, Ansi(L"请选择一个文件"));
    EXPECT_EQ(r.Flags, 0xFFFFFFFFu) << "no bit of its own added or taken away";
    EXPECT_EQ(world.fileBuffer, kBlank + '\0') << "FileName never reaches the dialog";
    EXPECT_EQ(world.titleBuffer, kBlank + '\0');
    EXPECT_EQ(r.lStructSize, k64 ? 136u : 76u);
}

TEST_F(ComdlgFileDialog, SingleFileGivesPathAndTitle) {
    Answer("C:\\dir\\a b.tlb"s + '\0', "a b.tlb"s + '\0');
    ClsComdlg dialog;
    EXPECT_EQ(dialog.ShowOpen(), kTrue);
    EXPECT_EQ(dialog.FileName(), L"C:\\dir\\a b.tlb");
    EXPECT_EQ(dialog.FileTitle(), L"a b.tlb");
}

TEST_F(ComdlgFileDialog, ReadsTheShapesOfAMultiSelection) {
    struct Case {
        std::string answer;
        std::wstring fileName;
    };
    const Case cases[] = {
        // NUL-separated: the list up to its closing pair.
        {"C:\\dir\0a.tlb\0b.tlb\0\0"s, L"C:\\dir\0a.tlb\0b.tlb"s},
        // Space-separated, one closing NUL.
        {"C:\\dir a.tlb b.tlb\0"s, L"C:\\dir a.tlb b.tlb"},
        // A name starting with a space ends the list in front of it.
        {"C:\\dir\0a.tlb\0 b.tlb\0\0"s, L"C:\\dir\0a.tlb"s},
        // Nothing chosen at all.
        {"\0"s, L""},
    };
    for (const Case& c : cases) {
        Answer(c.answer);
        ClsComdlg dialog;
        EXPECT_EQ(dialog.ShowOpen(), kTrue);
        EXPECT_EQ(dialog.FileName(), c.fileName);
        EXPECT_EQ(dialog.FileTitle(), std::wstring(255, L' ')) << "title buffer left untouched";
    }
}

TEST_F(ComdlgFileDialog, NameFillingTheBufferToItsEndEnds) {
    Answer(std::string(255, 'a') + '\0', std::string(255, 'b') + '\0');
    ClsComdlg dialog;
    EXPECT_EQ(dialog.ShowOpen(), kTrue);
    EXPECT_EQ(dialog.FileName(), std::wstring(255, L'a'));
    EXPECT_EQ(dialog.FileTitle(), std::wstring(255, L'b'));

    // A list whose closing pair is the buffer's last two bytes.
    std::string list = "C:\\d"s + '\0' + std::string(249, 'x') + '\0' + '\0';
    ASSERT_EQ(list.size(), 256u);
    Answer(list);
    EXPECT_EQ(dialog.ShowOpen(), kTrue);
    EXPECT_EQ(dialog.FileName(), L"C:\\d\0"s + std::wstring(249, L'x'));
}

TEST_F(ComdlgFileDialog, DoubleByteNamesComeBackWhole) {
    if (::GetACP() != 936) GTEST_SKIP() << "needs the Chinese ANSI code page 936";
    // 中文 and 件名 in code page 936.
    Answer("C:\\\xD6\xD0\xCE\xC4\\\xBC\xFE\xC3\xFB.tlb\0"s, "\xBC\xFE\xC3\xFB.tlb\0"s);
    ClsComdlg dialog;
    EXPECT_EQ(dialog.ShowOpen(), kTrue);
    EXPECT_EQ(dialog.FileName(), L"C:\\中文\\件名.tlb");
    EXPECT_EQ(dialog.FileTitle(), L"件名.tlb");

    // 127 double-byte characters, one more byte and the NUL fill the buffer;
    // back in wide text it is only 129 characters long.
    std::string full;
    for (int i = 0; i < 127; ++i)
        full += "\xD6\xD0";
    full += "a"s + '\0';
    ASSERT_EQ(full.size(), 256u);
    Answer(full, full);
    EXPECT_EQ(dialog.ShowOpen(), kTrue);
    EXPECT_EQ(dialog.FileName(), std::wstring(127, L'中') + L"a");
    EXPECT_EQ(dialog.FileTitle(), std::wstring(127, L'中') + L"a");
}

TEST_F(ComdlgFileDialog, TextsGoOutInTheAnsiCodePage) {
    if (::GetACP() != 936) GTEST_SKIP() << "needs the Chinese ANSI code page 936";
    ClsComdlg dialog;
    dialog.Filter(L"类型库(*.tlb)|*.tlb");
    dialog.InitDir(L"C:\\目录");
    dialog.DialogTitle(L"标题");
    world.confirm = FALSE;
    dialog.ShowOpen();
    EXPECT_EQ(world.filter, "\xC0\xE0\xD0\xCD\xBF\xE2(*.tlb)\0*.tlb\0\0"s);
    EXPECT_EQ(world.initDir, "C:\\\xC4\xBF\xC2\xBC");
    EXPECT_EQ(world.title, "\xB1\xEA\xCC\xE2");
}

TEST_F(ComdlgFileDialog, CancelLeavesTheOutcomesAsTheyWere) {
    Answer("C:\\written anyway.tlb\0"s, "written anyway.tlb\0"s);
    world.confirm = FALSE;
    ClsComdlg fresh;
    EXPECT_EQ(fresh.ShowOpen(), kFalse);
    EXPECT_EQ(fresh.FileName(), L"");
    EXPECT_EQ(fresh.FileTitle(), L"");

    ClsComdlg used;
    used.FileName(L"C:\\kept.tlb");
    used.FileTitle(L"kept.tlb");
    EXPECT_EQ(used.ShowSave(), kFalse);
    EXPECT_EQ(used.FileName(), L"C:\\kept.tlb");
    EXPECT_EQ(used.FileTitle(), L"kept.tlb");
}

TEST_F(ComdlgFileDialog, SecondConfirmedCallOverwritesBoth) {
    ClsComdlg dialog;
    Answer("C:\\first.tlb\0"s, "first.tlb\0"s);
    dialog.ShowOpen();
    Answer("D:\\second.tlb\0"s, "second.tlb\0"s);
    EXPECT_EQ(dialog.ShowSave(), kTrue);
    EXPECT_EQ(dialog.FileName(), L"D:\\second.tlb");
    EXPECT_EQ(dialog.FileTitle(), L"second.tlb");
}

} // namespace
} // namespace vandrel::test
