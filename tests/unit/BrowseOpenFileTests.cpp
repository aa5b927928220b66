// Browsing for a file: the filter, flags and title the dialog gets, the
// result, and the release of everything when an error passes through.
#include "ComdlgFake.h"
#include "shell/BrowseOpenFile.h"

#include <gtest/gtest.h>

#include <malloc.h>
#include <string>

namespace vandrel::test {
namespace {

using namespace std::string_literals;

// The blocks in use on the heap that operator new draws from: nothing a
// browse made may outlive it, also when an error cuts it short.
long BlocksInUse() {
    _HEAPINFO entry{};
    long count = 0;
    while (_heapwalk(&entry) == _HEAPOK)
        count += entry._useflag == _USEDENTRY;
    return count;
}

class BrowseOpenFileTest : public ComdlgFakeTest {
protected:
    std::wstring SentFilter() const {
        if (!world.filter) return L"(null)";
        const std::string& bytes = *world.filter;
        const int size = static_cast<int>(bytes.size());
        std::wstring text(static_cast<std::size_t>(size), L'\0');
        text.resize(static_cast<std::size_t>(
            ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, text.data(), size)));
        return text;
    }
};

TEST_F(BrowseOpenFileTest, TypeLibraryBrowseOffersTwoFileTypes) {
    world.confirm = FALSE;
    EXPECT_EQ(BrowseForTypeLibrary(), L"");
    EXPECT_EQ(SentFilter(), L"TypeLib文件(*.tlb)\0*.tlb;*.TLB\0所有文件(*.*)\0*.*\0\0"s);
    EXPECT_EQ(world.file.Flags, DWORD{OFN_EXPLORER | OFN_PATHMUSTEXIST});
    EXPECT_EQ(world.title, Ansi(L"请选择一个文件"));
    EXPECT_FALSE(world.initDir) << "no initial folder";
    EXPECT_EQ(world.file.hInstance, nullptr);
    EXPECT_EQ(world.file.nFilterIndex, 0u);
    EXPECT_EQ(world.file.hwndOwner, world.foreground);
}

TEST_F(BrowseOpenFileTest, AllFilesEntryAlwaysComesLast) {
    world.confirm = FALSE;
    const Flag single = kFalse;
    BrowseOpenFile(L"t", single, L"");
    EXPECT_EQ(SentFilter(), L"所有文件(*.*)\0*.*\0\0"s);
    BrowseOpenFile(L"t", single, L"A|*.a|");
    EXPECT_EQ(SentFilter(), L"A\0*.a\0所有文件(*.*)\0*.*\0\0"s) << "the bar is not doubled";
    BrowseOpenFile(L"t", single, L"A|*.a");
    EXPECT_EQ(SentFilter(), L"A\0*.a\0所有文件(*.*)\0*.*\0\0"s);
}

TEST_F(BrowseOpenFileTest, AnyNonZeroMultiSelectAllowsSeveralFiles) {
    world.confirm = FALSE;
    for (Flag multiSelect : {Flag{1}, Flag{-1}, Flag{2}, Flag{-32768}}) {
        BrowseOpenFile(L"t", multiSelect, L"A|*.a");
        EXPECT_EQ(world.file.Flags, DWORD{OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_ALLOWMULTISELECT})
            << multiSelect;
    }
    const Flag none = 0;
    BrowseOpenFile(L"t", none, L"A|*.a");
    EXPECT_EQ(world.file.Flags, DWORD{OFN_EXPLORER | OFN_PATHMUSTEXIST});
}

TEST_F(BrowseOpenFileTest, ReturnsTheChosenPathOrNothing) {
    world.onFile = [](OPENFILENAMEA& r) {
        const std::string answer = "C:\\dir\\x.tlb"s + '\0';
        answer.copy(r.lpstrFile, answer.size());
    };
    EXPECT_EQ(BrowseForTypeLibrary(), L"C:\\dir\\x.tlb");
    world.confirm = FALSE;
    EXPECT_EQ(BrowseForTypeLibrary(), L"") << "cancelled: the written buffer is not read";
}

TEST_F(BrowseOpenFileTest, ErrorPassesThroughAndLeavesNothingBehind) {
    world.throwInDialog = true;
    auto browse = [] {
        try {
            const Flag multiSelect = kTrue;
            BrowseOpenFile(std::wstring(300, L't'), multiSelect, std::wstring(300, L'f'));
        } catch (const DialogBroke&) {
            return true;
        }
        return false;
    };
    // The first exception a process throws leaves the runtime's own caches
    // behind; the second must leave nothing.
    EXPECT_TRUE(browse()) << "the dialog's own error reaches the caller";
    const long before = BlocksInUse();
    EXPECT_TRUE(browse());
    EXPECT_EQ(BlocksInUse(), before) << "the object or a text it made outlived the call";
}

} // namespace
} // namespace vandrel::test
